// The built vrn_interface.dll as a Windows host uses it: loaded at run time, bound by name, and
// unloaded, sometimes without vrn_dispose.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "dll_host_win.h"
#include "fiscalsim/simulator.h"
#include "run_program_win.h"
#include "sim_link.h"
#include "vrn_interface.h"

namespace {

using fiscal_test::Bind;
using namespace std::chrono_literals;
using InitFn = bool (*)(const char *);
using RequestFn = int (*)(uint16_t, const char *, char *, uint8_t *);
using DisposeFn = void (*)(void);

// With no USB device the DLL serves the named COM port; a host that ends with
// FreeLibrary alone leaves its receive threads running, and unloading must not hang on them.
TEST(VrnInterfaceDll, ServesTheComPortAndUnloadsWithoutDisposeWithoutHanging) {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.Start();

  HMODULE dll = ::LoadLibraryA(VRN_INTERFACE_PATH);
  ASSERT_NE(dll, nullptr) << "LoadLibrary failed: " << ::GetLastError();
  const auto init = Bind<InitFn>(dll, "vrn_init");
  const auto request = Bind<RequestFn>(dll, "vrn_request");
  ASSERT_NE(init, nullptr);
  ASSERT_NE(request, nullptr);
  ASSERT_TRUE(init(sim.PortName().c_str()));
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];
  ASSERT_EQ(request(200, "", reply, status), 0);
  EXPECT_STREQ(reply, "284011234567890");

  EXPECT_TRUE(fiscal_test::FreeLibraryWithin(dll, 10s));

  HMODULE still = ::GetModuleHandleA("vrn_interface.dll");
  ASSERT_NE(still, nullptr);
  ASSERT_EQ(Bind<RequestFn>(still, "vrn_request")(45, "", reply, status), 0);
  Bind<DisposeFn>(still, "vrn_dispose")();
  sim.Stop();
}

// A host linked to the DLL, with no device anywhere: the DLL chooses libusb after the kernel-mode
// library, as on Linux, and then has nothing to reach. Its traces are the host's standard error.
TEST(VrnInterfaceDll, ChoosesLibusbAfterTheKernelModeLibraryAndWithoutADeviceReachesNothing) {
  ASSERT_TRUE(::SetEnvironmentVariableA("VRN_TRACE", "1"));
  const std::string path = VRN_C_CLIENT_PATH;
  const fiscal_test::Outcome run = fiscal_test::RunProgram(std::wstring(path.begin(), path.end()).c_str(), L"", 60s);
  ::SetEnvironmentVariableA("VRN_TRACE", nullptr);
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitCode, 1u) << run.output;
  for (const char *line : {"Kernel mode init failed 536870919", "Winusb Mode Init Ok", "Devices initial attach 0483 : 5740",
                           "connected 0 result -1"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << " missing from:\n" << run.output;
  }
  EXPECT_EQ(run.output.find("Driver Init Failed"), std::string::npos) << run.output;
}

}  // namespace
