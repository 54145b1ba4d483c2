#include "win32/win32_prompter.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <utility>

#include "win32/dialog_host.h"
#include "win32/progress_window.h"
#include "win32/text.h"

namespace tillwright::win32 {
namespace {

UINT IconFlag(ui::Icon icon) {
  switch (icon) {
    case ui::Icon::Information:
      return MB_ICONINFORMATION;
    case ui::Icon::Warning:
      return MB_ICONWARNING;
    case ui::Icon::Error:
      return MB_ICONERROR;
    case ui::Icon::Question:
      return MB_ICONQUESTION;
    case ui::Icon::None:
      break;
  }
  return 0;
}

}  // namespace

Win32Prompter::Win32Prompter(HostOptions options) : windows_(std::move(options)), thread_(::GetCurrentThreadId()) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES};
  ::InitCommonControlsEx(&controls);
}

Win32Prompter::~Win32Prompter() = default;

HINSTANCE Win32Prompter::Instance() const { return windows_.Instance(); }

void Win32Prompter::SetMessageBox(MessageBoxFunction show) { messageBox_ = std::move(show); }

HWND Win32Prompter::Owner() const { return windows_.Top(); }

HWND Win32Prompter::ProgressWindowHandle() const { return progress_ ? progress_->Window() : nullptr; }

int Win32Prompter::Show(std::string_view text, std::string_view caption, ui::Icon icon, UINT buttons) {
  HWND owner = Owner();
  UINT type = buttons | IconFlag(icon);
  // Without a window of ours yet, the box still holds up every window of the thread.
  if (owner == nullptr) type |= MB_TASKMODAL;
  const std::wstring title = caption.empty() ? windows_.Options().caption : Widen(caption);
  const std::wstring body = Widen(text);
  return messageBox_ ? messageBox_(owner, body, title, type) : ::MessageBoxW(owner, body.c_str(), title.c_str(), type);
}

void Win32Prompter::Inform(std::string_view text, std::string_view caption, ui::Icon icon) {
  Show(text, caption, icon, MB_OK);
}

bool Win32Prompter::AskOkCancel(std::string_view text, std::string_view caption, ui::Icon icon) {
  return Show(text, caption, icon, MB_OKCANCEL) == IDOK;
}

bool Win32Prompter::AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon) {
  return Show(text, caption, icon, MB_YESNO) == IDYES;
}

void Win32Prompter::BeginWait() {
  if (windows_.BeginWait()) cursorBeforeWait_ = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
}

void Win32Prompter::EndWait() {
  if (!windows_.EndWait()) return;
  ::SetCursor(cursorBeforeWait_ != nullptr ? cursorBeforeWait_ : ::LoadCursorW(nullptr, IDC_ARROW));
}

std::optional<std::string> Win32Prompter::OpenFile(std::string_view title, std::string_view filter) {
  const std::wstring filters = filter.empty() ? std::wstring() : OpenBoxFilter(filter);
  const std::wstring heading = Widen(title);
  std::wstring path(32768, L'\0');  // the longest path the system takes
  OPENFILENAMEW box{};
  box.lStructSize = sizeof box;
  box.hwndOwner = Owner();
  box.lpstrFilter = filters.empty() ? nullptr : filters.c_str();
  box.nFilterIndex = 1;
  box.lpstrFile = path.data();
  box.nMaxFile = static_cast<DWORD>(path.size());
  box.lpstrTitle = heading.empty() ? nullptr : heading.c_str();
  // The program's working directory stays where it was, whatever folder the person browsed to.
  box.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameW(&box)) return std::nullopt;
  path.resize(path.find(L'\0'));
  return Narrow(path);
}

std::optional<std::string> Win32Prompter::SaveFile(std::string_view title, std::string_view filter,
                                                   std::string_view suggestedName) {
  const std::wstring filters = filter.empty() ? std::wstring() : OpenBoxFilter(filter);
  const std::wstring heading = Widen(title);
  const std::wstring suggested = Widen(suggestedName);
  // A name typed without an ending gets the suggested one's ("zip" of "support.zip").
  const size_t dot = suggested.find(L'.');
  const std::wstring ending = dot == std::wstring::npos ? std::wstring() : suggested.substr(dot + 1);
  std::wstring path(32768, L'\0');  // the longest path the system takes
  if (suggested.size() < path.size()) std::copy(suggested.begin(), suggested.end(), path.begin());
  OPENFILENAMEW box{};
  box.lStructSize = sizeof box;
  box.hwndOwner = Owner();
  box.lpstrFilter = filters.empty() ? nullptr : filters.c_str();
  box.nFilterIndex = 1;
  box.lpstrFile = path.data();
  box.nMaxFile = static_cast<DWORD>(path.size());
  box.lpstrTitle = heading.empty() ? nullptr : heading.c_str();
  box.lpstrDefExt = ending.empty() ? nullptr : ending.c_str();
  box.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetSaveFileNameW(&box)) return std::nullopt;
  path.resize(path.find(L'\0'));
  return Narrow(path);
}

void Win32Prompter::BeginProgress(std::string_view text, int steps, bool stoppable) {
  EndProgress();
  stopped_ = false;
  auto progress =
      std::make_unique<ProgressWindow>(Instance(), Owner(), windows_.Options().caption, stoppable, stopped_);
  if (progress->Window() == nullptr) return;
  progress->SetSteps(steps);
  progress->SetText(Widen(text));
  windows_.Opened(progress->Window());
  progress_ = std::move(progress);
  progress_->Pump();
}

void Win32Prompter::SetProgress(int step, std::string_view text) {
  if (!progress_) return;
  progress_->SetStep(step);
  progress_->SetText(Widen(text));
  progress_->Pump();
}

bool Win32Prompter::Stopped() const {
  // Only the user-interface thread may touch the window; a worker reads the flag alone.
  if (::GetCurrentThreadId() != thread_) return stopped_.load();
  if (!progress_) return false;
  progress_->Pump();
  return stopped_.load();
}

void Win32Prompter::WaitProgress() {
  // The worker ends the wait by posting EndProgress, which drops the window. A quit that comes
  // meanwhile asks the worker to stop and is handed on once the wait is over, so that the
  // worker's last posted tasks still run.
  std::optional<int> quit;
  MSG message;
  while (progress_) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      quit = static_cast<int>(message.wParam);
      stopped_ = true;
      continue;
    }
    if (::IsDialogMessageW(progress_->Window(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (quit) ::PostQuitMessage(*quit);
}

void Win32Prompter::EndProgress() {
  if (!progress_) return;
  windows_.Closed(progress_->Window());
  progress_.reset();
}

int Win32Prompter::Run(ui::Dialog &dialog) {
  DialogHost host(dialog, *this, windows_);
  return host.Run(Owner());
}

}  // namespace tillwright::win32
