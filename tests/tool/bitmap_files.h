// Bitmap files for the logo tests, made at test time: written here field by field (so that any
// header field can be made wrong), or by ImageMagick's convert where it is installed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tooltest {

// One bit a dot, rows from the top, 1 for a black dot.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint8_t>> rows;  // (width + 7) / 8 bytes each

  bool Black(int x, int y) const { return (rows[static_cast<size_t>(y)][static_cast<size_t>(x) / 8] >> (7 - x % 8)) & 1; }
  // A pattern that differs in every row and column, so that a shifted or mirrored row shows.
  static Picture Pattern(int width, int height) {
    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y) {
      std::vector<uint8_t> row(static_cast<size_t>(width + 7) / 8);
      for (int x = 0; x < width; ++x)
        if ((x * 7 + y * 3) % 5 < 2 || x == y) row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      p.rows.push_back(row);
    }
    return p;
  }
};

// The fields of a one-bit bitmap file; each may be set wrong on purpose.
struct BitmapFile {
  explicit BitmapFile(Picture p) : picture(std::move(p)) {}

  Picture picture;
  bool colour0White = false;  // ImageMagick and most tools put black first
  bool topDown = false;
  uint16_t bitsPerPixel = 1;
  uint32_t compression = 0;
  std::optional<int32_t> width;         // default: the picture's
  std::optional<int32_t> height;        // default: the picture's, negative when top-down
  std::optional<uint32_t> pixelOffset;  // default: 62
  uint32_t infoSize = 40;
  std::optional<size_t> cutTo;          // the file ends after this many bytes
  uint8_t padding = 0x00;               // what fills the bits after the last dot and the row padding

  std::string Bytes() const {
    std::string out;
    const auto put = [&out](uint32_t value, int bytes) {
      for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const size_t rowData = static_cast<size_t>(picture.width + 7) / 8;
    const size_t stride = (rowData + 3) / 4 * 4;
    const uint32_t offset = pixelOffset.value_or(62);
    out += "BM";
    put(static_cast<uint32_t>(62 + stride * picture.rows.size()), 4);
    put(0, 4);
    put(offset, 4);
    put(infoSize, 4);
    put(static_cast<uint32_t>(width.value_or(picture.width)), 4);
    put(static_cast<uint32_t>(height.value_or(topDown ? -picture.height : picture.height)), 4);
    put(1, 2);
    put(bitsPerPixel, 2);
    put(compression, 4);
    put(static_cast<uint32_t>(stride * picture.rows.size()), 4);
    put(2835, 4);
    put(2835, 4);
    put(2, 4);
    put(0, 4);
    const uint32_t black = 0x000000, white = 0xFFFFFF;
    put(colour0White ? white : black, 4);
    put(colour0White ? black : white, 4);
    // A gap before the rows when the offset asks for one; an offset far beyond is a lie the
    // file does not back.
    while (out.size() < offset && offset < 4096) out.push_back(0);
    for (int i = 0; i < picture.height; ++i) {
      const int y = topDown ? i : picture.height - 1 - i;
      std::string row(stride, static_cast<char>(padding));
      for (size_t b = 0; b < rowData; ++b) {
        // A set bit is a black dot in the picture; in the file it is colour 1.
        uint8_t stored = colour0White ? picture.rows[static_cast<size_t>(y)][b]
                                      : static_cast<uint8_t>(~picture.rows[static_cast<size_t>(y)][b]);
        const int dotsHere = std::min(8, picture.width - static_cast<int>(b) * 8);
        if (dotsHere < 8) {
          const uint8_t keep = static_cast<uint8_t>(0xFF << (8 - dotsHere));
          stored = static_cast<uint8_t>((stored & keep) | (padding & ~keep));
        }
        row[b] = static_cast<char>(stored);
      }
      out += row;
    }
    if (cutTo && *cutTo < out.size()) out.resize(*cutTo);
    return out;
  }
};

// A folder of its own for each test's files, removed afterwards. Test programs run side by side
// (and the sanitizers give each the same addresses), so the name is random and the folder must
// be new.
class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    for (;;) {
      const auto path = std::filesystem::temp_directory_path() /
                        ("tool-test-" + std::to_string(random()) + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(path)) {
        path_ = path.generic_string();
        return;
      }
    }
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Write(const std::string &name, const std::string &bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }
  std::string Path(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Why a test that wants ImageMagick's convert cannot have it here; empty when it can. The
// Windows build never looks: whether convert is installed on the Linux side or not, a Windows
// test program would have to start it through wine, and the same checks run on Linux anyway.
inline std::string ConvertUnavailable() {
#ifdef _WIN32
  return "ImageMagick's convert is not looked for in the Windows build; the Linux build runs this check";
#else
  if (std::system("command -v convert >/dev/null 2>&1") == 0) return {};
  return "ImageMagick's convert is not installed";
#endif
}

// Runs convert with `args`; its standard output.
inline std::optional<std::string> Convert(const std::string &args) {
#ifdef _WIN32
  (void)args;
  return std::nullopt;
#else
  FILE *pipe = popen(("convert " + args + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[4096];
  while (const size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  if (pclose(pipe) != 0) return std::nullopt;
  return out;
#endif
}

// A plain PBM ("P1", 1 for black) as a picture.
inline std::optional<Picture> ReadPlainPbm(const std::string &text) {
  std::istringstream in(text);
  std::string magic;
  Picture p;
  if (!(in >> magic >> p.width >> p.height) || magic != "P1") return std::nullopt;
  for (int y = 0; y < p.height; ++y) {
    std::vector<uint8_t> row(static_cast<size_t>(p.width + 7) / 8);
    for (int x = 0; x < p.width; ++x) {
      char c = 0;
      if (!(in >> c)) return std::nullopt;
      if (c == '1') row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    p.rows.push_back(row);
  }
  return p;
}

// What `file` shows (any format convert reads), cropped to its top-left width x height.
inline std::optional<Picture> PixelsOf(const std::string &file, int width, int height) {
  const auto pbm = Convert(file + " -crop " + std::to_string(width) + "x" + std::to_string(height) +
                           "+0+0 +repage -compress none pbm:-");
  if (!pbm) return std::nullopt;
  return ReadPlainPbm(*pbm);
}

}  // namespace tooltest
