//===- code_page.h - Narrow text as the Windows builds see it, on POSIX ----===//
//
// Only POSIX code here. The system's text (script values, paths, the command
// line) is narrow text in the platform's code page. On Windows that is the
// ANSI code page; the native build takes Windows-1252, the ANSI code page of
// the Windows systems the product runs on, so that a name holding bytes 0x80
// to 0xFF means the same file on both builds. The operating system below
// speaks UTF-8: every path leaves the platform layer through Utf8FromAnsi,
// and every name that comes from the system (the current directory, an
// argument) enters through AnsiFromUtf8. Unicode scripts are read and written
// through the UTF-16 helpers. What the dialog and the message boxes show
// on a terminal passes through DisplayText.
//
// Inside the platform layer Unicode text is held as UTF-8 that may also carry
// unpaired UTF-16 surrogates (three bytes each), so that a UTF-16 script with
// such a unit is written back as it was read, as Windows writes it back.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>
#include <string_view>

namespace qd::platform::posix {

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined stand
// for the control characters of the same value, as the Windows conversion has it.
std::string Utf8FromAnsi(std::string_view ansi);

// UTF-8 to Windows-1252. A character the code page lacks becomes "?", one for
// each UTF-16 unit it takes; a malformed byte becomes "?".
std::string AnsiFromUtf8(std::string_view utf8);

// UTF-16 in either byte order to UTF-8 (an odd last byte is dropped), and back.
std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian);
std::string Utf16FromUtf8(std::string_view utf8, bool bigEndian);

// UTF-8 with every malformed sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// Whether two UTF-8 names are equal without regard to the case of the
// letters the code page holds, as Windows compares file names.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

// Windows-1252 text as a terminal shows it, in the character set `codeset`
// (named as nl_langinfo names it): UTF-8, or another set the system can
// convert to, where a character the set lacks becomes "?"; ASCII for a set
// it cannot. Every control character but the line feed (escape sequences
// included, and the C1 controls of the code page's undefined bytes) becomes
// "?", so that no text can move the cursor or command the terminal.
std::string DisplayText(std::string_view ansi, std::string_view codeset);

// The character set of the locale that the environment names (LC_ALL,
// LC_CTYPE, LANG), as nl_langinfo names it; that of the C locale when the
// named locale is not installed.
std::string LocaleCodeset();

}  // namespace qd::platform::posix
