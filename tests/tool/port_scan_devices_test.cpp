// The Connect scan beyond COM1..COM20 on Linux, over a private tree of pseudo-terminals that
// stands for /dev, /dev/serial/by-id and /sys/class/tty, and a private port alias directory:
// the order of the ports, the console and the port without its UART never opened, and the label
// that names the device path that answered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "core/diagnosis_probes.h"
#include "core/port_scan.h"
#include "core/send_command.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "logic_test_support.h"
#include "seriallink/link.h"

namespace {

namespace fs = std::filesystem;
using tillwright::CTillwrightDlg;
using tooltest::RecordingLink;

class DeviceTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tool-devices-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "com");
    fs::create_directories(root_ / "dev/serial/by-id");
    fs::create_directories(root_ / "sys/class/tty/console");
    ::setenv("FISCAL_COM_DIR", (root_ / "com").c_str(), 1);
    roots.dev = (root_ / "dev").string();
    roots.byId = (root_ / "dev/serial/by-id").string();
    roots.sysTty = (root_ / "sys/class/tty").string();

    // COM1 is the console, COM2 a built-in port without its UART, COM3 an adapter that is also
    // listed by id; COM4..COM20 have no alias.
    console = Device("ttyS0");
    Sys("console/active", "tty0 ttyS0\n");
    absent = Device("ttyS1");
    Sys("ttyS1/type", "0\n");
    Alias("COM1", "ttyS0");
    Alias("COM2", "ttyS1");
  }
  void TearDown() override {
    for (int fd : masters_) ::close(fd);
    fs::remove_all(root_);
    ::unsetenv("FISCAL_COM_DIR");
  }

  int Device(const std::string &name, const std::string &target = "") {
    int master = -1;
    std::string slave = target;
    if (slave.empty()) {
      master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      EXPECT_GE(master, 0);
      EXPECT_EQ(::grantpt(master), 0);
      EXPECT_EQ(::unlockpt(master), 0);
      masters_.push_back(master);
      slave = ::ptsname(master);
    }
    fs::create_symlink(slave, root_ / "dev" / name);
    return master;
  }
  std::string Dev(const std::string &name) const { return (root_ / "dev" / name).string(); }
  void Alias(const std::string &com, const std::string &device) { fs::create_symlink(Dev(device), root_ / "com" / com); }
  void ById(const std::string &link, const std::string &device) {
    fs::create_symlink("../../" + device, root_ / "dev/serial/by-id" / link);
  }
  void Sys(const std::string &file, const std::string &text) {
    fs::create_directories((root_ / "sys/class/tty" / file).parent_path());
    std::ofstream(root_ / "sys/class/tty" / file) << text;
  }
  // No byte ever reached the device behind this master.
  static bool Quiet(int master) {
    pollfd p{master, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0 || (p.revents & POLLIN) == 0;
  }
  static std::vector<std::string> ComPorts(int first) {
    std::vector<std::string> names;
    for (int n = first; n <= 20; ++n) names.push_back("COM" + std::to_string(n));
    return names;
  }

  // The main dialog over a fake view, opened on `link` with this tree's roots.
  struct MainDialog {
    MainDialog(tillwright::ILink &link, const platform::SerialRoots &roots) : dlg(state, link) {
      prompter.pump = &view;
      dlg.UseSerialRoots(roots);
      dlg.Attach(view, prompter);
      dlg.OnInitDialog();
    }
    ~MainDialog() {
      view.Close();
      dlg.OnDestroy();
      dlg.Detach();
    }
    // Two checks of the connection monitor, and what they posted.
    void SettleMonitor() {
      const unsigned passes = dlg.Monitor()->Passes();
      EXPECT_TRUE(view.RunPostedUntil([&] { return dlg.Monitor()->Passes() >= passes + 2; }, std::chrono::seconds(10)));
      view.RunPosted();
    }
    std::string Label() const { return view.Text(CTillwrightDlg::kStatusLabel); }
    // The monitor's "Connected" keeps the path; after Quit the port is gone from the label.
    void ExpectTheMonitorKeepsTheLabelUntilQuit(const std::string &label) {
      SettleMonitor();
      EXPECT_EQ(Label(), label);
      view.Click(dlg, CTillwrightDlg::kQuitButton);
      SettleMonitor();
      EXPECT_EQ(Label(), "Disconnected");
    }

    tillwright::AppState state;
    tooltest::FakeView view;
    tooltest::ScriptedPrompter prompter;
    CTillwrightDlg dlg;
  };

  platform::SerialRoots roots = platform::SerialRoots::None();
  int console = -1;
  int absent = -1;

 private:
  fs::path root_;
  std::vector<int> masters_;
};

TEST_F(DeviceTree, ComPortsThenAdaptersByIdThenTheOtherUsbTtys) {
  Device("ttyUSB0");
  Device("ttyACM0");
  Device("ttyUSB10");
  Device("ttyUSB9");
  Alias("COM3", "ttyUSB0");
  ById("usb-Fiscal_Adapter-if00-port0", "ttyUSB0");
  ById("usb-Fiscal_Printer-if00", "ttyACM0");

  std::vector<std::string> expected = ComPorts(3);
  for (const char *name : {"ttyACM0", "ttyUSB9", "ttyUSB10"}) expected.push_back(Dev(name));
  EXPECT_EQ(tillwright::ScanPortNames(roots), expected) << "ttyUSB0 is COM3 already";
  // With FISCAL_COM_DIR set and no roots given, only its map is scanned.
  EXPECT_EQ(tillwright::ScanPortNames(), ComPorts(1));
}

// Another account able to write to the map could point any COMn at a terminal of its own.
TEST_F(DeviceTree, NoComPortIsTriedWhileOthersMayWriteToTheAliasDirectory) {
  Device("ttyUSB0");
  Alias("COM3", "ttyUSB0");
  fs::permissions(std::getenv("FISCAL_COM_DIR"), fs::perms::all);
  EXPECT_EQ(tillwright::ScanPortNames(roots), std::vector<std::string>{Dev("ttyUSB0")});
  EXPECT_EQ(tillwright::ScanPortNames(), std::vector<std::string>{});
}

TEST_F(DeviceTree, TheLabelNamesTheDevicePathThatAnsweredAndTheMonitorKeepsIt) {
  Device("ttyUSB0");
  Device("ttyACM3");
  const std::vector<std::string> scanned = [&] {
    std::vector<std::string> names = ComPorts(3);
    names.push_back(Dev("ttyACM3"));
    names.push_back(Dev("ttyUSB0"));
    return names;
  }();
  RecordingLink link;
  for (const std::string &name : scanned) link.connectResults[name] = 0;
  link.device = [&](uint16_t, const std::string &) {
    return link.connects.back() == Dev("ttyUSB0") ? RecordingLink::Answer{0, "12-01-25 10:00:00"}
                                                  : RecordingLink::Answer{1, "Connection Error"};
  };
  {
    MainDialog main(link, roots);
    main.view.Click(main.dlg, CTillwrightDlg::kConnectButton);
    EXPECT_EQ(link.connects, scanned) << "never the console nor the port without its UART";
    EXPECT_EQ(main.view.Text(CTillwrightDlg::kResultField), "Done");
    const std::string label = "Connected on " + Dev("ttyUSB0");
    EXPECT_EQ(main.Label(), label);
    EXPECT_EQ(main.prompter.progressSteps, 20);
    EXPECT_EQ(main.prompter.progress.front(), "Trying COM3");
    EXPECT_EQ(main.prompter.progress.back(), "Trying " + Dev("ttyUSB0"));
    main.ExpectTheMonitorKeepsTheLabelUntilQuit(label);
  }
  EXPECT_TRUE(Quiet(console));
  EXPECT_TRUE(Quiet(absent));
}

// The real serial link finds the simulator behind a by-id link, after COM1..COM20, and neither
// the console nor the port without its UART sees a byte.
TEST_F(DeviceTree, ConnectFindsTheSimulatorOnAUsbAdapter) {
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink());
  sim.Start();
  Device("ttyUSB0", sim.PortName());
  ById("usb-Fiscal_Adapter-if00-port0", "ttyUSB0");

  tillwright::RealLink link;
  {
    MainDialog main(link, roots);
    main.view.Click(main.dlg, CTillwrightDlg::kConnectButton);
    EXPECT_EQ(main.view.Text(CTillwrightDlg::kResultField), "Done");
    EXPECT_EQ(main.Label(), "Connected on " + Dev("ttyUSB0"));
    main.view.Click(main.dlg, CTillwrightDlg::kPaperFeedButton);
    const auto frames = sim.ReceivedFrames().Entries();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].cmd, 62);
    EXPECT_EQ(frames[1].cmd, 44);
    main.view.Click(main.dlg, CTillwrightDlg::kQuitButton);
  }
  seriallink::Disconnect();
  sim.Stop();
  EXPECT_TRUE(Quiet(console));
  EXPECT_TRUE(Quiet(absent));
}

// The diagnosis over this tree with the real facts and the real serial link: the console and
// the port without its UART listed as skipped with the reason and never opened, the simulator
// found behind its adapter and asked for its identity.
TEST_F(DeviceTree, DiagnosisShowsWhatTheScanSkipsAndFindsTheSimulator) {
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink());
  sim.Start();
  Device("ttyUSB0", sim.PortName());
  const auto probes = tillwright::diagnosis::SystemProbes(roots);
  EXPECT_EQ(probes->SkipReason("COM1"), "the system console");
  EXPECT_EQ(probes->SkipReason("COM2"), "a built-in port without its UART");
  EXPECT_EQ(probes->SkipReason(Dev("ttyUSB0")), "");

  RecordingLink usb;  // no USB device
  tillwright::LinkBackends serialOnly = tillwright::RealBackends();
  serialOnly.testConnection = [] { return 0; };
  tillwright::RealLink serial(serialOnly);
  const auto report = tillwright::diagnosis::Diagnose(*probes, usb, serial, {}, {});
  EXPECT_EQ(report.answeringPort, Dev("ttyUSB0")) << report.Text();
  ASSERT_GE(report.ports.size(), 3u);
  EXPECT_EQ(report.ports[1], "COM1: skipped, the system console");
  EXPECT_EQ(report.ports[2], "COM2: skipped, a built-in port without its UART");
  const std::string text = report.Text();
  EXPECT_NE(
      text.find("ok: skipped, never opened: COM1 (the system console), COM2 (a built-in port without its UART)\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("ok: identity (command 90): "), std::string::npos) << text;
  const auto frames = sim.ReceivedFrames().Entries();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].cmd, 62);
  EXPECT_EQ(frames[1].cmd, 90);
  EXPECT_EQ(frames[2].cmd, 62);
  sim.Stop();
  EXPECT_TRUE(Quiet(console));
  EXPECT_TRUE(Quiet(absent));
}

}  // namespace
