#include "programming/set_tax_rates.h"

#include <string>

#include "core/command_codes.h"
#include "dialogs/data_exchange.h"
#include "programming/report_precheck.h"

namespace tillwright {
CSetTaxRates::CSetTaxRates(ILink &link) : Dialog("set_tax_rates"), link_(link) {
  undefined_.fill(true);
  for (size_t slot = 0; slot < kSlots; ++slot) {
    Uses({RateField(slot)});
    On(UndefinedBox(slot), ui::Event::Clicked, [this, slot] { OnUndefined(slot); });
  }
  Uses({ui::kIdOk, ui::kIdCancel});
}

void CSetTaxRates::OnInitDialog() {
  Dialog::OnInitDialog();
  undefined_.fill(true);
  ui::WaitCursor wait(Prompter());
  std::string reply;
  std::string request;
  if (link_.SendCommand(reply, request, cmd::kTaxRates) == 0) ReadReply(reply);
  ApplyReadOnly();
  wait.Restore();
  UpdateData(false);
}

void CSetTaxRates::ReadReply(std::string_view reply) {
  std::array<double, kDeviceSlots> rates{};
  std::array<bool, kDeviceSlots> undefined{};
  for (size_t slot = 0; slot < kDeviceSlots; ++slot) {
    rates[slot] = rates_[slot];
    undefined[slot] = undefined_[slot];
  }
  ReadTaxRates(reply, rates, undefined);
  for (size_t slot = 0; slot < kDeviceSlots; ++slot) {
    rates_[slot] = rates[slot];
    undefined_[slot] = undefined[slot];
  }
}

void CSetTaxRates::DoDataExchange(ui::DataExchange &dx) {
  // The boxes first: a refused rate then still leaves every box's state taken.
  for (size_t slot = 0; slot < kSlots; ++slot) dx.Check(UndefinedBox(slot), undefined_[slot]);
  for (size_t slot = 0; slot < kSlots; ++slot) dx.Number(RateField(slot), rates_[slot], ui::DataExchange::kShortest);
}

void CSetTaxRates::ApplyReadOnly() {
  for (size_t slot = 0; slot < kSlots; ++slot) View().SetReadOnly(RateField(slot), undefined_[slot]);
}

void CSetTaxRates::OnUndefined(size_t slot) {
  if (!UpdateData(true)) {
    // A rate was refused (its message shown, the focus on it): the box still counts, and the
    // person's text stays in the field to be corrected.
    undefined_[slot] = View().Checked(UndefinedBox(slot));
    View().SetReadOnly(RateField(slot), undefined_[slot]);
    return;
  }
  View().SetReadOnly(RateField(slot), undefined_[slot]);
  UpdateData(false);
}

void CSetTaxRates::OnOK() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  if (!ReportPreCheck(link_, Prompter())) return;
  std::array<double, kDeviceSlots> rates{};
  std::array<bool, kDeviceSlots> undefined{};
  for (size_t slot = 0; slot < kDeviceSlots; ++slot) {
    rates[slot] = rates_[slot];
    undefined[slot] = undefined_[slot];
  }
  std::string request = TaxRatesData(rates, undefined);
  std::string reply;
  link_.SendCommand(reply, request, cmd::kSetTaxRates);
  wait.Restore();
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
