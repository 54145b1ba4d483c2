// A picture of a dialog as the screen shows it, in both formats, read back as a viewer would.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "host_support.h"
#include "host_test_ids.h"
#include "stored_png.h"
#include "win32/screenshot.h"

namespace tillwright::win32::testing {
namespace {

using fiscal_test::Little;
using fiscal_test::PngPixels;
using fiscal_test::ReadFile;

TEST(Win32Pictures, EncodersKeepColoursAndRowOrder) {
  // Red and green on top, blue and white below.
  const Image image{2, 2, {0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}};
  uint32_t width = 0;
  uint32_t height = 0;
  EXPECT_EQ(PngPixels(EncodePng(image), width, height),
            std::string("\0\xFF\0\0\0\xFF\0" "\0\0\0\xFF\xFF\xFF\xFF", 14));
  EXPECT_EQ(width, 2u);
  EXPECT_EQ(height, 2u);
  // Rows from the bottom, blue first, each padded to four bytes.
  const std::string bmp = EncodeBmp(image);
  ASSERT_EQ(bmp.size(), 54u + 16u);
  EXPECT_EQ(Little(bmp, 2, 4), 70u);
  EXPECT_EQ(Little(bmp, 10, 4), 54u);
  EXPECT_EQ(bmp.substr(54), std::string("\xFF\0\0\xFF\xFF\xFF\0\0" "\0\0\xFF\0\xFF\0\0\0", 16));
}

TEST_F(HostTest, APictureOfADialogHoldsWhatTheScreenShows) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  const std::filesystem::path png = folder / "win32_host_dialog.png";
  const std::filesystem::path bmp = folder / "win32_host_dialog.BMP";
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  RECT client{};
  bool savedPng = false;
  bool savedBmp = false;
  RunWith(dialog, host, [&] {
    host.SetText(ID_NAME, "Picture");
    ::GetClientRect(host.Window(), &client);
    savedPng = SaveWindowImage(host.Window(), png);
    savedBmp = SaveWindowImage(host.Window(), bmp);
  });
  ASSERT_TRUE(savedPng);
  ASSERT_TRUE(savedBmp);

  const std::string bmpFile = ReadFile(bmp);
  ASSERT_GT(bmpFile.size(), 54u);
  EXPECT_EQ(bmpFile.substr(0, 2), "BM");
  const uint32_t width = Little(bmpFile, 18, 4);
  const uint32_t height = Little(bmpFile, 22, 4);
  EXPECT_EQ(width, static_cast<uint32_t>(client.right));
  EXPECT_EQ(height, static_cast<uint32_t>(client.bottom));
  EXPECT_EQ(Little(bmpFile, 28, 2), 24u);
  const size_t rowBytes = (width * 3 + 3) & ~3u;
  ASSERT_EQ(bmpFile.size(), 54 + rowBytes * height);
  // Controls and their texts: far more than the one colour of an empty window.
  std::set<uint32_t> colours;
  for (size_t at = 54; at + 3 <= bmpFile.size(); at += 3) colours.insert(Little(bmpFile, at, 3));
  EXPECT_GT(colours.size(), 3u);

  const std::string pngFile = ReadFile(png);
  ASSERT_EQ(pngFile.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  uint32_t pngWidth = 0;
  uint32_t pngHeight = 0;
  const std::string pixels = PngPixels(pngFile, pngWidth, pngHeight);
  EXPECT_EQ(pngWidth, width);
  EXPECT_EQ(pngHeight, height);
  ASSERT_EQ(pixels.size(), (width * 3 + 1) * height);
  // The same picture: the BMP's bottom row is the PNG's last.
  EXPECT_EQ(static_cast<uint8_t>(pixels[(width * 3 + 1) * (height - 1) + 1]), static_cast<uint8_t>(bmpFile[54 + 2]));

  std::filesystem::remove(png);
  std::filesystem::remove(bmp);
  EXPECT_FALSE(SaveWindowImage(nullptr, png));
  EXPECT_FALSE(std::filesystem::exists(png));
}

}  // namespace
}  // namespace tillwright::win32::testing
