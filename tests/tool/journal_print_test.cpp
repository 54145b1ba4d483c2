// The electronic-journal dialog: the two print requests, the number checks, the operation switch
// and the SD card activation; the dialog stays open throughout.
#include <gtest/gtest.h>

#include "logic_test_support.h"
#include "programming/klen_print_dlg.h"

namespace {

using tillwright::KlenPrintDlg;
using tillwright::PickerValue;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultCancel;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

constexpr PickerValue kNow{2014, 3, 1, 8, 0, 5};

class JournalPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    link.device = [this](uint16_t code, const std::string &) {
      return RecordingLink::Answer{code == failing ? 1 : 0, code == failing ? "Error" : ""};
    };
    opened.emplace(view, dlg, prompter);
  }
  void TearDown() override { opened.reset(); }
  void Period() { view.Choose(dlg, KlenPrintDlg::kOperationCombo, KlenPrintDlg::kPeriod); }

  uint16_t failing = 0;
  RecordingLink link;
  ScriptedPrompter prompter;
  FakeView view;
  KlenPrintDlg dlg{link, kNow};
  std::optional<tooltest::OpenDialog> opened;
};

TEST_F(JournalPrint, OpensOnTheSingleDocumentWithTheCurrentTime) {
  EXPECT_EQ(view.Items(KlenPrintDlg::kOperationCombo),
            (std::vector<std::string>{"Single document form EJ", "Documents from EJ for period"}));
  EXPECT_EQ(view.Selection(KlenPrintDlg::kOperationCombo), 0);
  EXPECT_EQ(view.Text(KlenPrintDlg::kZReportField), "0");
  EXPECT_EQ(view.Text(KlenPrintDlg::kDocumentField), "0");
  EXPECT_EQ(view.Text(KlenPrintDlg::kBeginDatePicker), "2014-03-01");
  EXPECT_EQ(view.Text(KlenPrintDlg::kEndTimePicker), "08:00:05");
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(JournalPrint, TheOperationSwitchesFieldsAndLabels) {
  const auto labels = [&] {
    std::vector<std::string> out;
    for (int id = 1165; id <= 1168; ++id) out.push_back(view.Text(id));
    return out;
  };
  const int pickers[] = {1163, 1164, 1169, 1170};
  EXPECT_EQ(labels(), (std::vector<std::string>{"Z report number", "Document number", "", ""}));
  EXPECT_TRUE(view.Enabled(KlenPrintDlg::kDocumentField));
  for (int id : pickers) EXPECT_FALSE(view.Enabled(id)) << id;

  view.SetText(KlenPrintDlg::kZReportField, "12");
  Period();
  EXPECT_EQ(labels(), (std::vector<std::string>{"Z report number", "", "Begin date", "End date"}));
  EXPECT_TRUE(view.Enabled(KlenPrintDlg::kZReportField));
  EXPECT_FALSE(view.Enabled(KlenPrintDlg::kDocumentField));
  for (int id : pickers) EXPECT_TRUE(view.Enabled(id)) << id;
  EXPECT_EQ(view.Text(KlenPrintDlg::kZReportField), "12") << "values survive the switch";

  view.Choose(dlg, KlenPrintDlg::kOperationCombo, KlenPrintDlg::kSingleDocument);
  EXPECT_TRUE(view.Enabled(KlenPrintDlg::kDocumentField));
  EXPECT_EQ(labels()[1], "Document number");
}

TEST_F(JournalPrint, PrintsOneDocumentAndStaysOpen) {
  view.Click(dlg, kIdOk);
  view.SetText(KlenPrintDlg::kZReportField, "5000");
  view.SetText(KlenPrintDlg::kDocumentField, " 17");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{201, "2,0,0"}, {201, "2,5000,17"}}));
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(prompter.waits, 2);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(JournalPrint, PrintsAPeriodAsTheUserSetIt) {
  Period();
  view.SetText(KlenPrintDlg::kZReportField, "12");
  view.SetText(KlenPrintDlg::kDocumentField, "99");  // not sent for a period
  view.SetText(KlenPrintDlg::kBeginDatePicker, "2014-03-01");
  view.SetText(KlenPrintDlg::kBeginTimePicker, "08:00:59");
  view.SetText(KlenPrintDlg::kEndDatePicker, "2014-03-31");
  view.SetText(KlenPrintDlg::kEndTimePicker, "18:30");
  view.Click(dlg, kIdOk);
  // An end before the begin goes out as it is; so does a year before 2000.
  view.SetText(KlenPrintDlg::kEndDatePicker, "1999-12-31");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(200), (std::vector<std::string>{"194,12,01-03-14 08:00,31-03-14 18:30",
                                                        "194,12,01-03-14 08:00,31-12--1 18:30"}));
  EXPECT_FALSE(view.Result().has_value());
}

TEST_F(JournalPrint, APickerWithoutAValueSendsMinusOnes) {
  Period();
  view.SetText(KlenPrintDlg::kBeginDatePicker, "");
  view.SetText(KlenPrintDlg::kEndTimePicker, "");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(200), std::vector<std::string>{"194,0,-1--1--2001 08:00,01-03-14 -1:-1"});
}

TEST_F(JournalPrint, NumbersOutOfRangeOrNotNumbersAreRefusedBeforeAnythingIsSent) {
  const std::pair<int, const char *> cases[] = {
      {KlenPrintDlg::kZReportField, "5001"},
      {KlenPrintDlg::kDocumentField, "-1"},
      {KlenPrintDlg::kDocumentField, "99999999999"},
      {KlenPrintDlg::kDocumentField, "-99999999999"},
  };
  for (const auto &[field, text] : cases) {
    prompter.messages.clear();
    view.SetText(field, text);
    view.Click(dlg, kIdOk);
    EXPECT_EQ(prompter.messages, std::vector<std::string>{"Please enter an integer between 0 and 5000."}) << text;
    EXPECT_EQ(view.Focus(), field) << text;
    view.SetText(field, "0");
  }
  for (const char *text : {"12a", "", "1.5"}) {
    prompter.messages.clear();
    view.SetText(KlenPrintDlg::kZReportField, text);
    view.Click(dlg, kIdOk);
    EXPECT_EQ(prompter.messages, std::vector<std::string>{"Please enter an integer."}) << text;
  }
  EXPECT_TRUE(link.sent.empty());
  EXPECT_FALSE(view.Result().has_value());
  // Leading zeros make no number larger.
  prompter.messages.clear();
  view.SetText(KlenPrintDlg::kZReportField, "000000000000012");
  view.Click(dlg, kIdOk);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(link.sent, (std::vector<Sent>{{201, "2,12,0"}}));
}

TEST_F(JournalPrint, FailuresAreReportedAndTheDialogStaysOpen) {
  failing = 201;
  view.Click(dlg, kIdOk);
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"Operation error !!!"});
  EXPECT_EQ(prompter.waitDepth, 0);
  EXPECT_FALSE(view.Result().has_value());

  prompter.messages.clear();
  view.Click(dlg, KlenPrintDlg::kActivateButton);
  failing = 195;
  view.Click(dlg, KlenPrintDlg::kActivateButton);
  EXPECT_EQ(link.DataOf(195), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"Activation ready", "Activation error !!!"}));
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_EQ(prompter.waitDepth, 0);

  view.Click(dlg, kIdCancel);
  EXPECT_EQ(view.Result(), kResultCancel);
}

TEST_F(JournalPrint, NoOperationChosenSendsNothing) {
  view.SetSelection(KlenPrintDlg::kOperationCombo, -1);
  view.Click(dlg, kIdOk);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_TRUE(prompter.messages.empty());
}

TEST(JournalPeriodData, FieldsAreTwoDigitsZeroPadded) {
  EXPECT_EQ(tillwright::JournalPeriodData(7, {2009, 1, 2, -1, -1, -1}, {-1, -1, -1, 3, 4, 0},
                                          {2030, 11, 22, -1, -1, -1}, {-1, -1, -1, 23, 59, 0}),
            "194,7,02-01-09 03:04,22-11-30 23:59");
}

}  // namespace
