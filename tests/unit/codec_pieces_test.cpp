//===- codec_pieces_test.cpp - One input imploded in pieces -----------------===//
#include <gtest/gtest.h>

#include "codec_test_support.h"
#include "support/real_dlls.h"
#include "support/sha256.h"

namespace qd::test {
namespace {

std::span<const std::uint8_t> PieceBytes(const Bytes& input, const ImplodePiece& piece) {
  return std::span(input).subspan(piece.readBegin, piece.readEnd - piece.readBegin);
}

// What one input after another is imploded with, as the builder keeps it:
// the state, the piece records and the join, their memory reused.
struct Reused {
  std::unique_ptr<ImplodeState> state = std::make_unique_for_overwrite<ImplodeState>();
  std::vector<ImplodedPiece> pieces;
  ImplodeJoin join;
};

// Encodes the pieces last first, as threads may finish them, and joins them
// in order into `reused.join`; returns how many pieces there were.
std::size_t ImplodeInPieces(const Bytes& input, std::uint32_t mode, std::uint32_t dictionary,
                            std::uint64_t pieceSize, Reused& reused) {
  const ImplodePlan plan = PlanImplode(input.size(), mode, dictionary, pieceSize);
  std::vector<ImplodedPiece>& pieces = reused.pieces;
  pieces.resize(std::max(pieces.size(), plan.pieces.size()));
  for (std::size_t i = plan.pieces.size(); i-- > 0;)
    EXPECT_TRUE(ImplodePieceOf(plan, i, PieceBytes(input, plan.pieces[i]), *reused.state, pieces[i]));
  for (std::size_t i = 0; i < plan.pieces.size(); ++i)
    EXPECT_TRUE(JoinImplodePiece(reused.join, plan, i, pieces[i], PieceBytes(input, plan.pieces[i])));
  return plan.pieces.size();
}

struct SplitCase {
  std::string what;
  Bytes input;
  std::uint64_t pieceSize = ImplodeSmallestPiece;
  const char* streamSha256 = nullptr;  // the recorded whole stream, binary and 4096 bytes only
};

std::vector<SplitCase> SplitCases() {
  std::vector<SplitCase> cases;
  for (const std::string& name : VectorInputs()) cases.push_back({name, Vector(name + ".bin")});
  cases.push_back({"mixed data", corpus::Mixed(1'500'000, 5)});
  cases.push_back({"executable code", corpus::Executable(700'000, 6)});
  cases.push_back({"text", corpus::Text(700'000, 7)});
  cases.push_back({"runs", corpus::Runs(700'000, 8)});
  cases.push_back({"zero-heavy data", corpus::ZeroHeavy(700'000, 9)});
  // Pieces of 64 KiB whose cut falls before the last one's final block.
  cases.push_back({"an input just over two pieces", corpus::Mixed(2 * ImplodeSmallestPiece + 1, 10)});
  // One pattern throughout: parses a phase apart never meet, and each
  // piece is encoded again.
  cases.push_back({"one long period", corpus::Periodic(600'000, 700, 11)});
  cases.push_back({"one byte", Bytes(600'000, 0)});
  // Real DLLs, when installed, against their recorded stream.
  if (Bytes dlls = LoadRealDlls(RealDlls40); !dlls.empty() && Sha256Hex(dlls) == RealDlls40.inputSha256)
    cases.push_back({RealDlls40.name, std::move(dlls), ImplodePieceSize, RealDlls40.streamSha256});
  return cases;
}

// Joined in order, the pieces are byte for byte the stream of the whole
// input, in every setting, whether or not their parses met; and so they are
// with one state, one set of piece records and one join for every input in
// turn, whatever an earlier input left in them.
TEST(ImplodePieces, JoinIntoTheWholeStream) {
  std::size_t split = 0;
  std::size_t reencoded = 0;
  Reused reused;
  for (const SplitCase& c : SplitCases()) {
    for (const Setting& setting : AllSettings) {
      if (c.streamSha256 && (setting.mode != 0 || setting.dictionary != 4096)) continue;
      const std::size_t pieces = ImplodeInPieces(c.input, setting.mode, setting.dictionary, c.pieceSize, reused);
      const ImplodeJoin& join = reused.join;
      const std::string where = c.what + ", " + setting.suffix + ", " + std::to_string(pieces) + " pieces";
      if (c.streamSha256) {
        EXPECT_EQ(Sha256Hex(join.stream), c.streamSha256) << where;
      } else {
        ASSERT_TRUE(join.stream == Implode(c.input, setting.mode, setting.dictionary).output) << where;
      }
      split += pieces > 1 ? 1 : 0;
      reencoded += join.reencoded;
      if (c.what == "mixed data") {
        EXPECT_EQ(join.reencoded, 0u) << setting.suffix;
      }
    }
  }
  EXPECT_GT(split, 40u);
  EXPECT_GT(reencoded, 0u);  // the path where parses never meet ran
}

TEST(ImplodePieces, RefuseWorkThatDoesNotFitThePlan) {
  const Bytes input = corpus::Mixed(300'000, 12);
  const ImplodePlan plan = PlanImplode(input.size(), 0, 4096, ImplodeSmallestPiece);
  ASSERT_EQ(plan.pieces.size(), 4u);
  const auto state = std::make_unique_for_overwrite<ImplodeState>();
  ImplodedPiece piece;
  EXPECT_FALSE(ImplodePieceOf(plan, 4, PieceBytes(input, plan.pieces[3]), *state, piece));
  const auto bytes = PieceBytes(input, plan.pieces[1]);
  EXPECT_FALSE(ImplodePieceOf(plan, 1, bytes.first(bytes.size() - 1), *state, piece));
  ASSERT_TRUE(ImplodePieceOf(plan, 1, PieceBytes(input, plan.pieces[1]), *state, piece));
  ImplodeJoin join;
  EXPECT_FALSE(JoinImplodePiece(join, plan, 1, piece, PieceBytes(input, plan.pieces[1])));  // before piece 0
  EXPECT_EQ(join.joined, 0u);
  // A plan changed by hand could send a piece's reads past its bytes.
  ImplodePlan early = plan;
  early.pieces[1].begin -= 4096;
  early.pieces[0].end -= 4096;
  EXPECT_FALSE(ImplodePieceOf(early, 1, PieceBytes(input, early.pieces[1]), *state, piece));
  ImplodePlan shortRead = plan;
  shortRead.pieces[2].readEnd -= 4096;
  EXPECT_FALSE(ImplodePieceOf(shortRead, 2, PieceBytes(input, shortRead.pieces[2]), *state, piece));
  EXPECT_TRUE(PlanImplode(input.size(), 2, 4096).pieces.empty());
  EXPECT_TRUE(PlanImplode(input.size(), 0, 4000).pieces.empty());
}

}  // namespace
}  // namespace qd::test
