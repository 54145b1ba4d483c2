#include "fiscalsim/logo_image.h"

#include <algorithm>
#include <array>

namespace fiscalsim {
namespace {

uint8_t HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

uint32_t Crc32(const std::string &bytes, size_t from) {
  static const std::array<uint32_t, 256> kTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return table;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < bytes.size(); ++i) crc = kTable[(crc ^ static_cast<uint8_t>(bytes[i])) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void Put32(std::string &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void Chunk(std::string &png, const char *type, const std::string &body) {
  Put32(png, static_cast<uint32_t>(body.size()));
  const size_t typeAt = png.size();
  png += type;
  png += body;
  Put32(png, Crc32(png, typeAt));
}

// A zlib stream of stored (uncompressed) blocks: small logos need no more.
std::string Zlib(const std::string &raw) {
  std::string out = "\x78\x01";
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 0xFFFF);
    const bool last = at + n == raw.size();
    out.push_back(static_cast<char>(last ? 1 : 0));
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(~n & 0xFF));
    out.push_back(static_cast<char>((~n >> 8) & 0xFF));
    out.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (const char c : raw) {
    a = (a + static_cast<uint8_t>(c)) % 65521;
    b = (b + a) % 65521;
  }
  Put32(out, (b << 16) | a);
  return out;
}

}  // namespace

LogoImage RenderLogo(const DeviceState &state) {
  LogoImage image;
  for (const auto &[row, hex] : state.logoRows) {
    image.height = std::max(image.height, static_cast<int>(row) + 1);
    image.width = std::max(image.width, static_cast<int>(hex.size() / 2 * 8));
  }
  const size_t bytes = static_cast<size_t>(image.width) / 8;
  image.rows.assign(static_cast<size_t>(image.height), std::vector<uint8_t>(bytes));
  for (const auto &[row, hex] : state.logoRows) {
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      image.rows[row][i / 2] = static_cast<uint8_t>((HexValue(hex[i]) << 4) | HexValue(hex[i + 1]));
  }
  return image;
}

std::string LogoPng(const LogoImage &image) {
  const int width = std::max(image.width, 1);
  const int height = std::max(image.height, 1);
  const size_t stride = (static_cast<size_t>(width) + 7) / 8;
  // Grey one bit a dot: 0 is black, so a printed dot's 1 is flipped.
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (size_t b = 0; b < stride; ++b) {
      const bool stored = y < image.height && b < image.rows[static_cast<size_t>(y)].size();
      raw.push_back(static_cast<char>(stored ? ~image.rows[static_cast<size_t>(y)][b] : 0xFF));
    }
  }
  std::string header;
  Put32(header, static_cast<uint32_t>(width));
  Put32(header, static_cast<uint32_t>(height));
  header += std::string("\x01\x00\x00\x00\x00", 5);  // 1 bit, grey, deflate, no filter, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", Zlib(raw));
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace fiscalsim
