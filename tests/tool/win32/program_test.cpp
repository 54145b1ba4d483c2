// The Windows program as a technician starts it: its unattended run finds the simulator on the
// linked port pair when Connect is pressed, reads the header lines and saves a picture of the
// main dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "fiscal_version.h"
#include "fiscalsim/simulator.h"
#include "run_program_win.h"
#include "sim_link.h"

namespace {

using namespace std::chrono_literals;

using fiscal_test::Outcome;

Outcome RunProgram(const std::wstring &arguments, std::chrono::milliseconds limit) {
  return fiscal_test::RunProgram(L"" TILLWRIGHT_EXE, arguments, limit);
}

// A GUI program started with its output in a pipe answers there, with no box to click away.
TEST(TillwrightExe, HelpAndVersionGoToTheStandardOutput) {
  const Outcome help = RunProgram(L"--help", 30s);
  ASSERT_FALSE(help.timedOut) << help.output;
  EXPECT_EQ(help.exitCode, 0u) << help.output;
  for (const char *option : {"--codepage", "--demo-screenshot", "--help", "--version"}) {
    EXPECT_NE(help.output.find(option), std::string::npos) << option << " missing from\n" << help.output;
  }
  const Outcome version = RunProgram(L"--version", 30s);
  ASSERT_FALSE(version.timedOut) << version.output;
  EXPECT_EQ(version.exitCode, 0u) << version.output;
  EXPECT_EQ(version.output.substr(0, version.output.find_first_of("\r\n")), "tillwright " FISCAL_SUITE_VERSION);
}

// The scan below tries COM1 first: in this prefix no port before the simulator's takes settings,
// so the scan never writes to a real serial port of the machine.
TEST(TillwrightExe, NoPortBeforeTheSimulatorsTakesSettings) {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  for (int n = 1; n <= 4; ++n) {
    const std::wstring name = L"\\\\.\\COM" + std::to_wstring(n);
    HANDLE port = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) continue;
    DCB settings{};
    settings.DCBlength = sizeof settings;
    EXPECT_FALSE(::GetCommState(port, &settings)) << "COM" << n << " is a working port";
    ::CloseHandle(port);
  }
}

TEST(TillwrightExe, FindsTheDeviceReadsTheHeaderAndSavesAPicture) {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.WithModel([](fiscalsim::DeviceModel &model) {
    model.State().headerLines[0] = "TEST SHOP";
    model.State().headerLines[1] = "MAIN STREET 1";
  });
  sim.Start();

  // Kept in the build tree for a person to look at.
  const std::wstring picture = L"" TILLWRIGHT_PICTURE;
  ::DeleteFileW(picture.c_str());
  const Outcome run = RunProgram(L"--demo-screenshot \"" + picture + L"\"", 150s);
  sim.Stop();
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  std::string lines = run.output;  // the program's text-mode output ends its lines in "\r\n"
  lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
  for (const char *said : {"tillwright: Connect: Done\n", "tillwright: line 0: TEST SHOP\n",
                           "tillwright: line 1: MAIN STREET 1\n", "tillwright: label: Connected\n",
                           "tillwright: screenshot saved to "}) {
    EXPECT_NE(lines.find(said), std::string::npos) << said << " missing from\n" << lines;
  }

  std::ifstream file(std::filesystem::path(picture), std::ios::binary);
  std::string signature(8, '\0');
  ASSERT_TRUE(file.read(signature.data(), 8)) << "no picture written";
  EXPECT_EQ(signature, std::string("\x89PNG\r\n\x1A\n", 8));
}

}  // namespace
