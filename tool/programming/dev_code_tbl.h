// Downloads the table by which the device prints the codes 0x80..0xFF: its font holds the
// Cyrillic letters at the code page 1251 positions, and the table maps each incoming code of the
// chosen code page onto them.
#pragma once

#include <array>
#include <string>

#include "core/link.h"
#include "dialogs/dialog.h"
#include "settings/settings.h"

namespace tillwright {

class CDevCodeTbl : public ui::Dialog {
 public:
  static constexpr ui::ControlId kCodePageCombo = 1036;
  static constexpr int kWin1251 = kCodePageWin1251;
  static constexpr int kDos = kCodePageDos;

  explicit CDevCodeTbl(ILink &link);

  // The four blocks of command 164 for a code page, in the order they are sent: "80,", "A0,",
  // "C0,", "E0," each followed by the font positions of its 32 codes in hexadecimal.
  static std::array<std::string, 4> Blocks(int codePage);

  void OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  ILink &link_;
  int codePage_ = kWin1251;
};

}  // namespace tillwright
