//===- code_page.h - Narrow text as the Windows builds see it ---------------===//
//
// The system's text (script values, paths, the command line) is narrow text
// in the platform's code page. On Windows that is the ANSI code page; the
// native build takes Windows-1252, the ANSI code page of the Windows systems
// the product runs on, so that a name holding bytes 0x80 to 0xFF means the
// same file on both builds. These are pure conversions, needing no operating
// system: the POSIX platform layer sends every path to the system through
// Utf8FromAnsi and takes every name from it through AnsiFromUtf8; Unicode
// scripts are read and written through the UTF-16 helpers; and portable code
// that judges names and script texts (what a Windows run would make of them)
// uses the same rules. (How a terminal shows such text is the POSIX
// platform's: posix/terminal_text.h.)
//
// Unicode text is held as UTF-8 that may also carry unpaired UTF-16
// surrogates (three bytes each), so that a UTF-16 script with such a unit is
// written back as it was read, as Windows writes it back.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>
#include <string_view>

namespace qd::text {

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined stand
// for the control characters of the same value, as the Windows conversion has it.
std::string Utf8FromAnsi(std::string_view ansi);

// UTF-8 to Windows-1252. A character the code page lacks becomes "?", one for
// each UTF-16 unit it takes; a malformed byte becomes "?".
std::string AnsiFromUtf8(std::string_view utf8);

// The character (code point) that a byte of the code page stands for, and
// a character appended to UTF-8 text: the pieces of the conversions, for a
// caller that shows text in yet another character set.
char32_t CharacterOf(unsigned char byte);
void AppendUtf8(char32_t c, std::string& utf8);

// UTF-16 in either byte order to UTF-8 (an odd last byte is dropped), and back.
std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian);
std::string Utf16FromUtf8(std::string_view utf8, bool bigEndian);

// UTF-8 with every malformed sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// A control character of the code page: C0, DEL, and the five bytes the
// code page leaves undefined, which stand for C1 control characters (a
// terminal may act on those as well).
constexpr bool IsControlCharacter(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F || byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 ||
         byte == 0x9D;
}

// Text in the code page (a name from a package or a script), safe to print:
// each control character becomes \xNN.
std::string Printable(std::string_view text);

// Whether two UTF-8 names are equal without regard to the case of the
// letters the code page holds, as Windows compares file names.
[[nodiscard]] bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

}  // namespace qd::text
