#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <regex>

#include "core/app_state.h"
#include "core/send_command.h"
#include "core/tillwright_dlg.h"
#include "programming/set_sn.h"
#include "seriallink/link.h"
#include "sim_fixture.h"
#include "tool_test_support.h"
#include "ui_set_sn.h"
#include "ui_tillwright_dlg.h"

namespace {

using tillwright::CTillwrightDlg;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

class MainDialog : public ::testing::Test {
 protected:
  void SetUp() override { tooltest::EnsureApplication(); }

  QString Result(CTillwrightDlg &dlg) { return dlg.Widgets().edit1033->text(); }
  QString Label(CTillwrightDlg &dlg) { return dlg.Widgets().label1097->text(); }

  tillwright::AppState state;
  RecordingLink link;
  ScriptedPrompter prompter;
};

TEST_F(MainDialog, ControlsOfTheTemplateVisibleOrHidden) {
  CTillwrightDlg dlg(state, link, prompter);
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), "EFD QUORVANE");
  auto &w = dlg.Widgets();
  for (QWidget *visible : std::initializer_list<QWidget *>{w.button1084, w.label1097, w.edit1033, w.button1005,
                                                           w.button1016, w.button1078, w.button1008, w.button1085,
                                                           w.button1159, w.button1015, w.button1013, w.button1020,
                                                           w.button1021, w.button1018, w.button1010, w.button1158,
                                                           w.button1183, w.button3})
    EXPECT_TRUE(visible->isVisible()) << visible->objectName().toStdString();
  for (QWidget *hidden : std::initializer_list<QWidget *>{w.button1007, w.button1009, w.button1024, w.button1025,
                                                          w.button1086, w.button1169, w.button2024, w.combo1039,
                                                          w.check1014, w.check1064})
    EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
  EXPECT_FALSE(w.combo1039->isEnabled());
  EXPECT_TRUE(w.edit1033->isReadOnly());
  EXPECT_EQ(w.edit1033->accessibleName(), "Result");
  EXPECT_EQ(w.button1084->text(), "Connect");
  EXPECT_EQ(w.button1016->text(), "Header lines programing");
  EXPECT_EQ(Label(dlg), "Disconnected");
}

TEST_F(MainDialog, MonitorShowsTheUsbDeviceAndStopsWhenTheDialogCloses) {
  link.usb = 1;
  CTillwrightDlg dlg(state, link, prompter);
  EXPECT_TRUE(dlg.Monitor().Running());
  EXPECT_TRUE(tooltest::WaitFor([&] { return Label(dlg) == "Connected"; }, 5000));
  EXPECT_EQ(state.usbPresent, 1);
  EXPECT_EQ(dlg.Widgets().label1097->accessibleName(), "Connected");

  // With a device on USB, Connect leaves the ports alone.
  dlg.Widgets().button1084->click();
  EXPECT_TRUE(link.connects.empty());
  EXPECT_TRUE(link.sent.empty());

  link.usb = 0;
  EXPECT_TRUE(tooltest::WaitFor([&] { return Label(dlg) == "Disconnected"; }, 5000));

  dlg.reject();
  EXPECT_TRUE(dlg.Monitor().Stopped());
  const int checks = link.tests;
  QTest::qWait(1200);
  EXPECT_EQ(link.tests, checks) << "the monitor went on checking after the dialog closed";
}

TEST_F(MainDialog, ConnectWithNoDeviceTriesAllTwentyPorts) {
  for (int i = 1; i <= 20; ++i) link.connectResults["COM" + std::to_string(i)] = 0;
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  CTillwrightDlg dlg(state, link, prompter);
  dlg.Widgets().button1084->click();
  ASSERT_EQ(link.connects.size(), 20u);
  EXPECT_EQ(link.connects.front(), "COM1");
  EXPECT_EQ(link.connects.back(), "COM20");
  // Each port: 62, then 200.
  ASSERT_EQ(link.sent.size(), 40u);
  EXPECT_EQ(link.sent[0], (Sent{62, ""}));
  EXPECT_EQ(link.sent[1], (Sent{200, ""}));
  EXPECT_EQ(Result(dlg), "Error");
  EXPECT_EQ(Label(dlg), "Disconnected");
  EXPECT_EQ(state.serialConnected, 0);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(MainDialog, ConnectTakesADeviceThatAnswersWithItsErrorFlag) {
  link.connectResults["COM7"] = 0;
  link.device = [](uint16_t code, const std::string &) {
    return code == 62 ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{1, "Connection Error"};
  };
  CTillwrightDlg dlg(state, link, prompter);
  dlg.Widgets().button1084->click();
  EXPECT_EQ(link.connects.back(), "COM7");
  EXPECT_EQ(link.sent, (std::vector<Sent>{{62, ""}}));
  EXPECT_EQ(Result(dlg), "Done");
  EXPECT_EQ(Label(dlg), "Connected");
  EXPECT_EQ(state.serialConnected, 1);

  // Quit lets go of the port.
  const int before = link.disconnects;
  dlg.Widgets().button3->click();
  EXPECT_EQ(link.disconnects, before + 1);
  EXPECT_EQ(state.serialConnected, 0);
}

TEST_F(MainDialog, ConnectFallsBackToTheSecondProbe) {
  link.connectResults["COM2"] = 0;
  link.device = [](uint16_t code, const std::string &) {
    return code == 200 ? RecordingLink::Answer{0, "284011234567890"} : RecordingLink::Answer{1, "Connection Error"};
  };
  CTillwrightDlg dlg(state, link, prompter);
  dlg.OnConnect();
  EXPECT_EQ(link.connects.back(), "COM2");
  EXPECT_EQ(Result(dlg), "Done");
}

TEST_F(MainDialog, CommandButtonsSendTheirCommands) {
  int z = 0;
  link.device = [&z](uint16_t code, const std::string &) {
    if (code == 108) return RecordingLink::Answer{0, ++z == 1 ? "first" : "second"};
    return RecordingLink::Answer{0, "ok"};
  };
  CTillwrightDlg dlg(state, link, prompter);

  dlg.Widgets().button1005->click();
  ASSERT_EQ(link.sent.size(), 1u);
  EXPECT_EQ(link.sent[0].code, 61);
  EXPECT_TRUE(std::regex_match(link.sent[0].data, std::regex(R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d)")))
      << link.sent[0].data;
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(today, sizeof today, "%d-%m-", &local);
  EXPECT_EQ(link.sent[0].data.substr(0, 6), today);

  link.sent.clear();
  dlg.Widgets().button1008->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{108, "8"}, {108, "1"}}));
  EXPECT_EQ(Result(dlg), "second");

  link.sent.clear();
  dlg.Widgets().button1010->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{44, "1"}}));
  EXPECT_EQ(Result(dlg), "ok");
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(MainDialog, DailyZSendsTheSecondReportAfterAFailedFirst) {
  link.device = [](uint16_t, const std::string &data) {
    return data == "8" ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{0, "done"};
  };
  CTillwrightDlg dlg(state, link, prompter);
  dlg.OnDailyZ();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{108, "8"}, {108, "1"}}));
  EXPECT_EQ(Result(dlg), "done");
}

TEST_F(MainDialog, SerialNumberIsSentOnlyAfterOk) {
  CTillwrightDlg dlg(state, link, prompter);
  prompter.dialogs.push_back([](QDialog &d) {
    auto &sn = static_cast<tillwright::CSetSN &>(d);
    sn.Widgets().edit1033->setText("AB123");
    sn.Widgets().button2->click();
    return d.result();
  });
  dlg.Widgets().button1015->click();
  EXPECT_TRUE(link.sent.empty());

  prompter.dialogs.push_back([](QDialog &d) {
    auto &sn = static_cast<tillwright::CSetSN &>(d);
    sn.Widgets().edit1033->setText("AB123");
    sn.Widgets().button1->click();
    return d.result();
  });
  dlg.Widgets().button1015->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{91, "7,AB123,,"}}));

  link.sent.clear();
  prompter.dialogs.push_back([](QDialog &d) {
    static_cast<tillwright::CSetSN &>(d).Widgets().button1->click();
    return d.result();
  });
  dlg.Widgets().button1015->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{91, "7,,,"}}));
}

TEST_F(MainDialog, DeviceTypeEnablesItsButtons) {
  CTillwrightDlg dlg(state, link, prompter);
  auto &w = dlg.Widgets();
  w.combo1039->addItem("third");
  w.combo1039->setCurrentIndex(2);
  EXPECT_FALSE(w.button1007->isEnabled());
  EXPECT_TRUE(w.button1013->isEnabled());
  EXPECT_FALSE(w.button1009->isEnabled());
  w.combo1039->setCurrentIndex(1);
  EXPECT_FALSE(w.button1013->isEnabled());
  w.combo1039->setCurrentIndex(0);
  EXPECT_TRUE(w.button1007->isEnabled());
  EXPECT_TRUE(w.button1009->isEnabled());
  EXPECT_TRUE(w.button1013->isEnabled());
}

// The port scan with the real serial link engine.
class MainDialogOnSimulator : public tooltest::SimOnCom7 {
 protected:
  void SetUp() override {
    tooltest::EnsureApplication();
    SimOnCom7::SetUp();
  }
  void TearDown() override {
    seriallink::Disconnect();
    SimOnCom7::TearDown();
  }
};

TEST_F(MainDialogOnSimulator, ConnectFindsTheSimulatorOnCom7) {
  tillwright::AppState state;
  tillwright::RealLink link;
  ScriptedPrompter prompter;
  CTillwrightDlg dlg(state, link, prompter);
  dlg.Widgets().button1084->click();
  EXPECT_EQ(dlg.Widgets().edit1033->text(), "Done");
  EXPECT_EQ(dlg.Widgets().label1097->text(), "Connected");
  EXPECT_TRUE(seriallink::IsConnected());
  const auto frames = Sim().ReceivedFrames().Entries();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].cmd, 62);

  // Later commands go to the same device.
  dlg.Widgets().button1010->click();
  EXPECT_EQ(dlg.Widgets().edit1033->text(), "");
  ASSERT_EQ(Sim().ReceivedFrames().Size(), 2u);
  EXPECT_EQ(Sim().ReceivedFrames().Entries()[1].cmd, 44);
  // The monitor keeps the label: a COM connection wins over the absent USB device. A check that
  // began before the connection may still report it missing; the second one after it cannot.
  const unsigned passes = dlg.Monitor().Passes();
  EXPECT_TRUE(tooltest::WaitFor([&] { return dlg.Monitor().Passes() >= passes + 2; }, 10000));
  QCoreApplication::processEvents();  // what that check posted
  EXPECT_EQ(dlg.Widgets().label1097->text(), "Connected");
}

}  // namespace
