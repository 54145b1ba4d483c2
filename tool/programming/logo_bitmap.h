// The logo file: a Windows bitmap of one bit per pixel without compression, read one row at a
// time, never whole. Every field of its headers is taken as untrusted: a file that does not hold
// what its headers promise is refused before a row is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "core/app_state.h"

namespace tillwright {

// Reads the reply to command 128 ("<width in dots>,<rows>"): a piece that is there replaces its
// limit, one that is missing leaves it as it was. Numbers beyond 16 bits are held at the nearest
// end of the range instead of wrapping round.
void ReadLogoLimits(const std::string &reply, LogoLimits &limits);

// A row of picture data in the tool's buffer, and on the wire as "<row>,<hex>" inside one frame.
inline constexpr size_t kLogoRowBuffer = 1000;
// The most bytes a row may carry when the rows are numbered 0 .. rows - 1: the largest row
// number with its comma and two hex digits a byte fit the frame's data.
size_t MaxLogoRowBytes(size_t rows);

// What goes to the device: `rowBytes` bytes of each of the top `rows` rows.
struct LogoPlan {
  size_t rowBytes = 0;
  size_t rows = 0;
  int dots = 0;                 // the picture's dots in each row sent
  bool croppedByDevice = false; // wider or taller than the device's largest logo
  bool croppedByFrame = false;  // a row the device would take does not fit one frame
};

class LogoBitmap {
 public:
  enum class Error { None, CannotOpen, InvalidFormat };

  // Opens the file (a UTF-8 path; a regular file only) and reads its headers. With CannotOpen,
  // *why (when given) says why.
  static std::unique_ptr<LogoBitmap> Open(const std::string &path, Error *error, std::string *why = nullptr);
  // The same over any stream that can seek (tests, the fuzz target).
  static std::unique_ptr<LogoBitmap> Read(std::unique_ptr<std::istream> stream, Error *error);

  int Width() const { return width_; }
  uint32_t Height() const { return rows_; }  // the number of rows, whichever way they are stored
  bool TopDown() const { return topDown_; }
  // Colour 0 is not white: every byte is inverted so that a 1 is a printed dot.
  bool Inverted() const { return inverted_; }

  LogoPlan PlanFor(const LogoLimits &limits) const;

  // Row `row` counted from the top, its first `bytes` bytes as the device gets them: inverted
  // when colour 0 is not white, and the bits past the picture's right edge cleared. False when
  // the file fails to give them (it changed since it was opened).
  bool ReadRow(size_t row, size_t bytes, std::vector<uint8_t> &out);

 private:
  LogoBitmap() = default;

  std::unique_ptr<std::istream> stream_;
  uint64_t pixelOffset_ = 0;
  uint64_t stride_ = 0;  // a stored row with its padding to four bytes
  int width_ = 0;
  uint32_t rows_ = 0;
  bool topDown_ = false;
  bool inverted_ = false;
};

}  // namespace tillwright
