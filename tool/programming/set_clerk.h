// The device's operators (clerks): CSetClerkName writes an operator's number, password, name and
// identification number; CSetClerkPass changes an operator's password. Neither reads anything
// from the device; both start empty with operator number 0.
#pragma once

#include <cstdint>
#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"
#include "settings/settings.h"

namespace tillwright {

class CSetClerkName : public ui::Dialog {
 public:
  static constexpr ui::ControlId kNumberField = 1033;
  static constexpr ui::ControlId kPasswordField = 1034;
  static constexpr ui::ControlId kNameField = 1035;
  static constexpr ui::ControlId kIdNumberField = 1172;
  static constexpr ui::ControlId kSingleReceiptBox = 1194;
  static constexpr size_t kIdNumberMax = kOperatorIdNumberMax;
  // A device that keeps failing gets the same write this many times in all.
  static constexpr int kSends = 7;

  explicit CSetClerkName(ILink &link);

  // The report pre-check, then command 102; closes whatever the sends' outcome.
  void OnOK() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  ILink &link_;
  int32_t number_ = 0;
  // Device bytes.
  std::string password_;
  std::string name_;
  std::string idNumber_;
  // Kept, never sent: nothing on the device is known to take it.
  bool singleReceipt_ = false;
};

class CSetClerkPass : public ui::Dialog {
 public:
  static constexpr ui::ControlId kNumberField = 1033;
  static constexpr ui::ControlId kOldPasswordField = 1034;
  static constexpr ui::ControlId kNewPasswordField = 1035;

  explicit CSetClerkPass(ILink &link);

  // Command 101 once; closes whatever its outcome.
  void OnOK() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  ILink &link_;
  int32_t number_ = 0;
  std::string oldPassword_;
  std::string newPassword_;
};

}  // namespace tillwright
