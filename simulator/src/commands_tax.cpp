#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

constexpr int kMaxRate = 9999;  // 99.99 %

}  // namespace

void RegisterTaxCommands(DeviceModel &model) {
  // A defined group as "%.2f", an undefined one as "-".
  model.Register(command::kTaxRates, [](DeviceModel &m, std::string_view) {
    std::string text;
    for (const auto &rate : m.State().taxRates) {
      if (!text.empty()) text += ',';
      text += rate ? FormatHundredths(*rate) : "-";
    }
    return Answer::Ok(text);
  });

  // Five rates; any negative one makes its group undefined. Nothing changes unless all five
  // are good.
  model.Register(command::kSetTaxRates, [](DeviceModel &m, std::string_view data) {
    const auto fields = SplitFields(data, ',');
    if (fields.size() != kTaxGroups) return Answer::SyntaxError();
    std::array<std::optional<int>, kTaxGroups> rates;
    for (size_t i = 0; i < kTaxGroups; ++i) {
      const auto rate = ParseHundredths(fields[i]);
      if (!rate || *rate > kMaxRate) return Answer::SyntaxError();
      if (*rate >= 0) rates[i] = *rate;
    }
    m.State().taxRates = rates;
    return Answer::Ok();
  });
}

}  // namespace fiscalsim
