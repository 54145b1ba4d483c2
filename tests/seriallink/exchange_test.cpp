// One command's exchange with its resend, count and sequence rules, against the simulator.
#include <gtest/gtest.h>

#include "fiscalsim/simulator.h"
#include "seriallink/link.h"
#include "seriallink/port.h"
#include "seriallink/result_codes.h"
#include "sim_link.h"
#include "test_support.h"
#include "wait_for.h"

namespace seriallink {
namespace {

using fiscalsim::Bytes;
using testing::Clock;
using testing::MakeFrame;
using testing::ToBytes;
using namespace std::chrono_literals;

constexpr uint8_t kDateTime = 0x3E;

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FISCAL_SKIP_WITHOUT_SIM_LINK();
    sim_.Start();
    ASSERT_EQ(dlg_.Open(), 0);
  }

  // One command as the exchange sees it; the frame made at the current sequence number.
  int Run(uint16_t code, std::string_view data, Millis timeout, Bytes *sent = nullptr) {
    const testing::Frame frame = MakeFrame(dlg_, code, data);
    if (sent != nullptr) *sent = ToBytes(frame);
    return dlg_.Transact(frame.bytes.data(), frame.length, timeout, reply_);
  }

  // The frames the simulator received, all of which must be `frame`.
  void ExpectSentTimes(const Bytes &frame, size_t times) {
    sim_.ReceivedFrames().WaitForSize(times, fiscal_test::kPatience);
    const auto entries = sim_.ReceivedFrames().Entries();
    ASSERT_EQ(entries.size(), times);
    for (const auto &e : entries) EXPECT_EQ(e.raw, frame);
    sim_.ReceivedFrames().Clear();
  }

  fiscalsim::Simulator sim_{fiscal_test::OpenSimLink()};
  CCommDlg dlg_{sim_.PortName(), 115200, 8, 0, 0};
  RCVBLOCK reply_;
};

TEST_F(ExchangeTest, SequenceRunsFrom20To7FAndWraps) {
  for (int i = 0; i < 0x61; ++i) ASSERT_EQ(Run(kDateTime, "", 2s), kSuccess) << i;
  const auto entries = sim_.ReceivedFrames().Entries();
  ASSERT_EQ(entries.size(), 0x61u);
  for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].seq, 0x20 + i % 0x60) << i;
  EXPECT_EQ(reply_.buffer[2], 0x20);
  EXPECT_EQ(dlg_.Sequence(), 0x21);
  EXPECT_TRUE(dlg_.StatusValid());
}

TEST_F(ExchangeTest, FiveNaksGive10005AndTheNumberIsUsedAgain) {
  sim_.Faults().NakNext(5);
  Bytes sent;
  EXPECT_EQ(Run(kDateTime, "", 2s, &sent), kMaxSendCount);
  ExpectSentTimes(sent, 5);
  EXPECT_FALSE(dlg_.StatusValid());
  EXPECT_EQ(Run(kDateTime, "", 2s), kSuccess);
  EXPECT_EQ(sim_.ReceivedFrames().Entries().at(0).seq, 0x20);
}

TEST_F(ExchangeTest, TimeOutsAndNaksShareOneCount) {
  ResetStatistics();
  sim_.Faults().SilentFor(2);
  sim_.Faults().NakNext(2);
  Bytes sent;
  EXPECT_EQ(Run(kDateTime, "", 150ms, &sent), kSuccess);
  ExpectSentTimes(sent, 5);

  sim_.Faults().SilentFor(2);
  sim_.Faults().NakNext(3);
  EXPECT_EQ(Run(kDateTime, "", 150ms, &sent), kMaxSendCount);
  ExpectSentTimes(sent, 5);

  // The counters a diagnosis reports: every write after the first of a command is a resend.
  const Statistics stats = GetStatistics();
  EXPECT_EQ(stats.requests, 2u);
  EXPECT_EQ(stats.timeouts, 4u);
  EXPECT_EQ(stats.refusals, 5u);
  EXPECT_EQ(stats.resends, 8u);
  EXPECT_EQ(stats.busy, 0u);
}

TEST_F(ExchangeTest, SilentDeviceGives10003AfterExactlyFiveWrites) {
  sim_.Faults().GoSilent();
  Bytes sent;
  const auto start = Clock::now();
  EXPECT_EQ(Run(kDateTime, "", 100ms, &sent), kNoResponse);
  EXPECT_GE(Clock::now() - start, 480ms);
  ExpectSentTimes(sent, 5);
  EXPECT_FALSE(dlg_.StatusValid());
  EXPECT_EQ(dlg_.Sequence(), 0x20);
}

TEST_F(ExchangeTest, BusyBytesKeepTheHostWaitingWithoutCounting) {
  // Busy for twice the five waits: only SYN can keep the exchange alive that long. A wait ten
  // SYN periods long, so that a loaded machine's late byte is not taken for silence.
  sim_.Faults().BusyBeforeNext(30ms, 3000ms);
  ResetStatistics();
  Bytes sent;
  EXPECT_EQ(Run(kDateTime, "", 300ms, &sent), kSuccess);
  EXPECT_GT(GetStatistics().busy, 0u);
  ExpectSentTimes(sent, 1);
}

TEST_F(ExchangeTest, ReplyWithAWrongCheckDigitIsIgnoredAndTheFrameResentAfterTheTimeOut) {
  sim_.Faults().CorruptNextCheck();
  Bytes sent;
  const auto start = Clock::now();
  EXPECT_EQ(Run(kDateTime, "", 300ms, &sent), kSuccess);
  EXPECT_GE(Clock::now() - start, 280ms);
  ExpectSentTimes(sent, 2);
}

TEST_F(ExchangeTest, ReplyWithAnotherSequenceNumberIsAMismatch) {
  sim_.Faults().WrongSeqNext();
  Bytes sent;
  EXPECT_EQ(Run(kDateTime, "", 2s, &sent), kSuccess);
  ExpectSentTimes(sent, 2);
  EXPECT_EQ(dlg_.Sequence(), 0x21);
}

}  // namespace
}  // namespace seriallink
