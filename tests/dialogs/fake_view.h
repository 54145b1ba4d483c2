// A dialog's controls as a map of states, and a prompter whose answers a test scripts: dialog
// logic runs against these with no toolkit at all.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/dialog.h"
#include "dialogs/dialog_view.h"
#include "dialogs/prompter.h"

namespace tillwright::testing {

struct ControlState {
  std::string text;
  bool checked = false;
  std::vector<std::string> items;
  int selection = -1;
  bool enabled = true;
  bool readOnly = false;
  bool visible = true;
};

class FakeView : public ui::IDialogView {
 public:
  // Controls come into being on first use; a test that wants a template's exact set can check
  // Known().
  std::string Text(ui::ControlId id) const override { return Get(id).text; }
  void SetText(ui::ControlId id, std::string_view text) override { controls_[id].text = std::string(text); }
  bool Checked(ui::ControlId id) const override { return Get(id).checked; }
  void SetChecked(ui::ControlId id, bool checked) override { controls_[id].checked = checked; }
  std::vector<std::string> Items(ui::ControlId id) const override { return Get(id).items; }
  void SetItems(ui::ControlId id, const std::vector<std::string> &items) override { controls_[id].items = items; }
  int Selection(ui::ControlId id) const override { return Get(id).selection; }
  void SetSelection(ui::ControlId id, int index) override { controls_[id].selection = index; }
  bool Enabled(ui::ControlId id) const override { return Get(id).enabled; }
  void SetEnabled(ui::ControlId id, bool enabled) override { controls_[id].enabled = enabled; }
  bool ReadOnly(ui::ControlId id) const override { return Get(id).readOnly; }
  void SetReadOnly(ui::ControlId id, bool readOnly) override { controls_[id].readOnly = readOnly; }
  bool Visible(ui::ControlId id) const override { return Get(id).visible; }
  void SetVisible(ui::ControlId id, bool visible) override { controls_[id].visible = visible; }
  void SetFocus(ui::ControlId id) override { focus_ = id; }
  ui::ControlId Focus() const override { return focus_; }
  std::string Caption() const override { return caption_; }
  void SetCaption(std::string_view caption) override { caption_ = std::string(caption); }
  void End(int result) override { result_ = result; }
  void Post(std::function<void()> task) override { posted_.push_back(std::move(task)); }
  int32_t WindowId() const override { return 42; }

  // What the person does: type into a field, click, choose; each goes through the dialog's
  // handler table as the front ends send it.
  void Type(ui::Dialog &dialog, ui::ControlId id, std::string_view text) {
    SetText(id, text);
    dialog.Dispatch(id, ui::Event::Changed);
  }
  void Click(ui::Dialog &dialog, ui::ControlId id) {
    if (toggles_.count(id) != 0) controls_[id].checked = !controls_[id].checked;
    dialog.Dispatch(id, ui::Event::Clicked);
  }
  void Choose(ui::Dialog &dialog, ui::ControlId id, int index) {
    SetSelection(id, index);
    dialog.Dispatch(id, ui::Event::SelectionChanged);
  }
  // Clicking these flips their check state first, as check boxes do.
  void MakeCheckBox(ui::ControlId id) { toggles_.insert({id, true}); }

  // Runs what worker threads posted, in order; returns how many ran.
  size_t RunPosted() {
    size_t ran = 0;
    while (!posted_.empty()) {
      auto task = std::move(posted_.front());
      posted_.pop_front();
      task();
      ++ran;
    }
    return ran;
  }

  std::optional<int> Result() const { return result_; }
  const std::map<ui::ControlId, ControlState> &Known() const { return controls_; }

 private:
  const ControlState &Get(ui::ControlId id) const {
    static const ControlState kFresh;
    const auto it = controls_.find(id);
    return it == controls_.end() ? kFresh : it->second;
  }

  std::map<ui::ControlId, ControlState> controls_;
  std::map<ui::ControlId, bool> toggles_;
  ui::ControlId focus_ = 0;
  std::string caption_;
  std::optional<int> result_;
  std::deque<std::function<void()>> posted_;
};

// Answers questions as scripted (OK/Yes when the script is empty), records every message, and
// runs child dialogs against fresh fake views through a test-supplied function.
class ScriptedPrompter : public ui::IPrompter {
 public:
  void Inform(std::string_view text, std::string_view caption, ui::Icon) override {
    messages.push_back(std::string(text));
    captions.push_back(std::string(caption));
  }
  bool AskOkCancel(std::string_view text, std::string_view caption, ui::Icon) override { return Ask(text, caption); }
  bool AskYesNo(std::string_view text, std::string_view caption, ui::Icon) override { return Ask(text, caption); }
  void BeginWait() override { ++waitDepth; ++waits; }
  void EndWait() override { --waitDepth; }
  std::optional<std::string> OpenFile(std::string_view, std::string_view) override {
    if (files.empty()) return std::nullopt;
    std::string file = files.front();
    files.pop_front();
    return file;
  }
  void BeginProgress(std::string_view text, int steps, bool) override {
    progress.push_back(std::string(text));
    progressSteps = steps;
    inProgress = true;
  }
  void SetProgress(int step, std::string_view text) override {
    progressStep = step;
    progress.push_back(std::string(text));
  }
  bool Stopped() const override { return stop; }
  void EndProgress() override { inProgress = false; }
  int Run(ui::Dialog &dialog) override {
    runs.push_back(dialog.TemplateName());
    return runChild ? runChild(dialog) : ui::kResultCancel;
  }

  std::deque<bool> answers;              // for AskOkCancel / AskYesNo, in order
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  std::vector<std::string> captions;
  std::deque<std::string> files;
  std::vector<std::string> progress;
  std::vector<std::string> runs;          // template names of the child dialogs run
  std::function<int(ui::Dialog &)> runChild;
  int progressSteps = 0;
  int progressStep = 0;
  bool inProgress = false;
  bool stop = false;
  int waitDepth = 0;
  int waits = 0;

 private:
  bool Ask(std::string_view text, std::string_view caption) {
    questions.push_back(std::string(text));
    captions.push_back(std::string(caption));
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

}  // namespace tillwright::testing
