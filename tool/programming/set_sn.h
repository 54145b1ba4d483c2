// Asks for the device serial number; the main dialog sends it.
#pragma once

#include <string>

#include "dialogs/dialog.h"

namespace tillwright {

class CSetSN : public ui::Dialog {
 public:
  static constexpr ui::ControlId kSerialField = 1033;

  CSetSN();

  // Device bytes of the number as typed; valid after OK.
  const std::string &SerialNumber() const { return serial_; }

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  std::string serial_;
};

}  // namespace tillwright
