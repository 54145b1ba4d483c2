// The logo the device holds, as a picture: what it would print at the top of a receipt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fiscalsim/device_model.h"

namespace fiscalsim {

// One bit a dot, rows from the top, the leftmost dot in the high bit, 1 for a printed dot.
struct LogoImage {
  int width = 0;   // the widest row sent, in dots
  int height = 0;  // the highest row number sent, plus one
  std::vector<std::vector<uint8_t>> rows;  // (width + 7) / 8 bytes each; rows never sent are blank
};

LogoImage RenderLogo(const DeviceState &state);

// The picture as a PNG file's bytes (one-bit grey, printed dots black); an empty logo gives a
// one-dot white picture.
std::string LogoPng(const LogoImage &image);

}  // namespace fiscalsim
