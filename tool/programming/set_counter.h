// The small input dialogs behind the main dialog's hidden buttons: two counter values, and the
// price and description of a test sale. Neither talks to the device; the main dialog sends
// their values after OK.
#pragma once

#include <string>

#include "dialogs/dialog.h"

namespace tillwright {

class CSetCounter : public ui::Dialog {
 public:
  static constexpr ui::ControlId kFirstField = 1038;
  static constexpr ui::ControlId kSecondField = 1023;

  CSetCounter();

  // Device bytes as typed; valid after OK.
  const std::string &First() const { return first_; }
  const std::string &Second() const { return second_; }

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  std::string first_;
  std::string second_;
};

class CenterPrice : public ui::Dialog {
 public:
  static constexpr ui::ControlId kPriceField = 1033;
  static constexpr ui::ControlId kDescriptionField = 1034;

  CenterPrice();

  // A price of 1.00 or more is a question first; No keeps the dialog open.
  void OnOK() override;

  // Device bytes as typed; valid after OK. The price goes out as typed, not as read.
  const std::string &Price() const { return price_; }
  const std::string &Description() const { return description_; }

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  std::string price_;
  std::string description_;
};

}  // namespace tillwright
