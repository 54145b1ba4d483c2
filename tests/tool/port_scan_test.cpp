// The Connect button's scan of COM1..COM20: the serial calls happen on a worker while the
// user-interface thread serves the progress window; what goes out and what the dialog shows.
#include <gtest/gtest.h>

#include <thread>

#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "logic_test_support.h"
#include "main_dialog_fixture.h"

namespace {

using tillwright::CTillwrightDlg;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

class PortScan : public tooltest::MainDialogTest {
 protected:
  // The machine's own devices and sysfs stay out of it.
  void BeforeOpen() override { dlg.UseSerialRoots(platform::SerialRoots::None()); }
  void SetUp() override {
    MainDialogTest::SetUp();
    link.onConnect = [this](const std::string &) { workers.push_back(std::this_thread::get_id()); };
  }
  void Connect() { view.Click(dlg, CTillwrightDlg::kConnectButton); }
  void AllPortsOpen() {
    for (int i = 1; i <= 20; ++i) link.connectResults["COM" + std::to_string(i)] = 0;
  }
  // The ports the progress window named, in order.
  std::vector<std::string> Shown() const {
    std::vector<std::string> out;
    for (size_t i = 1; i < prompter.progress.size(); ++i) out.push_back(prompter.progress[i]);
    return out;
  }

  std::vector<std::thread::id> workers;
};

TEST_F(PortScan, NoDeviceTriesAllTwentyPortsOffTheUserInterfaceThread) {
  AllPortsOpen();
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  Connect();
  ASSERT_EQ(link.connects.size(), 20u);
  EXPECT_EQ(link.connects.front(), "COM1");
  EXPECT_EQ(link.connects.back(), "COM20");
  // Each port: 62, then 200; before each port the link is let go.
  ASSERT_EQ(link.sent.size(), 40u);
  for (size_t i = 0; i < 40; i += 2) {
    EXPECT_EQ(link.sent[i], (Sent{62, ""}));
    EXPECT_EQ(link.sent[i + 1], (Sent{200, ""}));
  }
  EXPECT_EQ(link.disconnects, 40) << "before each port, and after each port that did not answer";
  EXPECT_EQ(link.windows, std::vector<int32_t>(20, view.WindowId()));
  EXPECT_EQ(Result(), "Error");
  EXPECT_EQ(Label(), "Disconnected");
  EXPECT_EQ(state.serialConnected, 0);

  for (const std::thread::id id : workers) EXPECT_NE(id, std::this_thread::get_id());
  EXPECT_EQ(prompter.progressWaits, 1);
  EXPECT_FALSE(prompter.inProgress);
  EXPECT_EQ(prompter.progressSteps, 20);
  ASSERT_EQ(prompter.progress.size(), 21u);
  EXPECT_EQ(prompter.progress[0], "Trying COM1");
  EXPECT_EQ(prompter.progress[20], "Trying COM20");
  EXPECT_EQ(prompter.progressStep, 19);
}

TEST_F(PortScan, PortsThatDoNotOpenAreSkipped) {
  link.connectResults["COM3"] = 0;
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  Connect();
  EXPECT_EQ(link.connects.size(), 20u);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{62, ""}, {200, ""}})) << "only COM3 opened";
  EXPECT_EQ(Result(), "Error");
}

TEST_F(PortScan, TakesADeviceThatAnswersWithItsErrorFlag) {
  link.connectResults["COM7"] = 0;
  link.device = [](uint16_t code, const std::string &) {
    return code == 62 ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{1, "Connection Error"};
  };
  Connect();
  EXPECT_EQ(link.connects.back(), "COM7");
  EXPECT_EQ(link.sent, (std::vector<Sent>{{62, ""}}));
  EXPECT_EQ(Result(), "Done");
  EXPECT_EQ(Label(), "Connected");
  EXPECT_EQ(state.serialConnected, 1);
  EXPECT_EQ(Shown().back(), "Trying COM7");

  // Quit lets go of the port.
  const int before = link.disconnects;
  view.Click(dlg, CTillwrightDlg::kQuitButton);
  EXPECT_EQ(link.disconnects, before + 1);
  EXPECT_EQ(state.serialConnected, 0);
}

TEST_F(PortScan, FallsBackToTheSecondProbe) {
  link.connectResults["COM2"] = 0;
  link.device = [](uint16_t code, const std::string &) {
    return code == 200 ? RecordingLink::Answer{0, "284011234567890"} : RecordingLink::Answer{1, "Connection Error"};
  };
  Connect();
  EXPECT_EQ(link.connects.back(), "COM2");
  EXPECT_EQ(link.sent, (std::vector<Sent>{{62, ""}, {200, ""}}));
  EXPECT_EQ(Result(), "Done");
}

// Stop is heard between ports: the port in progress finishes its probes.
TEST_F(PortScan, StopEndsTheScanAfterThePortInProgress) {
  AllPortsOpen();
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  link.onConnect = [this](const std::string &port) {
    if (port == "COM4") prompter.stop = true;  // the person presses Stop while COM4 is tried
  };
  Connect();
  EXPECT_EQ(link.connects, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
  EXPECT_EQ(link.sent.size(), 8u) << "COM4's two probes still went out";
  EXPECT_EQ(Result(), "Error");
  EXPECT_EQ(Label(), "Disconnected");
  EXPECT_EQ(state.serialConnected, 0);
  EXPECT_FALSE(prompter.inProgress);
}

TEST_F(PortScan, ADeviceFoundOnThePortInProgressIsKeptAfterStop) {
  AllPortsOpen();
  link.device = [this](uint16_t, const std::string &) {
    return link.connects.back() == "COM4" ? RecordingLink::Answer{0, "12-01-25 10:00:00"}
                                          : RecordingLink::Answer{1, "Connection Error"};
  };
  link.onConnect = [this](const std::string &port) {
    if (port == "COM4") prompter.stop = true;
  };
  Connect();
  EXPECT_EQ(link.connects.back(), "COM4");
  EXPECT_EQ(Result(), "Done");
  EXPECT_EQ(Label(), "Connected");
  EXPECT_EQ(state.serialConnected, 1);
}

TEST_F(PortScan, ADeviceAppearingOnUsbEndsTheScanWithoutAVerdict) {
  AllPortsOpen();
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  link.onConnect = [this](const std::string &port) {
    if (port == "COM2") state.usbPresent = 1;
  };
  // The monitor would report the absent device meanwhile: this test is the monitor.
  dlg.OnDestroy();
  view.RunPosted();
  state.resultText = "earlier";
  view.SetText(CTillwrightDlg::kStatusLabel, "as it was");
  Connect();
  EXPECT_EQ(link.connects.size(), 2u);
  EXPECT_EQ(Result(), "earlier");
  EXPECT_EQ(Label(), "as it was");
  EXPECT_FALSE(prompter.inProgress);
}

// A second scan lets go of the port the first one found: when nothing answers any more, the
// monitor must not go on calling the device connected.
TEST_F(PortScan, AScanThatFindsNothingForgetsTheEarlierPort) {
  AllPortsOpen();
  bool there = true;
  link.device = [&](uint16_t, const std::string &) {
    return there && link.connects.back() == "COM4" ? RecordingLink::Answer{0, "12-01-25 10:00:00"}
                                                   : RecordingLink::Answer{1, "Connection Error"};
  };
  Connect();
  EXPECT_EQ(state.serialConnected, 1);
  there = false;
  Connect();
  EXPECT_EQ(Result(), "Error");
  EXPECT_EQ(Label(), "Disconnected");
  EXPECT_EQ(state.serialConnected, 0);
}

}  // namespace
