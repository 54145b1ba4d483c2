// The header and footer lines dialog and the report pre-check it runs before the advertisement
// lines change.
#include <gtest/gtest.h>

#include <deque>

#include "core/code_page.h"
#include "logic_test_support.h"
#include "programming/report_precheck.h"
#include "programming/set_header_footer.h"

namespace {

using tillwright::CSetheaderFooter;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

// A device holding lines "L0".."L9" and answering command 196 with `reportFlags`.
struct HeaderDevice {
  std::string lines[10] = {"L0", "L1", "L2", "L3", "L4", "L5", "L6", "L7", "L8", "L9"};
  std::string reportFlags = "0,0,0";
  int failReadAt = -1;
  int failWriteAt = -1;

  RecordingLink::Answer operator()(uint16_t code, const std::string &data) {
    if (code == 43 && data[0] == 'I') {
      const int n = std::stoi(data.substr(1));
      if (n == failReadAt) return {1, "Error"};
      return {0, lines[n]};
    }
    if (code == 43) {
      const int n = data[0] - '0';
      if (n == failWriteAt) return {1, "Error"};
      lines[n] = data.substr(1);
      return {0, ""};
    }
    if (code == 196) return {0, reportFlags};
    return {0, ""};
  }
};

// Edit field of device line n.
int Field(size_t line) { return CSetheaderFooter::SlotField(CSetheaderFooter::kSlotOfLine[line]); }

class HeaderFooter : public ::testing::Test {
 protected:
  void SetUp() override {
    link.device = [this](uint16_t code, const std::string &data) { return device(code, data); };
  }
  void TearDown() override { opened_.clear(); }
  // Opens a fresh dialog over `view`.
  CSetheaderFooter &Open(FakeView &over) {
    dialogs_.emplace_back(link);
    CSetheaderFooter &dialog = dialogs_.back();
    over.MakeCheckBox(CSetheaderFooter::kAdvertisementOnlyBox);
    over.MakeCheckBox(CSetheaderFooter::kUnfixedOnlyBox);
    opened_.emplace_back(over, dialog, prompter);
    return dialog;
  }
  std::vector<Sent> Writes() const {
    std::vector<Sent> out;
    for (const Sent &s : link.sent)
      if (s.code != 43 || s.data.empty() || s.data[0] != 'I') out.push_back(s);
    return out;
  }

  HeaderDevice device;
  RecordingLink link;
  ScriptedPrompter prompter;
  FakeView view;
  FakeView other;  // a second dialog's

 private:
  std::deque<CSetheaderFooter> dialogs_;
  std::deque<tooltest::OpenDialog> opened_;
};

TEST_F(HeaderFooter, ReadsTenLinesIntoTheirSlots) {
  Open(view);
  ASSERT_EQ(link.sent.size(), 10u);
  EXPECT_EQ(link.sent[9], (Sent{43, "I9"}));
  for (size_t line = 0; line < 10; ++line) EXPECT_EQ(view.Text(Field(line)), "L" + std::to_string(line)) << line;
  // Slot 5 is field 1038, the first advertisement line; header line 6 (line 5) is 1040.
  EXPECT_EQ(view.Text(1038), "L8");
  EXPECT_EQ(view.Text(1040), "L5");
  EXPECT_FALSE(view.Checked(CSetheaderFooter::kAdvertisementOnlyBox));
  EXPECT_EQ(prompter.waitDepth, 0);
  EXPECT_EQ(prompter.waits, 1);
}

TEST_F(HeaderFooter, FailedReadLeavesTheRestEmptyAndOkWritesWhatWasFilled) {
  device.failReadAt = 3;
  CSetheaderFooter &dlg = Open(view);
  EXPECT_EQ(link.sent.size(), 4u);
  EXPECT_EQ(view.Text(1036), "");
  view.SetText(1037, "NEW 4");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Writes(), (std::vector<Sent>{{43, "4NEW 4"}}));
}

TEST_F(HeaderFooter, OnlyChangedLinesAreWrittenAndHeaderChangesSkipThePreCheck) {
  CSetheaderFooter &dlg = Open(view);
  view.SetText(1035, "ABC");          // line 2
  view.SetText(1040, "");             // line 5, cleared
  view.SetText(1042, "123 MAIN ST");  // line 7
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{43, "2ABC"}, {43, "5 "}, {43, "7123 MAIN ST"}}));
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(HeaderFooter, FailedWriteStopsAndCloses) {
  device.failWriteAt = 1;
  CSetheaderFooter &dlg = Open(view);
  view.SetText(1033, "A");
  view.SetText(1034, "B");
  view.SetText(1035, "C");
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{43, "0A"}, {43, "1B"}}));
  EXPECT_EQ(view.Result(), kResultOk);
}

TEST_F(HeaderFooter, AdvertisementLinesOnlyLimitsTheWrite) {
  CSetheaderFooter &dlg = Open(view);
  view.SetText(1033, "edited before the box");
  view.SetText(1039, "AD 2");  // line 9
  view.Click(dlg, CSetheaderFooter::kAdvertisementOnlyBox);
  for (size_t line = 0; line < 8; ++line) EXPECT_TRUE(view.ReadOnly(Field(line))) << line;
  EXPECT_FALSE(view.ReadOnly(1038));
  EXPECT_FALSE(view.ReadOnly(1039));
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}, {43, "9AD 2"}}));

  CSetheaderFooter &second = Open(other);
  other.Click(second, CSetheaderFooter::kAdvertisementOnlyBox);
  other.Click(second, CSetheaderFooter::kAdvertisementOnlyBox);
  EXPECT_FALSE(other.ReadOnly(1033));
}

TEST_F(HeaderFooter, UnfixedTraderDetailsOnlyLocksTheFirstFourSlots) {
  CSetheaderFooter &dlg = Open(view);
  view.Click(dlg, CSetheaderFooter::kUnfixedOnlyBox);
  for (int id = 1033; id <= 1036; ++id) EXPECT_TRUE(view.ReadOnly(id)) << id;
  for (int id = 1037; id <= 1042; ++id) EXPECT_FALSE(view.ReadOnly(id)) << id;
  // The last box clicked wins where the two overlap.
  view.Click(dlg, CSetheaderFooter::kAdvertisementOnlyBox);
  view.Click(dlg, CSetheaderFooter::kAdvertisementOnlyBox);
  EXPECT_FALSE(view.ReadOnly(1033));
}

TEST_F(HeaderFooter, RefusedReportKeepsTheDialogOpenWithTheEdits) {
  device.reportFlags = "1,1,1";
  CSetheaderFooter &dlg = Open(view);
  view.SetText(1038, "NEW AD");
  prompter.answers = {false};
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}}));
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_EQ(view.Text(1038), "NEW AD");
  EXPECT_EQ(prompter.waitDepth, 0);

  // A second OK asks again; consent makes the Z report and writes the line.
  prompter.answers = {true};
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}, {108, "1"}, {43, "8NEW AD"}}));
  EXPECT_EQ(prompter.questions,
            (std::vector<std::string>{"Daily Z report is needed !!!", "Daily Z report is needed !!!"}));
  EXPECT_EQ(view.Result(), kResultOk);
}

TEST_F(HeaderFooter, CodePageAtTheWidgetBoundary) {
  device.lines[0] = "\xC5\xD2 \xC8\xE2\xE0\xED";  // "ЕТ Иван" in CP1251
  tillwright::SetWidgetCodePage(1251);
  CSetheaderFooter &dlg = Open(view);
  EXPECT_EQ(view.Text(1033), "ЕТ Иван");
  view.SetText(1034, "Пловдив");
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{43, "1\xCF\xEB\xEE\xE2\xE4\xE8\xE2"}}));
}

// The report pre-check on its own, as the tax-rate and operator dialogs will use it.
struct PreCheckCase {
  const char *flags;
  std::deque<bool> answers;
  bool consent;
  std::vector<Sent> sent;
  std::vector<std::string> asked;
};

TEST(ReportPreCheck, QuestionsOrdersAndRefusals) {
  const std::string z = "Daily Z report is needed !!!", c = "Clerk report is needed !!!",
                    p = "PLU report is needed !!!";
  const PreCheckCase cases[] = {
      {"0,0,0", {}, true, {{196, ""}}, {}},
      {"1,1,1", {true}, true, {{196, ""}, {108, "1"}}, {z}},
      {"1,1,1", {false}, false, {{196, ""}}, {z}},
      {"0,1,1", {true, true}, true, {{196, ""}, {105, ""}, {111, ""}}, {c, p}},
      {"0,1,1", {true, false}, false, {{196, ""}, {105, ""}}, {c, p}},
      {"0,1,1", {false}, false, {{196, ""}}, {c}},
      {"0,0,1", {true}, true, {{196, ""}, {111, ""}}, {p}},
      {",,0,,1,,1", {true, true}, true, {{196, ""}, {105, ""}, {111, ""}}, {c, p}},
      {"0,0", {}, true, {{196, ""}}, {}},
  };
  for (const PreCheckCase &tc : cases) {
    RecordingLink link;
    link.device = [&](uint16_t code, const std::string &) {
      return code == 196 ? RecordingLink::Answer{0, tc.flags} : RecordingLink::Answer{0, ""};
    };
    ScriptedPrompter prompter;
    prompter.answers = tc.answers;
    EXPECT_EQ(tillwright::ReportPreCheck(link, prompter), tc.consent) << tc.flags;
    EXPECT_EQ(link.sent, tc.sent) << tc.flags;
    EXPECT_EQ(prompter.questions, tc.asked) << tc.flags;
    EXPECT_TRUE(prompter.answers.empty()) << tc.flags << ": a question was not asked";
  }
  // A failed 196 counts as nothing needed.
  RecordingLink link;
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  ScriptedPrompter prompter;
  EXPECT_TRUE(tillwright::ReportPreCheck(link, prompter));
  EXPECT_EQ(link.sent.size(), 1u);
  EXPECT_TRUE(prompter.questions.empty());
}

}  // namespace
