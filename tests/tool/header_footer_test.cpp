#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "core/code_page.h"
#include "programming/report_precheck.h"
#include "programming/set_header_footer.h"
#include "sim_fixture.h"
#include "core/send_command.h"
#include "seriallink/link.h"
#include "tool_test_support.h"
#include "ui_set_header_footer.h"

namespace {

using tillwright::CSetheaderFooter;
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

class HeaderFooter : public ::testing::Test {
 protected:
  void SetUp() override {
    tooltest::EnsureApplication();
    link.device = [this](uint16_t code, const std::string &data) { return device(code, data); };
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
};

TEST_F(HeaderFooter, ReadsTenLinesIntoTheirSlots) {
  CSetheaderFooter dlg(link, prompter);
  ASSERT_EQ(link.sent.size(), 10u);
  EXPECT_EQ(link.sent[9], (Sent{43, "I9"}));
  const int slotOfLine[] = {0, 1, 2, 3, 4, 7, 8, 9, 5, 6};
  for (int line = 0; line < 10; ++line)
    EXPECT_EQ(dlg.SlotField(slotOfLine[line])->text(), QString("L%1").arg(line)) << line;
  // Slot 5 is field 1038, the first advertisement line.
  EXPECT_EQ(dlg.Widgets().edit1038->text(), "L8");
  EXPECT_EQ(dlg.Widgets().edit1040->text(), "L5");
  EXPECT_TRUE(dlg.Widgets().check1044->isHidden());
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(HeaderFooter, FailedReadLeavesTheRestEmptyAndOkWritesWhatWasFilled) {
  device.failReadAt = 3;
  CSetheaderFooter dlg(link, prompter);
  EXPECT_EQ(link.sent.size(), 4u);
  EXPECT_EQ(dlg.Widgets().edit1036->text(), "");
  dlg.Widgets().edit1037->setText("NEW 4");
  dlg.Widgets().button1->click();
  EXPECT_EQ(Writes(), (std::vector<Sent>{{43, "4NEW 4"}}));
}

TEST_F(HeaderFooter, OnlyChangedLinesAreWrittenAndHeaderChangesSkipThePreCheck) {
  CSetheaderFooter dlg(link, prompter);
  dlg.show();
  dlg.Widgets().edit1035->setText("ABC");        // line 2
  dlg.Widgets().edit1040->setText("");           // line 5, cleared
  dlg.Widgets().edit1042->setText("123 MAIN ST"); // line 7
  link.sent.clear();
  dlg.Widgets().button1->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{43, "2ABC"}, {43, "5 "}, {43, "7123 MAIN ST"}}));
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(HeaderFooter, FailedWriteStopsAndCloses) {
  device.failWriteAt = 1;
  CSetheaderFooter dlg(link, prompter);
  dlg.show();
  dlg.Widgets().edit1033->setText("A");
  dlg.Widgets().edit1034->setText("B");
  dlg.Widgets().edit1035->setText("C");
  link.sent.clear();
  dlg.Widgets().button1->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{43, "0A"}, {43, "1B"}}));
  EXPECT_FALSE(dlg.isVisible());
}

TEST_F(HeaderFooter, AdvertisementLinesOnlyLimitsTheWrite) {
  CSetheaderFooter dlg(link, prompter);
  dlg.Widgets().edit1033->setText("edited before the box");
  dlg.Widgets().edit1039->setText("AD 2");  // line 9
  dlg.Widgets().check1043->click();
  EXPECT_TRUE(dlg.Widgets().edit1033->isReadOnly());
  EXPECT_TRUE(dlg.Widgets().edit1042->isReadOnly());
  EXPECT_FALSE(dlg.Widgets().edit1038->isReadOnly());
  link.sent.clear();
  dlg.Widgets().button1->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}, {43, "9AD 2"}}));

  CSetheaderFooter again(link, prompter);
  again.Widgets().check1043->click();
  again.Widgets().check1043->click();
  EXPECT_FALSE(again.Widgets().edit1033->isReadOnly());
}

TEST_F(HeaderFooter, RefusedReportKeepsTheDialogOpenWithTheEdits) {
  device.reportFlags = "1,1,1";
  CSetheaderFooter dlg(link, prompter);
  dlg.show();
  dlg.Widgets().edit1038->setText("NEW AD");
  prompter.answers = {false};
  link.sent.clear();
  dlg.Widgets().button1->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}}));
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.Widgets().edit1038->text(), "NEW AD");
  EXPECT_EQ(prompter.waitDepth, 0);

  // A second OK asks again; consent makes the Z report and writes the line.
  prompter.answers = {true};
  link.sent.clear();
  dlg.Widgets().button1->click();
  EXPECT_EQ(link.sent, (std::vector<Sent>{{196, ""}, {108, "1"}, {43, "8NEW AD"}}));
  EXPECT_EQ(prompter.asked, (std::vector<std::string>{"Daily Z report is needed !!!", "Daily Z report is needed !!!"}));
  EXPECT_FALSE(dlg.isVisible());
}

TEST_F(HeaderFooter, CodePageAtTheWidgetBoundary) {
  device.lines[0] = "\xC5\xD2 \xC8\xE2\xE0\xED";  // "ЕТ Иван" in CP1251
  tillwright::SetWidgetCodePage(1251);
  CSetheaderFooter dlg(link, prompter);
  EXPECT_EQ(dlg.Widgets().edit1033->text(), QString::fromUtf8("ЕТ Иван"));
  dlg.Widgets().edit1034->setText(QString::fromUtf8("Пловдив"));
  link.sent.clear();
  dlg.Widgets().button1->click();
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
    EXPECT_EQ(prompter.asked, tc.asked) << tc.flags;
  }
  // A failed 196 counts as nothing needed.
  RecordingLink link;
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Connection Error"}; };
  ScriptedPrompter prompter;
  EXPECT_TRUE(tillwright::ReportPreCheck(link, prompter));
  EXPECT_EQ(link.sent.size(), 1u);
}

// Header lines written and read back through the real serial link and the simulator.
class HeaderFooterOnSimulator : public tooltest::SimOnCom7 {
 protected:
  void TearDown() override {
    seriallink::Disconnect();
    SimOnCom7::TearDown();
  }
};

TEST_F(HeaderFooterOnSimulator, WrittenLinesReadBack) {
  tooltest::EnsureApplication();
  tillwright::RealLink link;
  ASSERT_EQ(link.SerialConnect("COM7", 115200, 8, 0, 0), 0);
  ScriptedPrompter prompter;
  {
    CSetheaderFooter dlg(link, prompter);
    dlg.Widgets().edit1033->setText("DEMO TRADING LTD");
    dlg.Widgets().edit1037->setText(QString::fromUtf8("гр. София"));
    dlg.Widgets().button1->click();
  }
  CSetheaderFooter again(link, prompter);
  EXPECT_EQ(again.Widgets().edit1033->text(), "DEMO TRADING LTD");
  EXPECT_EQ(again.Widgets().edit1037->text(), QString::fromUtf8("гр. София"));
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().headerLines[4], "\xE3\xF0. \xD1\xEE\xF4\xE8\xFF");
  });
}

}  // namespace
