#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/serial_ports.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

// A locked file as /proc/locks names it: the major and minor of its file system, its inode.
using LockedInode = std::tuple<unsigned, unsigned, unsigned long long>;

std::optional<struct stat> CharDevice(const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return std::nullopt;
  return st;
}

std::vector<std::string> Names(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent *entry = ::readdir(d)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return names;
}

// Small sysfs and procfs files; nothing there is larger than a page.
std::optional<std::string> ReadFile(const std::string &path, size_t limit = 4096) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buf[512];
  ssize_t n = 0;
  while (text.size() < limit && (n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fd);
  if (n < 0) return std::nullopt;
  return text;
}

std::string Trim(std::string s) {
  const auto space = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
  while (!s.empty() && space(s.back())) s.pop_back();
  size_t from = 0;
  while (from < s.size() && space(s[from])) ++from;
  return s.substr(from);
}

// A tty's name as it may stand in a sysfs path.
bool PlainName(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool NumberedName(const std::string &name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// One level of a symbolic link, relative targets taken from the link's directory; nothing when
// `link` is no link.
std::optional<std::string> LinkTarget(const std::string &link) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return std::nullopt;
  fs::path target(std::string(buf, static_cast<size_t>(n)));
  if (target.is_relative()) target = fs::path(link).parent_path() / target;
  return target.lexically_normal().string();
}

std::set<LockedInode> LockedInodes(const std::string &locksFile) {
  std::set<LockedInode> locked;
  if (locksFile.empty()) return locked;
  const std::optional<std::string> text = ReadFile(locksFile, 1u << 20);
  if (!text) return locked;
  std::istringstream lines(*text);
  std::string line;
  while (std::getline(lines, line)) {
    // "1: FLOCK  ADVISORY  WRITE 4711 00:05:1234 0 EOF": the file is the field with two colons.
    std::istringstream fields(line);
    std::string field;
    while (fields >> field) {
      if (std::count(field.begin(), field.end(), ':') != 2) continue;
      unsigned maj = 0;
      unsigned min = 0;
      unsigned long long ino = 0;
      if (std::sscanf(field.c_str(), "%x:%x:%llu", &maj, &min, &ino) == 3) locked.insert({maj, min, ino});
      break;
    }
  }
  return locked;
}

bool IsConsole(dev_t device, const SerialRoots &roots) {
  if (roots.dev.empty()) return false;
  const std::optional<std::string> active = ReadFile(roots.sysTty + "/console/active");
  if (!active) return false;
  std::istringstream names(*active);
  std::string name;
  while (names >> name) {
    if (!PlainName(name)) continue;
    const std::optional<struct stat> console = CharDevice(roots.dev + "/" + name);
    if (console && console->st_rdev == device) return true;
  }
  return false;
}

bool UartAbsent(const std::string &path, dev_t device, const SerialRoots &roots) {
  // The tty's name: the path's own, or that of a link's target (a COM alias, a by-id link).
  std::vector<std::string> names;
  std::string at = path;
  for (int hop = 0; hop < 16; ++hop) {
    names.push_back(fs::path(at).filename().string());
    const std::optional<std::string> next = LinkTarget(at);
    if (!next) break;
    at = *next;
  }
  const std::string number = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  bool known = false;
  for (const std::string &name : names) {
    if (!PlainName(name)) continue;
    const std::string dir = roots.sysTty + "/" + name;
    const std::optional<std::string> type = ReadFile(dir + "/type");
    if (!type) continue;  // only the serial core's ports have a type
    // A sysfs entry of the same name for another device says nothing about this one.
    if (const std::optional<std::string> dev = ReadFile(dir + "/dev"); dev && Trim(*dev) != number) continue;
    known = true;
    const std::string value = Trim(*type);
    if (value == std::to_string(PORT_UNKNOWN)) return true;
  }
  if (known || !NumberedName(names.back(), "ttyS")) return false;

  // No sysfs to ask: the port itself answers, opened without waiting for a carrier and without
  // becoming anyone's controlling terminal. A port that cannot be opened is left to the scan.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info {};
  const bool absent = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
  ::close(fd);
  return absent;
}

}  // namespace

SerialRoots SerialRootsFromEnvironment() {
  const char *map = std::getenv("FISCAL_COM_DIR");
  return map != nullptr && *map != '\0' ? SerialRoots::None() : SerialRoots::System();
}

std::vector<std::string> ExtraSerialPorts(const SerialRoots &roots, const std::vector<std::string> &reached) {
  std::set<dev_t> seen;
  for (const std::string &path : reached)
    if (const std::optional<struct stat> st = CharDevice(path)) seen.insert(st->st_rdev);
  const std::set<LockedInode> locked = LockedInodes(roots.locks);

  std::vector<std::string> ports;
  const auto take = [&](const std::string &path) {
    const std::optional<struct stat> st = CharDevice(path);
    if (!st || !seen.insert(st->st_rdev).second) return;
    if (locked.count({major(st->st_dev), minor(st->st_dev), static_cast<unsigned long long>(st->st_ino)}) != 0)
      return;
    ports.push_back(path);
  };

  if (!roots.byId.empty()) {
    std::vector<std::string> links = Names(roots.byId);
    std::sort(links.begin(), links.end());
    for (const std::string &name : links) {
      const std::string link = roots.byId + "/" + name;
      take(LinkTarget(link).value_or(link));
    }
  }
  if (!roots.dev.empty()) {
    std::vector<std::string> ttys = Names(roots.dev);
    std::erase_if(ttys, [](const std::string &name) {
      return !NumberedName(name, "ttyUSB") && !NumberedName(name, "ttyACM");
    });
    std::sort(ttys.begin(), ttys.end(), NaturalLess);
    for (const std::string &name : ttys) take(roots.dev + "/" + name);
  }
  return ports;
}

const char *SerialPortSkipReason(const std::string &path, const SerialRoots &roots) {
  if (roots.sysTty.empty()) return nullptr;
  const std::optional<struct stat> st = CharDevice(path);
  if (!st) return nullptr;
  if (IsConsole(st->st_rdev, roots)) return "the system console";
  if (UartAbsent(path, st->st_rdev, roots)) return "a built-in port without its UART";
  return nullptr;
}

bool SkipSerialPort(const std::string &path, const SerialRoots &roots) {
  return SerialPortSkipReason(path, roots) != nullptr;
}

}  // namespace platform
