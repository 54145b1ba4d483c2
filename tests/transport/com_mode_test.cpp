// cVRNProtocol over CRSComSupp to the simulator: on Linux a pty reached as COM7 through a
// private alias directory, or the port pair of sim_link.h (COM5 and COM6 under wine).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "api/module.h"
#include "drivers/com_port_driver.h"
#include "fiscalsim/simulator.h"
#include "platform/trace.h"
#include "protocol/vrn_protocol.h"
#include "scoped_threads.h"
#include "sim_link.h"
#include "test_driver.h"
#include "vrn_interface.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vrn_test::Ask;

class ComMode : public ::testing::Test {
 protected:
  void SetUp() override {
    FISCAL_SKIP_WITHOUT_SIM_LINK();
    // COM names other than the pair's never reach a real port.
    vrn_test::UsePrivateAliasDir();
    sim = std::make_unique<fiscalsim::Simulator>(fiscal_test::OpenSimLink());
    sim->Start();
    if (fiscal_test::PortPairGiven()) {
      port = sim->PortName();
    } else {
      port = "COM7";
      std::string error;
      alias = vrn_test::AliasPort(port, sim->PortName(), &error);
      ASSERT_NE(alias, nullptr) << error;
    }
  }
  void TearDown() override {
    protocol.reset();
    alias.reset();
    sim.reset();
  }

  std::string port;
  std::unique_ptr<fiscalsim::Simulator> sim;
  std::shared_ptr<void> alias;
  std::unique_ptr<vrn::cVRNProtocol> protocol = std::make_unique<vrn::cVRNProtocol>(nullptr);
};

TEST_F(ComMode, StartWithAComNameOpensThePortAndRequestsTravelOverIt) {
  platform::TraceCapture traces;
  ASSERT_TRUE(protocol->Start(port.c_str()));
  EXPECT_TRUE(protocol->IsComOpen());
  EXPECT_TRUE(traces.Contains("Com " + port + " opened"));

  const vrn_test::Reply abc = Ask(*protocol, 0x2D, "abc");
  ASSERT_EQ(abc.result, 0);
  EXPECT_EQ(sim->ReceivedFrames().Entries().at(0).raw, vrn_test::Hex("01 27 20 2D 61 62 63 05 30 31 39 3F 03"));
  const vrn_test::Reply imsi = Ask(*protocol, 200, "");
  ASSERT_EQ(imsi.result, 0);
  EXPECT_EQ(imsi.text, "284011234567890");
  EXPECT_EQ(imsi.status, std::vector<uint8_t>(6, 0x80));

  protocol->Stop();
  EXPECT_FALSE(protocol->IsComOpen());
  EXPECT_TRUE(traces.Contains("Com " + port + " closed"));
}

TEST_F(ComMode, NoReplyWaits4000MsThenReopensThePortAndSendsAgain) {
  platform::TraceCapture traces;
  ASSERT_TRUE(protocol->Start(port.c_str()));
  sim->Faults().SilentFor(1);
  const auto start = Clock::now();
  fiscal_test::ScopedThreads asker;
  asker.Start([&] {
    const vrn_test::Reply r = Ask(*protocol, 200, "");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.text, "284011234567890");
  });
  ASSERT_TRUE(sim->ReceivedFrames().WaitForSize(2, fiscal_test::kPatience));
  const auto resent = Clock::now() - start;
  asker.Join();
  EXPECT_GE(resent, 3900ms);
  EXPECT_LT(resent, 7000ms);
  const auto entries = sim->ReceivedFrames().Entries();
  EXPECT_EQ(entries.at(1).raw, entries.at(0).raw);
  EXPECT_EQ(traces.Count("Com " + port + " opened"), 2u);
  EXPECT_EQ(traces.Count("Com " + port + " closed"), 1u);
}

TEST_F(ComMode, RefusalsAndBadChecksAreRetriedOverThePortToo) {
  ASSERT_TRUE(protocol->Start(port.c_str()));
  sim->Faults().NakNext(2);
  EXPECT_EQ(Ask(*protocol, 45, "").result, 0);
  EXPECT_EQ(sim->ReceivedFrames().Size(), 3u);
  sim->Faults().CorruptNextCheck();
  EXPECT_EQ(Ask(*protocol, 200, "").text, "284011234567890");
  EXPECT_EQ(sim->ReceivedFrames().Size(), 5u);
}

TEST_F(ComMode, BusyBytesKeepARequestWaitingPastTheWaitLimit) {
  ASSERT_TRUE(protocol->Start(port.c_str()));
  sim->Faults().BusyBeforeNext(1000ms, 5000ms);
  const auto start = Clock::now();
  const vrn_test::Reply reply = Ask(*protocol, 200, "");
  EXPECT_GT(Clock::now() - start, vrn::cVRNProtocol::kComWaitLimit);
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  // Whatever went out again went out unchanged.
  const auto entries = sim->ReceivedFrames().Entries();
  for (const auto &e : entries) EXPECT_EQ(e.raw, entries[0].raw);
}

TEST_F(ComMode, IdleOpenPortCostsNoCpu) {
  ASSERT_TRUE(protocol->Start(port.c_str()));
  ASSERT_EQ(Ask(*protocol, 45, "").result, 0);
  // The receiver reads on for a while after a request, then stops until the next one.
  std::this_thread::sleep_for(vrn::cVRNProtocol::kIdleDisarm + 200ms);
  const double before = vrn_test::ProcessCpuMs();
  std::this_thread::sleep_for(500ms);
  // The simulator's receive thread shares the process: both must be idle.
  EXPECT_LT(vrn_test::ProcessCpuMs() - before, 5.0 + vrn_test::ProcessCpuStepMs());
}

// A build or machine with no usable USB library: the exports still serve the port a host names.
TEST_F(ComMode, WithoutAUsbDriverTheExportsServeTheNamedComPort) {
  vrn::DriverFactory comOnly;
  comOnly.makeComPortOnly = []() -> std::unique_ptr<vrn::iCOMDriver> {
    return std::make_unique<vrn::cComPortDriver>();
  };
  vrn::CDllApp::Instance().InstallDriverFactory(comOnly);
  platform::TraceCapture traces;
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];

  ASSERT_TRUE(vrn_init(port.c_str()));
  EXPECT_TRUE(traces.Contains("Driver Init Failed"));
  EXPECT_TRUE(traces.Contains("COM Port Mode Init Ok"));
  EXPECT_EQ(vrn_test_connection(), 1);  // the open port is the connection
  ASSERT_EQ(vrn_request(200, "", reply, status), 0);
  EXPECT_STREQ(reply, "284011234567890");
  vrn_dispose();
  EXPECT_TRUE(traces.Contains("Com " + port + " closed"));

  // Without a port name there is nothing to reach: requests fail at once, not after time-outs.
  ASSERT_TRUE(vrn_init(nullptr));
  EXPECT_EQ(vrn_test_connection(), 0);
  const auto start = Clock::now();
  EXPECT_EQ(vrn_request(200, "", reply, status), -1);
  EXPECT_LT(Clock::now() - start, 1s);
  vrn_dispose();
  vrn::CDllApp::Instance().InstallDriverFactory({});
}

TEST_F(ComMode, MissingPortFailsStart) {
  platform::TraceCapture traces;
  EXPECT_FALSE(protocol->Start("COM99"));
  EXPECT_TRUE(traces.Contains("Com COM99 cannot be opened"));
  EXPECT_EQ(Ask(*protocol, 200, "").result, -1);
}

}  // namespace
