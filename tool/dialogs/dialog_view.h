// What a dialog's logic may do to its controls. Controls are named by their numeric ids, as in
// the dialog templates both front ends load (Qt: a .ui whose object names end in the id, such as
// edit1033; Windows: a DIALOGEX with the same ids). The logic never sees a toolkit type.
//
// Texts are UTF-8 on this side; turning them into device bytes (and back) is the logic's, through
// the code page. Only the user-interface thread calls a view, except Post.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillwright::ui {

using ControlId = int;

// The dialog's own buttons, with the ids the templates give them.
inline constexpr ControlId kIdOk = 1;
inline constexpr ControlId kIdCancel = 2;

// The results a dialog ends with.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;

// What a control reports to the dialog's handler table.
enum class Event {
  Clicked,           // a button, check box or radio button was pressed
  Changed,           // an edit field's text was changed by the person
  SelectionChanged,  // a combo box's or list's selection moved
};

class IDialogView {
 public:
  virtual ~IDialogView() = default;

  // Date and time pickers speak text too: a date as "2014-03-01", a time as "08:00:00" (seconds
  // may be left out when setting); an empty text when the picker holds no valid value.
  virtual std::string Text(ControlId id) const = 0;
  virtual void SetText(ControlId id, std::string_view text) = 0;

  // Check boxes and radio buttons.
  virtual bool Checked(ControlId id) const = 0;
  virtual void SetChecked(ControlId id, bool checked) = 0;

  // Combo boxes and lists: their items and the selected index (-1 for none). New items come
  // with none selected, as a Windows list box or combo box has them after it was refilled.
  virtual std::vector<std::string> Items(ControlId id) const = 0;
  virtual void SetItems(ControlId id, const std::vector<std::string> &items) = 0;
  virtual int Selection(ControlId id) const = 0;
  virtual void SetSelection(ControlId id, int index) = 0;

  // IPv4 address controls: four octets of 0..255 that the person types, or pastes as a dotted
  // address. The address has its first octet in the highest byte. A control left wholly blank
  // reads as 0.0.0.0; one with only some octets blank reads as nothing.
  virtual std::optional<uint32_t> Address(ControlId id) const = 0;
  virtual void SetAddress(ControlId id, uint32_t address) = 0;

  virtual bool Enabled(ControlId id) const = 0;
  virtual void SetEnabled(ControlId id, bool enabled) = 0;
  // Edit fields.
  virtual bool ReadOnly(ControlId id) const = 0;
  virtual void SetReadOnly(ControlId id, bool readOnly) = 0;
  virtual bool Visible(ControlId id) const = 0;
  virtual void SetVisible(ControlId id, bool visible) = 0;
  virtual void SetFocus(ControlId id) = 0;
  virtual ControlId Focus() const = 0;  // 0 when no control of the dialog has it

  // A picture control shows a one-bit image: `rows` holds `height` rows from the top, each
  // (width + 7) / 8 bytes, the leftmost dot in the high bit, 1 for a black dot. The host fits it
  // into the control keeping its proportions; an empty image clears the control.
  virtual void SetImage(ControlId id, int width, int height, const std::vector<uint8_t> &rows) = 0;

  virtual std::string Caption() const = 0;
  virtual void SetCaption(std::string_view caption) = 0;

  // Ends the modal run with `result` once the handler that asks returns.
  virtual void End(int result) = 0;

  // Runs `task` later on the user-interface thread, while the dialog exists; callable from any
  // thread. A task still queued when the dialog ends is dropped. This is how worker threads
  // (the connection monitor, a port scan) reach the controls.
  virtual void Post(std::function<void()> task) = 0;

  // A handle the serial link engine keeps for notifications (never used to send anything).
  virtual int32_t WindowId() const = 0;
};

}  // namespace tillwright::ui
