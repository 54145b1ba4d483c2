// cVRNProtocol against the simulator through a test driver: bytes on the wire, replies, the
// retry rules, and the threads.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fiscalsim/frame_codec.h"
#include "platform/trace.h"
#include "scoped_threads.h"
#include "test_driver.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vrn_test::Ask;
using vrn_test::Hex;
using vrn_test::PipeBench;

constexpr uint16_t kPaperCut = 45;   // answers with empty data
constexpr uint16_t kHeaderLine = 43;
constexpr uint16_t kImsi = 200;

std::vector<uint8_t> RawFrame(fiscalsim::Simulator &sim, size_t index) { return sim.ReceivedFrames().Entries().at(index).raw; }

TEST(ProtocolWire, WorkedExampleGoesOutByteForByte) {
  PipeBench bench;
  // Only the low byte of the code travels.
  const vrn_test::Reply reply = Ask(bench.protocol(), 0x12D, "abc");
  EXPECT_EQ(reply.result, 0);
  ASSERT_EQ(bench.sim().ReceivedFrames().Size(), 1u);
  EXPECT_EQ(RawFrame(bench.sim(), 0), Hex("01 27 20 2D 61 62 63 05 30 31 39 3F 03"));
}

TEST(ProtocolWire, SequenceByteOfThe97thRequestIs80AndOfThe98th20) {
  PipeBench bench;
  for (int i = 0; i < 98; ++i) ASSERT_EQ(Ask(bench.protocol(), kPaperCut, "").result, 0) << i;
  const auto entries = bench.sim().ReceivedFrames().Entries();
  ASSERT_EQ(entries.size(), 98u);
  EXPECT_EQ(entries[0].seq, 0x20);
  EXPECT_EQ(entries[95].seq, 0x7F);
  EXPECT_EQ(entries[96].seq, 0x80);
  EXPECT_EQ(entries[97].seq, 0x20);
  for (const auto &e : entries) ASSERT_TRUE(e.good);
}

TEST(ProtocolReply, EmptyDataGivesEmptyTextAndStatusAndTheTextAreaEndsInZeros) {
  PipeBench bench;
  const vrn_test::Reply cut = Ask(bench.protocol(), kPaperCut, "");
  ASSERT_EQ(cut.result, 0);
  EXPECT_EQ(cut.text, "");
  EXPECT_EQ(cut.status, std::vector<uint8_t>(6, 0x80));
  for (size_t i = 0; i < vrn::kReplyTextSize; ++i) ASSERT_EQ(cut.record[i], 0) << i;

  const vrn_test::Reply imsi = Ask(bench.protocol(), kImsi, "");
  ASSERT_EQ(imsi.result, 0);
  EXPECT_EQ(imsi.text, "284011234567890");
  for (size_t i = imsi.text.size(); i < vrn::kReplyTextSize; ++i) ASSERT_EQ(imsi.record[i], 0) << i;

  // A refused command still completes: the device's error flag is the caller's to read.
  const vrn_test::Reply refused = Ask(bench.protocol(), 0xF3, "");
  ASSERT_EQ(refused.result, 0);
  EXPECT_EQ(refused.status[0] & 0x20, 0x20);
}

TEST(ProtocolReply, OversizedFrameIsCutAt256BytesAndCountsAsGarbled) {
  platform::TraceCapture traces;
  PipeBench bench;
  std::vector<uint8_t> junk(1, 0x01);
  junk.insert(junk.end(), 300, 'x');
  junk.push_back(0x03);
  bench.driver->InjectReply(junk);
  const vrn_test::Reply reply = Ask(bench.protocol(), kImsi, "");
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  // 45 bytes beyond the 256 stored, and the 03 that still ends the frame.
  EXPECT_EQ(traces.Count("in_vrn_buffer size 256 too short"), 46u);
  // Sent again as for a bad check; the first frame's answer may already have ended the request
  // before the device took the second.
  EXPECT_TRUE(bench.sim().ReceivedFrames().WaitForSize(2, fiscal_test::kPatience));
  EXPECT_EQ(bench.sim().ReceivedFrames().Size(), 2u);
}

TEST(ProtocolRetry, BusyBytesKeepARequestWaitingPastTheWaitLimit) {
  PipeBench bench;
  bench.sim().Faults().BusyBeforeNext(2000ms, 4500ms);
  const auto start = Clock::now();
  const vrn_test::Reply reply = Ask(bench.protocol(), kImsi, "");
  EXPECT_GT(Clock::now() - start, vrn::cVRNProtocol::kUsbWaitLimit);
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  // Whatever went out again went out unchanged.
  const auto entries = bench.sim().ReceivedFrames().Entries();
  for (const auto &e : entries) EXPECT_EQ(e.raw, entries[0].raw);
}

TEST(ProtocolRetry, FiveRefusalsEndTheRequestAfterExactlyFiveTransmissions) {
  PipeBench bench;
  bench.sim().Faults().NakNext(5);
  EXPECT_EQ(Ask(bench.protocol(), kPaperCut, "").result, -1);
  std::this_thread::sleep_for(100ms);  // nothing more may follow
  const auto entries = bench.sim().ReceivedFrames().Entries();
  ASSERT_EQ(entries.size(), 5u);
  for (const auto &e : entries) EXPECT_EQ(e.raw, entries[0].raw);
  EXPECT_TRUE(bench.driver->ResetCalls().empty());

  // Four refusals still leave the fifth transmission its answer.
  bench.sim().ReceivedFrames().Clear();
  bench.sim().Faults().NakNext(4);
  EXPECT_EQ(Ask(bench.protocol(), kPaperCut, "").result, 0);
  EXPECT_EQ(bench.sim().ReceivedFrames().Size(), 5u);
}

TEST(ProtocolRetry, BadCheckCharacterInAReplySendsTheSameFrameAgain) {
  PipeBench bench;
  bench.sim().Faults().CorruptNextCheck();
  const vrn_test::Reply reply = Ask(bench.protocol(), kImsi, "");
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  const auto entries = bench.sim().ReceivedFrames().Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].raw, entries[0].raw);
}

TEST(ProtocolTimeout, QuickResetFirstThenFullAndTheRequestCompletes) {
  PipeBench bench;
  bench.sim().Faults().SilentFor(2);
  const vrn_test::Reply reply = Ask(bench.protocol(), kImsi, "");
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  EXPECT_EQ(bench.driver->ResetCalls(), (std::vector<bool>{false, true}));
  EXPECT_EQ(bench.sim().ReceivedFrames().Size(), 3u);
}

TEST(ProtocolTimeout, FailingResetEndsTheRequest) {
  PipeBench bench;
  bench.sim().Faults().GoSilent();
  bench.driver->resetSucceeds = false;
  EXPECT_EQ(Ask(bench.protocol(), kImsi, "").result, -1);
  EXPECT_EQ(bench.driver->ResetCalls(), (std::vector<bool>{false}));
  EXPECT_EQ(bench.sim().ReceivedFrames().Size(), 1u);
}

TEST(ProtocolLink, NoDeviceFailsAtOnceWithoutSending) {
  PipeBench bench;
  bench.driver->attached = false;
  const auto start = Clock::now();
  EXPECT_EQ(Ask(bench.protocol(), kImsi, "").result, -1);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(bench.driver->Writes(), 0);
}

TEST(ProtocolThreads, FourThreadsRequestingAtOnceEachGetTheirOwnReply) {
  PipeBench bench;
  bench.sim().WithModel([](fiscalsim::DeviceModel &m) {
    for (int i = 0; i < 4; ++i) m.State().headerLines[static_cast<size_t>(i)] = "LINE " + std::to_string(i) + " TEXT";
  });
  constexpr int kRounds = 25;
  std::vector<std::string> wrong[4];
  fiscal_test::ScopedThreads threads;
  for (int t = 0; t < 4; ++t) {
    threads.Start([&, t] {
      const std::string ask = "I" + std::to_string(t);
      const std::string expected = "LINE " + std::to_string(t) + " TEXT";
      for (int i = 0; i < kRounds; ++i) {
        const vrn_test::Reply r = Ask(bench.protocol(), kHeaderLine, ask.c_str());
        if (r.result != 0 || r.text != expected) wrong[t].push_back(std::to_string(r.result) + ":" + r.text);
      }
    });
  }
  threads.Join();
  for (int t = 0; t < 4; ++t) EXPECT_TRUE(wrong[t].empty()) << "thread " << t << " got " << wrong[t].front();
  // Serialised: one frame per request, each with its own sequence byte.
  const auto entries = bench.sim().ReceivedFrames().Entries();
  ASSERT_EQ(entries.size(), 4u * kRounds);
  for (size_t i = 1; i < entries.size(); ++i) ASSERT_EQ(entries[i].seq, framecodec::NextSequenceThrough80(entries[i - 1].seq));
}

TEST(ProtocolThreads, StopEndsTheReceiveThreadPromptlyAndRequestsThenFail) {
  platform::TraceCapture traces;
  PipeBench bench;
  ASSERT_EQ(Ask(bench.protocol(), kPaperCut, "").result, 0);
  const auto start = Clock::now();
  bench.protocol().Stop();
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(traces.Count("VRN Thr Start"), 1u);
  EXPECT_EQ(traces.Count("VRN Thr Stop"), 1u);
  EXPECT_FALSE(bench.protocol().IsRunning());
  EXPECT_EQ(Ask(bench.protocol(), kPaperCut, "").result, -1);
}

TEST(ProtocolThreads, StopEndsARequestInFlight) {
  PipeBench bench;
  bench.sim().Faults().GoSilent();
  fiscal_test::ScopedThreads asker;
  asker.Start([&] { EXPECT_EQ(Ask(bench.protocol(), kImsi, "").result, -1); });
  ASSERT_TRUE(bench.sim().ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  const auto start = Clock::now();
  bench.protocol().Stop();
  asker.Join();
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST(ProtocolThreads, IdleLinkCostsNoCpu) {
  PipeBench bench;
  ASSERT_EQ(Ask(bench.protocol(), kPaperCut, "").result, 0);
  // The receiver reads on for a while after a request, then stops until the next one.
  std::this_thread::sleep_for(vrn::cVRNProtocol::kIdleDisarm + 200ms);
  const double before = vrn_test::ProcessCpuMs();
  std::this_thread::sleep_for(1s);
  // Polling every millisecond costs about 26 ms in this time; blocked threads cost nothing. A
  // clock that counts in ticks can step once even for a moment's work.
  EXPECT_LT(vrn_test::ProcessCpuMs() - before, 5.0 + vrn_test::ProcessCpuStepMs());
}

TEST(ProtocolThreads, StartOnARunningObjectStartsNoSecondThread) {
  platform::TraceCapture traces;
  PipeBench bench;
  EXPECT_TRUE(bench.protocol().Start(nullptr));
  EXPECT_TRUE(bench.protocol().Start(""));
  EXPECT_EQ(traces.Count("VRN Thr Start"), 1u);
  EXPECT_EQ(traces.Count("VRN Thr Stop"), 0u);
  EXPECT_EQ(Ask(bench.protocol(), kPaperCut, "").result, 0);
  // A COM port that cannot open is the one thing Start changes, and it says so.
  EXPECT_FALSE(bench.protocol().Start("/nonexistent/tty"));
  EXPECT_TRUE(traces.Contains("Com /nonexistent/tty cannot be opened"));
  EXPECT_EQ(traces.Count("VRN Thr Start"), 1u);
  EXPECT_EQ(Ask(bench.protocol(), kPaperCut, "").result, 0);
}

// Faults of the original design that the protocol mends.
TEST(ProtocolMended, StaleSequenceReplyIsDroppedAndTheMatchingOneReturned) {
  PipeBench bench;
  // A late answer of an earlier exchange (sequence 0x80) comes before the device's own answer.
  bench.driver->InjectReply(fiscalsim::BuildReply(0x80, kImsi & 0xFF, "STALE", {0xA0, 0x80, 0x80, 0x80, 0x80, 0x80}));
  const vrn_test::Reply reply = Ask(bench.protocol(), kImsi, "");
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  EXPECT_EQ(reply.status, std::vector<uint8_t>(6, 0x80));
  EXPECT_EQ(bench.sim().ReceivedFrames().Size(), 1u);
}

TEST(ProtocolMended, WrongSequenceAloneIsRetriedLikeAMissingReply) {
  PipeBench bench;
  bench.sim().Faults().WrongSeqNext();
  const vrn_test::Reply reply = Ask(bench.protocol(), kImsi, "");
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  EXPECT_EQ(bench.driver->ResetCalls(), (std::vector<bool>{false}));
  EXPECT_EQ(bench.sim().ReceivedFrames().Size(), 2u);
}

TEST(ProtocolMended, DataLongerThan219CharactersSendsNothing) {
  platform::TraceCapture traces;
  PipeBench bench;
  EXPECT_EQ(Ask(bench.protocol(), kHeaderLine, std::string(220, 'x').c_str()).result, -1);
  EXPECT_TRUE(traces.Contains("Not enough room for the request"));
  EXPECT_EQ(bench.driver->Writes(), 0);
  EXPECT_TRUE(bench.driver->ResetCalls().empty());
  // The longest that fits goes out whole, with its check characters and end byte.
  Ask(bench.protocol(), kHeaderLine, std::string(219, 'x').c_str());
  ASSERT_EQ(bench.sim().ReceivedFrames().Size(), 1u);
  const auto entry = bench.sim().ReceivedFrames().Entries()[0];
  EXPECT_TRUE(entry.good);
  EXPECT_EQ(entry.raw.size(), 229u);
}

// Devices that keep a request alive, and the limits that keep a host from waiting for ever.
TEST(ProtocolLimits, BusyBytesEveryTwoSecondsKeepTheRequestWaitingWithOneTransmission) {
  PipeBench bench;
  bench.sim().Faults().BusyBeforeNext(2000ms, 4500ms);
  const vrn_test::Reply reply = Ask(bench.protocol(), kImsi, "");
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "284011234567890");
  // Each busy byte is taken when it comes, so the wait limit never runs out: no reset, no resend.
  EXPECT_EQ(bench.sim().ReceivedFrames().Size(), 1u);
  EXPECT_TRUE(bench.driver->ResetCalls().empty());
}

TEST(ProtocolLimits, ReceiverStopsReadingSoonAfterAFailedRequest) {
  PipeBench bench;
  // Reads that block like USB reads until their time-out; the device stays silent.
  bench.driver->readWaitMs = 100;
  bench.driver->resetSucceeds = false;
  bench.sim().Faults().GoSilent();
  EXPECT_EQ(Ask(bench.protocol(), kImsi, "").result, -1);
  // Quiet for 600 ms and no request waiting: the receiver disarms, whatever a read costs.
  std::this_thread::sleep_for(1500ms);
  const int reads = bench.driver->Reads();
  std::this_thread::sleep_for(1000ms);
  EXPECT_EQ(bench.driver->Reads(), reads);
}

TEST(ProtocolLimits, RefusalsAlternatingWithSilenceEndAfterTenTransmissions) {
  PipeBench bench;
  // Odd transmissions are refused, even ones get no answer: each run is one long, so neither
  // count of five is ever reached.
  bench.driver->answerWrites = [](int write) { return write % 2 == 1 ? std::vector<uint8_t>{0x15} : std::vector<uint8_t>{}; };
  std::promise<int> result;
  fiscal_test::ScopedThreads asker;
  asker.Start([&] { result.set_value(Ask(bench.protocol(), kImsi, "").result); });
  std::future<int> done = result.get_future();
  const bool ended = done.wait_for(40s) == std::future_status::ready;
  if (!ended) bench.protocol().Stop();
  asker.Join();
  ASSERT_TRUE(ended);
  EXPECT_EQ(done.get(), -1);
  EXPECT_EQ(bench.driver->Writes(), vrn::cVRNProtocol::kMaxTransmissions);
}

TEST(ProtocolLimits, CancelEndsARequestKeptAliveByBusyBytesAndLaterOnesFailUntilStart) {
  PipeBench bench;
  bench.sim().Faults().BusyBeforeNext(200ms, 30s);
  std::promise<std::chrono::steady_clock::time_point> ended;
  fiscal_test::ScopedThreads asker([&] { bench.protocol().Cancel(); });
  asker.Start([&] {
    EXPECT_EQ(Ask(bench.protocol(), kImsi, "").result, -1);
    ended.set_value(Clock::now());
  });
  ASSERT_TRUE(bench.sim().ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  std::this_thread::sleep_for(500ms);
  const auto cancelled = Clock::now();
  bench.protocol().Cancel();
  asker.Join();
  EXPECT_LT(ended.get_future().get() - cancelled, 500ms);
  EXPECT_EQ(Ask(bench.protocol(), kPaperCut, "").result, -1);
}

}  // namespace
