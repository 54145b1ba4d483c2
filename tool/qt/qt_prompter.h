// The prompter over Qt: message boxes with the program's caption, the wait cursor, the file-open
// box, a modal progress window with Stop, and child dialogs run through DialogHost.
#pragma once

#include <QPointer>
#include <atomic>
#include <vector>

#include "dialogs/prompter.h"
#include "qt/window_stack.h"

class QEventLoop;
class QWidget;

namespace tillwright::qt {

class ProgressWindow;

class QtPrompter final : public ui::IPrompter {
 public:
  QtPrompter();
  ~QtPrompter() override;
  QtPrompter(const QtPrompter &) = delete;
  QtPrompter &operator=(const QtPrompter &) = delete;

  void Inform(std::string_view text, std::string_view caption = {}, ui::Icon icon = ui::Icon::None) override;
  bool AskOkCancel(std::string_view text, std::string_view caption = {},
                   ui::Icon icon = ui::Icon::Question) override;
  bool AskYesNo(std::string_view text, std::string_view caption = {}, ui::Icon icon = ui::Icon::Question) override;
  void BeginWait() override;
  void EndWait() override;
  std::optional<std::string> OpenFile(std::string_view title, std::string_view filter) override;
  std::optional<std::string> SaveFile(std::string_view title, std::string_view filter,
                                      std::string_view suggestedName) override;
  void BeginProgress(std::string_view text, int steps, bool stoppable) override;
  void SetProgress(int step, std::string_view text) override;
  bool Stopped() const override { return stopped_; }
  void WaitProgress() override;
  void EndProgress() override;
  int Run(ui::Dialog &dialog) override;

  // The innermost dialog running: boxes, progress and child dialogs open over it.
  QWidget *Parent() const { return windows_.Top(); }
  WindowStack &Windows() { return windows_; }
  // The progress window while one is up (tests press its Stop).
  QWidget *Progress() const;

 private:
  void Stop();

  WindowStack windows_;
  QPointer<ProgressWindow> progress_;
  std::atomic<bool> stopped_{false};
  bool progressEnded_ = true;
  QEventLoop *waiting_ = nullptr;
};

// "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*" as Qt's "Bitmap files (*.bmp);;All files (*.*)".
std::string QtFileFilter(std::string_view filter);

}  // namespace tillwright::qt
