// The GPRS dialog: the parameters read with each piece in its place, the write, the connection
// test, the lock's state and its unlock.
#include <gtest/gtest.h>

#include <map>

#include "core/messages.h"
#include "logic_test_support.h"
#include "programming/set_conn_par.h"

namespace {

using tillwright::CSetConnPar;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

constexpr int kApn = 1087, kUser = 1088, kPassword = 1089, kLock = 1200;

class Gprs : public ::testing::Test {
 protected:
  // Answers by (code, data); what is missing fails with "Error".
  void SetUp() override {
    link.device = [this](uint16_t code, const std::string &data) {
      const auto it = answers.find({code, data});
      return it != answers.end() ? it->second : RecordingLink::Answer{1, "Error"};
    };
  }
  void Open() {
    view.MakeCheckBox(CSetConnPar::kFirstInstallBox);
    opened.emplace(view, dlg, prompter);
  }
  void TearDown() override { opened.reset(); }

  std::map<std::pair<uint16_t, std::string>, RecordingLink::Answer> answers{{{228, ""}, {0, "L"}},
                                                                            {{176, "R"}, {0, "apn,user,pw"}}};
  RecordingLink link;
  FakeView view;
  ScriptedPrompter prompter;
  CSetConnPar dlg{link};
  std::optional<tooltest::OpenDialog> opened;
};

TEST_F(Gprs, OpensWithTheLockThenTheParameters) {
  Open();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{228, ""}, {176, "R"}}));
  EXPECT_EQ(view.Text(kApn), "apn");
  EXPECT_EQ(view.Text(kUser), "user");
  EXPECT_EQ(view.Text(kPassword), "pw");
  EXPECT_EQ(view.Text(kLock), "Lock state :Locked or OIB not set");
  EXPECT_EQ(view.Text(1095), "Undefined");
  EXPECT_EQ(view.Text(1090), "0");
  EXPECT_TRUE(view.ReadOnly(1097));
  view.Click(dlg, CSetConnPar::kFirstInstallBox);
  EXPECT_FALSE(view.ReadOnly(1097));
  view.Click(dlg, CSetConnPar::kFirstInstallBox);
  EXPECT_TRUE(view.ReadOnly(1097));
  EXPECT_EQ(prompter.waitDepth, 0);
}

// An empty user keeps its place: the password stays the password, and OK writes both back where
// they were.
TEST_F(Gprs, AnEmptyUserDoesNotShiftThePassword) {
  answers[{176, "R"}] = {0, "apn,,pw"};
  answers[{176, "Papn,,pw"}] = {0, ""};
  Open();
  EXPECT_EQ(view.Text(kUser), "");
  EXPECT_EQ(view.Text(kPassword), "pw");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(176), (std::vector<std::string>{"R", "Papn,,pw", "R"}));
  EXPECT_FALSE(view.Result().has_value()) << "OK writes and stays";
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(Gprs, PartialOrFailedReadsLeaveUndefined) {
  answers[{176, "R"}] = {0, "apn,user"};
  Open();
  EXPECT_EQ(view.Text(kPassword), "Undefined");
  answers[{176, "Papn,user,Undefined"}] = {0, ""};
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(176)[1], "Papn,user,Undefined");

  CSetConnPar second(link);
  FakeView other;
  answers.erase({176, "R"});
  second.Attach(other, prompter);
  second.OnInitDialog();
  for (int id : {kApn, kUser, kPassword}) EXPECT_EQ(other.Text(id), "Undefined") << id;
  second.Detach();
}

TEST_F(Gprs, LockStateTexts) {
  const std::vector<std::pair<RecordingLink::Answer, std::string>> cases = {
      {{1, "Error"}, "Lock state :Unknown"},
      {{0, "L"}, "Lock state :Locked or OIB not set"},
      {{0, "LOCKED"}, "Lock state :Locked or OIB not set"},
      {{0, ""}, "Lock state :Unlocked for "},
      {{0, "12345678901"}, "Lock state :Unlocked for 12345678901"}};
  for (const auto &[answer, text] : cases) {
    answers[{228, ""}] = answer;
    CSetConnPar d(link);
    FakeView v;
    d.Attach(v, prompter);
    d.OnInitDialog();
    EXPECT_EQ(v.Text(kLock), text);
    d.Detach();
  }
  Open();
}

TEST_F(Gprs, WriteFailureIsReportedAndNothingReadAgain) {
  Open();
  link.sent.clear();
  view.SetText(kApn, "new.apn");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{176, "Pnew.apn,user,pw"}}));
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"Parameters error !!!"}));
  EXPECT_EQ(view.Text(kApn), "new.apn");
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(Gprs, ACommaInTheParametersOrTheKeyIsRefused) {
  Open();
  link.sent.clear();
  view.SetText(kUser, "a,b");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(view.Focus(), kUser);
  view.SetText(kUser, "user");
  view.SetText(1196, "2,2");
  view.Click(dlg, CSetConnPar::kUnlockButton);
  EXPECT_EQ(view.Focus(), 1196);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(prompter.messages, std::vector<std::string>(2, std::string(tillwright::msg::kCommaRefused)));
}

TEST_F(Gprs, OnlyAnExactPPPassesTheConnectionTest) {
  Open();
  for (const auto &[answer, message] : std::vector<std::pair<RecordingLink::Answer, std::string>>{
           {{0, "PP"}, "OK !!!"}, {{0, "PPX"}, "Error !!!"}, {{0, "P"}, "Error !!!"}, {{0, ""}, "Error !!!"},
           {{1, "PP"}, "Error !!!"}}) {
    answers[{193, ""}] = answer;
    prompter.messages.clear();
    view.Click(dlg, CSetConnPar::kTestButton);
    EXPECT_EQ(prompter.messages, std::vector<std::string>{message}) << answer.reply;
  }
  EXPECT_EQ(link.DataOf(193).size(), 5u);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(Gprs, UnlockSendsTheKeyThenAsksTheLockWithIt) {
  answers[{221, "1111,2222,3333,4444"}] = {0, ""};
  answers[{228, "1111,2222,3333,4444"}] = {0, "12345678901"};
  Open();
  link.sent.clear();
  for (int i = 0; i < 4; ++i) view.SetText(1195 + i, std::string(4, static_cast<char>('1' + i)));
  view.Click(dlg, CSetConnPar::kUnlockButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{221, "1111,2222,3333,4444"}, {228, "1111,2222,3333,4444"}}));
  EXPECT_EQ(view.Text(kLock), "Lock state :Unlocked for 12345678901");
  EXPECT_TRUE(prompter.messages.empty());

  // A refused key leaves the lock state as it was; empty parts still send their commas.
  link.sent.clear();
  for (int i = 0; i < 4; ++i) view.SetText(1195 + i, "");
  view.Click(dlg, CSetConnPar::kUnlockButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{221, ",,,"}}));
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"Error !!!"}));
  EXPECT_EQ(view.Text(kLock), "Lock state :Unlocked for 12345678901");
  view.Click(dlg, kIdCancel);
  EXPECT_EQ(view.Result(), tillwright::ui::kResultCancel);
  EXPECT_EQ(link.sent.size(), 1u);
}

}  // namespace
