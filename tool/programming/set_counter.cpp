#include "programming/set_counter.h"

#include "core/code_page.h"
#include "core/fields.h"
#include "core/messages.h"

namespace tillwright {

CSetCounter::CSetCounter() : Dialog("set_counter") { Uses({kFirstField, kSecondField, ui::kIdOk, ui::kIdCancel}); }

void CSetCounter::DoDataExchange(ui::DataExchange &dx) {
  DeviceText(dx, kFirstField, first_);
  DeviceText(dx, kSecondField, second_);
}

CenterPrice::CenterPrice() : Dialog("enter_price") {
  Uses({kPriceField, kDescriptionField, ui::kIdOk, ui::kIdCancel});
}

void CenterPrice::DoDataExchange(ui::DataExchange &dx) {
  DeviceText(dx, kPriceField, price_);
  DeviceText(dx, kDescriptionField, description_);
}

void CenterPrice::OnOK() {
  if (!UpdateData(true)) return;
  // Read as the device would take a number: what is not one counts as 0 and asks nothing.
  if (LeadingNumber(price_) >= 1.0 && !Prompter().AskYesNo(msg::kTestSaleQuestion)) return;
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
