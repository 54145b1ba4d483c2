// win32_host_demo [TEMPLATE] [--screenshot FILE]
// Shows one of the program's dialog templates (the main dialog when none is named) through the
// host, with no logic behind it. With --screenshot it saves a picture of the dialog once it shows
// and closes; the exit code is 0 when the picture was written.
#include <windows.h>

#include <cwchar>
#include <functional>
#include <string>

#include "dialogs/dialog.h"
#include "resource.h"
#include "win32/dialog_host.h"
#include "win32/screenshot.h"
#include "win32/text.h"
#include "win32/win32_prompter.h"

namespace {

class Template final : public tillwright::ui::Dialog {
 public:
  using Dialog::Dialog;
  std::function<void()> shown;

  void OnInitDialog() override {
    Dialog::OnInitDialog();
    if (shown) View().Post(shown);
  }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace tillwright;
  std::string name = "tillwright_dlg";
  std::wstring picture;
  for (int i = 1; i < __argc; ++i) {
    if (std::wcscmp(__wargv[i], L"--screenshot") == 0 && i + 1 < __argc) {
      picture = __wargv[++i];
    } else {
      name = win32::Narrow(__wargv[i]);
      for (char &c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
  }

  win32::Win32Prompter prompter({instance, L"tillwright", IDI_TILLWRIGHT});
  Template dialog(name);
  win32::DialogHost host(dialog, prompter, prompter.Windows());
  bool saved = false;
  if (!picture.empty()) {
    dialog.shown = [&] {
      ::ShowWindow(host.Window(), SW_SHOW);
      saved = win32::SaveWindowImage(host.Window(), picture);
      host.End(0);
    };
  }
  const int result = host.Run(nullptr);
  if (result == -1) return 2;
  return picture.empty() || saved ? 0 : 1;
}
