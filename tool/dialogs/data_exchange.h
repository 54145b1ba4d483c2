// Moves a dialog's fields to its controls or back, validating on the way back with the messages
// people know from dialog frameworks. The first refused field stops the exchange: its message is
// shown, the focus goes to its control, and Failed() becomes true.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dialogs/dialog_view.h"
#include "dialogs/prompter.h"

namespace tillwright::ui {

class DataExchange {
 public:
  // The messages, with %1 and %2 for the limits.
  static constexpr const char *kNotANumber = "Please enter a number.";
  static constexpr const char *kIntegerRange = "Please enter an integer between %1 and %2.";
  static constexpr const char *kNotAnInteger = "Please enter an integer.";
  static constexpr const char *kTooLong = "Please enter no more than %1 characters.";

  DataExchange(IDialogView &view, IPrompter &prompter, bool fromControls);

  bool FromControls() const { return fromControls_; }
  bool Failed() const { return failed_; }

  // A text field; `maxChars` (counted in characters, not bytes; 0 for no limit) is checked on
  // the way back. The field holds UTF-8: device bytes are converted by the caller.
  void Text(ControlId id, std::string &field, size_t maxChars = 0);
  // An integer within [min, max] (the message names the limits).
  void Integer(ControlId id, int32_t &field, int32_t min, int32_t max);
  // An integer whose limits are checked apart (MinMax): a text that is no integer is refused
  // with kNotAnInteger, one in range of no 32-bit integer with kIntegerRange.
  void Integer(ControlId id, int32_t &field);
  // Refuses `value`, just taken from control `id`, when it lies outside [min, max].
  void MinMax(ControlId id, int32_t value, int32_t min, int32_t max);
  // A decimal number, printed back with `decimals` places, or with up to 15 significant digits
  // and no trailing zeros when `decimals` is kShortest (20 shows as 20, 9.5 as 9.5).
  static constexpr int kShortest = -1;
  void Number(ControlId id, double &field, int decimals = 2);
  void Check(ControlId id, bool &field);
  // The index of the checked radio button among ids first..last, -1 for none.
  void Radio(ControlId first, ControlId last, int &field);
  // The selected index of a combo box or list.
  void Selection(ControlId id, int &field);

  // Refuses a field for a reason of the dialog's own (the check after a binding): the message
  // shows, the focus goes to the control and the exchange stops.
  void Refuse(ControlId id, std::string_view message);

 private:

  IDialogView &view_;
  IPrompter &prompter_;
  const bool fromControls_;
  bool failed_ = false;
};

}  // namespace tillwright::ui
