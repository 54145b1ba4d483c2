// The progress window of long exchanges: a small modeless dialog with a text, a progress bar and
// a Stop button, over an owner that it disables while it shows. Made from a template in memory,
// so that any program with the host has it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace tillwright::win32 {

class ProgressWindow {
 public:
  // `stopped` is set when the person asks to stop; a worker may read it from any thread.
  ProgressWindow(HINSTANCE instance, HWND owner, const std::wstring &caption, bool stoppable,
                 std::atomic<bool> &stopped);
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow &) = delete;
  ProgressWindow &operator=(const ProgressWindow &) = delete;

  HWND Window() const { return window_; }
  // No steps (0 or fewer) shows a bar that only says work goes on.
  void SetSteps(int steps);
  void SetStep(int step);
  void SetText(const std::wstring &text);

  // Handles what is waiting in the thread's queue (the owner repaints, a click on Stop counts),
  // without waiting for more.
  void Pump();
  bool Stopped() const { return stopped_.load(); }

  static constexpr int kTextId = 100;
  static constexpr int kBarId = 101;

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND owner_;
  bool ownerWasEnabled_ = false;
  bool stoppable_;
  std::atomic<bool> &stopped_;
  HWND window_ = nullptr;
};

}  // namespace tillwright::win32
