#include "win32/screenshot.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <fstream>

namespace tillwright::win32 {
namespace {

void Big32(std::string &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void Little(std::string &out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t Crc32(const std::string &data, size_t from) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < data.size(); ++i) crc = table[(crc ^ static_cast<uint8_t>(data[i])) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void Chunk(std::string &png, const char *type, const std::string &data) {
  Big32(png, static_cast<uint32_t>(data.size()));
  const size_t start = png.size();
  png.append(type, 4);
  png.append(data);
  Big32(png, Crc32(png, start));
}

bool EndsWithPng(const std::filesystem::path &path) {
  std::wstring extension = path.extension().wstring();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return extension == L".png";
}

// The client area's pixels as the screen shows them.
bool Capture(HWND window, Image &image) {
  RECT client{};
  ::GetClientRect(window, &client);
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (width <= 0 || height <= 0) return false;

  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // rows from the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (bitmap != nullptr && memory != nullptr) {
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    copied = ::BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY | CAPTUREBLT) != FALSE;
    ::GdiFlush();
    if (copied) {
      image.width = width;
      image.height = height;
      image.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
      const auto *source = static_cast<const uint8_t *>(bits);  // blue, green, red, unused
      for (size_t pixel = 0; pixel < static_cast<size_t>(width) * static_cast<size_t>(height); ++pixel) {
        image.rgb[pixel * 3] = source[pixel * 4 + 2];
        image.rgb[pixel * 3 + 1] = source[pixel * 4 + 1];
        image.rgb[pixel * 3 + 2] = source[pixel * 4];
      }
    }
    ::SelectObject(memory, previous);
  }
  if (bitmap != nullptr) ::DeleteObject(bitmap);
  if (memory != nullptr) ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return copied;
}

// Serves the window's paint messages until none is left (bounded: a window that never validates
// what it paints must not hold the picture up for ever). Paint only: this runs inside the
// caller's own work, and the caller's other queued work (even the end of the dialog) must not run
// under it.
void ServePaint() {
  MSG message;
  for (int handled = 0; handled < 1000 && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT); ++handled) {
    ::DispatchMessageW(&message);
  }
}

// The picture once every child has painted and the screen holds it. Painting reaches a DC in
// the program at once, but wine copies a window's drawing to the screen only when its thread
// looks into its queue and finds nothing: a picture taken right after the repaint missed
// controls now and then (a flat area where a button stands). So the whole window is repainted
// with its children, its paint messages are served until none is left, and pictures are taken
// until two in a row agree.
bool CaptureSettled(HWND window, Image &image) {
  if (::IsWindow(window) == FALSE) return false;
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Image previous;
  for (int attempt = 0; attempt < 20; ++attempt) {
    ServePaint();
    ::GdiFlush();
    if (!Capture(window, image)) return false;
    if (attempt > 0 && image.width == previous.width && image.height == previous.height && image.rgb == previous.rgb) {
      return true;
    }
    previous = image;
    // Sleeps until something is to be painted or a moment has passed.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_PAINT);
  }
  return true;  // still changing (a caret blinking): the latest is as good as any
}

}  // namespace

std::string EncodePng(const Image &image) {
  // Each row behind a filter byte of 0 (none), the whole in a zlib stream of stored blocks.
  const size_t rowBytes = static_cast<size_t>(image.width) * 3;
  std::string raw;
  raw.reserve((rowBytes + 1) * static_cast<size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back('\0');
    raw.append(reinterpret_cast<const char *>(image.rgb.data()) + rowBytes * static_cast<size_t>(y), rowBytes);
  }
  std::string zlib = {'\x78', '\x01'};
  size_t at = 0;
  do {
    const size_t length = std::min<size_t>(raw.size() - at, 65535);
    zlib.push_back(at + length == raw.size() ? '\x01' : '\x00');
    Little(zlib, static_cast<uint32_t>(length), 2);
    Little(zlib, static_cast<uint32_t>(~length & 0xFFFF), 2);
    zlib.append(raw, at, length);
    at += length;
  } while (at < raw.size());
  uint32_t a = 1;
  uint32_t b = 0;
  for (const char c : raw) {
    a = (a + static_cast<uint8_t>(c)) % 65521;
    b = (b + a) % 65521;
  }
  Big32(zlib, (b << 16) | a);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  Big32(header, static_cast<uint32_t>(image.width));
  Big32(header, static_cast<uint32_t>(image.height));
  header += {'\x08', '\x02', '\x00', '\x00', '\x00'};  // 8 bits, truecolour, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", zlib);
  Chunk(png, "IEND", {});
  return png;
}

std::string EncodeBmp(const Image &image) {
  // Bottom-up rows of blue, green, red, each padded to four bytes.
  const size_t rowBytes = (static_cast<size_t>(image.width) * 3 + 3) & ~size_t{3};
  const uint32_t pixelBytes = static_cast<uint32_t>(rowBytes * static_cast<size_t>(image.height));
  std::string bmp = "BM";
  Little(bmp, 14 + 40 + pixelBytes, 4);
  Little(bmp, 0, 4);
  Little(bmp, 14 + 40, 4);
  Little(bmp, 40, 4);
  Little(bmp, static_cast<uint32_t>(image.width), 4);
  Little(bmp, static_cast<uint32_t>(image.height), 4);
  Little(bmp, 1, 2);
  Little(bmp, 24, 2);
  for (int i = 0; i < 6; ++i) Little(bmp, 0, 4);  // no compression, sizes and palette left to readers
  for (int y = image.height - 1; y >= 0; --y) {
    const uint8_t *row = image.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width) * 3;
    for (int x = 0; x < image.width; ++x) {
      bmp.push_back(static_cast<char>(row[x * 3 + 2]));
      bmp.push_back(static_cast<char>(row[x * 3 + 1]));
      bmp.push_back(static_cast<char>(row[x * 3]));
    }
    bmp.append(rowBytes - static_cast<size_t>(image.width) * 3, '\0');
  }
  return bmp;
}

bool SaveWindowImage(HWND window, const std::filesystem::path &path) {
  Image image;
  if (!CaptureSettled(window, image)) return false;
  const std::string encoded = EndsWithPng(path) ? EncodePng(image) : EncodeBmp(image);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(encoded.data(), static_cast<std::streamsize>(encoded.size()));
  file.close();
  if (!file) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
  }
  return true;
}

}  // namespace tillwright::win32
