#include "registration/fiscal_check.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/fields.h"

namespace tillwright {

CFiscalCheck::CFiscalCheck(ILink &link) : Dialog("fiscal_check"), link_(link) {
  Uses({kFirstHeaderField, kFirstHeaderField + 1, kFirstHeaderField + 2, kFirstHeaderField + 3, kFirstHeaderField + 4,
        kFirstHeaderField + 5, kFirstHeaderField + 6, kFirstHeaderField + 7, kFirstRateField, kFirstRateField + 1,
        kFirstRateField + 2, kFirstRateField + 3, kSerialField, ui::kIdOk, ui::kIdCancel});
}

void CFiscalCheck::OnInitDialog() {
  Dialog::OnInitDialog();
  ui::WaitCursor wait(Prompter());
  // A failed read shows its failure text in the line it would have filled.
  for (size_t k = 0; k < headerLines_.size(); ++k) {
    std::string request = "I" + std::to_string(k);
    link_.SendCommand(headerLines_[k], request, cmd::kTextLine);
  }
  std::string reply;
  std::string request;
  link_.SendCommand(reply, request, cmd::kTaxRates);
  const auto rates = SplitFields(reply);
  for (size_t i = 0; i < rates_.size() && i < rates.size(); ++i) rates_[i] = rates[i];

  reply.clear();
  request = cmd::kDeviceInfoRequest;
  if (link_.SendCommand(reply, request, cmd::kDeviceInfo) == 0) {
    constexpr size_t kSerialIndex = 4;
    const auto info = SplitFields(reply);
    if (info.size() > kSerialIndex) serial_ = info[kSerialIndex];
  }
  wait.Restore();
  UpdateData(false);
}

void CFiscalCheck::DoDataExchange(ui::DataExchange &dx) {
  for (size_t k = 0; k < headerLines_.size(); ++k)
    DeviceText(dx, kFirstHeaderField + static_cast<ui::ControlId>(k), headerLines_[k]);
  for (size_t i = 0; i < rates_.size(); ++i) DeviceText(dx, kFirstRateField + static_cast<ui::ControlId>(i), rates_[i]);
  DeviceText(dx, kSerialField, serial_);
}

}  // namespace tillwright
