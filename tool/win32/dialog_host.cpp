#include "win32/dialog_host.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "dialogs/picker_text.h"
#include "dialogs/picture_fit.h"
#include "win32/resources.h"
#include "win32/text.h"

namespace tillwright::win32 {
namespace {

// Dialog messages own WM_USER and a little above it; WM_APP is the program's.
constexpr UINT kRunPosted = WM_APP + 1;

enum class Kind { Button, Edit, Combo, List, Picker, Other };

Kind KindOf(HWND control) {
  wchar_t name[32] = {};
  ::GetClassNameW(control, name, 32);
  if (::lstrcmpiW(name, WC_BUTTONW) == 0) return Kind::Button;
  if (::lstrcmpiW(name, WC_EDITW) == 0) return Kind::Edit;
  if (::lstrcmpiW(name, WC_COMBOBOXW) == 0) return Kind::Combo;
  if (::lstrcmpiW(name, WC_LISTBOXW) == 0) return Kind::List;
  if (::lstrcmpiW(name, DATETIMEPICK_CLASSW) == 0) return Kind::Picker;
  return Kind::Other;
}

// A picker shows a date or, with DTS_TIMEFORMAT, a time; its text follows ui::PickerText.
ui::PickerValue FromSystemTime(const SYSTEMTIME &t) {
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::string PickerText(HWND picker) {
  SYSTEMTIME value{};
  if (::SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&value)) != GDT_VALID) return {};
  const bool time = (::GetWindowLongW(picker, GWL_STYLE) & DTS_TIMEFORMAT) == DTS_TIMEFORMAT;
  return ui::PickerText(FromSystemTime(value), time ? ui::PickerShows::Time : ui::PickerShows::Date);
}

void SetPickerText(HWND picker, const std::string &text) {
  SYSTEMTIME value{};
  if (::SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&value)) != GDT_VALID) {
    ::GetLocalTime(&value);
  }
  ui::PickerValue read = FromSystemTime(value);
  if (!ui::ReadPickerText(text, read)) return;
  value.wYear = static_cast<WORD>(read.year);
  value.wMonth = static_cast<WORD>(read.month);
  value.wDay = static_cast<WORD>(read.day);
  value.wHour = static_cast<WORD>(read.hour);
  value.wMinute = static_cast<WORD>(read.minute);
  value.wSecond = static_cast<WORD>(read.second);
  value.wMilliseconds = 0;
  value.wDayOfWeek = 0;  // worked out by the picker
  ::SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&value));
}

// The fitted picture (ui::FitPicture) in a white 24-bit DIB of the control's size.
HBITMAP PictureBitmap(int roomWidth, int roomHeight, int width, int height, const std::vector<uint8_t> &rows) {
  if (roomWidth <= 0 || roomHeight <= 0) return nullptr;
  const ui::PictureFit fit = ui::FitPicture(roomWidth, roomHeight, width, height, rows);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = roomWidth;
  info.bmiHeader.biHeight = -roomHeight;  // rows from the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) return bitmap;
  const size_t line = (static_cast<size_t>(roomWidth) * 3 + 3) & ~size_t{3};
  auto *pixels = static_cast<uint8_t *>(bits);
  std::memset(pixels, 0xFF, line * static_cast<size_t>(roomHeight));
  const uint8_t *grey = fit.greys.data();
  for (int y = 0; y < fit.height; ++y) {
    uint8_t *out = pixels + line * static_cast<size_t>(fit.top + y) + static_cast<size_t>(fit.left) * 3;
    for (int x = 0; x < fit.width; ++x, out += 3, ++grey) out[0] = out[1] = out[2] = *grey;
  }
  return bitmap;
}


// Escape closes only the dialog it was pressed in. A key held down repeats, and once its first
// press has closed a dialog the repeats reach the dialog below it: the main dialog, where Escape
// ends the program. Each dialog's loop hands every message to the thread's message filter before
// it acts on it (IsDialogMessage), so the filter drops an Escape that repeats a press begun in
// another window. One filter serves the thread while any dialog of it runs.
struct EscapeFilter {
  HHOOK hook = nullptr;
  int runs = 0;
  HWND pressedIn = nullptr;  // the window whose dialog saw the latest press begin
};
thread_local EscapeFilter t_escapeFilter;

LRESULT CALLBACK FilterEscape(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX) {
    const auto *message = reinterpret_cast<const MSG *>(lParam);
    if (message->message == WM_KEYDOWN && message->wParam == VK_ESCAPE) {
      HWND dialog = ::GetAncestor(message->hwnd, GA_ROOT);
      const bool repeated = (message->lParam & (LPARAM{1} << 30)) != 0;  // the key was down already
      if (!repeated) {
        t_escapeFilter.pressedIn = dialog;
      } else if (dialog != t_escapeFilter.pressedIn) {
        return TRUE;  // taken: no dialog acts on it
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

class EscapeFilterScope {
 public:
  EscapeFilterScope() {
    if (t_escapeFilter.runs++ == 0) {
      t_escapeFilter.hook = ::SetWindowsHookExW(WH_MSGFILTER, &FilterEscape, nullptr, ::GetCurrentThreadId());
    }
  }
  ~EscapeFilterScope() {
    if (--t_escapeFilter.runs > 0) return;
    if (t_escapeFilter.hook != nullptr) ::UnhookWindowsHookEx(t_escapeFilter.hook);
    t_escapeFilter = {};
  }
  EscapeFilterScope(const EscapeFilterScope &) = delete;
  EscapeFilterScope &operator=(const EscapeFilterScope &) = delete;
};

// A multi-line edit breaks lines only at "\r\n"; the logic's texts break them at "\n".
bool IsMultiLineEdit(HWND control) {
  return KindOf(control) == Kind::Edit && (::GetWindowLongW(control, GWL_STYLE) & ES_MULTILINE) != 0;
}

std::wstring WithCrLf(const std::wstring &text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

std::wstring WithoutCr(const std::wstring &text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
    out += text[i];
  }
  return out;
}

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

}  // namespace

class DialogHost::Silence {
 public:
  Silence(DialogHost &host, ui::ControlId id) : host_(host), previous_(host.silent_) { host_.silent_ = id; }
  ~Silence() { host_.silent_ = previous_; }
  Silence(const Silence &) = delete;
  Silence &operator=(const Silence &) = delete;

 private:
  DialogHost &host_;
  ui::ControlId previous_;
};

DialogHost::DialogHost(ui::Dialog &dialog, ui::IPrompter &prompter, WindowStack &windows)
    : dialog_(dialog), prompter_(prompter), windows_(windows) {}

DialogHost::~DialogHost() = default;

int DialogHost::Run(HWND owner) {
  // Templates may hold date and time pickers.
  static const bool dateClasses = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_DATE_CLASSES};
    return ::InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)dateClasses;
  HINSTANCE instance = windows_.Instance();
  const auto found = NamedResource(instance, RT_DIALOG, TemplateResourceName(dialog_.TemplateName()));
  if (found.empty()) return -1;
  ended_ = false;
  pending_ = nullptr;
  const EscapeFilterScope escapeFilter;
  const INT_PTR result = ::DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(found.data()), owner,
                                                   &DialogHost::Procedure, reinterpret_cast<LPARAM>(this));
  if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
  return static_cast<int>(result);
}

INT_PTR CALLBACK DialogHost::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto *host = reinterpret_cast<DialogHost *>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    host->InitDialog(window);
    // FALSE keeps a focus that OnInitDialog chose; TRUE lets the dialog take its first control.
    return host->focusSetInInit_ ? FALSE : TRUE;
  }
  auto *host = reinterpret_cast<DialogHost *>(::GetWindowLongPtrW(window, DWLP_USER));
  return host != nullptr ? host->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR DialogHost::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto *header = reinterpret_cast<const NMHDR *>(lParam);
      const auto id = static_cast<ui::ControlId>(header->idFrom);
      if (header->code == DTN_DATETIMECHANGE && attached_ && !(silent_ != 0 && id == silent_)) {
        Guarded([&] { dialog_.Dispatch(id, ui::Event::Changed); });
      }
      return FALSE;
    }
    case WM_SYSCOMMAND:
      // The low four bits of a system command are the system's own.
      if (!attached_ || !IsMenuAction(static_cast<ui::ControlId>(wParam & 0xFFF0))) return FALSE;
      Guarded([&] { dialog_.Dispatch(static_cast<ui::ControlId>(wParam & 0xFFF0), ui::Event::Clicked); });
      ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_CLOSE:
      if (attached_) Guarded([this] { dialog_.Dispatch(ui::kIdCancel, ui::Event::Clicked); });
      return TRUE;
    case WM_SETCURSOR:
      if (!windows_.Waiting()) return FALSE;
      ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
      ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case kRunPosted:
      RunPosted();
      return TRUE;
    case WM_DESTROY:
      Destroyed();
      return FALSE;
    default:
      return FALSE;
  }
}

void DialogHost::InitDialog(HWND window) {
  window_ = window;
  {
    platform::MutexLock lock(mutex_);
    mailbox_ = window;
    signalled_ = false;
  }
  windows_.Opened(window);
  if (const int icon = windows_.Options().iconId; icon != 0) {
    const auto load = [&](int width, int height) {
      return reinterpret_cast<LPARAM>(::LoadImageW(windows_.Instance(), MAKEINTRESOURCEW(icon), IMAGE_ICON,
                                                   ::GetSystemMetrics(width), ::GetSystemMetrics(height), LR_SHARED));
    };
    ::SendMessageW(window, WM_SETICON, ICON_BIG, load(SM_CXICON, SM_CYICON));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, load(SM_CXSMICON, SM_CYSMICON));
  }
  LoadTemplateItems();
  AddMenuActions();
  dialog_.Attach(*this, prompter_);
  attached_ = true;
  initializing_ = true;
  focusSetInInit_ = false;
  Guarded([this] { dialog_.OnInitDialog(); });
  initializing_ = false;
}

// The dialog's menu actions go at the end of the window's system menu (the caption's icon, or
// Alt+Space), after a separator.
void DialogHost::AddMenuActions() {
  const auto &actions = dialog_.MenuActions();
  if (actions.empty()) return;
  HMENU menu = ::GetSystemMenu(window_, FALSE);
  if (menu == nullptr) return;
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  for (const ui::Dialog::MenuAction &action : actions) {
    ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(action.id), Widen(action.text).c_str());
  }
}

bool DialogHost::IsMenuAction(ui::ControlId id) const {
  const auto &actions = dialog_.MenuActions();
  return std::any_of(actions.begin(), actions.end(), [id](const ui::Dialog::MenuAction &a) { return a.id == id; });
}

void DialogHost::Destroyed() {
  std::deque<std::function<void()>> dropped;  // destroyed after the lock is left
  {
    platform::MutexLock lock(mutex_);
    mailbox_ = nullptr;
    dropped.swap(tasks_);
  }
  if (attached_) {
    Guarded([this] { dialog_.OnDestroy(); });
    dialog_.Detach();
    attached_ = false;
  }
  DropPictures();
  windows_.Closed(window_);
  window_ = nullptr;
}

void DialogHost::Command(int id, int code, HWND control) {
  std::optional<ui::Event> event;
  // Enter and Escape arrive as ids 1 and 2 without a control when the template lacks the button.
  switch (control == nullptr ? Kind::Button : KindOf(control)) {
    case Kind::Button:
      if (code == BN_CLICKED) event = ui::Event::Clicked;
      break;
    case Kind::Edit:
      if (code == EN_CHANGE) event = ui::Event::Changed;
      break;
    case Kind::Combo:
      if (code == CBN_SELCHANGE) event = ui::Event::SelectionChanged;
      if (code == CBN_EDITCHANGE) event = ui::Event::Changed;
      break;
    case Kind::List:
      if (code == LBN_SELCHANGE) event = ui::Event::SelectionChanged;
      break;
    case Kind::Picker:  // its changes come as WM_NOTIFY
    case Kind::Other:
      break;
  }
  if (!event || !attached_ || (silent_ != 0 && id == silent_)) return;
  Guarded([&] { dialog_.Dispatch(id, *event); });
}

void DialogHost::RunPosted() {
  // One task a message: the window repaints between tasks, and a task that shows a box or pumps
  // messages does not hold up the ones after it.
  std::function<void()> task;
  {
    platform::MutexLock lock(mutex_);
    signalled_ = false;
    if (ended_ || tasks_.empty()) return;
    task = std::move(tasks_.front());
    tasks_.pop_front();
    if (!tasks_.empty()) signalled_ = ::PostMessageW(mailbox_, kRunPosted, 0, 0) != FALSE;
  }
  Guarded(task);
}

void DialogHost::Post(std::function<void()> task) {
  platform::MutexLock lock(mutex_);
  if (mailbox_ == nullptr) return;
  tasks_.push_back(std::move(task));
  // A full message queue refuses; the next Post tries again.
  if (!signalled_) signalled_ = ::PostMessageW(mailbox_, kRunPosted, 0, 0) != FALSE;
}

void DialogHost::Guarded(const std::function<void()> &handler) {
  try {
    handler();
  } catch (...) {
    if (!pending_) pending_ = std::current_exception();
    ended_ = true;
    if (window_ != nullptr) ::EndDialog(window_, -1);
  }
}

void DialogHost::LoadTemplateItems() {
  const auto found =
      NamedResource(windows_.Instance(), RT_RCDATA, TemplateResourceName(dialog_.TemplateName()) + L"_ITEMS");
  const auto *words = reinterpret_cast<const wchar_t *>(found.data());
  const size_t count = found.size() / sizeof(wchar_t);
  size_t at = 0;
  while (at < count && words[at] != 0) {
    const ui::ControlId id = words[at++];
    const size_t start = at;
    while (at < count && words[at] != 0) ++at;
    if (at == count) break;  // an item without its NUL: the resource was cut short
    const std::wstring item(words + start, at - start);
    ++at;
    HWND control = Control(id);
    if (control == nullptr) continue;
    const Silence silence(*this, id);
    const Kind kind = KindOf(control);
    if (kind == Kind::Combo) ::SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    if (kind == Kind::List) ::SendMessageW(control, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
}

HWND DialogHost::Control(ui::ControlId id) const {
  return window_ != nullptr ? ::GetDlgItem(window_, id) : nullptr;
}

void DialogHost::MoveFocusOff(HWND control) {
  // A disabled or hidden control keeping the focus would swallow the keyboard.
  HWND focus = ::GetFocus();
  if (focus != nullptr && (focus == control || ::IsChild(control, focus))) {
    ::SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);
  }
}

std::string DialogHost::Text(ui::ControlId id) const {
  HWND control = Control(id);
  if (control == nullptr) return {};
  if (KindOf(control) == Kind::Picker) return PickerText(control);
  if (IsMultiLineEdit(control)) return Narrow(WithoutCr(WindowText(control)));
  return Narrow(WindowText(control));
}

void DialogHost::SetText(ui::ControlId id, std::string_view text) {
  HWND control = Control(id);
  if (control == nullptr) return;
  const Silence silence(*this, id);
  if (KindOf(control) == Kind::Picker) {
    SetPickerText(control, std::string(text));
    return;
  }
  if (IsMultiLineEdit(control)) {
    ::SetWindowTextW(control, WithCrLf(Widen(text)).c_str());
    return;
  }
  ::SetWindowTextW(control, Widen(text).c_str());
}

void DialogHost::SetImage(ui::ControlId id, int width, int height, const std::vector<uint8_t> &rows) {
  HWND control = Control(id);
  if (control == nullptr) return;
  const size_t stride = width > 0 ? (static_cast<size_t>(width) + 7) / 8 : 0;
  HBITMAP bitmap = nullptr;
  if (width > 0 && height > 0 && rows.size() >= stride * static_cast<size_t>(height)) {
    RECT room{};
    ::GetClientRect(control, &room);
    bitmap = PictureBitmap(room.right - room.left, room.bottom - room.top, width, height, rows);
  }
  auto *previous = reinterpret_cast<HBITMAP>(
      ::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  const auto it = pictures_.find(id);
  if (it != pictures_.end()) {
    if (it->second != previous && it->second != nullptr) ::DeleteObject(it->second);
    pictures_.erase(it);
  }
  if (previous != nullptr) ::DeleteObject(previous);
  if (bitmap != nullptr) pictures_[id] = bitmap;
  ::InvalidateRect(control, nullptr, TRUE);
}

void DialogHost::DropPictures() {
  for (const auto &[id, bitmap] : pictures_) {
    if (HWND control = Control(id)) ::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, 0);
    ::DeleteObject(bitmap);
  }
  pictures_.clear();
}

bool DialogHost::Checked(ui::ControlId id) const {
  HWND control = Control(id);
  return control != nullptr && ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogHost::SetChecked(ui::ControlId id, bool checked) {
  HWND control = Control(id);
  if (control == nullptr) return;
  const Silence silence(*this, id);
  ::SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::vector<std::string> DialogHost::Items(ui::ControlId id) const {
  std::vector<std::string> items;
  HWND control = Control(id);
  if (control == nullptr) return items;
  const Kind kind = KindOf(control);
  if (kind != Kind::Combo && kind != Kind::List) return items;
  const bool combo = kind == Kind::Combo;
  const LRESULT count = ::SendMessageW(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = ::SendMessageW(control, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0);
    if (length < 0) break;
    std::wstring item(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendMessageW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
    item.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    items.push_back(Narrow(item));
  }
  return items;
}

void DialogHost::SetItems(ui::ControlId id, const std::vector<std::string> &items) {
  HWND control = Control(id);
  if (control == nullptr) return;
  const Kind kind = KindOf(control);
  if (kind != Kind::Combo && kind != Kind::List) return;
  const bool combo = kind == Kind::Combo;
  const Silence silence(*this, id);
  ::SendMessageW(control, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
  for (const std::string &item : items) {
    const std::wstring wide = Widen(item);
    ::SendMessageW(control, combo ? CB_ADDSTRING : LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
}

int DialogHost::Selection(ui::ControlId id) const {
  HWND control = Control(id);
  if (control == nullptr) return -1;
  const Kind kind = KindOf(control);
  if (kind == Kind::Combo) return static_cast<int>(::SendMessageW(control, CB_GETCURSEL, 0, 0));
  if (kind == Kind::List) return static_cast<int>(::SendMessageW(control, LB_GETCURSEL, 0, 0));
  return -1;
}

void DialogHost::SetSelection(ui::ControlId id, int index) {
  HWND control = Control(id);
  if (control == nullptr) return;
  const Silence silence(*this, id);
  const Kind kind = KindOf(control);
  if (kind == Kind::Combo) ::SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  if (kind == Kind::List) ::SendMessageW(control, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::optional<uint32_t> DialogHost::Address(ui::ControlId id) const {
  HWND control = Control(id);
  if (control == nullptr) return 0u;
  if (::SendMessageW(control, IPM_ISBLANK, 0, 0) != 0) return 0u;
  DWORD address = 0;
  // The number of octets that are filled in; the blank ones read as 0.
  const LRESULT filled = ::SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  if (filled != 4) return std::nullopt;
  return static_cast<uint32_t>(address);
}

void DialogHost::SetAddress(ui::ControlId id, uint32_t address) {
  HWND control = Control(id);
  if (control == nullptr) return;
  const Silence silence(*this, id);
  ::SendMessageW(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

bool DialogHost::Enabled(ui::ControlId id) const {
  HWND control = Control(id);
  return control != nullptr && ::IsWindowEnabled(control) != FALSE;
}

void DialogHost::SetEnabled(ui::ControlId id, bool enabled) {
  HWND control = Control(id);
  if (control == nullptr) return;
  if (!enabled) MoveFocusOff(control);
  ::EnableWindow(control, enabled ? TRUE : FALSE);
}

bool DialogHost::ReadOnly(ui::ControlId id) const {
  HWND control = Control(id);
  return control != nullptr && (::GetWindowLongW(control, GWL_STYLE) & ES_READONLY) != 0 &&
         KindOf(control) == Kind::Edit;
}

void DialogHost::SetReadOnly(ui::ControlId id, bool readOnly) {
  HWND control = Control(id);
  if (control != nullptr && KindOf(control) == Kind::Edit) {
    ::SendMessageW(control, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
  }
}

bool DialogHost::Visible(ui::ControlId id) const {
  HWND control = Control(id);
  return control != nullptr && (::GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

void DialogHost::SetVisible(ui::ControlId id, bool visible) {
  HWND control = Control(id);
  if (control == nullptr) return;
  if (!visible) MoveFocusOff(control);
  ::ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
}

void DialogHost::SetFocus(ui::ControlId id) {
  HWND control = Control(id);
  if (control == nullptr) return;
  // The dialog's own way: it also moves the default button and selects an edit field's text.
  ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  if (initializing_) focusSetInInit_ = true;
}

ui::ControlId DialogHost::Focus() const {
  HWND focus = ::GetFocus();
  if (window_ == nullptr || focus == nullptr || !::IsChild(window_, focus)) return 0;
  // The edit field inside a combo box has the focus on the combo box's behalf.
  while (::GetAncestor(focus, GA_PARENT) != window_) focus = ::GetAncestor(focus, GA_PARENT);
  return ::GetDlgCtrlID(focus);
}

std::string DialogHost::Caption() const { return window_ != nullptr ? Narrow(WindowText(window_)) : std::string(); }

void DialogHost::SetCaption(std::string_view caption) {
  if (window_ != nullptr) ::SetWindowTextW(window_, Widen(caption).c_str());
}

void DialogHost::End(int result) {
  if (window_ == nullptr) return;
  ended_ = true;
  ::EndDialog(window_, result);
}

int32_t DialogHost::WindowId() const {
  // Window handles keep to 32 bits on 64-bit Windows too, so that 32-bit programs can share them.
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(window_));
}

}  // namespace tillwright::win32
