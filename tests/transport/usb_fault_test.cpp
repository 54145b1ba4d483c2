// The libusb driver's recovery from faults of the bulk endpoints, through vrn_request and the
// real libusb against the emulated device: a halted endpoint is cleared and the transfer
// tried again, a short OUT transfer is followed by the rest of its piece, an IN transfer that
// brings nothing is read again. In each case the device sees the frame once and whole, and the
// caller gets the reply without the time-outs and resets of a lost exchange. The executable
// runs itself under umockdev-wrapper.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "api/module.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/usb_device_linux.h"
#include "platform/trace.h"
#include "usb_testbed.h"
#include "vrn_answer.h"
#include "vrn_interface.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using fiscalsim::EmulatedUsbDevice;
using fiscalsim::UsbDirection;

const bool kUnderWrapper = fiscal_test::EnterUsbTestbed();

using fiscal_test::Answer;
using fiscal_test::kSerialNumber;
using fiscal_test::kSerialText;
using fiscal_test::Request;

constexpr uint8_t kPaperCut = 0x2D;

class UsbFaultRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    vrn::CDllApp::Instance().InstallDriverFactory(vrn::DefaultDriverFactory());
    usb_.Plug();
    ASSERT_EQ(vrn_test_connection(), 1);
  }
  void TearDown() override { vrn_dispose(); }

  // The one frame the device received, checked to be the whole request of `cmd` with `data`.
  void ExpectReceivedOnce(uint8_t cmd, const std::string &data) {
    ASSERT_TRUE(sim_.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
    // The reply came after the frame was journalled: nothing more is on its way.
    EXPECT_EQ(sim_.ReceivedFrames().Total(), 1u) << "the device saw the request more than once";
    const fiscalsim::JournalEntry frame = sim_.ReceivedFrames().Entries()[0];
    EXPECT_TRUE(frame.good);
    EXPECT_EQ(frame.raw, fiscalsim::BuildRequest(frame.seq, cmd, data));
  }

  fiscal_test::EmulatedDevice device_{{.port = 1, .inPacketSize = 64, .outPacketSize = 64}, false};
  EmulatedUsbDevice &usb_ = *device_.usb;
  fiscalsim::Simulator &sim_ = *device_.sim;
};

// 64 data characters make a 74-byte frame, written in OUT pieces of 32, 32 and 10.
const std::string kLongData(64, 'A');

TEST_F(UsbFaultRecovery, AStalledOutPieceIsWrittenAgainAfterTheOutHaltIsCleared) {
  const unsigned outClears = usb_.ClearHalts(UsbDirection::Out);
  const unsigned inClears = usb_.ClearHalts(UsbDirection::In);
  usb_.Stall(UsbDirection::Out);
  EXPECT_EQ(Request(kPaperCut, kLongData).result, 0);
  EXPECT_EQ(usb_.ClearHalts(UsbDirection::Out), outClears + 1);
  EXPECT_EQ(usb_.ClearHalts(UsbDirection::In), inClears);
  // The first piece failed and was sent again, the others once.
  EXPECT_EQ(usb_.OutTransfers(), (std::vector<size_t>{32, 32, 32, 10}));
  ExpectReceivedOnce(kPaperCut, kLongData);
  EXPECT_EQ(usb_.Resets(), 0u);
}

TEST_F(UsbFaultRecovery, AStalledInReadIsMadeAgainAfterTheInHaltIsClearedAndTakesTheReply) {
  const unsigned outClears = usb_.ClearHalts(UsbDirection::Out);
  const unsigned inClears = usb_.ClearHalts(UsbDirection::In);
  usb_.Stall(UsbDirection::In);
  const Answer a = Request(kSerialNumber, "");
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.text, kSerialText);
  EXPECT_EQ(a.status, std::vector<uint8_t>(6, 0x80));
  EXPECT_EQ(usb_.ClearHalts(UsbDirection::In), inClears + 1);
  EXPECT_EQ(usb_.ClearHalts(UsbDirection::Out), outClears);
  // Not sent again, and no reset: the reply was not lost.
  ExpectReceivedOnce(static_cast<uint8_t>(kSerialNumber), "");
  EXPECT_EQ(usb_.Resets(), 0u);
}

TEST_F(UsbFaultRecovery, TheBytesAShortOutTransferLeftAreSentNext) {
  usb_.ShortNextOut(5);
  EXPECT_EQ(Request(kPaperCut, kLongData).result, 0);
  EXPECT_EQ(usb_.OutTransfers(), (std::vector<size_t>{32, 27, 32, 10}));
  ExpectReceivedOnce(kPaperCut, kLongData);

  // A transfer that took nothing is written again whole.
  sim_.ReceivedFrames().Clear();
  usb_.ShortNextOut(0);
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  const std::vector<size_t> outs = usb_.OutTransfers();
  ASSERT_EQ(outs.size(), 6u);
  EXPECT_EQ(std::vector<size_t>(outs.begin() + 4, outs.end()), (std::vector<size_t>{10, 10}));
  ExpectReceivedOnce(static_cast<uint8_t>(kSerialNumber), "");
  EXPECT_EQ(usb_.Resets(), 0u);
}

TEST_F(UsbFaultRecovery, ZeroLengthInCompletionsDoNotLoseTheReply) {
  usb_.ZeroLengthNextIn(3);
  const Answer a = Request(kSerialNumber, "");
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.text, kSerialText);
  EXPECT_EQ(a.status, std::vector<uint8_t>(6, 0x80));
  ExpectReceivedOnce(static_cast<uint8_t>(kSerialNumber), "");
  EXPECT_EQ(usb_.Resets(), 0u);
}

// The receive thread's read cannot be cancelled: the time-out's reset must not pull the device
// from under it. The request gives up instead, and everything goes on once the read ends.
TEST_F(UsbFaultRecovery, NoResetWhileATransferCannotBeEnded) {
  platform::TraceCapture traces;
  usb_.HoldTransfers(UsbDirection::In, fiscalsim::HeldDiscard::Refuse);
  EXPECT_EQ(Request(kSerialNumber, "").result, -1);
  EXPECT_EQ(usb_.Resets(), 0u);
  EXPECT_EQ(usb_.ResetsUnderHeldTransfers(), 0u);
  EXPECT_TRUE(traces.Contains("Device reset 0483 : 5740 not done: a transfer did not end"));

  usb_.ReleaseTransfers(UsbDirection::In);
  EXPECT_EQ(Request(kSerialNumber, "").text, kSerialText);
  EXPECT_EQ(usb_.Resets(), 0u);
}

// The receive thread's read is slow to come back from the cancel of vrn_dispose: libusb must not
// be ended under it, and the device is closed once it is back, not given up.
TEST_F(UsbFaultRecovery, DisposeWaitsForAReadThatIsSlowToComeBackFromItsCancel) {
  sim_.Faults().GoSilent();
  auto request = std::async(std::launch::async, [] { return Request(kSerialNumber, "").result; });
  // The request is out: the receiver reads for its reply, which does not come.
  ASSERT_TRUE(sim_.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  std::this_thread::sleep_for(100ms);
  usb_.DelayDiscards(300ms);
  const unsigned discards = usb_.Discards();
  platform::TraceCapture traces;
  vrn_dispose();
  EXPECT_EQ(request.get(), -1);
  EXPECT_GT(usb_.Discards(), discards);
  EXPECT_FALSE(traces.Contains("a transfer did not end")) << "the device was left open";
  EXPECT_TRUE(traces.Contains("VRN Thr Stop"));
  sim_.Faults().Resume();
}

}  // namespace
