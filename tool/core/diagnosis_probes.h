// The facts the connection diagnosis asks the system for, behind one interface: the real one
// reads the device tree, /proc, /dev and sysfs (diagnosis_probes_linux.cpp) or SetupAPI
// (diagnosis_probes_win.cpp); tests answer with stand-ins, so that every fault can be staged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/diagnosis.h"
#include "core/link.h"
#include "platform/serial_ports.h"
#include "seriallink/link.h"

namespace tillwright::diagnosis {

inline constexpr const char *kRuleName = "60-vrn-fiscal.rules";
// Where the package puts the rule, then where a person installs it by hand.
inline constexpr const char *kPackageRuleDir = "/usr/lib/udev/rules.d";
inline constexpr const char *kLocalRuleDir = "/etc/udev/rules.d";

enum class System { Linux, Windows };

// A USB device with the fiscal device's vendor and product id.
struct UsbDevice {
  std::string busPath;  // sysfs path (Linux), interface path (Windows)
  std::string node;     // /dev/bus/usb/BBB/DDD; empty where there is none
  std::string port;     // its serial port; empty when it presents none
  std::string driver;   // the driver bound to its interface; empty when none is
};

// Whether this user can open a device node, and when not, what stands in the way.
struct NodeAccess {
  bool exists = true;
  bool canOpen = true;  // read and write
  std::string owner;
  std::string group;
  unsigned mode = 0;     // permission bits
  bool inGroup = false;  // this user is a member of `group`
  bool acl = false;      // an ACL grants this user the node (udev's uaccess at work)
};

// A program that has a port open or holds its lock.
struct Holder {
  int pid = 0;
  std::string name;  // as /proc/<pid>/comm says; empty when unknown
};

// How opening a port went, when the serial link could not open it.
enum class OpenResult { Opens, Missing, Denied, Busy, Failed };

struct InstalledRule {
  std::string path;  // empty when none is installed
  std::string text;
};

class Probes {
 public:
  virtual ~Probes() = default;

  virtual System Kind() const = 0;
  // "Linux 6.1.0 x86_64", "Windows 10.0": for the bundle.
  virtual std::string SystemDescription() = 0;
  virtual std::vector<UsbDevice> UsbDevices() = 0;
  virtual NodeAccess Access(const std::string &path) = 0;
  virtual InstalledRule Rule() = 0;
  virtual bool ModemManagerRunning() = 0;
  // Whether udev marks the port ID_MM_DEVICE_IGNORE=1 (on it or on the USB device above it).
  virtual bool ModemManagerIgnores(const std::string &port) = 0;
  // Other programs with the port (a name or path) open or locked; never this one.
  virtual std::vector<Holder> Holders(const std::string &port) = 0;
  // The Connect scan's list.
  virtual std::vector<std::string> ScanPorts() = 0;
  // Why the scan must not open the port; empty when it may.
  virtual std::string SkipReason(const std::string &port) = 0;
  // Why the port did not open; asked after the serial link failed to open it.
  virtual OpenResult TryOpen(const std::string &port) = 0;
  // Whether the transport library reaches a device over USB.
  virtual bool UsbReachable() = 0;
  // Windows: which of the transport's drivers would serve the device, as far as can be seen.
  virtual std::string UsbDriverChoice() = 0;
  virtual seriallink::Statistics LinkStatistics() = 0;
};

// The machine's own; the serial devices looked for under `roots` (tests move them).
std::unique_ptr<Probes> SystemProbes();
std::unique_ptr<Probes> SystemProbes(const platform::SerialRoots &roots);

struct Setup {
  std::string namedPort;  // the port the person named (tried first); empty for none
};

// Diagnose over given facts and links: USB commands go through `usb` (its TestConnection says
// whether the transport reaches a device), serial ports through `serial`'s SerialConnect.
Report Diagnose(Probes &probes, ILink &usb, ILink &serial, const Setup &setup, const Progress &progress);

// Diagnose on this machine, trying `namedPort` first when it is not empty.
Report DiagnosePort(const std::string &namedPort, const Progress &progress);

// The report as one JSON document: findings (verdict, check, seen, remedy), the answering port,
// the ports tried.
std::string ReportJson(const Report &report);

// CRC-32 as zip and gzip use it (polynomial 0xEDB88320), continued from `crc`.
uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);

}  // namespace tillwright::diagnosis
