// The Windows DLL's own way to a USB serial device: the device tree names its COM port, so the
// caller names none; device-change broadcasts take it away and bring it back.
#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "api/module.h"
#include "device_nodes_win.h"
#include "devices/device_tree.h"
#include "fiscalsim/simulator.h"
#include "platform/trace.h"
#include "run_program_win.h"
#include "sim_link.h"
#include "vrn_interface.h"
#include "wdu_double.h"

namespace {

using namespace std::chrono_literals;

class UsbSerialWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    FISCAL_SKIP_WITHOUT_SIM_LINK();
    wdu_double::Library::Instance().Clear();
    wdu_double::Library::Instance().SetKernelDriverPresent(false);
    vrn::CDllApp::Instance().InstallDriverFactory(vrn::DefaultDriverFactory());
    // The port name as a driver may leave it, in lower case.
    std::string port = fiscal_test::EnvOrEmpty("FISCAL_HOST_PORT");
    for (char &c : port) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    node_ = std::make_unique<fiscal_test::TestNode>(R"(USB\VID_0483&PID_5740\SERIALTEST)", fiscal_test::kPortsClass,
                                                    port.c_str());
    if (node_->Error() == ERROR_ACCESS_DENIED) GTEST_SKIP() << "registering device nodes needs an administrator";
    ASSERT_EQ(node_->Error(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(node_->MarkPresent(), static_cast<DWORD>(ERROR_SUCCESS));
  }
  void TearDown() override {
    vrn_dispose();
    wdu_double::Library::Instance().Clear();
  }

  // What a request gives: its result and the reply text.
  static std::string Serial() {
    char reply[VRN_REPLY_SIZE];
    uint8_t status[VRN_STATUS_SIZE];
    const int result = vrn_request(200, "", reply, status);
    return std::to_string(result) + " " + reply;
  }

  std::unique_ptr<fiscal_test::TestNode> node_;
};

TEST_F(UsbSerialWindows, FoundByItsIdsAndFollowedThroughRemovalAndArrival) {
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.Start();
  const std::string port = fiscal_test::EnvOrEmpty("FISCAL_HOST_PORT");
  vrn::DeviceInfo node;
  ASSERT_TRUE(vrn::FindDevice(vrn::InterfaceClass::ComPort, 0x0483, 0x5740, node));
  const std::vector<wchar_t> broadcast = fiscal_test::Broadcast(node.devicePath);

  platform::TraceCapture traces;
  ASSERT_TRUE(vrn_init(nullptr));
  EXPECT_TRUE(traces.Contains("Winusb Mode Init Ok"));
  EXPECT_TRUE(traces.Contains("Attach device 0483 : 5740 (" + port + ")"));
  EXPECT_EQ(vrn_test_connection(), 1);
  EXPECT_EQ(Serial(), "0 284011234567890");
  const HWND window = fiscal_test::FindManagerWindow();
  ASSERT_NE(window, nullptr);

  const auto send = [&](WPARAM event) {
    // Sent: the window procedure, and the driver's callback in it, have run when this returns.
    ::SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast.data()));
  };
  // Under wine the pseudo-terminal behind the port outlives the node, so the one re-open a
  // request makes of a vanished port would find it; on Windows the port goes with the device.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    traces.Clear();
    send(DBT_DEVICEREMOVECOMPLETE);
    EXPECT_TRUE(traces.Contains("Com " + port + " closed"));
    EXPECT_EQ(vrn_test_connection(), 0);
    traces.Clear();
    send(DBT_DEVICEARRIVAL);
    EXPECT_TRUE(traces.Contains("Attach device 0483 : 5740 (" + port + ")"));
    EXPECT_TRUE(traces.Contains("Com " + port + " opened"));
    EXPECT_EQ(vrn_test_connection(), 1);
    EXPECT_EQ(Serial(), "0 284011234567890");
    EXPECT_FALSE(traces.Contains("opened again"));
  }
  sim.Stop();
}

// Another program finds the device the same way through the DLL, and ends at once without a
// vrn_dispose while the port is open and the library's threads run.
TEST_F(UsbSerialWindows, AProgramReachesItThroughTheDllAndEndsWithoutDisposing) {
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.Start();
  const std::string path = VRN_C_CLIENT_PATH;
  const fiscal_test::Outcome run = fiscal_test::RunProgram(std::wstring(path.begin(), path.end()).c_str(), L"--no-dispose", 60s);
  sim.Stop();
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("connected 1 result 0 reply '284011234567890'"), std::string::npos) << run.output;
}

}  // namespace
