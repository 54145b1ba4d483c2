#include "programming/set_clerk.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "dialogs/data_exchange.h"
#include "programming/report_precheck.h"
#include "settings/settings.h"

namespace tillwright {

CSetClerkName::CSetClerkName(ILink &link) : Dialog("set_clerk_name"), link_(link) {
  Uses({kNumberField, kPasswordField, kNameField, kIdNumberField, kSingleReceiptBox, ui::kIdOk, ui::kIdCancel});
}

// Password and name go out between commas; a comma in the identification number would still
// split the operator's record on the device.
void CSetClerkName::DoDataExchange(ui::DataExchange &dx) {
  dx.Integer(kNumberField, number_);
  SeparatedDeviceText(dx, kPasswordField, password_);
  SeparatedDeviceText(dx, kNameField, name_);
  SeparatedDeviceText(dx, kIdNumberField, idNumber_, kIdNumberMax);
  dx.Check(kSingleReceiptBox, singleReceipt_);
}

void CSetClerkName::OnOK() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  if (!ReportPreCheck(link_, Prompter())) return;
  const std::string data = OperatorNameData(number_, password_, name_, idNumber_);
  for (int send = 0; send < kSends; ++send) {
    std::string request = data;
    std::string reply;
    if (link_.SendCommand(reply, request, cmd::kClerkName) == 0) break;
  }
  wait.Restore();
  EndDialog(ui::kResultOk);
}

CSetClerkPass::CSetClerkPass(ILink &link) : Dialog("set_clerk_pass"), link_(link) {
  Uses({kNumberField, kOldPasswordField, kNewPasswordField, ui::kIdOk, ui::kIdCancel});
}

void CSetClerkPass::DoDataExchange(ui::DataExchange &dx) {
  dx.Integer(kNumberField, number_);
  SeparatedDeviceText(dx, kOldPasswordField, oldPassword_);
  SeparatedDeviceText(dx, kNewPasswordField, newPassword_);
}

void CSetClerkPass::OnOK() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  std::string request = OperatorPasswordData(number_, oldPassword_, newPassword_);
  std::string reply;
  link_.SendCommand(reply, request, cmd::kClerkPassword);
  wait.Restore();
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
