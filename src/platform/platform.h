//===- platform.h - The operating system, in the system's own terms -------===//
//
// Everything outside src/platform/ calls the operating system only through
// these declarations. win32/ implements them with the real Windows calls;
// posix/ implements them from what the system expects of each call, so that
// the native build behaves like the product (see each group's comment).
//
// Paths are narrow strings in the platform's code page. On POSIX they are
// resolved as Windows resolves them (posix/native_path.h): a backslash is a
// directory separator too, "." and ".." are lexical, trailing dots and blanks
// fall away, names are found without regard to case, and the code page is
// Windows-1252 (text/code_page.h); so scripts written for Windows work
// unchanged on a Linux build server.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pe/pe_image.h"

namespace qd::platform {

// Text buffers of the system hold this many characters, terminator included:
// the platform's maximum path length. A value is at most MaxText characters.
inline constexpr std::size_t TextCapacity = 260;
inline constexpr std::size_t MaxText = TextCapacity - 1;

// The separator that this platform puts between a directory and a name.
#if defined(_WIN32)
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

// Whether RunOrdered may run work on other threads (see below): the Windows
// program does one item at a time, and leaves out work shaped for threads.
#if defined(_WIN32)
inline constexpr bool OrderedWorkOnThreads = false;
#else
inline constexpr bool OrderedWorkOnThreads = true;
#endif

//===----------------------------------------------------------------------===//
// Private-profile files (the package script)
//
// Sections and keys match without regard to case; blanks around keys and
// values are not part of them; a value is cut to MaxText characters.
//===----------------------------------------------------------------------===//

// The value of `key` in `section`, or `fallback` when the file, the section or
// the key is absent. A file that cannot be read counts as absent, as the
// system's own call has it.
[[nodiscard]] std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view fallback, std::string_view path);
// The values of several keys of one section, in order, each as
// ReadProfileString reads it; POSIX reads the file once for all of them.
[[nodiscard]] std::vector<std::string> ReadProfileStrings(std::string_view section, std::span<const std::string> keys,
                                                          std::string_view fallback, std::string_view path);

// Replaces the key's value in place, or appends the key to its section (and
// the section to the file); with no value the key is deleted. The file is
// rewritten whole or not at all.
[[nodiscard]] bool WriteProfileString(std::string_view section, std::string_view key,
                                      std::optional<std::string_view> value, std::string_view path);

//===----------------------------------------------------------------------===//
// Files
//===----------------------------------------------------------------------===//

// An open file; closes itself, and a close that the owner must know about is
// asked for with Close(). Move-only.
class File {
 public:
  File() = default;
  explicit File(std::intptr_t native) : native_(native) {}
  File(File&& other) noexcept : native_(other.Release()) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      static_cast<void>(Close());
      native_ = other.Release();
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  // Closing here is for files that were only read, or whose failure is being
  // reported already: its result is not needed.
  ~File() { static_cast<void>(Close()); }

  [[nodiscard]] bool IsOpen() const { return native_ != Invalid; }
  [[nodiscard]] std::intptr_t Native() const { return native_; }
  [[nodiscard]] std::intptr_t Release() {
    std::intptr_t native = native_;
    native_ = Invalid;
    return native;
  }
  // Closes the file; false when the platform reports that the close failed
  // (data written may then be lost). Closing a closed file succeeds.
  [[nodiscard]] bool Close();

  static constexpr std::intptr_t Invalid = -1;

 private:
  std::intptr_t native_ = Invalid;
};

// How a file is opened, and with whom it is shared while it is open: a file
// open for Update or Create cannot be opened again, nor deleted, until it is
// closed; a file open for Read can be opened again for Read only, one open
// for Append for Append only (other programs may read it meanwhile). POSIX
// keeps these rules between the files this process holds open, as Windows
// keeps them between all processes.
enum class OpenMode {
  Read,       // an existing file, for reading, shared with other readers
  Update,     // an existing file, for reading and writing, not shared
  Create,     // created, or emptied when it exists, for reading and writing, not shared
  CreateNew,  // created where no file of that name is, never through a link; as Create
  Append,     // an existing file, or created; every write goes to its end, shared with other appenders;
              // only a file on a disk (never a device or a pipe, which could hold the caller up)
};

// Who may write into a directory made by MakeDirectory.
enum class DirectoryAccess {
  Default,         // as the platform gives a new directory
  Administrators,  // only administrators and the system (POSIX: the owner alone)
};

[[nodiscard]] File Open(std::string_view path, OpenMode mode);
[[nodiscard]] inline File OpenForReading(std::string_view path) { return Open(path, OpenMode::Read); }
[[nodiscard]] inline File OpenForUpdate(std::string_view path) { return Open(path, OpenMode::Update); }
[[nodiscard]] inline File CreateAlways(std::string_view path) { return Open(path, OpenMode::Create); }

[[nodiscard]] std::optional<std::uint64_t> FileSize(File& file);
[[nodiscard]] bool SeekTo(File& file, std::uint64_t offset);
// Reads until `buffer` is full or the file ends; the count read, or -1 on failure.
[[nodiscard]] std::int64_t ReadBytes(File& file, std::span<std::uint8_t> buffer);
// Reads up to `buffer.size()` bytes at `offset`: the count read, fewer at
// the end of the file; nullopt when the file cannot be read there. The file's
// position afterwards is unspecified; several threads may read one file so
// at once.
[[nodiscard]] std::optional<std::size_t> ReadAt(File& file, std::uint64_t offset, std::span<std::uint8_t> buffer);
// Writes all of `data`; false when any of it could not be written.
[[nodiscard]] bool WriteBytes(File& file, std::span<const std::uint8_t> data);

// File times: 100-nanosecond intervals since 1 January 1601, UTC.
[[nodiscard]] std::optional<std::uint64_t> LastWriteTime(File& file);
// Sets creation (where the platform keeps one), last-access and last-write time.
[[nodiscard]] bool SetFileTimes(File& file, std::uint64_t fileTime);

[[nodiscard]] bool RemoveFile(std::string_view path);
// Gives the file at `from` the name `to`, in place of any file of that name.
// Both lie in one directory; the name changes at once or not at all.
[[nodiscard]] bool RenameFile(std::string_view from, std::string_view to);

// Who a file is, whatever it is called: every path that reaches the same file
// (in another case, through "..", through a link) gives the same identity.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
// nullopt when there is no file at `path`.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(std::string_view path);
[[nodiscard]] std::optional<FileIdentity> IdentityOf(File& file);
// Makes a directory; false when it cannot be made, also when the name exists.
[[nodiscard]] bool MakeDirectory(std::string_view path, DirectoryAccess access = DirectoryAccess::Default);

//===----------------------------------------------------------------------===//
// Paths and directories
//===----------------------------------------------------------------------===//

// True when a directory search for `path` finds an entry; wildcard characters
// in the last part of the path match as in a directory search.
[[nodiscard]] bool PathExists(std::string_view path);
[[nodiscard]] bool SetNormalAttributes(std::string_view path);
[[nodiscard]] bool RemoveEmptyDirectory(std::string_view path);

// The current directory, without a trailing separator.
[[nodiscard]] std::string CurrentDirectory();
// The temporary directory, ending with a separator; empty when there is none.
[[nodiscard]] std::string TemporaryDirectory();
// Creates an empty file with a free name made from `prefix` in `directory` and
// returns its path; empty on failure.
[[nodiscard]] std::string CreateTemporaryFile(std::string_view directory, std::string_view prefix);

// Text that the operating system gives the process (an argument, a path a
// user typed) in the platform's code page, and the platform's text in the
// system's (to show it). POSIX: the system speaks UTF-8 and the code page is
// Windows-1252, where a character it lacks becomes "?". Windows: both are
// the code page.
[[nodiscard]] std::string TextFromSystem(std::string_view systemText);
[[nodiscard]] std::string TextToSystem(std::string_view text);

//===----------------------------------------------------------------------===//
// The work directory
//
// An installer run unpacks into a fresh directory of its own in the
// temporary directory and, from the moment it is made, uses it only through
// a handle to it, so that whoever may write into the temporary directory
// cannot put another directory, or a link, in its place. POSIX: a name with
// about 50 random bits, mode 0700, owned by the process's user; its `path`
// reaches it through the handle (/proc/self/fd/N/), so every path made from
// it, for any call and for the setup program too, stays inside it. Windows:
// the name the system's temporary-file call gives, held open so that no one
// can rename or delete it while the run uses it.
//===----------------------------------------------------------------------===//

class WorkDirectory {
 public:
  WorkDirectory() = default;
  WorkDirectory(std::string path, std::string shown, std::intptr_t handle, std::intptr_t parent, std::string name)
      : path_(std::move(path)), shown_(std::move(shown)), handle_(handle), parent_(parent), name_(std::move(name)) {}
  WorkDirectory(WorkDirectory&& other) noexcept { *this = std::move(other); }
  WorkDirectory& operator=(WorkDirectory&& other) noexcept;
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;
  // Lets go of the directory; it stays where it is.
  ~WorkDirectory();

  // The directory's path, ending with the separator: a name appended to it
  // is a file in it.
  const std::string& Path() const { return path_; }
  // The path as people read it, in messages and logs.
  const std::string& Shown() const { return shown_; }
  std::intptr_t Handle() const { return handle_; }
  std::intptr_t Parent() const { return parent_; }
  const std::string& Name() const { return name_; }
  // Hands the handle over to whoever closes it (the platform, to remove the
  // directory); the object no longer holds it.
  [[nodiscard]] std::intptr_t TakeHandle() { return std::exchange(handle_, File::Invalid); }

 private:
  std::string path_;
  std::string shown_;
  std::intptr_t handle_ = File::Invalid;
  std::intptr_t parent_ = File::Invalid;
  std::string name_;
};

// A fresh work directory; nullopt when none can be made.
[[nodiscard]] std::optional<WorkDirectory> MakeWorkDirectory(DirectoryAccess access);
// Removes the work directory if it is empty and still stands where it was
// made; false otherwise.
[[nodiscard]] bool RemoveWorkDirectory(WorkDirectory& directory);
// A path as people read it: a path through a held handle (POSIX) becomes the
// path the handle's directory has now; any other path stays as it is.
[[nodiscard]] std::string ShownPath(std::string_view path);

//===----------------------------------------------------------------------===//
// The table of operations
//
// Every call of the builder and the installer that touches a file, a
// directory, a profile or another program goes through one table: the
// platform's own, or a double that a test puts in its place to fail a
// chosen call or cut a read short, so that every failure path of the builder
// and the installer runs in-process, and a fault can be swept over a whole
// run. Reads that cannot report a failure (a profile value, whether a path
// exists) are in it too, so that a double sees the whole run.
//===----------------------------------------------------------------------===//

// A program to start: the file, its whole command line as Windows hands it
// to the program, and the end of that line after the program's own name.
struct ProgramCommand {
  std::string program;
  std::string line;
  std::string arguments;
};

struct Operations {
  // Files, by the native handle File holds.
  std::intptr_t (*open)(std::string_view path, OpenMode mode);  // File::Invalid on failure
  std::int64_t (*read)(std::intptr_t file, std::span<std::uint8_t> buffer);  // as ReadBytes
  // As read, from `offset` on, whatever the file's position; afterwards the
  // position is unspecified. Threads may read one file this way at once.
  std::int64_t (*readAt)(std::intptr_t file, std::uint64_t offset, std::span<std::uint8_t> buffer);
  bool (*write)(std::intptr_t file, std::span<const std::uint8_t> data);
  bool (*close)(std::intptr_t file);
  bool (*seek)(std::intptr_t file, std::uint64_t offset);
  std::optional<std::uint64_t> (*size)(std::intptr_t file);
  std::optional<std::uint64_t> (*lastWriteTime)(std::intptr_t file);
  bool (*setTimes)(std::intptr_t file, std::uint64_t fileTime);
  // Names and directories.
  bool (*remove)(std::string_view path);
  bool (*rename)(std::string_view from, std::string_view to);
  bool (*exists)(std::string_view path);
  bool (*setNormalAttributes)(std::string_view path);
  std::string (*createTemporaryFile)(std::string_view directory, std::string_view prefix);
  bool (*makeDirectory)(std::string_view path, DirectoryAccess access);
  bool (*removeDirectory)(std::string_view path);
  std::optional<WorkDirectory> (*makeWorkDirectory)(DirectoryAccess access);
  bool (*removeWorkDirectory)(WorkDirectory& directory);
  // Profiles.
  std::vector<std::string> (*readProfile)(std::string_view section, std::span<const std::string> keys,
                                          std::string_view fallback, std::string_view path);
  bool (*writeProfile)(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                       std::string_view path);
  // Programs: the exit code, or nullopt when the program could not be started.
  std::optional<std::uint32_t> (*runProgram)(const ProgramCommand& command, const std::function<void()>& whileWaiting);
};

// The platform's own operations.
const Operations& NativeOperations();
// Puts `operations` (null: the platform's own) in place of the table in use,
// and returns the one it replaces. For tests: the swap is atomic, so threads
// that work with files meanwhile use one table or the other, whole.
const Operations* UseOperations(const Operations* operations);

//===----------------------------------------------------------------------===//
// The process
//===----------------------------------------------------------------------===//

// The process's own command line: on POSIX, argv joined by blanks with argv[0]
// in double quotes.
[[nodiscard]] std::string CommandLine();
// Prepares the common controls before any window is made (no-op on POSIX).
void InitControls();

// Starts the program from the current directory with this process's
// environment, waits until it has ended and returns its exit code; nullopt
// when it could not be started. While it waits, `whileWaiting` (when given)
// is called each time the thread's windows have messages, and must take
// them all (the progress dialog's `show` does), so that those windows still
// answer.
// POSIX: the arguments are the blank-separated words of `arguments`; a
// program file without its execute bit gets it first (unpacked files carry
// none); since an exit status keeps only 8 bits, 194, the low byte of 3010,
// comes back as 3010; and there are no window messages to wait for.
[[nodiscard]] std::optional<std::uint32_t> RunProgram(const ProgramCommand& command,
                                                      const std::function<void()>& whileWaiting = {});

//===----------------------------------------------------------------------===//
// Work in order, on several threads
//===----------------------------------------------------------------------===//

// How RunOrdered shares out its work: produce runs on at most `workers`
// threads at once, each numbered from 0 to workers - 1, and at most `held`
// items are started and not yet consumed. Item i + held starts only once
// consume(i) has returned, so a caller can keep one scratch per worker and
// one slot per held item (item i in slot i % held), and reuse their memory
// from item to item without a lock.
struct OrderedShape {
  std::size_t workers = 1;
  std::size_t held = 1;
};
// The shape that suits this machine. POSIX: as many workers as the machine
// runs threads at once, and two items held for each worker and two more, so
// that a long item being written does not leave the workers idle once they
// have made the few items after it (items differ in size by a hundred
// times; each held item costs a slot of buffers). Windows: one of each,
// since the 32-bit program's address space holds one large file's buffers,
// not several. `mostWorkers` caps the workers, for work whose memory is per
// worker and whose gain ends early.
OrderedShape OrderedWorkShape(std::size_t mostWorkers = SIZE_MAX);

// Runs `produce(i, worker)` for every i from 0 to count - 1, and `consume(i)`
// for each in order, on the calling thread, once produce(i) has finished,
// within `shape` (both at least 1). When consume returns false, no further
// produce starts and RunOrdered returns once those running have finished.
// produce must touch nothing that another produce or consume touches, but
// for its worker's own scratch and its item's slot (see OrderedShape).
// `prepare(i)`, when given, runs right before produce(i), on its thread, and
// for one item at a time in order: what prepare(i) finds out may depend on
// what the prepares before it found, and produce(i) sees it.
// Windows: one item at a time, in order, whatever the shape.
void RunOrdered(const OrderedShape& shape, std::size_t count,
                const std::function<void(std::size_t item, std::size_t worker)>& produce,
                const std::function<bool(std::size_t)>& consume,
                const std::function<void(std::size_t item)>& prepare = {});

// A line of progress for a person watching: shown in place on standard error
// when it is a terminal (POSIX), nowhere else; an empty line clears it.
// Whether there is anywhere to show it: work that only serves progress (such
// as adding up sizes) can be left out otherwise.
[[nodiscard]] bool ProgressVisible();
void ShowProgress(std::string_view line);

// The local date and time, to the millisecond.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime LocalTimeNow();

// A line for whoever started the program from a shell or a script: on
// standard error (a diagnostic) or standard output (a result) on POSIX;
// nowhere on Windows, whose program has no console. HasConsole tells whether
// there is one, so that work done only for it can be left out.
enum class ConsoleStream { Error, Output };
void WriteConsoleLine(std::string_view line, ConsoleStream stream = ConsoleStream::Error);
[[nodiscard]] bool HasConsole();

//===----------------------------------------------------------------------===//
// Rights and restart
//
// POSIX: an administrator is a process with effective user id 0, the
// platform counts as one of the NT family (so the rights check applies), and
// a restart is reported on standard error, never performed.
//===----------------------------------------------------------------------===//

// True when the process's token holds the Administrators group, enabled or
// not (a group held for deny only counts too). Any failure gives false.
[[nodiscard]] bool IsUserAdministrator();
// True on an NT-family system.
[[nodiscard]] bool IsNtPlatform();
// Enables the shutdown privilege of the process; results are not examined.
void EnableShutdownPrivilege();
// Asks the system for a normal restart, not forced; the result is not examined.
void RequestRestart();

//===----------------------------------------------------------------------===//
// Message boxes
//
// POSIX: the caption and the text go to standard error, in the locale's
// character set with control characters but the line feed as "?"; a question
// shows its answers, "[y/N]", and reads one line from standard input: only an
// answer starting with y or Y is Yes.
//===----------------------------------------------------------------------===//

enum class BoxStyle {
  Information,  // OK button, information icon
  Warning,      // OK button, warning icon, brought to the foreground
  Plain,        // OK button, no icon
  Question,     // Yes and No buttons, question icon, brought to the foreground
};
enum class BoxAnswer { Ok, Yes, No };

BoxAnswer ShowMessageBox(std::string_view text, std::string_view caption, BoxStyle style);

//===----------------------------------------------------------------------===//
// Text and the system directory
//===----------------------------------------------------------------------===//

// The longest beginning of `text` that fits a buffer of `capacity`
// characters, terminator included, and ends on a whole character of the
// platform's code page (Windows: the ANSI code page, whose characters may be
// two bytes long; POSIX: Windows-1252, one byte each).
[[nodiscard]] std::string CutToFit(std::string_view text, std::size_t capacity = TextCapacity);

// The directory of the system's own libraries, without a trailing separator;
// empty when there is none or its path does not fit a text buffer.
// POSIX: "$SystemRoot/system32" when the environment variable SystemRoot is
// set (the name Windows gives its own directory), so that a tree laid out
// like a Windows system can stand in for one; otherwise there is none.
[[nodiscard]] std::string SystemDirectory();

//===----------------------------------------------------------------------===//
// The progress dialog
//
// What the dialog shows and what its buttons do is decided above the
// platform (ui/progress_dialog.h), through DialogLogic; the platform only
// puts a DialogView on the screen and reports the buttons pressed.
//
// Windows: dialog template 101 with ProgressDialogProc, centred on the
// desktop, which also paints the background and the heading's bold font.
// POSIX: a plain rendering on standard error, one frame for each change,
// texts as the message boxes show them, driven by keys read from standard
// input (a terminal or a pipe): Enter presses the default button (Next), Esc,
// "c" or Ctrl-C presses Cancel; other keys do nothing, and keys typed on a
// terminal while a press's work runs are dropped. When the input ends the
// dialog is closed: by Cancel while Cancel is enabled, otherwise by the
// default button. The terminal keeps its settings whatever ends the process.
//===----------------------------------------------------------------------===//

namespace dialog {
// Control ids of dialog template 101, in template order.
inline constexpr int NextButton = 1;
inline constexpr int CancelButton = 2;
inline constexpr int BackButton = 3;
inline constexpr int ProgressBar = 1002;
inline constexpr int IntroText = 1005;
inline constexpr int StatusText = 1007;
inline constexpr int HeadingText = 1012;
inline constexpr int SidePicture = 1014;
// What ShowProgressDialog returns when the dialog cannot be shown at all.
inline constexpr int NotShown = -1;
}  // namespace dialog

struct DialogControl {
  std::string text;
  bool enabled = true;
  bool visible = true;

  bool operator==(const DialogControl&) const = default;
};

// Everything the dialog shows that changes while it runs.
struct DialogView {
  std::string caption;
  DialogControl next, cancel, back, progressBar, intro, status, heading;
  int progress = 0;  // the progress bar's position, 0 to 100
  int focus = 0;     // the id of the control with the keyboard focus; 0: none

  // The control with this id; null for an id without one in the view (the
  // side picture never changes).
  DialogControl* Control(int id);
  const DialogControl* Control(int id) const;

  bool operator==(const DialogView&) const = default;
};

// The ids of the controls in a DialogView, in template order.
inline constexpr int DialogViewControls[] = {dialog::NextButton, dialog::CancelButton, dialog::BackButton,
                                             dialog::ProgressBar, dialog::IntroText,   dialog::StatusText,
                                             dialog::HeadingText};

// The dialog's behaviour, as the platform's window sees it.
class DialogLogic {
 public:
  // The window exists but is not shown yet: fill in what it shows.
  virtual void Start(DialogView& view) = 0;
  // The user pressed button `id`; CancelButton also stands for the Esc key
  // and the window's close box. Any work runs here, on the window's one
  // thread; `show` puts the view on the screen as it stands and lets the
  // window answer (Windows: it handles the messages waiting, so that it
  // repaints, and input meant for disabled buttons is dropped): call it
  // between the steps of such work, and while waiting. A press that comes
  // meanwhile is not passed on; input given meanwhile is dropped once the
  // press is handled. Returns the result that ends the dialog, or nullopt
  // while it stays.
  virtual std::optional<int> Press(int id, DialogView& view, const std::function<void()>& show) = 0;

 protected:
  ~DialogLogic() = default;
};

// Shows the progress dialog modally until the logic ends it, and returns its
// result; dialog::NotShown when the dialog cannot be created (Windows; the
// terminal's is always shown). `instance` is the program's module (Windows).
[[nodiscard]] int ShowProgressDialog(void* instance, DialogLogic& logic);

//===----------------------------------------------------------------------===//
// Executable images
//===----------------------------------------------------------------------===//

using pe::ImageChecksum;
using pe::VersionResource;

// The stored and the computed image checksum of a PE image; nullopt when the
// file cannot be read as an image.
[[nodiscard]] std::optional<ImageChecksum> ComputeImageChecksum(std::string_view path);

// A file's version resource; nullopt when the file has none or it cannot be read.
[[nodiscard]] std::optional<VersionResource> ReadVersionResource(std::string_view path);

}  // namespace qd::platform
