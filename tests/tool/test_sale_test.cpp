// The main dialog's hidden counter and test-sale buttons with their input dialogs: what goes out
// after OK, and nothing after Cancel.
#include <gtest/gtest.h>

#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "core/code_page.h"
#include "logic_test_support.h"
#include "programming/set_counter.h"

namespace {

using tillwright::CenterPrice;
using tillwright::CSetCounter;
using tillwright::CTillwrightDlg;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tooltest::Child;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

constexpr char kQuestion[] = "More than 1.00 units for test sale is introduced.Do you want to continue?";

class HiddenButtons : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg.Attach(view, prompter);
    dlg.OnInitDialog();
  }
  void TearDown() override {
    view.Close();
    dlg.OnDestroy();
    tooltest::ExpectDeclaredControls(view, dlg);
    dlg.Detach();
    tillwright::SetWidgetCodePage(1251);
  }
  void Price(const std::string &price, const std::string &description, bool cancel = false) {
    prompter.children.push_back(Child<CenterPrice>(prompter, [=](FakeView &v, CenterPrice &d) {
      v.SetText(CenterPrice::kPriceField, price);
      v.SetText(CenterPrice::kDescriptionField, description);
      v.Click(d, cancel ? kIdCancel : kIdOk);
      if (!v.Result()) v.Click(d, kIdCancel);  // a No keeps it open: the person gives up
    }));
    view.Click(dlg, CTillwrightDlg::kTestSaleButton);
  }

  tillwright::AppState state;
  RecordingLink link;
  FakeView view;
  ScriptedPrompter prompter;
  CTillwrightDlg dlg{state, link};
};

TEST_F(HiddenButtons, CountersGoOutOnOneLineFeed) {
  prompter.children.push_back(Child<CSetCounter>(prompter, [](FakeView &v, CSetCounter &d) {
    v.SetText(CSetCounter::kFirstField, "12");
    v.SetText(CSetCounter::kSecondField, "345");
    v.Click(d, kIdOk);
  }));
  prompter.children.push_back(
      Child<CSetCounter>(prompter, [](FakeView &v, CSetCounter &d) { v.Click(d, kIdOk); }));
  prompter.children.push_back(Child<CSetCounter>(prompter, [](FakeView &v, CSetCounter &d) {
    v.SetText(CSetCounter::kFirstField, "9");
    v.Click(d, kIdCancel);
  }));
  for (int i = 0; i < 3; ++i) view.Click(dlg, CTillwrightDlg::kCountersButton);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{180, "12\n345"}, {180, "\n"}}));
  EXPECT_EQ(prompter.runs, std::vector<std::string>(3, "set_counter"));
}

// The group byte stays 0xC1 whatever the widgets' code page; the description and the price go
// out as typed, in the device's code page.
TEST_F(HiddenButtons, TheTestSalesFourCommands) {
  for (int codePage : {1251, 1250}) {
    tillwright::SetWidgetCodePage(codePage);
    link.sent.clear();
    Price("0.50", "Проба", false);
    const std::string description = codePage == 1251 ? "\xCF\xF0\xEE\xE1\xE0" : "?????";
    EXPECT_EQ(link.sent, (std::vector<Sent>{{48, "1,0,1"},
                                            {49, "TEST\n" + description + "\t\xC1" "0.50"},
                                            {53, "\t"},
                                            {56, ""}}))
        << codePage;
  }
  EXPECT_TRUE(prompter.questions.empty());
}

TEST_F(HiddenButtons, AReceiptThatDoesNotOpenSellsNothing) {
  link.device = [](uint16_t code, const std::string &) {
    return code == 48 ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{};
  };
  Price("0.10", "x");
  EXPECT_EQ(link.sent, (std::vector<Sent>{{48, "1,0,1"}}));
  EXPECT_EQ(view.Text(CTillwrightDlg::kResultField), "Error");
}

TEST_F(HiddenButtons, OneUnitOrMoreAsksFirst) {
  prompter.answers = {false, true, true};
  Price("1.00", "a");  // No: the dialog stays, the person cancels
  EXPECT_TRUE(link.sent.empty());
  Price("1", "b");
  Price(" 2.5kg", "c");
  EXPECT_EQ(prompter.questions, std::vector<std::string>(3, kQuestion));
  EXPECT_EQ(link.DataOf(49), (std::vector<std::string>{"TEST\nb\t\xC1" "1", "TEST\nc\t\xC1" " 2.5kg"}));

  // Below one unit, or no number at all (it counts as 0): no question, sent as typed.
  prompter.questions.clear();
  link.sent.clear();
  Price("0.99", "d");
  Price("abc", "e");
  EXPECT_TRUE(prompter.questions.empty());
  EXPECT_EQ(link.DataOf(49), (std::vector<std::string>{"TEST\nd\t\xC1" "0.99", "TEST\ne\t\xC1" "abc"}));

  link.sent.clear();
  Price("5", "f", true);
  EXPECT_TRUE(link.sent.empty());
}

}  // namespace
