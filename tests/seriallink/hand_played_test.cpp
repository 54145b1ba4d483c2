// Devices played by hand on a pseudo-terminal, for what the simulator will not do (answer with
// another command code, leave out the status, send bytes unasked), and the simulator program
// reached by its COM name.
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

#include "seriallink/link.h"
#include "seriallink/port.h"
#include "seriallink/result_codes.h"
#include "test_support.h"
#include "wait_for.h"

extern char **environ;

namespace seriallink {
namespace {

using fiscalsim::Bytes;
using testing::Clock;
using testing::MakeFrame;
using testing::RawDevice;
using testing::ToBytes;
using namespace std::chrono_literals;

constexpr uint8_t kEcho = 0xE0;

class HandPlayedExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(dlg_.Open(), 0); }

  std::future<int> Start(uint16_t code, std::string_view data, Millis timeout) {
    sent_ = MakeFrame(dlg_, code, data);
    return std::async(std::launch::async,
                      [this, timeout] { return dlg_.Transact(sent_.bytes.data(), sent_.length, timeout, reply_); });
  }

  // The next frame must be the one sent.
  fiscalsim::ReceivedFrame Expect() {
    auto frame = device_.NextFrame();
    if (!frame) {
      ADD_FAILURE() << "no frame";
      return {};
    }
    EXPECT_EQ(frame->raw, ToBytes(sent_));
    return *frame;
  }

  RawDevice device_;
  CCommDlg dlg_{device_.Path(), 115200, 8, 0, 0};
  testing::Frame sent_;
  RCVBLOCK reply_;
};

TEST_F(HandPlayedExchangeTest, ReplyToAnotherCommandIsAMismatchAndTheSameFrameGoesAgain) {
  auto result = Start(0x2C, "1", 2s);
  const auto first = Expect();
  device_.Reply(first.seq, 0x2D, "");
  const auto second = Expect();
  device_.Reply(second.seq, second.cmd, "done");
  EXPECT_EQ(result.get(), kSuccess);
  EXPECT_EQ(CCommDlg::GetReplyData(reply_), "done");
}

TEST_F(HandPlayedExchangeTest, FiveMismatchesGive10005AndTheNextCommandMovesOn) {
  auto result = Start(0x2C, "1", 2s);
  for (int i = 0; i < 5; ++i) {
    const auto frame = Expect();
    device_.Reply(static_cast<uint8_t>(frame.seq + 1), frame.cmd, "");
  }
  EXPECT_EQ(result.get(), kMaxSendCount);
  EXPECT_FALSE(device_.NextFrame(300ms)) << "a sixth write";
  EXPECT_EQ(dlg_.Sequence(), 0x21);
}

TEST_F(HandPlayedExchangeTest, BytesLeftFromBeforeTheCommandAreNotTakenForItsAnswer) {
  // A refusal and a reply nobody asked for, both before the command is sent.
  device_.Send({0x15});
  device_.Reply(0x20, 0x2C, "stale");
  fiscal_test::WaitFor([] { return Blocks().Size() >= 2; });
  ASSERT_EQ(Blocks().Size(), 2u);

  auto result = Start(0x2C, "1", 2s);
  const auto frame = Expect();
  device_.Reply(frame.seq, frame.cmd, "fresh");
  EXPECT_EQ(result.get(), kSuccess);
  EXPECT_EQ(CCommDlg::GetReplyData(reply_), "fresh");
  EXPECT_FALSE(device_.NextFrame(300ms)) << "sent again";
}

TEST(HandPlayedLink, ReplyWithoutStatusGives10004AndKeepsThePreviousStatus) {
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
  EXPECT_EQ(Disconnect(), 0);
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
