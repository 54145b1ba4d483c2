// The prompter of the Win32 front end: message boxes, the wait cursor, the file-open box, a
// progress window and the modal run of dialogs from the program's DIALOGEX templates.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/prompter.h"
#include "win32/window_stack.h"

namespace tillwright::win32 {

class ProgressWindow;

class Win32Prompter final : public ui::IPrompter {
 public:
  explicit Win32Prompter(HostOptions options = {});
  ~Win32Prompter() override;
  Win32Prompter(const Win32Prompter &) = delete;
  Win32Prompter &operator=(const Win32Prompter &) = delete;

  // The defaults are the interface's, for calls that name this class.
  void Inform(std::string_view text, std::string_view caption = {}, ui::Icon icon = ui::Icon::None) override;
  bool AskOkCancel(std::string_view text, std::string_view caption = {}, ui::Icon icon = ui::Icon::Question) override;
  bool AskYesNo(std::string_view text, std::string_view caption = {}, ui::Icon icon = ui::Icon::Question) override;
  void BeginWait() override;
  void EndWait() override;
  std::optional<std::string> OpenFile(std::string_view title, std::string_view filter) override;
  std::optional<std::string> SaveFile(std::string_view title, std::string_view filter,
                                      std::string_view suggestedName) override;
  void BeginProgress(std::string_view text, int steps, bool stoppable) override;
  void SetProgress(int step, std::string_view text) override;
  // Any thread may ask; on the user-interface thread the progress window's events are served first.
  bool Stopped() const override;
  void WaitProgress() override;
  void EndProgress() override;
  // The dialog's template is the resource named after TemplateName() in upper case. -1 when
  // there is none (as DialogBoxParamW answers a template it cannot make).
  int Run(ui::Dialog &dialog) override;

  // What shows a message box; MessageBoxW unless replaced. Tests answer the boxes through it.
  using MessageBoxFunction =
      std::function<int(HWND owner, const std::wstring &text, const std::wstring &caption, UINT type)>;
  void SetMessageBox(MessageBoxFunction show);

  const HostOptions &Options() const { return windows_.Options(); }
  HINSTANCE Instance() const;
  // The window that boxes and child dialogs belong to: the progress window while it shows, else
  // the dialog opened last that is still open; null before the first.
  HWND Owner() const;
  bool Waiting() const { return windows_.Waiting(); }
  // The progress window while one shows.
  HWND ProgressWindowHandle() const;

  // The open windows, innermost last; each DialogHost is on it while it runs.
  WindowStack &Windows() { return windows_; }

 private:
  int Show(std::string_view text, std::string_view caption, ui::Icon icon, UINT buttons);

  MessageBoxFunction messageBox_;
  WindowStack windows_;
  HCURSOR cursorBeforeWait_ = nullptr;
  std::unique_ptr<ProgressWindow> progress_;
  std::atomic<bool> stopped_{false};
  DWORD thread_;  // the user-interface thread: the one that made the prompter
};

}  // namespace tillwright::win32
