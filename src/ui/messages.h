//===- messages.h - The fixed texts and the keys of the script's texts ------===//
//
// Every text an installer run shows comes from the package script's language
// section; only these few are fixed.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>
#include <string_view>

namespace qd::messages {

// Keys of the language section's texts.
inline constexpr std::string_view RestartQuestionKey = "Msg12";

// Language section used when the script names none.
inline constexpr std::string_view DefaultLanguage = "ENU";
// The key of the text for an error number: "Err%02d".
std::string ErrorKey(int errorNumber);

inline constexpr std::string_view HelpCaption = "Qd Engine Update Help";
inline constexpr std::string_view HelpText =
    "\nValid Command line options:\n\n"
    "  QdEngineUpdate /h [silent install]\n"
    "  QdEngineUpdate [UI Install]\n";

// Caption of the box that shows why an item's stream could not be decoded.
inline constexpr std::string_view DecoderResultCaption = "Value of uiRep";

inline constexpr std::string_view FallbackErrorText = "Unable to find SetupQd.ini file.  Exiting.";
// Caption of the fallback box: "Error Code: %i (%s)\n" with the error number
// and the script path, cut to fit a 260-character buffer.
std::string FallbackCaption(int errorNumber, const char* scriptPath);

}  // namespace qd::messages
