//===- main.cpp - qdcodec: implode and explode files ------------------------===//
//
// A command-line tool of the native build for package authors and tests:
//
//   qdcodec implode [--ascii] [--dict 1024|2048|4096] IN OUT
//   qdcodec explode IN OUT
//
// Files stream through the codec, so there is no size limit but memory for
// the codec's state. A bad stream gives a message naming the fault and exit
// status 1; the partial output is removed. Wrong usage gives exit status 2.
//
//===----------------------------------------------------------------------===//
#include <cstdint>
#include <iostream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/codec.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view Usage =
    "usage: qdcodec implode [--ascii] [--dict 1024|2048|4096] IN OUT\n"
    "       qdcodec explode IN OUT\n";

struct FileTransfer {
  qd::platform::File* in = nullptr;
  qd::platform::File* out = nullptr;
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;
  bool readFailed = false;
  bool writeFailed = false;
};

std::uint32_t FileRead(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<FileTransfer*>(parameter);
  const std::int64_t got = qd::platform::ReadBytes(*transfer.in, std::span(buffer, *size));
  if (got < 0) {
    transfer.readFailed = true;
    return 0;
  }
  transfer.bytesIn += static_cast<std::uint64_t>(got);
  return static_cast<std::uint32_t>(got);
}

void FileWrite(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& transfer = *static_cast<FileTransfer*>(parameter);
  if (transfer.writeFailed) return;
  if (!qd::platform::WriteBytes(*transfer.out, std::span(buffer, *size)))
    transfer.writeFailed = true;
  transfer.bytesOut += *size;
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

int Fail(std::string_view message) {
  std::cerr << "qdcodec: " << message << '\n';
  return 1;
}

struct Options {
  bool implode = false;
  std::uint32_t literalMode = 0;
  std::uint32_t dictionarySize = 4096;
  std::string in;
  std::string out;
};

// False on wrong usage.
bool ParseArguments(const std::vector<std::string_view>& args, Options& options) {
  if (args.empty()) return false;
  if (args[0] == "implode") {
    options.implode = true;
  } else if (args[0] != "explode") {
    return false;
  }
  std::vector<std::string_view> files;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options.implode && arg == "--ascii") {
      options.literalMode = 1;
    } else if (options.implode && arg == "--dict" && i + 1 < args.size()) {
      const std::string_view size = args[++i];
      if (size == "1024") options.dictionarySize = 1024;
      else if (size == "2048") options.dictionarySize = 2048;
      else if (size == "4096") options.dictionarySize = 4096;
      else return false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return false;
  options.in = files[0];
  options.out = files[1];
  return true;
}

int Run(const Options& options) {
  qd::platform::File in = qd::platform::OpenForReading(options.in);
  if (!in.IsOpen()) return Fail("cannot open " + options.in);
  qd::platform::File out = qd::platform::CreateAlways(options.out);
  if (!out.IsOpen()) return Fail("cannot create " + options.out);

  FileTransfer transfer;
  transfer.in = &in;
  transfer.out = &out;
  std::uint32_t result = 0;
  if (options.implode) {
    auto state = std::make_unique<qd::ImplodeState>();
    result = qd::ImplodeStream(FileRead, FileWrite, *state, &transfer, options.literalMode,
                               options.dictionarySize);
  } else {
    auto state = std::make_unique<qd::ExplodeState>();
    result = qd::ExplodeStream(FileRead, FileWrite, *state, &transfer);
  }
  out.Close();

  std::string fault;
  if (transfer.readFailed) fault = "cannot read " + options.in;
  else if (transfer.writeFailed) fault = "cannot write " + options.out;
  else if (!options.implode && result != qd::ExplodeOk)
    fault = options.in + " is not a valid implode stream: " + std::string(ExplodeFault(result)) +
            " (result " + std::to_string(result) + ")";
  if (!fault.empty()) {
    qd::platform::RemoveFile(options.out);
    return Fail(fault);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  Options options;
  if (!ParseArguments(args, options)) {
    std::cerr << Usage;
    return 2;
  }
  try {
    return Run(options);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}
