// The read-only look at the trader details, VAT rates and serial number before fiscalization.
#pragma once

#include <array>
#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"

namespace tillwright {

class CFiscalCheck : public ui::Dialog {
 public:
  static constexpr ui::ControlId kFirstHeaderField = 1033;  // 1033..1040: header lines 0..7
  static constexpr ui::ControlId kFirstRateField = 1063;    // 1063..1066: groups A..D
  static constexpr ui::ControlId kSerialField = 1083;

  explicit CFiscalCheck(ILink &link);

  // Reads everything it shows at once; the device is not asked again.
  void OnInitDialog() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  ILink &link_;
  std::array<std::string, 8> headerLines_;
  std::array<std::string, 4> rates_;
  std::string serial_;
};

}  // namespace tillwright
