// The Windows build's own driver choice, with its real libusb (WinUSB back end): the kernel-mode
// driver first, else libusb, and with no USB device the COM port a host names. A scripted
// kernel-mode library (wdu_double) says whether its kernel driver is there.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "api/module.h"
#include "devices/dev_notification_manager.h"
#include "drivers/libusb_driver.h"
#include "fiscalsim/simulator.h"
#include "platform/trace.h"
#include "sim_link.h"
#include "vrn_interface.h"
#include "wdu_double.h"

namespace {

using namespace std::chrono_literals;

class DriverSelectionWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    wdu_double::Library::Instance().Clear();
    vrn::CDllApp::Instance().InstallDriverFactory(vrn::DefaultDriverFactory());
  }
  void TearDown() override {
    vrn_dispose();
    wdu_double::Library::Instance().Clear();
  }
};

struct SelectionCase {
  const char *name;
  bool kernelDriver;
  std::vector<const char *> traced;
  std::vector<const char *> notTraced;
};

TEST_F(DriverSelectionWindows, KernelModeFirstThenLibusbAndNoFallbackWhileOneStarts) {
  const SelectionCase cases[] = {
      {"without the kernel driver, libusb",
       false,
       {"Kernel mode init failed 536870919", "Winusb Mode Init Ok", "Devices initial attach 0483 : 5740"},
       {"Kernel Mode Init Ok", "libusb init failed", "Driver Init Failed", "COM Port Mode Init Ok"}},
      {"with the kernel driver, the kernel-mode driver alone",
       true,
       {"Kernel Mode Init Ok"},
       {"Winusb Mode Init Ok", "Dev Notification Manager is null !", "Driver Init Failed"}},
  };
  for (const SelectionCase &c : cases) {
    SCOPED_TRACE(c.name);
    wdu_double::Library::Instance().SetKernelDriverPresent(c.kernelDriver);
    platform::TraceCapture traces;
    EXPECT_EQ(vrn_test_connection(), 0);  // no device, no port
    for (const char *text : c.traced) EXPECT_TRUE(traces.Contains(text)) << text;
    for (const char *text : c.notTraced) EXPECT_FALSE(traces.Contains(text)) << text;
    // The driver stays: a later call chooses nothing again.
    traces.Clear();
    EXPECT_EQ(vrn_test_connection(), 0);
    EXPECT_FALSE(traces.Contains("Init Ok"));
    vrn_dispose();
  }
}

// Without a device the libusb driver serves the COM port a host names, and nothing at all
// without one: a request then fails at once rather than after its time-outs.
TEST_F(DriverSelectionWindows, LibusbWithoutADeviceServesTheNamedComPort) {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.Start();
  wdu_double::Library::Instance().SetKernelDriverPresent(false);
  platform::TraceCapture traces;
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];

  ASSERT_TRUE(vrn_init(sim.PortName().c_str()));
  EXPECT_TRUE(traces.Contains("Winusb Mode Init Ok"));
  EXPECT_TRUE(traces.Contains("Com " + sim.PortName() + " opened"));
  EXPECT_EQ(vrn_test_connection(), 1);
  ASSERT_EQ(vrn_request(200, "", reply, status), 0);
  EXPECT_STREQ(reply, "284011234567890");
  EXPECT_EQ(std::vector<uint8_t>(status, status + VRN_STATUS_SIZE), std::vector<uint8_t>(6, 0x80));
  vrn_dispose();
  EXPECT_TRUE(traces.Contains("Com " + sim.PortName() + " closed"));

  ASSERT_TRUE(vrn_init(nullptr));
  EXPECT_EQ(vrn_test_connection(), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(vrn_request(200, "", reply, status), -1);
  EXPECT_EQ(reply[0], '\0');
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  sim.Stop();
}

// An arrival of the fiscal device reaches libusb's own device list (SetupAPI and WinUSB); one
// that libusb does not list there is traced as on Linux and leaves the driver detached.
TEST_F(DriverSelectionWindows, AnArrivalThatLibusbDoesNotListLeavesTheDriverDetached) {
  vrn::DevNotificationManager *manager = vrn::DevNotificationManager::GetInstance();
  ASSERT_NE(manager, nullptr);
  const vrn::SerialIdentitySource identity;
  {
    vrn::cLIBUSBDriver driver(manager, identity);
    ASSERT_TRUE(driver.IsInitialised());
    EXPECT_FALSE(driver.Open(nullptr));
    platform::TraceCapture traces;
    vrn::DeviceInfo info;
    info.vendorId = 0x0483;
    info.productId = 0x5740;
    vrn::CopyText(info.devicePath, "\\\\?\\USB#VID_0483&PID_5740#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    EXPECT_FALSE(manager->CallArrival(info));
    EXPECT_TRUE(traces.Contains("Attach device 0483 : 5740"));
    EXPECT_FALSE(traces.Contains("libusb_get_device_list failed"));
    EXPECT_TRUE(traces.Contains("Cannot find device 0483 : 5740"));
    EXPECT_TRUE(traces.Contains("Failed to open"));
    EXPECT_FALSE(driver.IsAttached());
    EXPECT_FALSE(driver.Reset(false));  // nothing to reset
  }
  EXPECT_FALSE(manager->HasArrivalCallback());
  vrn::DevNotificationManager::Release(manager);
}

}  // namespace
