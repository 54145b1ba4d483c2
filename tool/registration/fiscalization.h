// Puts the device into fiscal operation: the SD-card journal is activated first when the device
// says it is not, then the fiscalization command goes out and its answer becomes a message.
#pragma once

#include <string>
#include <string_view>

#include "core/app_state.h"
#include "core/link.h"
#include "dialogs/dialog.h"

namespace tillwright {

// The message for a fiscalization answer; empty for "P" (fiscalized, nothing to say).
std::string_view FiscalizationMessage(std::string_view reply);

class CFiscalization : public ui::Dialog {
 public:
  static constexpr ui::ControlId kSerialField = 1038;
  static constexpr ui::ControlId kTaxNumberField = 1023;
  static constexpr ui::ControlId kVatBox = 1171;

  CFiscalization(AppState &state, ILink &link);

  // Ends with 0 (neither OK nor Cancel) once the fiscalization command went out; stays open when
  // the journal activation is refused or fails.
  void OnOK() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  AppState &state_;
  ILink &link_;
  std::string serial_;     // device bytes
  std::string taxNumber_;  // device bytes
  bool vatRegistered_ = false;
};

}  // namespace tillwright
