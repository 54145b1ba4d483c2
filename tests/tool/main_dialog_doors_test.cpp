// The main dialog's doors to the logo, tax-rate, journal and code-table dialogs.
#include <gtest/gtest.h>

#include "app/tillwright_dlg.h"
#include "bitmap_files.h"
#include "core/app_state.h"
#include "logic_test_support.h"
#include "programming/load_logo.h"

namespace {

using tillwright::CTillwrightDlg;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;

TEST(MainDialogDoors, EachButtonOpensItsDialogAndTheLogoLimitsOutliveIt) {
  tillwright::AppState state;
  RecordingLink link;
  link.device = [](uint16_t code, const std::string &) {
    return RecordingLink::Answer{0, code == 128 ? "384,96" : ""};
  };
  ScriptedPrompter prompter;
  FakeView view;
  CTillwrightDlg dlg(state, link);
  dlg.Attach(view, prompter);
  dlg.OnInitDialog();
  for (int id : {CTillwrightDlg::kTaxRatesButton, CTillwrightDlg::kJournalButton, CTillwrightDlg::kCodePagesButton,
                 CTillwrightDlg::kLogoButton})
    view.Click(dlg, id);
  EXPECT_EQ(prompter.runs,
            (std::vector<std::string>{"set_tax_rates", "klen_print_dlg", "dev_code_tbl", "load_logo"}));

  // A logo dialog that learnt the limits leaves them for the next one.
  tooltest::TempFolder folder;
  const std::string file = folder.Write("x.bmp", tooltest::BitmapFile(tooltest::Picture::Pattern(8, 2)).Bytes());
  prompter.files = {file, file};
  prompter.runChild = [&](tillwright::ui::Dialog &d) {
    return tillwright::testing::RunOn(d, prompter, [](FakeView &v, tillwright::ui::Dialog &logo) {
      v.Click(logo, tillwright::CLoadLogo::kBrowseButton);
      EXPECT_EQ(v.Known().at(tillwright::CLoadLogo::kPreview).imageHeight, 2);
    });
  };
  view.Click(dlg, CTillwrightDlg::kLogoButton);
  view.Click(dlg, CTillwrightDlg::kLogoButton);
  EXPECT_EQ(state.logoLimits.maxRowBytes, 48);
  EXPECT_EQ(state.logoLimits.maxRows, 96);
  EXPECT_EQ(link.DataOf(128).size(), 1u);

  view.Close();
  dlg.OnDestroy();
  tooltest::ExpectDeclaredControls(view, dlg);
  dlg.Detach();
}

}  // namespace
