#include "win32/progress_window.h"

#include <commctrl.h>

#include <string_view>
#include <vector>

namespace tillwright::win32 {
namespace {

// A DLGTEMPLATE with its items, laid out as the dialog manager reads it: 16-bit words, each
// item on a 32-bit boundary.
class TemplateWriter {
 public:
  TemplateWriter(DWORD style, short width, short height, std::wstring_view title, WORD items) {
    DoubleWord(style | DS_SETFONT);
    DoubleWord(0);
    Word(items);
    Word(0);  // x and y: DS_CENTER places it
    Word(0);
    Word(static_cast<WORD>(width));
    Word(static_cast<WORD>(height));
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(title);
    Word(8);
    Text(L"MS Shell Dlg");
  }

  void Item(DWORD style, short x, short y, short width, short height, WORD id, std::wstring_view className,
            std::wstring_view text) {
    if (words_.size() % 2 != 0) Word(0);
    DoubleWord(style | WS_CHILD);
    DoubleWord(0);
    for (const short value : {x, y, width, height}) Word(static_cast<WORD>(value));
    Word(id);
    Text(className);
    Text(text);
    Word(0);  // no creation data
  }

  const DLGTEMPLATE *Data() const { return reinterpret_cast<const DLGTEMPLATE *>(words_.data()); }

 private:
  void Word(WORD value) { words_.push_back(value); }
  void DoubleWord(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Text(std::wstring_view text) {
    for (const wchar_t c : text) Word(static_cast<WORD>(c));
    Word(0);
  }

  // A vector's storage is aligned for more than a double word, so the template starts aligned.
  std::vector<WORD> words_;
};

}  // namespace

ProgressWindow::ProgressWindow(HINSTANCE instance, HWND owner, const std::wstring &caption, bool stoppable,
                               std::atomic<bool> &stopped)
    : owner_(owner), stoppable_(stoppable), stopped_(stopped) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);

  TemplateWriter writer(DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_VISIBLE, 220, 60, caption, 3);
  writer.Item(SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS | WS_VISIBLE, 7, 7, 206, 10, kTextId, WC_STATICW, L"");
  writer.Item(WS_VISIBLE, 7, 20, 206, 10, kBarId, PROGRESS_CLASSW, L"");
  writer.Item(BS_PUSHBUTTON | WS_TABSTOP | (stoppable ? WS_VISIBLE : 0), 163, 38, 50, 14, IDCANCEL, WC_BUTTONW,
              L"Stop");
  window_ = ::CreateDialogIndirectParamW(instance, writer.Data(), owner, &ProgressWindow::Procedure,
                                         reinterpret_cast<LPARAM>(this));
  // The owner takes no input meanwhile, as under a modal box: a second click must not start
  // another exchange inside this one.
  if (owner_ != nullptr && window_ != nullptr) ownerWasEnabled_ = ::EnableWindow(owner_, FALSE) == FALSE;
}

ProgressWindow::~ProgressWindow() {
  // Enabled again first, so that the owner, not some other window, becomes active.
  if (owner_ != nullptr && ownerWasEnabled_) ::EnableWindow(owner_, TRUE);
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void ProgressWindow::SetSteps(int steps) {
  HWND bar = ::GetDlgItem(window_, kBarId);
  if (bar == nullptr) return;
  const LONG style = ::GetWindowLongW(bar, GWL_STYLE);
  if (steps > 0) {
    ::SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    ::SetWindowLongW(bar, GWL_STYLE, style & ~PBS_MARQUEE);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, steps);
  } else {
    ::SetWindowLongW(bar, GWL_STYLE, style | PBS_MARQUEE);
    ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
  }
}

void ProgressWindow::SetStep(int step) { ::SendDlgItemMessageW(window_, kBarId, PBM_SETPOS, step, 0); }

void ProgressWindow::SetText(const std::wstring &text) { ::SetDlgItemTextW(window_, kTextId, text.c_str()); }

void ProgressWindow::Pump() {
  // Bounded: a window that never validates what it paints must not keep this loop going.
  MSG message;
  for (int handled = 0; handled < 1000 && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++handled) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));  // for the loop that owns the quit
      return;
    }
    if (window_ != nullptr && ::IsDialogMessageW(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

INT_PTR CALLBACK ProgressWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    return TRUE;
  }
  auto *self = reinterpret_cast<ProgressWindow *>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  // Stop (also Escape) and closing the window only ask; the exchange ends at its next step.
  const bool stop = (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) ||
                    message == WM_CLOSE;
  if (!stop) return FALSE;
  if (self->stoppable_ && !self->stopped_.exchange(true)) {
    ::EnableWindow(::GetDlgItem(window, IDCANCEL), FALSE);
  }
  return TRUE;
}

}  // namespace tillwright::win32
