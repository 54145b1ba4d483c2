// The checks of the connection diagnosis, in the order they run, over the facts of diagnosis_probes.h.
#include "core/diagnosis.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/command_codes.h"
#include "core/diagnosis_probes.h"
#include "core/messages.h"
#include "core/send_command.h"
#include "platform/trace.h"

namespace tillwright::diagnosis {
namespace {

using Clock = std::chrono::steady_clock;

// The line settings of the Connect scan: 115200 baud, 8 data bits, no parity, one stop bit.
constexpr uint32_t kBaudRate = 115200;
constexpr uint16_t kDataBits = 8;
constexpr uint16_t kNoParity = 0;
constexpr uint16_t kOneStopBit = 0;

constexpr const char *kUsb = "USB";
constexpr const char *kRuleSource = "packaging/udev/60-vrn-fiscal.rules";

std::string InstallRuleCommand() {
  // A technician has the package, a developer the source tree: both ways are named.
  return std::string(
             "install the udev rule: sudo apt install --reinstall libvrn-interface1 (or, from the source "
             "tree: sudo cp ") +
         kRuleSource + " " + kLocalRuleDir +
         "/), then sudo udevadm control --reload && sudo udevadm trigger, and plug the device in again";
}

std::string Octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777u);
  return text;
}

std::string HoldersText(const std::vector<Holder> &holders) {
  std::string text;
  for (const Holder &h : holders) {
    if (!text.empty()) text += ", ";
    text += (h.name.empty() ? std::string("a program") : h.name) + " (pid " + std::to_string(h.pid) + ")";
  }
  return text;
}

std::string CloseHoldersRemedy(const std::vector<Holder> &holders) {
  std::string names;
  for (const Holder &h : holders) {
    if (!names.empty()) names += ", ";
    names += h.name.empty() ? "pid " + std::to_string(h.pid) : h.name;
  }
  return "close " + names + " (or: kill " + std::to_string(holders.front().pid) + ")";
}

class Run {
 public:
  Run(Probes &probes, ILink &usb, ILink &serial, const Setup &setup, const Progress &progress)
      : probes_(probes), usb_(usb), serial_(serial), setup_(setup), progress_(progress) {}

  Report Go() {
    const bool onLinux = probes_.Kind() == System::Linux;
    steps_ = onLinux ? 5 : 4;
    report_.system = probes_.SystemDescription();
    const seriallink::Statistics before = probes_.LinkStatistics();
    if (!Next("Looking for the device on USB")) return report_;
    devices_ = probes_.UsbDevices();
    CheckUsb();
    if (onLinux) {
      if (!Next("Checking access rights")) return report_;
      CheckAccess();
      if (!Next("Looking for programs in the way")) return report_;
      CheckInterference();
    } else {
      if (!Next("Reading the Windows device tree")) return report_;
      CheckWindows();
    }
    if (!Next("Trying the ports")) return report_;
    CheckPorts();
    if (stopped_ || !Next("Asking the device")) {
      // A port that answered is given back; no verdict is drawn from a scan cut short.
      if (answeringLink_ == &serial_) serial_.SerialDisconnect();
      return report_;
    }
    CheckDevice(before);
    return std::move(report_);
  }

 private:
  // A new step, or (Tell) news within the current one; false when the person stopped the run.
  bool Next(const std::string &text) { return Tell(step_++, text); }
  bool Tell(const std::string &text) { return Tell(step_ - 1, text); }
  bool Tell(int step, const std::string &text) { return !progress_ || progress_(step, steps_, text); }

  void Add(Verdict verdict, const char *check, std::string seen, std::string remedy = {}) {
    report_.findings.push_back({verdict, check, std::move(seen), std::move(remedy)});
  }

  void CheckUsb() {
    if (devices_.empty()) {
      Add(Verdict::Warn, "usb", "no USB device 0483:5740 is plugged in",
          "plug the device in by USB and switch it on, or connect it by its serial cable");
      return;
    }
    for (const UsbDevice &d : devices_) {
      std::string seen = "USB device 0483:5740 at " + d.busPath;
      seen += d.port.empty() ? ", no serial port" : ", serial port " + d.port;
      seen += d.driver.empty() ? ", no driver bound" : ", driver " + d.driver;
      // Without a serial port only the transport library's libusb driver reaches it.
      if (d.port.empty() && d.driver.empty() && probes_.Kind() == System::Linux)
        Add(Verdict::Warn, "usb", seen, "only the USB link can reach it; if it does not answer, plug it in again");
      else
        Add(Verdict::Ok, "usb", seen);
    }
  }

  // The remedy for a node this user cannot open.
  std::string AccessRemedy(const NodeAccess &a, bool ruleInstalled) const {
    if (!ruleInstalled) return InstallRuleCommand();
    if (!a.group.empty() && a.group != "root" && (a.mode & 0060u) == 0060u && !a.inGroup)
      return "sudo usermod -aG " + a.group + " $USER, then log out and in again";
    return "the rule is installed but not in effect: sudo udevadm control --reload && sudo udevadm trigger, then "
           "plug the device in again (uaccess gives the device to whoever is logged in at the machine)";
  }

  void CheckNode(const std::string &path, const char *what, bool ruleInstalled) {
    const NodeAccess a = probes_.Access(path);
    if (!a.exists) {
      Add(Verdict::Warn, "access", std::string(what) + " " + path + " does not exist",
          "plug the device in again; if it stays missing, see dmesg");
      return;
    }
    if (a.canOpen) {
      Add(Verdict::Ok, "access", "you can open " + std::string(what) + " " + path);
      return;
    }
    std::string seen = "no permission to open " + std::string(what) + " " + path + " (owner " + a.owner + ", group " +
                       a.group + ", mode " + Octal(a.mode) + "; you are " + (a.inGroup ? "" : "not ") + "in " +
                       a.group + "; " + (a.acl ? "an ACL grants you access" : "no uaccess ACL for you") +
                       "; udev rule " + (ruleInstalled ? "installed" : "not installed") + ")";
    Add(Verdict::Fail, "access", std::move(seen), AccessRemedy(a, ruleInstalled));
  }

  void CheckAccess() {
    const InstalledRule rule = probes_.Rule();
    report_.udevRule = rule.text;
    const bool installed = !rule.path.empty();
    if (installed)
      Add(Verdict::Ok, "access", "udev rule installed: " + rule.path);
    else
      Add(Verdict::Warn, "access",
          std::string("udev rule ") + kRuleName + " is not installed in " + kPackageRuleDir + " or " + kLocalRuleDir,
          InstallRuleCommand());
    for (const UsbDevice &d : devices_) {
      if (!d.node.empty()) CheckNode(d.node, "USB device", installed);
      if (!d.port.empty()) CheckNode(d.port, "port", installed);
    }
  }

  void CheckInterference() {
    std::vector<std::string> devicePorts;
    for (const UsbDevice &d : devices_)
      if (!d.port.empty()) devicePorts.push_back(d.port);
    if (probes_.ModemManagerRunning()) {
      bool exposed = false;
      for (const std::string &port : devicePorts) {
        if (probes_.ModemManagerIgnores(port)) continue;
        exposed = true;
        Add(Verdict::Fail, "interference",
            "ModemManager is running and may probe " + port + " (not marked ID_MM_DEVICE_IGNORE=1)",
            "sudo systemctl stop ModemManager (for good: " + InstallRuleCommand() + ")");
      }
      if (!exposed)
        Add(devicePorts.empty() ? Verdict::Warn : Verdict::Ok, "interference",
            devicePorts.empty() ? "ModemManager is running; it probes serial ports that udev does not mark"
                                : "ModemManager is running and leaves the device's port alone",
            devicePorts.empty() ? "if the device does not answer: sudo systemctl stop ModemManager" : "");
    }
    // The device's own ports first, then the scan's, each once.
    std::vector<std::string> ports = devicePorts;
    if (!setup_.namedPort.empty() && setup_.namedPort != kUsb) ports.push_back(setup_.namedPort);
    for (std::string &port : probes_.ScanPorts()) ports.push_back(std::move(port));
    std::vector<std::string> seen;
    bool held = false;
    for (const std::string &port : ports) {
      if (std::find(seen.begin(), seen.end(), port) != seen.end()) continue;
      seen.push_back(port);
      const std::vector<Holder> holders = probes_.Holders(port);
      if (holders.empty()) continue;
      held = true;
      Add(Verdict::Fail, "interference", port + " is held by " + HoldersText(holders), CloseHoldersRemedy(holders));
    }
    if (!held) Add(Verdict::Ok, "interference", "no other program holds a port");
  }

  void CheckWindows() {
    std::string ports;
    for (const UsbDevice &d : devices_)
      if (!d.port.empty()) ports += (ports.empty() ? "" : ", ") + d.port;
    if (!devices_.empty())
      Add(ports.empty() ? Verdict::Warn : Verdict::Ok, "windows",
          "the device tree reports " + std::to_string(devices_.size()) + " device(s) 0483:5740" +
              (ports.empty() ? " without a COM port" : " on " + ports),
          ports.empty() ? "if it does not answer over USB, install the device's driver (WinUSB or its COM port)" : "");
    const std::string driver = probes_.UsbDriverChoice();
    if (!driver.empty()) Add(Verdict::Ok, "windows", "driver in use: " + driver);
  }

  // Sends the scan's probe (62, then 200) over `link`; true when the device answered, even with
  // its error flag.
  static bool Probe(ILink &link) {
    std::string reply;
    std::string data;
    if (link.SendCommand(reply, data, cmd::kReadDateTime) == 0 || reply != msg::kConnectionError) return true;
    data.clear();
    return link.SendCommand(reply, data, cmd::kImsi) == 0;
  }

  static std::string Millis(Clock::time_point start) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return std::to_string(ms) + " ms";
  }

  // One port as the scan tries it. True when a device answered there (the link stays open).
  bool TryPort(const std::string &port) {
    if (const std::string why = probes_.SkipReason(port); !why.empty()) {
      report_.ports.push_back(port + ": skipped, " + why);
      skipped_.push_back(port + " (" + why + ")");
      return false;
    }
    const Clock::time_point start = Clock::now();
    if (serial_.SerialConnect(port, kBaudRate, kDataBits, kNoParity, kOneStopBit) != 0) {
      serial_.SerialDisconnect();
      switch (probes_.TryOpen(port)) {
        case OpenResult::Missing:
        case OpenResult::Opens:  // gone again, or a name the link refuses
          report_.ports.push_back(port + ": no such port (" + Millis(start) + ")");
          break;
        case OpenResult::Denied: {
          report_.ports.push_back(port + ": permission denied (" + Millis(start) + ")");
          const NodeAccess a = probes_.Access(port);
          const std::string group = a.group.empty() ? "dialout" : a.group;
          Add(Verdict::Fail, "ports",
              "no permission to open " + port + " (group " + group + ", mode " + Octal(a.mode) + ")",
              "sudo usermod -aG " + group + " $USER, then log out and in again");
          break;
        }
        case OpenResult::Busy: {
          const std::vector<Holder> holders = probes_.Holders(port);
          report_.ports.push_back(port + ": in use (" + Millis(start) + ")");
          Add(Verdict::Fail, "ports",
              port + " is in use by " + (holders.empty() ? std::string("another program") : HoldersText(holders)),
              holders.empty() ? "close the program that uses " + port : CloseHoldersRemedy(holders));
          break;
        }
        case OpenResult::Failed:
          report_.ports.push_back(port + ": does not open (" + Millis(start) + ")");
          break;
      }
      return false;
    }
    if (Probe(serial_)) {
      report_.ports.push_back(port + ": the device answers (" + Millis(start) + ")");
      return true;
    }
    serial_.SerialDisconnect();
    report_.ports.push_back(port + ": opens, nothing answers (" + Millis(start) + ")");
    silent_.push_back(port);
    return false;
  }

  void CheckPorts() {
    if (probes_.UsbReachable() && usb_.TestConnection() != 0) {
      const Clock::time_point start = Clock::now();
      if (Probe(usb_)) {
        report_.ports.push_back(std::string(kUsb) + ": the device answers (" + Millis(start) + ")");
        answeringLink_ = &usb_;
        report_.answeringPort = kUsb;
      } else {
        report_.ports.push_back(std::string(kUsb) + ": reached, nothing answers (" + Millis(start) + ")");
      }
    } else {
      report_.ports.push_back(std::string(kUsb) + ": the transport library reaches no device");
    }
    const std::string &named = setup_.namedPort;
    const bool namedUsb = named == kUsb || named == "usb";
    bool namedSilent = namedUsb && report_.answeringPort.empty();
    if (report_.answeringPort.empty() && !named.empty() && !namedUsb) {
      if (TryPort(named)) {
        answeringLink_ = &serial_;
        report_.answeringPort = named;
      } else {
        namedSilent = true;
      }
    }
    const std::vector<std::string> scan = probes_.ScanPorts();
    for (const std::string &port : scan) {
      if (!report_.answeringPort.empty()) break;
      if (port == named) continue;
      if (!Tell("Trying " + port)) {
        stopped_ = true;
        report_.ports.push_back("(stopped before " + port + ")");
        return;
      }
      if (TryPort(port)) {
        answeringLink_ = &serial_;
        report_.answeringPort = port;
      }
    }
    if (!skipped_.empty()) {
      std::string text;
      for (const std::string &s : skipped_) text += (text.empty() ? "" : ", ") + s;
      Add(Verdict::Ok, "ports", "skipped, never opened: " + text);
    }
    if (namedSilent && !report_.answeringPort.empty()) {
      Add(Verdict::Fail, "ports",
          "wrong port: nothing answers on " + named + ", the device answers on " + report_.answeringPort,
          "use " + report_.answeringPort + " (tillwright-cli --port " + report_.answeringPort + ")");
      return;
    }
    if (!report_.answeringPort.empty()) {
      Add(Verdict::Ok, "ports", "the device answers on " + report_.answeringPort);
      return;
    }
    if (!silent_.empty()) {
      std::string ports;
      for (const std::string &p : silent_) ports += (ports.empty() ? "" : ", ") + p;
      Add(Verdict::Fail, "ports",
          "device silent: " + ports + " open" + (silent_.size() == 1 ? "s" : "") +
              " but nothing answers to command 62 or 200 at 115200 8N1",
          "switch the device on, check its cable, and check that it is set to 115200 baud; a port that is not "
          "the device's stays silent too");
      return;
    }
    Add(Verdict::Fail, "ports",
        "no device: nothing answers on USB or on any of the " + std::to_string(scan.size()) + " ports tried",
        "plug the device in (USB or its serial cable) and switch it on");
  }

  static std::string SpacedHex(const std::string &digits) {
    std::string text;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) text += (text.empty() ? "" : " ") + digits.substr(i, 2);
    return text;
  }

  void CheckDevice(const seriallink::Statistics &before) {
    if (answeringLink_ != nullptr) {
      ILink &link = *answeringLink_;
      std::string reply;
      std::string data = cmd::kDeviceInfoRequest;
      if (link.SendCommand(reply, data, cmd::kDeviceInfo) == 0) {
        // The reply's fields as the device sends them: model, firmware, its date, serial number, ...
        Add(Verdict::Ok, "device", "identity (command 90): " + reply);
      } else {
        Add(Verdict::Warn, "device", "the device refuses its identity (command 90): " + reply,
            "read the status below; the device may need servicing");
      }
      data.clear();
      if (link.SendCommand(reply, data, cmd::kReadDateTime) == 0)
        Add(Verdict::Ok, "device", "clock: " + reply);
      else
        Add(Verdict::Warn, "device", "the device refuses to tell its clock (command 62): " + reply);
      const std::string status = link.LastStatus();
      if (status.size() == 12) {
        const bool refused = (std::strtol(status.substr(0, 2).c_str(), nullptr, 16) & 0x20) != 0;
        Add(refused ? Verdict::Warn : Verdict::Ok, "device",
            "status bytes " + SpacedHex(status) + " (status text " + status + ")" +
                (refused ? ": the last command was refused" : ""));
      } else {
        Add(Verdict::Ok, "device", "status bytes: none reported over this link");
      }
      if (answeringLink_ == &serial_) serial_.SerialDisconnect();
    }
    const seriallink::Statistics after = probes_.LinkStatistics();
    Add(Verdict::Ok, "device",
        "serial link: " + std::to_string(after.requests - before.requests) + " requests, " +
            std::to_string(after.refusals - before.refusals) + " refusals, " +
            std::to_string(after.busy - before.busy) + " busy, " + std::to_string(after.timeouts - before.timeouts) +
            " time-outs, " + std::to_string(after.resends - before.resends) + " resends");
  }

  Probes &probes_;
  ILink &usb_;
  ILink &serial_;
  const Setup &setup_;
  const Progress &progress_;
  Report report_;
  std::vector<UsbDevice> devices_;
  std::vector<std::string> skipped_;
  std::vector<std::string> silent_;
  ILink *answeringLink_ = nullptr;
  int step_ = 0;
  int steps_ = 0;
  bool stopped_ = false;
};

void JsonString(std::string &out, const std::string &text) {
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += ch;
    }
  }
  out += '"';
}

}  // namespace

Report Diagnose(Probes &probes, ILink &usb, ILink &serial, const Setup &setup, const Progress &progress) {
  // The traces of this run go into the report; the trace layer masks what carries a password.
  platform::TraceCapture capture;
  Report report = Run(probes, usb, serial, setup, progress).Go();
  report.traces = capture.Lines();
  return report;
}

Report DiagnosePort(const std::string &namedPort, const Progress &progress) {
  const std::unique_ptr<Probes> probes = SystemProbes();
  RealLink usb;
  // Serial ports strictly through the serial link engine, even while a USB device is reachable.
  LinkBackends serialOnly = RealBackends();
  serialOnly.testConnection = [] { return 0; };
  RealLink serial(serialOnly);
  return Diagnose(*probes, usb, serial, Setup{namedPort}, progress);
}

Report Diagnose(const Progress &progress) { return DiagnosePort({}, progress); }

std::string ReportJson(const Report &report) {
  std::string out = "{\"findings\":[";
  for (size_t i = 0; i < report.findings.size(); ++i) {
    const Finding &f = report.findings[i];
    if (i != 0) out += ',';
    out += "{\"verdict\":";
    JsonString(out, VerdictWord(f.verdict));
    out += ",\"check\":";
    JsonString(out, f.check);
    out += ",\"seen\":";
    JsonString(out, f.seen);
    out += ",\"remedy\":";
    JsonString(out, f.remedy);
    out += '}';
  }
  out += "],\"answering_port\":";
  JsonString(out, report.answeringPort);
  out += ",\"ports\":[";
  for (size_t i = 0; i < report.ports.size(); ++i) {
    if (i != 0) out += ',';
    JsonString(out, report.ports[i]);
  }
  out += "]}\n";
  return out;
}

}  // namespace tillwright::diagnosis
