// The hub following a fiscal USB device that is plugged, unplugged and plugged in again under
// another port: an emulated device (umockdev) with a tty child and the simulator behind it, the
// real udev monitor of the device layer, and real worker processes on the tty. The executable
// runs itself under umockdev-wrapper.
#include <algorithm>
#include <mutex>

#include <gtest/gtest.h>

#include "device_watch.h"
#include "devices.h"
#include "hub_test_line.h"
#include "usb_testbed.h"
#include "wait_for.h"
#include "worker_port.h"

namespace hub {
namespace {

using namespace std::chrono_literals;
using fiscal_test::WaitFor;

const bool kUnderWrapper = fiscal_test::EnterUsbTestbed();

TEST(HubUsb, APluggedDeviceIsServedGoesAbsentAndMovesWhenItComesBackRenumbered) {
  test::TempRecord record;
  ASSERT_TRUE(record.ok());
  const DeviceText text;
  std::mutex logMutex;
  std::vector<std::string> log;
  {
    Devices devices(
        [](const std::string &port) {
          WorkerOptions w;
          w.workerPath = FISCAL_HUB_WORKER_PATH;
          w.port = port;
          return std::make_unique<WorkerPort>(w);
        },
        record.store(), text);
    std::string why;
    std::unique_ptr<DeviceWatch> watch = DeviceWatch::Start(
        devices,
        [&](const std::string &line) {
          std::lock_guard lock(logMutex);
          log.push_back(line);
        },
        why);
    ASSERT_TRUE(watch) << why;

    // Another maker's USB serial device is never opened.
    fiscal_test::EmulatedDevice other({.vendorId = 0x1234, .productId = 0x5678, .port = 2, .withTty = true});
    fiscal_test::EmulatedDevice fiscal({.port = 1, .withTty = true});
    ASSERT_TRUE(WaitFor([&] { return devices.Find("SV000001") != nullptr; }));
    Device *device = devices.Find("SV000001");
    EXPECT_EQ(device->Identity().port, fiscal.usb->TtyNode());
    EXPECT_EQ(devices.All().size(), 1u);
    EXPECT_TRUE(other.sim->ReceivedFrames().Total() == 0u);

    const std::string first = fiscal.usb->TtyNode();
    fiscal.usb->Unplug();
    ASSERT_TRUE(WaitFor([&] { return device->State() == "absent"; }));
    Document command{
        DocumentKind::Command, "k1", nlohmann::json::object(), {{"TestPrinter", nlohmann::json::array({90, ""})}}};
    ASSERT_EQ(device->Admit(command, nullptr), Device::Admitted::Queued);
    EXPECT_EQ(device->WaitSettled("k1", 300ms)->state, DocState::InProgress);

    fiscal.usb->Plug();
    ASSERT_NE(fiscal.usb->TtyNode(), first);
    const std::optional<DocumentRecord> done = device->WaitSettled("k1", fiscal_test::kPatience);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->state, DocState::Registered);
    EXPECT_EQ(device->Identity().port, fiscal.usb->TtyNode());
    EXPECT_NE(device->State(), "absent");
    std::lock_guard lock(logMutex);
    EXPECT_NE(std::find(log.begin(), log.end(), fiscal.usb->TtyNode() + ": device SV000001 moved here from " + first),
              log.end());
  }
}

}  // namespace
}  // namespace hub
