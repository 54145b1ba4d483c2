#include "win32/demo.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "app/demo_scenario.h"
#include "core/connection_monitor.h"
#include "app/tillwright_dlg.h"
#include "win32/screenshot.h"
#include "win32/text.h"

namespace tillwright::win32 {

namespace {

class Win32DemoHost final : public IDemoHost {
 public:
  Win32DemoHost(HWND window, const CTillwrightDlg &dialog) : window_(window), dialog_(dialog) {}

  // Serves the thread's messages, sleeping while there are none.
  void Pause(std::chrono::milliseconds time) override {
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(time.count());
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
          ::PostQuitMessage(static_cast<int>(message.wParam));
          return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
  }

  // Through the window, so that the host routes it as a person's click.
  void Click(ui::ControlId id) override { ::SendMessageW(::GetDlgItem(window_, id), BM_CLICK, 0, 0); }

  std::string Text(ui::ControlId id) override {
    HWND control = ::GetDlgItem(window_, id);
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
  }

  bool SavePicture(const std::string &path) override {
    return SaveWindowImage(window_, std::filesystem::path(Widen(path)));
  }

  unsigned ConnectionChecks() override { return dialog_.Monitor() != nullptr ? dialog_.Monitor()->Passes() : 0; }

 private:
  HWND window_;
  const CTillwrightDlg &dialog_;
};

class DemoDialog final : public CTillwrightDlg {
 public:
  DemoDialog(AppState &state, ILink &link, Win32Prompter &prompter, std::string path)
      : CTillwrightDlg(state, link), link_(link), prompter_(prompter), path_(std::move(path)) {}

  int exitCode = 1;

  void OnInitDialog() override {
    CTillwrightDlg::OnInitDialog();
    View().Post([this] { Run(); });
  }

 private:
  void Run() {
    HWND window = prompter_.Owner();
    // A modal dialog shows once its queue first runs dry; this run comes before that.
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
    Win32DemoHost host(window, *this);
    exitCode = RunDemoScenario(host, link_, path_, std::cout, std::cerr);
  }

  ILink &link_;
  Win32Prompter &prompter_;
  std::string path_;
};

}  // namespace

int RunDemo(CTillwrightApp &app, ILink &link, Win32Prompter &prompter, const std::string &path) {
  DemoDialog dialog(app.State(), link, prompter, path);
  if (prompter.Run(dialog) == -1) {
    std::fprintf(stderr, "tillwright: the main dialog cannot be made\n");
    return 2;
  }
  return dialog.exitCode;
}

}  // namespace tillwright::win32
