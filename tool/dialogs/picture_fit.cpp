#include "dialogs/picture_fit.h"

#include <algorithm>

namespace tillwright::ui {

PictureFit FitPicture(int roomWidth, int roomHeight, int width, int height, const std::vector<uint8_t> &rows) {
  PictureFit fit;
  const size_t stride = width > 0 ? (static_cast<size_t>(width) + 7) / 8 : 0;
  if (roomWidth <= 0 || roomHeight <= 0 || width <= 0 || height <= 0 ||
      rows.size() < stride * static_cast<size_t>(height)) {
    return fit;
  }
  const auto black = [&](int x, int y) {
    return (rows[stride * static_cast<size_t>(y) + static_cast<size_t>(x) / 8] & (0x80 >> (x % 8))) != 0;
  };
  // The scale as a fraction shown / stored, the same for both directions.
  int num = 1, den = 1;
  if (width <= roomWidth && height <= roomHeight) {
    num = std::max(1, std::min(roomWidth / width, roomHeight / height));
  } else if (static_cast<int64_t>(roomWidth) * height <= static_cast<int64_t>(roomHeight) * width) {
    num = roomWidth;
    den = width;
  } else {
    num = roomHeight;
    den = height;
  }
  fit.width = static_cast<int>(static_cast<int64_t>(width) * num / den);
  fit.height = static_cast<int>(static_cast<int64_t>(height) * num / den);
  fit.left = (roomWidth - fit.width) / 2;
  fit.top = (roomHeight - fit.height) / 2;
  fit.greys.resize(static_cast<size_t>(fit.width) * static_cast<size_t>(fit.height));
  uint8_t *out = fit.greys.data();
  for (int y = 0; y < fit.height; ++y) {
    const int y0 = static_cast<int>(static_cast<int64_t>(y) * den / num);
    const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(y + 1) * den / num));
    for (int x = 0; x < fit.width; ++x, ++out) {
      const int x0 = static_cast<int>(static_cast<int64_t>(x) * den / num);
      const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(x + 1) * den / num));
      int dots = 0;
      int all = 0;
      for (int sy = y0; sy < y1 && sy < height; ++sy)
        for (int sx = x0; sx < x1 && sx < width; ++sx, ++all) dots += black(sx, sy) ? 1 : 0;
      *out = static_cast<uint8_t>(all == 0 ? 255 : 255 - 255 * dots / all);
    }
  }
  return fit;
}

}  // namespace tillwright::ui
