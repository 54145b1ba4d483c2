// The notification manager's hidden window as the system reaches it: device-change broadcasts
// sent to the window found by its class, the callbacks they reach, and the window gone after
// the teardown. The device tree is a scripted lookup here.
#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "api/module.h"
#include "devices/dev_notification_manager.h"
#include "device_nodes_win.h"
#include "platform/trace.h"
#include "vrn_interface.h"
#include "wait_for.h"
#include "wdu_double.h"

namespace {

using namespace std::chrono_literals;
using fiscal_test::Broadcast;
using fiscal_test::FindManagerWindow;
using vrn::DeviceInfo;
using vrn::InterfaceClass;

const std::string kInterface = R"(\\?\USB#VID_0483&PID_5740#0001#{86e0d1e0-8089-11d0-9ce4-08003e301f73})";
const std::string kUsbPath = R"(\\?\usb#vid_0483&pid_5740#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed})";

// A hang fails the test and ends the program, as nothing else could join what hangs.
template <typename Fn>
void FinishesWithin(Fn fn, std::chrono::seconds limit) {
  auto done = std::async(std::launch::async, fn);
  if (done.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "did not finish within " << limit.count() << " s";
    ::TerminateProcess(::GetCurrentProcess(), 1);
  }
}

// The scripted device tree: what it finds by interface class (vendor id -1: nothing), and the
// lookups made of it.
DeviceInfo treeCom, treeUsb;
std::vector<std::string> lookups;

bool ScriptedLookup(InterfaceClass cls, int32_t vendorId, int32_t productId, DeviceInfo &info) {
  lookups.push_back(cls == InterfaceClass::ComPort ? "com" : "usb");
  const DeviceInfo &found = cls == InterfaceClass::ComPort ? treeCom : treeUsb;
  info.serial = 0;
  info.portName[0] = '\0';
  if (found.vendorId != vendorId || found.productId != productId) return false;
  info = found;
  return info.serial != 0;
}

DeviceInfo Device(int32_t vendorId, int32_t productId, const char *port, const std::string &path, uint8_t serial) {
  DeviceInfo info{vendorId, productId};
  vrn::CopyText(info.portName, port);
  vrn::CopyText(info.devicePath, path);
  info.serial = serial;
  return info;
}

std::string Text(const DeviceInfo &info) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04X:%04X ", static_cast<unsigned>(info.vendorId), static_cast<unsigned>(info.productId));
  return ids + std::string(info.portName) + " " + std::to_string(info.serial) + " " + info.devicePath;
}

// What the callbacks were given, and on which threads.
struct Calls {
  std::mutex mutex;
  std::vector<std::string> seen;
  std::vector<DWORD> threads;

  static void Add(void *calls, std::string what) {
    auto &c = *static_cast<Calls *>(calls);
    const std::lock_guard<std::mutex> lock(c.mutex);
    c.seen.push_back(std::move(what));
    c.threads.push_back(::GetCurrentThreadId());
  }
  static bool Arrival(const DeviceInfo &info, void *calls) { return Add(calls, "arrival " + Text(info)), true; }
  static void Removal(const char *path, void *calls) { Add(calls, std::string("removal ") + path); }
  static bool Query(const char *path, void *calls) { return Add(calls, std::string("query ") + path), true; }
};

class DevNotificationWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = vrn::SetDeviceLookup(&ScriptedLookup);
    manager_ = vrn::DevNotificationManager::GetInstance();
    ASSERT_NE(manager_, nullptr);
    window_ = FindManagerWindow();
    ASSERT_NE(window_, nullptr);
    manager_->InstallCallbacks(&Calls::Arrival, &Calls::Removal, &Calls::Query, &calls_);
  }
  void TearDown() override {
    FinishesWithin([this] { vrn::DevNotificationManager::Release(manager_); }, 10s);
    vrn::SetDeviceLookup(previous_);
  }

  vrn::DeviceLookup previous_ = nullptr;
  vrn::DevNotificationManager *manager_ = nullptr;
  HWND window_ = nullptr;
  Calls calls_;
};

TEST_F(DevNotificationWindow, BroadcastsReachTheirCallbacksOnTheWindowsThread) {
  const std::string longName = R"(\\?\USB#vid_1a86&pid_7523#)" + std::string(120, 'x');
  const DeviceInfo com = Device(0x0483, 0x5740, "COM5", kInterface, 1);
  const DeviceInfo usb = Device(0x0483, 0x5740, "", kUsbPath, 0);
  const DeviceInfo none;
  struct Case {
    const char *what;
    WPARAM event;
    std::vector<wchar_t> broadcast;
    DeviceInfo com, usb;  // what the tree finds
    std::vector<std::string> lookups, seen;
  } cases[] = {
      {"arrival, a COM port", DBT_DEVICEARRIVAL, Broadcast(kInterface), com, none, {"com"}, {"arrival " + Text(com)}},
      {"arrival, a USB device only", DBT_DEVICEARRIVAL, Broadcast(kInterface), none, usb, {"com", "usb"},
       {"arrival " + Text(usb)}},
      {"arrival unknown to the tree: the broadcast's ids and name", DBT_DEVICEARRIVAL, Broadcast(longName), none, none,
       {"com", "usb"}, {"arrival 1A86:7523  0 " + longName.substr(0, 127)}},
      {"arrival without pid_", DBT_DEVICEARRIVAL, Broadcast(R"(\\?\USB#VID_0483#0001)"), com, none, {}, {}},
      {"arrival whose size ends before pid_", DBT_DEVICEARRIVAL, Broadcast(kInterface, DBT_DEVTYP_DEVICEINTERFACE, 17),
       com, none, {}, {}},
      {"arrival of a port broadcast", DBT_DEVICEARRIVAL, Broadcast(kInterface, DBT_DEVTYP_PORT), com, none, {}, {}},
      {"removal complete", DBT_DEVICEREMOVECOMPLETE, Broadcast(kInterface), none, none, {}, {"removal " + kInterface}},
      {"tree change", DBT_DEVNODES_CHANGED, Broadcast(kInterface), none, none, {}, {"query " + kInterface}},
      {"another event", DBT_DEVICEQUERYREMOVE, Broadcast(kInterface), com, none, {}, {}},
  };
  const DWORD windowThread = ::GetWindowThreadProcessId(window_, nullptr);
  for (Case &c : cases) {
    SCOPED_TRACE(c.what);
    treeCom = c.com;
    treeUsb = c.usb;
    lookups.clear();
    calls_.seen.clear();
    calls_.threads.clear();
    // Sent: the window procedure has run when this returns.
    EXPECT_EQ(::SendMessageW(window_, WM_DEVICECHANGE, c.event, reinterpret_cast<LPARAM>(c.broadcast.data())), TRUE);
    EXPECT_EQ(lookups, c.lookups);
    EXPECT_EQ(calls_.seen, c.seen);
    EXPECT_EQ(calls_.threads, std::vector<DWORD>(calls_.threads.size(), windowThread));
  }
}

TEST_F(DevNotificationWindow, PostedArrivalIsDeliveredOnTheWindowsThread) {
  const DeviceInfo device = Device(0x0483, 0x5740, "COM7", kUsbPath, 1);
  manager_->PostArrival(device);
  ASSERT_TRUE(fiscal_test::WaitFor([this] {
    const std::lock_guard<std::mutex> lock(calls_.mutex);
    return !calls_.seen.empty();
  }));
  const std::lock_guard<std::mutex> lock(calls_.mutex);
  EXPECT_EQ(calls_.seen, std::vector<std::string>{"arrival " + Text(device)});
  EXPECT_EQ(calls_.threads[0], ::GetWindowThreadProcessId(window_, nullptr));
}

// The manager goes with its window and thread, and a new one can be made after it, as after a
// vrn_dispose; vrn_dispose takes the same way down.
TEST(DevNotificationTeardown, ReleaseAndDisposeEndTheThreadWithTheWindow) {
  for (int round = 0; round < 2; ++round) {
    platform::TraceCapture traces;
    vrn::DevNotificationManager *manager = vrn::DevNotificationManager::GetInstance();
    ASSERT_NE(manager, nullptr);
    EXPECT_TRUE(traces.Contains("Device notification created (Ok)"));
    ASSERT_NE(FindManagerWindow(), nullptr);
    // Release returns once the thread has been joined.
    FinishesWithin([manager] { vrn::DevNotificationManager::Release(manager); }, 10s);
    EXPECT_EQ(FindManagerWindow(), nullptr);
  }

  wdu_double::Library::Instance().Clear();
  wdu_double::Library::Instance().SetKernelDriverPresent(false);
  vrn::DriverFactory factory = vrn::DefaultDriverFactory();
  factory.getManager = [] { return vrn::DevNotificationManager::GetInstance(); };
  factory.releaseManager = [](vrn::DevNotificationManager *manager) { vrn::DevNotificationManager::Release(manager); };
  vrn::CDllApp::Instance().InstallDriverFactory(factory);
  EXPECT_EQ(vrn_test_connection(), 0);
  ASSERT_NE(FindManagerWindow(), nullptr);
  FinishesWithin([] { vrn_dispose(); }, 10s);
  EXPECT_EQ(FindManagerWindow(), nullptr);
  EXPECT_EQ(vrn::CDllApp::Instance().NotificationManager(), nullptr);
  vrn::CDllApp::Instance().InstallDriverFactory(vrn::DefaultDriverFactory());
  wdu_double::Library::Instance().Clear();
}

}  // namespace
