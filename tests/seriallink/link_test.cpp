// The connection as the printer library and the service tool use it.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "fiscalsim/simulator.h"
#include "scoped_threads.h"
#include "seriallink/link.h"
#include "sim_link.h"
#include "test_support.h"
#include "wait_for.h"

namespace seriallink {
namespace {

using testing::Clock;
using namespace std::chrono_literals;

constexpr uint8_t kEcho = 0xE0;  // a command the tests teach the simulator

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FISCAL_SKIP_WITHOUT_SIM_LINK();
    SetFlavour({200ms, 0ms});
    sim_.WithModel([](fiscalsim::DeviceModel &model) {
      model.Register(kEcho, [](fiscalsim::DeviceModel &, std::string_view data) {
        return fiscalsim::Answer{std::string(data), {0x80, 0x80, 0x88, 0x80, 0x86, 0x9A}};
      });
    });
    sim_.Start();
  }
  void TearDown() override {
    EXPECT_EQ(Disconnect(), 0);
    SetFlavour(Flavour::Pos());
  }

  int ConnectSim() { return Connect(sim_.PortName(), 115200, 8, 0, 0); }

  fiscalsim::Simulator sim_{fiscal_test::OpenSimLink()};
};

TEST_F(LinkTest, WithoutAConnectionNothingIsSent) {
  EXPECT_EQ(RunCommand(kEcho, "x").code, kNotConnected);
  EXPECT_EQ(SetHwnd4Message(7), kNotConnected);
  EXPECT_FALSE(GetStatus().has_value());
  const CommandResult r = Command(kEcho, "x");
  EXPECT_EQ(r.code, kNotConnected);
  EXPECT_EQ(r.error, "Device not Connect");
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(sim_.ReceivedFrames().Size(), 0u);
}

TEST_F(LinkTest, OneConnectionAtATimeAndAFailedOpenStaysUntilDisconnect) {
  EXPECT_EQ(Connect("/dev/seriallink-no-such-port", 115200, 8, 0, 0), kAlreadyConnected);
  EXPECT_TRUE(IsConnected());
  EXPECT_EQ(ConnectSim(), kAlreadyConnected);
  EXPECT_EQ(SetHwnd4Message(7), kSuccess);
  EXPECT_EQ(RunCommand(kEcho, "x").code, kNoResponse);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_FALSE(IsConnected());

  EXPECT_EQ(ConnectSim(), kSuccess);
  EXPECT_EQ(ConnectSim(), kAlreadyConnected);
  EXPECT_EQ(Command(kEcho, "x").code, kSuccess) << "the second Connect disturbed the first";
}

TEST_F(LinkTest, CommandHandsBackReplyStatusAndTexts) {
  ASSERT_EQ(ConnectSim(), kSuccess);
  EXPECT_EQ(GetStatus(), "");
  const std::string data = "A\tb,\xC1\xE0\n";
  const CommandResult r = Command(0x100 | kEcho, data);
  EXPECT_EQ(r.code, kSuccess);
  EXPECT_EQ(r.reply, data);
  EXPECT_EQ(r.status, "00000800061A");
  EXPECT_EQ(r.error, "SUCCESS");
  EXPECT_EQ(GetStatus(), "00000800061A");
  ASSERT_EQ(sim_.ReceivedFrames().Size(), 1u);
  EXPECT_EQ(sim_.ReceivedFrames().Entries()[0].raw, fiscalsim::BuildRequest(0x20, kEcho, data));
}

TEST_F(LinkTest, DataLongerThanAFrameHoldsIsRefusedBeforeSending) {
  ASSERT_EQ(ConnectSim(), kSuccess);
  EXPECT_EQ(RunCommand(kEcho, std::string(kMaxData + 1, 'a')).code, kBadParameter);
  EXPECT_EQ(sim_.ReceivedFrames().Size(), 0u);
  EXPECT_EQ(RunCommand(kEcho, std::string(kMaxData, 'a')).code, kSuccess);
  ASSERT_EQ(sim_.ReceivedFrames().Size(), 1u);
  EXPECT_EQ(sim_.ReceivedFrames().Entries()[0].data, std::string(kMaxData, 'a'));
}

TEST_F(LinkTest, FailedCommandEmptiesTheStatus) {
  ASSERT_EQ(ConnectSim(), kSuccess);
  ASSERT_EQ(RunCommand(kEcho, "").code, kSuccess);
  ASSERT_EQ(GetStatus(), "00000800061A");
  sim_.Faults().GoSilent();
  const CommandResult r = Command(kEcho, "");
  EXPECT_EQ(r.code, kNoResponse);
  EXPECT_EQ(r.error, "Device not Respond");
  EXPECT_EQ(r.status, "");
  EXPECT_EQ(GetStatus(), "");
}

TEST_F(LinkTest, ToolFlavourGivesUpAfterFiveWaitsOf500ms) {
  SetFlavour(Flavour::Tool());
  ASSERT_EQ(ConnectSim(), kSuccess);
  sim_.Faults().GoSilent();
  const auto start = Clock::now();
  EXPECT_EQ(Command(kEcho, "").code, kNoResponse);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 2400ms);
  EXPECT_LT(took, 6s);
  EXPECT_TRUE(sim_.ReceivedFrames().WaitForSize(5, fiscal_test::kPatience));
  std::this_thread::sleep_for(100ms);  // and no sixth
  EXPECT_EQ(sim_.ReceivedFrames().Size(), 5u);
}

TEST_F(LinkTest, PosFlavourWaitsOutAReplyThatTheToolFlavourAsksForAgain) {
  for (const Flavour flavour : {Flavour::Pos(), Flavour::Tool()}) {
    SetFlavour(flavour);
    ASSERT_EQ(ConnectSim(), kSuccess);
    sim_.Faults().DelayNext(900ms);
    EXPECT_EQ(RunCommand(kEcho, "late").data, "late");
    const size_t sent = flavour.replyTimeout > 900ms ? 1 : 2;
    sim_.ReceivedFrames().WaitForSize(sent, fiscal_test::kPatience);
    EXPECT_EQ(sim_.ReceivedFrames().Size(), sent);
    EXPECT_EQ(Disconnect(), 0);
    sim_.ReceivedFrames().Clear();
  }
}

// A command kept waiting by busy bytes holds the link; Disconnect from another thread must not
// wait for the device to stop being busy.
TEST_F(LinkTest, DisconnectAbortsACommandKeptWaitingByBusyBytes) {
  ASSERT_EQ(ConnectSim(), kSuccess);
  // Longer than every bound below, so that only an abort can end the command in time.
  sim_.Faults().BusyBeforeNext(50ms, 8s);
  std::promise<int32_t> inFlight;
  std::promise<int32_t> queued;
  // Declared after the promises, so that a test that fails midway ends the commands before them.
  fiscal_test::ScopedThreads commands([&] { Disconnect(); });
  commands.Start([&] { inFlight.set_value(RunCommand(kEcho, "first").code); });
  ASSERT_TRUE(sim_.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  // Several reply time-outs of 200 ms pass without a resend: the busy bytes hold the command.
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(sim_.ReceivedFrames().Size(), 1u);

  // A second command queued behind the first while the Disconnect is under way.
  commands.Start([&] { queued.set_value(RunCommand(kEcho, "second").code); });
  std::this_thread::sleep_for(100ms);

  const auto start = Clock::now();
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_FALSE(IsConnected());

  auto firstResult = inFlight.get_future();
  auto secondResult = queued.get_future();
  ASSERT_EQ(firstResult.wait_for(2s), std::future_status::ready);
  ASSERT_EQ(secondResult.wait_for(2s), std::future_status::ready);
  commands.Join();
  EXPECT_EQ(firstResult.get(), kNoResponse);
  const int32_t late = secondResult.get();
  EXPECT_TRUE(late == kNotConnected || late == kNoResponse) << late;
  EXPECT_EQ(sim_.ReceivedFrames().Size(), 1u) << "something was sent after the abort";

  // The engine is whole again: a new connection (to a device not busy) works as ever. A linked
  // port pair serves one simulator only.
  if (fiscal_test::PortPairGiven()) return;
  fiscalsim::Simulator other(fiscal_test::OpenSimLink());
  other.WithModel([](fiscalsim::DeviceModel &model) {
    model.Register(kEcho, [](fiscalsim::DeviceModel &, std::string_view data) {
      return fiscalsim::Answer{std::string(data), {0x80, 0x80, 0x80, 0x80, 0x80, 0x80}};
    });
  });
  other.Start();
  ASSERT_EQ(Connect(other.PortName(), 115200, 8, 0, 0), kSuccess);
  const Reply r = RunCommand(kEcho, "again");
  EXPECT_EQ(r.code, kSuccess);
  EXPECT_EQ(r.data, "again");
}

}  // namespace
}  // namespace seriallink
