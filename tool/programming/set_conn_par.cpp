#include "programming/set_conn_par.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/messages.h"
#include "dialogs/data_exchange.h"
#include "settings/settings.h"

namespace tillwright {

CSetConnPar::CSetConnPar(ILink &link)
    : Dialog("set_conn_par"),
      link_(link),
      apn_(msg::kUndefined),
      user_(msg::kUndefined),
      password_(msg::kUndefined),
      serverUser_(msg::kUndefined),
      serverPassword_(msg::kUndefined),
      serverUrl_(msg::kUndefined),
      commandPath_(msg::kUndefined) {
  Uses({kApnField, kUserField, kPasswordField, kServerPortField, kServerUserField, kServerPasswordField,
        kServerUrlField, kCommandPathField, kPhoneField, kLockStateField, ui::kIdOk, ui::kIdCancel});
  for (ui::ControlId i = 0; i < 4; ++i) Uses({kFirstServerIpField + i});
  for (ui::ControlId i = 0; i < static_cast<ui::ControlId>(kKeyParts); ++i) Uses({kFirstKeyField + i});
  On(kTestButton, ui::Event::Clicked, [this] { OnTest(); });
  On(kUnlockButton, ui::Event::Clicked, [this] { OnUnlock(); });
  // Only the box itself is taken: a click never brings another field's refusal.
  On(kFirstInstallBox, ui::Event::Clicked, [this] {
    firstInstall_ = View().Checked(kFirstInstallBox);
    View().SetReadOnly(kPhoneField, !firstInstall_);
  });
}

void CSetConnPar::DoDataExchange(ui::DataExchange &dx) {
  // These three and the key parts go out between commas.
  SeparatedDeviceText(dx, kApnField, apn_);
  SeparatedDeviceText(dx, kUserField, user_);
  SeparatedDeviceText(dx, kPasswordField, password_);
  for (size_t i = 0; i < serverIp_.size(); ++i)
    dx.Integer(kFirstServerIpField + static_cast<ui::ControlId>(i), serverIp_[i], 0, 255);
  dx.Integer(kServerPortField, serverPort_, 0, 65535);
  dx.Text(kServerUserField, serverUser_);
  dx.Text(kServerPasswordField, serverPassword_);
  dx.Text(kServerUrlField, serverUrl_);
  dx.Text(kCommandPathField, commandPath_);
  dx.Text(kPhoneField, phone_);
  dx.Check(kFirstInstallBox, firstInstall_);
  for (size_t i = 0; i < kKeyParts; ++i)
    SeparatedDeviceText(dx, kFirstKeyField + static_cast<ui::ControlId>(i), key_[i]);
  // Shown, never taken back.
  if (!dx.FromControls()) DeviceText(dx, kLockStateField, lockState_);
}

int CSetConnPar::Send(uint16_t code, std::string data, std::string &reply) {
  return link_.SendCommand(reply, data, code);
}

void CSetConnPar::QueryLock(const std::string &data) {
  std::string reply;
  if (Send(cmd::kLockState, data, reply) != 0) {
    lockState_ = msg::kLockUnknown;
  } else if (!reply.empty() && reply[0] == 'L') {
    lockState_ = msg::kLocked;
  } else {
    lockState_ = std::string(msg::kUnlockedFor) + reply;
  }
}

void CSetConnPar::ShowLockState() { View().SetText(kLockStateField, WidgetCodePage().ToWidget(lockState_)); }

void CSetConnPar::OnInitDialog() {
  Dialog::OnInitDialog();
  QueryLock({});
  {
    ui::WaitCursor wait(Prompter());
    std::string reply;
    if (Send(cmd::kGprs, cmd::kRead, reply) == 0) {
      ReadGprs(reply, apn_, user_, password_);
    }
  }
  UpdateData(false);
  UpdateData(true);
  View().SetReadOnly(kPhoneField, !firstInstall_);
}

void CSetConnPar::OnOK() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  std::string reply;
  if (Send(cmd::kGprs, GprsWriteData(apn_, user_, password_), reply) != 0) {
    wait.Restore();
    Prompter().Inform(msg::kParametersError);
    return;
  }
  Send(cmd::kGprs, cmd::kRead, reply);
}

void CSetConnPar::OnTest() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  std::string reply;
  const bool passed = Send(cmd::kGprsTest, {}, reply) == 0 && reply == "PP";
  wait.Restore();
  Prompter().Inform(passed ? msg::kOkBang : msg::kErrorBang);
}

void CSetConnPar::OnUnlock() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  const std::string key = key_[0] + ',' + key_[1] + ',' + key_[2] + ',' + key_[3];
  std::string reply;
  if (Send(cmd::kUnlock, key, reply) != 0) {
    wait.Restore();
    Prompter().Inform(msg::kErrorBang);
    return;
  }
  QueryLock(key);
  ShowLockState();
}

}  // namespace tillwright
