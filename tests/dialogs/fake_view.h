// A dialog's controls as a map of states, and a prompter whose answers a test scripts: dialog
// logic runs against these with no toolkit at all.
#pragma once

#include <atomic>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dialogs/address.h"
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
  // A picture control's image.
  int imageWidth = 0;
  int imageHeight = 0;
  std::vector<uint8_t> image;
  std::optional<uint32_t> address = 0u;  // nothing while some octets are blank
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
  void SetItems(ui::ControlId id, const std::vector<std::string> &items) override {
    controls_[id].items = items;
    controls_[id].selection = -1;
  }
  int Selection(ui::ControlId id) const override { return Get(id).selection; }
  void SetSelection(ui::ControlId id, int index) override { controls_[id].selection = index; }
  std::optional<uint32_t> Address(ui::ControlId id) const override { return Get(id).address; }
  void SetAddress(ui::ControlId id, uint32_t address) override { controls_[id].address = address; }
  bool Enabled(ui::ControlId id) const override { return Get(id).enabled; }
  void SetEnabled(ui::ControlId id, bool enabled) override { controls_[id].enabled = enabled; }
  bool ReadOnly(ui::ControlId id) const override { return Get(id).readOnly; }
  void SetReadOnly(ui::ControlId id, bool readOnly) override { controls_[id].readOnly = readOnly; }
  bool Visible(ui::ControlId id) const override { return Get(id).visible; }
  void SetVisible(ui::ControlId id, bool visible) override { controls_[id].visible = visible; }
  void SetFocus(ui::ControlId id) override { focus_ = id; }
  ui::ControlId Focus() const override { return focus_; }
  void SetImage(ui::ControlId id, int width, int height, const std::vector<uint8_t> &rows) override {
    ControlState &c = controls_[id];
    c.imageWidth = width;
    c.imageHeight = height;
    c.image = rows;
  }
  std::string Caption() const override { return caption_; }
  void SetCaption(std::string_view caption) override { caption_ = std::string(caption); }
  void End(int result) override { result_ = result; }
  // Any thread, as worker threads do; dropped once the dialog is gone (Close).
  void Post(std::function<void()> task) override {
    {
      std::lock_guard lock(postMutex_);
      if (closed_) return;
      posted_.push_back(std::move(task));
    }
    postedCv_.notify_all();
  }
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
  // An address control as the person leaves it: a whole dotted address, all blank (an empty
  // text), or some octets blank (any other text).
  void TypeAddress(ui::ControlId id, std::string_view dotted) {
    controls_[id].address = dotted.empty() ? std::optional<uint32_t>(0) : ui::ParseAddress(dotted);
  }
  // Clicking these flips their check state first, as check boxes do.
  void MakeCheckBox(ui::ControlId id) { toggles_.insert({id, true}); }

  // Runs what worker threads posted, in order; returns how many ran.
  size_t RunPosted() {
    size_t ran = 0;
    while (auto task = Next()) {
      (*task)();
      ++ran;
    }
    return ran;
  }
  // Serves posted tasks as a front end's event loop would, until `done` holds (checked after
  // each task) or `timeout` passed; the final answer of `done`.
  bool RunPostedUntil(const std::function<bool()> &done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      std::optional<std::function<void()>> task;
      {
        std::unique_lock lock(postMutex_);
        if (!postedCv_.wait_until(lock, deadline, [this] { return !posted_.empty(); })) return done();
        task = std::move(posted_.front());
        posted_.pop_front();
      }
      (*task)();
    }
    return true;
  }
  // The dialog is gone: what is queued and what comes later is dropped.
  void Close() {
    std::lock_guard lock(postMutex_);
    closed_ = true;
    posted_.clear();
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

  std::optional<std::function<void()>> Next() {
    std::lock_guard lock(postMutex_);
    if (posted_.empty()) return std::nullopt;
    auto task = std::move(posted_.front());
    posted_.pop_front();
    return task;
  }

  std::mutex postMutex_;
  std::condition_variable postedCv_;
  std::deque<std::function<void()>> posted_;  // guarded by postMutex_
  bool closed_ = false;                       // guarded by postMutex_
};

// Answers questions as scripted (OK/Yes when the script is empty), records every message, and
// runs child dialogs through test-supplied functions (RunOn gives them a fresh fake view).
class ScriptedPrompter : public ui::IPrompter {
 public:
  void Inform(std::string_view text, std::string_view caption, ui::Icon icon) override {
    messages.push_back(std::string(text));
    captions.push_back(std::string(caption));
    icons.push_back(icon);
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
  // The next of `files`, as OpenFile; the suggested names are kept.
  std::optional<std::string> SaveFile(std::string_view, std::string_view, std::string_view suggested) override {
    suggestedNames.push_back(std::string(suggested));
    return OpenFile({}, {});
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
  // Serves the posted tasks of `pump` (the view of the dialog whose handler waits) as the event
  // loop would.
  void WaitProgress() override {
    if (pump == nullptr) throw std::logic_error("WaitProgress without a view to serve");
    ++progressWaits;
    if (!pump->RunPostedUntil([this] { return !inProgress; }))
      throw std::runtime_error("the progress never ended");
  }
  void EndProgress() override { inProgress = false; }
  // Each run takes the next of `children`, then `runChild`; with neither the child is cancelled.
  int Run(ui::Dialog &dialog) override {
    runs.push_back(dialog.TemplateName());
    if (!children.empty()) {
      auto child = std::move(children.front());
      children.pop_front();
      return child(dialog);
    }
    return runChild ? runChild(dialog) : ui::kResultCancel;
  }

  std::deque<bool> answers;              // for AskOkCancel / AskYesNo, in order
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  std::vector<std::string> captions;
  std::vector<ui::Icon> icons;            // of the messages
  std::deque<std::string> files;          // for OpenFile and SaveFile, in order
  std::vector<std::string> suggestedNames;  // of SaveFile
  std::vector<std::string> progress;
  std::vector<std::string> runs;          // template names of the child dialogs run
  std::deque<std::function<int(ui::Dialog &)>> children;
  std::function<int(ui::Dialog &)> runChild;
  FakeView *pump = nullptr;               // for WaitProgress
  int progressSteps = 0;
  int progressStep = 0;
  int progressWaits = 0;
  bool inProgress = false;
  std::atomic<bool> stop{false};          // the person's Stop; workers read it
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

// Runs `dialog` as a front end does, over a fresh fake view: attach, OnInitDialog, `person`
// (what the person does), OnDestroy. The result it ended with, or -1 when it was left open.
inline int RunOn(ui::Dialog &dialog, ui::IPrompter &prompter,
                 const std::function<void(FakeView &, ui::Dialog &)> &person) {
  FakeView view;
  dialog.Attach(view, prompter);
  dialog.OnInitDialog();
  if (!view.Result()) person(view, dialog);
  view.Close();
  dialog.OnDestroy();
  dialog.Detach();
  return view.Result().value_or(-1);
}

}  // namespace tillwright::testing
