#include "fiscalsim/simulator.h"

#include <gtest/gtest.h>

#include "fiscalsim/byte_pipe.h"
#include "fiscalsim/pty_link.h"
#include "platform/serial_port.h"

namespace fiscalsim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: only there so that a broken simulator fails instead of hanging.
constexpr auto kPatience = 5s;

// The host's side of either link.
class Client {
 public:
  virtual ~Client() = default;
  virtual void Send(const Bytes &bytes) = 0;
  // Bytes that came within the time-out; -1 once the link is gone.
  virtual ptrdiff_t Read(uint8_t *buffer, size_t capacity, std::chrono::milliseconds timeout) = 0;
};

class PtyClient final : public Client {
 public:
  explicit PtyClient(const std::string &path) { EXPECT_EQ(port_.Open(path), 0) << path; }
  void Send(const Bytes &bytes) override { ASSERT_EQ(port_.Write(bytes.data(), bytes.size(), kPatience), bytes.size()); }
  ptrdiff_t Read(uint8_t *buffer, size_t capacity, std::chrono::milliseconds timeout) override {
    switch (port_.WaitReadable(timeout)) {
      case platform::WaitResult::Readable:
        return port_.Read(buffer, capacity);
      case platform::WaitResult::TimedOut:
        return 0;
      default:
        return -1;
    }
  }
  void Close() { port_.Close(); }

 private:
  platform::SerialPort port_;
};

class PipeClient final : public Client {
 public:
  explicit PipeClient(BytePipeHost host) : host_(std::move(host)) {}
  void Send(const Bytes &bytes) override { ASSERT_TRUE(host_.Write(bytes)); }
  ptrdiff_t Read(uint8_t *buffer, size_t capacity, std::chrono::milliseconds timeout) override {
    return host_.Read(buffer, capacity, timeout);
  }
  BytePipeHost &Host() { return host_; }

 private:
  BytePipeHost host_;
};

enum class Transport { Pty, Pipe };

struct Received {
  int busy = 0;
  int naks = 0;
  std::vector<Bytes> frames;
  bool linkGone = false;
};

class SimulatorTest : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override { Open({}); }

  void Open(SimulatorOptions options) {
    sim_.reset();
    if (GetParam() == Transport::Pty) {
      sim_ = std::make_unique<Simulator>(OpenPtyLink(), options);
      client_ = std::make_unique<PtyClient>(sim_->PortName());
    } else {
      BytePipe pipe = MakeBytePipe();
      sim_ = std::make_unique<Simulator>(std::move(pipe.device), options);
      client_ = std::make_unique<PipeClient>(pipe.host);
    }
    sim_->Start();
  }

  // Reads until `frames` reply frames came, the link went away or the wait ran out.
  Received Collect(size_t frames = 1, std::chrono::milliseconds wait = kPatience) {
    Received got;
    ReplyReader reader;
    std::vector<ReplyReader::Event> events;
    const auto deadline = Clock::now() + wait;
    while (got.frames.size() < frames && Clock::now() < deadline) {
      uint8_t buffer[256];
      const ptrdiff_t n = client_->Read(buffer, sizeof buffer, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
      if (n < 0) {
        got.linkGone = true;
        break;
      }
      events.clear();
      reader.Feed(std::span(buffer, static_cast<size_t>(n)), events);
      for (auto &e : events) {
        if (e.kind == ReplyReader::Kind::Busy) ++got.busy;
        if (e.kind == ReplyReader::Kind::Nak) ++got.naks;
        if (e.kind == ReplyReader::Kind::Frame) got.frames.push_back(std::move(e.frame));
      }
    }
    return got;
  }

  // Sends a request and returns the one reply frame that answers it.
  ParsedReply Exchange(uint8_t seq, uint8_t cmd, std::string_view data) {
    client_->Send(BuildRequest(seq, cmd, data));
    const Received got = Collect();
    EXPECT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.naks, 0);
    if (got.frames.empty()) return {};
    const auto reply = ParseReply(got.frames[0]);
    EXPECT_TRUE(reply && reply->checkOk);
    return reply.value_or(ParsedReply{});
  }

  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<Client> client_;
};

const Bytes kPaperCutAbc = {0x01, 0x27, 0x20, 0x2D, 0x61, 0x62, 0x63, 0x05, 0x30, 0x31, 0x39, 0x3F, 0x03};
const Bytes kPaperCutReply = {0x01, 0x2B, 0x20, 0x2D, 0x04, 0x80, 0x80, 0x80, 0x80,
                              0x80, 0x80, 0x05, 0x30, 0x33, 0x38, 0x31, 0x03};

TEST_P(SimulatorTest, AnswersARequestWithExactBytesAndJournalsIt) {
  client_->Send(kPaperCutAbc);
  const Received got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);
  EXPECT_EQ(got.busy + got.naks, 0);

  ASSERT_TRUE(sim_->ReceivedFrames().WaitForSize(1, kPatience));
  const auto journal = sim_->ReceivedFrames().Entries();
  EXPECT_EQ(journal[0].seq, 0x20);
  EXPECT_EQ(journal[0].cmd, 0x2D);
  EXPECT_EQ(journal[0].data, "abc");
  EXPECT_EQ(journal[0].raw, kPaperCutAbc);
  EXPECT_TRUE(journal[0].good);
  EXPECT_EQ(sim_->WithModel([](DeviceModel &m) { return m.State().cuts; }), 1u);
}

TEST_P(SimulatorTest, ServesStateAcrossRequestsAndFramesSentTogether) {
  EXPECT_EQ(Exchange(0x21, command::kHeaderLine, "3ABC").status, kStatusIdle);
  Bytes both = BuildRequest(0x22, command::kHeaderLine, "I3");
  const Bytes unknown = BuildRequest(0x23, 0xEE, "");
  both.insert(both.end(), unknown.begin(), unknown.end());
  client_->Send(both);
  const Received got = Collect(2);
  ASSERT_EQ(got.frames.size(), 2u);
  EXPECT_EQ(got.frames[0], BuildReply(0x22, command::kHeaderLine, "ABC", kStatusIdle));
  EXPECT_EQ(got.frames[1], BuildReply(0x23, 0xEE, "", {0xA2, 0x80, 0x80, 0x80, 0x80, 0x80}));
}

TEST_P(SimulatorTest, BadCheckIsRefusedWithNakAndNotExecuted) {
  Bytes bad = kPaperCutAbc;
  bad[11] = 0x3E;
  client_->Send(bad);
  const Received got = Collect(1, 500ms);
  EXPECT_EQ(got.naks, 1);
  EXPECT_TRUE(got.frames.empty());
  ASSERT_TRUE(sim_->ReceivedFrames().WaitForSize(1, kPatience));
  EXPECT_FALSE(sim_->ReceivedFrames().Entries()[0].good);
  EXPECT_EQ(sim_->ReceivedFrames().Entries()[0].raw, bad);
  EXPECT_EQ(sim_->WithModel([](DeviceModel &m) { return m.State().cuts; }), 0u);

  client_->Send(kPaperCutAbc);
  const Received retry = Collect();
  ASSERT_EQ(retry.frames.size(), 1u);
  EXPECT_EQ(retry.frames[0], kPaperCutReply);
}

TEST_P(SimulatorTest, GarbageAroundRequestsIsIgnored) {
  Bytes noisy = {0x00, 0xFF, 0x15, 0x03, 0x01, 0x02};
  noisy.insert(noisy.end(), kPaperCutAbc.begin(), kPaperCutAbc.end());
  noisy.insert(noisy.end(), {0x55, 0x7F});
  client_->Send(noisy);
  const Received got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);
  EXPECT_EQ(got.naks, 0);
}

TEST_P(SimulatorTest, NaksTheNextFramesThenAnswers) {
  sim_->Faults().NakNext(2);
  for (int i = 0; i < 2; ++i) {
    client_->Send(kPaperCutAbc);
    const Received got = Collect(1, 500ms);
    EXPECT_EQ(got.naks, 1);
    EXPECT_TRUE(got.frames.empty());
  }
  client_->Send(kPaperCutAbc);
  const Received got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);
  EXPECT_EQ(sim_->ReceivedFrames().Size(), 3u);
  EXPECT_EQ(sim_->WithModel([](DeviceModel &m) { return m.State().cuts; }), 1u);
}

TEST_P(SimulatorTest, SendsBusyBytesForTheSpanBeforeTheReply) {
  sim_->Faults().BusyBeforeNext(50ms, 175ms);
  client_->Send(kPaperCutAbc);
  const Received got = Collect();
  EXPECT_EQ(got.busy, 4);  // at 0, 50, 100 and 150 ms
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);

  client_->Send(kPaperCutAbc);
  EXPECT_EQ(Collect().busy, 0) << "the fault is spent";
}

TEST_P(SimulatorTest, CorruptsTheNextCheckOnly) {
  sim_->Faults().CorruptNextCheck();
  client_->Send(kPaperCutAbc);
  Received got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  const auto reply = ParseReply(got.frames[0]);
  ASSERT_TRUE(reply);
  EXPECT_FALSE(reply->checkOk);
  EXPECT_EQ(reply->status, kStatusIdle);

  client_->Send(kPaperCutAbc);
  got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);
}

TEST_P(SimulatorTest, DelaysTheNextReply) {
  sim_->Faults().DelayNext(300ms);
  const auto sent = Clock::now();
  client_->Send(kPaperCutAbc);
  const Received got = Collect();
  EXPECT_GE(Clock::now() - sent, 300ms);
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);
}

TEST_P(SimulatorTest, AnswersWithAnotherSequenceNumber) {
  sim_->Faults().WrongSeqNext();
  client_->Send(kPaperCutAbc);
  const Received got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  const auto reply = ParseReply(got.frames[0]);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->checkOk);
  EXPECT_NE(reply->seq, 0x20);
  EXPECT_EQ(reply->cmd, 0x2D);
}

TEST_P(SimulatorTest, GoesSilentUntilResumed) {
  sim_->Faults().GoSilent();
  Bytes bad = kPaperCutAbc;
  bad[11] = 0x3E;
  client_->Send(kPaperCutAbc);
  client_->Send(bad);
  ASSERT_TRUE(sim_->ReceivedFrames().WaitForSize(2, kPatience));
  Received got = Collect(1, 300ms);
  EXPECT_TRUE(got.frames.empty());
  EXPECT_EQ(got.naks, 0) << "silence swallows bad frames too";

  sim_->Faults().Resume();
  client_->Send(kPaperCutAbc);
  got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);
  EXPECT_EQ(sim_->WithModel([](DeviceModel &m) { return m.State().cuts; }), 1u) << "swallowed frames are not run";
}

TEST_P(SimulatorTest, StaysSilentForTheNextFrames) {
  sim_->Faults().SilentFor(2);
  client_->Send(BuildRequest(0x20, command::kPaperCut, ""));
  client_->Send(BuildRequest(0x21, command::kPaperCut, ""));
  client_->Send(BuildRequest(0x22, command::kPaperCut, ""));
  const Received got = Collect();
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(ParseReply(got.frames[0])->seq, 0x22);
  EXPECT_EQ(sim_->ReceivedFrames().Size(), 3u);
}

TEST_P(SimulatorTest, ClosedPortFailsTheHost) {
  EXPECT_EQ(Exchange(0x20, command::kPaperCut, "").status, kStatusIdle);
  sim_->ClosePort();
  EXPECT_TRUE(sim_->PortClosed());
  EXPECT_TRUE(Collect(1).linkGone);
}

TEST_P(SimulatorTest, VanishesWhenTheNextFrameArrives) {
  sim_->Faults().VanishOnNext();
  client_->Send(kPaperCutAbc);
  const Received got = Collect();
  EXPECT_TRUE(got.linkGone);
  EXPECT_TRUE(got.frames.empty());
  EXPECT_EQ(sim_->ReceivedFrames().Size(), 1u);
  EXPECT_TRUE(sim_->PortClosed());
}

TEST_P(SimulatorTest, StopCutsLongWaitsShort) {
  sim_->Faults().DelayNext(10min);
  client_->Send(kPaperCutAbc);
  ASSERT_TRUE(sim_->ReceivedFrames().WaitForSize(1, kPatience));
  const auto start = Clock::now();
  sim_->Stop();
  EXPECT_LT(Clock::now() - start, kPatience);
}

TEST_P(SimulatorTest, PacedLineTakesTheWireTimeOfBothFrames) {
  SimulatorOptions paced;
  paced.baud = 2400;
  Open(paced);
  const auto sent = Clock::now();
  client_->Send(kPaperCutAbc);
  const Received got = Collect();
  // 13 + 17 bytes of 10 bits at 2400 baud take 125 ms.
  EXPECT_GE(Clock::now() - sent, 120ms);
  ASSERT_EQ(got.frames.size(), 1u);
  EXPECT_EQ(got.frames[0], kPaperCutReply);
}

TEST_P(SimulatorTest, HandlersRegisteredOnTheRunningSimulatorAnswer) {
  sim_->WithModel([](DeviceModel &m) {
    m.Register(0x70, [](DeviceModel &, std::string_view data) { return Answer::Ok("echo " + std::string(data)); });
  });
  EXPECT_EQ(Exchange(0x20, 0x70, "hi").data, "echo hi");
}

INSTANTIATE_TEST_SUITE_P(Links, SimulatorTest, ::testing::Values(Transport::Pty, Transport::Pipe),
                         [](const ::testing::TestParamInfo<Transport> &link) {
                           return link.param == Transport::Pty ? "Pty" : "Pipe";
                         });

TEST(PtySimulatorTest, ServesOneHostAfterAnother) {
  Simulator sim(OpenPtyLink());
  sim.Start();
  for (uint8_t seq : {0x20, 0x21}) {
    PtyClient client(sim.PortName());
    client.Send(BuildRequest(seq, command::kPaperCut, ""));
    uint8_t buffer[64];
    size_t got = 0;
    const auto deadline = Clock::now() + kPatience;
    while (got < kReplyOverhead && Clock::now() < deadline) {
      const ptrdiff_t n = client.Read(buffer + got, sizeof buffer - got, 100ms);
      ASSERT_GE(n, 0);
      got += static_cast<size_t>(n);
    }
    EXPECT_EQ(Bytes(buffer, buffer + got), BuildReply(seq, command::kPaperCut, "", kStatusIdle));
    client.Close();
  }
}

TEST(PipeSimulatorTest, HostClosingThePipeEndsServingQuietly) {
  BytePipe pipe = MakeBytePipe();
  Simulator sim(std::move(pipe.device));
  sim.Start();
  pipe.host.Close();
  uint8_t byte = 0;
  EXPECT_EQ(pipe.host.Read(&byte, 1, 100ms), -1);
  EXPECT_FALSE(pipe.host.Write(kPaperCutAbc));
  sim.ClosePort();  // already gone: returns at once
  EXPECT_TRUE(sim.PortClosed());
  sim.Stop();
}

}  // namespace
}  // namespace fiscalsim
