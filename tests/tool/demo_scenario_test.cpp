// The demo scenario that both front ends run, over a host standing in for the toolkit: what it
// says, what it sends, when it fails, and that it ends with Quit whatever happened.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/demo_scenario.h"
#include "app/tillwright_dlg.h"
#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/connection_monitor.h"
#include "logic_test_support.h"
#include "settings/settings.h"

namespace {

using namespace std::chrono_literals;
using tillwright::CTillwrightDlg;
using tillwright::kDemoLabelPatience;
using tillwright::ui::ControlId;

// The main dialog as the scenario sees it: the monitor's first check ends once the scenario has
// paused for `checkAfter`, Connect shows its result at once, and the label turns to `lateLabel`
// once the scenario has paused for `labelAfter`.
class FakeDemoHost final : public tillwright::IDemoHost {
 public:
  std::string connectResult = "Done";
  std::string label = "Connected";
  std::string lateLabel;
  std::chrono::milliseconds labelAfter{0};
  std::chrono::milliseconds checkAfter{0};
  bool saves = true;

  std::vector<ControlId> clicks;
  std::chrono::milliseconds paused{0};
  std::vector<std::string> pictures;

  void Pause(std::chrono::milliseconds time) override {
    paused += time;
    if (!lateLabel.empty() && paused >= labelAfter) label = lateLabel;
  }
  void Click(ControlId id) override {
    clicks.push_back(id);
    if (id == CTillwrightDlg::kConnectButton) texts_[CTillwrightDlg::kResultField] = connectResult;
  }
  std::string Text(ControlId id) override { return id == CTillwrightDlg::kStatusLabel ? label : texts_[id]; }
  bool SavePicture(const std::string &path) override {
    pictures.push_back(path);
    return saves;
  }
  unsigned ConnectionChecks() override { return paused >= checkAfter ? 1 : 0; }

 private:
  std::map<ControlId, std::string> texts_;
};

struct Case {
  const char *name;
  void (*arrange)(FakeDemoHost &host, size_t &refusedLine);
  int exitCode;
  std::vector<std::string> said;     // each on the standard output
  std::vector<std::string> reasons;  // each on the standard error
};

// Named in test listings by its name alone, not its bytes.
void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

constexpr size_t kNone = 99;

const Case kCases[] = {
    {"AllWell", [](FakeDemoHost &, size_t &) {}, 0,
     {"tillwright: label before Connect: Connected\n", "tillwright: Connect: Done\n", "tillwright: line 0: TEST SHOP\n",
      "tillwright: line 1: \xD0\x9F\xD0\xA0\xD0\x9E\xD0\x91\xD0\x90\n",  // CP1251 bytes shown as UTF-8
      "tillwright: line 7: \n", "tillwright: label: Connected\n", "tillwright: screenshot saved to pic.png\n"},
     {}},
    {"TheLabelCatchesUp",
     [](FakeDemoHost &h, size_t &) {
       h.label = "Disconnected";
       h.lateLabel = "Connected on /dev/ttyACM0";
       h.labelAfter = 3s;
     },
     0, {"tillwright: label: Connected on /dev/ttyACM0\n"}, {}},
    {"TheFirstCheckIsSlow",
     [](FakeDemoHost &h, size_t &) {
       h.label = "Disconnected";
       h.lateLabel = "Connected";
       h.labelAfter = 2s;
       h.checkAfter = 2s;
     },
     0, {"tillwright: label before Connect: Connected\n"}, {}},
    {"ReachedBeforeConnect", [](FakeDemoHost &h, size_t &) { h.connectResult = ""; }, 0,
     {"tillwright: label before Connect: Connected\n", "tillwright: Connect: not needed, already connected\n",
      "tillwright: line 7: \n"},
     {}},
    {"TheLabelNeverSaysConnected", [](FakeDemoHost &h, size_t &) { h.label = "Disconnected"; }, 1,
     {"tillwright: label: Disconnected\n", "tillwright: screenshot saved to pic.png\n"},
     {"tillwright: the label did not say Connected within 10 s\n"}},
    {"NoDevice",
     [](FakeDemoHost &h, size_t &) {
       h.connectResult = "Error";
       h.label = "Disconnected";
     },
     1, {"tillwright: Connect: Error\n", "tillwright: screenshot saved to pic.png\n"},
     {"tillwright: the device was not found\n"}},
    {"AHeaderLineRefused", [](FakeDemoHost &, size_t &refused) { refused = 2; }, 1,
     {"tillwright: line 1: ", "tillwright: label: Connected\n"}, {"tillwright: line 2 not read: Error\n"}},
    {"ThePictureNotSaved", [](FakeDemoHost &h, size_t &) { h.saves = false; }, 1,
     {"tillwright: label: Connected\n"}, {"tillwright: cannot save pic.png\n"}},
};

class DemoScenario : public ::testing::TestWithParam<Case> {};

TEST_P(DemoScenario, SaysEachStepFailsForAReasonAndAlwaysQuits) {
  const Case &c = GetParam();
  tillwright::SetWidgetCodePage(1251);
  FakeDemoHost host;
  size_t refusedLine = kNone;
  c.arrange(host, refusedLine);
  tooltest::RecordingLink link;
  const std::vector<std::string> lines = {"TEST SHOP", "\xCF\xD0\xCE\xC1\xC0"};
  link.device = [&](uint16_t code, const std::string &data) -> tooltest::RecordingLink::Answer {
    EXPECT_EQ(code, tillwright::cmd::kTextLine);
    const size_t line = std::stoul(data.substr(1));
    if (line == refusedLine) return {1, "Error"};
    return {0, line < lines.size() ? lines[line] : ""};
  };
  std::ostringstream out, err;

  EXPECT_EQ(tillwright::RunDemoScenario(host, link, "pic.png", out, err), c.exitCode) << out.str() << err.str();

  for (const std::string &text : c.said) EXPECT_NE(out.str().find(text), std::string::npos) << text << " in\n" << out.str();
  for (const std::string &text : c.reasons) EXPECT_NE(err.str().find(text), std::string::npos) << text << " in\n" << err.str();
  EXPECT_EQ(c.exitCode == 0, err.str().empty()) << err.str();
  EXPECT_EQ(host.clicks, (std::vector<ControlId>{CTillwrightDlg::kConnectButton, CTillwrightDlg::kQuitButton}));
  EXPECT_EQ(host.pictures, std::vector<std::string>{"pic.png"});

  // The header lines are read while the device answers, and only once it was found.
  const bool found = host.connectResult == "Done" || host.connectResult.empty();
  std::vector<std::string> expected;
  if (found)
    for (size_t line = 0; line <= std::min<size_t>(refusedLine, tillwright::kHeaderTextLines - 1); ++line)
      expected.push_back("I" + std::to_string(line));
  EXPECT_EQ(link.DataOf(tillwright::cmd::kTextLine), expected);

  // The waits for the first check and for the label are bounded, and the second is left out
  // without a device.
  const auto firstCheck = host.checkAfter + 100ms;
  if (found) {
    EXPECT_GE(host.paused, firstCheck + tillwright::ConnectionMonitor::kPeriod);
    EXPECT_LE(host.paused, firstCheck + tillwright::ConnectionMonitor::kPeriod + kDemoLabelPatience);
  } else {
    EXPECT_EQ(host.paused, firstCheck);
  }
}

std::string CaseName(const ::testing::TestParamInfo<Case> &param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Runs, DemoScenario, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
