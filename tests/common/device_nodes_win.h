// Device nodes and device-change broadcasts as the Windows tests make them: nodes registered
// through SetupAPI and marked present, the manager window found by its class, and broadcasts
// laid out as the system sends them.
#pragma once

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>


namespace fiscal_test {

inline constexpr GUID kComPort = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
inline constexpr GUID kUsbDevice = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
inline constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID kUsbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// A registered node with a COM-port and a USB-device interface; removed again when it goes.
class TestNode {
 public:
  TestNode(const char *instanceId, const GUID &setupClass, const char *portName /* null: no hardware key */)
      : instanceId_(instanceId), set_(::SetupDiCreateDeviceInfoList(&setupClass, nullptr)) {
    device_.cbSize = sizeof device_;
    // A node a killed run left behind goes first, through a list of its own: the new node's list
    // would keep the removed one and refuse to make it again.
    const HDEVINFO staleSet = ::SetupDiCreateDeviceInfoList(&setupClass, nullptr);
    SP_DEVINFO_DATA stale{};
    stale.cbSize = sizeof stale;
    if (::SetupDiOpenDeviceInfoA(staleSet, instanceId, nullptr, 0, &stale)) ::SetupDiRemoveDevice(staleSet, &stale);
    ::SetupDiDestroyDeviceInfoList(staleSet);
    if (!::SetupDiCreateDeviceInfoA(set_, instanceId, &setupClass, nullptr, nullptr, 0, &device_) ||
        !::SetupDiRegisterDeviceInfo(set_, &device_, 0, nullptr, nullptr, nullptr)) {
      error_ = ::GetLastError();
      return;
    }
    registered_ = true;
    for (const GUID &cls : {kComPort, kUsbDevice}) {
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof data;
      if (!::SetupDiCreateDeviceInterfaceA(set_, &device_, &cls, nullptr, 0, &data)) error_ = ::GetLastError();
    }
    if (portName == nullptr) return;
    const HKEY key = ::SetupDiCreateDevRegKeyA(set_, &device_, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) {
      error_ = ::GetLastError();
      return;
    }
    error_ = static_cast<DWORD>(::RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE *>(portName),
                                                 static_cast<DWORD>(std::strlen(portName) + 1)));
    ::RegCloseKey(key);
  }
  ~TestNode() {
    if (registered_) ::SetupDiRemoveDevice(set_, &device_);
    ::SetupDiDestroyDeviceInfoList(set_);
  }
  TestNode(const TestNode &) = delete;
  TestNode &operator=(const TestNode &) = delete;
  DWORD Error() const { return error_; }

  // Marks the node's interfaces active, as the system does once a driver has started the
  // device: then lookups of present devices list it (wine starts no node of its own accord).
  DWORD MarkPresent() const {
    for (const char *cls : {"{86e0d1e0-8089-11d0-9ce4-08003e301f73}", "{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}) {
      const std::string classPath = std::string(R"(System\CurrentControlSet\Control\DeviceClasses\)") + cls;
      HKEY classKey = nullptr;
      if (LONG e = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, classPath.c_str(), 0, KEY_READ, &classKey)) return static_cast<DWORD>(e);
      bool marked = false;
      char name[512];
      for (DWORD i = 0; !marked; ++i) {
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(classKey, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        char instance[256] = {};
        DWORD size = sizeof instance - 1;
        if (::RegGetValueA(classKey, name, "DeviceInstance", RRF_RT_REG_SZ, nullptr, instance, &size) != ERROR_SUCCESS ||
            ::lstrcmpiA(instance, instanceId_.c_str()) != 0) {
          continue;
        }
        HKEY control = nullptr;
        const std::string controlPath = std::string(name) + R"(\#\Control)";
        if (::RegCreateKeyExA(classKey, controlPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &control, nullptr) == ERROR_SUCCESS) {
          const DWORD one = 1;
          marked = ::RegSetValueExA(control, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof one) == ERROR_SUCCESS;
          ::RegCloseKey(control);
        }
      }
      ::RegCloseKey(classKey);
      if (!marked) return ERROR_NOT_FOUND;
    }
    return ERROR_SUCCESS;
  }

 private:
  std::string instanceId_;
  HDEVINFO set_;
  SP_DEVINFO_DATA device_{};
  bool registered_ = false;
  DWORD error_ = ERROR_SUCCESS;
};

// Windows keeps the case of an instance id in its paths, wine lowers it.
inline std::string LowerPath(std::string path) {
  for (char &c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return path;
}

// The manager window of this process; another program on the same desktop may have one too.
inline HWND FindManagerWindow() {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, L"DevNotificationManager", nullptr)) != nullptr) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId()) break;
  }
  return window;
}

// A broadcast as the system lays it out, the header and then the name; its size covers `chars`
// characters of the name (all and the terminator unless told).
inline std::vector<wchar_t> Broadcast(const std::string &name, DWORD type = DBT_DEVTYP_DEVICEINTERFACE, size_t chars = SIZE_MAX) {
  std::vector<wchar_t> words(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) / sizeof(wchar_t) + name.size() + 1);
  auto *b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(words.data());
  b->dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                    std::min(chars, name.size() + 1) * sizeof(wchar_t));
  b->dbcc_devicetype = type;
  std::copy(name.begin(), name.end(), b->dbcc_name);
  return words;
}

}  // namespace fiscal_test
