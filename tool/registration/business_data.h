// The business premises data: designation and address, working hours, specific purpose and the
// closing flag, read when the dialog opens and written, then concluded, on OK.
#pragma once

#include <array>
#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"

namespace tillwright {

class CBusinessData : public ui::Dialog {
 public:
  static constexpr size_t kAddressFields = 7;
  // Designation, street, house number, addition, postal code, settlement, municipality.
  static constexpr std::array<ui::ControlId, kAddressFields> kAddressIds = {1173, 1135, 1174, 1175, 1176, 1177, 1178};
  static constexpr ui::ControlId kWorkingHours = 1179;
  static constexpr ui::ControlId kSpecificPurpose = 1180;
  static constexpr ui::ControlId kClosingBox = 1181;

  explicit CBusinessData(ILink &link);

  void OnInitDialog() override;
  // Writes, concludes and closes, whatever the device answered.
  void OnOK() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  // False, with the send not done and the box shown, when the write failed.
  bool Write(uint16_t code, std::string data);

  ILink &link_;
  std::array<std::string, kAddressFields> address_;  // device bytes
  std::string workingHours_;
  std::string specificPurpose_;
  bool closing_ = false;
};

}  // namespace tillwright
