//===- installer_support.h - Packages to install, and what an install left ---===//
//
// What the installer's end-to-end tests share between the native build and
// the 64-bit Windows build under wine: packages composed item by item (as
// the builder writes them, so that a test can also give the installer
// scripts and damage the builder would never produce), a run of the
// package's installer in a scratch tree (silently, or through the dialog
// with the user's answers: keys on the native build's terminal, button
// presses under wine), and what the run showed and left behind.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "e2e/builder_support.h"
#include "pe/pe_image.h"
#include "support/driver_output.h"
#include "support/item_name_cases.h"
#include "support/in_process.h"

namespace qd::test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

enum class Installer { Native, Wine };

// What is done to a package after it has been composed.
enum class Damage {
  None,
  Checksum,  // a byte of the last item changes, the checksum stays
  Stream,    // the first file's stream loses its last bytes, the checksum is made right
  Cut,       // the file ends inside the last item, the checksum is made right
  NoDialog,  // the stub's dialog template 101 is renamed 102, the checksum is made right
};

inline constexpr std::string_view DefaultCommands = "[CMD]\r\nFileName=setup.exe\r\nTitle=Qd Engine Setup\r\nLANG=ENU\r\n";
// The texts of the language section; each error's begins with "Error".
inline constexpr std::string_view DefaultTexts =
    "[ENU]\r\n"
    "Msg02=Welcome to\r\nMsg03=Unpacking the files...\r\nMsg04=Running the setup program...\r\n"
    "Msg05=The Qd Engine has been installed.\r\nMsg06=Press Next to install the Qd Engine.\r\n"
    "Msg07=< &Back\r\nMsg08=Finish\r\nMsg09=&Next >\r\nMsg10=&Cancel\r\n"
    "Msg11=This wizard installs the Qd Engine.\r\n"
    "Msg12=The computer must be restarted. Restart now?\r\n"
    "Msg13=The Qd Engine has been updated.\r\nMsg14=This wizard updates the Qd Engine.\r\n"
    "Err02=Error: the package is damaged.\r\nErr03=Error: a file could not be read or written.\r\n"
    "Err04=Error: the installer is not properly configured.\r\nErr05=Error: the package data is damaged.\r\n"
    "Err07=Error: the setup program failed.\r\nErr08=Error: no temporary files.\r\n"
    "Err09=Error: you must be an administrator.\r\n";

// What the user does in a run with the dialog, in turn.
enum class Answer { Next, Cancel, Yes, No };

struct InstallCase {
  const char* behaviour;
  // The [Files] values; each is packed as one item, in order. Its content
  // follows from its source: the example engine.dll, the setup program,
  // made-up bytes of a given size, or a few lines of text.
  std::vector<std::string> entries = {"engine.dll,build\\engine.dll", "setup.exe,build\\setup.exe"};
  std::string moreFiles;  // further [Files] lines that are not packed
  std::string out = "[Out]\r\nOutputName=Update%s.exe\r\n";
  std::string commands{DefaultCommands};
  std::string texts{DefaultTexts};
  std::vector<std::string> args = {"/h"};  // without "/h": a run with the dialog
  bool glued = false;  // Windows: the first argument follows the quoted package path with no blank
  std::vector<Answer> answers;             // the user's, in a run with the dialog
  std::string keys;                        // the native build's: further keys, after the answers'
  // The native build's, on a terminal of its own instead of a pipe: the
  // keys typed, each once the output shows what they answer; the answers
  // and keys above are not used then. Its locale (LC_ALL), when named.
  std::vector<TerminalTurn> terminal;
  std::string locale;
  // The setup program says "The setup program waits." and waits while
  // "setup_hold" is in its directory (the native build's).
  bool setupWaits = false;
  bool componentPresent = false;           // "qd.dll" lies in the system directory
  int setupExit = 0;
  Damage damage = Damage::None;
  // Natively, run as a user who is no administrator (setpriv); wine has no
  // such user.
  bool administrator = true;

  // What the run must give: its exit code, the names left in its work
  // directory (none: the directory is gone), and what the setup program got
  // after its own name (empty: it did not run).
  int exitCode = 0;
  std::optional<std::vector<std::string>> left;
  std::string setupArgs;
  std::vector<std::string> shown;   // texts the run shows
  std::vector<std::string> hidden;  // texts it does not show
  // When given, the run keeps a log ("/log=" in a folder whose name holds a
  // switch; natively in quotes, which must not hide the package's own
  // file), whose events must begin with these texts, in this order; the
  // last is the whole last event.
  std::vector<std::string> logged;
};

struct InstallResult {
  int exitCode = 0;       // the full exit code: 194 from the native build is 3010, 255 is -1
  std::string report;     // what the run showed: standard error, or the driver's report
  std::optional<fs::path> workDirectory;
  std::vector<std::string> left;  // sorted
  std::string setupArgs;
  bool terminalSane = true;  // a run on a terminal left it reading lines with echo
  std::string log;           // the run's log, as it was written
};

// Renames the dialog template 101 of the PE image at the start of `image` to
// 102, in its resource directory (type RT_DIALOG, 5), so that the dialog
// cannot be found. The image is ours: its offsets are trusted.
inline void RenameDialogTemplate(Bytes& image) {
  const auto u16 = [&image](std::size_t at) { return *pe::LoadU16(image, at); };
  const auto u32 = [&image](std::size_t at) { return *pe::LoadU32(image, at); };
  const std::size_t headers = u32(pe::PeOffsetField);
  const std::size_t optional = headers + 24;
  const bool plus = u16(optional) == pe::Pe32PlusMagic;
  const std::uint32_t resourceRva = u32(optional + (plus ? 112 : 96) + 2 * 8);
  // The section that holds the resources, for the file offset of an address.
  std::size_t section = optional + u16(headers + 20);
  for (std::size_t i = 0; i < u16(headers + 6); ++i, section += 40) {
    const std::uint32_t address = u32(section + 12), size = u32(section + 8);
    if (resourceRva < address || resourceRva >= address + size) continue;
    const std::size_t root = resourceRva - address + u32(section + 20);
    // A directory: 16 bytes, then entries of 8: an id, and the offset of
    // what it names from the root (a directory when the high bit is set).
    const auto entry = [&](std::size_t directory, std::uint32_t id) -> std::size_t {
      const std::size_t count = u16(directory + 12) + u16(directory + 14);
      for (std::size_t e = directory + 16; e < directory + 16 + 8 * count; e += 8)
        if (u32(e) == id) return e;
      return 0;
    };
    const std::size_t dialogs = root + (u32(entry(root, 5) + 4) & 0x7FFFFFFF);
    const std::size_t name = entry(dialogs, 101);
    image[name] = 102;
    return;
  }
}

inline Bytes Compressed(const Bytes& input) {
  Bytes stream(input.size() + input.size() / 5 + 16);
  const std::int32_t n = CompressToMemory(stream.data(), static_cast<std::uint32_t>(stream.size()), input.data(),
                                          static_cast<std::uint32_t>(input.size()));
  stream.resize(static_cast<std::size_t>(std::max(n, 0)));
  return stream;
}

// Writes the right image checksum into the package's headers (the system's
// stamping refuses 64-bit images).
inline void SealChecksum(Bytes& package) {
  std::uint32_t stored = 0;
  const std::uint32_t sum = ImageChecksum(package, stored);
  std::size_t header = 0;
  for (std::size_t i = 0; i < 4; ++i) header |= std::size_t{package[60 + i]} << (8 * i);
  for (std::size_t i = 0; i < 4; ++i) package[header + 88 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
}

struct PackedItem {
  Bytes content;
  std::uint64_t time = 0;
};

// stub, marker, one item per content (script first), tail, sealed.
inline Bytes ComposePackage(const Bytes& stub, const std::vector<PackedItem>& items) {
  Bytes package = stub;
  package.insert(package.end(), MarkerText.begin(), MarkerText.end());
  for (const PackedItem& item : items) {
    const Bytes stream = Compressed(item.content);
    package.insert(package.end(), stream.begin(), stream.end());
    package.insert(package.end(), MarkerText.begin(), MarkerText.end());
    for (std::size_t i = 0; i < 8; ++i) package.push_back(static_cast<std::uint8_t>(item.time >> (8 * i)));
  }
  package.resize((package.size() + 3) / 4 * 4 + 4, 0);
  SealChecksum(package);
  return package;
}

// A scratch tree for one install: the package, the directory the installer
// runs in (where the setup program writes what it got), and the temporary
// directory in which the installer makes its work directory.
class InstallTree {
 public:
  explicit InstallTree(Installer installer) : installer_(installer) {
    fs::create_directories(dir_ / "run");
    fs::create_directories(dir_ / "tmp");
    fs::create_directories(Log().parent_path());
  }
  fs::path Package() const { return dir_ / "Update.exe"; }
  fs::path RunDirectory() const { return dir_ / "run"; }
  fs::path Temporary() const { return dir_ / "tmp"; }
  fs::path Log() const { return dir_ / "log-install/qd.log"; }
  // How the wine driver runs this tree's package: from its run directory,
  // with its temporary directory, and `more` in the environment.
  DriveOptions WineRun(std::vector<std::string> more = {}) const {
    DriveOptions options;
    options.run.workingDirectory = RunDirectory().string();
    options.environment = {"TMP=" + WinePath(Temporary().string()), "TEMP=" + WinePath(Temporary().string())};
    options.environment.insert(options.environment.end(), more.begin(), more.end());
    return options;
  }
  // A path as the installer sees it: under wine, the Windows path.
  std::string Seen(const fs::path& path) const {
    return installer_ == Installer::Native ? path.string() : WinePath(path.string());
  }

  // The bytes packed for a list entry's source; "sized\\N" is N bytes of
  // mixed made-up content.
  Bytes ContentOf(const std::string& entry) const {
    const std::string source = entry.substr(entry.rfind(',') + 1);
    if (source == "build\\engine.dll") return ReadAll(EngineSource());
    if (source == "build\\setup.exe") return SetupProgram();
    if (source.starts_with("sized\\")) return corpus::Mixed(std::stoul(source.substr(6)), 1);
    const std::string text = "The file " + source + " of the test package.\r\n";
    return {text.begin(), text.end()};
  }

  // Composes the case's package; returns the items' time stamps, script first.
  std::vector<PackedItem> Compose(const InstallCase& c) const {
    std::string script = "[In]\r\nQdFileName=QdPack.exe\r\n" + c.out + "[Files]\r\n";
    for (std::size_t i = 0; i < c.entries.size(); ++i)
      script += "File" + std::string(i < 9 ? "0" : "") + std::to_string(i + 1) + "=" + c.entries[i] + "\r\n";
    script += c.moreFiles + c.commands + c.texts;
    std::vector<PackedItem> items{{Bytes(script.begin(), script.end()), TimeOfItem(0)}};
    for (std::size_t i = 0; i < c.entries.size(); ++i) items.push_back({ContentOf(c.entries[i]), TimeOfItem(i + 1)});
    Bytes package = ComposePackage(ReadAll(Stub()), items);
    Break(package, c.damage);
    WriteAll(Package(), package);
    return items;
  }

  InstallResult Install(const InstallCase& c) const {
    WriteText(RunDirectory() / "setup_exit.txt", std::to_string(c.setupExit));
    fs::remove(RunDirectory() / "setup_args.txt");
    std::vector<std::string> args = c.args;
    if (!c.logged.empty())
      args.push_back(installer_ == Installer::Native ? "/log=\"" + Seen(Log()) + "\"" : "/log=" + Seen(Log()));
    InstallResult result;
    if (installer_ == Installer::Native) {
      // The native build's system directory is $SystemRoot/system32: the tree's own.
      if (c.componentPresent) {
        fs::create_directories(dir_ / "system/system32");
        WriteText(dir_ / "system/system32/qd.dll", "engine");
      }
      RunOptions options;
      options.workingDirectory = RunDirectory().string();
      options.environment = {"TMPDIR=" + Temporary().string(), "SystemRoot=" + (dir_ / "system").string()};
      if (!c.locale.empty()) options.environment.push_back("LC_ALL=" + c.locale);
      options.argv0 = Package().string();
      if (c.setupWaits) WriteText(RunDirectory() / "setup_hold", "");
      RunResult run;
      if (!c.administrator) {
        // Nobody's, in a tree everyone may use.
        for (const fs::path& path : {dir_.path(), Temporary(), RunDirectory(), Log().parent_path()})
          fs::permissions(path, fs::perms::all);
        fs::permissions(Package(), fs::perms::owner_all | fs::perms::others_read);
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/bash", "-c",
                                   "exec -a \"$0\" " QDPACK_NATIVE_EXE " \"$@\"", Package().string()});
        options.argv0.clear();
        run = Run(QDPACK_TOOL_SETPRIV, args, options);
      } else if (c.terminal.empty()) {
        for (Answer answer : c.answers) options.input += KeysFor(answer);
        options.input += c.keys;
        run = Run(QDPACK_NATIVE_EXE, args, options);
      } else {
        std::vector<TerminalTurn> turns = c.terminal;
        for (TerminalTurn& turn : turns)
          if (!turn.remove.empty()) turn.remove = (RunDirectory() / turn.remove).string();
        const TerminalRunResult onTerminal = RunOnTerminal(QDPACK_NATIVE_EXE, args, options, turns);
        run = onTerminal.run;
        run.err = run.out;
        result.terminalSane = onTerminal.terminalSane;
      }
      result.exitCode = run.exitCode == 194 ? 3010 : run.exitCode == 255 ? -1 : run.exitCode;
      result.report = run.err;
    } else {
      // The prefix's system directory; wine tests run one at a time.
      const fs::path component = fs::path(QDPACK_WINEPREFIX) / "drive_c/windows/system32/qd.dll";
      if (c.componentPresent) WriteText(component, "engine");
      DriveOptions options = WineRun();
      for (Answer answer : c.answers) options.presses.push_back(ButtonFor(answer));
      options.glue = c.glued;
      const DriverOutput out = Drive(Package().string(), args, options);
      fs::remove(component);
      result.exitCode = out.exitCode.value_or(-999);
      result.report = out.raw;
      // A driver that could not tell how the run ended says why.
      if (!out.exitCode)
        for (const std::string& error : out.errors) result.report += "\n" + error;
    }
    result.workDirectory = WorkDirectory();
    result.left = Left().value_or(std::vector<std::string>{});
    if (fs::exists(Log())) result.log = ReadText(Log());
    if (fs::exists(RunDirectory() / "setup_args.txt")) {
      const std::string line = ReadText(RunDirectory() / "setup_args.txt");
      const std::size_t name = line.find("setup.exe");
      result.setupArgs = name == std::string::npos ? line : line.substr(name + 10);
      while (!result.setupArgs.empty() && std::isspace(static_cast<unsigned char>(result.setupArgs.back())))
        result.setupArgs.pop_back();
    }
    return result;
  }

  // The native installer in this process, as start-up runs it for the package
  // started with `args`: its temporary and current directories are the tree's.
  InProcessResult InstallInProcess(const std::vector<std::string>& args = {"/h"}, std::string input = {}) const {
    return RunInProcess(args, {.argv0 = Package().string(),
                               .workingDirectory = RunDirectory(),
                               .environment = {"TMPDIR=" + Temporary().string(), "SystemRoot=" + (dir_ / "system").string()},
                               .input = std::move(input)});
  }

  // The terminal's keys and the buttons under wine (IDYES, IDNO) for each Answer.
  static std::string KeysFor(Answer answer) { return std::array{"\n", "\x1b", "y\n", "n\n"}[Index(answer)]; }
  static int ButtonFor(Answer answer) { return std::array{1, 2, 6, 7}[Index(answer)]; }
  static std::size_t Index(Answer answer) { return static_cast<std::size_t>(answer); }

  // The work directory a run made in the temporary directory, if it stayed.
  std::optional<fs::path> WorkDirectory() const {
    for (const auto& entry : fs::directory_iterator(Temporary())) return entry.path();
    return std::nullopt;
  }
  // The names left in it, sorted; nullopt when there is none.
  std::optional<std::vector<std::string>> Left() const {
    const auto work = WorkDirectory();
    if (!work) return std::nullopt;
    std::vector<std::string> left;
    for (const auto& file : fs::directory_iterator(*work)) left.push_back(file.path().filename().string());
    std::sort(left.begin(), left.end());
    return left;
  }

  static std::uint64_t TimeOfItem(std::size_t index) {
    return 132223104001234567u + index * 10000000u;  // 2020-01-01, a fraction of a second, then a second each
  }

 private:
  fs::path Stub() const {
    return installer_ == Installer::Native ? fs::path(StubSource()) : fs::path(QDPACK_WIN64_DIR) / "src/QdPack.exe";
  }

  // The setup program: a shell script natively, a Windows program under wine.
  // Both write what they got after their name to setup_args.txt and end with
  // the code in setup_exit.txt (natively 3010 as its low byte, 194); the
  // script also copies the files it was handed to handed/.
  Bytes SetupProgram() const {
    if (installer_ == Installer::Wine) return ReadAll(fs::path(QDPACK_WIN64_DIR) / "tests/wine/recording_setup.exe");
    const std::string script =
        "#!/bin/sh\nprintf '%s %s' \"$0\" \"$*\" > setup_args.txt\n"
        "mkdir -p handed && cp -p \"$(dirname \"$0\")\"/* handed/\n"
        "if [ -e setup_hold ]; then echo The setup program waits.; fi\n"
        "while [ -e setup_hold ]; do sleep 0.05; done\n"
        "code=$(cat setup_exit.txt)\n[ \"$code\" = 3010 ] && code=194\nexit $code\n";
    return {script.begin(), script.end()};
  }

  static void Break(Bytes& package, Damage damage) {
    if (damage == Damage::None) return;
    if (damage == Damage::NoDialog) {
      RenameDialogTemplate(package);
      SealChecksum(package);
      return;
    }
    const PackageView view = ReadPackageBytes(package);
    const PackageItem& last = view.items.back();
    switch (damage) {
      case Damage::None:
      case Damage::NoDialog: break;
      case Damage::Checksum: package[last.begin + 2] ^= 0x5A; return;
      case Damage::Stream: {
        // Without its last bytes the stream ends before its end code.
        const auto end = static_cast<std::ptrdiff_t>(view.items[1].end);
        package.erase(package.begin() + end - 3, package.begin() + end);
        break;
      }
      case Damage::Cut: package.resize((last.begin + last.end) / 2); break;
    }
    SealChecksum(package);
  }

  Installer installer_;
  ScratchDir dir_;
};

// The silent runs that both builds must end alike: every outcome of a run
// without the dialog, and every error the installer itself raises.
inline std::vector<InstallCase> SilentRunCases() {
  const std::vector<std::string> all = {"SetupQd.ini", "engine.dll", "setup.exe"};
  InstallCase hundred{.behaviour = "at most 99 files are unpacked; a File100 key is never read"};
  hundred.entries.resize(99);
  std::vector<std::string> left = {"SetupQd.ini", "engine.dll", "setup.exe"};
  for (std::size_t i = 2; i < 99; ++i) {
    const std::string name = std::string("f").append(std::to_string(i));
    hundred.entries[i] = name + ".txt," + name;
    left.push_back(name + ".txt");
  }
  std::sort(left.begin(), left.end());
  hundred.moreFiles = "File100=never.txt,never\r\n";
  hundred.setupExit = 7;
  hundred.exitCode = -1;
  hundred.left = left;
  hundred.setupArgs = "/NOSHARECOUNT";

  return {
      {.behaviour = "a setup program that returns 0 ends the run with 0, and nothing stays",
       .setupArgs = "/NOSHARECOUNT"},
      {.behaviour = "3010 ends the run with 3010, without a question, and nothing stays",
       .setupExit = 3010, .exitCode = 3010, .setupArgs = "/NOSHARECOUNT"},
      {.behaviour = "any other code ends the run with -1 and leaves the files",
       .setupExit = 7, .exitCode = -1, .left = all, .setupArgs = "/NOSHARECOUNT"},
      {.behaviour = "switches in any case and sign are passed on in upper case with a slash",
       .args = {"/h", "-install", "/qdhelponvista", "-StartService", "/VIOLATEVISTALOGO"},
       .setupArgs = "/QDHELPONVISTA /STARTSERVICE /VIOLATEVISTALOGO"},
      {.behaviour = "an uninstall switch wins over an install switch",
       .args = {"/h", "-UNINSTALL", "/INSTALL"}, .setupArgs = "/UNINSTALL"},
      {.behaviour = "a wrong checksum is error 2 before anything is written",
       .damage = Damage::Checksum, .exitCode = -1, .left = std::vector<std::string>{}},
      {.behaviour = "a stream that does not decode is error 5, after the box with the decoder's result",
       .damage = Damage::Stream, .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini", "engine.dll"},
       .shown = {"Value of uiRep"}},
      {.behaviour = "a package cut short is error 5",
       .damage = Damage::Cut, .exitCode = -1, .left = all},
      {.behaviour = "a destination outside the work directory is error 3, and nothing is unpacked",
       .entries = {"engine.dll,build\\engine.dll", "..\\escaped.txt,escaped"},
       .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini"}},
      {.behaviour = "a first file without a version is error 3 once all are unpacked",
       .entries = {"readme.txt,readme", "setup.exe,build\\setup.exe"},
       .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini", "readme.txt", "setup.exe"}},
      {.behaviour = "an entry without a comma is error 4",
       .entries = {"engine.dll,build\\engine.dll", "setup.exe"},
       .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini", "engine.dll"}},
      {.behaviour = "a script without an output name is error 4 once all are unpacked",
       .out = "", .exitCode = -1, .left = all},
      {.behaviour = "a script without a setup command is error 4 once all are unpacked",
       .commands = "[CMD]\r\nTitle=Qd Engine Setup\r\n", .exitCode = -1, .left = all},
      {.behaviour = "the list ends at a gap; names may hold commas",
       .entries = {"engine.dll,build\\engine.dll", "a,b.txt,first", "setup.exe,build\\setup.exe"},
       .moreFiles = "File05=never.txt,never\r\n", .setupExit = 7, .exitCode = -1,
       .left = std::vector<std::string>{"SetupQd.ini", "a,b.txt", "engine.dll", "setup.exe"},
       .setupArgs = "/NOSHARECOUNT"},
      {.behaviour = "a destination listed twice, in any case, with trailing dots, is error 3: nothing is unpacked",
       .entries = {"engine.dll,build\\engine.dll", "x.txt,first", "X.TXT.,second", "setup.exe,build\\setup.exe"},
       .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini"}},
      hundred,
  };
}

// The runs with the dialog that both builds must end alike: every row of the
// outcomes that a user's answers reach, but agreeing to a restart, which
// under wine would end the session.
inline std::vector<InstallCase> DialogRunCases() {
  const std::vector<std::string> all = {"SetupQd.ini", "engine.dll", "setup.exe"};
  const std::vector<std::string> script = {"SetupQd.ini"};
  std::string noFinish{DefaultTexts};
  for (std::string_view key : {"Msg08=Finish\r\n", "Msg09=&Next >\r\n"}) noFinish.erase(noFinish.find(key), key.size());
  std::string noQuestion{DefaultTexts};
  noQuestion.erase(noQuestion.find("Msg12="), noQuestion.find("Msg13=") - noQuestion.find("Msg12="));
  return {
      {.behaviour = "Next, then Finish: the setup program's 0 ends the run, and nothing stays",
       .args = {}, .answers = {Answer::Next, Answer::Next}, .setupArgs = "/NOSHARECOUNT",
       .shown = {"Welcome to Qd Engine Setup", "This wizard installs the Qd Engine.",
                 "The Qd Engine has been installed."},
       .hidden = {"updates", "updated", "Error", "Restart now?"}},
      {.behaviour = "with the engine installed already, the texts are the upgrade's",
       .args = {}, .answers = {Answer::Next, Answer::Next}, .componentPresent = true,
       .setupArgs = "/NOSHARECOUNT",
       .shown = {"This wizard updates the Qd Engine.", "The Qd Engine has been updated."},
       .hidden = {"installs", "installed"}},
      {.behaviour = "Cancel at the start ends the run with -1 and no message; the script stays",
       .args = {}, .answers = {Answer::Cancel}, .exitCode = -1, .left = script, .hidden = {"Error"}},
      {.behaviour = "a setup program that fails is error 7: -1, and the files stay",
       .args = {}, .answers = {Answer::Next}, .setupExit = 7, .exitCode = -1, .left = all,
       .setupArgs = "/NOSHARECOUNT", .shown = {"Error: the setup program failed."}},
      {.behaviour = "a restart put off ends with 3010 and leaves the files for it",
       .args = {}, .answers = {Answer::Next, Answer::Next, Answer::No}, .setupExit = 3010, .exitCode = 3010,
       .left = all, .setupArgs = "/NOSHARECOUNT", .shown = {"The computer must be restarted. Restart now?"}},
      {.behaviour = "without Msg12 the restart question reads @",
       .texts = noQuestion, .args = {}, .answers = {Answer::Next, Answer::Next, Answer::No},
       .setupExit = 3010, .exitCode = 3010, .left = all, .setupArgs = "/NOSHARECOUNT", .shown = {"@"}},
      {.behaviour = "with Msg09 and Msg08 both missing, Next still installs, and only then finishes",
       .texts = noFinish, .args = {}, .answers = {Answer::Next, Answer::Next}, .setupArgs = "/NOSHARECOUNT",
       .shown = {"The Qd Engine has been installed."}},
      {.behaviour = "a setup program outside the work directory is error 4, and nothing runs",
       .commands = "[CMD]\r\nFileName=..\\..\\run\\setup_exit.txt\r\nTitle=Qd Engine Setup\r\nLANG=ENU\r\n",
       .args = {}, .answers = {Answer::Next}, .exitCode = -1, .left = all,
       .shown = {"Error: the installer is not properly configured."}, .hidden = {"setup program failed"}},
      {.behaviour = "a setup program named like a device is error 4, and nothing runs",
       .commands = "[CMD]\r\nFileName=con.exe /q\r\nTitle=Qd Engine Setup\r\nLANG=ENU\r\n",
       .args = {}, .answers = {Answer::Next}, .exitCode = -1, .left = all,
       .shown = {"Error: the installer is not properly configured."}, .hidden = {"setup program failed"}},
      {.behaviour = "a script without a language is error 4 before the dialog shows, its text from ENU",
       .commands = "[CMD]\r\nFileName=setup.exe\r\nTitle=Qd Engine Setup\r\n", .args = {}, .exitCode = -1,
       .left = script, .shown = {"Error: the installer is not properly configured."}, .hidden = {"Welcome"}},
  };
}

// The runs that keep a log, that both builds must log alike: every end of
// a silent run, and of a run with the dialog. Each log tells the run's steps
// and ends with its outcome.
inline std::vector<InstallCase> LoggedRunCases() {
  // The steps up to the script's title, then `then`; in a run that goes on
  // to install, the rights, the files and the setup program between.
  const auto steps = [](std::string start, std::vector<std::string> then, bool installs = true) {
    std::vector<std::string> events = {std::move(start), "Own file: ", "Image checksum 0x", "Work directory: ",
                                       "Unpacked SetupQd.ini: ", "Title: Qd Engine Setup"};
    if (installs)
      events.insert(events.end(), {"Rights: an administrator", "Unpacked engine.dll: ", "Unpacked setup.exe: ",
                                   "Setup program: "});
    events.insert(events.end(), then.begin(), then.end());
    return events;
  };
  // The end of a run whose setup program ended with `code`, and that cleaned up.
  const auto cleaned = [](const std::string& code, const char* dialog = nullptr) {
    std::vector<std::string> events = {"Setup program ended with exit code " + code};
    if (dialog) events.push_back(dialog);
    events.insert(events.end(), {"Clean-up: 2 unpacked files removed, and the script", "Work directory removed",
                                 "End: exit code " + code});
    return events;
  };
  const std::string silent = "Start: silent install, arguments: /h";
  const std::string dialog = "Start: install with the dialog";
  const std::vector<std::string> all = {"SetupQd.ini", "engine.dll", "setup.exe"};
  return {
      {.behaviour = "success", .setupArgs = "/NOSHARECOUNT", .logged = steps(silent, cleaned("0"))},
      {.behaviour = "a restart asked for", .setupExit = 3010, .exitCode = 3010, .setupArgs = "/NOSHARECOUNT",
       .logged = steps(silent, cleaned("3010"))},
      {.behaviour = "a failing setup program", .setupExit = 7, .exitCode = -1, .left = all,
       .setupArgs = "/NOSHARECOUNT",
       .logged = steps(silent, {"Setup program ended with exit code 7",
                                "End: exit code -1, error 7: Error: the setup program failed."})},
      {.behaviour = "a damaged package", .damage = Damage::Checksum, .exitCode = -1,
       .left = std::vector<std::string>{},
       .logged = {silent, "Own file: ", "Image checksum: the package holds 0x",
                  "End: exit code -1, error 2: Unable to find SetupQd.ini file.  Exiting."}},
      {.behaviour = "no setup program", .commands = "[CMD]\r\nTitle=Qd Engine Setup\r\n", .exitCode = -1, .left = all,
       .logged = steps(silent, {"Rights: an administrator", "Unpacked engine.dll: ", "Unpacked setup.exe: ",
                                "Setup program: the script names none ([Cmd] FileName)",
                                "End: exit code -1, error 4: Error: the installer is not properly configured."},
                       false)},
      {.behaviour = "not an administrator", .administrator = false, .exitCode = -1,
       .left = std::vector<std::string>{"SetupQd.ini"},
       .logged = steps(silent, {"Rights: not an administrator",
                                "End: exit code -1, error 9: Error: you must be an administrator."}, false)},
      {.behaviour = "the dialog, finished", .args = {}, .answers = {Answer::Next, Answer::Next},
       .setupArgs = "/NOSHARECOUNT", .logged = steps(dialog, cleaned("0", "Dialog: finished"))},
      {.behaviour = "the dialog, cancelled", .args = {}, .answers = {Answer::Cancel}, .exitCode = -1,
       .left = std::vector<std::string>{"SetupQd.ini"},
       .logged = steps(dialog, {"Rights: an administrator", "Dialog: cancelled",
                                "End: exit code -1, error 6: cancelled, nothing is shown"}, false)},
  };
}

// Checks a run's log: each line a local time and an event, the case's
// events in order, the last one last; the own file's size, and each item's
// name, size and time stamp, as packed; the work directory where people
// find it, and the setup program in it.
inline void ExpectLog(const InstallCase& c, const InstallResult& run, const InstallTree& tree,
                      const std::vector<PackedItem>& items) {
  std::vector<std::string> events;
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  [^\r\n]*)");
  EXPECT_TRUE(run.log.ends_with("\r\n")) << run.log;
  for (std::size_t at = 0, end; (end = run.log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    events.push_back(run.log.substr(at, end - at));
    EXPECT_TRUE(std::regex_match(events.back(), stamped)) << events.back();
    events.back().erase(0, 25);
  }
  std::size_t matched = 0;
  std::string work;
  for (const std::string& event : events) {
    if (matched < c.logged.size() && event.starts_with(c.logged[matched])) ++matched;
    if (event.starts_with("Own file: ")) {
      EXPECT_TRUE(event.ends_with(", " + std::to_string(fs::file_size(tree.Package())) + " bytes")) << event;
    }
    if (event.starts_with("Work directory: ")) {
      work = event.substr(16);
      EXPECT_TRUE(work.starts_with(tree.Seen(tree.Temporary()))) << event;
    }
    if (event.starts_with("Setup program: ") && !c.setupArgs.empty()) {
      EXPECT_EQ(event, "Setup program: " + work + "setup.exe " + c.setupArgs);
    }
    if (!event.starts_with("Unpacked ")) continue;
    const std::string name = event.substr(9, event.find(": ") - 9);
    std::size_t item = 0;
    for (std::size_t i = 0; i < c.entries.size(); ++i)
      if (c.entries[i].starts_with(name + ",")) item = i + 1;
    EXPECT_EQ(event, "Unpacked " + name + ": " + std::to_string(items[item].content.size()) +
                         " bytes, time stamp 2020-01-01T00:00:0" + std::to_string(item) + "Z");
  }
  EXPECT_EQ(matched, c.logged.size()) << "not logged in turn: " << c.logged[std::min(matched, c.logged.size() - 1)]
                                      << "\n" << run.log;
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), c.logged.back());
}

// Checks a run against its case: exit code, setup arguments, what stayed in
// the work directory, and that every file left holds the last item packed
// under its name with that item's time stamp; and its log, when it keeps one.
inline void ExpectInstall(const InstallCase& c, const InstallResult& run, const InstallTree& tree,
                          const std::vector<PackedItem>& items) {
  SCOPED_TRACE(c.behaviour);
  if (!c.logged.empty()) ExpectLog(c, run, tree, items);
  EXPECT_EQ(run.exitCode, c.exitCode) << run.report;
  EXPECT_TRUE(run.terminalSane) << "the terminal was left without echo";
  EXPECT_EQ(run.setupArgs, c.setupArgs);
  for (const std::string& text : c.shown) EXPECT_NE(run.report.find(text), std::string::npos) << text << "\n" << run.report;
  for (const std::string& text : c.hidden) EXPECT_EQ(run.report.find(text), std::string::npos) << text << "\n" << run.report;
  if (!c.left) {
    EXPECT_FALSE(run.workDirectory) << "the work directory stays";
    return;
  }
  ASSERT_TRUE(run.workDirectory) << "the work directory is gone";
  EXPECT_EQ(run.left, *c.left);
  EXPECT_EQ(std::distance(fs::directory_iterator(tree.Temporary()), fs::directory_iterator()), 1)
      << "a file was written beside the work directory";
  if (c.damage != Damage::None) return;
  std::set<std::string> checked;
  for (std::size_t i = c.entries.size(); i-- > 0;) {
    const std::string name = c.entries[i].substr(0, c.entries[i].rfind(','));
    const fs::path file = *run.workDirectory / name;
    // A name the installer refuses is never unpacked: a file it reaches is
    // no item (the script, say).
    if (!IsPlainFileName(name) || !fs::is_regular_file(file) || !checked.insert(name).second) continue;
    EXPECT_TRUE(ReadAll(file) == items[i + 1].content) << name;
    EXPECT_EQ(FileTimeOf(file), items[i + 1].time) << name;
  }
}

// A name of the item-name rule's table as the second file of a package: a
// refused name stops the run with error 3 before anything is unpacked, an
// accepted one installs. (The work directory's path comes before a name and
// must fit too: the table's longest names are left to the rule's own test.)
inline std::optional<InstallCase> ItemNameInstall(const ItemNameCase& name) {
  if (name.name.size() > 100) return std::nullopt;
  InstallCase c{.behaviour = name.refusal ? "a refused name" : "an accepted name",
                .entries = {"first.dll,build\\engine.dll", name.name + ",notes", "setup.exe,build\\setup.exe"}};
  if (name.refusal) {
    c.exitCode = -1;
    c.left = std::vector<std::string>{"SetupQd.ini"};
  } else {
    c.setupArgs = "/NOSHARECOUNT";
  }
  return c;
}

// Installs each case's package in a tree of its own and checks the run.
inline void ExpectInstalls(Installer installer, const std::vector<InstallCase>& cases) {
  for (const InstallCase& c : cases) {
    InstallTree tree(installer);
    const auto items = tree.Compose(c);
    ExpectInstall(c, tree.Install(c), tree, items);
  }
}

}  // namespace qd::test
