// cVRNWDUDriver's serial devices: taken through the notification manager's callbacks and the
// protocol's COM port, here the simulator's pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "devices/dev_notification_manager.h"
#include "drivers/wdu_driver.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "platform/trace.h"
#include "test_driver.h"
#include "wait_for.h"
#include "wdu_double.h"

namespace {

using namespace std::chrono_literals;

constexpr const char *kPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";

vrn::DeviceInfo SerialDevice(int32_t vendorId, int32_t productId, const std::string &port, const char *path) {
  vrn::DeviceInfo info;
  info.vendorId = vendorId;
  info.productId = productId;
  info.serial = 1;
  vrn::CopyText(info.portName, port);
  vrn::CopyText(info.devicePath, path);
  return info;
}

class WduSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    wdu_double::Library::Instance().Clear();
    manager_ = vrn::DevNotificationManager::GetInstance();
    ASSERT_NE(manager_, nullptr);
    driver_ = std::make_unique<vrn::cVRNWDUDriver>(manager_, identity_);
    ASSERT_TRUE(driver_->IsInitialised());
    driver_->Open(nullptr);
    sim_.Start();
  }
  void TearDown() override {
    driver_.reset();
    vrn::DevNotificationManager::Release(manager_);
    wdu_double::Library::Instance().Clear();
  }

  vrn::SerialIdentitySource identity_;
  vrn::DevNotificationManager *manager_ = nullptr;
  std::unique_ptr<vrn::cVRNWDUDriver> driver_;
  fiscalsim::Simulator sim_{fiscalsim::OpenPtyLink()};
};

TEST_F(WduSerial, ASerialDeviceIsServedOnItsPortUntilItsRemoval) {
  const vrn::DeviceInfo info = SerialDevice(0x0483, 0x5740, sim_.PortName(), kPath);
  platform::TraceCapture traces;
  ASSERT_TRUE(manager_->CallArrival(info));
  EXPECT_TRUE(traces.Contains("Attach device 0483 : 5740 (" + sim_.PortName() + ")"));
  vrn::cVRNProtocol *protocol = driver_->Protocol();
  ASSERT_NE(protocol, nullptr);
  EXPECT_TRUE(protocol->IsComOpen());
  EXPECT_FALSE(driver_->IsAttached());  // no USB device: the port carries the frames
  EXPECT_EQ(vrn_test::Ask(*protocol, 200, "").text, "284011234567890");
  ASSERT_TRUE(sim_.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));

  // The same device again is known; another one finds the port taken.
  traces.Clear();
  EXPECT_TRUE(manager_->CallArrival(info));
  EXPECT_FALSE(traces.Contains("Attach device"));
  identity_.Set(0x1234, 0x5678);
  EXPECT_FALSE(manager_->CallArrival(SerialDevice(0x1234, 0x5678, "/dev/ttyUSB0", "/sys/devices/usb1/1-3")));
  EXPECT_TRUE(traces.Contains("Already opened"));
  EXPECT_TRUE(manager_->CallArrival(info));

  manager_->CallRemoval("/sys/devices/usb1/1-3");
  EXPECT_TRUE(protocol->IsComOpen());
  manager_->CallRemoval(kPath);
  EXPECT_FALSE(protocol->IsComOpen());
  EXPECT_TRUE(traces.Contains("Detach device 0483 : 5740"));
}

TEST_F(WduSerial, OnlySerialDevicesWithTheirOwnOrTheNamedIdsAreTaken) {
  vrn::DeviceInfo plain = SerialDevice(0x0483, 0x5740, sim_.PortName(), kPath);
  plain.serial = 0;  // the fiscal device without a port is the library's to attach
  EXPECT_FALSE(manager_->CallArrival(plain));
  const vrn::DeviceInfo other = SerialDevice(0x1234, 0x5678, sim_.PortName(), kPath);
  EXPECT_FALSE(manager_->CallArrival(other));
  EXPECT_FALSE(driver_->Protocol()->IsComOpen());
  identity_.Set(0x1234, 0x5678);
  EXPECT_TRUE(manager_->CallArrival(other));
  EXPECT_TRUE(driver_->Protocol()->IsComOpen());
}

TEST_F(WduSerial, APortThatDidNotOpenIsTriedAgainAtTheNextArrival) {
  const vrn::DeviceInfo gone = SerialDevice(0x0483, 0x5740, "/nonexistent/ttyACM9", kPath);
  platform::TraceCapture traces;
  EXPECT_FALSE(manager_->CallArrival(gone));
  EXPECT_FALSE(manager_->CallArrival(gone));
  EXPECT_EQ(traces.Count("Failed to open"), 2u);
  EXPECT_FALSE(driver_->Protocol()->IsComOpen());
  EXPECT_TRUE(manager_->CallArrival(SerialDevice(0x0483, 0x5740, sim_.PortName(), kPath)));
  EXPECT_TRUE(driver_->Protocol()->IsComOpen());
}

}  // namespace
