//===- needs_wine.cpp - Every wine test needs wine64 --------------------------===//
//
// Skips the whole wine test program, naming the missing tool, on a machine
// without wine64.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include "support/tools.h"

namespace {

class NeedsWine : public testing::Environment {
 public:
  void SetUp() override { QD_REQUIRE_TOOL(qd::test::Wine64); }
};

// GoogleTest takes the environment over and deletes it at exit.
[[maybe_unused]] testing::Environment* const needsWine = testing::AddGlobalTestEnvironment(new NeedsWine);

}  // namespace
