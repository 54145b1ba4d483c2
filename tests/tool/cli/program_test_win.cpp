// tillwright-cli.exe as a script starts it on Windows: send and backup against the simulator on
// the far end of the linked port pair.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "fiscalsim/simulator.h"
#include "run_program_win.h"
#include "sim_link.h"

namespace {

using namespace std::chrono_literals;

using fiscal_test::Outcome;

Outcome RunProgram(const std::wstring &arguments, std::chrono::milliseconds limit) {
  return fiscal_test::RunProgram(L"" TILLWRIGHT_CLI_EXE, arguments, limit);
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

TEST(TillwrightCliExe, SendsACommandAndWritesABackup) {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.WithModel([](fiscalsim::DeviceModel &model) { model.State().headerLines[0] = "TEST SHOP"; });
  sim.Start();
  const std::wstring port = Wide(sim.PortName());

  const Outcome send = RunProgram(L"--port " + port + L" send 90 0", 60s);
  ASSERT_FALSE(send.timedOut) << send.output;
  EXPECT_EQ(send.exitCode, 0u) << send.output;
  EXPECT_NE(send.output.find("reply:  FSIM 1.00 BG,"), std::string::npos) << send.output;
  EXPECT_NE(send.output.find("status text: "), std::string::npos) << send.output;

  const Outcome refused = RunProgram(L"--port " + port + L" send 43 I99", 60s);
  EXPECT_EQ(refused.exitCode, 3u) << refused.output;
  EXPECT_EQ(RunProgram(L"send", 60s).exitCode, 1u);

  const std::filesystem::path file = std::filesystem::temp_directory_path() / "tillwright-cli-backup.json";
  std::filesystem::remove(file);
  const Outcome backup = RunProgram(L"--port " + port + L" backup \"" + file.wstring() + L"\"", 60s);
  ASSERT_FALSE(backup.timedOut) << backup.output;
  EXPECT_EQ(backup.exitCode, 0u) << backup.output;
  std::stringstream text;
  {
    std::ifstream in(file, std::ios::binary);
    text << in.rdbuf();
  }
  const auto doc = nlohmann::json::parse(text.str(), nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << text.str();
  EXPECT_EQ(doc["groups"]["header"]["lines"][0], "TEST SHOP");
  EXPECT_EQ(doc["device"]["serial_number"], "SV000001");
  std::filesystem::remove(file);
  sim.Stop();
}

}  // namespace
