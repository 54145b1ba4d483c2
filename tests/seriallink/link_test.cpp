// The connection as the printer library and the service tool use it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "seriallink/link.h"
#include "test_support.h"

extern char **environ;

namespace seriallink {
namespace {

using testing::Clock;
using testing::RawDevice;
using namespace std::chrono_literals;

constexpr uint8_t kEcho = 0xE0;  // a command the tests teach the simulator

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
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

  fiscalsim::Simulator sim_{fiscalsim::OpenPtyLink()};
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

TEST_F(LinkTest, ReplyWithoutStatusGives10004AndKeepsThePreviousStatus) {
  RawDevice device;
  ASSERT_EQ(Connect(device.Path(), 115200, 8, 0, 0), kSuccess);
  auto answer = [&](bool withStatus) {
    const auto frame = device.NextFrame();
    ASSERT_TRUE(frame);
    if (withStatus) return device.Reply(frame->seq, frame->cmd, "ok", {0xA0, 0x80, 0x80, 0x80, 0x80, 0x80});
    device.Send(fiscalsim::BuildRequest(frame->seq, frame->cmd, "no status"));
  };
  auto first = std::async(std::launch::async, [] { return RunCommand(kEcho, ""); });
  answer(true);
  EXPECT_EQ(first.get().data, "ok");
  auto second = std::async(std::launch::async, [] { return Command(kEcho, ""); });
  answer(false);
  const CommandResult r = second.get();
  EXPECT_EQ(r.code, kBadAnswer);
  EXPECT_EQ(r.reply, "");
  EXPECT_EQ(r.status, "200000000000");
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
  EXPECT_EQ(sim_.ReceivedFrames().Size(), 5u);
}

TEST_F(LinkTest, PosFlavourWaitsOutAReplyThatTheToolFlavourAsksForAgain) {
  for (const Flavour flavour : {Flavour::Pos(), Flavour::Tool()}) {
    SetFlavour(flavour);
    ASSERT_EQ(ConnectSim(), kSuccess);
    sim_.Faults().DelayNext(900ms);
    EXPECT_EQ(RunCommand(kEcho, "late").data, "late");
    const size_t sent = flavour.replyTimeout > 900ms ? 1 : 2;
    sim_.ReceivedFrames().WaitForSize(sent, 2s);
    EXPECT_EQ(sim_.ReceivedFrames().Size(), sent);
    EXPECT_EQ(Disconnect(), 0);
    sim_.ReceivedFrames().Clear();
  }
}

TEST(ProgramTest, ReachesTheSimulatorProgramByItsComName) {
  char dir[] = "/tmp/seriallink-com-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  ::setenv("FISCAL_COM_DIR", dir, 1);
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  char *argv[] = {const_cast<char *>(FISCAL_SIM_PATH), const_cast<char *>("--com"), const_cast<char *>("COM7"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  // The program prints its alias once it serves it.
  pollfd p{out[0], POLLIN, 0};
  char line[256] = {};
  EXPECT_EQ(::poll(&p, 1, 10000), 1);
  EXPECT_GT(::read(out[0], line, sizeof line - 1), 0);

  EXPECT_EQ(Connect("COM7", 115200, 8, 0, 0), kSuccess) << line;
  const CommandResult r = Command(0x3E, "");
  EXPECT_EQ(r.code, kSuccess);
  EXPECT_EQ(r.reply.size(), 17u) << r.reply;  // DD-MM-YY HH:MM:SS
  EXPECT_EQ(r.status, "000000000000");
  EXPECT_EQ(Disconnect(), 0);

  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  ::close(out[0]);
  ::unsetenv("FISCAL_COM_DIR");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace seriallink
