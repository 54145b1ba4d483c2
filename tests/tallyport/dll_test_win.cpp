// The built tallyport.dll as a point-of-sale program uses it: loaded at run time, bound by name,
// and unloaded, sometimes without Disconnect.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "dll_host_win.h"
#include "fiscalsim/simulator.h"
#include "sim_link.h"

namespace {

using fiscal_test::Bind;
using namespace std::chrono_literals;
using ConnectFn = int32_t (*)(const char *, int32_t, int16_t, int16_t, int16_t);
using VoidFn = int32_t (*)(void);

// A program that ends its session with FreeLibrary alone: the receive thread still runs, and
// unloading must neither hang nor pull the code from under that thread.
TEST(TallyportDll, UnloadWithoutDisconnectReturnsAndTheOpenSessionStaysUsable) {
  FISCAL_SKIP_WITHOUT_SIM_LINK();
  fiscalsim::Simulator sim(fiscal_test::OpenSimLink());
  sim.Start();

  HMODULE dll = ::LoadLibraryA(TALLYPORT_LIBRARY_PATH);
  ASSERT_NE(dll, nullptr) << "LoadLibrary failed: " << ::GetLastError();
  const auto connect = Bind<ConnectFn>(dll, "Connect");
  const auto displayClear = Bind<VoidFn>(dll, "DisplayClear");
  ASSERT_NE(connect, nullptr);
  ASSERT_NE(displayClear, nullptr);
  ASSERT_EQ(connect(sim.PortName().c_str(), 115200, 8, 0, 0), 0);
  EXPECT_EQ(displayClear(), 0);

  EXPECT_TRUE(fiscal_test::FreeLibraryWithin(dll, 10s));

  // Still mapped: the session goes on and ends as usual.
  HMODULE still = ::GetModuleHandleA("tallyport.dll");
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(Bind<VoidFn>(still, "DisplayClear")(), 0);
  EXPECT_EQ(Bind<VoidFn>(still, "Disconnect")(), 0);
  sim.Stop();
}

}  // namespace
