// The port scan with the real serial link engine, against the simulator on COM7.
#include <gtest/gtest.h>

#include <chrono>

#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "core/send_command.h"
#include "logic_test_support.h"
#include "seriallink/link.h"
#include "sim_fixture.h"

namespace {

using tillwright::CTillwrightDlg;

using MainDialogOnSimulator = tooltest::SimOnCom7;

TEST_F(MainDialogOnSimulator, ConnectFindsTheSimulatorOnCom7) {
  tillwright::AppState state;
  tillwright::RealLink link;
  tooltest::FakeView view;
  tooltest::ScriptedPrompter prompter;
  prompter.pump = &view;
  CTillwrightDlg dlg(state, link);
  dlg.Attach(view, prompter);
  dlg.OnInitDialog();

  view.Click(dlg, CTillwrightDlg::kConnectButton);
  EXPECT_EQ(view.Text(CTillwrightDlg::kResultField), "Done");
  EXPECT_EQ(view.Text(CTillwrightDlg::kStatusLabel), "Connected");
  EXPECT_TRUE(seriallink::IsConnected());
  const auto frames = Sim().ReceivedFrames().Entries();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].cmd, 62);
  EXPECT_EQ(prompter.progress.back(), "Trying COM7");

  // Later commands go to the same device.
  view.Click(dlg, CTillwrightDlg::kPaperFeedButton);
  EXPECT_EQ(view.Text(CTillwrightDlg::kResultField), "");
  ASSERT_EQ(Sim().ReceivedFrames().Size(), 2u);
  EXPECT_EQ(Sim().ReceivedFrames().Entries()[1].cmd, 44);
  // The monitor keeps the label: a COM connection wins over the absent USB device. A check that
  // began before the connection may still report it missing; the second one after it cannot.
  const unsigned passes = dlg.Monitor()->Passes();
  EXPECT_TRUE(view.RunPostedUntil([&] { return dlg.Monitor()->Passes() >= passes + 2; }, std::chrono::seconds(10)));
  view.RunPosted();
  EXPECT_EQ(view.Text(CTillwrightDlg::kStatusLabel), "Connected");

  view.Close();
  dlg.OnDestroy();
  dlg.Detach();
}

}  // namespace
