#include "win32/demo.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "app/demo_scenario.h"
#include "app/tillwright_dlg.h"
#include "win32/screenshot.h"
#include "win32/text.h"

namespace tillwright::win32 {

namespace {

// What the demo scenario needs of Win32 beyond what the main dialog answers itself.
class Win32DemoHost final : public MainDialogDemoHost {
 public:
  Win32DemoHost(HWND window, const ui::IDialogView &view, const CTillwrightDlg &dialog)
      : MainDialogDemoHost(view, dialog), window_(window) {}

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

  bool SavePicture(const std::string &path) override {
    return SaveWindowImage(window_, std::filesystem::path(Widen(path)));
  }

 private:
  HWND window_;
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
    Win32DemoHost host(window, View(), *this);
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
