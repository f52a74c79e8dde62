//===- dialog_screenshot_test.cpp - Pictures of the dialog in its three states ===//
//
// Runs a package of the 64-bit build under the driver on the virtual display
// and photographs the dialog with ImageMagick's import in each state: Ready
// and Done while the driver holds before it presses, Working while the setup
// program holds. The pictures stay in the build tree, screenshots/ready.png,
// working.png and done.png, for a person to look at:
//
//   xvfb-run -a ctest --test-dir build -R DialogScreenshots
//
// Then the pixels of the Ready picture are read back at the side picture's
// bottom edge, 314 pixels below the top of the client area: the window
// colour above it, a line in the button-text colour on it, the button face
// below it.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "e2e/installer_support.h"
#include "support/tools.h"

namespace qd::test {
namespace {

constexpr int PictureWidth = 164;
constexpr int PictureHeight = 314;

std::string Geometry(const ScreenRect& rect, int top, int height) {
  return std::to_string(rect.right - rect.left) + "x" + std::to_string(height) + "+" + std::to_string(rect.left) +
         "+" + std::to_string(top);
}

TEST(DialogScreenshots, ShowTheThreeStatesWithTheLineAtThePicturesBottomEdge) {
  if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows builds";
  QD_REQUIRE_TOOL(Import);
  QD_REQUIRE_TOOL(ImageStream);
  InstallTree tree(Installer::Wine);
  tree.Compose({.behaviour = "screenshots"});
  const fs::path pictures = fs::path(QDPACK_BINARY_DIR) / "screenshots";
  fs::create_directories(pictures);
  const fs::path hold = tree.RunDirectory() / "hold.txt";

  DriveOptions options = tree.WineRun({"QD_SETUP_HOLD=" + WinePath(hold.string())});
  options.presses = {1, 1};
  options.hold = hold.string();
  options.timeoutSeconds = 120;
  std::future<DriverOutput> driven =
      std::async(std::launch::async, [&] { return Drive(tree.Package().string(), {}, options); });

  std::optional<ScreenRect> frame, client;
  for (const char* state : {"ready", "working", "done"}) {
    SCOPED_TRACE(state);
    // The driver, or the setup program, holds at the next state.
    while (!fs::exists(hold) && driven.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    }
    ASSERT_TRUE(fs::exists(hold)) << driven.get().raw;
    const DriverOutput held = ParseDriverOutput(ReadText(hold));
    ASSERT_EQ(held.windows.size(), 1u) << held.raw;
    frame = held.windows[0].frame;
    client = held.windows[0].client;
    ASSERT_TRUE(frame && client) << held.raw;
    const fs::path picture = pictures / (std::string(state) + ".png");
    const RunResult shot = test::Run(Import.path, {"-window", "root", "-crop", Geometry(*frame, frame->top, frame->bottom - frame->top),
                                             "+repage", picture.string()});
    EXPECT_EQ(shot.exitCode, 0) << shot.err;
    fs::remove(hold);
  }
  const DriverOutput out = driven.get();
  EXPECT_EQ(out.exitCode, 0) << out.raw;
  ASSERT_TRUE(out.colours) << out.raw;

  // Three rows across the client area of the Ready picture, from one above
  // the edge to one below it, as 8-bit red, green and blue.
  const ScreenRect inPicture{client->left - frame->left, 0, client->right - frame->left, 0};
  const int edge = client->top - frame->top + PictureHeight;
  const RunResult rows = test::Run(ImageStream.path, {"-map", "rgb", "-storage-type", "char", "-extract",
                                           Geometry(inPicture, edge - 1, 3), (pictures / "ready.png").string(), "-"});
  const int width = client->right - client->left;
  ASSERT_EQ(rows.out.size(), static_cast<std::size_t>(width * 3 * 3)) << rows.err;
  const auto pixel = [&](int row, int x) {
    const auto at = static_cast<std::size_t>((row * width + x) * 3);
    const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(rows.out[i])); };
    return byte(at) << 16 | byte(at + 1) << 8 | byte(at + 2);
  };
  int above = 0, on = 0, below = 0;
  for (int x = 0; x < width; ++x) {
    // Left of the picture's right edge the picture itself shows above the line.
    if (x >= PictureWidth && pixel(0, x) == out.colours->window) ++above;
    if (pixel(1, x) == out.colours->buttonText) ++on;
    if (pixel(2, x) == out.colours->buttonFace) ++below;
  }
  EXPECT_EQ(above, width - PictureWidth) << "the window colour above the edge";
  EXPECT_EQ(on, width) << "the line on the edge";
  EXPECT_EQ(below, width) << "the button face below the edge";
  EXPECT_NE(out.colours->window, out.colours->buttonFace) << "the check tells the two areas apart";
}

}  // namespace
}  // namespace qd::test
