// The Qt front end of a dialog's logic: loads the dialog's template (a .ui compiled into the
// program's resources under /templates, named by the dialog's TemplateName()), finds its controls
// by object name (a kind word followed by the control id: edit1033, button1084, label1097,
// check1043, combo1039, radio1050, list1060, date1163, time1169, picture1200, address1182), serves the logic's view over them and routes their
// signals into the logic's handler table. Nothing in it knows any one dialog.
#pragma once

#include <QPointer>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dialogs/dialog.h"
#include "dialogs/dialog_view.h"
#include "dialogs/prompter.h"
#include "qt/window_stack.h"

class QAction;
class QDialog;
class QWidget;

namespace tillwright::qt {

class HostWindow;
struct PostBox;

// Makes the program's resources (templates, icon) reachable; DialogHost does it itself.
void InitResources();

class DialogHost final : public ui::IDialogView {
 public:
  // Loads the template; throws std::runtime_error when it is missing, is not a dialog, or names
  // one control id twice. The window opens over `parent`, and is on `windows` while it runs.
  DialogHost(ui::Dialog &dialog, ui::IPrompter &prompter, WindowStack &windows, QWidget *parent = nullptr);
  ~DialogHost() override;
  DialogHost(const DialogHost &) = delete;
  DialogHost &operator=(const DialogHost &) = delete;

  // The modal run: OnInitDialog, the window until the logic ends it, OnDestroy; the result.
  int Exec();
  // A run the caller drives (the demo, tests): OnInitDialog, then the window shown without
  // modality when `show`. Close ends it with OnDestroy; so does the destructor.
  void Open(bool show = true);
  void Close();

  QDialog &Window() const;
  // Null when the template has no such control.
  QWidget *Control(ui::ControlId id) const;
  std::vector<ui::ControlId> ControlIds() const;
  // The action of one of the dialog's menu actions (named action<id>); null when it has none.
  QAction *MenuAction(ui::ControlId id) const;
  // Ids the logic asked for that the template lacks (each also traced once to stderr).
  const std::set<ui::ControlId> &Missing() const { return missing_; }
  // The result the logic ended with, if it did.
  bool Ended() const { return ended_; }
  int Result() const { return result_; }

  // The view.
  std::string Text(ui::ControlId id) const override;
  void SetText(ui::ControlId id, std::string_view text) override;
  bool Checked(ui::ControlId id) const override;
  void SetChecked(ui::ControlId id, bool checked) override;
  std::vector<std::string> Items(ui::ControlId id) const override;
  void SetItems(ui::ControlId id, const std::vector<std::string> &items) override;
  int Selection(ui::ControlId id) const override;
  void SetSelection(ui::ControlId id, int index) override;
  // Address controls are line edits named address<id>, which take only what can grow into a
  // dotted address.
  std::optional<uint32_t> Address(ui::ControlId id) const override;
  void SetAddress(ui::ControlId id, uint32_t address) override;
  bool Enabled(ui::ControlId id) const override;
  void SetEnabled(ui::ControlId id, bool enabled) override;
  bool ReadOnly(ui::ControlId id) const override;
  void SetReadOnly(ui::ControlId id, bool readOnly) override;
  bool Visible(ui::ControlId id) const override;
  void SetVisible(ui::ControlId id, bool visible) override;
  void SetFocus(ui::ControlId id) override;
  ui::ControlId Focus() const override;
  void SetImage(ui::ControlId id, int width, int height, const std::vector<uint8_t> &rows) override;
  std::string Caption() const override;
  void SetCaption(std::string_view caption) override;
  void End(int result) override;
  void Post(std::function<void()> task) override;
  int32_t WindowId() const override;

 private:
  friend class HostWindow;

  QWidget *Find(ui::ControlId id) const;  // notes a missing id
  void AddMenuActions();
  void Connect(ui::ControlId id, QWidget *widget);
  // A control's event, unless the view itself is changing that control.
  void Dispatch(ui::ControlId id, ui::Event event);
  void Report(const char *what) const;

  ui::Dialog &dialog_;
  ui::IPrompter &prompter_;
  WindowStack &windows_;
  QPointer<HostWindow> window_;
  std::map<ui::ControlId, QWidget *> controls_;
  mutable std::set<ui::ControlId> missing_;
  std::shared_ptr<PostBox> box_;
  int updating_ = 0;  // > 0 while a setter of the view runs: its signals are not the person's
  bool open_ = false;
  bool ended_ = false;
  int result_ = ui::kResultCancel;
};

}  // namespace tillwright::qt
