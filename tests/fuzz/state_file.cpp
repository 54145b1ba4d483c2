// fiscal-sim's state file reader: whatever the file holds, it is refused with a reason or taken
// whole; what it takes writes back to a text that reads the same, and the device runs on it:
// the queries and the logo picture that read the loaded fields must not fail.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fiscalsim/device_model.h"
#include "fiscalsim/logo_image.h"
#include "fiscalsim/state_file.h"

namespace {

using namespace fiscalsim;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  std::string error;
  const std::optional<DeviceState> state = ParseState(text, &error);
  if (!state) {
    Require(!error.empty());
    return 0;
  }
  const std::string written = SerialiseState(*state);
  const std::optional<DeviceState> again = ParseState(written, &error);
  Require(again && *again == *state && SerialiseState(*again) == written);

  DeviceModel model([] { return std::chrono::system_clock::time_point(std::chrono::hours(24 * 365 * 55)); });
  model.State() = *state;
  for (const uint8_t code :
       {command::kDateTime, command::kTaxRates, command::kDaySums, command::kDaySumsByGroup, command::kClosureStatus,
        command::kFreeClosures, command::kReceiptInfo, command::kServiceCash, command::kDayInfo, command::kClerkInfo,
        command::kLastDocument, command::kConstants, command::kPrinterStatus}) {
    model.Execute(code, "");
  }
  model.Execute(command::kClosureStatus, "T");
  model.Execute(command::kArticles, "F");
  model.Execute(command::kArticles, "N");
  model.Execute(command::kSale, "X\tA1.00*1,0");
  model.Execute(command::kTotal, "\t");
  model.Execute(command::kCloseReceipt, "");
  model.Execute(command::kReport, "0");
  LogoPng(RenderLogo(model.State()));
  return 0;
}
