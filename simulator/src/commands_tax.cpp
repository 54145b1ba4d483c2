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

  // Five rates, or four leaving the last group as it is; any negative one makes its group
  // undefined. Nothing changes unless all are good.
  model.Register(command::kSetTaxRates, [](DeviceModel &m, std::string_view data) {
    const auto fields = SplitFields(data, ',');
    if (fields.size() != kTaxGroups && fields.size() != kTaxGroups - 1) return Answer::SyntaxError();
    std::array<std::optional<int>, kTaxGroups> rates = m.State().taxRates;
    for (size_t i = 0; i < fields.size(); ++i) {
      const auto rate = ParseHundredths(fields[i]);
      if (!rate || *rate > kMaxRate) return Answer::SyntaxError();
      rates[i] = *rate >= 0 ? std::optional<int>(*rate) : std::nullopt;
    }
    m.State().taxRates = rates;
    return Answer::Ok();
  });
}

}  // namespace fiscalsim
