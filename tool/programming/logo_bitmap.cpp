#include "programming/logo_bitmap.h"

#include <algorithm>
#include <limits>

#include "core/fields.h"
#include "framecodec/frame.h"
#include "platform/files.h"

namespace tillwright {
namespace {

// Offsets in the file.
constexpr size_t kPixelOffsetAt = 10;
constexpr size_t kInfoHeaderAt = 14;
constexpr size_t kWidthAt = 18;
constexpr size_t kHeightAt = 22;
constexpr size_t kBitsPerPixelAt = 28;
constexpr size_t kCompressionAt = 30;
// The file header and the smallest information header that has these fields.
constexpr size_t kHeadersSize = 54;
constexpr uint32_t kSmallestInfoHeader = 40;

uint32_t Little(const uint8_t *at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = bytes; i-- > 0;) value = (value << 8) | at[i];
  return value;
}

size_t Digits(size_t value) {
  size_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

// The decimal number a text begins with, as the C library reads one (blanks first, a sign, then
// digits up to the first other character; none gives 0), held within 16 unsigned bits.
uint16_t Leading16(const std::string &text) {
  size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) return 0;
  bool negative = false;
  if (text[at] == '+' || text[at] == '-') negative = text[at++] == '-';
  uint32_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = std::min<uint32_t>(value * 10 + static_cast<uint32_t>(text[at] - '0'), 10'000'000);
  }
  if (negative) return 0;
  return static_cast<uint16_t>(std::min<uint32_t>(value, std::numeric_limits<uint16_t>::max()));
}

}  // namespace

void ReadLogoLimits(const std::string &reply, LogoLimits &limits) {
  const auto pieces = SplitFields(reply);
  if (!pieces.empty()) {
    // The width in dots may itself be beyond 16 bits; its bytes are not.
    const std::string &dots = pieces[0];
    size_t at = dots.find_first_not_of(" \t\n\v\f\r");
    uint64_t value = 0;
    bool negative = false;
    if (at != std::string::npos) {
      if (dots[at] == '+' || dots[at] == '-') negative = dots[at++] == '-';
      for (; at < dots.size() && dots[at] >= '0' && dots[at] <= '9'; ++at)
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(dots[at] - '0'), 1'000'000'000);
    }
    limits.maxRowBytes = negative ? 0 : static_cast<uint16_t>(std::min<uint64_t>(value / 8, 0xFFFF));
  }
  if (pieces.size() > 1) limits.maxRows = Leading16(pieces[1]);
}

size_t MaxLogoRowBytes(size_t rows) {
  const size_t largestRow = rows > 0 ? rows - 1 : 0;
  const size_t fits = (framecodec::kMaxRequestData - Digits(largestRow) - 1) / 2;
  return std::min(fits, kLogoRowBuffer);
}

std::unique_ptr<LogoBitmap> LogoBitmap::Open(const std::string &path, Error *error, std::string *why) {
  std::string reason;
  // Only a regular file: a FIFO or a device given by mistake would block or never end.
  auto stream = platform::OpenRegularFile(path, &reason);
  if (!stream) {
    *error = Error::CannotOpen;
    if (why != nullptr) *why = reason;
    return nullptr;
  }
  return Read(std::move(stream), error);
}

std::unique_ptr<LogoBitmap> LogoBitmap::Read(std::unique_ptr<std::istream> stream, Error *error) {
  *error = Error::InvalidFormat;
  stream->seekg(0, std::ios::end);
  const std::streamoff end = stream->tellg();
  if (!*stream || end < static_cast<std::streamoff>(kHeadersSize)) return nullptr;
  const auto size = static_cast<uint64_t>(end);
  uint8_t headers[kHeadersSize];
  stream->seekg(0);
  if (!stream->read(reinterpret_cast<char *>(headers), sizeof headers)) return nullptr;

  const uint32_t bitsPerPixel = Little(headers + kBitsPerPixelAt, 2);
  const uint32_t compression = Little(headers + kCompressionAt, 4);
  if (bitsPerPixel >= 2 || compression != 0) return nullptr;
  // Smaller headers (the oldest kind) keep their fields elsewhere.
  const uint32_t infoSize = Little(headers + kInfoHeaderAt, 4);
  if (infoSize < kSmallestInfoHeader) return nullptr;
  const auto width = static_cast<int32_t>(Little(headers + kWidthAt, 4));
  const auto height = static_cast<int32_t>(Little(headers + kHeightAt, 4));
  if (width <= 0 || height == 0) return nullptr;

  // The colour table follows the information header, whatever its size: 54 for the usual one.
  const uint64_t colourAt = kInfoHeaderAt + uint64_t{infoSize};
  uint8_t colour0[4];
  if (colourAt + sizeof colour0 > size) return nullptr;
  stream->seekg(static_cast<std::streamoff>(colourAt));
  if (!stream->read(reinterpret_cast<char *>(colour0), sizeof colour0)) return nullptr;

  auto bitmap = std::unique_ptr<LogoBitmap>(new LogoBitmap());
  bitmap->width_ = width;
  bitmap->topDown_ = height < 0;
  bitmap->rows_ = height < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(height)) : static_cast<uint32_t>(height);
  const uint64_t rowData = (static_cast<uint64_t>(width) + 7) / 8;
  bitmap->stride_ = (rowData + 3) / 4 * 4;
  bitmap->pixelOffset_ = Little(headers + kPixelOffsetAt, 4);
  bitmap->inverted_ = colour0[0] != 255 || colour0[1] != 255 || colour0[2] != 255;
  // Every row the headers promise is there (the last may lack its padding), so no row can run
  // past the end of the file, whichever of them the device's limits let through.
  const uint64_t lastRowAt = bitmap->pixelOffset_ + (uint64_t{bitmap->rows_} - 1) * bitmap->stride_;
  if (lastRowAt + rowData > size) return nullptr;
  bitmap->stream_ = std::move(stream);
  *error = Error::None;
  return bitmap;
}

LogoPlan LogoBitmap::PlanFor(const LogoLimits &limits) const {
  LogoPlan plan;
  const uint64_t rowData = (static_cast<uint64_t>(width_) + 7) / 8;
  uint64_t rowBytes = rowData;
  if (static_cast<uint64_t>(width_) >= 8 * uint64_t{limits.maxRowBytes}) {
    rowBytes = limits.maxRowBytes;
    plan.croppedByDevice = rowBytes < rowData;
  }
  plan.rows = std::min<size_t>(rows_, limits.maxRows);
  plan.croppedByDevice = plan.croppedByDevice || plan.rows < rows_;
  const size_t fits = MaxLogoRowBytes(plan.rows);
  if (rowBytes > fits) {
    rowBytes = fits;
    plan.croppedByFrame = true;
  }
  plan.rowBytes = static_cast<size_t>(rowBytes);
  plan.dots = static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(width_), 8 * rowBytes));
  return plan;
}

bool LogoBitmap::ReadRow(size_t row, size_t bytes, std::vector<uint8_t> &out) {
  const uint64_t rowData = (static_cast<uint64_t>(width_) + 7) / 8;
  if (row >= rows_ || bytes > rowData) return false;
  const uint64_t stored = topDown_ ? row : rows_ - 1 - row;
  out.resize(bytes);
  if (bytes == 0) return true;
  stream_->clear();
  stream_->seekg(static_cast<std::streamoff>(pixelOffset_ + stored * stride_));
  if (!stream_->read(reinterpret_cast<char *>(out.data()), static_cast<std::streamsize>(bytes))) return false;
  if (inverted_) {
    for (uint8_t &b : out) b = static_cast<uint8_t>(~b);
  }
  // The padding bits after the last dot are no part of the picture: sent as they stand, they
  // would print as dots wherever colour 0 is black.
  if (bytes == rowData && width_ % 8 != 0) out.back() &= static_cast<uint8_t>(0xFF << (8 - width_ % 8));
  return true;
}

}  // namespace tillwright
