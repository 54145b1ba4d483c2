// The code table download: the four blocks of each code page, exactly and in order, and a
// failing block.
#include <gtest/gtest.h>

#include "logic_test_support.h"
#include "programming/dev_code_tbl.h"

namespace {

using tillwright::CDevCodeTbl;
using tillwright::ui::Dialog;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultCancel;
using tillwright::ui::kResultOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;

const std::vector<std::string> kWin1251 = {
    "80,2020202020202020202020202020202020202020202020202020202020202020",
    "A0,2020202020202020202020202020202020202020202020202020202020202020",
    "C0,C0C1C2C3C4C5C6C7C8C9CACBCCCDCECFD0D1D2D3D4D5D6D7D8D9DADBDCDDDEDF",
    "E0,E0E1E2E3E4E5E6E7E8E9EAEBECEDEEEFF0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF",
};
const std::vector<std::string> kDos = {
    "80,C0C1C2C3C4C5C6C7C8C9CACBCCCDCECFD0D1D2D3D4D5D6D7D8D9DADBDCDDDEDF",
    "A0,E0E1E2E3E4E5E6E7E8E9EAEBECEDEEEFF0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF",
    "C0,2020202020202020202020202020202020202020202020202020202020202020",
    "E0,2020202020202020202020202020202020202020202020202020202020202020",
};

struct Download {
  int result;
  RecordingLink link;
  ScriptedPrompter prompter;
};

// Opens the dialog, lets `person` act, and reports what happened.
void RunDialog(Download &run, const std::function<void(FakeView &, Dialog &)> &person) {
  CDevCodeTbl dlg(run.link);
  run.result = tillwright::testing::RunOn(dlg, run.prompter, [&](FakeView &v, Dialog &d) {
    person(v, d);
    tooltest::ExpectDeclaredControls(v, d);
  });
}

TEST(CodeTable, EachCodePageSendsExactlyItsFourBlocksInOrder) {
  Download win;
  RunDialog(win, [](FakeView &v, Dialog &d) {
    EXPECT_EQ(v.Items(CDevCodeTbl::kCodePageCombo), (std::vector<std::string>{"WIN1251", "DOS"}));
    EXPECT_EQ(v.Selection(CDevCodeTbl::kCodePageCombo), 0);
    v.Click(d, kIdOk);
  });
  EXPECT_EQ(win.link.sent.size(), 4u);
  EXPECT_EQ(win.link.DataOf(164), kWin1251);
  EXPECT_EQ(win.result, kResultOk);
  EXPECT_TRUE(win.prompter.messages.empty());
  EXPECT_EQ(win.prompter.waitDepth, 0);

  Download dos;
  RunDialog(dos, [](FakeView &v, Dialog &d) {
    v.SetSelection(CDevCodeTbl::kCodePageCombo, CDevCodeTbl::kDos);
    v.Click(d, kIdOk);
  });
  EXPECT_EQ(dos.link.sent.size(), 4u);
  EXPECT_EQ(dos.link.DataOf(164), kDos);
}

TEST(CodeTable, AFailingBlockStopsTheDownloadWithOneMessage) {
  for (size_t failAt : {0u, 2u}) {
    Download run;
    run.link.device = [&run, failAt](uint16_t, const std::string &) {
      return RecordingLink::Answer{run.link.sent.size() == failAt + 1 ? 1 : 0, ""};
    };
    RunDialog(run, [](FakeView &v, Dialog &d) { v.Click(d, kIdOk); });
    EXPECT_EQ(run.link.sent.size(), failAt + 1);
    EXPECT_EQ(run.prompter.messages, std::vector<std::string>{"Code table downloading error!!!"});
    EXPECT_EQ(run.result, kResultOk);
    EXPECT_EQ(run.prompter.waitDepth, 0);
  }
}

TEST(CodeTable, CancelSendsNothing) {
  Download run;
  RunDialog(run, [](FakeView &v, Dialog &d) { v.Click(d, kIdCancel); });
  EXPECT_TRUE(run.link.sent.empty());
  EXPECT_EQ(run.result, kResultCancel);
}

}  // namespace
