// The main dialog's "Diagnose connection": the checks on a worker under the progress window, their
// findings in the diagnosis dialog, the support bundle written under the name the person chose,
// and a run stopped or failed that leaves the main dialog working.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/diagnosis_dlg.h"
#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "logic_test_support.h"
#include "main_dialog_fixture.h"
#include "wait_for.h"

namespace {

using tillwright::CDiagnosisDlg;
using tillwright::CTillwrightDlg;
using tillwright::diagnosis::BundleEntry;
using tillwright::diagnosis::Finding;
using tillwright::diagnosis::Progress;
using tillwright::diagnosis::Report;
using tillwright::diagnosis::Verdict;
using tillwright::ui::Icon;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;

Report TwoFindings() {
  Report report;
  report.findings.push_back({Verdict::Ok, "usb", "a device on USB, 0483:5740", ""});
  report.findings.push_back(
      {Verdict::Fail, "access", "/dev/ttyACM0 is not yours to open", "sudo usermod -aG dialout you"});
  return report;
}

class DiagnoseConnection : public tooltest::MainDialogTest {
 protected:
  // The diagnosis dialog as the person meets it: `person` acts on it, then it is closed.
  void OnTheReport(std::function<void(FakeView &, CDiagnosisDlg &)> person) {
    prompter.children.push_back(tooltest::Child<CDiagnosisDlg>(prompter, [person](FakeView &v, CDiagnosisDlg &d) {
      person(v, d);
      v.Click(d, CDiagnosisDlg::kCloseButton);
    }));
  }
  void Choose() { view.Click(dlg, CTillwrightDlg::kDiagnoseAction); }
};

TEST_F(DiagnoseConnection, RunsTheChecksOffTheWindowsThreadAndShowsTheirText) {
  ASSERT_EQ(dlg.MenuActions().size(), 1u);
  EXPECT_EQ(dlg.MenuActions()[0].id, CTillwrightDlg::kDiagnoseAction);
  EXPECT_EQ(dlg.MenuActions()[0].text, "Diagnose connection...");

  std::atomic<bool> offThread{false};
  const auto ui = std::this_thread::get_id();
  dlg.UseDiagnosis([&](const Progress &progress) {
    offThread = std::this_thread::get_id() != ui;
    EXPECT_TRUE(progress(0, 3, "USB"));
    EXPECT_TRUE(progress(1, 3, "Access rights"));
    EXPECT_TRUE(progress(2, 3, "Ports"));
    return TwoFindings();
  });
  std::string shown;
  bool readOnly = false;
  OnTheReport([&](FakeView &v, CDiagnosisDlg &) {
    shown = v.Text(CDiagnosisDlg::kReportField);
    readOnly = v.ReadOnly(CDiagnosisDlg::kReportField);
  });
  Choose();

  EXPECT_TRUE(offThread);
  EXPECT_EQ(prompter.progress, (std::vector<std::string>{"Checking the connection", "USB", "Access rights", "Ports"}));
  EXPECT_EQ(prompter.progressSteps, 100);
  EXPECT_EQ(prompter.progressStep, 66);
  EXPECT_EQ(prompter.progressWaits, 1);
  EXPECT_FALSE(prompter.inProgress);
  EXPECT_EQ(prompter.runs, (std::vector<std::string>{"diagnosis"}));
  EXPECT_EQ(shown, TwoFindings().Text());
  EXPECT_NE(shown.find("fail: /dev/ttyACM0 is not yours to open \u2014 sudo usermod -aG dialout you\n"),
            std::string::npos);
  EXPECT_TRUE(readOnly);
  EXPECT_TRUE(link.sent.empty()) << "the main dialog's own link is not the checks' business";
}

// A port the dialog holds would show as taken by another program: it is let go before the
// checks run. (The label is the connection monitor's to correct on its next look; a label it
// posted before the run may still arrive, so it is not asserted here.)
TEST_F(DiagnoseConnection, APortTheDialogHoldsIsLetGoBeforeTheChecks) {
  state.serialConnected = 1;
  int heldDuringChecks = -1;
  dlg.UseDiagnosis([&](const Progress &) {
    heldDuringChecks = state.serialConnected;
    return TwoFindings();
  });
  OnTheReport([](FakeView &, CDiagnosisDlg &) {});
  const int before = link.disconnects;
  Choose();
  EXPECT_EQ(heldDuringChecks, 0);
  EXPECT_EQ(link.disconnects, before + 1);
}

// Stop is heard between checks: what ran is shown with a line saying the rest did not, and the
// main dialog goes on serving. A failure of the checks themselves is said, and nothing else opens.
TEST_F(DiagnoseConnection, AStoppedOrFailedRunLeavesTheMainDialogWorking) {
  dlg.UseDiagnosis([&](const Progress &progress) {
    Report report;
    EXPECT_TRUE(progress(0, 2, "USB"));
    report.findings.push_back({Verdict::Ok, "usb", "a device on USB", ""});
    view.Post([&] { prompter.stop = true; });  // the person presses Stop while the window is served
    EXPECT_TRUE(fiscal_test::WaitFor([&] { return prompter.stop.load(); }));
    if (!progress(1, 2, "Ports")) return report;
    report.findings.push_back({Verdict::Ok, "ports", "not reached", ""});
    return report;
  });
  std::string shown;
  OnTheReport([&](FakeView &v, CDiagnosisDlg &) { shown = v.Text(CDiagnosisDlg::kReportField); });
  Choose();
  EXPECT_EQ(shown, "ok: a device on USB\nStopped: the checks after these did not run.\n");
  EXPECT_FALSE(prompter.inProgress);
  EXPECT_FALSE(view.Result().has_value());

  // A failure without words is still one.
  prompter.stop = false;
  for (const char *why : {"no memory for the port list", ""}) {
    dlg.UseDiagnosis([why](const Progress &) -> Report { throw std::runtime_error(why); });
    Choose();
    EXPECT_FALSE(prompter.inProgress);
  }
  EXPECT_EQ(prompter.runs.size(), 1u) << "no report opens for a run that failed";
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"The connection checks failed: no memory for the port list",
                                                         "The connection checks failed: an unknown fault"}));
  EXPECT_EQ(prompter.icons, (std::vector<Icon>{Icon::Error, Icon::Error}));

  view.Click(dlg, CTillwrightDlg::kPaperFeedButton);
  EXPECT_EQ(link.sent.size(), 1u);
  ASSERT_NE(dlg.Monitor(), nullptr);
  EXPECT_TRUE(dlg.Monitor()->Running());
  EXPECT_FALSE(view.Result().has_value());
}

// Save bundle: the name comes from the save box; the bundle goes there, or the reason it did not
// is said. A name that is neither a .zip nor a .tar.gz is refused before anything is written.
TEST(DiagnosisDialog, SaveBundleWritesWhereThePersonChoseOrSaysWhyNot) {
  struct Case {
    const char *what;
    std::optional<std::string> chosen;
    bool writes;
    std::string error;
    std::optional<std::string> written;  // the path the writer was given
    std::string message;                 // empty: none
    Icon icon;
  };
  const std::vector<Case> cases = {
      {"cancelled", std::nullopt, true, "", std::nullopt, "", Icon::None},
      {"zip", "/home/t/b.zip", true, "", "/home/t/b.zip", "The support bundle was saved as /home/t/b.zip.",
       Icon::Information},
      {"tar.gz in capitals", "C:\\T\\B.TAR.GZ", true, "", "C:\\T\\B.TAR.GZ",
       "The support bundle was saved as C:\\T\\B.TAR.GZ.", Icon::Information},
      {"write fails", "/ro/b.zip", false, "Permission denied", "/ro/b.zip",
       "The support bundle could not be saved as /ro/b.zip: Permission denied", Icon::Error},
      {"write fails without a reason", "/ro/b.zip", false, "", "/ro/b.zip",
       "The support bundle could not be saved as /ro/b.zip: no reason was given", Icon::Error},
      {"neither ending", "/home/t/b.txt", true, "", std::nullopt,
       "A support bundle is saved as a .zip or a .tar.gz file; \"/home/t/b.txt\" is neither. Nothing was saved.",
       Icon::Warning},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPrompter prompter;
    if (c.chosen) prompter.files.push_back(*c.chosen);
    CDiagnosisDlg dialog(TwoFindings());
    std::optional<std::string> written;
    std::vector<BundleEntry> entries;
    dialog.UseBundleWriter([&](const std::string &path, const std::vector<BundleEntry> &e, std::string *error) {
      written = path;
      entries = e;
      *error = c.error;
      return c.writes;
    });
    FakeView view;
    {
      tooltest::OpenDialog open(view, dialog, prompter);
      view.Click(dialog, CDiagnosisDlg::kSaveBundleButton);
    }
    EXPECT_EQ(prompter.suggestedNames, (std::vector<std::string>{"tillwright-support.zip"}));
    EXPECT_EQ(written, c.written);
    if (written) {
      ASSERT_FALSE(entries.empty());
      EXPECT_EQ(entries.size(), tillwright::diagnosis::BundleEntries(TwoFindings()).size());
    }
    if (c.message.empty()) {
      EXPECT_TRUE(prompter.messages.empty());
    } else {
      EXPECT_EQ(prompter.messages, (std::vector<std::string>{c.message}));
      EXPECT_EQ(prompter.icons, (std::vector<Icon>{c.icon}));
      EXPECT_EQ(prompter.captions, (std::vector<std::string>{"Diagnose connection"}));
    }
    EXPECT_EQ(prompter.waitDepth, 0);
    EXPECT_FALSE(view.Result().has_value()) << "saving leaves the report open";
  }
}

// The real writer into a folder that does not exist: the failure names the place, nothing is left.
TEST(DiagnosisDialog, ABundleThatCannotBeWrittenSaysSo) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tillwright-no-such-folder" / "x";
  const std::string path = (folder / "bundle.zip").string();
  ScriptedPrompter prompter;
  prompter.files.push_back(path);
  CDiagnosisDlg dialog(TwoFindings());
  FakeView view;
  {
    tooltest::OpenDialog open(view, dialog, prompter);
    view.Click(dialog, CDiagnosisDlg::kSaveBundleButton);
  }
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].rfind("The support bundle could not be saved as " + path + ": ", 0), 0u)
      << prompter.messages[0];
  EXPECT_EQ(prompter.icons, (std::vector<Icon>{Icon::Error}));
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
