// The five exports: without a driver, with a test driver plugged in through the factory, and
// the built shared library itself.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "api/module.h"
#include "platform/trace.h"
#include "scoped_threads.h"
#include "test_driver.h"
#include "vrn_interface.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using vrn::CDllApp;

bool WaitForAnswers(const std::atomic<int> &answered, int atLeast) {
  return fiscal_test::WaitFor([&] { return answered.load() >= atLeast; });
}

class ExportsWithoutDriver : public ::testing::Test {
 protected:
  void SetUp() override { CDllApp::Instance().InstallDriverFactory({}); }
  void TearDown() override { vrn_dispose(); }
};

TEST_F(ExportsWithoutDriver, RequestFailsWithEmptyReplyAndLeavesStatusAlone) {
  platform::TraceCapture traces;
  char reply[VRN_REPLY_SIZE];
  std::fill(std::begin(reply), std::end(reply), 'x');
  uint8_t status[VRN_STATUS_SIZE] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(vrn_request(200, "", reply, status), -1);
  EXPECT_EQ(reply[0], '\0');
  EXPECT_EQ(reply[1], 'x');
  EXPECT_EQ(std::vector<uint8_t>(status, status + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(traces.Contains("Driver Init Failed"));
  EXPECT_EQ(vrn_request(200, nullptr, nullptr, status), -1);
}

TEST_F(ExportsWithoutDriver, ConnectionTestAndInitAnswerNo) {
  platform::TraceCapture traces;
  EXPECT_EQ(vrn_test_connection(), 0);
  EXPECT_FALSE(vrn_init(nullptr));
  EXPECT_FALSE(vrn_init("COM7"));
  // Each call tries again: a driver library may have become usable.
  EXPECT_EQ(traces.Count("Driver Init Failed"), 3u);
}

TEST_F(ExportsWithoutDriver, SerialIdIsStoredAndTraced) {
  platform::TraceCapture traces;
  vrn_set_serial_id(0x1A86, 0x7523);
  EXPECT_TRUE(traces.Contains("VRN Serial device added 1A86 : 7523"));
  EXPECT_EQ(CDllApp::Instance().GetSerialIdentity().vendorId, 0x1A86);
  EXPECT_EQ(CDllApp::Instance().GetSerialIdentity().productId, 0x7523);
  vrn_set_serial_id(-1, -1);
  EXPECT_EQ(CDllApp::Instance().GetSerialIdentity().vendorId, -1);
}

// The simulator behind a test driver, made by the module's driver factory.
class ExportsWithDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    fiscalsim::BytePipe pipe = fiscalsim::MakeBytePipe();
    sim = std::make_unique<fiscalsim::Simulator>(std::move(pipe.device));
    sim->Start();
    host = std::make_unique<fiscalsim::BytePipeHost>(pipe.host);
    vrn::DriverFactory factory;
    factory.makeLibusb = [this](vrn::DevNotificationManager *,
                                const vrn::SerialIdentitySource &) -> std::unique_ptr<vrn::iCOMDriver> {
      ++made;
      auto driver = std::make_unique<vrn_test::TestDriver>(*host);
      driver->initialised = libusbWorks;
      lastDriver = driver.get();
      return driver;
    };
    factory.makeKernelMode = [this](vrn::DevNotificationManager *,
                                    const vrn::SerialIdentitySource &) -> std::unique_ptr<vrn::iCOMDriver> {
      ++madeKernel;
      auto driver = std::make_unique<vrn_test::TestDriver>(*host);
      driver->initialised = kernelWorks;
      if (kernelWorks) lastDriver = driver.get();
      return driver;
    };
    CDllApp::Instance().InstallDriverFactory(std::move(factory));
  }
  void TearDown() override {
    CDllApp::Instance().InstallDriverFactory({});
    sim.reset();
  }

  std::unique_ptr<fiscalsim::Simulator> sim;
  std::unique_ptr<fiscalsim::BytePipeHost> host;
  bool kernelWorks = false;
  bool libusbWorks = true;
  int made = 0;
  int madeKernel = 0;
  vrn_test::TestDriver *lastDriver = nullptr;
};

TEST_F(ExportsWithDriver, RequestHandsBackTextAndStatus) {
  EXPECT_EQ(vrn_test_connection(), 1);
  char reply[VRN_REPLY_SIZE];
  std::fill(std::begin(reply), std::end(reply), 'x');
  uint8_t status[VRN_STATUS_SIZE] = {};
  ASSERT_EQ(vrn_request(200, "", reply, status), 0);
  EXPECT_STREQ(reply, "284011234567890");
  for (size_t i = 15; i < VRN_REPLY_SIZE; ++i) ASSERT_EQ(reply[i], '\0') << i;
  EXPECT_EQ(std::vector<uint8_t>(status, status + 6), std::vector<uint8_t>(6, 0x80));
  EXPECT_EQ(made, 1);
}

TEST_F(ExportsWithDriver, ConnectionFollowsTheDeviceAndDisposeStartsOver) {
  platform::TraceCapture traces;
  EXPECT_EQ(vrn_test_connection(), 1);
  EXPECT_TRUE(traces.Contains("Winusb Mode Init Ok"));
  lastDriver->attached = false;
  EXPECT_EQ(vrn_test_connection(), 0);  // the driver stays; no second one is made
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(vrn_request(200, "", reply, status), -1);
  EXPECT_EQ(status[0], 9);
  EXPECT_EQ(made, 1);

  vrn_dispose();
  EXPECT_EQ(traces.Count("VRN Thr Stop"), 1u);
  EXPECT_EQ(vrn_request(200, "", reply, status), 0);
  EXPECT_EQ(made, 2);
  EXPECT_EQ(traces.Count("VRN Thr Start"), 2u);
}

TEST_F(ExportsWithDriver, KernelModeDriverHasPrecedenceWhenItInitialises) {
  platform::TraceCapture traces;
  kernelWorks = true;
  EXPECT_TRUE(vrn_init(nullptr));
  EXPECT_TRUE(traces.Contains("Kernel Mode Init Ok"));
  EXPECT_EQ(madeKernel, 1);
  EXPECT_EQ(made, 0);
  vrn_dispose();

  kernelWorks = false;
  EXPECT_TRUE(vrn_init(nullptr));
  EXPECT_EQ(madeKernel, 2);
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(traces.Contains("Winusb Mode Init Ok"));
  // Once a driver exists no other is tried.
  EXPECT_TRUE(vrn_init(nullptr));
  EXPECT_EQ(madeKernel, 2);
  EXPECT_EQ(made, 1);
}

TEST_F(ExportsWithDriver, FirstCallsRacingMakeOneDriver) {
  fiscal_test::ScopedThreads threads;
  for (int i = 0; i < 4; ++i) threads.Start([] { EXPECT_EQ(vrn_test_connection(), 1); });
  threads.Join();
  EXPECT_EQ(made, 1);
}

// Calls that stop coming back: a host keeps requesting while another thread disposes, and a
// device keeps one request alive with busy bytes.
TEST_F(ExportsWithDriver, DisposeReturnsPromptlyUnderLoadAndWhileABusyDeviceHoldsARequest) {
  ASSERT_EQ(vrn_test_connection(), 1);
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  // A test that fails midway still ends its hosts: the disposal aborts a call the busy device holds.
  fiscal_test::ScopedThreads hosts([&] {
    stop = true;
    vrn_dispose();
  });
  for (int i = 0; i < 4; ++i) {
    hosts.Start([&] {
      char reply[VRN_REPLY_SIZE];
      uint8_t status[VRN_STATUS_SIZE];
      while (!stop.load()) answered += vrn_request(45, "", reply, status) == 0;
    });
  }
  // A bounded disposal takes well under 2 s, an unbounded one as long as the requests keep coming
  // (or, below, as long as the device stays busy: two minutes). The limit sits far from both, so
  // that a sanitizer build on a loaded machine cannot fail it by chance.
  constexpr auto kLimit = 30s;
  constexpr auto kBusy = 120s;
  const auto disposeWithin = [&](std::chrono::seconds limit) {
    auto disposing = std::async(std::launch::async, [] { vrn_dispose(); });
    const bool ended = disposing.wait_for(limit) == std::future_status::ready;
    if (!ended) stop = true;  // lets the disposal through, so that the test ends
    disposing.wait();
    return ended;
  };

  ASSERT_TRUE(WaitForAnswers(answered, 50));
  EXPECT_TRUE(disposeWithin(kLimit)) << "vrn_dispose under a stream of requests";
  ASSERT_TRUE(WaitForAnswers(answered, answered.load() + 50));  // the next calls started over

  // The next frame is answered only after two minutes of busy bytes. The hosts' frames keep
  // coming, so the test waits for the frame that took the fault rather than counting frames.
  sim->Faults().BusyBeforeNext(200ms, kBusy);
  ASSERT_TRUE(sim->Faults().WaitUntilSpent(kLimit)) << "no frame reached the device";
  std::this_thread::sleep_for(500ms);
  // The hosts' calls in progress (one kept waiting, the others queued behind it) must all come
  // back: a call made after the disposal would be kept waiting by the busy device again.
  stop = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(disposeWithin(kLimit)) << "vrn_dispose while a request is kept waiting";
  hosts.Join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, kLimit + 1s);  // every host's call came back
  EXPECT_EQ(made, 2);
}

TEST_F(ExportsWithDriver, EveryCallIsTracedWithItsArgumentsAndResultPasswordsMasked) {
  platform::TraceCapture traces;
  EXPECT_TRUE(vrn_init("COM9"));
  EXPECT_EQ(vrn_test_connection(), 1);
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];
  EXPECT_EQ(vrn_request(0x2D, "ab\tc", reply, status), 0);
  EXPECT_EQ(vrn_request(0x65, "01,0000,4321", reply, status), 0);  // an operator's new password
  vrn_set_serial_id(0x1A86, -1);
  vrn_dispose();
  for (const char *line : {"vrn_init(\"COM9\")", "vrn_init returned true", "vrn_test_connection()",
                           "vrn_test_connection returned 1", "vrn_request(0x002D, \"ab\\x09c\", ",
                           "vrn_request(0x0065, [12 bytes masked], ", "vrn_request returned 0",
                           "vrn_set_serial_id(6790, -1)", "vrn_dispose()", "vrn_dispose returned"}) {
    EXPECT_TRUE(traces.Contains(line)) << line;
  }
  for (const std::string &line : traces.Lines()) {
    EXPECT_EQ(line.find("4321"), std::string::npos) << line;
    EXPECT_EQ(line.find("34 33 32 31"), std::string::npos) << line;  // nor in a frame dump
  }
}

// The shared library as a program loads it.
std::set<std::string> DynamicSymbols(const char *path) {
  std::set<std::string> names;
  const std::string command = std::string("nm -D --defined-only '") + path + "'";
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return names;
  std::array<char, 512> line{};
  while (std::fgets(line.data(), line.size(), pipe.get()) != nullptr) {
    std::string text(line.data());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t space = text.rfind(' ');
    if (space != std::string::npos) names.insert(text.substr(space + 1));
  }
  return names;
}

TEST(SharedLibrary, ExportsExactlyTheFiveFunctions) {
  EXPECT_EQ(DynamicSymbols(VRN_INTERFACE_PATH),
            (std::set<std::string>{"vrn_dispose", "vrn_init", "vrn_request", "vrn_set_serial_id", "vrn_test_connection"}));
}

TEST(SharedLibrary, LoadedWithoutADriverItAnswersAndUnloadsCleanly) {
  void *lib = ::dlopen(VRN_INTERFACE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  auto request = reinterpret_cast<int (*)(uint16_t, const char *, char *, uint8_t *)>(::dlsym(lib, "vrn_request"));
  auto test = reinterpret_cast<int (*)()>(::dlsym(lib, "vrn_test_connection"));
  ASSERT_NE(request, nullptr);
  ASSERT_NE(test, nullptr);
  char reply[VRN_REPLY_SIZE] = "old";
  uint8_t status[VRN_STATUS_SIZE] = {7, 7, 7, 7, 7, 7};
  EXPECT_EQ(request(62, "", reply, status), -1);
  EXPECT_EQ(reply[0], '\0');
  EXPECT_EQ(status[5], 7);
  EXPECT_EQ(test(), 0);
  EXPECT_EQ(::dlclose(lib), 0);
}

}  // namespace
