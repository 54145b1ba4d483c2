#include "win32/demo.h"

#include <cstdio>
#include <filesystem>

#include "core/messages.h"
#include "core/tillwright_dlg.h"
#include "programming/set_header_footer.h"
#include "win32/dialog_host.h"
#include "win32/screenshot.h"
#include "win32/text.h"

namespace tillwright::win32 {

namespace {

// Serves the thread's messages for `ms` milliseconds, sleeping while there are none.
void Pause(DWORD ms) {
  const ULONGLONG end = ::GetTickCount64() + ms;
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

// A button pressed as the person would press it: through the window, so that the host routes it.
void Click(HWND dialog, ui::ControlId id) { ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string ControlText(HWND dialog, ui::ControlId id) {
  HWND control = ::GetDlgItem(dialog, id);
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

class DemoDialog final : public CTillwrightDlg {
 public:
  DemoDialog(AppState &state, ILink &link, Win32Prompter &prompter, std::string path)
      : CTillwrightDlg(state, link), prompter_(prompter), path_(std::move(path)) {}

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
    Click(window, kConnectButton);
    std::printf("tillwright: Connect: %s\n", ControlText(window, kResultField).c_str());
    Click(window, kPaperFeedButton);
    const std::string fed = ControlText(window, kResultField);
    std::printf("tillwright: Paper Feed: %s\n", fed.c_str());
    // The header dialog opens as the button opens it, reads the lines, and is closed once it
    // shows them.
    ReadHeaderLinesOnceOpen(window);
    Click(window, kHeaderLinesButton);
    // Let the monitor's label reach the screen before the picture is taken, the dialog wholly
    // repainted after the child that covered it.
    Pause(1500);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    Pause(200);
    const std::string label = ControlText(window, kStatusLabel);
    std::printf("tillwright: label: %s\n", label.c_str());
    const bool saved = SaveWindowImage(window, std::filesystem::path(Widen(path_)));
    if (saved)
      std::printf("tillwright: screenshot saved to %s\n", path_.c_str());
    else
      std::fprintf(stderr, "tillwright: cannot save %s\n", path_.c_str());
    std::fflush(stdout);
    exitCode = saved && label == msg::kConnected && fed != msg::kError && fed != msg::kConnectionError ? 0 : 1;
    Click(window, kQuitButton);
  }

  void ReadHeaderLinesOnceOpen(HWND main, int tries = 100) {
    View().Post([this, main, tries] {
      HWND header = prompter_.Owner();
      if (header == main || header == nullptr) {  // not open yet
        if (tries > 0) ReadHeaderLinesOnceOpen(main, tries - 1);
        return;
      }
      for (size_t line = 0; line < CSetheaderFooter::kLines; ++line) {
        const auto id = CSetheaderFooter::SlotField(CSetheaderFooter::kSlotOfLine[line]);
        std::printf("tillwright: line %zu: %s\n", line, ControlText(header, id).c_str());
      }
      ::PostMessageW(header, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
  }

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
