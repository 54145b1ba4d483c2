// cVRNWDUDriver over the scripted kernel-mode library (wdu_double.h), whose devices carry the
// bytes to and from the simulator: the driver selection, attach, the OUT pieces, the resets and a
// device that goes away while a request waits.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/module.h"
#include "drivers/wdu_driver.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/simulator.h"
#include "platform/trace.h"
#include "test_driver.h"
#include "vrn_interface.h"
#include "wait_for.h"
#include "wdu_double.h"

namespace {

using namespace std::chrono_literals;
using vrn::cVRNWDUDriver;
using wdu_double::DeviceLayout;
using wdu_double::Library;

constexpr uint16_t kSerialNumber = 200;  // answered with the device's serial number
constexpr const char *kSerialText = "284011234567890";

using fiscal_test::WaitFor;

// A device of the double with the simulator behind its pipes.
struct WduDevice {
  explicit WduDevice(DeviceLayout layout = {})
      : device(std::make_shared<wdu_double::Device>(std::move(layout))),
        sim(std::make_unique<fiscalsim::Simulator>(device->TakeLink())) {
    sim->Start();
  }
  std::shared_ptr<wdu_double::Device> device;
  std::unique_ptr<fiscalsim::Simulator> sim;
};

std::string Request(uint16_t command, const char *data, int *result = nullptr) {
  char reply[VRN_REPLY_SIZE] = {};
  uint8_t status[VRN_STATUS_SIZE] = {};
  const int r = vrn_request(command, data, reply, status);
  if (result != nullptr) *result = r;
  return reply;
}

// 64 data characters make a 74-byte frame.
const fiscalsim::Bytes kLongFrame = fiscalsim::BuildRequest(0x20, 0x2D, std::string(64, 'A'));

class WduTest : public ::testing::Test {
 protected:
  void SetUp() override { Library::Instance().Clear(); }
  void TearDown() override {
    driver_.reset();
    vrn_dispose();
    EXPECT_FALSE(Library::Instance().Running());
    Library::Instance().Clear();
  }

  // A driver without a notification manager, opened, with `device` plugged in and attached.
  cVRNWDUDriver &OpenWith(WduDevice &device) {
    Library::Instance().Plug(device.device);
    driver_ = std::make_unique<cVRNWDUDriver>(nullptr, identity_);
    EXPECT_TRUE(driver_->IsInitialised());
    driver_->Open(nullptr);
    EXPECT_TRUE(Library::Instance().WaitIdle());
    return *driver_;
  }

  // The module's factory with the kernel-mode driver and a stand-in for the libusb driver that
  // counts how often it was made.
  void InstallFactory() {
    vrn::DriverFactory factory;
    factory.makeKernelMode = [](vrn::DevNotificationManager *manager, const vrn::SerialIdentitySource &identity) {
      return std::unique_ptr<vrn::iCOMDriver>(std::make_unique<cVRNWDUDriver>(manager, identity));
    };
    factory.makeLibusb = [this](vrn::DevNotificationManager *, const vrn::SerialIdentitySource &) {
      ++libusbMade_;
      return std::unique_ptr<vrn::iCOMDriver>(std::make_unique<vrn_test::TestDriver>(fiscalsim::MakeBytePipe().host));
    };
    vrn::CDllApp::Instance().InstallDriverFactory(std::move(factory));
  }

  bool WriteAll(const fiscalsim::Bytes &bytes) {
    return driver_->Write(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
  }

  vrn::SerialIdentitySource identity_;
  std::unique_ptr<cVRNWDUDriver> driver_;
  int libusbMade_ = 0;
};

using WduSelection = WduTest;

TEST_F(WduSelection, TheKernelModeDriverIsChosenWhenItsLibraryInitialises) {
  WduDevice device;
  Library::Instance().Plug(device.device);
  InstallFactory();
  platform::TraceCapture traces;
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  EXPECT_TRUE(traces.Contains("Kernel Mode Init Ok"));
  EXPECT_FALSE(traces.Contains("Winusb Mode Init Ok"));
  EXPECT_EQ(libusbMade_, 0);

  const WduMatch match = Library::Instance().LastMatch();
  EXPECT_EQ(match.vendorId, 0x0483);
  EXPECT_EQ(match.productId, 0x5740);
  EXPECT_EQ(match.deviceClass, 0);
  EXPECT_EQ(match.interfaceClass, 0);
  EXPECT_EQ(Library::Instance().LastMatchCount(), 1u);
  EXPECT_EQ(Library::Instance().LastOptions(), 1u);

  EXPECT_EQ(Request(kSerialNumber, ""), kSerialText);
  ASSERT_TRUE(device.sim->ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  EXPECT_EQ(device.sim->ReceivedFrames().Entries()[0].cmd, kSerialNumber);
}

TEST_F(WduSelection, LibusbIsChosenWhenTheKernelModeLibraryFailsAndKernelModeIsNotTriedAgain) {
  InstallFactory();
  Library::Instance().SetKernelDriverPresent(false);
  {
    platform::TraceCapture traces;
    ASSERT_TRUE(vrn_init(nullptr));
    EXPECT_TRUE(traces.Contains("Kernel mode init failed 536870919"));  // 0x20000007
    EXPECT_TRUE(traces.Contains("Winusb Mode Init Ok"));
    EXPECT_EQ(libusbMade_, 1);
    EXPECT_EQ(Library::Instance().Inits(), 0u);

    // Once a driver exists, a library that would initialise now is not asked.
    Library::Instance().SetKernelDriverPresent(true);
    ASSERT_TRUE(vrn_init(nullptr));
    vrn_test_connection();
    EXPECT_EQ(Library::Instance().Inits(), 0u);
    EXPECT_EQ(libusbMade_, 1);
    EXPECT_EQ(traces.Count("Kernel mode init failed"), 1u);
  }
  vrn_dispose();

  // The driver is there but its library does not start: the library's own result is traced.
  Library::Instance().SetInitResult(0x77);
  platform::TraceCapture traces;
  ASSERT_TRUE(vrn_init(nullptr));
  EXPECT_TRUE(traces.Contains("Kernel mode init failed 119"));
  EXPECT_TRUE(traces.Contains("Winusb Mode Init Ok"));
  EXPECT_EQ(libusbMade_, 2);
}

using WduAttach = WduTest;

// Interface 0: one endpoint. Interface 1: two IN endpoints. Interface 2: its active setting (1)
// has an IN endpoint of 512 bytes and an OUT endpoint of `out` bytes. Interface 3: a plain pair.
DeviceLayout Walked(uint16_t out) {
  DeviceLayout layout;
  layout.interfaces.clear();
  layout.interfaces.push_back({{{0, 0, {{0x82, 0x03, 8}}}}, 0});
  layout.interfaces.push_back({{{1, 0, {{0x82, 0x02, 64}, {0x83, 0x02, 64}}}}, 0});
  layout.interfaces.push_back({{{2, 0, {}}, {2, 1, {{0x81, 0x02, 512}, {0x03, 0x02, out}}}}, 1});
  layout.interfaces.push_back({{{3, 0, {{0x03, 0x02, 64}, {0x81, 0x02, 64}}}}, 0});
  return layout;
}

TEST_F(WduAttach, TheFirstActiveSettingWithAnOutAndAnInEndpointIsSelectedAndOutPiecesAreAtMost32) {
  for (const uint16_t out : {uint16_t{64}, uint16_t{16}}) {
    WduDevice device(Walked(out));
    platform::TraceCapture traces;
    cVRNWDUDriver &driver = OpenWith(device);
    ASSERT_TRUE(driver.IsAttached()) << out;
    EXPECT_TRUE(traces.Contains("Attach device 0483 : 5740 on iface 2")) << out;
    EXPECT_EQ(device.device->InterfaceSelections(), (std::vector<std::pair<uint32_t, uint32_t>>{{2, 1}}));

    ASSERT_TRUE(WriteAll(kLongFrame));
    const std::vector<uint32_t> expected = out == 64 ? std::vector<uint32_t>{32, 32, 10}
                                                     : std::vector<uint32_t>{16, 16, 16, 16, 10};
    EXPECT_EQ(device.device->OutPieces(), expected) << out;
    for (const wdu_double::TransferCall &call : device.device->Transfers()) {
      EXPECT_EQ(call.pipe, 0x03u);
      EXPECT_FALSE(call.read);
      EXPECT_EQ(call.options, 0x100u);
      EXPECT_EQ(call.timeoutMs, 3000u);
      EXPECT_FALSE(call.withSetup);
    }
    ASSERT_TRUE(device.sim->ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
    EXPECT_EQ(device.sim->ReceivedFrames().Entries()[0].raw, kLongFrame);
    driver_.reset();
    Library::Instance().Clear();
  }
}

TEST_F(WduAttach, AnInterfaceThatCannotBeSelectedGivesWayToTheNext) {
  WduDevice device(Walked(64));
  device.device->RefuseInterface(2);
  platform::TraceCapture traces;
  cVRNWDUDriver &driver = OpenWith(device);
  EXPECT_TRUE(driver.IsAttached());
  EXPECT_TRUE(traces.Contains("Attach device 0483 : 5740 on iface 3"));
  EXPECT_EQ(device.device->InterfaceSelections(), (std::vector<std::pair<uint32_t, uint32_t>>{{2, 1}, {3, 0}}));
}

TEST_F(WduAttach, ADeviceWithoutAQualifyingInterfaceIsRefusedAndNothingOfItIsKept) {
  DeviceLayout layout;
  layout.interfaces.clear();
  layout.interfaces.push_back({{{0, 0, {{0x81, 0x02, 64}}}}, 0});
  layout.interfaces.push_back({{{1, 0, {{0x03, 0x02, 64}, {0x04, 0x02, 64}}}}, 0});
  layout.interfaces.push_back({{}, 0});  // no alternate settings at all
  WduDevice refused(layout);
  platform::TraceCapture traces;
  cVRNWDUDriver &driver = OpenWith(refused);
  EXPECT_TRUE(traces.Contains("Attach device failed 0483 : 5740"));
  EXPECT_FALSE(driver.IsAttached());
  EXPECT_TRUE(refused.device->InterfaceSelections().empty());

  // A refused device is not the device held: the next one is taken.
  WduDevice good;
  Library::Instance().Plug(good.device);
  ASSERT_TRUE(Library::Instance().WaitIdle());
  EXPECT_EQ(Library::Instance().AttachAnswers(), (std::vector<bool>{false, true}));
  EXPECT_TRUE(driver.IsAttached());
  EXPECT_TRUE(WriteAll(kLongFrame));
}

TEST_F(WduAttach, OnlyTheDetachOfTheDeviceHeldClosesIt) {
  WduDevice first;
  WduDevice second;
  cVRNWDUDriver &driver = OpenWith(first);
  ASSERT_TRUE(driver.IsAttached());
  // A second fiscal device is accepted without being set up, and its going leaves the first.
  Library::Instance().Plug(second.device);
  ASSERT_TRUE(Library::Instance().WaitIdle());
  EXPECT_EQ(Library::Instance().AttachAnswers(), (std::vector<bool>{true, true}));
  EXPECT_TRUE(second.device->InterfaceSelections().empty());
  platform::TraceCapture traces;
  Library::Instance().Unplug(second.device);
  ASSERT_TRUE(Library::Instance().WaitIdle());
  EXPECT_TRUE(driver.IsAttached());
  EXPECT_FALSE(traces.Contains("Detach device"));
  EXPECT_TRUE(WriteAll(kLongFrame));

  Library::Instance().Unplug(first.device);
  ASSERT_TRUE(Library::Instance().WaitIdle());
  EXPECT_FALSE(driver.IsAttached());
  EXPECT_TRUE(traces.Contains("Detach device 0483 : 5740"));
  EXPECT_EQ(driver.Write(kLongFrame.data(), kLongFrame.size()), 0);
}

using WduWrite = WduTest;

TEST_F(WduWrite, AFailedPieceIsSentAgainAfterAnOutPipeResetAndThreeFailuresInARowGiveUp) {
  WduDevice device;
  cVRNWDUDriver &driver = OpenWith(device);
  ASSERT_TRUE(driver.IsAttached());
  const unsigned inResets = device.device->PipeResets(0x81);
  device.device->FailNextOut(2);
  ASSERT_TRUE(WriteAll(kLongFrame));
  EXPECT_EQ(driver.LastWriteResult(), 0);
  EXPECT_EQ(device.device->PipeResets(0x03), 2u);
  EXPECT_EQ(device.device->PipeResets(0x81), inResets);
  EXPECT_EQ(device.device->OutPieces(), (std::vector<uint32_t>{32, 32, 10}));
  EXPECT_EQ(device.device->Transfers().size(), 5u);
  ASSERT_TRUE(device.sim->ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  EXPECT_EQ(device.sim->ReceivedFrames().Total(), 1u);
  EXPECT_EQ(device.sim->ReceivedFrames().Entries()[0].raw, kLongFrame);

  device.device->FailNextOut(3);
  EXPECT_EQ(driver.Write(kLongFrame.data(), kLongFrame.size()), 0);
  EXPECT_EQ(driver.LastWriteResult(), static_cast<int>(wdu_double::kFailed));
  EXPECT_EQ(device.device->PipeResets(0x03), 5u);
  EXPECT_EQ(device.device->OutPieces().size(), 3u);
}

TEST_F(WduWrite, AFailedReadIsMadeAgainAfterAnInPipeResetAndTakesTheReply) {
  WduDevice device;
  cVRNWDUDriver &driver = OpenWith(device);
  ASSERT_TRUE(driver.IsAttached());
  vrn::cVRNProtocol *protocol = driver.Protocol();
  ASSERT_NE(protocol, nullptr);
  const unsigned inResets = device.device->PipeResets(0x81);
  device.device->FailNextIn(2);
  EXPECT_EQ(vrn_test::Ask(*protocol, kSerialNumber, "").text, kSerialText);
  EXPECT_EQ(device.device->PipeResets(0x81), inResets + 2);
  // The reply was not lost: no second transmission, no device reset.
  EXPECT_EQ(device.sim->ReceivedFrames().Total(), 1u);
  EXPECT_TRUE(device.device->DeviceResets().empty());
  for (const wdu_double::TransferCall &call : device.device->Transfers()) {
    if (!call.read) continue;
    EXPECT_EQ(call.pipe, 0x81u);
    EXPECT_EQ(call.options, 0x100u);
    EXPECT_EQ(call.timeoutMs, 3000u);
  }
}

using WduReset = WduTest;

TEST_F(WduReset, AQuickResetIsAHardResetAfterPipeResetsWithTheInterfaceSelectedAgain) {
  WduDevice device;
  cVRNWDUDriver &driver = OpenWith(device);
  ASSERT_TRUE(driver.IsAttached());
  platform::TraceCapture traces;
  EXPECT_TRUE(driver.Reset(false));
  EXPECT_EQ(device.device->DeviceResets(), (std::vector<uint32_t>{1}));
  EXPECT_EQ(device.device->InterfaceSelections(), (std::vector<std::pair<uint32_t, uint32_t>>{{1, 0}, {1, 0}}));
  EXPECT_GE(device.device->PipeResets(0x03), 1u);
  EXPECT_GE(device.device->PipeResets(0x81), 1u);
  EXPECT_TRUE(traces.Contains("Device Reset 0483 : 5740"));
  EXPECT_FALSE(traces.Contains("Full Device Reset"));
  // The same handle goes on carrying frames.
  EXPECT_TRUE(driver.IsAttached());
  EXPECT_EQ(device.device->Attaches(), 1u);
  EXPECT_TRUE(WriteAll(kLongFrame));
}

TEST_F(WduReset, ThreeFailedHardResetsOrAFullResetEndInAPortCycleAfterWhichTheDeviceAttachesAnew) {
  WduDevice device;
  cVRNWDUDriver &driver = OpenWith(device);
  ASSERT_TRUE(driver.IsAttached());
  platform::TraceCapture traces;
  device.device->FailHardResets(3);
  EXPECT_TRUE(driver.Reset(false));
  EXPECT_EQ(device.device->DeviceResets(), (std::vector<uint32_t>{1, 1, 1, 2}));
  EXPECT_TRUE(traces.Contains("Full Device Reset 0483 : 5740  successful"));
  EXPECT_EQ(device.device->Attaches(), 2u);
  EXPECT_TRUE(driver.IsAttached());
  EXPECT_TRUE(WriteAll(kLongFrame));

  traces.Clear();
  EXPECT_TRUE(driver.Reset(true));
  EXPECT_EQ(device.device->DeviceResets(), (std::vector<uint32_t>{1, 1, 1, 2, 1, 2}));
  EXPECT_TRUE(traces.Contains("Full Device Reset 0483 : 5740  successful"));
  EXPECT_EQ(device.device->Attaches(), 3u);
  EXPECT_TRUE(WriteAll(kLongFrame));
  EXPECT_EQ(Library::Instance().Inits(), 1u);
}

TEST_F(WduReset, AFailedFullResetStartsTheLibraryAgainAndAFailedPlainResetLetsTheDeviceGo) {
  WduDevice device;
  cVRNWDUDriver &driver = OpenWith(device);
  ASSERT_TRUE(driver.IsAttached());
  platform::TraceCapture traces;
  device.device->FailHardResets(3);
  device.device->FailPortCycles(3);
  EXPECT_TRUE(driver.Reset(true));  // the new library attached the device again
  EXPECT_EQ(device.device->DeviceResets(), (std::vector<uint32_t>{1, 1, 1, 2, 2, 2}));
  EXPECT_TRUE(traces.Contains("Full Device Reset 0483 : 5740  failed"));
  EXPECT_EQ(Library::Instance().Inits(), 2u);
  EXPECT_EQ(Library::Instance().Uninits(), 1u);
  EXPECT_TRUE(driver.IsInitialised());
  EXPECT_TRUE(driver.IsAttached());
  EXPECT_TRUE(WriteAll(kLongFrame));

  // Without `full` the library is left as it is and the device is let go of, so that it is
  // taken again when it comes back.
  device.device->FailHardResets(3);
  device.device->FailPortCycles(3);
  EXPECT_FALSE(driver.Reset(false));
  EXPECT_FALSE(driver.IsAttached());
  EXPECT_EQ(Library::Instance().Inits(), 2u);
  Library::Instance().Unplug(device.device);
  Library::Instance().Plug(device.device);
  ASSERT_TRUE(Library::Instance().WaitIdle());
  EXPECT_TRUE(driver.IsAttached());
  EXPECT_TRUE(WriteAll(kLongFrame));
}

TEST_F(WduTest, ARequestWhoseDeviceDetachesFailsAtOnceAndTheNextDeviceServes) {
  WduDevice device;
  Library::Instance().Plug(device.device);
  InstallFactory();
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  device.sim->Faults().DelayNext(1000ms);
  platform::TraceCapture traces;
  const auto start = std::chrono::steady_clock::now();
  int result = 0;
  auto request = std::async(std::launch::async, [&] { return Request(kSerialNumber, "", &result); });
  ASSERT_TRUE(device.sim->ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  Library::Instance().Unplug(device.device);
  ASSERT_EQ(request.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(request.get(), "");
  EXPECT_EQ(result, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);  // ended by the detach, not by time-outs
  ASSERT_TRUE(Library::Instance().WaitIdle());  // the detach traces after it ended the request
  EXPECT_TRUE(traces.Contains("Detach device 0483 : 5740"));
  EXPECT_EQ(vrn_test_connection(), 0);

  WduDevice next;
  Library::Instance().Plug(next.device);
  ASSERT_TRUE(WaitFor([] { return vrn_test_connection() == 1; }));
  EXPECT_EQ(Request(kSerialNumber, ""), kSerialText);
}

}  // namespace
