//===- layout_test.cpp - Finding the stub's end and the items of a package --===//
#include "package/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "support/files.h"

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

TEST(PackageLayout, TimeStampsAreStoredLowWordFirst) {
  const auto bytes = EncodeTimeStamp(0x0123'4567'89AB'CDEFull);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), (Bytes{0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}));
  EXPECT_EQ(DecodeTimeStamp(bytes), 0x0123'4567'89AB'CDEFull);
}

TEST(PackageLayout, TheTailBringsTheLengthToAMultipleOfFourThenAddsFourZeros) {
  const std::pair<std::uint64_t, std::size_t> cases[] = {{0, 4}, {1, 7}, {2, 6}, {3, 5}, {4, 4}, {0x100000001, 7}};
  for (const auto& [length, tail] : cases) EXPECT_EQ(TailLength(length), tail) << length;
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
