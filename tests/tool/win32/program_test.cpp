// The Windows program as a technician starts it: its unattended run finds the simulator on the
// linked port pair when Connect is pressed, or before, when the device tree names the port of a
// USB serial device; it reads the header lines and saves a picture of the main dialog with every
// button drawn.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "device_nodes_win.h"
#include "fiscal_version.h"
#include "fiscalsim/simulator.h"
#include "run_program_win.h"
#include "sim_link.h"
#include "stored_png.h"

namespace {

using namespace std::chrono_literals;

using fiscal_test::Outcome;

Outcome RunProgram(const std::wstring &arguments, std::chrono::milliseconds limit) {
  return fiscal_test::RunProgram(L"" TILLWRIGHT_EXE, arguments, limit);
}

struct Button {
  std::string caption;
  RECT place;  // in the client area
};

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The main dialog's visible push buttons where the dialog itself lays them out: made here, never
// shown, from the program's own template, so the places come from the same layout code as the
// program's and no copy of them can go stale. `client` receives the size of the client area.
std::vector<Button> MainDialogButtons(SIZE &client) {
  std::vector<Button> buttons;
  HMODULE program = ::LoadLibraryExW(L"" TILLWRIGHT_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  HRSRC found = program != nullptr ? ::FindResourceW(program, L"TILLWRIGHT_DLG", RT_DIALOG) : nullptr;
  HGLOBAL loaded = found != nullptr ? ::LoadResource(program, found) : nullptr;
  const auto *layout = loaded != nullptr ? static_cast<const DLGTEMPLATE *>(::LockResource(loaded)) : nullptr;
  HWND dialog = layout != nullptr ? ::CreateDialogIndirectParamW(program, layout, nullptr, &Inert, 0) : nullptr;
  if (dialog != nullptr) {
    RECT area{};
    ::GetClientRect(dialog, &area);
    client = {area.right, area.bottom};
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      wchar_t kind[16] = {};
      char caption[64] = {};
      ::GetClassNameW(child, kind, 16);
      const LONG style = ::GetWindowLongW(child, GWL_STYLE);
      const LONG type = style & BS_TYPEMASK;
      if (::lstrcmpiW(kind, L"Button") != 0 || (style & WS_VISIBLE) == 0 || (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON))
        continue;
      ::GetWindowTextA(child, caption, 64);
      RECT place{};
      ::GetWindowRect(child, &place);
      ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&place), 2);
      buttons.push_back({caption, place});
    }
    ::DestroyWindow(dialog);
  }
  if (program != nullptr) ::FreeLibrary(program);
  return buttons;
}

// The colours inside a rectangle of the PNG's rows (each behind its filter byte).
std::set<uint32_t> Colours(const std::string &rows, uint32_t width, const RECT &area) {
  std::set<uint32_t> colours;
  for (LONG y = area.top; y < area.bottom; ++y) {
    for (LONG x = area.left; x < area.right; ++x) {
      const auto *pixel = reinterpret_cast<const uint8_t *>(rows.data()) + (width * 3 + 1) * static_cast<size_t>(y) + 1 +
                          3 * static_cast<size_t>(x);
      colours.insert(static_cast<uint32_t>(pixel[0] << 16 | pixel[1] << 8 | pixel[2]));
    }
  }
  return colours;
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

// Run 20 times in a row on a loaded machine without a miss: each button used to be left out of
// the picture now and then, a flat area where it stands.
TEST(TillwrightExe, FindsTheDeviceReadsTheHeaderAndSavesAPictureWithEveryButtonDrawn) {
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
  for (const char *said : {"tillwright: label before Connect: Disconnected\n", "tillwright: Connect: Done\n", "tillwright: line 0: TEST SHOP\n",
                           "tillwright: line 1: MAIN STREET 1\n", "tillwright: label: Connected\n",
                           "tillwright: screenshot saved to "}) {
    EXPECT_NE(lines.find(said), std::string::npos) << said << " missing from\n" << lines;
  }

  const std::string png = fiscal_test::ReadFile(std::filesystem::path(picture));
  uint32_t width = 0, height = 0;
  const std::string rows = fiscal_test::PngPixels(png, width, height);
  ASSERT_FALSE(rows.empty()) << "no readable picture written";
  ASSERT_EQ(rows.size(), (width * 3 + 1) * height);
  SIZE client{};
  const std::vector<Button> buttons = MainDialogButtons(client);
  ASSERT_GE(buttons.size(), 10u) << "the main dialog's template lost its buttons";
  ASSERT_EQ(width, static_cast<uint32_t>(client.cx));
  ASSERT_EQ(height, static_cast<uint32_t>(client.cy));
  for (const Button &button : buttons) {
    // Inside the button's edges: its caption, never the one colour of an area left unpainted.
    RECT text = button.place;
    ::InflateRect(&text, -4, -4);
    EXPECT_GT(Colours(rows, width, text).size(), 1u) << button.caption << " is not drawn";
  }
}

// A USB serial device whose node the device tree holds is reached on the port the node names,
// without a scan: the label says so before anything is pressed.
TEST(TillwrightExe, SaysConnectedBeforeConnectWhenTheDeviceTreeNamesThePort) {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  const fiscal_test::TestNode node(R"(USB\VID_0483&PID_5740\TILLWRIGHTTEST)", fiscal_test::kPortsClass,
                                   fiscal_test::EnvOrEmpty("FISCAL_HOST_PORT").c_str());
  if (node.Error() == ERROR_ACCESS_DENIED) GTEST_SKIP() << "registering device nodes needs an administrator";
  ASSERT_EQ(node.Error(), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(node.MarkPresent(), static_cast<DWORD>(ERROR_SUCCESS));
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.Start();

  const Outcome run = RunProgram(L"--demo-screenshot \"" TILLWRIGHT_NODE_PICTURE "\"", 150s);
  sim.Stop();
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  std::string lines = run.output;
  lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
  for (const char *said : {"tillwright: label before Connect: Connected\n",
                           "tillwright: Connect: not needed, already connected\n", "tillwright: line 0: ",
                           "tillwright: label: Connected\n"}) {
    EXPECT_NE(lines.find(said), std::string::npos) << said << " missing from\n" << lines;
  }
}

}  // namespace
