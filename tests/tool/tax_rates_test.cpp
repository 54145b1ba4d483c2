// The VAT-rate dialog: reading the groups, the undefined boxes, the write data and the report
// pre-check before it.
#include <gtest/gtest.h>

#include <deque>

#include "logic_test_support.h"
#include "programming/set_tax_rates.h"

namespace {

using tillwright::CSetTaxRates;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

class TaxRates : public ::testing::Test {
 protected:
  void SetUp() override {
    link.device = [this](uint16_t code, const std::string &) -> RecordingLink::Answer {
      if (code == 97) return {readFails ? 1 : 0, readFails ? "Error" : rates};
      if (code == 196) return {0, reportFlags};
      return {0, ""};
    };
    for (size_t slot = 0; slot < CSetTaxRates::kSlots; ++slot) view.MakeCheckBox(CSetTaxRates::UndefinedBox(slot));
  }
  void TearDown() override {
    if (!dlg.Attached()) return;
    view.Close();
    dlg.OnDestroy();
    tooltest::ExpectDeclaredControls(view, dlg);
    dlg.Detach();
  }
  void Open() {
    dlg.Attach(view, prompter);
    dlg.OnInitDialog();
  }
  static int Field(size_t slot) { return CSetTaxRates::RateField(slot); }
  static int Box(size_t slot) { return CSetTaxRates::UndefinedBox(slot); }
  // What OK wrote with command 96, or nothing.
  std::vector<std::string> Written() const { return link.DataOf(96); }

  std::string rates = "20.00,9.00,0.00,-,-";
  std::string reportFlags = "0,0,0";
  bool readFails = false;
  RecordingLink link;
  ScriptedPrompter prompter;
  FakeView view;
  CSetTaxRates dlg{link};
};

TEST_F(TaxRates, ReadsTheFiveGroupsAndLocksTheUndefinedOnes) {
  Open();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{97, ""}}));
  EXPECT_EQ(view.Text(Field(0)), "20");
  EXPECT_EQ(view.Text(Field(1)), "9");
  EXPECT_EQ(view.Text(Field(2)), "0");
  for (size_t slot : {0, 1, 2}) {
    EXPECT_FALSE(view.Checked(Box(slot))) << slot;
    EXPECT_FALSE(view.ReadOnly(Field(slot))) << slot;
  }
  for (size_t slot = 3; slot < CSetTaxRates::kSlots; ++slot) {
    EXPECT_TRUE(view.Checked(Box(slot))) << slot;
    EXPECT_TRUE(view.ReadOnly(Field(slot))) << slot;
  }
  EXPECT_EQ(prompter.waitDepth, 0);

  // Written back unchanged: undefined groups as -1.00, the hidden slots nowhere.
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{97, ""}, {196, ""}, {96, "20.00,9.00,0.00,-1.00,-1.00"}}));
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_EQ(prompter.waitDepth, 0);
}

// Replies as devices give them, each with what OK then writes back untouched.
TEST_F(TaxRates, RepliesAndWhatTheyWriteBack) {
  const std::pair<const char *, const char *> cases[] = {
      {"-1.00,-1.00,-1.00,-1.00,-1.00", "-1.00,-1.00,-1.00,-1.00,-1.00"},
      {"-5,-,-0,-x,-20", "-1.00,-1.00,-1.00,-1.00,-1.00"},
      {"18.5,7", "18.50,7.00,-1.00,-1.00,-1.00"},
      {"", "-1.00,-1.00,-1.00,-1.00,-1.00"},
      // An empty piece keeps its group's place: B is undefined, C stays C.
      {"20.00,,0.00,5,9", "20.00,-1.00,0.00,5.00,9.00"},
      {",,,,12", "-1.00,-1.00,-1.00,-1.00,12.00"},
      // strtod's reading: blanks skipped, trailing text dropped, no number is 0.
      {" 9.5%,abc,1e1,7.,.5", "9.50,0.00,10.00,7.00,0.50"},
      // More than five pieces: the rest is not for this dialog.
      {"1,2,3,4,5,6,7,8", "1.00,2.00,3.00,4.00,5.00"},
  };
  for (const auto &[reply, written] : cases) {
    RecordingLink one;
    one.device = [reply = std::string(reply)](uint16_t code, const std::string &) {
      return RecordingLink::Answer{0, code == 97 ? reply : "0,0,0"};
    };
    CSetTaxRates dialog(one);
    ScriptedPrompter p;
    tillwright::testing::RunOn(dialog, p, [](FakeView &v, tillwright::ui::Dialog &d) {
      for (size_t slot = CSetTaxRates::kDeviceSlots; slot < CSetTaxRates::kSlots; ++slot) {
        EXPECT_TRUE(v.Checked(CSetTaxRates::UndefinedBox(slot)));
        EXPECT_EQ(v.Text(CSetTaxRates::RateField(slot)), "0");
      }
      v.Click(d, kIdOk);
    });
    EXPECT_EQ(one.DataOf(96), std::vector<std::string>{written}) << '"' << reply << '"';
  }
}

TEST_F(TaxRates, TypedRatesAreSentWithTwoDecimals) {
  Open();
  view.SetText(Field(0), "100");
  view.SetText(Field(1), "7.456");
  view.SetText(Field(2), " 12.3449 ");
  // Unchecking a box without typing a rate defines the group at 0.
  view.Click(dlg, Box(3));
  EXPECT_FALSE(view.ReadOnly(Field(3)));
  EXPECT_EQ(view.Text(Field(0)), "100") << "a box's click reloads the fields from what they hold";
  // Typing into a hidden slot never reaches the device.
  view.SetText(Field(6), "55");
  view.SetChecked(Box(6), false);
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Written(), std::vector<std::string>{"100.00,7.46,12.34,0.00,-1.00"});
}

TEST_F(TaxRates, CheckingUndefinedLocksTheFieldAndSendsMinusOne) {
  Open();
  view.Click(dlg, Box(0));
  EXPECT_TRUE(view.ReadOnly(Field(0)));
  EXPECT_EQ(view.Text(Field(0)), "20") << "the rate stays shown";
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Written(), std::vector<std::string>{"-1.00,9.00,0.00,-1.00,-1.00"});
}

TEST_F(TaxRates, ARateThatIsNoNumberIsRefusedAndNothingIsSent) {
  Open();
  view.SetText(Field(1), "9,5");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"Please enter a number."});
  EXPECT_EQ(view.Focus(), Field(1));
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_EQ(link.sent.size(), 1u) << "not even the report pre-check";

  // A box clicked meanwhile still takes effect, and the text stays to be corrected.
  prompter.messages.clear();
  view.Click(dlg, Box(4));
  EXPECT_FALSE(view.ReadOnly(Field(4)));
  EXPECT_EQ(view.Text(Field(1)), "9,5");
  view.SetText(Field(1), "9.5");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Written(), std::vector<std::string>{"20.00,9.50,0.00,-1.00,0.00"});
}

TEST_F(TaxRates, AFailedReadLeavesEveryGroupUndefinedButWritable) {
  readFails = true;
  Open();
  for (size_t slot = 0; slot < CSetTaxRates::kSlots; ++slot) {
    EXPECT_TRUE(view.Checked(Box(slot)));
    EXPECT_TRUE(view.ReadOnly(Field(slot)));
  }
  view.Click(dlg, Box(0));
  view.SetText(Field(0), "18");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Written(), std::vector<std::string>{"18.00,-1.00,-1.00,-1.00,-1.00"});
}

TEST_F(TaxRates, TheReportPreCheckComesFirstAndARefusalSendsNothing) {
  reportFlags = "0,1,0";
  Open();
  prompter.answers = {false};
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{97, ""}, {196, ""}}));
  EXPECT_EQ(prompter.questions, std::vector<std::string>{"Clerk report is needed !!!"});
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_EQ(prompter.waitDepth, 0);

  prompter.answers = {true};
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent.back(), (Sent{96, "20.00,9.00,0.00,-1.00,-1.00"}));
  EXPECT_EQ(link.sent[link.sent.size() - 2], (Sent{105, ""}));
  EXPECT_EQ(view.Result(), kResultOk);
}

TEST_F(TaxRates, AFailedWriteStillCloses) {
  Open();
  link.device = [](uint16_t code, const std::string &) {
    return code == 96 ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{0, "0,0,0"};
  };
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Written().size(), 1u);
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_TRUE(prompter.messages.empty());
}

}  // namespace
