//===- checksum_test.cpp - Checking and stamping the image checksum ---------===//
#include "package/checksum.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

#include "pe/pe_image.h"
#include "platform/platform.h"
#include "support/files.h"
#include "support/random.h"
#include "unit/test_images.h"

namespace qd {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The offsets at which two files of equal length differ.
std::vector<std::size_t> Differences(const Bytes& a, const Bytes& b) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) at.push_back(i);
  return at;
}

// Whether anything opened the file for writing while `action` ran.
bool OpenedForWriting(const std::filesystem::path& path, const std::function<void()>& action) {
  const int watch = inotify_init1(IN_NONBLOCK);
  if (watch < 0) throw std::runtime_error("inotify");
  inotify_add_watch(watch, path.c_str(), IN_CLOSE_WRITE | IN_MODIFY);
  action();
  alignas(inotify_event) char events[4096];
  const ssize_t got = read(watch, events, sizeof events);
  close(watch);
  return got > 0;
}

TEST(ImageChecksum, StampingAThirtyTwoBitImageChangesOnlyTheFourChecksumBytes) {
  test::ScratchDir dir;
  const auto path = dir / "package.exe";
  const Bytes original = test::MakeImage({.checkSum = 0, .trailing = 1001});
  test::WriteAll(path, original);

  EXPECT_FALSE(CheckImageChecksum(path.string(), Stamp::No)) << "a never-stamped image fails the check";
  EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::Yes));
  const Bytes stamped = test::ReadAll(path);
  ASSERT_EQ(stamped.size(), original.size());
  for (std::size_t at : Differences(original, stamped))
    EXPECT_TRUE(at >= 0x80 + 88 && at < 0x80 + 92) << "byte " << at << " changed";
  EXPECT_EQ(pe::LoadU32(stamped, 0x80 + 88), pe::ImageChecksumOf(original)->computed);
  EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::No));
}

TEST(ImageChecksum, AFileChangedAfterStampingFailsUntilStampedAgain) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
  } cases[] = {
      {"a byte patched", [](Bytes& b) { b[0x300] ^= 1; }},
      {"data appended", [](Bytes& b) { b.insert(b.end(), {1, 2, 3}); }},
      {"a signature appended", [](Bytes& b) { b.insert(b.end(), 517, 0x30); }},
      {"the field zeroed", [](Bytes& b) { test::Put32(b, 0x80 + 88, 0); }},
  };
  for (const auto& c : cases) {
    test::ScratchDir dir;
    const auto path = dir / "package.exe";
    test::WriteAll(path, test::MakeImage({.trailing = 64}));
    ASSERT_TRUE(CheckImageChecksum(path.string(), Stamp::Yes));
    Bytes bytes = test::ReadAll(path);
    c.change(bytes);
    test::WriteAll(path, bytes);
    EXPECT_FALSE(CheckImageChecksum(path.string(), Stamp::No)) << c.what;
    EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::Yes)) << c.what;
    EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::No)) << c.what;
  }
}

TEST(ImageChecksum, StampingRefusesWhatIsNoImageAndLeavesItAlone) {
  struct Case {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"unknown magic", test::MakeImage({.magic = 0x107})},
      {"no MZ", [] { auto b = test::MakeImage(); b[1] = 'X'; return b; }()},
      {"PE signature with a nonzero byte", [] { auto b = test::MakeImage(); b[0x83] = 1; return b; }()},
      {"headers cut short", [] { auto b = test::MakeImage(); b.resize(0x80 + 200); return b; }()},
      {"only a DOS header", Bytes{'M', 'Z', 0, 0, 0, 0, 0, 0}},
      {"text", Bytes{'h', 'e', 'l', 'l', 'o'}},
  };
  for (const auto& c : cases) {
    test::ScratchDir dir;
    const auto path = dir / "file.exe";
    test::WriteAll(path, c.bytes);
    EXPECT_FALSE(CheckImageChecksum(path.string(), Stamp::No)) << c.what;
    EXPECT_FALSE(CheckImageChecksum(path.string(), Stamp::Yes)) << c.what;
    EXPECT_EQ(test::ReadAll(path), c.bytes) << c.what;
  }
  for (Stamp stamp : {Stamp::No, Stamp::Yes}) {
    test::ScratchDir dir;
    EXPECT_FALSE(CheckImageChecksum((dir / "missing.exe").string(), stamp));
    test::WriteAll(dir / "empty.exe", {});
    EXPECT_FALSE(CheckImageChecksum((dir / "empty.exe").string(), stamp));
  }
}

// A file is read a block at a time, and all but its first block in stretches
// that threads sum apart: any length, even or odd, around a block's or a
// stretch's end, sums as the whole file in memory does.
TEST(ImageChecksum, TheFileSummedInStretchesSumsAsTheWholeImage) {
  constexpr std::size_t Block = std::size_t{1} << 18;
  constexpr std::size_t Stretch = std::size_t{1} << 22;
  test::Random random{7};
  for (const std::size_t size : {Block - 1, Block, Block + 1, Block + Stretch - 1, Block + Stretch + 1,
                                 Block + 2 * Stretch + 3}) {
    for (const bool image : {true, false}) {
      SCOPED_TRACE(std::to_string(size) + (image ? " bytes of image" : " bytes of text"));
      Bytes bytes = image ? test::MakeImage() : Bytes{'t', 'e', 'x', 't'};
      while (bytes.size() < size) bytes.push_back(static_cast<std::uint8_t>(random.Next()));
      test::ScratchDir dir;
      test::WriteAll(dir / "file.exe", bytes);
      const auto read = platform::ComputeImageChecksum((dir / "file.exe").string());
      const auto whole = pe::ImageChecksumOf(bytes);
      ASSERT_TRUE(read && whole);
      EXPECT_EQ(read->computed, whole->computed);
      EXPECT_EQ(read->stored, whole->stored);
    }
  }
}

TEST(ImageChecksum, AFieldAlreadyRightIsNotOpenedForWriting) {
  test::ScratchDir dir;
  const auto path = dir / "package.exe";
  test::WriteAll(path, test::MakeImage({.trailing = 9}));
  EXPECT_TRUE(OpenedForWriting(path, [&] { EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::Yes)); }))
      << "the first stamp writes";
  EXPECT_FALSE(OpenedForWriting(path, [&] { EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::Yes)); }));
  // A 64-bit image whose field is right counts as stamped, untouched.
  auto image = test::MakeImage({.magic = 0x20B});
  test::Put32(image, 0x80 + 88, pe::ImageChecksumOf(image)->computed);
  test::WriteAll(path, image);
  EXPECT_FALSE(OpenedForWriting(path, [&] { EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::Yes)); }));
}

TEST(ImageChecksum, BackslashesSeparateDirectoriesInThePath) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir / "out");
  test::WriteAll(dir / "out" / "package.exe", test::MakeImage());
  const std::string path = dir.path().string() + "\\out\\package.exe";
  EXPECT_TRUE(CheckImageChecksum(path, Stamp::Yes));
  EXPECT_TRUE(CheckImageChecksum(path, Stamp::No));
}

// The product itself, as the sub-builds made it.
std::filesystem::path BuiltExecutable(std::string_view buildDir) {
  if (buildDir.empty()) return {};
  std::filesystem::path path = std::filesystem::path(buildDir) / "src" / "QdPack.exe";
  return std::filesystem::exists(path) ? path : std::filesystem::path();
}

// Both builds of the product seal alike: their CheckSum fields lie at the
// same place, and stamping changes nothing else.
TEST(ImageChecksum, StampingTheBuiltQdPackOfEitherWidthChangesOnlyItsChecksum) {
  for (const std::string_view buildDir : {std::string_view(QDPACK_WIN32_DIR), std::string_view(QDPACK_WIN64_DIR)}) {
    const auto built = BuiltExecutable(buildDir);
    if (built.empty()) GTEST_SKIP() << "no Windows build in " << buildDir;
    SCOPED_TRACE(built.string());
    test::ScratchDir dir;
    const auto path = dir / "QdPack.exe";
    Bytes original = test::ReadAll(built);
    // Make sure there is something to stamp, whatever the linker stored.
    const auto h = *pe::PeHeadersOffset(original);
    original.insert(original.end(), {0, 0, 0, 0, 1, 2, 3, 4});
    test::WriteAll(path, original);

    EXPECT_FALSE(CheckImageChecksum(path.string(), Stamp::No));
    EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::Yes));
    const Bytes stamped = test::ReadAll(path);
    ASSERT_EQ(stamped.size(), original.size());
    const auto changed = Differences(original, stamped);
    EXPECT_FALSE(changed.empty());
    for (std::size_t at : changed) EXPECT_TRUE(at >= h + 88 && at < h + 92) << "byte " << at;
    EXPECT_TRUE(CheckImageChecksum(path.string(), Stamp::No));
  }
}

}  // namespace
}  // namespace qd
