// A dialog's logic: its fields, its handlers and a table from (control, event) to handler, as a
// message map has it. A front end loads the dialog's template (by TemplateName()), attaches a
// view over its controls, calls OnInitDialog, and hands every control event to Dispatch; the
// logic ends the run through the view. No toolkit type appears here.
//
//   class CSetSN : public Dialog {
//    public:
//     CSetSN() : Dialog("set_sn") { On(1033, Event::Changed, [this] { ... }); }
//     void DoDataExchange(DataExchange &dx) override { dx.Text(1033, serial_, 16); }
//   };
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "dialogs/dialog_view.h"
#include "dialogs/prompter.h"

namespace tillwright::ui {

class DataExchange;

class Dialog {
 public:
  explicit Dialog(std::string templateName);
  virtual ~Dialog();
  Dialog(const Dialog &) = delete;
  Dialog &operator=(const Dialog &) = delete;

  // The template both front ends know the dialog by: "set_header_footer" is
  // resources/set_header_footer.ui and the DIALOGEX named SET_HEADER_FOOTER.
  const std::string &TemplateName() const { return templateName_; }

  // Called by the front end around one modal run. The view and prompter outlive the run.
  void Attach(IDialogView &view, IPrompter &prompter);
  void Detach();
  bool Attached() const { return view_ != nullptr; }

  // After the template's controls exist and before the dialog shows. The default loads the
  // controls from the fields.
  virtual void OnInitDialog();
  // The OK button (id 1): the default takes the fields from the controls and ends with
  // kResultOk when they are valid.
  virtual void OnOK();
  // The Cancel button (id 2), Escape, and closing the window: the default ends with
  // kResultCancel.
  virtual void OnCancel();

  // After the run ended, while the view still exists: threads the dialog started end here.
  virtual void OnDestroy();

  // Runs the handler the table holds for this control and event, if any; OK and Cancel go to
  // OnOK and OnCancel unless the table says otherwise. True when a handler ran.
  bool Dispatch(ControlId id, Event event);

  // The fields to or from the controls through DoDataExchange. Taking them from the controls
  // stops at the first refused field, with its message shown and the focus on it; false then.
  bool UpdateData(bool fromControls);

  // Every control id the logic reaches: those of its handler table and those it declared with
  // Uses. Its template must hold each of them; the hosts' tests check that. Menu actions are no
  // controls and are not among them.
  std::vector<ControlId> Controls() const;

  // An entry of the dialog's window menu: the host shows `text` (on Windows in the window's system
  // menu, on Qt in the dialog's context menu) and sends a choice to Dispatch as (id, Clicked), as
  // a button's click. The ids are multiples of 16 below 0xF000, as a system menu needs them.
  struct MenuAction {
    ControlId id;
    std::string text;
    std::string keys;  // the keys that choose it where the host binds keys, as "Ctrl+Shift+D"; may be empty
  };
  const std::vector<MenuAction> &MenuActions() const { return menu_; }

 protected:
  // Binds the dialog's fields to its controls, both ways.
  virtual void DoDataExchange(DataExchange &dx);

  // An entry of the handler table.
  void On(ControlId id, Event event, std::function<void()> handler);
  // A menu action and its handler.
  void Menu(MenuAction action, std::function<void()> handler);
  // Controls the logic reads or sets outside its handler table (data exchange, labels, buttons
  // it enables).
  void Uses(std::initializer_list<ControlId> ids);

  IDialogView &View() const;
  IPrompter &Prompter() const;
  // Ends the run with a result (through the view).
  void EndDialog(int result);

 private:
  struct Route {
    ControlId id;
    Event event;
    std::function<void()> handler;
  };

  std::string templateName_;
  std::vector<Route> routes_;
  std::vector<ControlId> used_;
  std::vector<MenuAction> menu_;
  IDialogView *view_ = nullptr;
  IPrompter *prompter_ = nullptr;
};

}  // namespace tillwright::ui
