// The connection diagnosis over stand-in facts and scripted links: each staged fault is named
// by the check that sees it, with the command that mends it, and the run tries the ports as the
// Connect scan does.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/diagnosis.h"
#include "core/diagnosis_probes.h"
#include "logic_test_support.h"

namespace {

using namespace tillwright::diagnosis;
using tooltest::RecordingLink;

constexpr const char *kAcm = "/dev/ttyACM0";
constexpr const char *kNode = "/dev/bus/usb/001/004";

class FakeProbes final : public Probes {
 public:
  System kind = System::Linux;
  std::vector<UsbDevice> devices;
  std::map<std::string, NodeAccess> access;  // missing: can open
  InstalledRule rule{std::string(kPackageRuleDir) + "/" + kRuleName, "SUBSYSTEM==\"usb\"\n"};
  bool modemManager = false;
  std::set<std::string> mmIgnored;
  std::map<std::string, std::vector<Holder>> holders;
  std::vector<std::string> scan{"COM1", "COM2", kAcm};
  std::map<std::string, std::string> skip;
  std::map<std::string, OpenResult> opens;  // missing: Missing
  bool usbReachable = false;
  std::string driverChoice;
  std::vector<seriallink::Statistics> stats{{}, {}};
  size_t statCalls = 0;

  System Kind() const override { return kind; }
  std::string SystemDescription() override { return "Test 1.0"; }
  std::vector<UsbDevice> UsbDevices() override { return devices; }
  NodeAccess Access(const std::string &path) override {
    const auto it = access.find(path);
    return it == access.end() ? NodeAccess{} : it->second;
  }
  InstalledRule Rule() override { return rule; }
  bool ModemManagerRunning() override { return modemManager; }
  bool ModemManagerIgnores(const std::string &port) override { return mmIgnored.count(port) != 0; }
  std::vector<Holder> Holders(const std::string &port) override {
    const auto it = holders.find(port);
    return it == holders.end() ? std::vector<Holder>{} : it->second;
  }
  std::vector<std::string> ScanPorts() override { return scan; }
  std::string SkipReason(const std::string &port) override { return skip.count(port) != 0 ? skip[port] : ""; }
  OpenResult TryOpen(const std::string &port) override {
    return opens.count(port) != 0 ? opens[port] : OpenResult::Missing;
  }
  bool UsbReachable() override { return usbReachable; }
  std::string UsbDriverChoice() override { return driverChoice; }
  seriallink::Statistics LinkStatistics() override { return stats[std::min(statCalls++, stats.size() - 1)]; }
};

// A serial link where the ports in `answering` have a device behind them and the ports in
// `silent` open with nothing behind them.
struct Bench {
  FakeProbes probes;
  RecordingLink usb;
  RecordingLink serial;
  std::set<std::string> answering;
  std::set<std::string> silent;
  std::string connected;
  Setup setup;

  Bench() {
    serial.onConnect = [this](const std::string &port) {
      connected = port;
      serial.connectResults[port] = answering.count(port) + silent.count(port) != 0 ? 0 : 10001;
    };
    serial.device = [this](uint16_t code, const std::string &) -> RecordingLink::Answer {
      if (answering.count(connected) == 0) return {1, "Connection Error"};
      return {0, code == 90 ? "FP-55,1.02,01-02-2026,AB123456,FM42" : "09-12-26 14:00:00"};
    };
    serial.lastStatus = "800000000000";
    usb.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
      return {0, code == 90 ? "FP-55,1.02" : "09-12-26 14:00:00"};
    };
  }

  // A plugged-in device with its serial port, answering there.
  void Plugged() {
    probes.devices = {{"/sys/bus/usb/devices/1-2", kNode, kAcm, "cdc_acm"}};
    answering.insert(kAcm);
  }

  Report Run() { return Diagnose(probes, usb, serial, setup, {}); }
};

std::vector<std::string> Lines(const Report &r, Verdict verdict) {
  std::vector<std::string> lines;
  for (const Finding &f : r.findings)
    if (f.verdict == verdict) lines.push_back(f.check + ": " + f.Line());
  return lines;
}

struct Case {
  const char *name;
  void (*stage)(Bench &);
  const char *check;   // the check whose Fail names the fault; nullptr: no Fail at all
  const char *seen;    // part of that finding's "seen"
  const char *remedy;  // part of its remedy
  const char *answeringPort;
};

const Case kCases[] = {
    {"Healthy", [](Bench &b) { b.Plugged(); }, nullptr, nullptr, nullptr, kAcm},
    {"NoDevice", [](Bench &) {}, "ports", "no device: nothing answers on USB or on any of the 3 ports",
     "plug the device in", ""},
    {"DeviceWithoutPermission",
     [](Bench &b) {
       b.Plugged();
       b.probes.access[kNode] = {true, false, "root", "plugdev", 0660, false, false};
     },
     "access", "no permission to open USB device /dev/bus/usb/001/004 (owner root, group plugdev, mode 0660",
     "sudo usermod -aG plugdev $USER, then log out and in again", kAcm},
    {"RuleMissing",
     [](Bench &b) {
       b.Plugged();
       b.probes.rule = {};
       b.probes.access[kNode] = {true, false, "root", "root", 0600, true, false};
     },
     "access", "udev rule not installed",
     "sudo apt install --reinstall libvrn-interface1 (or, from the source tree: sudo cp "
     "packaging/udev/60-vrn-fiscal.rules /etc/udev/rules.d/), then sudo udevadm control --reload && sudo udevadm "
     "trigger",
     kAcm},
    {"PortHeld",
     [](Bench &b) {
       b.Plugged();
       b.answering.clear();
       b.probes.holders[kAcm] = {{4711, "minicom"}};
       b.probes.opens[kAcm] = OpenResult::Busy;
     },
     "interference", "/dev/ttyACM0 is held by minicom (pid 4711)", "close minicom (or: kill 4711)", ""},
    {"ModemManager",
     [](Bench &b) {
       b.Plugged();
       b.probes.modemManager = true;
     },
     "interference", "ModemManager is running and may probe /dev/ttyACM0", "sudo systemctl stop ModemManager", kAcm},
    {"DeviceSilent",
     [](Bench &b) {
       b.Plugged();
       b.answering.clear();
       b.silent.insert(kAcm);
     },
     "ports", "device silent: /dev/ttyACM0 opens but nothing answers", "switch the device on", ""},
    {"WrongPort",
     [](Bench &b) {
       b.Plugged();
       b.silent.insert("COM3");
       b.setup.namedPort = "COM3";
     },
     "ports", "wrong port: nothing answers on COM3, the device answers on /dev/ttyACM0",
     "tillwright-cli --port /dev/ttyACM0", kAcm},
    {"SerialPortDenied",
     [](Bench &b) {
       b.probes.opens["COM2"] = OpenResult::Denied;
       b.probes.access["COM2"] = {true, false, "root", "dialout", 0660, false, false};
     },
     "ports", "no permission to open COM2 (group dialout, mode 0660)", "sudo usermod -aG dialout $USER", ""},
};

void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

class DiagnosisFault : public ::testing::TestWithParam<Case> {};

TEST_P(DiagnosisFault, IsNamedWithItsRemedy) {
  const Case &c = GetParam();
  Bench bench;
  c.stage(bench);
  const Report report = bench.Run();
  EXPECT_EQ(report.answeringPort, c.answeringPort);
  EXPECT_EQ(report.DeviceAnswered(), std::string(c.answeringPort) != "");
  if (c.check == nullptr) {
    EXPECT_TRUE(Lines(report, Verdict::Fail).empty()) << report.Text();
    return;
  }
  bool named = false;
  for (const Finding &f : report.findings) {
    if (f.verdict != Verdict::Fail || f.check != c.check) continue;
    if (f.seen.find(c.seen) == std::string::npos) continue;
    named = true;
    EXPECT_NE(f.remedy.find(c.remedy), std::string::npos) << f.Line();
    EXPECT_NE(report.Text().find(f.Line()), std::string::npos);
  }
  EXPECT_TRUE(named) << "no " << c.check << " failure with \"" << c.seen << "\" in\n" << report.Text();
}

INSTANTIATE_TEST_SUITE_P(Staged, DiagnosisFault, ::testing::ValuesIn(kCases),
                         [](const auto &param) { return std::string(param.param.name); });

TEST(Diagnosis, TriesPortsAsTheScanDoesAndAsksTheDeviceThatAnswers) {
  Bench b;
  b.Plugged();
  b.probes.skip["COM1"] = "the system console";
  b.probes.stats = {{10, 0, 0, 0, 0}, {13, 1, 2, 4, 5}};
  const Report r = b.Run();
  // The console never opened; the probe is 62, then 200, as the Connect scan sends it; then
  // identity and clock on the port that answered.
  EXPECT_EQ(b.serial.connects, (std::vector<std::string>{"COM2", kAcm}));
  ASSERT_GE(b.serial.sent.size(), 3u);
  EXPECT_EQ(b.serial.sent[0].code, 62);
  EXPECT_EQ(b.serial.sent[1].code, 90);
  EXPECT_EQ(b.serial.sent[1].data, "0");
  EXPECT_EQ(b.serial.sent[2].code, 62);
  ASSERT_EQ(r.ports.size(), 4u);
  EXPECT_EQ(r.ports[0], "USB: the transport library reaches no device");
  EXPECT_EQ(r.ports[1], "COM1: skipped, the system console");
  EXPECT_EQ(r.ports[2].rfind("COM2: no such port (", 0), 0u) << r.ports[2];
  EXPECT_EQ(r.ports[3].rfind("/dev/ttyACM0: the device answers (", 0), 0u) << r.ports[3];
  const std::string text = r.Text();
  for (const char *expected :
       {"ok: USB device 0483:5740 at /sys/bus/usb/devices/1-2, serial port /dev/ttyACM0, driver cdc_acm\n",
        "ok: skipped, never opened: COM1 (the system console)\n",
        "ok: identity (command 90): FP-55,1.02,01-02-2026,AB123456,FM42\n", "ok: clock: 09-12-26 14:00:00\n",
        "ok: status bytes 80 00 00 00 00 00 (status text 800000000000)\n",
        "ok: serial link: 3 requests, 1 refusals, 2 busy, 4 time-outs, 5 resends\n"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "in\n" << text;
  // Ports of the scan are given back: the link is left closed.
  EXPECT_EQ(b.serial.disconnects, 2);
}

TEST(Diagnosis, UsbComesFirstWhenTheTransportReachesTheDevice) {
  Bench b;
  b.Plugged();
  b.probes.usbReachable = true;
  b.usb.usb = 1;
  const Report r = b.Run();
  EXPECT_EQ(r.answeringPort, "USB");
  EXPECT_TRUE(b.serial.connects.empty());
  EXPECT_NE(r.Text().find("identity (command 90): FP-55,1.02"), std::string::npos) << r.Text();
}

TEST(Diagnosis, WindowsReportsTheDeviceTreeAndTheDriverInsteadOfLinuxChecks) {
  Bench b;
  b.probes.kind = System::Windows;
  b.probes.devices = {{"\\\\?\\usb#vid_0483&pid_5740#1", "", "COM7", ""}};
  b.probes.driverChoice = "the COM port COM7 (the kernel-mode driver library is absent)";
  b.probes.modemManager = true;  // never asked on Windows
  const Report r = b.Run();
  std::set<std::string> checks;
  for (const Finding &f : r.findings) checks.insert(f.check);
  EXPECT_EQ(checks.count("access") + checks.count("interference"), 0u) << r.Text();
  EXPECT_NE(r.Text().find("ok: the device tree reports 1 device(s) 0483:5740 on COM7\n"), std::string::npos)
      << r.Text();
  EXPECT_NE(r.Text().find("ok: driver in use: the COM port COM7"), std::string::npos) << r.Text();
}

TEST(Diagnosis, StoppedRunKeepsWhatRanAndOpensNoPort) {
  Bench b;
  b.Plugged();
  std::vector<std::string> told;
  const Report r = Diagnose(b.probes, b.usb, b.serial, b.setup, [&](int step, int steps, const std::string &text) {
    told.push_back(std::to_string(step) + "/" + std::to_string(steps) + " " + text);
    return step < 1;
  });
  EXPECT_EQ(told, (std::vector<std::string>{"0/5 Looking for the device on USB", "1/5 Checking access rights"}));
  ASSERT_FALSE(r.findings.empty());
  EXPECT_EQ(r.findings.back().check, "usb");
  EXPECT_TRUE(b.serial.connects.empty());

  // Stopped within the scan, or once a port answered: no verdict on the ports, and the port
  // that answered is closed again.
  for (const std::string stopAt : {"Trying COM2", "Asking the device"}) {
    Bench again;
    again.Plugged();
    const Report cut = Diagnose(again.probes, again.usb, again.serial, again.setup,
                                [&](int, int, const std::string &text) { return text != stopAt; });
    for (const Finding &f : cut.findings) EXPECT_NE(f.check, "device") << stopAt << ": " << f.Line();
    EXPECT_TRUE(Lines(cut, Verdict::Fail).empty()) << stopAt << ":\n" << cut.Text();
    EXPECT_EQ(again.serial.disconnects, static_cast<int>(again.serial.connects.size())) << stopAt;
  }
}

TEST(Diagnosis, ReportJsonEscapesWhatThePortsAndDeviceSay) {
  Report r;
  r.findings.push_back({Verdict::Fail, "ports", "odd \"name\"\\\x01", "do \u2014 this"});
  r.answeringPort = "COM7";
  r.ports = {"COM7: the device answers (3 ms)"};
  EXPECT_EQ(ReportJson(r),
            "{\"findings\":[{\"verdict\":\"fail\",\"check\":\"ports\",\"seen\":\"odd \\\"name\\\"\\\\\\u0001\","
            "\"remedy\":\"do \u2014 this\"}],\"answering_port\":\"COM7\",\"ports\":[\"COM7: the device answers "
            "(3 ms)\"]}\n");
}

TEST(Diagnosis, Crc32MatchesTheCheckValue) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32("6789", Crc32("12345")), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
}

}  // namespace
