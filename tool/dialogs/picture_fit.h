// A one-bit picture (the logo) fitted into a picture control, the same in every host: shown at a
// whole multiple of its size when it fits, so that every dot stays square and sharp; else shrunk
// to the control, each shown pixel as grey as the share of black dots it covers. Centred.
#pragma once

#include <cstdint>
#include <vector>

namespace tillwright::ui {

struct PictureFit {
  int width = 0;  // the picture as shown
  int height = 0;
  int left = 0;  // its place in the control
  int top = 0;
  // Grey levels, `width` a row from the top, 0 black to 255 white; empty when nothing shows.
  std::vector<uint8_t> greys;
};

// `rows`: `height` rows of (width + 7) / 8 bytes, the first dot in the highest bit, 1 black. A
// picture with no dots, too few bytes for its size, or a control with no room shows nothing.
PictureFit FitPicture(int roomWidth, int roomHeight, int width, int height, const std::vector<uint8_t> &rows);

}  // namespace tillwright::ui
