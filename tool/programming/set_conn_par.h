// The device's mobile-data (GPRS) link: access point, user and password, a connection test, and
// the lock with its four-part unlock key. OK writes and leaves the dialog open; Cancel closes it.
#pragma once

#include <array>
#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"

namespace tillwright {

class CSetConnPar : public ui::Dialog {
 public:
  static constexpr ui::ControlId kApnField = 1087;
  static constexpr ui::ControlId kUserField = 1088;
  static constexpr ui::ControlId kPasswordField = 1089;
  // The server group is kept in the dialog only, shown disabled: 1090..1093 its address, then
  // port, user, password and URL.
  static constexpr ui::ControlId kFirstServerIpField = 1090;
  static constexpr ui::ControlId kServerPortField = 1094;
  static constexpr ui::ControlId kServerUserField = 1095;
  static constexpr ui::ControlId kServerPasswordField = 1096;
  static constexpr ui::ControlId kServerUrlField = 1098;
  // Hidden, kept in the dialog only.
  static constexpr ui::ControlId kCommandPathField = 1099;
  static constexpr ui::ControlId kPhoneField = 1097;
  static constexpr ui::ControlId kFirstInstallBox = 1086;
  // 1195..1198
  static constexpr ui::ControlId kFirstKeyField = 1195;
  static constexpr ui::ControlId kLockStateField = 1200;
  static constexpr ui::ControlId kTestButton = 1184;
  static constexpr ui::ControlId kUnlockButton = 1199;

  static constexpr size_t kKeyParts = 4;

  explicit CSetConnPar(ILink &link);

  // Asks for the lock state, then reads the parameters.
  void OnInitDialog() override;
  void OnOK() override;
  void OnTest();
  void OnUnlock();

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  // Command 228 with `data`; the lock state text from its outcome.
  void QueryLock(const std::string &data);
  void ShowLockState();
  int Send(uint16_t code, std::string data, std::string &reply);

  ILink &link_;
  // Device bytes.
  std::string apn_;
  std::string user_;
  std::string password_;
  std::array<int32_t, 4> serverIp_{};
  int32_t serverPort_ = 0;
  std::string serverUser_;
  std::string serverPassword_;
  std::string serverUrl_;
  std::string commandPath_;
  std::string phone_;
  bool firstInstall_ = false;
  std::array<std::string, kKeyParts> key_;
  std::string lockState_;
};

}  // namespace tillwright
