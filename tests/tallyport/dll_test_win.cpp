// The built tallyport.dll as a point-of-sale program uses it: loaded at run time, bound by name,
// and unloaded, sometimes without Disconnect.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>

#include "fiscalsim/simulator.h"
#include "sim_link.h"

namespace {

using namespace std::chrono_literals;
using ConnectFn = int32_t (*)(const char *, int32_t, int16_t, int16_t, int16_t);
using VoidFn = int32_t (*)(void);

template <typename Fn>
Fn Bind(HMODULE dll, const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(dll, name)));
}

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

  auto unloaded = std::async(std::launch::async, [dll] { return ::FreeLibrary(dll) != 0; });
  if (unloaded.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "FreeLibrary did not return within 10 s";
    ::TerminateProcess(::GetCurrentProcess(), 1);  // an orderly exit would wait for the loader lock too
  }
  EXPECT_TRUE(unloaded.get());

  // Still mapped: the session goes on and ends as usual.
  HMODULE still = ::GetModuleHandleA("tallyport.dll");
  ASSERT_NE(still, nullptr);
  EXPECT_EQ(Bind<VoidFn>(still, "DisplayClear")(), 0);
  EXPECT_EQ(Bind<VoidFn>(still, "Disconnect")(), 0);
  sim.Stop();
}

}  // namespace
