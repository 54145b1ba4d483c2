// Everything a dialog shows besides its own controls: message boxes, questions, the wait cursor,
// the file-open box, progress of a long transfer, and the modal run of a child dialog. Each
// front end implements it with its toolkit; tests script the answers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tillwright::ui {

class Dialog;

enum class Icon { None, Information, Warning, Error, Question };

class IPrompter {
 public:
  virtual ~IPrompter() = default;

  // A message with an OK button. The caption is the program's when empty.
  virtual void Inform(std::string_view text, std::string_view caption = {}, Icon icon = Icon::None) = 0;
  // A question with OK and Cancel; true for OK.
  virtual bool AskOkCancel(std::string_view text, std::string_view caption = {}, Icon icon = Icon::Question) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption = {}, Icon icon = Icon::Question) = 0;

  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;

  // The file-open box; `filter` as "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*". The path
  // chosen (UTF-8), or nothing when the person cancelled.
  virtual std::optional<std::string> OpenFile(std::string_view title, std::string_view filter) = 0;
  // The file-save box, its filter as OpenFile's, offering `suggestedName`; a name typed without an
  // ending gets the suggested name's. The box asks before a file is replaced. The path chosen
  // (UTF-8), or nothing when the person cancelled.
  virtual std::optional<std::string> SaveFile(std::string_view title, std::string_view filter,
                                              std::string_view suggestedName) = 0;

  // Progress of a long exchange: a window over the dialog, shown until EndProgress, with a Stop
  // button when `stoppable`; the dialog itself takes no input meanwhile. The window keeps
  // repainting: SetProgress serves pending events when the exchange runs on the user-interface
  // thread, and WaitProgress serves them while a worker does the exchange.
  virtual void BeginProgress(std::string_view text, int steps, bool stoppable) = 0;
  virtual void SetProgress(int step, std::string_view text) = 0;
  // Whether the person asked to stop. Any thread may ask: a worker checks it between steps.
  virtual bool Stopped() const = 0;
  // Returns once EndProgress has been called, serving the user-interface thread's events (paint,
  // tasks posted to the view, the Stop button) until then. The worker ends the wait by posting
  // EndProgress; this is how a handler waits for it without freezing the window.
  virtual void WaitProgress() = 0;
  virtual void EndProgress() = 0;

  // Runs a child dialog modally over the current one and returns the result it ended with.
  virtual int Run(Dialog &dialog) = 0;
};

// The wait cursor for a scope; every way out of a handler takes it down again.
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

}  // namespace tillwright::ui
