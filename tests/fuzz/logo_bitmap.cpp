// The logo's bitmap reader over any file, and the reply with the device's logo limits.
//
// Input: byte 0 is the length n of the limits reply (command 128) that follows it; the rest is
// the file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/fields.h"
#include "programming/logo_bitmap.h"

namespace {

using namespace tillwright;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

size_t Digits(size_t value) { return std::to_string(value).size(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t replySize = std::min<size_t>(data[0], size - 1);
  const std::string reply(reinterpret_cast<const char *>(data + 1), replySize);
  const std::string file(reinterpret_cast<const char *>(data + 1 + replySize), size - 1 - replySize);

  LogoLimits limits{48, 96};
  ReadLogoLimits(reply, limits);

  LogoBitmap::Error error = LogoBitmap::Error::None;
  auto bitmap = LogoBitmap::Read(std::make_unique<std::istringstream>(file), &error);
  if (!bitmap) {
    Require(error == LogoBitmap::Error::InvalidFormat);
    return 0;
  }
  Require(error == LogoBitmap::Error::None);
  Require(bitmap->Width() > 0 && bitmap->Height() > 0);
  // Every row the headers promise lies inside the file.
  Require(static_cast<uint64_t>(bitmap->Height()) * ((static_cast<uint64_t>(bitmap->Width()) + 7) / 8) <= file.size());

  for (const LogoLimits &l : {limits, LogoLimits{0xFFFF, 0xFFFF}, LogoLimits{1, 1}}) {
    const LogoPlan plan = bitmap->PlanFor(l);
    Require(plan.rows <= bitmap->Height() && plan.rows <= l.maxRows);
    Require(plan.rowBytes <= l.maxRowBytes && plan.rowBytes <= kLogoRowBuffer);
    Require(plan.dots >= 0 && static_cast<size_t>(plan.dots) <= 8 * plan.rowBytes);
    std::vector<uint8_t> row;
    for (size_t r = 0; r < plan.rows; ++r) {
      Require(bitmap->ReadRow(r, plan.rowBytes, row));
      Require(row.size() == plan.rowBytes);
      // "<row>,<hex>" fits the data of one frame.
      Require(Digits(r) + 1 + HexBytes(row).size() <= 219);
    }
  }
  return 0;
}
