// "Fiscal start": the read-only check, then fiscalization with its journal activation and the
// message for each answer.
#include <gtest/gtest.h>

#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "logic_test_support.h"
#include "registration/fiscal_check.h"
#include "registration/fiscalization.h"

namespace {

using tillwright::CFiscalCheck;
using tillwright::CFiscalization;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tooltest::Child;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

// A dialog of this file over a fake view, opened as a front end opens it.
template <typename D>
struct Open {
  template <typename... Args>
  explicit Open(ScriptedPrompter &prompter, Args &&...args) : dialog(std::forward<Args>(args)...) {
    dialog.Attach(view, prompter);
    dialog.OnInitDialog();
  }
  ~Open() {
    view.Close();
    dialog.OnDestroy();
    tooltest::ExpectDeclaredControls(view, dialog);
    dialog.Detach();
  }
  void Ok() { view.Click(dialog, kIdOk); }
  FakeView view;
  D dialog;
};

class FiscalStart : public ::testing::Test {
 protected:
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
  Open<CFiscalCheck> check(prompter, link);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(check.view.Text(1033 + k), "LINE " + std::to_string(k));
  EXPECT_EQ(check.view.Text(1063), "18.00");
  EXPECT_EQ(check.view.Text(1064), "9.00");
  EXPECT_EQ(check.view.Text(1065), "0.00");
  EXPECT_EQ(check.view.Text(1066), "5.00");
  EXPECT_EQ(check.view.Known().count(1067), 0u) << "the hidden rate fields are never filled";
  EXPECT_EQ(check.view.Text(1083), "SV000001");
  EXPECT_EQ(link.sent.size(), 10u);
  EXPECT_EQ(link.sent[0], (Sent{43, "I0"}));
  EXPECT_EQ(link.sent[7], (Sent{43, "I7"}));
  EXPECT_EQ(link.sent[8], (Sent{97, ""}));
  EXPECT_EQ(link.sent[9], (Sent{90, "0"}));
  EXPECT_EQ(prompter.waitDepth, 0);
  EXPECT_EQ(prompter.waits, 1);
}

TEST_F(FiscalStart, CheckWithNoDeviceShowsTheFailureTexts) {
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  Open<CFiscalCheck> check(prompter, link);
  EXPECT_EQ(check.view.Text(1033), "Connection Error");
  EXPECT_EQ(check.view.Text(1040), "Connection Error");
  EXPECT_EQ(check.view.Text(1063), "Connection Error");
  EXPECT_EQ(check.view.Text(1064), "");
  EXPECT_EQ(check.view.Text(1083), "");
}

TEST_F(FiscalStart, CheckLeavesSerialEmptyWithFewerThanFiveFields) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    return code == 90 ? RecordingLink::Answer{0, "a,,b,c,"} : RecordingLink::Answer{0, ""};
  };
  Open<CFiscalCheck> check(prompter, link);
  EXPECT_EQ(check.view.Text(1083), "");
}

// Runs the main dialog's "Fiscal start" with the children's scripts queued.
void PressFiscalStart(tillwright::AppState &state, RecordingLink &link, ScriptedPrompter &prompter) {
  tillwright::CTillwrightDlg main(state, link);
  FakeView view;
  main.Attach(view, prompter);
  view.Click(main, tillwright::CTillwrightDlg::kFiscalStartButton);
  main.Detach();
}

TEST_F(FiscalStart, CancelInTheCheckSendsNothingMore) {
  prompter.children.push_back(
      Child<CFiscalCheck>(prompter, [](FakeView &v, CFiscalCheck &d) { v.Click(d, kIdCancel); }));
  state.resultText = "before";
  PressFiscalStart(state, link, prompter);
  EXPECT_EQ(link.sent.size(), 10u) << "only the check's reads";
  EXPECT_EQ(prompter.runs, (std::vector<std::string>{"fiscal_check"}));
  EXPECT_EQ(state.resultText, "before");
}

// Fills the fiscalization fields and presses OK.
std::function<int(tillwright::ui::Dialog &)> Fiscalize(ScriptedPrompter &prompter, const char *serial,
                                                        const char *tax, bool vat) {
  return Child<CFiscalization>(prompter, [=](FakeView &v, CFiscalization &d) {
    v.SetText(CFiscalization::kSerialField, serial);
    v.SetText(CFiscalization::kTaxNumberField, tax);
    v.SetChecked(CFiscalization::kVatBox, vat);
    v.Click(d, kIdOk);
  });
}

TEST_F(FiscalStart, FiscalizationThroughTheMainDialog) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    if (code == 197) return {0, "1,0"};
    if (code == 72) return {0, "P"};
    return {0, ""};
  };
  link.lastStatus = "000000000000";
  prompter.children.push_back(Child<CFiscalCheck>(prompter, [](FakeView &v, CFiscalCheck &d) { v.Click(d, kIdOk); }));
  prompter.children.push_back(Fiscalize(prompter, "AB123", "0123", true));
  PressFiscalStart(state, link, prompter);
  EXPECT_EQ(prompter.runs, (std::vector<std::string>{"fiscal_check", "fiscalization"}));
  EXPECT_EQ(link.DataOf(72), (std::vector<std::string>{"AB123,0123\n1"}));
  EXPECT_TRUE(link.DataOf(195).empty());
  EXPECT_TRUE(prompter.messages.empty()) << "P brings no message";
  EXPECT_EQ(state.resultText, "Result:P  State:");
  EXPECT_EQ(state.lastStatusCopy, "000000000000");
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(FiscalStart, FiscalizationResultShowsEvenWhenItsDialogWasCancelled) {
  state.fiscalResultText = "Result:1  State:";
  prompter.children.push_back(Child<CFiscalCheck>(prompter, [](FakeView &v, CFiscalCheck &d) { v.Click(d, kIdOk); }));
  prompter.children.push_back(
      Child<CFiscalization>(prompter, [](FakeView &v, CFiscalization &d) { v.Click(d, kIdCancel); }));
  PressFiscalStart(state, link, prompter);
  EXPECT_TRUE(link.DataOf(72).empty());
  EXPECT_EQ(state.resultText, "Result:1  State:") << "the text left by the last fiscalization";
  EXPECT_EQ(state.lastStatusCopy, "") << "an empty status is not copied";
}

TEST_F(FiscalStart, JournalActivationQuestion) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    if (code == 197) return {0, "01,5"};
    if (code == 72) return {0, "P"};
    return {0, ""};
  };
  Open<CFiscalization> dlg(prompter, state, link);

  // Cancel: nothing more goes out and the dialog stays open.
  prompter.answers = {false};
  dlg.Ok();
  EXPECT_EQ(prompter.questions, (std::vector<std::string>{"SD Card EJ activation is needed !!!"}));
  EXPECT_EQ(link.sent, (std::vector<Sent>{{197, ""}}));
  EXPECT_FALSE(dlg.view.Result().has_value());
  EXPECT_EQ(prompter.waitDepth, 0);

  // OK: activation, then fiscalization, and the dialog closes with 0.
  prompter.answers = {true};
  link.sent.clear();
  dlg.Ok();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{197, ""}, {195, ""}, {72, ",\n0"}}));
  EXPECT_EQ(dlg.view.Result(), 0);
  EXPECT_EQ(state.fiscalResultText, "Result:P  State:");
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(FiscalStart, FailedActivationKeepsTheDialogOpen) {
  link.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    if (code == 197) return {0, "0"};
    if (code == 195) return {1, "Error"};
    return {0, "P"};
  };
  Open<CFiscalization> dlg(prompter, state, link);
  prompter.answers = {true};
  dlg.Ok();
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"SD Card EJ activation err !!!"}));
  EXPECT_TRUE(link.DataOf(72).empty());
  EXPECT_FALSE(dlg.view.Result().has_value());
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(FiscalStart, NoQuestionUnlessTheJournalFieldBeginsWithZero) {
  for (const char *reply : {"1,0", "", ",,,", "A0"}) {
    RecordingLink l;
    l.device = [&](uint16_t code, const std::string &) -> RecordingLink::Answer {
      return code == 197 ? RecordingLink::Answer{0, reply} : RecordingLink::Answer{0, "P"};
    };
    ScriptedPrompter p;
    Open<CFiscalization> dlg(p, state, l);
    dlg.Ok();
    EXPECT_TRUE(p.questions.empty()) << reply;
    EXPECT_EQ(l.DataOf(72).size(), 1u) << reply;
  }
  // A failed 197 is not asked again: fiscalization goes ahead.
  RecordingLink l;
  l.device = [](uint16_t code, const std::string &) -> RecordingLink::Answer {
    return code == 197 ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{0, "P"};
  };
  ScriptedPrompter p;
  Open<CFiscalization> dlg(p, state, l);
  dlg.Ok();
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
    Open<CFiscalization> dlg(p, state, l);
    dlg.Ok();
    EXPECT_EQ(p.messages, (std::vector<std::string>{message})) << reply;
    EXPECT_TRUE(p.questions.empty()) << "code 6 offers no activation";
    EXPECT_EQ(state.fiscalResultText, std::string("Result:") + reply + "  State:");
    EXPECT_EQ(dlg.view.Result(), 0);
  }
}

}  // namespace
