//===- new.cpp - qdpkg new: a starter script, every text in English ---------===//
//
// The starter names the layout the README's example uses (the stub beside
// the script, the payload under build\, the package into out\), explains
// each section in comments, and holds every text of the language section,
// so that "qdpkg check" passes it once those files exist.
//
//===----------------------------------------------------------------------===//
#include <ostream>
#include <span>
#include <string>

#include "commands.h"
#include "package_file.h"
#include "ui/messages.h"
#include "outcome/outcome.h"

namespace qd::pkg {
namespace {

// The dialog's texts, in the order of messages::TextKeys.
constexpr std::string_view DialogTexts[] = {
    "Welcome to",
    "Unpacking the files...",
    "Running the setup program...",
    "The Qd Engine has been installed.",
    "Press Next to install the Qd Engine.",
    "< &Back",
    "Finish",
    "&Next >",
    "&Cancel",
    "This wizard installs the Qd Engine on your computer.",
    "The computer must be restarted to complete the installation. Restart now?",
    "The Qd Engine has been updated.",
    "This wizard updates the Qd Engine on your computer.",
};
static_assert(std::size(DialogTexts) == messages::TextKeys.size());

// The error texts, in the order of ShownErrors.
constexpr std::string_view ErrorTexts[] = {
    "The package is damaged. Please download it again.",
    "A file could not be read or written. Please try again.",
    "The installer is not properly configured. Please contact the vendor.",
    "The package data is damaged. Please download it again.",
    "The setup program failed.",
    "The temporary files could not be created. Please check your disk space.",
    "You must be an administrator to install the Qd Engine.",
};
static_assert(std::size(ErrorTexts) == std::size(ShownErrors));

constexpr std::string_view Head =
    "; A package script for QdPack, as qdpkg new writes it. Lines that begin\r\n"
    "; with \";\" are comments; section and key names may be in any case.\r\n"
    ";\r\n"
    "; Build the package from the folder that holds this script, where every\r\n"
    "; path below starts:  qdpack /m SCRIPT  (QdPack.exe /m SCRIPT on Windows).\r\n"
    "; Check it first:     qdpkg check SCRIPT\r\n"
    "\r\n"
    "; [In] QdFileName: the stub, the 32-bit QdPack.exe, which the builder puts\r\n"
    "; in front of the package; it is the installer when the package runs.\r\n"
    "[In]\r\n"
    "QdFileName = QdPack.exe\r\n"
    "\r\n"
    "; [Out] OutputName: the package's path. \"%s\" takes the version of the\r\n"
    "; first file below, 2.5.7.3 as 2_05_07d (the letter counts the fourth\r\n"
    "; number from a), so this names out\\Update2_05_07d.exe. The folder must\r\n"
    "; exist.\r\n"
    "[Out]\r\n"
    "OutputName = out\\Update%s.exe\r\n"
    "\r\n"
    "; [Files]: what the package carries, File01 to File99, two digits each and\r\n"
    "; no gap (the list ends at the first key missing). Each value is the\r\n"
    "; file's name in the package, a comma, and its source. The installer\r\n"
    "; unpacks every file under its name into a fresh folder of its own, so a\r\n"
    "; name is a plain file name: no folder part, no device name such as NUL,\r\n"
    "; none twice. File01 must have a version resource: it names the package.\r\n"
    "[Files]\r\n"
    "File01 = engine.dll, build\\engine.dll\r\n"
    "File02 = setup.exe, build\\setup.exe\r\n"
    "\r\n"
    "; [CMD]: FileName is the setup program the installer runs once the files\r\n"
    "; are unpacked, one of the names above (arguments may follow a blank);\r\n"
    "; its exit code 0 is success, 3010 success that needs a restart. Title\r\n"
    "; is the product's name in the dialog. LANG names the section of texts.\r\n"
    "[CMD]\r\n"
    "FileName = setup.exe\r\n"
    "Title = Qd Engine Setup\r\n"
    "LANG = ENU\r\n"
    "\r\n"
    "; [ENU]: every text a run shows. Msg02 is the heading before the title;\r\n"
    "; Msg03 and Msg04 the status while unpacking and while the setup program\r\n"
    "; runs; Msg05 and Msg13 the status at the end of a first installation and\r\n"
    "; of an update; Msg06 the status at the start; Msg07 to Msg10 the buttons\r\n"
    "; (Back, Finish, Next, Cancel); Msg11 and Msg14 the introduction to a\r\n"
    "; first installation and to an update; Msg12 the restart question. ErrNN\r\n"
    "; is the message for error NN (a cancel, 6, shows none).\r\n"
    "[ENU]\r\n";

}  // namespace

std::string StarterScript() {
  std::string script(Head);
  for (std::size_t i = 0; i < messages::TextKeys.size(); ++i)
    script += std::string(messages::TextKeys[i]) + " = " + std::string(DialogTexts[i]) + "\r\n";
  for (std::size_t i = 0; i < std::size(ShownErrors); ++i)
    script += messages::ErrorKey(ShownErrors[i]) + " = " + std::string(ErrorTexts[i]) + "\r\n";
  return script;
}

int New(std::string_view path, std::ostream& out, std::ostream& err) {
  const std::string shown = Shown(Printable(path));
  if (platform::PathExists(path)) {
    err << "qdpkg: " << shown << " exists already; it is left as it is\n";
    return 1;
  }
  const std::string script = StarterScript();
  platform::File file = platform::CreateAlways(path);
  const bool written =
      file.IsOpen() &&
      platform::WriteBytes(file, std::span(reinterpret_cast<const std::uint8_t*>(script.data()), script.size()));
  if (!file.Close() || !written) {
    err << "qdpkg: cannot write " << shown << '\n';
    // What was written of it is no script; a part that stays is named above.
    static_cast<void>(platform::RemoveFile(path));
    return 1;
  }
  out << "wrote " << shown << ": put QdPack.exe beside it, the files under build\\, make the folder out, "
      << "then run: qdpkg check " << shown << '\n';
  return 0;
}

}  // namespace qd::pkg
