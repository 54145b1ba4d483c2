// The main dialog open over a fake view, with a recording link and a prompter that pumps the
// view while the dialog waits: the set-up its logic tests share.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "logic_test_support.h"

namespace tooltest {

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prompter.pump = &view;
    BeforeOpen();
    opened.emplace(view, dlg, prompter);
  }
  void TearDown() override { opened.reset(); }
  // What a test suite sets on the dialog before it opens.
  virtual void BeforeOpen() {}

  void Click(int id) { view.Click(dlg, id); }
  std::string Result() const { return view.Text(tillwright::CTillwrightDlg::kResultField); }
  std::string Label() const { return view.Text(tillwright::CTillwrightDlg::kStatusLabel); }

  tillwright::AppState state;
  RecordingLink link;
  FakeView view;
  ScriptedPrompter prompter;
  tillwright::CTillwrightDlg dlg{state, link};
  std::optional<OpenDialog> opened;
};

}  // namespace tooltest
