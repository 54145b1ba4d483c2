// The main dialog's logic: the connection monitor, its commands and the dialogs it opens.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <thread>

#include "app/tillwright_app.h"
#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "core/code_page.h"
#include "core/local_time.h"
#include "core/messages.h"
#include "logic_test_support.h"
#include "main_dialog_fixture.h"
#include "programming/set_clerk.h"
#include "programming/set_sn.h"

namespace {

using tillwright::CSetSN;
using tillwright::CTillwrightDlg;
using tillwright::ui::kResultCancel;
using tillwright::ui::kResultOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

using MainDialog = tooltest::MainDialogTest;

TEST_F(MainDialog, MonitorShowsTheUsbDeviceAndStopsWhenTheDialogCloses) {
  link.usb = 1;
  ASSERT_NE(dlg.Monitor(), nullptr);
  EXPECT_TRUE(dlg.Monitor()->Running());
  // The monitor only posts: the label changes when the user-interface thread serves the post.
  EXPECT_TRUE(view.RunPostedUntil([&] { return Label() == "Connected"; }, std::chrono::seconds(5)));
  EXPECT_EQ(state.usbPresent, 1);

  // With a device on USB, Connect leaves the ports alone.
  Click(CTillwrightDlg::kConnectButton);
  EXPECT_TRUE(link.connects.empty());
  EXPECT_TRUE(link.sent.empty());
  EXPECT_TRUE(prompter.progress.empty());

  link.usb = 0;
  EXPECT_TRUE(view.RunPostedUntil([&] { return Label() == "Disconnected"; }, std::chrono::seconds(5)));

  dlg.OnDestroy();
  EXPECT_TRUE(dlg.Monitor()->Stopped());
  const int checks = link.tests;
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(link.tests, checks) << "the monitor went on checking after the dialog closed";
}

TEST_F(MainDialog, CommandButtonsSendTheirCommands) {
  int z = 0;
  link.device = [&z](uint16_t code, const std::string &) {
    if (code == 108) return RecordingLink::Answer{0, ++z == 1 ? "first" : "second"};
    return RecordingLink::Answer{0, "ok"};
  };

  Click(CTillwrightDlg::kSetDateTimeButton);
  ASSERT_EQ(link.sent.size(), 1u);
  EXPECT_EQ(link.sent[0].code, 61);
  EXPECT_TRUE(std::regex_match(link.sent[0].data, std::regex(R"(\d\d-\d\d-\d\d \d\d:\d\d:\d\d)")))
      << link.sent[0].data;
  char today[16];
  const std::tm local = tillwright::LocalTime(std::time(nullptr));
  std::strftime(today, sizeof today, "%d-%m-", &local);
  EXPECT_EQ(link.sent[0].data.substr(0, 6), today);
  EXPECT_EQ(Result(), "ok");

  link.sent.clear();
  Click(CTillwrightDlg::kDailyZButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{108, "8"}, {108, "1"}}));
  EXPECT_EQ(Result(), "second");

  link.sent.clear();
  Click(CTillwrightDlg::kPaperFeedButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{44, "1"}}));

  // The hidden buttons' handlers.
  link.sent.clear();
  Click(CTillwrightDlg::kDiagnosticsButton);
  Click(CTillwrightDlg::kPaperCutButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{71, "1"}, {45, ""}}));
  EXPECT_EQ(prompter.waitDepth, 0);
  EXPECT_EQ(prompter.waits, 5);
}

TEST_F(MainDialog, DailyZSendsTheSecondReportAfterAFailedFirst) {
  link.device = [](uint16_t, const std::string &data) {
    return data == "8" ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{0, "done"};
  };
  Click(CTillwrightDlg::kDailyZButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{108, "8"}, {108, "1"}}));
  EXPECT_EQ(Result(), "done");
}

TEST_F(MainDialog, AFailedCommandShowsItsFailureText) {
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  Click(CTillwrightDlg::kPaperFeedButton);
  EXPECT_EQ(Result(), "Connection Error");
  EXPECT_TRUE(prompter.messages.empty()) << "the main dialog shows no message of its own";
}

TEST_F(MainDialog, ResultBytesShowInTheWidgetsCodePage) {
  tillwright::SetWidgetCodePage(1251);
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{0, "\xC4\xE0"}; };  // "Да"
  Click(CTillwrightDlg::kPaperFeedButton);
  EXPECT_EQ(Result(), "Да");
  EXPECT_EQ(state.resultText, "\xC4\xE0");
}

TEST_F(MainDialog, SerialNumberIsSentOnlyAfterOk) {
  using tooltest::Child;
  prompter.children.push_back(Child<CSetSN>(prompter, [](FakeView &v, CSetSN &sn) {
    v.SetText(CSetSN::kSerialField, "AB123");
    v.Click(sn, tillwright::ui::kIdCancel);
  }));
  Click(CTillwrightDlg::kSetSerialButton);
  EXPECT_TRUE(link.sent.empty());

  prompter.children.push_back(Child<CSetSN>(prompter, [](FakeView &v, CSetSN &sn) {
    v.SetText(CSetSN::kSerialField, "AB123");
    v.Click(sn, tillwright::ui::kIdOk);
  }));
  Click(CTillwrightDlg::kSetSerialButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{91, "7,AB123,,"}}));

  link.sent.clear();
  prompter.children.push_back(
      Child<CSetSN>(prompter, [](FakeView &v, CSetSN &sn) { v.Click(sn, tillwright::ui::kIdOk); }));
  Click(CTillwrightDlg::kSetSerialButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{91, "7,,,"}}));

  // Typed Cyrillic goes out in the device's code page.
  link.sent.clear();
  prompter.children.push_back(Child<CSetSN>(prompter, [](FakeView &v, CSetSN &sn) {
    v.SetText(CSetSN::kSerialField, "СВ1");
    v.Click(sn, tillwright::ui::kIdOk);
  }));
  Click(CTillwrightDlg::kSetSerialButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{91, "7,\xD1\xC2\x31,,"}}));
  EXPECT_EQ(prompter.runs, (std::vector<std::string>(4, "set_sn")));

  // A comma would end the serial number's field on the device: refused, the dialog stays.
  link.sent.clear();
  prompter.children.push_back(Child<CSetSN>(prompter, [&](FakeView &v, CSetSN &sn) {
    v.SetText(CSetSN::kSerialField, "AB,1");
    v.Click(sn, tillwright::ui::kIdOk);
    EXPECT_FALSE(v.Result().has_value());
    EXPECT_EQ(v.Focus(), CSetSN::kSerialField);
    v.Click(sn, tillwright::ui::kIdCancel);
  }));
  Click(CTillwrightDlg::kSetSerialButton);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{std::string(tillwright::msg::kCommaRefused)}));
}

TEST_F(MainDialog, OperatorAndNetworkButtonsOpenTheirDialogs) {
  using tillwright::CSetClerkName;
  using tillwright::CSetClerkPass;
  prompter.children.push_back(tooltest::Child<CSetClerkName>(prompter, [](FakeView &v, CSetClerkName &d) {
    v.SetText(1033, "2");
    v.Click(d, tillwright::ui::kIdOk);
  }));
  prompter.children.push_back(tooltest::Child<CSetClerkPass>(prompter, [](FakeView &v, CSetClerkPass &d) {
    v.SetText(1033, "2");
    v.Click(d, tillwright::ui::kIdOk);
  }));
  Click(1020);
  Click(1021);
  Click(1183);
  Click(1085);
  EXPECT_EQ(prompter.runs,
            (std::vector<std::string>{"set_clerk_name", "set_clerk_pass", "tcp_ip_config", "set_conn_par"}));
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}, {102, "02,,\n"}, {101, "02,,"}}));
}

TEST_F(MainDialog, DeviceTypeEnablesItsButtons) {
  const int combo = CTillwrightDlg::kDeviceTypeCombo;
  view.Choose(dlg, combo, 2);
  EXPECT_FALSE(view.Enabled(CTillwrightDlg::kDiagnosticsButton));
  EXPECT_TRUE(view.Enabled(CTillwrightDlg::kFiscalStartButton));
  EXPECT_FALSE(view.Enabled(CTillwrightDlg::kPaperCutButton));
  view.Choose(dlg, combo, 1);
  EXPECT_FALSE(view.Enabled(CTillwrightDlg::kFiscalStartButton));
  view.Choose(dlg, combo, 0);
  EXPECT_TRUE(view.Enabled(CTillwrightDlg::kDiagnosticsButton));
  EXPECT_TRUE(view.Enabled(CTillwrightDlg::kPaperCutButton));
  EXPECT_TRUE(view.Enabled(CTillwrightDlg::kFiscalStartButton));
}

TEST_F(MainDialog, QuitLetsGoOfTheSerialLinkAndEndsWithOk) {
  state.serialConnected = 1;
  Click(CTillwrightDlg::kQuitButton);
  EXPECT_EQ(link.disconnects, 1);
  EXPECT_EQ(state.serialConnected, 0);
  EXPECT_EQ(view.Result(), kResultOk);
}

TEST_F(MainDialog, EnterLeavesTheDialogOpen) {
  state.serialConnected = 1;
  Click(tillwright::ui::kIdOk);
  EXPECT_FALSE(view.Result());
  EXPECT_EQ(link.disconnects, 0);
}

// The application's run of the main dialog: any end but Quit lets go of the serial link too.
TEST(Application, TheMainDialogEndedOtherwiseThanByQuitDisconnects) {
  for (const bool quit : {false, true}) {
    RecordingLink link;
    ScriptedPrompter prompter;
    tillwright::CTillwrightApp app(link);
    prompter.runChild = [&](tillwright::ui::Dialog &dialog) {
      return tillwright::testing::RunOn(dialog, prompter, [&](FakeView &v, tillwright::ui::Dialog &d) {
        app.State().serialConnected = 1;
        v.Click(d, quit ? CTillwrightDlg::kQuitButton : tillwright::ui::kIdCancel);
      });
    };
    EXPECT_EQ(app.RunMainDialog(prompter), quit ? kResultOk : kResultCancel);
    EXPECT_EQ(prompter.runs, (std::vector<std::string>{"tillwright_dlg"}));
    EXPECT_EQ(link.disconnects, 1) << "quit " << quit;
    EXPECT_EQ(app.State().serialConnected, 0);
  }
}

}  // namespace
