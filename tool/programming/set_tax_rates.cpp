#include "programming/set_tax_rates.h"

#include <charconv>
#include <string>
#include <vector>
#include <cctype>
#include <cmath>

#include "core/command_codes.h"
#include "dialogs/data_exchange.h"
#include "programming/report_precheck.h"

namespace tillwright {
namespace {

// A rate text read as the C library's strtod would in the "C" locale: blanks first, then the
// longest number there is; no number gives 0. Not strtod itself: the toolkit may have set a
// locale whose decimal point is a comma.
double LeadingNumber(std::string_view text) {
  size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string_view::npos) return 0;
  text.remove_prefix(at);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  // from_chars takes no sign of its own here, and would read "inf" and "nan", which are no rates.
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) return 0;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || !std::isfinite(value)) return 0;
  return negative ? -value : value;
}

// Every piece between commas, empty ones included, so that each keeps its group.
std::vector<std::string_view> Pieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    pieces.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return pieces;
    start = comma + 1;
  }
}

std::string TwoDecimals(double value) {
  char text[400];  // the longest fixed form of a double with two decimals
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  return error == std::errc() ? std::string(text, end) : std::string("0.00");
}

}  // namespace

std::string TaxRatesData(const std::array<double, CSetTaxRates::kDeviceSlots> &rates,
                         const std::array<bool, CSetTaxRates::kDeviceSlots> &undefined) {
  std::string data;
  for (size_t slot = 0; slot < CSetTaxRates::kDeviceSlots; ++slot) {
    if (slot != 0) data += ',';
    data += TwoDecimals(undefined[slot] ? -1.0 : rates[slot]);
  }
  return data;
}

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

// A piece that begins with '-' marks an undefined group; an empty piece is one too, in its own
// place, so that the groups after it keep theirs.
void CSetTaxRates::ReadReply(std::string_view reply) {
  const auto pieces = Pieces(reply);
  for (size_t slot = 0; slot < kDeviceSlots && slot < pieces.size(); ++slot) {
    const std::string_view piece = pieces[slot];
    if (piece.empty()) continue;
    if (piece[0] != '-') undefined_[slot] = false;
    const double value = LeadingNumber(piece);
    if (value >= 0) rates_[slot] = value;
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
