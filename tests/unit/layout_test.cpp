//===- layout_test.cpp - Finding the stub's end and the items of a package --===//
#include "package/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "codec/codec.h"
#include "package/reader.h"
#include "support/files.h"
#include "support/memory_stream.h"
#include "support/random.h"

namespace qd {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }
Bytes Marker() { return {PackageMarker().begin(), PackageMarker().end()}; }
void Append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

std::size_t CountMarkers(const Bytes& bytes) {
  std::size_t count = 0;
  for (auto at = FindMarker(bytes, 0); at; at = FindMarker(bytes, *at + 1)) ++count;
  return count;
}

struct Package {
  Bytes bytes;
  std::size_t stubSize = 0;
};

// A stub holding the marker's text once, then the layout as the builder writes it.
Package MakePackage(const std::vector<std::pair<Bytes, std::uint64_t>>& items) {
  Package p;
  p.bytes = Text("MZ stub code ");
  Append(p.bytes, Marker());
  Append(p.bytes, Text(" more stub"));
  p.stubSize = p.bytes.size();
  Append(p.bytes, Marker());
  for (const auto& [stream, time] : items) {
    Append(p.bytes, stream);
    Append(p.bytes, Marker());
    const auto stamp = EncodeTimeStamp(time);
    p.bytes.insert(p.bytes.end(), stamp.begin(), stamp.end());
  }
  p.bytes.insert(p.bytes.end(), TailLength(p.bytes.size()), 0);
  return p;
}

TEST(PackageLayout, TheMarkerIsTheThirteenBytesOfItsText) {
  EXPECT_EQ(Marker(), Text("<iiiiiiiiiii>"));
}

TEST(PackageLayout, AReaderFindsTheStubEndAndEveryItemInOrder) {
  const std::vector<std::pair<Bytes, std::uint64_t>> items = {
      {{0x00, 0x06, 0x11, 0x22}, 0x01D2'3456'789A'BCDEull},
      {{0x00, 0x06, '<', 'i', 'i', '>'}, 1},  // a near-marker inside a stream
      {{0x00, 0x06}, 0xFFFF'FFFF'FFFF'FFFFull},
  };
  const Package p = MakePackage(items);
  EXPECT_EQ(CountMarkers(p.bytes), 2 + items.size()) << "one in the stub, one after it, one per item";

  const auto stubEnd = FindStubEnd(p.bytes);
  ASSERT_EQ(stubEnd, p.stubSize);
  std::size_t at = FirstItemOffset(*stubEnd);
  EXPECT_EQ(p.bytes[at], 0x00);
  EXPECT_EQ(p.bytes[at + 1], 0x06);
  for (const auto& [stream, time] : items) {
    const auto item = FindItem(p.bytes, at);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->streamBegin, at);
    EXPECT_EQ(Bytes(p.bytes.begin() + static_cast<std::ptrdiff_t>(item->streamBegin),
                    p.bytes.begin() + static_cast<std::ptrdiff_t>(item->streamEnd)),
              stream);
    EXPECT_EQ(item->timeStamp, time);
    EXPECT_EQ(item->next, item->streamEnd + PackageMarkerSize + TimeStampSize);
    at = item->next;
  }
  EXPECT_FALSE(FindItem(p.bytes, at)) << "nothing after the last item is an item";
}

TEST(PackageLayout, AReaderStopsAtTheEndOfTheDataItHas) {
  const Package p = MakePackage({{{0x00, 0x06, 0x42}, 77}});
  const std::size_t first = FirstItemOffset(p.stubSize);
  const std::size_t itemEnd = first + 3 + PackageMarkerSize + TimeStampSize;
  for (std::size_t size = 0; size <= p.bytes.size(); ++size) {
    const std::span<const std::uint8_t> data(p.bytes.data(), size);
    const auto stubEnd = FindStubEnd(data);
    EXPECT_EQ(stubEnd.has_value(), size >= p.stubSize + PackageMarkerSize) << size;
    const auto item = FindItem(data, first);
    EXPECT_EQ(item.has_value(), size >= itemEnd) << size;
    if (item) {
      EXPECT_LE(item->next, size);
    }
  }
  EXPECT_FALSE(FindItem(p.bytes, p.bytes.size()));
  EXPECT_FALSE(FindItem(p.bytes, p.bytes.size() + 100));
}

TEST(PackageLayout, AStubWithoutTwoMarkersHasNoEnd) {
  for (const Bytes& data : {Bytes{}, Text("MZ"), Marker(), Text("<iiiiiiiiii> <iiiiiiiiiiii>")})
    EXPECT_FALSE(FindStubEnd(data));
  Bytes two = Marker();
  Append(two, Marker());
  EXPECT_EQ(FindStubEnd(two), PackageMarkerSize);
}

// The marker scan does not look at every byte. Wherever a marker stands,
// in whatever surroundings, and wherever the scan starts or the data ends,
// it finds what a plain search finds.
TEST(PackageLayout, TheMarkerIsFoundWhereverItStandsAsAPlainSearchFindsIt) {
  const struct {
    const char* around;
    Bytes filler;
  } cases[] = {
      {"other bytes", Text("xyzxyzxyzxyzxyzxyzxyzxyzxyzx")},
      {"the marker's letter", Bytes(28, 'i')},
      {"its first bytes", Text("<ii<iiiii<i<<iiiiiiiiii<iii")},
      {"a marker cut short", [] { auto b = Marker(); b.pop_back(); return b; }()},
      {"a marker with one letter changed", [] { auto b = Marker(); b[6] = 'j'; return b; }()},
  };
  for (const auto& c : cases) {
    for (std::size_t offset = 0; offset <= 2 * (PackageMarkerSize - 2); ++offset) {
      Bytes data;
      for (std::size_t i = 0; i < offset; ++i) data.push_back(c.filler[i % c.filler.size()]);
      Append(data, Marker());
      Append(data, c.filler);
      for (std::size_t size = 0; size <= data.size(); ++size) {
        const std::span<const std::uint8_t> part(data.data(), size);
        for (std::size_t from = 0; from <= size + 1; ++from) {
          const auto plain = from > size ? part.end()
                                         : std::search(part.begin() + static_cast<std::ptrdiff_t>(from), part.end(),
                                                       PackageMarker().begin(), PackageMarker().end());
          const auto expected =
              plain == part.end() ? std::nullopt : std::optional<std::size_t>(plain - part.begin());
          ASSERT_EQ(FindMarker(part, from), expected) << c.around << ", offset " << offset << ", size " << size
                                                      << ", from " << from;
        }
      }
    }
  }
}

TEST(PackageLayout, TimeStampsAreStoredLowWordFirst) {
  const auto bytes = EncodeTimeStamp(0x0123'4567'89AB'CDEFull);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), (Bytes{0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}));
  EXPECT_EQ(DecodeTimeStamp(bytes), 0x0123'4567'89AB'CDEFull);
}

TEST(PackageLayout, TheTailBringsTheLengthToAMultipleOfFourThenAddsFourZeros) {
  const std::pair<std::uint64_t, std::size_t> cases[] = {{0, 4}, {1, 7}, {2, 6}, {3, 5}, {4, 4}, {0x100000001, 7}};
  for (const auto& [length, tail] : cases) EXPECT_EQ(TailLength(length), tail) << length;
}

// The installer reads its own file in pieces; wherever the reader's buffer
// and the reads end, it must find what a reader of the whole file finds.
TEST(PackageReader, FindsWhatTheWholeFileHoldsWhereverItsBufferEnds) {
  test::Random random{42};
  for (std::size_t stubSize : {std::size_t{100}, std::size_t{65536 - 20}, std::size_t{65536 - 13}, std::size_t{65536 - 6}}) {
    std::vector<Bytes> contents;
    std::vector<std::pair<Bytes, std::uint64_t>> items;
    for (std::size_t size : {0u, 1u, 5000u, 70000u}) {
      Bytes content(size);
      for (auto& b : content) b = static_cast<std::uint8_t>(random.Skewed(256));
      Bytes stream(size + size / 5 + 16);
      stream.resize(static_cast<std::size_t>(CompressToMemory(stream.data(), static_cast<std::uint32_t>(stream.size()),
                                                              content.data(), static_cast<std::uint32_t>(size))));
      contents.push_back(content);
      items.push_back({stream, size * 7});
    }
    Package p = MakePackage(items);
    p.bytes.insert(p.bytes.begin() + 2, stubSize - p.stubSize, 'S');  // the stub grows before its marker
    const std::span<const std::uint8_t> whole(p.bytes);
    std::size_t at = 0;
    PackageReader reader(
        [&](std::span<std::uint8_t> buffer) {
          const std::size_t n = std::min({buffer.size(), p.bytes.size() - at, std::size_t{1} + random.Below(5000)});
          std::copy_n(p.bytes.begin() + static_cast<std::ptrdiff_t>(at), n, buffer.begin());
          at += n;
          return static_cast<std::int64_t>(n);
        },
        0, p.bytes.size() - TailZeroSize);
    Bytes got;
    const auto keep = [&got](std::span<const std::uint8_t> bytes) {
      got.insert(got.end(), bytes.begin(), bytes.end());
      return true;
    };
    const Piece stub = reader.CopyStub(keep);
    ASSERT_EQ(stub.status, PieceStatus::Ok) << stubSize;
    EXPECT_EQ(stub.packedSize, stubSize);
    EXPECT_TRUE(got == Bytes(p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(stubSize)));
    for (std::size_t i = 0; i < items.size(); ++i) {
      const auto item = FindItem(whole, reader.Position());
      got.clear();
      const Piece piece = reader.UnpackItem(keep);
      ASSERT_EQ(piece.status, PieceStatus::Ok) << stubSize << " item " << i;
      EXPECT_TRUE(got == contents[i]) << stubSize << " item " << i;
      EXPECT_EQ(piece.packedSize, item->streamEnd - item->streamBegin);
      EXPECT_EQ(piece.timeStamp, item->timeStamp);
      EXPECT_EQ(reader.Position(), item->next);
    }
    EXPECT_EQ(reader.UnpackItem(keep).status, PieceStatus::Malformed) << "the tail is no item";

    // Passing over the items without decoding finds the same places; a
    // reader restarted on one item's bytes alone unpacks that item.
    PackageReader skipper(test::ReadsOf(whole), 0, whole.size() - TailZeroSize);
    PackageReader alone({}, 0, 0);
    ASSERT_EQ(skipper.CopyStub([](std::span<const std::uint8_t>) { return true; }).status, PieceStatus::Ok);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const auto item = FindItem(whole, skipper.Position());
      const Piece skipped = skipper.SkipItem();
      ASSERT_EQ(skipped.status, PieceStatus::Ok) << stubSize << " item " << i;
      EXPECT_EQ(skipped.packedSize, item->streamEnd - item->streamBegin);
      EXPECT_EQ(skipped.timeStamp, item->timeStamp);
      EXPECT_EQ(skipper.Position(), item->next);
      alone.Restart(test::ReadsOf(whole, skipped.begin), skipped.begin, skipper.Position());
      got.clear();
      EXPECT_EQ(alone.UnpackItem(keep).status, PieceStatus::Ok);
      EXPECT_TRUE(got == contents[i]) << stubSize << " item " << i;
    }
  }
}

// The layout's invariant on the product: its text stands once in the stub.
TEST(PackageLayout, TheBuiltStubHoldsTheMarkerTextExactlyOnce) {
  bool any = false;
  for (std::string_view buildDir : {QDPACK_WIN32_DIR, QDPACK_WIN64_DIR}) {
    if (buildDir.empty()) continue;
    const auto path = std::filesystem::path(buildDir) / "src" / "QdPack.exe";
    if (!std::filesystem::exists(path)) continue;
    any = true;
    EXPECT_EQ(CountMarkers(test::ReadAll(path)), 1u) << path;
  }
  if (!any) GTEST_SKIP() << "no Windows build";
}

}  // namespace
}  // namespace qd
