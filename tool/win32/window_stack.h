// The windows a prompter has open, innermost last, and what they share: the module that holds
// their templates, their icon, and whether the wait cursor is up. The prompter owns it; each
// DialogHost is on it while it runs, so that the host needs nothing else of the prompter than
// the prompter's interface.
#pragma once

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace tillwright::win32 {

struct HostOptions {
  // The module that holds the templates; the program's own when null.
  HINSTANCE instance = nullptr;
  // The caption of message boxes whose dialog names none, and of the progress window.
  std::wstring caption = L"tillwright";
  // The icon resource every dialog shows in its caption and task bar button; none when 0.
  int iconId = 0;
};

class WindowStack {
 public:
  explicit WindowStack(HostOptions options) : options_(std::move(options)) {}

  const HostOptions &Options() const { return options_; }
  HINSTANCE Instance() const { return options_.instance != nullptr ? options_.instance : ::GetModuleHandleW(nullptr); }

  // The window opened last that is still open; null before the first.
  HWND Top() const { return windows_.empty() ? nullptr : windows_.back(); }
  void Opened(HWND window) { windows_.push_back(window); }
  void Closed(HWND window) {
    const auto it = std::find(windows_.rbegin(), windows_.rend(), window);
    if (it != windows_.rend()) windows_.erase(std::next(it).base());
  }

  // While the wait cursor is up, the windows keep it instead of their own.
  bool Waiting() const { return waitDepth_ > 0; }
  // True when this made the cursor a wait cursor (the first of nested waits).
  bool BeginWait() { return waitDepth_++ == 0; }
  // True when this ended the last of nested waits.
  bool EndWait() { return waitDepth_ != 0 && --waitDepth_ == 0; }

 private:
  HostOptions options_;
  std::vector<HWND> windows_;
  int waitDepth_ = 0;
};

}  // namespace tillwright::win32
