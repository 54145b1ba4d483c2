// The diagnosis's facts on Linux: the device tree through libudev, access rights from the nodes
// themselves, programs in the way from /proc.
#include <dirent.h>
#include <grp.h>
#include <libudev.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "core/diagnosis_probes.h"
#include "core/port_scan.h"
#include "devices/device_tree.h"
#include "drivers/device_identity.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "platform/serial_ports.h"
#include "vrn_interface.h"

namespace tillwright::diagnosis {
namespace {

std::optional<std::string> ReadText(const std::string &path, size_t max = 1u << 16) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(max, '\0');
  file.read(text.data(), static_cast<std::streamsize>(max));
  text.resize(static_cast<size_t>(file.gcount()));
  return text;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string RealPath(const std::string &path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

std::string BaseName(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The driver bound to the device's first interface that has one ("1-2:1.0/driver").
std::string InterfaceDriver(const std::string &busPath) {
  DIR *dir = ::opendir(busPath.c_str());
  if (dir == nullptr) return {};
  std::set<std::string> interfaces;
  while (const dirent *entry = ::readdir(dir))
    if (std::strchr(entry->d_name, ':') != nullptr) interfaces.insert(entry->d_name);
  ::closedir(dir);
  for (const std::string &name : interfaces) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink((busPath + "/" + name + "/driver").c_str(), target, sizeof target - 1);
    if (n > 0) return BaseName(std::string(target, static_cast<size_t>(n)));
  }
  return {};
}

// Whether the node's access ACL grants this user read and write (what udev's uaccess writes).
// The extended attribute's layout: a 4-byte version, then entries of tag, permissions, id.
bool AclGrants(const std::string &path, uid_t uid) {
  unsigned char buf[1024];
  const ssize_t n = ::getxattr(path.c_str(), "system.posix_acl_access", buf, sizeof buf);
  if (n < 4) return false;
  constexpr uint16_t kUserTag = 0x02;
  for (ssize_t at = 4; at + 8 <= n; at += 8) {
    const uint16_t tag = static_cast<uint16_t>(buf[at] | buf[at + 1] << 8);
    const uint16_t perm = static_cast<uint16_t>(buf[at + 2] | buf[at + 3] << 8);
    const uint32_t id = static_cast<uint32_t>(buf[at + 4] | buf[at + 5] << 8 | buf[at + 6] << 16) |
                        static_cast<uint32_t>(buf[at + 7]) << 24;
    if (tag == kUserTag && id == uid && (perm & 6) == 6) return true;
  }
  return false;
}

class LinuxProbes final : public Probes {
 public:
  explicit LinuxProbes(platform::SerialRoots roots) : roots_(std::move(roots)) {}

  System Kind() const override { return System::Linux; }

  std::string SystemDescription() override {
    utsname u{};
    if (::uname(&u) != 0) return "Linux";
    return std::string(u.sysname) + " " + u.release + " " + u.machine;
  }

  std::vector<UsbDevice> UsbDevices() override {
    std::vector<UsbDevice> found;
    for (const vrn::DeviceInfo &info : vrn::ListUsbDevices()) {
      if (info.vendorId != vrn::kDeviceVendorId || info.productId != vrn::kDeviceProductId) continue;
      UsbDevice d;
      d.busPath = info.devicePath;
      char node[32];
      std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", (info.deviceInstance >> 8) & 0xFFFu,
                    info.deviceInstance & 0xFFu);
      d.node = node;
      if (info.serial != 0) d.port = info.portName;
      d.driver = InterfaceDriver(d.busPath);
      found.push_back(std::move(d));
    }
    return found;
  }

  NodeAccess Access(const std::string &name) override {
    const std::string path = Path(name);
    NodeAccess a;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      a.exists = false;
      a.canOpen = false;
      return a;
    }
    a.canOpen = ::access(path.c_str(), R_OK | W_OK) == 0;
    a.mode = st.st_mode & 07777u;
    a.owner = UserName(st.st_uid);
    a.group = GroupName(st.st_gid);
    a.inGroup = InGroup(st.st_gid);
    a.acl = AclGrants(path, ::geteuid());
    return a;
  }

  InstalledRule Rule() override {
    for (const char *dir : {kLocalRuleDir, kPackageRuleDir}) {
      const std::string path = std::string(dir) + "/" + kRuleName;
      if (std::optional<std::string> text = ReadText(path)) return {path, *text};
    }
    return {};
  }

  bool ModemManagerRunning() override {
    for (const int pid : Pids())
      if (Comm(pid) == "ModemManager") return true;
    return false;
  }

  bool ModemManagerIgnores(const std::string &port) override {
    udev *context = udev_new();
    if (context == nullptr) return false;
    bool ignored = false;
    udev_device *tty = udev_device_new_from_subsystem_sysname(context, "tty", BaseName(RealPath(Path(port))).c_str());
    // The rule may mark the tty or the USB device above it; ModemManager honours either.
    for (udev_device *d = tty; d != nullptr && !ignored; d = udev_device_get_parent(d)) {
      const char *value = udev_device_get_property_value(d, "ID_MM_DEVICE_IGNORE");
      ignored = value != nullptr && std::strcmp(value, "1") == 0;
    }
    if (tty != nullptr) udev_device_unref(tty);
    udev_unref(context);
    return ignored;
  }

  std::vector<Holder> Holders(const std::string &port) override {
    const std::string path = RealPath(Path(port));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::set<int> pids;
    // The suite's own programs lock what they open (flock): /proc/locks names file system and inode.
    if (std::optional<std::string> locks = ReadText("/proc/locks", 1u << 20)) {
      std::istringstream lines(*locks);
      std::string line;
      while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string word; fields >> word;) f.push_back(word);
        // "1: FLOCK  ADVISORY  WRITE 4711 00:05:1234 0 EOF"; a blocked waiter has "->" first.
        const size_t shift = f.size() > 1 && f[1] == "->" ? 1 : 0;
        if (f.size() < 6 + shift) continue;
        unsigned maj = 0, min = 0;
        unsigned long long ino = 0;
        if (std::sscanf(f[5 + shift].c_str(), "%x:%x:%llu", &maj, &min, &ino) != 3) continue;
        if (maj == major(st.st_dev) && min == minor(st.st_dev) && ino == st.st_ino)
          pids.insert(std::atoi(f[4 + shift].c_str()));
      }
    }
    // Any other program with the port open.
    const auto [first, last] = OpenFiles().equal_range(path);
    for (auto it = first; it != last; ++it) pids.insert(it->second);
    pids.erase(static_cast<int>(::getpid()));
    std::vector<Holder> holders;
    for (const int pid : pids)
      if (pid > 0) holders.push_back({pid, Comm(pid)});
    return holders;
  }

  std::vector<std::string> ScanPorts() override { return ScanPortNamesWithSkipped(roots_); }

  std::string SkipReason(const std::string &port) override {
    const std::string path = Path(port);
    if (path.empty()) return {};
    const char *why = platform::SerialPortSkipReason(path, roots_);
    return why != nullptr ? why : "";
  }

  OpenResult TryOpen(const std::string &port) override {
    if (Path(port).empty()) return OpenResult::Missing;
    platform::SerialPort probe;
    switch (probe.Open(port)) {
      case 0:
        return OpenResult::Opens;
      case ENOENT:
      case ENODEV:
      case ENXIO:
        return OpenResult::Missing;
      case EACCES:
      case EPERM:
        return OpenResult::Denied;
      case EBUSY:
        return OpenResult::Busy;
      default:
        return OpenResult::Failed;
    }
  }

  bool UsbReachable() override { return vrn_test_connection() != 0; }
  std::string UsbDriverChoice() override { return {}; }
  seriallink::Statistics LinkStatistics() override { return seriallink::GetStatistics(); }

 private:
  static std::string Path(const std::string &port) { return platform::ResolvePortName(port); }

  // What every process has open, read once per run: the scan asks about dozens of ports.
  const std::multimap<std::string, int> &OpenFiles() {
    if (openFiles_) return *openFiles_;
    openFiles_.emplace();
    for (const int pid : Pids()) {
      const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
      DIR *dir = ::opendir(fdDir.c_str());
      if (dir == nullptr) continue;
      std::set<std::string> seen;
      while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        char target[PATH_MAX];
        const ssize_t n = ::readlink((fdDir + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0 || target[0] != '/') continue;
        std::string file(target, static_cast<size_t>(n));
        if (seen.insert(file).second) openFiles_->emplace(std::move(file), pid);
      }
      ::closedir(dir);
    }
    return *openFiles_;
  }

  static std::vector<int> Pids() {
    std::vector<int> pids;
    DIR *dir = ::opendir("/proc");
    if (dir == nullptr) return pids;
    while (const dirent *entry = ::readdir(dir)) {
      char *end = nullptr;
      const long pid = std::strtol(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && pid > 0) pids.push_back(static_cast<int>(pid));
    }
    ::closedir(dir);
    return pids;
  }

  static std::string Comm(int pid) {
    return Trimmed(ReadText("/proc/" + std::to_string(pid) + "/comm", 64).value_or(""));
  }

  static std::string UserName(uid_t uid) {
    char buf[4096];
    passwd pw{};
    passwd *found = nullptr;
    if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr) return found->pw_name;
    return std::to_string(uid);
  }

  static std::string GroupName(gid_t gid) {
    char buf[8192];
    group gr{};
    group *found = nullptr;
    if (::getgrgid_r(gid, &gr, buf, sizeof buf, &found) == 0 && found != nullptr) return found->gr_name;
    return std::to_string(gid);
  }

  static bool InGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
      if (groups[static_cast<size_t>(i)] == gid) return true;
    return false;
  }

  const platform::SerialRoots roots_;
  std::optional<std::multimap<std::string, int>> openFiles_;
};

}  // namespace

std::unique_ptr<Probes> SystemProbes(const platform::SerialRoots &roots) {
  return std::make_unique<LinuxProbes>(roots);
}

std::unique_ptr<Probes> SystemProbes() { return SystemProbes(platform::SerialRootsFromEnvironment()); }

}  // namespace tillwright::diagnosis
