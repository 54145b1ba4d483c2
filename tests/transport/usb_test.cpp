// The library against the simulator as an emulated USB device: the real libusb and libudev of
// this process, the real notification manager and libusb driver. The executable runs itself
// under umockdev-wrapper.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/module.h"
#include "devices/dev_notification_manager.h"
#include "devices/device_tree.h"
#include "drivers/libusb_driver.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/usb_device_linux.h"
#include "platform/trace.h"
#include "scoped_threads.h"
#include "usb_testbed.h"
#include "vrn_answer.h"
#include "vrn_interface.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using fiscalsim::EmulatedUsbDevice;
using fiscalsim::UsbDeviceOptions;

const bool kUnderWrapper = fiscal_test::EnterUsbTestbed();

using fiscal_test::Answer;
using fiscal_test::CpuMs;
using fiscal_test::EmulatedDevice;
using fiscal_test::kSerialNumber;
using fiscal_test::kSerialText;
using fiscal_test::Request;
using fiscal_test::WaitFor;

// Names of this process's threads that belong to the library.
std::vector<std::string> LibraryThreads() {
  std::vector<std::string> names;
  DIR *dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return names;
  while (dirent *entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name.rfind("vrn-", 0) == 0) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

class UsbTransport : public ::testing::Test {
 protected:
  void SetUp() override { vrn::CDllApp::Instance().InstallDriverFactory(vrn::DefaultDriverFactory()); }
  void TearDown() override {
    vrn_dispose();
    vrn_set_serial_id(-1, -1);
  }
};

TEST_F(UsbTransport, DeviceTreeFindsTheDeviceAndTheSerialPortOfASerialDevice) {
  EmulatedDevice fiscal({.port = 1});
  EmulatedDevice serial({.vendorId = 0x1234, .productId = 0x5678, .port = 2, .withTty = true});

  vrn::DeviceInfo info;
  EXPECT_FALSE(vrn::FindDevice(vrn::InterfaceClass::UsbDevice, 0x0483, 0x5740, info));
  EXPECT_EQ(info.vendorId, 0x0483);
  EXPECT_EQ(info.productId, 0x5740);
  EXPECT_EQ(std::string(info.devicePath), fiscal.usb->SysPath());
  EXPECT_EQ(info.deviceInstance, (1u << 8) | 2u);  // bus 1, device 2
  EXPECT_STREQ(info.portName, "");

  vrn::DeviceInfo port;
  EXPECT_TRUE(vrn::FindDevice(vrn::InterfaceClass::ComPort, 0x1234, 0x5678, port));
  EXPECT_EQ(std::string(port.portName), serial.usb->TtyNode());
  EXPECT_EQ(port.serial, 1);
  // The USB device's path, whose removal is the one that ends the device.
  EXPECT_EQ(std::string(port.devicePath), serial.usb->SysPath());

  vrn::DeviceInfo none;
  EXPECT_FALSE(vrn::FindDevice(vrn::InterfaceClass::ComPort, 0x0483, 0x5740, none));
  EXPECT_EQ(none.vendorId, -1);

  const std::vector<vrn::DeviceInfo> all = vrn::ListUsbDevices();
  ASSERT_EQ(all.size(), 2u);
  const vrn::DeviceInfo &withTty = all[0].vendorId == 0x1234 ? all[0] : all[1];
  EXPECT_EQ(withTty.serial, 1);
  EXPECT_EQ(std::string(withTty.portName), serial.usb->TtyNode());
}

TEST_F(UsbTransport, RequestsTravelOverTheBulkEndpointsInPiecesOf32Bytes) {
  EmulatedDevice device({.port = 1, .inPacketSize = 64, .outPacketSize = 64});
  platform::TraceCapture traces;
  ASSERT_TRUE(vrn_init(nullptr));
  // The kernel-mode library is tried first; its kernel driver is missing on Linux.
  EXPECT_TRUE(traces.Contains("Kernel mode init failed 536870919"));
  EXPECT_TRUE(traces.Contains("Winusb Mode Init Ok"));
  EXPECT_TRUE(traces.Contains("Opened device 0483 : 5740"));
  EXPECT_TRUE(traces.Contains("interface used 1"));
  EXPECT_TRUE(traces.Contains("in-packet size 64 out-packet size 32"));
  EXPECT_EQ(vrn_test_connection(), 1);

  const Answer serial = Request(kSerialNumber, "");
  ASSERT_EQ(serial.result, 0);
  EXPECT_EQ(serial.text, kSerialText);
  EXPECT_EQ(serial.status, std::vector<uint8_t>(6, 0x80));

  // 64 data characters make a 74-byte frame.
  const std::string data(64, 'A');
  EXPECT_EQ(Request(0x2D, data.c_str()).result, 0);
  const std::vector<size_t> outs = device.usb->OutTransfers();
  ASSERT_EQ(outs.size(), 4u);
  EXPECT_EQ(outs[0], 10u);
  EXPECT_EQ(std::vector<size_t>(outs.begin() + 1, outs.end()), (std::vector<size_t>{32, 32, 10}));
  ASSERT_TRUE(device.sim->ReceivedFrames().WaitForSize(2, fiscal_test::kPatience));
  EXPECT_EQ(device.sim->ReceivedFrames().Entries()[1].data, data);
}

TEST_F(UsbTransport, InterruptEndpointsAreUsedAsWell) {
  EmulatedDevice device({.port = 3, .inPacketSize = 16, .outPacketSize = 16, .interruptEndpoints = true});
  EXPECT_EQ(vrn_test_connection(), 1);
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  for (size_t piece : device.usb->OutTransfers()) EXPECT_LE(piece, 16u);
}

TEST_F(UsbTransport, ASecondArrivalOfTheOpenDeviceKeepsItOpen) {
  EmulatedDevice device({.port = 1});
  ASSERT_EQ(vrn_test_connection(), 1);
  EXPECT_EQ(device.usb->Claims(), 1u);
  vrn::DevNotificationManager *manager = vrn::CDllApp::Instance().NotificationManager();
  ASSERT_NE(manager, nullptr);
  vrn::DeviceInfo info;
  vrn::FindDevice(vrn::InterfaceClass::UsbDevice, 0x0483, 0x5740, info);
  platform::TraceCapture traces;
  EXPECT_TRUE(manager->CallArrival(info));
  EXPECT_TRUE(traces.Contains("Already attached"));
  EXPECT_EQ(device.usb->Claims(), 1u);
  EXPECT_EQ(Request(kSerialNumber, "").result, 0);
}

TEST_F(UsbTransport, ConnectionFollowsUnplugAndPlugWithoutRestartingTheLibrary) {
  EmulatedDevice device({.port = 1});
  ASSERT_EQ(vrn_test_connection(), 1);
  device.usb->Unplug();
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 0; }));
  EXPECT_EQ(Request(kSerialNumber, "").result, -1);
  device.usb->Plug();
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  EXPECT_EQ(device.usb->Claims(), 2u);
}

TEST_F(UsbTransport, ARequestDuringAnUnplugFailsCleanlyAndTheNextPlugWorks) {
  EmulatedDevice device({.port = 1});
  ASSERT_EQ(vrn_test_connection(), 1);
  device.sim->Faults().DelayNext(1000ms);
  Answer during;
  const auto start = std::chrono::steady_clock::now();
  fiscal_test::ScopedThreads requester([&] { device.usb->Unplug(); });
  requester.Start([&] { during = Request(kSerialNumber, ""); });
  ASSERT_TRUE(device.sim->ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  device.usb->Unplug();
  requester.Join();
  EXPECT_EQ(during.result, -1);
  EXPECT_EQ(during.text, "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);  // ended by the removal, not by time-outs

  device.usb->Plug();
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
}

TEST_F(UsbTransport, RemovalOfAnotherDeviceLeavesTheOpenDeviceAlone) {
  EmulatedDevice device({.port = 1});
  EmulatedDevice other({.vendorId = 0x1111, .productId = 0x2222, .port = 4});
  ASSERT_EQ(vrn_test_connection(), 1);
  vrn::DevNotificationManager *manager = vrn::CDllApp::Instance().NotificationManager();
  ASSERT_NE(manager, nullptr);
  const unsigned removals = manager->Removals();
  other.usb->Unplug();
  ASSERT_TRUE(WaitFor([&] { return manager->Removals() > removals; }));
  EXPECT_EQ(vrn_test_connection(), 1);
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  EXPECT_EQ(device.usb->Claims(), 1u);
}

TEST_F(UsbTransport, TimeOutsResetQuicklyFirstAndRestartTheDeviceNext) {
  EmulatedDevice device({.port = 1});
  ASSERT_EQ(vrn_test_connection(), 1);
  platform::TraceCapture traces;
  device.sim->Faults().SilentFor(1);
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  EXPECT_TRUE(traces.Contains("Device reset 0483 : 5740"));
  EXPECT_FALSE(traces.Contains("Full Device reset"));
  EXPECT_EQ(device.usb->Resets(), 1u);

  traces.Clear();
  device.sim->Faults().SilentFor(2);
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  EXPECT_TRUE(traces.Contains("Device reset 0483 : 5740"));
  EXPECT_TRUE(traces.Contains("Full Device reset 0483 : 5740  successful"));
  // A quick reset at the first time-out; at the second one the full restart, which tries the
  // quick reset too and then resets the device node.
  EXPECT_EQ(device.usb->Resets(), 4u);
  // Each quick reset claims the interface again; the restart opens the device anew.
  EXPECT_EQ(device.usb->Claims(), 5u);
}

TEST_F(UsbTransport, RestartFallsBackToTheAuthorizedSwitchWhenTheResetIsRefused) {
  EmulatedDevice device({.port = 1});
  device.usb->RefuseReset(true);
  platform::TraceCapture traces;
  EXPECT_TRUE(vrn::RestartDeviceNode(0, device.usb->SysPath().c_str()));
  EXPECT_TRUE(traces.Contains("USBDEVFS_RESET fail"));
  EXPECT_EQ(device.usb->Resets(), 1u);
  EXPECT_EQ(device.usb->Authorized(), "1");
  EXPECT_FALSE(vrn::RestartDeviceNode(0, "/sys/devices/none/1-9"));
  EXPECT_FALSE(vrn::RestartDeviceNode(0, ""));
}

TEST_F(UsbTransport, ASerialDeviceWithTheSerialIdsIsTakenThroughItsPort) {
  vrn_set_serial_id(0x1234, 0x5678);
  ASSERT_TRUE(vrn_init(nullptr));
  EXPECT_EQ(vrn_test_connection(), 0);
  EmulatedDevice serial({.vendorId = 0x1234, .productId = 0x5678, .port = 2, .withTty = true});
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  EXPECT_TRUE(serial.usb->OutTransfers().empty());  // the port carried it, not the endpoints
  ASSERT_TRUE(serial.sim->ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));

  serial.usb->Unplug();
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 0; }));

  vrn_set_serial_id(-1, -1);
  vrn::DevNotificationManager *manager = vrn::CDllApp::Instance().NotificationManager();
  const unsigned arrivals = manager->Arrivals();
  serial.usb->Plug();
  ASSERT_TRUE(WaitFor([&] { return manager->Arrivals() > arrivals; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(vrn_test_connection(), 0);
}

// An arrival starts the protocol (request lock) on the manager's thread while a request, holding
// the request lock, restarts the device and hands its arrival on: neither may wait for the other.
// Under the thread sanitizer a lock taken in both orders fails the test even when the timing
// spares it the deadlock.
TEST_F(UsbTransport, ArrivalsWhileARequestRestartsTheDeviceDeadlockNothing) {
  vrn_set_serial_id(0x1234, 0x5678);
  ASSERT_TRUE(vrn_init(nullptr));
  vrn::DevNotificationManager *manager = vrn::CDllApp::Instance().NotificationManager();
  ASSERT_NE(manager, nullptr);
  {
    // With no USB device open, the serial device's arrival starts the protocol on its port.
    EmulatedDevice serial({.vendorId = 0x1234, .productId = 0x5678, .port = 2, .withTty = true});
    ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
    EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  }
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 0; }));

  EmulatedDevice device({.port = 1});
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  std::atomic<bool> done{false};
  fiscal_test::ScopedThreads plugging([&] { done = true; });
  plugging.Start([&] {
    while (!done.load()) {
      EmulatedDevice serial({.vendorId = 0x1234, .productId = 0x5678, .port = 2, .withTty = true});
      // Arrivals wait in the emulator's event queue while a restart holds the delivering thread;
      // that queue is short (its sender gives up when it is full), so they come at a pace a slow
      // build (the thread sanitizer's, on a busy machine) can take.
      std::this_thread::sleep_for(1s);
    }
  });
  auto requests = std::async(std::launch::async, [&] {
    int answered = 0;
    for (int i = 0; i < 2; ++i) {
      device.sim->Faults().SilentFor(2);  // a quick reset, then the device restarted
      answered += Request(kSerialNumber, "").result == 0;
    }
    return answered;
  });
  const bool ended = requests.wait_for(60s) == std::future_status::ready;
  done = true;
  plugging.Join();
  ASSERT_TRUE(ended) << "a request never came back";
  // Whatever the arrivals did meanwhile, the library is usable afterwards.
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  EXPECT_TRUE(WaitFor([] { return Request(kSerialNumber, "").text == kSerialText; }, 15s));
}

TEST_F(UsbTransport, ConcurrentFirstCallsMakeOneManagerAndOneDriver) {
  EmulatedDevice device({.port = 1});
  platform::TraceCapture traces;
  constexpr int kThreads = 8;
  std::vector<int> results(kThreads, -1);
  fiscal_test::ScopedThreads callers;
  for (int i = 0; i < kThreads; ++i) callers.Start([&, i] { results[static_cast<size_t>(i)] = vrn_test_connection(); });
  callers.Join();
  EXPECT_EQ(results, std::vector<int>(kThreads, 1));
  EXPECT_EQ(traces.Count("Device notification created (Ok)"), 1u);
  EXPECT_EQ(traces.Count("Winusb Mode Init Ok"), 1u);
  EXPECT_EQ(device.usb->Claims(), 1u);
}

TEST_F(UsbTransport, DisposeEndsEveryThreadAndALaterCallStartsOver) {
  EmulatedDevice device({.port = 1});
  ASSERT_EQ(Request(kSerialNumber, "").result, 0);
  EXPECT_FALSE(LibraryThreads().empty());
  const auto start = std::chrono::steady_clock::now();
  vrn_dispose();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  // A joined thread may stay listed under /proc for a moment.
  EXPECT_TRUE(WaitFor([] { return LibraryThreads().empty(); }));
  EXPECT_EQ(vrn_test_connection(), 1);
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  EXPECT_EQ(device.usb->Claims(), 2u);
}

TEST_F(UsbTransport, DisposeEndsARequestThatABusyDeviceKeepsWaiting) {
  EmulatedDevice device({.port = 1});
  ASSERT_EQ(vrn_test_connection(), 1);
  device.sim->Faults().BusyBeforeNext(200ms, 30s);
  auto request = std::async(std::launch::async, [] { return Request(kSerialNumber, "").result; });
  ASSERT_TRUE(device.sim->ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  std::this_thread::sleep_for(500ms);
  const auto start = std::chrono::steady_clock::now();
  vrn_dispose();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ASSERT_EQ(request.wait_for(1s), std::future_status::ready);
  EXPECT_EQ(request.get(), -1);
}

TEST_F(UsbTransport, ADriverThatIsGoneGetsNoMoreEvents) {
  EmulatedDevice device({.port = 1});
  vrn::DevNotificationManager *manager = vrn::DevNotificationManager::GetInstance();
  ASSERT_NE(manager, nullptr);
  const vrn::SerialIdentitySource serialIdentity;
  auto driver = std::make_unique<vrn::cLIBUSBDriver>(manager, serialIdentity);
  ASSERT_TRUE(driver->IsInitialised());
  ASSERT_TRUE(driver->Open(nullptr));
  EXPECT_TRUE(driver->IsAttached());
  driver.reset();
  // The callbacks pointed into the driver; an arrival or a removal now must not reach it.
  vrn::DeviceInfo info;
  vrn::FindDevice(vrn::InterfaceClass::UsbDevice, 0x0483, 0x5740, info);
  EXPECT_FALSE(manager->HasArrivalCallback());
  EXPECT_FALSE(manager->CallArrival(info));
  const unsigned removals = manager->Removals();
  device.usb->Unplug();
  EXPECT_TRUE(WaitFor([&] { return manager->Removals() > removals; }));
  vrn::DevNotificationManager::Release(manager);
}

// A callback that waits (for a request that restarts a device, say) holds up delivery only:
// the events that come meanwhile are still read, and delivered in full once it returns.
TEST_F(UsbTransport, EventsThatComeWhileACallbackWaitsAreDeliveredAfterwards) {
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
    static bool Arrival(const vrn::DeviceInfo &, void *self) {
      auto &gate = *static_cast<Gate *>(self);
      std::unique_lock<std::mutex> lock(gate.mutex);
      gate.entered = true;
      gate.changed.notify_all();
      gate.changed.wait(lock, [&] { return gate.open; });
      return false;
    }
    static void Removal(const char *, void *) {}
    static bool Query(const char *, void *) { return false; }
  } gate;
  vrn::DevNotificationManager *manager = vrn::DevNotificationManager::GetInstance();
  ASSERT_NE(manager, nullptr);
  manager->InstallCallbacks(&Gate::Arrival, &Gate::Removal, &Gate::Query, &gate);
  EmulatedDevice device({.port = 1});
  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    ASSERT_TRUE(gate.changed.wait_for(lock, fiscal_test::kPatience, [&] { return gate.entered; }));
  }
  constexpr unsigned kCycles = 200;
  for (unsigned i = 0; i < kCycles; ++i) {
    device.usb->Unplug();
    device.usb->Plug();
  }
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = true;
  }
  gate.changed.notify_all();
  EXPECT_TRUE(WaitFor([&] { return manager->Arrivals() == kCycles + 1 && manager->Removals() == kCycles; }, 15s))
      << manager->Arrivals() << " arrivals, " << manager->Removals() << " removals";
  manager->RemoveCallbacks(&gate);
  vrn::DevNotificationManager::Release(manager);
}

TEST_F(UsbTransport, AnIdleLibraryWithADeviceAttachedUsesNoCpu) {
  EmulatedDevice device({.port = 1});
  ASSERT_EQ(Request(kSerialNumber, "").result, 0);
  // The receiver disarms after its empty passes; from then on nothing may wake.
  std::this_thread::sleep_for(1000ms);
  const double before = CpuMs();
  std::this_thread::sleep_for(1000ms);
  EXPECT_LT(CpuMs() - before, 50.0);
}

}  // namespace
