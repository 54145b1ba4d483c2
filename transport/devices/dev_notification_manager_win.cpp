// The notification manager on Windows: a hidden top-level window on the manager's own thread,
// registered for the device-interface broadcasts of every interface class. (A message-only
// window would be simpler, but broadcasts do not reach those.)
#include <windows.h>

#include <dbt.h>

#include <chrono>
#include <cstddef>
#include <cwchar>
#include <string>
#include <system_error>
#include <utility>

#include "devices/dev_notification_manager.h"
#include "devices/device_rules.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace vrn {
namespace {

constexpr wchar_t kClassName[] = L"DevNotificationManager";
// The interface class the filter carries; with DEVICE_NOTIFY_ALL_INTERFACE_CLASSES it restricts
// nothing.
constexpr GUID kFilterClass = {0x25DBCE51, 0x6C8F, 0x4A72, {0x8A, 0x6D, 0xB5, 0x4C, 0x2B, 0x4F, 0xC8, 0x35}};
// The longest interface name taken from a broadcast: the longest path Windows has.
constexpr size_t kMaxNameChars = 32767;

void ErrorTrace(const char *operation, DWORD error) {
  std::string text;
  char *buffer = nullptr;
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
  if (n != 0 && buffer != nullptr) text.assign(buffer, n);
  if (buffer != nullptr) ::LocalFree(buffer);
  // The format ends the line itself.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  platform::Trace("%s failed with error (%d) %s\n", operation != nullptr ? operation : "NULL function",
                  static_cast<int>(error), text.empty() ? "NULL message" : text.c_str());
}

// This module's own instance: the class is registered under it, so that a program holding two
// copies of the library (one linked in, one loaded) gets two classes, each with its own
// procedure, and not the other copy's.
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ErrorTrace), &module);
  return module;
}

// The interface name of a device-interface broadcast; false for any other broadcast and for an
// empty name. The name is read no further than the broadcast's own size says, since a broadcast
// may come from any program.
bool InterfaceName(LPARAM data, std::string &name) {
  const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(data);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
  constexpr size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header->dbch_size <= kNameOffset) return false;
  const auto *broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(data);
  size_t limit = (header->dbch_size - kNameOffset) / sizeof(wchar_t);
  if (limit > kMaxNameChars) limit = kMaxNameChars;
  const int length = static_cast<int>(::wcsnlen(broadcast->dbcc_name, limit));
  if (length == 0) return false;
  const int size = ::WideCharToMultiByte(CP_ACP, 0, broadcast->dbcc_name, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  name.assign(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, broadcast->dbcc_name, length, name.data(), size, nullptr, nullptr);
  return true;
}

}  // namespace

struct DevNotificationManager::HiddenWindow {
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void Register(DevNotificationManager &manager, HWND window);
  static void Close(DevNotificationManager &manager, HWND window);
  static void DeviceChange(DevNotificationManager &manager, WPARAM event, LPARAM data);
  static bool Make(DevNotificationManager &manager);
  static bool Loop(DevNotificationManager &manager);
};

void DevNotificationManager::HiddenWindow::Register(DevNotificationManager &manager, HWND window) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kFilterClass;
  manager.notification_ =
      ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
  if (manager.notification_ == nullptr) {
    const DWORD error = ::GetLastError();
    ErrorTrace("RegisterDeviceNotification", error);
    ErrorTrace("DoRegisterDeviceInterface", error);
  }
}

void DevNotificationManager::HiddenWindow::Close(DevNotificationManager &manager, HWND window) {
  if (manager.notification_ != nullptr) {
    if (!::UnregisterDeviceNotification(manager.notification_)) {
      ErrorTrace("UnregisterDeviceNotification", ::GetLastError());
    }
    manager.notification_ = nullptr;
  }
  ::DestroyWindow(window);
}

void DevNotificationManager::HiddenWindow::DeviceChange(DevNotificationManager &manager, WPARAM event, LPARAM data) {
  std::string name;
  if (!InterfaceName(data, name)) return;
  int32_t vendorId = -1;
  int32_t productId = -1;
  if (!ParseInterfaceIds(name, vendorId, productId)) return;
  switch (event) {
    case DBT_DEVICEARRIVAL:
      manager.OnArrival(vendorId, productId, name.c_str());
      break;
    case DBT_DEVICEREMOVECOMPLETE:
      manager.OnRemoval(name.c_str());
      break;
    case DBT_DEVNODES_CHANGED:
      manager.OnChange(name.c_str());
      break;
    default:
      break;
  }
}

LRESULT CALLBACK DevNotificationManager::HiddenWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                                                 LPARAM lParam) {
  auto *manager = reinterpret_cast<DevNotificationManager *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      manager = static_cast<DevNotificationManager *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(manager));
      if (manager != nullptr) manager->window_ = window;
      break;
    }
    case WM_CREATE:
      platform::Trace("Device notification created (%s)", manager != nullptr ? "Ok" : "Null");
      if (manager != nullptr) Register(*manager, window);
      return 0;
    case WM_CLOSE:
      if (manager != nullptr) {
        Close(*manager, window);
      } else {
        ::DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (manager != nullptr) manager->window_ = nullptr;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_DEVICECHANGE:
      if (manager != nullptr) {
        // The callbacks open devices and start protocols; nothing they throw may unwind
        // through the system's frames of the message dispatch.
        try {
          DeviceChange(*manager, wParam, lParam);
        } catch (...) {
          platform::Trace("DevNotification: a device-change callback failed");
        }
      }
      return TRUE;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

bool DevNotificationManager::HiddenWindow::Make(DevNotificationManager &manager) {
  const HINSTANCE instance = ThisModule();
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  // The module stays loaded to the end of the process, so a class registered by an earlier
  // manager still has a valid procedure and is used again.
  if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    const DWORD error = ::GetLastError();
    ErrorTrace("DevNotification RegisterClassEx", error);
    ErrorTrace("DevNotification InitWindowClass", error);
    return false;
  }
  if (::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, instance, &manager) == nullptr) {
    ErrorTrace("DevNotification CreateWindow", ::GetLastError());
    return false;
  }
  return true;
}

// Until the window is closed and the quit message comes; false when waiting failed.
bool DevNotificationManager::HiddenWindow::Loop(DevNotificationManager &manager) {
  const HANDLE events[2] = {manager.stopEvent_, manager.postEvent_};
  for (;;) {
    const DWORD woke = ::MsgWaitForMultipleObjectsEx(2, events, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) {
      // Closing goes the way a WM_CLOSE from outside goes: unregister, destroy, quit. Without a
      // window there is nothing to close, only the loop to leave.
      if (manager.window_ != nullptr) {
        ::SendMessageW(static_cast<HWND>(manager.window_), WM_CLOSE, 0, 0);
      } else {
        ::PostQuitMessage(0);
      }
    } else if (woke == WAIT_OBJECT_0 + 1) {
      manager.DeliverQueued();
    } else if (woke != WAIT_OBJECT_0 + 2) {
      ErrorTrace("DevNotification GetMessage", ::GetLastError());
      return false;
    }
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return true;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

DevNotificationManager *DevNotificationManager::GetInstance() {
  auto *manager = new DevNotificationManager();
  // Auto-reset: each wakes the thread once per setting.
  manager->stopEvent_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  manager->postEvent_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (manager->stopEvent_ == nullptr || manager->postEvent_ == nullptr) {
    ErrorTrace("DevNotification CreateEvent", ::GetLastError());
    delete manager;
    return nullptr;
  }
  platform::KeepModuleLoaded();
  try {
    manager->thread_ = std::thread(&DevNotificationManager::Run, manager);
  } catch (const std::system_error &e) {
    ErrorTrace("DevNotification _beginthreadex", static_cast<DWORD>(e.code().value()));
    delete manager;
    return nullptr;
  }
  if (!manager->AwaitRunning()) {
    Release(manager);
    return nullptr;
  }
  return manager;
}

void DevNotificationManager::Release(DevNotificationManager *manager) {
  if (manager == nullptr) return;
  // The thread wakes at once whatever its queue holds; the window belongs to it, so it closes
  // the window itself.
  ::SetEvent(manager->stopEvent_);
  if (manager->thread_.joinable()) manager->thread_.join();
  delete manager;
}

DevNotificationManager::DevNotificationManager() = default;

DevNotificationManager::~DevNotificationManager() {
  if (stopEvent_ != nullptr) ::CloseHandle(stopEvent_);
  if (postEvent_ != nullptr) ::CloseHandle(postEvent_);
}

void DevNotificationManager::PostArrival(const DeviceInfo &info) {
  Event event;
  event.kind = Event::Kind::Posted;
  event.info = info;
  Enqueue(std::move(event));
  ::SetEvent(postEvent_);
}

void DevNotificationManager::Run() {
  platform::SetCurrentThreadName("vrn-devnotify");
  // A manager whose window could not be made is still handed out: the drivers then find
  // present devices but hear of no changes.
  HiddenWindow::Make(*this);
  // The queue exists before the manager is handed out, so that nothing sent or posted to this
  // thread from then on is lost.
  MSG message;
  ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SayRunning();
  if (!HiddenWindow::Loop(*this) && window_ != nullptr) {
    HiddenWindow::Close(*this, static_cast<HWND>(window_));
  }
}

}  // namespace vrn
