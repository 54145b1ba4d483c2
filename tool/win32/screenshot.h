// A picture of a window for people (the README, a bug report), taken from the screen: printing a
// window into a bitmap leaves its controls out under wine, copying the screen does not.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tillwright::win32 {

// The window's client area as it shows on the screen, repainted first with every child and taken
// once the screen holds the paint: a PNG when the path ends in ".png" (any case), else a BMP.
// Serves the calling thread's paint messages meanwhile, so call it from that window's thread. The
// window must be on screen and uncovered. The frame is left out: under wine it is the window
// manager's, or wine's own without one, so only the client area looks alike everywhere. False,
// with nothing written, when the window or the file fails.
bool SaveWindowImage(HWND window, const std::filesystem::path &path);

// Pixels in rows from the top, three bytes (red, green, blue) each.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

// The encoders, kept apart from the screen so that they can be checked alone. The PNG is
// uncompressed (stored deflate blocks), which every reader takes and which needs no library.
std::string EncodePng(const Image &image);
std::string EncodeBmp(const Image &image);

}  // namespace tillwright::win32
