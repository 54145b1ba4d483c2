// The device tree over SetupAPI (lookups by interface class, the "PortName" of the device's
// hardware key) and the configuration manager (restart of a device node).
#include "devices/device_tree_win.h"

#include <setupapi.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "devices/device_rules.h"
#include "devices/device_tree.h"
#include "platform/trace.h"

namespace vrn {
namespace {

constexpr GUID kComPortInterfaces = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr GUID kUsbDeviceInterfaces = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr GUID kPortsSetupClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Of a "PortName" value only this much is looked at.
constexpr DWORD kPortNameValueBytes = 128;
// The device list has always kept one character less of a port name than a lookup.
constexpr size_t kListedPortNameChars = sizeof(DeviceInfo::portName) - 2;
constexpr ULONG kVetoNameChars = MAX_PATH;

const device_tree_win::ConfigManagerCalls kSystemCalls = {
    CM_Query_And_Remove_SubTreeA, CM_Setup_DevNode, CM_Reenumerate_DevNode, CM_Get_Parent, CM_Request_Device_EjectA,
};
std::atomic<const device_tree_win::ConfigManagerCalls *> g_configManager{&kSystemCalls};

}  // namespace

namespace device_tree_win {

const ConfigManagerCalls &ConfigManager() { return *g_configManager.load(); }

void SetConfigManager(const ConfigManagerCalls *calls) { g_configManager.store(calls != nullptr ? calls : &kSystemCalls); }

}  // namespace device_tree_win

namespace {

void ErrorTrace(const char *operation, DWORD error) {
  char *message = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
      reinterpret_cast<char *>(&message), 0, nullptr);
  platform::Trace("%s failed with error (%d) %s\n", operation, static_cast<int>(error),
                  length != 0 && message != nullptr ? message : "NULL message");
  if (message != nullptr) ::LocalFree(message);
}

const GUID &ClassGuid(InterfaceClass cls) {
  return cls == InterfaceClass::ComPort ? kComPortInterfaces : kUsbDeviceInterfaces;
}

class DeviceSet {
 public:
  explicit DeviceSet(const GUID &interfaceClass)
      : interfaceClass_(interfaceClass),
        set_(::SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr,
                                    DIGCF_DEVICEINTERFACE | DIGCF_PRESENT)) {
    if (set_ == INVALID_HANDLE_VALUE) ErrorTrace("SetupDiGetClassDevs", ::GetLastError());
  }
  ~DeviceSet() {
    if (set_ != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceSet(const DeviceSet &) = delete;
  DeviceSet &operator=(const DeviceSet &) = delete;

  struct Interface {
    std::string path;
    SP_DEVINFO_DATA device{};
  };

  // Calls fn(interface) for each interface of the class, in the system's order, until it
  // returns true. Interfaces whose path cannot be read are passed over.
  template <typename Fn>
  void ForEach(Fn &&fn) const {
    if (set_ == INVALID_HANDLE_VALUE) return;
    std::vector<char> detailBuffer;
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA data{};
      data.cbSize = sizeof data;
      if (!::SetupDiEnumDeviceInterfaces(set_, nullptr, &interfaceClass_, index, &data)) return;
      DWORD needed = 0;
      ::SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &needed, nullptr);
      if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
      detailBuffer.assign(needed, 0);
      auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(detailBuffer.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      Interface found;
      found.device.cbSize = sizeof found.device;
      if (!::SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, needed, nullptr, &found.device)) continue;
      const size_t pathBytes = needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
      found.path.assign(detail->DevicePath, strnlen(detail->DevicePath, pathBytes));
      if (fn(found)) return;
    }
  }

  // The device's hardware key, or null (the error is in GetLastError).
  HKEY OpenHardwareKey(SP_DEVINFO_DATA &device) const {
    const HKEY key = ::SetupDiOpenDevRegKey(set_, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    return key == INVALID_HANDLE_VALUE ? nullptr : key;
  }

 private:
  const GUID &interfaceClass_;
  HDEVINFO set_;
};

// The key's "PortName" up to its first NUL and at most kPortNameValueBytes; "" without one.
std::string ReadPortName(HKEY key) {
  DWORD size = 0;
  if (::RegQueryValueExA(key, "PortName", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0) return {};
  std::string value(size, '\0');
  if (::RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE *>(value.data()), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  value.resize(std::min<size_t>({size, value.size(), kPortNameValueBytes}));
  value.resize(strnlen(value.data(), value.size()));
  return value;
}

bool IsPortsClass(const SP_DEVINFO_DATA &device) {
  return ::IsEqualGUID(device.ClassGuid, kPortsSetupClass) != 0;
}

void FillFound(DeviceInfo &info, const DeviceSet::Interface &found, int32_t vendorId, int32_t productId) {
  info.vendorId = vendorId;
  info.productId = productId;
  info.deviceInstance = found.device.DevInst;
  CopyText(info.devicePath, found.path);
}

}  // namespace

bool FindDevice(InterfaceClass cls, int32_t vendorId, int32_t productId, DeviceInfo &info) {
  info.serial = 0;
  info.portName[0] = '\0';
  const DeviceSet set(ClassGuid(cls));
  set.ForEach([&](DeviceSet::Interface &found) {
    int32_t vid = -1;
    int32_t pid = -1;
    if (!ParseInterfaceIds(found.path, vid, pid) || vid != vendorId || pid != productId) return false;
    FillFound(info, found, vid, pid);
    const HKEY key = set.OpenHardwareKey(found.device);
    if (key == nullptr) {
      platform::Trace("SetupDiOpenDevRegKey failed (%d)", static_cast<int>(::GetLastError()));
      return true;
    }
    const std::string value = ReadPortName(key);
    ::RegCloseKey(key);
    if (!value.empty()) {
      bool isComPort = false;
      CopyText(info.portName, PortNameFromValue(value, isComPort));
      if (isComPort && IsPortsClass(found.device)) info.serial = 1;
    }
    return true;
  });
  return info.serial != 0;
}

std::vector<DeviceInfo> ListUsbDevices() {
  std::vector<DeviceInfo> list;
  const DeviceSet set(kUsbDeviceInterfaces);
  set.ForEach([&](DeviceSet::Interface &found) {
    int32_t vid = -1;
    int32_t pid = -1;
    if (!ParseInterfaceIds(found.path, vid, pid)) return false;
    DeviceInfo info;
    FillFound(info, found, vid, pid);
    if (const HKEY key = set.OpenHardwareKey(found.device)) {
      const std::string value = ReadPortName(key);
      ::RegCloseKey(key);
      if (!value.empty()) {
        CopyText(info.portName, value, kListedPortNameChars);
        if (IsPortsClass(found.device)) info.serial = 1;
      }
    }
    list.push_back(info);
    return false;
  });
  return list;
}

bool RestartDeviceNode(uint32_t deviceInstance, const char *devicePath) {
  const device_tree_win::ConfigManagerCalls &cm = device_tree_win::ConfigManager();
  const DEVINST node = deviceInstance;
  // A veto name buffer also keeps the system from asking the user about a veto.
  PNP_VETO_TYPE vetoType = PNP_VetoTypeUnknown;
  char vetoName[kVetoNameChars] = {};
  CopyText(vetoName, devicePath != nullptr ? devicePath : "");

  CONFIGRET result = cm.queryAndRemoveSubTree(node, &vetoType, vetoName, kVetoNameChars,
                                              CM_REMOVE_NO_RESTART);
  if (result == CR_SUCCESS) {
    result = cm.setupDevNode(node, CM_SETUP_DEVNODE_RESET);
    if (result == CR_SUCCESS) result = cm.reenumerateDevNode(node, CM_REENUMERATE_NORMAL);
    if (result == CR_SUCCESS) return true;
    platform::Trace(" CM_Setup_DevNode fail 0x%X", static_cast<unsigned>(result));
  } else {
    platform::Trace(" CM_Query_And_Remove_SubTree fail 0x%X", static_cast<unsigned>(result));
  }

  // Removal refused or the node not set up again: ejecting the parent takes the device off with
  // it, as an unplug would, and the node is then set up afresh.
  DEVINST parent = 0;
  if (cm.getParent(&parent, node, 0) != CR_SUCCESS) return false;
  vetoType = PNP_VetoTypeUnknown;
  result = cm.requestDeviceEject(parent, &vetoType, vetoName, kVetoNameChars, 0);
  if (result != CR_SUCCESS) {
    platform::Trace(" CM_Request_Device_Eject fail 0x%X", static_cast<unsigned>(result));
    return false;
  }
  result = cm.setupDevNode(node, CM_SETUP_DEVNODE_READY);
  if (result == CR_SUCCESS) result = cm.reenumerateDevNode(node, CM_REENUMERATE_NORMAL);
  if (result != CR_SUCCESS) {
    platform::Trace(" CM_Setup_DevNode fail 0x%X", static_cast<unsigned>(result));
    return false;
  }
  return true;
}

bool DevicePathsMatch(const char *stored, const char *given) {
  if (stored == nullptr || given == nullptr || stored[0] == '\0') return false;
  return InterfacePathsMatch(stored, given);
}

}  // namespace vrn
