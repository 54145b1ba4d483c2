// One dialog's logic over a modal dialog made from its DIALOGEX template: the view by control
// id, and the window's notifications routed into the dialog's handler table.
//
//   WM_INITDIALOG          Attach, then OnInitDialog
//   BN_CLICKED             Clicked (also Enter and Escape as ids 1 and 2; closing the window is 2).
//                          A held Escape's repeats act only in the dialog its press began in.
//   EN_CHANGE              Changed, when the person typed it: the view's own SetText is silent
//   CBN_EDITCHANGE         Changed
//   CBN_SELCHANGE, LBN_SELCHANGE   SelectionChanged (the person's choice; SetSelection is silent)
//   DTN_DATETIMECHANGE     Changed (a date or time picker; SetText is silent)
//   WM_SYSCOMMAND          Clicked, for the dialog's menu actions, which the host appends to the
//                          window's system menu
//   WM_DESTROY             OnDestroy, then Detach; tasks still posted are dropped
//
// Multi-line edit fields speak "\n" to the logic and "\r\n" to the control.
//
// Combo and list items can come with the template: an RCDATA resource named after it with
// "_ITEMS" appended holds pairs of a control id (one 16-bit word) and an item (a UTF-16 text
// ending in a NUL), ended by a zero word, as a dialog framework's initial data has them.
#pragma once

#include <windows.h>

#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "dialogs/dialog.h"
#include "dialogs/dialog_view.h"
#include "dialogs/prompter.h"
#include "platform/mutex.h"
#include "win32/window_stack.h"

namespace tillwright::win32 {

class DialogHost final : public ui::IDialogView {
 public:
  // The dialog runs through `prompter`, its window on `windows` while it is open.
  DialogHost(ui::Dialog &dialog, ui::IPrompter &prompter, WindowStack &windows);
  ~DialogHost() override;
  DialogHost(const DialogHost &) = delete;
  DialogHost &operator=(const DialogHost &) = delete;

  // Runs the dialog modally over `owner` and returns the result it ended with; -1 when the
  // template is missing or cannot be made. An exception that a handler let out ends the run
  // and is thrown again from here, where it can be handled like any other.
  int Run(HWND owner);

  // The dialog's window while it is open, else null.
  HWND Window() const { return window_; }

  std::string Text(ui::ControlId id) const override;
  void SetText(ui::ControlId id, std::string_view text) override;
  bool Checked(ui::ControlId id) const override;
  void SetChecked(ui::ControlId id, bool checked) override;
  std::vector<std::string> Items(ui::ControlId id) const override;
  void SetItems(ui::ControlId id, const std::vector<std::string> &items) override;
  int Selection(ui::ControlId id) const override;
  void SetSelection(ui::ControlId id, int index) override;
  // IP address controls (WC_IPADDRESS).
  std::optional<uint32_t> Address(ui::ControlId id) const override;
  void SetAddress(ui::ControlId id, uint32_t address) override;
  bool Enabled(ui::ControlId id) const override;
  void SetEnabled(ui::ControlId id, bool enabled) override;
  bool ReadOnly(ui::ControlId id) const override;
  void SetReadOnly(ui::ControlId id, bool readOnly) override;
  // Whether the control itself is shown: a control of a dialog not yet on screen still counts
  // as visible when it will show with the dialog.
  bool Visible(ui::ControlId id) const override;
  void SetVisible(ui::ControlId id, bool visible) override;
  void SetFocus(ui::ControlId id) override;
  ui::ControlId Focus() const override;
  // Picture controls are static controls with SS_BITMAP | SS_CENTERIMAGE; the host owns the
  // bitmap it gives them, made to the control's size.
  void SetImage(ui::ControlId id, int width, int height, const std::vector<uint8_t> &rows) override;
  std::string Caption() const override;
  void SetCaption(std::string_view caption) override;
  void End(int result) override;
  void Post(std::function<void()> task) override;
  int32_t WindowId() const override;

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void InitDialog(HWND window);
  void Destroyed();
  void Command(int id, int code, HWND control);
  void RunPosted();
  void LoadTemplateItems();
  void AddMenuActions();
  bool IsMenuAction(ui::ControlId id) const;
  void MoveFocusOff(HWND control);
  void DropPictures();
  HWND Control(ui::ControlId id) const;
  // Runs a handler; what it throws ends the run, to be rethrown by Run.
  void Guarded(const std::function<void()> &handler);

  // Marks a control whose notifications come from the view itself, not from the person.
  class Silence;

  ui::Dialog &dialog_;
  ui::IPrompter &prompter_;
  WindowStack &windows_;
  HWND window_ = nullptr;
  bool attached_ = false;
  bool initializing_ = false;
  bool focusSetInInit_ = false;
  bool ended_ = false;
  ui::ControlId silent_ = 0;
  std::exception_ptr pending_;
  std::map<ui::ControlId, HBITMAP> pictures_;

  // Tasks from any thread, run in order on the user-interface thread. One message is on its way
  // while `signalled_`; the window is null when the dialog is gone and posts are dropped.
  platform::Mutex mutex_;
  HWND mailbox_ GUARDED_BY(mutex_) = nullptr;
  bool signalled_ GUARDED_BY(mutex_) = false;
  std::deque<std::function<void()>> tasks_ GUARDED_BY(mutex_);
};

}  // namespace tillwright::win32
