// Reads and rewrites the eight header lines and the two advertisement lines. Only lines that
// differ from what the device holds are written.
#pragma once

#include <array>
#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"
#include "settings/settings.h"

namespace tillwright {

class CSetheaderFooter : public ui::Dialog {
 public:
  static constexpr size_t kLines = kTextLines;
  static constexpr size_t kHeaderLines = kHeaderTextLines;  // lines 0..7; then the advertisement lines 8 and 9
  // Device line n lives in slot kSlotOfLine[n]; the advertisement lines 8 and 9 in slots 5 and 6.
  static constexpr std::array<size_t, kLines> kSlotOfLine = {0, 1, 2, 3, 4, 7, 8, 9, 5, 6};
  // The slots the "unfixed" box locks: the first four.
  static constexpr size_t kUnfixedSlots = 4;
  // Slot s is edit field kFirstField + s.
  static constexpr ui::ControlId kFirstField = 1033;
  static constexpr ui::ControlId kAdvertisementOnlyBox = 1043;
  static constexpr ui::ControlId kUnfixedOnlyBox = 1044;

  static constexpr ui::ControlId SlotField(size_t slot) { return kFirstField + static_cast<ui::ControlId>(slot); }

  explicit CSetheaderFooter(ILink &link);

  // Reads lines 0..9, stopping at the first failure.
  void OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  void ApplyReadOnly(bool advertisementBox);

  ILink &link_;
  std::array<std::string, kLines> current_;  // by slot, device bytes
  std::array<std::string, kLines> device_;   // by slot: last read from or written to the device
  bool advertisementOnly_ = false;
  bool unfixedOnly_ = false;
};

}  // namespace tillwright
