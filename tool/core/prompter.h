// Everything a dialog shows besides its own widgets: message boxes, questions, the wait cursor
// and the modal run of a child dialog. Production uses QtPrompter; tests script the answers.
#pragma once

#include <string_view>

class QDialog;
class QWidget;

namespace tillwright {

class IPrompter {
 public:
  virtual ~IPrompter() = default;
  // A question with OK and Cancel; true for OK.
  virtual bool AskOkCancel(std::string_view text) = 0;
  // A message with an OK button.
  virtual void Inform(std::string_view text) = 0;
  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;
  // Runs a child dialog modally and returns its result code.
  virtual int Run(QDialog &dialog) = 0;
};

class QtPrompter final : public IPrompter {
 public:
  explicit QtPrompter(QWidget *parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget *parent) { parent_ = parent; }
  bool AskOkCancel(std::string_view text) override;
  void Inform(std::string_view text) override;
  void BeginWait() override;
  void EndWait() override;
  int Run(QDialog &dialog) override;

 private:
  QWidget *parent_;
};

// Shows the wait cursor for a scope; every way out of a handler takes it down again.
class WaitCursor {
 public:
  explicit WaitCursor(IPrompter &prompter) : prompter_(prompter) { prompter_.BeginWait(); }
  ~WaitCursor() { Restore(); }
  WaitCursor(const WaitCursor &) = delete;
  WaitCursor &operator=(const WaitCursor &) = delete;
  void Restore() {
    if (shown_) prompter_.EndWait();
    shown_ = false;
  }

 private:
  IPrompter &prompter_;
  bool shown_ = true;
};

}  // namespace tillwright
