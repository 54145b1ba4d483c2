#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "core/app_state.h"
#include "core/fiscal_check.h"
#include "core/tillwright_dlg.h"
#include "registration/fiscalization.h"
#include "tool_test_support.h"
#include "ui_fiscal_check.h"
#include "ui_fiscalization.h"
#include "ui_tillwright_dlg.h"

namespace {

using tillwright::CFiscalCheck;
using tillwright::CFiscalization;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

class FiscalStart : public ::testing::Test {
 protected:
  void SetUp() override { tooltest::EnsureApplication(); }
  tillwright::AppState state;
  RecordingLink link;
  ScriptedPrompter prompter;
};

TEST_F(FiscalStart, CheckShowsTraderLinesRatesAndSerial) {
  link.device = [](uint16_t code, const std::string &data) -> RecordingLink::Answer {
    if (code == 43) return {0, "LINE " + data.substr(1)};
    if (code == 97) return {0, "18.00,,9.00,0.00,5.00"};
    if (code == 90) return {0, "FSIM 1.00 BG,02Dec24 1200,5A3C,00000000,SV000001,50000001"};
    return {1, "Error"};
  };
  CFiscalCheck check(link, prompter);
  auto &w = check.Widgets();
  EXPECT_EQ(check.windowTitle(), "Selvora");
  QLineEdit *lines[] = {w.edit1033, w.edit1034, w.edit1035, w.edit1036, w.edit1037, w.edit1038, w.edit1039, w.edit1040};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(lines[k]->text(), QString("LINE %1").arg(k));
  EXPECT_EQ(w.edit1063->text(), "18.00");
  EXPECT_EQ(w.edit1064->text(), "9.00");
  EXPECT_EQ(w.edit1065->text(), "0.00");
  EXPECT_EQ(w.edit1066->text(), "5.00");
  EXPECT_EQ(w.edit1067->text(), "");
  EXPECT_TRUE(w.edit1067->isHidden());
  EXPECT_EQ(w.edit1083->text(), "SV000001");
  EXPECT_EQ(link.sent.size(), 10u);
  EXPECT_EQ(link.sent[0], (Sent{43, "I0"}));
  EXPECT_EQ(link.sent[7], (Sent{43, "I7"}));
  EXPECT_EQ(link.sent[8], (Sent{97, ""}));
  EXPECT_EQ(link.sent[9], (Sent{90, "0"}));
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(FiscalStart, CheckWithNoDeviceShowsTheFailureTexts) {
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  CFiscalCheck check(link, prompter);
  auto &w = check.Widgets();
  EXPECT_EQ(w.edit1033->text(), "Connection Error");
  EXPECT_EQ(w.edit1040->text(), "Connection Error");
  EXPECT_EQ(w.edit1063->text(), "Connection Error");
  EXPECT_EQ(w.edit1064->text(), "");
  EXPECT_EQ(w.edit1083->text(), "");
}

TEST_F(FiscalStart, CheckLeavesSerialEmptyWithFewerThanFiveFields) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    return code == 90 ? RecordingLink::Answer{0, "a,,b,c,"} : RecordingLink::Answer{0, ""};
  };
  CFiscalCheck check(link, prompter);
  EXPECT_EQ(check.Widgets().edit1083->text(), "");
}

TEST_F(FiscalStart, CancelInTheCheckSendsNothingMore) {
  tillwright::CTillwrightDlg dlg(state, link, prompter);
  prompter.dialogs.push_back([](QDialog &d) {
    static_cast<CFiscalCheck &>(d).Widgets().button2->click();
    return d.result();
  });
  dlg.Widgets().button1013->click();
  EXPECT_EQ(link.sent.size(), 10u) << "only the check's reads";
  EXPECT_EQ(prompter.dialogsRun, (std::vector<std::string>{"tillwright::CFiscalCheck"}));
}

// Fills the fiscalization fields and presses OK.
std::function<int(QDialog &)> Fiscalize(const char *serial, const char *tax, bool vat) {
  return [=](QDialog &d) {
    auto &w = static_cast<CFiscalization &>(d).Widgets();
    w.edit1038->setText(serial);
    w.edit1023->setText(tax);
    w.check1171->setChecked(vat);
    w.button1->click();
    return d.result();
  };
}

TEST_F(FiscalStart, FiscalizationThroughTheMainDialog) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    if (code == 197) return {0, "1,0"};
    if (code == 72) return {0, "P"};
    return {0, ""};
  };
  link.lastStatus = "000000000000";
  tillwright::CTillwrightDlg dlg(state, link, prompter);
  prompter.dialogs.push_back([](QDialog &d) {
    static_cast<CFiscalCheck &>(d).Widgets().button1->click();
    return d.result();
  });
  prompter.dialogs.push_back(Fiscalize("AB123", "0123", true));
  dlg.Widgets().button1013->click();
  EXPECT_EQ(link.DataOf(72), (std::vector<std::string>{"AB123,0123\n1"}));
  EXPECT_TRUE(link.DataOf(195).empty());
  EXPECT_TRUE(prompter.informed.empty()) << "P brings no message";
  EXPECT_EQ(dlg.Widgets().edit1033->text(), "Result:P  State:");
  EXPECT_EQ(state.lastStatusCopy, "000000000000");
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(FiscalStart, JournalActivationQuestion) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    if (code == 197) return {0, "01,5"};
    if (code == 72) return {0, "P"};
    return {0, ""};
  };
  CFiscalization dlg(state, link, prompter);
  dlg.setModal(true);
  dlg.show();

  // Cancel: nothing more goes out and the dialog stays open.
  prompter.answers = {false};
  dlg.Widgets().button1->click();
  EXPECT_EQ(prompter.asked, (std::vector<std::string>{"SD Card EJ activation is needed !!!"}));
  EXPECT_EQ(link.sent, (std::vector<Sent>{{197, ""}}));
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(prompter.waitDepth, 0);

  // OK: activation, then fiscalization, and the dialog closes with 0.
  prompter.answers = {true};
  link.sent.clear();
  dlg.Widgets().button1->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{197, ""}, {195, ""}, {72, ",\n0"}}));
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), 0);
  EXPECT_EQ(state.fiscalResultText, "Result:P  State:");
}

TEST_F(FiscalStart, FailedActivationKeepsTheDialogOpen) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    if (code == 197) return {0, "0"};
    if (code == 195) return {1, "Error"};
    return {0, "P"};
  };
  CFiscalization dlg(state, link, prompter);
  dlg.show();
  prompter.answers = {true};
  dlg.Widgets().button1->click();
  EXPECT_EQ(prompter.informed, (std::vector<std::string>{"SD Card EJ activation err !!!"}));
  EXPECT_TRUE(link.DataOf(72).empty());
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(FiscalStart, NoQuestionUnlessTheJournalFieldBeginsWithZero) {
  for (const char *reply : {"1,0", "", ",,,", "A0"}) {
    RecordingLink l;
    l.device = [&](uint16_t code, const std::string &) -> RecordingLink::Answer {
      return code == 197 ? RecordingLink::Answer{0, reply} : RecordingLink::Answer{0, "P"};
    };
    ScriptedPrompter p;
    CFiscalization dlg(state, l, p);
    dlg.Widgets().button1->click();
    EXPECT_TRUE(p.asked.empty()) << reply;
    EXPECT_EQ(l.DataOf(72).size(), 1u) << reply;
  }
  // A failed 197 is not asked again: fiscalization goes ahead.
  RecordingLink l;
  l.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    return code == 197 ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{0, "P"};
  };
  ScriptedPrompter p;
  CFiscalization dlg(state, l, p);
  dlg.Widgets().button1->click();
  EXPECT_EQ(l.sent.size(), 2u);
}

TEST_F(FiscalStart, EveryResultCodeHasItsMessage) {
  const std::pair<const char *, const char *> cases[] = {
      {"1", "EFD is allready fiscalized"},        {"2", "No EFD serial number is programmed"},
      {"3", "Different serial number"},           {"4", "Open receipt"},
      {"5", "Daily Z report is necessary"},       {"8", "Invoice range is not set"},
      {"6", "SD Card EJ activation is needed !!!"}, {"7", "Unkown Fiscal Error"},
      {"1 ", "Unkown Fiscal Error"},              {"Error", "Unkown Fiscal Error"},
      {"Connection Error", "Unkown Fiscal Error"}};
  for (const auto &[reply, message] : cases) {
    // clang before 16 cannot capture a structured binding in a lambda.
    const char *const answer = reply;
    RecordingLink l;
    l.device = [&](uint16_t code, const std::string &) -> RecordingLink::Answer {
      if (code == 197) return {0, "1"};
      return {std::string(answer).find("Error") != std::string::npos ? 1 : 0, answer};
    };
    ScriptedPrompter p;
    CFiscalization dlg(state, l, p);
    dlg.Widgets().button1->click();
    EXPECT_EQ(p.informed, (std::vector<std::string>{message})) << reply;
    EXPECT_TRUE(p.asked.empty()) << "code 6 offers no activation";
    EXPECT_EQ(state.fiscalResultText, std::string("Result:") + reply + "  State:");
  }
}

}  // namespace
