// The business premises dialog and the period of the report by dates: what goes out on the wire
// for what the device answered and the person typed.
#include <gtest/gtest.h>

#include <ctime>
#include <deque>

#include "app/tillwright_app.h"
#include "app/tillwright_dlg.h"
#include "core/fields.h"
#include "core/local_time.h"
#include "core/messages.h"
#include "logic_test_support.h"
#include "registration/business_data.h"
#include "registration/date_period.h"

namespace {

using tillwright::CBusinessData;
using tillwright::CDatePeriod;
using tillwright::ui::Icon;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

constexpr auto &kIds = CBusinessData::kAddressIds;

TEST(SplitFieldsInPlace, EveryPieceKeepsItsPlace) {
  using V = std::vector<std::string>;
  EXPECT_EQ(tillwright::SplitFieldsInPlace("A,,C"), (V{"A", "", "C"}));
  EXPECT_EQ(tillwright::SplitFieldsInPlace("A,,,D"), (V{"A", "", "", "D"}));
  EXPECT_EQ(tillwright::SplitFieldsInPlace(",B,C"), (V{"", "B", "C"}));
  EXPECT_EQ(tillwright::SplitFieldsInPlace("A, ,C,"), (V{"A", "", "C", ""}));
  EXPECT_EQ(tillwright::SplitFieldsInPlace(""), (V{""}));
  // What the other dialogs use: empty pieces skipped.
  EXPECT_EQ(tillwright::SplitFields("A,,,D"), (V{"A", "D"}));
}

class Premises : public ::testing::Test {
 protected:
  void SetUp() override {
    link.device = [this](uint16_t code, const std::string &data) -> RecordingLink::Answer {
      if (data == "R") {
        if (code == 198) return {readFails ? 1 : 0, readFails ? "Error" : address};
        if (code == 199) return {readFails ? 1 : 0, readFails ? "Error" : hours};
      }
      if (code == 198 && failAddressWrite) return {1, "Error"};
      if (code == 199 && failHoursWrite) return {1, "Error"};
      if (code == 208) return conclusion;
      return {0, ""};
    };
  }
  void TearDown() override { opened_.reset(); }
  CBusinessData &Open() {
    dialog_ = std::make_unique<CBusinessData>(link);
    view.MakeCheckBox(CBusinessData::kClosingBox);
    opened_.emplace(view, *dialog_, prompter);
    return *dialog_;
  }
  std::vector<Sent> Writes() const {
    std::vector<Sent> out;
    for (const Sent &s : link.sent)
      if (s.data != "R") out.push_back(s);
    return out;
  }
  std::vector<std::string> AddressShown() const {
    std::vector<std::string> out;
    for (const auto id : kIds) out.push_back(view.Text(id));
    return out;
  }

  std::string address = "D1,Main,5,,10000,Town,Town";
  std::string hours = "0,8-16,shop";
  RecordingLink::Answer conclusion{0, "POK"};
  bool readFails = false;
  bool failAddressWrite = false;
  bool failHoursWrite = false;
  RecordingLink link;
  ScriptedPrompter prompter;
  FakeView view;

 private:
  std::unique_ptr<CBusinessData> dialog_;
  std::optional<tooltest::OpenDialog> opened_;
};

using Texts = std::vector<std::string>;

TEST_F(Premises, EmptyPiecesOfTheReplyKeepEveryFieldInItsPlace) {
  for (const auto &[reply, shown] : std::vector<std::pair<std::string, Texts>>{
           {"A,,C", {"A", "", "C", "", "", "", ""}},
           {"A,,,D", {"A", "", "", "D", "", "", ""}},
           {",B,C", {"", "B", "C", "", "", "", ""}},
           {"A, ,C,D,E,F,G,H", {"A", "", "C", "D", "E", "F", "G"}},
       }) {
    address = reply;
    FakeView fresh;
    CBusinessData dialog(link);
    dialog.Attach(fresh, prompter);
    dialog.OnInitDialog();
    Texts got;
    for (const auto id : kIds) got.push_back(fresh.Text(id));
    EXPECT_EQ(got, shown) << reply;
    dialog.Detach();
  }
}

TEST_F(Premises, OpeningReadsBothPartsUnderTheWaitCursor) {
  hours = "1,Mon-Fri 8-16; Sat 8-12,shop";
  Open();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{198, "R"}, {199, "R"}}));
  EXPECT_EQ(AddressShown(), (Texts{"D1", "Main", "5", "", "10000", "Town", "Town"}));
  EXPECT_TRUE(view.Checked(CBusinessData::kClosingBox));
  EXPECT_EQ(view.Text(CBusinessData::kWorkingHours), "Mon-Fri 8-16; Sat 8-12");
  EXPECT_EQ(view.Text(CBusinessData::kSpecificPurpose), "shop");
  EXPECT_EQ(prompter.waitDepth, 0);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(Premises, FailedReadsAreSilentAndLeaveTheFieldsEmpty) {
  readFails = true;
  Open();
  EXPECT_EQ(AddressShown(), Texts(7, ""));
  EXPECT_FALSE(view.Checked(CBusinessData::kClosingBox));
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(Premises, OkWritesAddressThenFlagHoursAndPurposeThenConcludes) {
  hours = "0,8-16,shop";
  CBusinessData &dlg = Open();
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{198, "PD1,Main,5,,10000,Town,Town"}, {199, "P08-16,shop"}, {208, ""}}));
  EXPECT_EQ(prompter.messages, Texts{"OK"});
  EXPECT_EQ(prompter.icons, std::vector<Icon>{Icon::None});
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(Premises, WorkingHoursCommasBecomeSemicolonsAndTheFlagLeadsThem) {
  CBusinessData &dlg = Open();
  view.SetText(CBusinessData::kWorkingHours, "Mon-Fri 8-16, Sat 8-12");
  view.SetChecked(CBusinessData::kClosingBox, true);
  link.sent.clear();
  view.Click(dlg, kIdOk);
  ASSERT_GE(link.sent.size(), 2u);
  EXPECT_EQ(link.sent[1], (Sent{199, "P1Mon-Fri 8-16; Sat 8-12,shop"}));
}

TEST_F(Premises, TheConclusionsThreeOutcomes) {
  struct Case {
    int result;
    const char *reply;
    const char *message;
    Icon icon;
  };
  static constexpr Case kCases[] = {{1, "Connection Error", "Connection Error", Icon::Error},
                                    {0, "PAccepted", "OK", Icon::None},
                                    {0, "EMissing settlement", "Missing settlement", Icon::Error},
                                    {0, "", "", Icon::Error}};
  for (const Case &c : kCases) {
    conclusion = {c.result, c.reply};
    prompter.messages.clear();
    prompter.icons.clear();
    FakeView fresh;
    CBusinessData dialog(link);
    dialog.Attach(fresh, prompter);
    dialog.OnInitDialog();
    fresh.Click(dialog, kIdOk);
    EXPECT_EQ(prompter.messages, Texts{c.message}) << c.reply;
    EXPECT_EQ(prompter.icons, std::vector<Icon>{c.icon}) << c.reply;
    EXPECT_EQ(fresh.Result(), kResultOk);
    dialog.Detach();
  }
}

TEST_F(Premises, AFailedWriteStopsTheSequenceAndStillCloses) {
  failAddressWrite = true;
  CBusinessData &dlg = Open();
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent.size(), 1u);
  EXPECT_EQ(prompter.messages, Texts{"WRITE ERROR !!!"});
  EXPECT_EQ(prompter.icons, std::vector<Icon>{Icon::Error});
  EXPECT_EQ(view.Result(), kResultOk);
}

TEST_F(Premises, AFailedHoursWriteSendsNoConclusion) {
  failHoursWrite = true;
  CBusinessData &dlg = Open();
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent.size(), 2u);
  EXPECT_EQ(prompter.messages, Texts{"WRITE ERROR !!!"});
  EXPECT_EQ(view.Result(), kResultOk);
}

// A comma inside an address field or the purpose would move every later field on the device.
TEST_F(Premises, ACommaInAFieldOfTheCommaSeparatedDataIsRefusedAndNothingGoesOut) {
  CBusinessData &dlg = Open();
  for (const auto id : {kIds[1], CBusinessData::kSpecificPurpose}) {
    const std::string before = view.Text(id);
    view.SetText(id, "Main, Street");
    link.sent.clear();
    prompter.messages.clear();
    view.Click(dlg, kIdOk);
    EXPECT_TRUE(link.sent.empty()) << id;
    EXPECT_EQ(prompter.messages, Texts{std::string(tillwright::msg::kCommaRefused)}) << id;
    EXPECT_EQ(view.Focus(), id);
    EXPECT_FALSE(view.Result());
    view.SetText(id, before);
  }
}

TEST_F(Premises, CancelSendsNothing) {
  CBusinessData &dlg = Open();
  link.sent.clear();
  view.Click(dlg, kIdCancel);
  EXPECT_TRUE(link.sent.empty());
}

TEST(DatePeriod, OkAtOnceGivesTodayTwiceAndTheReportRequestCountsYearsFrom2000) {
  ScriptedPrompter prompter;
  CDatePeriod period;
  const std::tm today = tillwright::LocalTime(std::time(nullptr));
  const tillwright::CalendarDate expected{today.tm_year + 1900, today.tm_mon + 1, today.tm_mday};
  const int result = tillwright::testing::RunOn(period, prompter, [](FakeView &v, tillwright::ui::Dialog &d) {
    v.Click(d, kIdOk);
  });
  EXPECT_EQ(result, kResultOk);
  EXPECT_EQ(period.begin, expected);
  EXPECT_EQ(period.end, expected);
  EXPECT_EQ(tillwright::ReportPeriodData({2014, 3, 1}, {2014, 3, 31}), "010314,310314");
  EXPECT_EQ(tillwright::ReportPeriodData({2009, 12, 5}, {2000, 1, 9}), "051209,090100");
}

TEST(DatePeriod, TheMainDialogSendsThePeriodPickedAndNothingOnCancelOrAYearTheDeviceCannotTake) {
  for (const auto &[begin, end, sent] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"2014-03-01", "2014-03-31", "010314,310314"},
           {"2014-03-31", "2014-03-01", "310314,010314"},  // taken as picked
           {"1999-12-31", "2014-03-01", ""},
           {"", "", ""}}) {
    RecordingLink link;
    ScriptedPrompter prompter;
    tillwright::AppState state;
    tillwright::CTillwrightDlg main(state, link);
    prompter.runChild = [&, begin = begin, end = end](tillwright::ui::Dialog &dialog) {
      return tillwright::testing::RunOn(dialog, prompter, [&](FakeView &v, tillwright::ui::Dialog &d) {
        if (begin.empty()) return v.Click(d, kIdCancel);
        v.SetText(CDatePeriod::kBeginDate, begin);
        v.SetText(CDatePeriod::kEndDate, end);
        v.Click(d, kIdOk);
        if (!v.Result()) v.Click(d, kIdCancel);  // the refusal keeps it open: the person gives up
      });
    };
    tillwright::testing::RunOn(main, prompter, [&](FakeView &v, tillwright::ui::Dialog &d) {
      link.sent.clear();
      v.Click(d, tillwright::CTillwrightDlg::kReportsByDatesButton);
      v.Click(d, tillwright::CTillwrightDlg::kQuitButton);
    });
    EXPECT_EQ(link.DataOf(79), sent.empty() ? std::vector<std::string>{} : std::vector<std::string>{sent}) << begin;
  }
}

}  // namespace
