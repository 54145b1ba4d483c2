// A picture of a dialog as the screen shows it, in both formats, read back as a viewer would.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "host_support.h"
#include "host_test_ids.h"
#include "win32/screenshot.h"

namespace tillwright::win32::testing {
namespace {

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

uint32_t Big(const std::string &data, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(data.at(at + i));
  return value;
}

uint32_t Little(const std::string &data, size_t at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = bytes; i-- > 0;) value = (value << 8) | static_cast<uint8_t>(data.at(at + i));
  return value;
}

uint32_t Crc(const std::string &data, size_t from, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < from + length; ++i) {
    crc ^= static_cast<uint8_t>(data[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// The pixel bytes of a PNG whose deflate stream holds only stored blocks, rows with their filter
// bytes; empty when a chunk's CRC or the stream's checksum is wrong.
std::string PngPixels(const std::string &png, uint32_t &width, uint32_t &height) {
  std::string stream;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = Big(png, at);
    const std::string type = png.substr(at + 4, 4);
    if (Crc(png, at + 4, length + 4) != Big(png, at + 8 + length)) return {};
    if (type == "IHDR") {
      width = Big(png, at + 8);
      height = Big(png, at + 12);
    }
    if (type == "IDAT") stream += png.substr(at + 8, length);
    at += 12 + length;
  }
  std::string pixels;
  size_t at = 2;
  bool last = false;
  while (!last && at + 5 <= stream.size()) {
    last = (stream[at] & 1) != 0;
    const uint32_t length = Little(stream, at + 1, 2);
    if ((length ^ Little(stream, at + 3, 2)) != 0xFFFF) return {};
    pixels += stream.substr(at + 5, length);
    at += 5 + length;
  }
  uint32_t a = 1, b = 0;
  for (const char c : pixels) {
    a = (a + static_cast<uint8_t>(c)) % 65521;
    b = (b + a) % 65521;
  }
  return Big(stream, at) == ((b << 16) | a) ? pixels : std::string();
}

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
  DialogHost host(dialog, prompter);
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
