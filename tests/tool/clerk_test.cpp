// The operators' dialogs: the data they send, the refusals that keep a bad field from reaching
// the device, the report pre-check and the retries of the name's write.
#include <gtest/gtest.h>

#include "core/messages.h"
#include "logic_test_support.h"
#include "programming/set_clerk.h"

namespace {

using tillwright::CSetClerkName;
using tillwright::CSetClerkPass;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

template <typename D>
class Operators : public ::testing::Test {
 protected:
  void Fill(const std::string &number, const std::string &a, const std::string &b) {
    view.SetText(1033, number);
    view.SetText(1034, a);
    view.SetText(1035, b);
  }

  RecordingLink link;
  FakeView view;
  ScriptedPrompter prompter;
  D dlg{link};
  tooltest::OpenDialog opened{view, dlg, prompter};
};

using OperatorName = Operators<CSetClerkName>;
using OperatorPassword = Operators<CSetClerkPass>;

TEST(OperatorNumber, IsAtLeastTwoDigitsWithItsSign) {
  EXPECT_EQ(tillwright::OperatorNumber(7), "07");
  EXPECT_EQ(tillwright::OperatorNumber(123), "123");
  EXPECT_EQ(tillwright::OperatorNumber(-1), "-1");
  EXPECT_EQ(tillwright::OperatorNumber(0), "00");
}

TEST_F(OperatorName, OpensEmptyAndWritesAfterThePreCheck) {
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(view.Text(1033), "0");
  EXPECT_EQ(view.Text(1034), "");
  Fill("7", "4321", "Ivan Petrov");
  view.SetText(CSetClerkName::kIdNumberField, "12345678901");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}, {102, "07,4321,Ivan Petrov\n12345678901"}}));
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(OperatorName, AnEmptyIdentificationNumberStillEndsWithTheLineFeed) {
  Fill("123", "1", "A");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(102), (std::vector<std::string>{"123,1,A\n"}));
}

TEST_F(OperatorName, AFailingDeviceGetsSevenSendsAndTheDialogStillCloses) {
  link.device = [](uint16_t code, const std::string &) {
    return RecordingLink::Answer{code == 102 ? 1 : 0, code == 102 ? "Error" : "0,0,0"};
  };
  Fill("3", "pw", "Name");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(102), std::vector<std::string>(7, "03,pw,Name\n"));
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(OperatorName, RetriesStopAtTheFirstSuccess) {
  int failures = 2;
  link.device = [&](uint16_t code, const std::string &) {
    if (code == 102 && failures-- > 0) return RecordingLink::Answer{1, "Error"};
    return RecordingLink::Answer{};
  };
  Fill("3", "pw", "Name");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(102).size(), 3u);
}

TEST_F(OperatorName, ARefusedReportKeepsTheDialogOpenAndConsentMakesIt) {
  link.device = [](uint16_t code, const std::string &) {
    return RecordingLink::Answer{0, code == 196 ? "1,0,0" : ""};
  };
  Fill("1", "pw", "Name");
  prompter.answers = {false};
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}}));
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_EQ(view.Text(1035), "Name");
  EXPECT_EQ(prompter.waitDepth, 0);
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}, {196, ""}, {108, "1"}, {102, "01,pw,Name\n"}}));
  EXPECT_EQ(view.Result(), kResultOk);
}

// Each refusal names its field, keeps the focus there and sends nothing.
TEST_F(OperatorName, BadFieldsAreRefusedBeforeAnythingIsSent) {
  struct Case {
    int field;
    std::string text;
    std::string message;
  };
  const std::string comma(tillwright::msg::kCommaRefused);
  for (const Case &c : std::vector<Case>{{1033, "7a", "Please enter an integer."},
                                         {1033, "", "Please enter an integer."},
                                         {1033, "99999999999", "Please enter an integer between -2147483648 and 2147483647."},
                                         {1034, "1,2", comma},
                                         {1035, "Petrov, Ivan", comma},
                                         {1172, "123,4", comma},
                                         {1172, "123456789012", "Please enter no more than 11 characters."}}) {
    Fill("5", "pw", "Name");
    view.SetText(1172, "");
    view.SetText(c.field, c.text);
    prompter.messages.clear();
    view.Click(dlg, kIdOk);
    EXPECT_TRUE(link.sent.empty()) << c.text;
    EXPECT_FALSE(view.Result().has_value()) << c.text;
    EXPECT_EQ(prompter.messages, std::vector<std::string>{c.message}) << c.text;
    EXPECT_EQ(view.Focus(), c.field) << c.text;
  }
  // Eleven Cyrillic letters are eleven characters, not twenty-two bytes.
  view.SetText(1172, "АБВГДЕЖЗИЙК");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(view.Result(), kResultOk);
}

TEST_F(OperatorName, CancelSendsNothing) {
  Fill("5", "pw", "Name");
  view.Click(dlg, kIdCancel);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(OperatorPassword, SendsTheChangeOnceWhateverItsOutcome) {
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Error"}; };
  EXPECT_EQ(view.Text(1033), "0");
  Fill("5", "old", "new");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{101, "05,old,new"}}));
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(OperatorPassword, RefusalsSendNothing) {
  for (const auto &[field, text] : std::vector<std::pair<int, std::string>>{{1033, "x"}, {1034, "o,ld"}, {1035, "n,"}}) {
    Fill("5", "old", "new");
    view.SetText(field, text);
    view.Click(dlg, kIdOk);
    EXPECT_EQ(view.Focus(), field);
  }
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(prompter.messages.size(), 3u);
  view.Click(dlg, kIdCancel);
  EXPECT_TRUE(link.sent.empty());
}

}  // namespace
