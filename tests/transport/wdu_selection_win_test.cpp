// The Windows build's own driver choice: the kernel-mode driver first, and without its kernel
// driver (and without libusb there) COM ports only.
#include <gtest/gtest.h>

#include "api/module.h"
#include "platform/trace.h"
#include "vrn_interface.h"
#include "wdu_double.h"

namespace {

TEST(WduSelectionWindows, WithoutTheKernelDriverOnlyComPortsAreServed) {
  wdu_double::Library::Instance().Clear();
  wdu_double::Library::Instance().SetKernelDriverPresent(false);
  vrn::CDllApp::Instance().InstallDriverFactory(vrn::DefaultDriverFactory());
  platform::TraceCapture traces;
  EXPECT_EQ(vrn_test_connection(), 0);
  EXPECT_TRUE(traces.Contains("Kernel mode init failed 536870919"));
  EXPECT_TRUE(traces.Contains("Driver Init Failed"));
  EXPECT_TRUE(traces.Contains("COM Port Mode Init Ok"));
  vrn_dispose();

  // With it, the kernel-mode driver is chosen, even without a notification manager.
  wdu_double::Library::Instance().SetKernelDriverPresent(true);
  traces.Clear();
  EXPECT_EQ(vrn_test_connection(), 0);
  EXPECT_TRUE(traces.Contains("Kernel Mode Init Ok"));
  EXPECT_TRUE(traces.Contains("Dev Notification Manager is null !"));
  vrn_dispose();
  wdu_double::Library::Instance().Clear();
}

}  // namespace
