//===- main.cpp - qdcodec: implode and explode files ------------------------===//
//
// A command-line tool of the native build for package authors and tests:
//
//   qdcodec implode [--ascii] [--dict 1024|2048|4096] IN OUT
//   qdcodec explode IN OUT
//
// Files stream through the codec, read and written a megabyte at a time
// however small the codec's own requests, so there is no size limit but
// memory for the codec's state. The output is written to a temporary file
// beside OUT and renamed over it only when everything succeeded: a failed
// run leaves no partial output, and an OUT that existed stays as it was.
// The input is never the output, under any name or link. Exit status: 0
// done; 1 failed, with a message naming the fault; 2 wrong usage.
//
//===----------------------------------------------------------------------===//
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "codec/codec.h"
#include "common/command_line.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t BufferSize = 1 << 20;

struct Job {
  bool implode = false;
  bool ascii = false;
  std::uint32_t dictionarySize = 4096;
  std::string in;
  std::string out;
};

int Fail(std::string_view message) {
  std::cerr << "qdcodec: " << message << '\n';
  return qd::tool::ExitFailure;
}

std::string Reason() { return std::strerror(errno); }

//===----------------------------------------------------------------------===//
// Files
//===----------------------------------------------------------------------===//

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, CloseFile>;

// A buffer for a stream, which must outlive it. (Given no buffer, the C
// library keeps its own small one, whatever size is asked for.) Left
// unfilled, so that only the pages a small file uses are ever touched.
struct StreamBuffer {
  StreamBuffer() : bytes(std::make_unique_for_overwrite<char[]>(BufferSize)) {}
  bool Attach(std::FILE* file) const {
    return std::setvbuf(file, bytes.get(), _IOFBF, BufferSize) == 0;
  }
  std::unique_ptr<char[]> bytes;
};

// The file that OUT names: the end of its chain of links, so that writing
// OUT writes where it points, as opening it would, even where nothing is yet.
fs::path Destination(fs::path out) {
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code error;
    if (!fs::is_symlink(out, error)) break;
    const fs::path target = fs::read_symlink(out, error);
    if (error) break;
    out = target.is_absolute() ? target : out.parent_path() / target;
  }
  return out;
}

// An output file under a temporary name beside its destination. Commit puts
// it in place; without a commit it is removed.
class PendingOutput {
 public:
  explicit PendingOutput(fs::path destination) : destination_(std::move(destination)) {}
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;
  ~PendingOutput() {
    if (!file_) return;
    file_.reset();
    std::error_code ignored;
    fs::remove(temporary_, ignored);
  }

  // Creates the temporary file; false with errno set when it cannot.
  bool Open() {
    std::random_device random;
    const fs::path folder = destination_.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
      temporary_ = folder / ("." + destination_.filename().string() + suffix);
      file_.reset(std::fopen(temporary_.c_str(), "wbx"));
      if (file_) return buffer_.Attach(file_.get());
      if (errno != EEXIST) return false;
    }
    return false;
  }

  std::FILE* File() const { return file_.get(); }

  // Flushes and closes the file and renames it over the destination; false
  // with a message when any of that fails (the temporary file is removed).
  bool Commit(std::string& fault) {
    const bool written = std::fclose(file_.release()) == 0;
    std::error_code error;
    if (written) fs::rename(temporary_, destination_, error);
    if (written && !error) return true;
    fault = written ? "cannot replace " + destination_.string() + ": " + error.message()
                    : "cannot write " + destination_.string() + ": " + Reason();
    fs::remove(temporary_, error);
    return false;
  }

 private:
  fs::path destination_;
  fs::path temporary_;
  StreamBuffer buffer_;  // before the file: it is released after it
  FilePtr file_;
};

//===----------------------------------------------------------------------===//
// The codec's callbacks: buffered by the files, whatever the codec asks for
//===----------------------------------------------------------------------===//

struct Transfer {
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  bool readFailed = false;
  bool writeFailed = false;
};

std::uint32_t ReadInput(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<Transfer*>(parameter);
  const std::size_t got = std::fread(buffer, 1, *size, transfer.in);
  if (got < *size && std::ferror(transfer.in)) transfer.readFailed = true;
  return static_cast<std::uint32_t>(got);
}

void WriteOutput(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<Transfer*>(parameter);
  if (!transfer.writeFailed && std::fwrite(buffer, 1, *size, transfer.out) != *size)
    transfer.writeFailed = true;
}

std::string_view ExplodeFault(std::uint32_t result) {
  switch (result) {
    case qd::ExplodeBadDictionary: return "its dictionary-size byte is not 4, 5 or 6";
    case qd::ExplodeBadLiteralMode: return "its literal-mode byte is not 0 or 1";
    case qd::ExplodeTooShort: return "it is too short to be a stream (4 bytes or fewer)";
    case qd::ExplodeTruncated: return "it ends before its end-of-stream code";
    default: return "it cannot be decoded";
  }
}

int Run(const Job& job) {
  std::error_code error;
  if (fs::equivalent(job.in, job.out, error))
    return Fail(job.in + " and " + job.out + " are the same file");

  const StreamBuffer inBuffer;
  const FilePtr in(std::fopen(job.in.c_str(), "rb"));
  if (!in || !inBuffer.Attach(in.get()))
    return Fail("cannot open " + job.in + ": " + Reason());
  PendingOutput out(Destination(job.out));
  if (!out.Open()) return Fail("cannot create " + job.out + ": " + Reason());

  Transfer transfer{in.get(), out.File()};
  std::uint32_t result = 0;
  if (job.implode) {
    const auto state = std::make_unique_for_overwrite<qd::ImplodeState>();
    result = qd::ImplodeStream(ReadInput, WriteOutput, *state, &transfer, job.ascii ? 1 : 0,
                               job.dictionarySize);
  } else {
    const auto state = std::make_unique_for_overwrite<qd::ExplodeState>();
    result = qd::ExplodeStream(ReadInput, WriteOutput, *state, &transfer);
  }

  if (transfer.readFailed) return Fail("cannot read " + job.in + ": " + Reason());
  if (transfer.writeFailed) return Fail("cannot write " + job.out + ": " + Reason());
  if (!job.implode && result != qd::ExplodeOk)
    return Fail(job.in + " is not a valid implode stream: " + std::string(ExplodeFault(result)) +
                " (result " + std::to_string(result) + ")");
  std::string fault;
  if (!out.Commit(fault)) return Fail(fault);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Compresses files into implode streams and restores them.", "qdcodec"};
  qd::tool::AddVersionFlag(app);
  app.require_subcommand(1);
  Job job;

  CLI::App* implode = app.add_subcommand("implode", "Compress the file IN into the stream OUT.");
  implode->add_flag("--ascii", job.ascii, "Code literals with the ASCII table (default: binary).");
  implode->add_option("--dict", job.dictionarySize, "Dictionary size in bytes.")
      ->check(CLI::IsMember({1024, 2048, 4096}))
      ->capture_default_str();
  implode->add_option("IN", job.in, "The file to compress.")->required();
  implode->add_option("OUT", job.out, "The stream to write.")->required();

  CLI::App* explode = app.add_subcommand("explode", "Restore the file OUT from the stream IN.");
  explode->add_option("IN", job.in, "The stream to decode.")->required();
  explode->add_option("OUT", job.out, "The file to write.")->required();

  if (const auto exit = qd::tool::ParseCommandLine(app, argc, argv)) return *exit;
  job.implode = implode->parsed();
#ifdef SIGXFSZ
  // Past a file-size limit a write should fail, not end the process before
  // it can remove its temporary file.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  try {
    return Run(job);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}
