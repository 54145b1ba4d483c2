// Reads back the pictures the programs save: files whole, and PNGs as the tool writes them (stored
// deflate blocks, no compression), checked as a viewer would check them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fiscal_test {

inline std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

inline uint32_t Big(const std::string &data, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<uint8_t>(data.at(at + i));
  return value;
}

inline uint32_t Little(const std::string &data, size_t at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = bytes; i-- > 0;) value = (value << 8) | static_cast<uint8_t>(data.at(at + i));
  return value;
}

inline uint32_t Crc(const std::string &data, size_t from, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < from + length; ++i) {
    crc ^= static_cast<uint8_t>(data[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// The pixel bytes of a PNG whose deflate stream holds only stored blocks, rows with their filter
// bytes; empty when a chunk's CRC or the stream's checksum is wrong.
inline std::string PngPixels(const std::string &png, uint32_t &width, uint32_t &height) {
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

}  // namespace fiscal_test
