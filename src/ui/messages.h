//===- messages.h - The fixed texts and the keys of the script's texts ------===//
//
// Every text an installer run shows comes from the package script's language
// section; only these few are fixed.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace qd::messages {

// Keys of the language section's texts: the progress dialog's, then the
// restart question that may follow it.
inline constexpr std::string_view HeadingKey = "Msg02";          // the heading, before the title
inline constexpr std::string_view UnpackingKey = "Msg03";        // status while the files are unpacked
inline constexpr std::string_view RunningSetupKey = "Msg04";     // status while the setup program runs
inline constexpr std::string_view InstalledKey = "Msg05";        // status at the end of a first installation
inline constexpr std::string_view PressNextKey = "Msg06";        // status at the start
inline constexpr std::string_view BackCaptionKey = "Msg07";      // the Back button
inline constexpr std::string_view FinishCaptionKey = "Msg08";    // Next once the work is done: it closes the dialog
inline constexpr std::string_view NextCaptionKey = "Msg09";      // the Next button at the start
inline constexpr std::string_view CancelCaptionKey = "Msg10";    // the Cancel button
inline constexpr std::string_view InstallIntroKey = "Msg11";     // introduction to a first installation
inline constexpr std::string_view RestartQuestionKey = "Msg12";  // whether to restart now (Yes/No)
inline constexpr std::string_view UpdatedKey = "Msg13";          // status at the end of an upgrade
inline constexpr std::string_view UpgradeIntroKey = "Msg14";     // introduction to an upgrade

// Every text key of the language section, in order.
inline constexpr std::array<std::string_view, 13> TextKeys = {
    HeadingKey,       UnpackingKey,   RunningSetupKey,  InstalledKey,       PressNextKey, BackCaptionKey,
    FinishCaptionKey, NextCaptionKey, CancelCaptionKey, InstallIntroKey,    RestartQuestionKey, UpdatedKey,
    UpgradeIntroKey};

// Language section used when the script names none.
inline constexpr std::string_view DefaultLanguage = "ENU";
// The key of the text for an error number: "Err%02d".
std::string ErrorKey(int errorNumber);

inline constexpr std::string_view HelpCaption = "Qd Engine Update Help";
inline constexpr std::string_view HelpText =
    "\nValid Command line options:\n\n"
    "  QdEngineUpdate /h [silent install]\n"
    "  QdEngineUpdate [UI Install]\n";

// The native build's usage, for "--help" and for a run that holds no package.
inline constexpr std::string_view ToolUsage =
    "usage: qdpack /m SCRIPT        build the package that the packing list SCRIPT describes\n"
    "       qdpack /?               show the help box\n"
    "       qdpack --help | --version\n"
    "A package's installer runs when qdpack is started under the package's name:\n"
    "       bash -c 'exec -a \"$0\" qdpack [/h] [SWITCH...]' PACKAGE.exe\n"
    "(as root; /h installs silently).\n";

// Caption of the box that shows why an item's stream could not be decoded.
inline constexpr std::string_view DecoderResultCaption = "Value of uiRep";

inline constexpr std::string_view FallbackErrorText = "Unable to find SetupQd.ini file.  Exiting.";
// Caption of the fallback box: "Error Code: %i (%s)\n" with the error number
// and the script path, cut to fit a 260-character buffer.
std::string FallbackCaption(int errorNumber, std::optional<std::string_view> scriptPath);

}  // namespace qd::messages
