// Reads the device's VAT rates (groups A, B, C, D and PnP), lets the user change them or mark
// groups undefined, and writes all five back after the report pre-check.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/link.h"
#include "dialogs/dialog.h"
#include "settings/settings.h"

namespace tillwright {

class CSetTaxRates : public ui::Dialog {
 public:
  // Eight slots in the template; only the first five reach the device, the rest stay hidden.
  static constexpr size_t kSlots = 8;
  static constexpr size_t kDeviceSlots = kTaxGroups;
  static constexpr ui::ControlId kFirstRateField = 1079;
  static constexpr ui::ControlId kFirstUndefinedBox = 1043;

  static constexpr ui::ControlId RateField(size_t slot) { return kFirstRateField + static_cast<ui::ControlId>(slot); }
  static constexpr ui::ControlId UndefinedBox(size_t slot) {
    return kFirstUndefinedBox + static_cast<ui::ControlId>(slot);
  }

  explicit CSetTaxRates(ILink &link);

  // Reads the rates (command 97); a failed read leaves every group undefined.
  void OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  void OnUndefined(size_t slot);
  void ApplyReadOnly();
  // The reply of command 97 into the five device slots.
  void ReadReply(std::string_view reply);

  ILink &link_;
  std::array<double, kSlots> rates_{};
  std::array<bool, kSlots> undefined_{};
};

}  // namespace tillwright
