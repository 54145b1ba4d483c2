// fiscal-sim, fiscal-probe and fiscal-pty-pair run as the programs they are.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "fiscalsim/frame_codec.h"
#include "fiscalsim/port_alias.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/serial_link.h"
#include "fiscalsim/simulator.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "sim_program_posix.h"
#include "wait_for.h"

extern char **environ;

namespace fiscalsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 10s;

// A child process with its stdout and stderr on pipes.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    int out[2], err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0) << argv[0];
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }

  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(out_);
    ::close(err_);
  }

  pid_t Pid() const { return pid_; }

  // One line of stdout, without its newline; empty when none came in time.
  std::string ReadLine() {
    const auto deadline = Clock::now() + kPatience;
    while (out_text_.find('\n') == std::string::npos && Pump(deadline)) {
    }
    const size_t end = out_text_.find('\n');
    if (end == std::string::npos) return {};
    std::string line = out_text_.substr(0, end);
    out_text_.erase(0, end + 1);
    return line;
  }

  // The exit code once the process ended (killed when it outlives the patience); -1 if killed
  // by a signal.
  int Wait() {
    const auto deadline = Clock::now() + kPatience;
    while (Pump(deadline)) {
    }
    if (!outOpen_ || !errOpen_) ::kill(pid_, SIGKILL);  // the time ran out with pipes still open
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string &Out() const { return out_text_; }
  const std::string &Err() const { return err_text_; }

  // False when stderr did not show the text in time.
  bool WaitForErr(std::string_view text) {
    const auto deadline = Clock::now() + kPatience;
    while (err_text_.find(text) == std::string::npos) {
      if (!Pump(deadline)) return false;
    }
    return true;
  }

 private:
  // Reads what either pipe has; false once both are at their end or the deadline passed.
  bool Pump(Clock::time_point deadline) {
    if (outEof_ && errEof_) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fds[2] = {{outEof_ ? -1 : out_, POLLIN, 0}, {errEof_ ? -1 : err_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(left)) <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char buffer[512];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) (i == 0 ? outEof_ : errEof_) = true;
      else (i == 0 ? out_text_ : err_text_).append(buffer, static_cast<size_t>(n));
    }
    outOpen_ = !outEof_;
    errOpen_ = !errEof_;
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool outEof_ = false;
  bool errEof_ = false;
  bool outOpen_ = true;
  bool errOpen_ = true;
  std::string out_text_;
  std::string err_text_;
};

// Clock ticks of CPU time the process has used (user + system).
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  // After the name: state is field 3, utime 14, stime 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

// True once the process spent at most `ticks` of CPU in one `window`, trying up to `windows`
// of them: work that was still under way when the wait began (a hang-up being handled) only
// delays the answer, while a process that spins never has such a window.
bool BecomesIdle(pid_t pid, std::chrono::milliseconds window, long ticks, int windows = 5) {
  for (int i = 0; i < windows; ++i) {
    const long before = CpuTicks(pid);
    std::this_thread::sleep_for(window);
    if (CpuTicks(pid) - before <= ticks) return true;
  }
  return false;
}

fs::path AliasTarget(const fs::path &alias) {
  std::error_code error;
  return fs::read_symlink(alias, error);
}

using ProgramsTest = fiscal_test::SimProgramTest;

const Bytes kPaperCutAbc = {0x01, 0x27, 0x20, 0x2D, 0x61, 0x62, 0x63, 0x05, 0x30, 0x31, 0x39, 0x3F, 0x03};
const Bytes kPaperCutReply = {0x01, 0x2B, 0x20, 0x2D, 0x04, 0x80, 0x80, 0x80, 0x80,
                              0x80, 0x80, 0x05, 0x30, 0x33, 0x38, 0x31, 0x03};

TEST_F(ProgramsTest, SimulatorServesItsAliasIdlesWithoutCpuAndCleansUpOnSigterm) {
  Child sim({FISCAL_SIM_PATH, "--com", "com7"});
  const std::string line = sim.ReadLine();
  const std::string prefix = "fiscal-sim: COM7 -> ";
  ASSERT_EQ(line.substr(0, prefix.size()), prefix) << line << sim.Err();
  const fs::path alias = dir_ / "COM7";
  EXPECT_EQ(AliasTarget(alias), line.substr(prefix.size()));
  EXPECT_EQ(platform::ResolvePortName("COM7"), alias.string());

  {
    platform::SerialPort port;
    ASSERT_EQ(port.Open("COM7"), 0);
    ASSERT_EQ(port.Write(kPaperCutAbc.data(), kPaperCutAbc.size(), kPatience), kPaperCutAbc.size());
    Bytes reply;
    const auto deadline = Clock::now() + kPatience;
    while (reply.size() < kPaperCutReply.size() && Clock::now() < deadline) {
      if (port.WaitReadable(100ms) != platform::WaitResult::Readable) continue;
      uint8_t buffer[64];
      const ptrdiff_t n = port.Read(buffer, sizeof buffer);
      ASSERT_GE(n, 0);
      reply.insert(reply.end(), buffer, buffer + n);
    }
    EXPECT_EQ(reply, kPaperCutReply);
  }

  // After a host came and went, the simulator must be blocked, not spinning.
  EXPECT_TRUE(BecomesIdle(sim.Pid(), 1s, 5)) << "the simulator spins after its host left";

  ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
  EXPECT_EQ(sim.Wait(), 0) << sim.Err();
  EXPECT_FALSE(fs::exists(fs::symlink_status(alias)));
}

TEST_F(ProgramsTest, SimulatorRefusesAnAliasInUseAndReplacesAStaleOne) {
  const fs::path alias = dir_ / "COM7";
  fs::create_symlink("/dev/null", alias);
  {
    Child sim({FISCAL_SIM_PATH, "--com", "COM7"});
    EXPECT_EQ(sim.Wait(), 1);
    EXPECT_NE(sim.Err().find("in use"), std::string::npos) << sim.Err();
    EXPECT_EQ(AliasTarget(alias), "/dev/null");
  }

  fs::remove(alias);
  fs::create_symlink(dir_ / "gone", alias);
  Child sim({FISCAL_SIM_PATH, "--com", "COM7"});
  const std::string line = sim.ReadLine();
  ASSERT_NE(line.find("/dev/pts/"), std::string::npos) << line << sim.Err();
  EXPECT_EQ(AliasTarget(alias).string().substr(0, 9), "/dev/pts/");
  ASSERT_EQ(::kill(sim.Pid(), SIGINT), 0);
  EXPECT_EQ(sim.Wait(), 0) << sim.Err();
  EXPECT_FALSE(fs::exists(fs::symlink_status(alias)));
}

// Where the alias goes: the default place ($XDG_RUNTIME_DIR/fiscal-com) or one named by
// FISCAL_COM_DIR, in the state a case leaves it. A case with `why` is refused with that reason.
// The rule itself is the port names' (tests/platform); these are the ways into it from here.
struct AliasDirCase {
  const char *what;
  bool named;
  enum Kind { Missing, Dir, LinkToDir, File } kind;
  fs::perms mode;
  bool foreign;     // owned by another account: only root can make one
  const char *why;  // nullptr: the alias is made
};

void PrintTo(const AliasDirCase &c, std::ostream *os) { *os << c.what; }

const AliasDirCase kAliasDirCases[] = {
    {"MissingIsMadePrivate", false, AliasDirCase::Missing, fs::perms::none, false, nullptr},
    {"AnyoneMayWrite", false, AliasDirCase::Dir, fs::perms::all, false, "is writable by others (mode 0777)"},
    {"LinkToPrivateDir", false, AliasDirCase::LinkToDir, fs::perms::owner_all, false, "is a symbolic link"},
    {"RegularFile", false, AliasDirCase::File, fs::perms::none, false, "is not a directory"},
    {"AnotherAccounts", false, AliasDirCase::Dir, fs::perms::owner_all, true, "belongs to another account (uid 1)"},
    {"NamedThroughALink", true, AliasDirCase::LinkToDir, fs::perms::owner_all, false, nullptr},
};

class AliasDirTest : public ProgramsTest, public ::testing::WithParamInterface<AliasDirCase> {
 protected:
  void SetUp() override {
    ProgramsTest::SetUp();
    if (const char *run = std::getenv("XDG_RUNTIME_DIR")) savedRuntime_ = run;
  }
  void TearDown() override {
    if (savedRuntime_) ::setenv("XDG_RUNTIME_DIR", savedRuntime_->c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    ProgramsTest::TearDown();
  }

  std::optional<std::string> savedRuntime_;
};

TEST_P(AliasDirTest, TheAliasGoesOnlyIntoAPrivateDirectory) {
  const AliasDirCase &c = GetParam();
  if (c.foreign && ::geteuid() != 0) GTEST_SKIP() << "only root can give a directory to another account";
  const fs::path dir = dir_ / "fiscal-com";
  const fs::path real = c.kind == AliasDirCase::LinkToDir ? dir_ / "real" : dir;
  switch (c.kind) {
    case AliasDirCase::Missing: break;
    case AliasDirCase::File: std::ofstream(dir).put('x'); break;
    case AliasDirCase::Dir:
    case AliasDirCase::LinkToDir:
      fs::create_directory(real);
      if (c.foreign) {
        ASSERT_EQ(::chown(real.c_str(), 1, 1), 0) << errno;
      }
      fs::permissions(real, c.mode);
      if (real != dir) fs::create_directory_symlink(real, dir);
      break;
  }
  if (c.named) {
    ::setenv("FISCAL_COM_DIR", dir.c_str(), 1);
  } else {
    ::unsetenv("FISCAL_COM_DIR");
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }

  std::string error;
  const std::unique_ptr<PortAlias> alias = PortAlias::Create("com7", "/dev/pts/999", &error);
  if (c.why == nullptr) {
    ASSERT_NE(alias, nullptr) << error;
    EXPECT_EQ(alias->Path(), (dir / "COM7").string());
    EXPECT_EQ(AliasTarget(real / "COM7"), "/dev/pts/999");
    EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_all);
    return;
  }
  EXPECT_EQ(alias, nullptr);
  EXPECT_EQ(error, "com7 is refused: " + dir.string() + " " + c.why);
  if (c.kind != AliasDirCase::File) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(real / "COM7")));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AliasDirTest, ::testing::ValuesIn(kAliasDirCases),
                         [](const ::testing::TestParamInfo<AliasDirCase> &p) { return std::string(p.param.what); });

TEST_F(ProgramsTest, BadUsageExitsWithTwo) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"--com"},
                                                                             {"--com", "LPT1"},
                                                                             {"--com", "COM0"},
                                                                             {"--baud", "fast"},
                                                                             {"--baud", "0"},
                                                                             {"--bogus"},
                                                                             {"--port"},
                                                                             {"--port", ""},
                                                                             {"--com", "COM7", "--port", "/dev/null"},
                                                                             {"--state"},
                                                                             {"--state", ""}}) {
    args.insert(args.begin(), FISCAL_SIM_PATH);
    Child sim(args);
    EXPECT_EQ(sim.Wait(), 2) << args[1] << ' ' << args.back();
    EXPECT_NE(sim.Err().find("usage"), std::string::npos);
  }
  Child help({FISCAL_SIM_PATH, "--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Out().find("usage: fiscal-sim"), std::string::npos);

  Child probe({FISCAL_PROBE_PATH, "COM7", "300"});
  EXPECT_EQ(probe.Wait(), 2);
}

// The cut's reply through a host's port, or what came before the port failed.
Bytes CutThrough(platform::SerialPort &port) {
  Bytes reply;
  if (port.Write(kPaperCutAbc.data(), kPaperCutAbc.size(), kPatience) != kPaperCutAbc.size()) return reply;
  const auto deadline = Clock::now() + kPatience;
  while (reply.size() < kPaperCutReply.size() && Clock::now() < deadline) {
    const platform::WaitResult wait = port.WaitReadable(100ms);
    if (wait == platform::WaitResult::TimedOut) continue;
    uint8_t buffer[64];
    const ptrdiff_t n = wait == platform::WaitResult::Readable ? port.Read(buffer, sizeof buffer) : -1;
    if (n < 0) break;
    reply.insert(reply.end(), buffer, buffer + n);
  }
  return reply;
}

TEST_F(ProgramsTest, FaultScriptIsCheckedFirstAndATimedVanishComesBackUnderTheAlias) {
  const fs::path script = dir_ / "faults.txt";
  std::ofstream(script) << "after 1 frames: vanish 1000\nafter 3 frames: refuze 2\n";
  Child bad({FISCAL_SIM_PATH, "--com", "COM7", "--faults", script.string()});
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_EQ(bad.Err(), "fiscal-sim: " + script.string() + ":2: unknown action 'refuze'\n");
  EXPECT_EQ(bad.Out(), "") << "nothing was served";
  Child help({FISCAL_SIM_PATH, "--faults-help"});
  EXPECT_EQ(help.Wait(), 0);
  for (const char *action : {"refuse", "busy", "delay", "bad-check", "wrong-seq", "silence", "error-flag", "vanish"}) {
    EXPECT_NE(help.Out().find(std::string("\n  ") + action + " "), std::string::npos) << action;
  }

  std::ofstream(script) << "after 1 frames: vanish 1000\n";
  Child sim({FISCAL_SIM_PATH, "--com", "COM7", "--faults", script.string()});
  const std::string prefix = "fiscal-sim: COM7 -> ";
  const std::string first = sim.ReadLine();
  ASSERT_EQ(first.substr(0, prefix.size()), prefix) << first << sim.Err();
  platform::SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  EXPECT_EQ(CutThrough(port), kPaperCutReply);
  EXPECT_TRUE(CutThrough(port).empty()) << "the second frame makes the port vanish";
  port.Close();
  EXPECT_NE(port.Open("COM7"), 0) << "gone until its time is up";

  const std::string again = sim.ReadLine();
  ASSERT_EQ(again.substr(0, prefix.size()), prefix) << again << sim.Err();
  EXPECT_EQ(AliasTarget(dir_ / "COM7"), again.substr(prefix.size()));
  ASSERT_EQ(port.Open("COM7"), 0);
  EXPECT_EQ(CutThrough(port), kPaperCutReply);

  // SIGHUP replaces the rules, and frames are counted anew from there.
  std::ofstream(script) << "after 1 frames: error-flag\n";
  ASSERT_EQ(::kill(sim.Pid(), SIGHUP), 0);
  ASSERT_TRUE(sim.WaitForErr("read again (1 rule)")) << sim.Err();
  EXPECT_EQ(CutThrough(port), kPaperCutReply);
  EXPECT_EQ(CutThrough(port), BuildReply(0x20, command::kPaperCut, "", {0xA0, 0x80, 0x80, 0x80, 0x80, 0x80}));
  port.Close();
  ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
  EXPECT_EQ(sim.Wait(), 0) << sim.Err();
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM7")));
}

TEST_F(ProgramsTest, ProbeShowsTheReplyAndFailsOnRefusal) {
  Simulator sim(OpenPtyLink());
  sim.WithModel([](DeviceModel &m) { m.State().headerLines[2] = "HELLO"; });
  sim.Start();

  Child good({FISCAL_PROBE_PATH, sim.PortName(), "0x2B", "I2"});
  EXPECT_EQ(good.Wait(), 0) << good.Out();
  EXPECT_NE(good.Out().find("request: 01 26 20 2B 49 32 05"), std::string::npos) << good.Out();
  EXPECT_NE(good.Out().find("\"HELLO\""), std::string::npos) << good.Out();
  EXPECT_NE(good.Out().find("80 80 80 80 80 80"), std::string::npos) << good.Out();
  ASSERT_EQ(sim.ReceivedFrames().Size(), 1u);
  EXPECT_EQ(sim.ReceivedFrames().Entries()[0].data, "I2");

  sim.Faults().BusyBeforeNext(20ms, 50ms);
  Child busy({FISCAL_PROBE_PATH, sim.PortName(), "43", "I2"});
  EXPECT_EQ(busy.Wait(), 0) << busy.Out();

  sim.Faults().NakNext(1);
  Child refused({FISCAL_PROBE_PATH, sim.PortName(), "43", "I2"});
  EXPECT_EQ(refused.Wait(), 1);
  EXPECT_NE(refused.Out().find("NAK"), std::string::npos) << refused.Out();

  sim.Faults().CorruptNextCheck();
  Child corrupt({FISCAL_PROBE_PATH, sim.PortName(), "43", "I2"});
  EXPECT_EQ(corrupt.Wait(), 1);
}

// One request and the data of its reply; nothing when no reply came in time.
std::optional<std::string> Ask(platform::SerialPort &port, uint8_t seq, uint8_t cmd, std::string_view data) {
  const Bytes request = BuildRequest(seq, cmd, data);
  if (port.Write(request.data(), request.size(), kPatience) != request.size()) return std::nullopt;
  ReplyReader reader;
  std::vector<ReplyReader::Event> events;
  const auto deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    if (port.WaitReadable(100ms) != platform::WaitResult::Readable) continue;
    uint8_t buffer[256];
    const ptrdiff_t n = port.Read(buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    reader.Feed(std::span(buffer, static_cast<size_t>(n)), events);
    for (const auto &event : events) {
      if (event.kind == ReplyReader::Kind::Frame) {
        const auto reply = ParseReply(event.frame);
        if (!reply) return std::nullopt;
        return reply->data;
      }
    }
  }
  return std::nullopt;
}

TEST_F(ProgramsTest, TheDeviceStateOutlivesAKilledSimulatorAndABadFileStopsTheStart) {
  const fs::path state = dir_ / "shop.json";
  const std::string prefix = "fiscal-sim: ";
  {
    Child sim({FISCAL_SIM_PATH, "--state", state.string()});
    const std::string line = sim.ReadLine();
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line << sim.Err();
    platform::SerialPort port;
    ASSERT_EQ(port.Open(line.substr(prefix.size())), 0);
    EXPECT_EQ(Ask(port, 0x20, command::kOpenReceipt, "1,1,1"), "1,1");
    EXPECT_EQ(Ask(port, 0x21, command::kSale, "Milk\tA1.50*2,0"), "");
    EXPECT_EQ(Ask(port, 0x22, command::kTotal, "\t"), "D0.00");
    EXPECT_EQ(Ask(port, 0x23, command::kCloseReceipt, ""), "1,1");
    // The next receipt is still open when the power goes.
    EXPECT_EQ(Ask(port, 0x24, command::kOpenReceipt, "1,1,1"), "2,2");
    EXPECT_EQ(Ask(port, 0x25, command::kSale, "Bread\tB2.00*1,0"), "");
    ASSERT_EQ(::kill(sim.Pid(), SIGKILL), 0);
    EXPECT_EQ(sim.Wait(), -1);
    EXPECT_NE(sim.Err().find("new device state in " + state.string()), std::string::npos) << sim.Err();
  }
  struct stat st {};
  ASSERT_EQ(::stat(state.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  {
    Child sim({FISCAL_SIM_PATH, "--state", state.string()});
    const std::string line = sim.ReadLine();
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line << sim.Err();
    platform::SerialPort port;
    ASSERT_EQ(port.Open(line.substr(prefix.size())), 0);
    EXPECT_EQ(Ask(port, 0x20, command::kTotal, "\tP5.00"), "D3.00");
    EXPECT_EQ(Ask(port, 0x21, command::kCloseReceipt, ""), "2,2");
    EXPECT_EQ(Ask(port, 0x22, command::kOpenReceipt, "1,1,1"), "3,3");
    EXPECT_EQ(Ask(port, 0x23, command::kSale, "Eggs\tA0.50*1,0"), "");
    EXPECT_EQ(Ask(port, 0x24, command::kTotal, "\t"), "D0.00");
    EXPECT_EQ(Ask(port, 0x25, command::kCloseReceipt, ""), "3,3");
    EXPECT_EQ(Ask(port, 0x26, command::kDaySums, ""), "5.50,0.00,0.00");
    EXPECT_EQ(Ask(port, 0x27, command::kDaySumsByGroup, ""), "3.50,2.00,0.00,0.00,0.00");
    ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
    EXPECT_EQ(sim.Wait(), 0) << sim.Err();
  }

  // A file it cannot take: exit status 1 before serving, and the file as it was.
  const std::string cut = "{\"format\": \"fiscal-sim-state\", \"version\": 1, \"receipts\": ";
  std::ofstream(state, std::ios::binary | std::ios::trunc) << cut;
  Child bad({FISCAL_SIM_PATH, "--state", state.string()});
  EXPECT_EQ(bad.Wait(), 1);
  EXPECT_EQ(bad.Out(), "");
  EXPECT_EQ(bad.Err().rfind("fiscal-sim: " + state.string() + ": not valid JSON (", 0), 0u) << bad.Err();
  std::ifstream in(state, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), cut);
}

// fiscal-pty-pair, its two slave paths read from its first line of output.
class PtyPair {
 public:
  PtyPair() : child_({FISCAL_PTY_PAIR_PATH}) {
    std::istringstream line(child_.ReadLine());
    line >> a_ >> b_;
  }
  ~PtyPair() { Stop(); }
  // SIGTERM; the exit code.
  int Stop() {
    if (stopped_) return code_;
    stopped_ = true;
    ::kill(child_.Pid(), SIGTERM);
    code_ = child_.Wait();
    return code_;
  }
  const std::string &A() const { return a_; }
  const std::string &B() const { return b_; }
  Child &Process() { return child_; }

 private:
  Child child_;
  std::string a_, b_;
  bool stopped_ = false;
  int code_ = -1;
};

// Reads exactly `count` bytes or what came before the patience ran out.
std::vector<uint8_t> ReadExactly(platform::SerialPort &port, size_t count) {
  std::vector<uint8_t> got;
  const auto deadline = Clock::now() + kPatience;
  while (got.size() < count && Clock::now() < deadline) {
    if (port.WaitReadable(std::chrono::milliseconds(200)) != platform::WaitResult::Readable) continue;
    uint8_t buffer[4096];
    const ptrdiff_t n = port.Read(buffer, std::min(sizeof buffer, count - got.size()));
    if (n < 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

TEST(PtyPairProgram, CopiesBytesBothWaysExactlyAndOutlivesItsUsers) {
  PtyPair pair;
  ASSERT_EQ(pair.A().rfind("/dev/pts/", 0), 0u) << pair.A();
  ASSERT_EQ(pair.B().rfind("/dev/pts/", 0), 0u) << pair.B();
  std::vector<uint8_t> all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  // More than the pseudo-terminals buffer, so the copier has to wait for the reader.
  std::vector<uint8_t> big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + i / 977);
  for (int round = 0; round < 2; ++round) {
    platform::SerialPort a, b;
    ASSERT_EQ(a.Open(pair.A()), 0);
    ASSERT_EQ(b.Open(pair.B()), 0);
    ASSERT_EQ(a.Write(all.data(), all.size(), 5s), all.size());
    EXPECT_EQ(ReadExactly(b, all.size()), all) << round;
    ASSERT_EQ(b.Write(all.data(), all.size(), 5s), all.size());
    EXPECT_EQ(ReadExactly(a, all.size()), all) << round;
    std::thread writer([&] { EXPECT_EQ(b.Write(big.data(), big.size(), kPatience), big.size()); });
    EXPECT_EQ(ReadExactly(a, big.size()), big) << round;
    writer.join();
    // Both ends close here; the next round opens them again.
  }
  EXPECT_TRUE(BecomesIdle(pair.Process().Pid(), 500ms, 2)) << "the pair spins while idle";
  EXPECT_EQ(pair.Stop(), 0) << pair.Process().Err();
}

TEST(PtyPairProgram, MakesAndRemovesTheLinksAskedFor) {
  const fs::path dir = fs::temp_directory_path() / ("pty-pair-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  {
    Child child({FISCAL_PTY_PAIR_PATH, "--link-a", (dir / "a").string(), "--link-b", (dir / "b").string()});
    std::istringstream line(child.ReadLine());
    std::string a, b;
    line >> a >> b;
    EXPECT_EQ(fs::read_symlink(dir / "a").string(), a);
    EXPECT_EQ(fs::read_symlink(dir / "b").string(), b);
    ::kill(child.Pid(), SIGTERM);
    EXPECT_EQ(child.Wait(), 0);
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "a")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "b")));
  fs::remove_all(dir);
  Child bad({FISCAL_PTY_PAIR_PATH, "--link-c", "x"});
  EXPECT_EQ(bad.Wait(), 2);
}

TEST(SerialLink, SimulatorServesOneEndOfAPairAndTheHostTheOther) {
  PtyPair pair;
  Simulator sim(OpenSerialLink(pair.B(), pair.A()));
  EXPECT_EQ(sim.PortName(), pair.A());
  sim.Start();
  platform::SerialPort host;
  ASSERT_EQ(host.Open(pair.A()), 0);
  const Bytes request = BuildRequest(0x20, 0x2B, "I2");
  ASSERT_EQ(host.Write(request.data(), request.size(), 5s), request.size());
  const Bytes reply = ReadExactly(host, BuildReply(0x20, 0x2B, "", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80}).size());
  ASSERT_GE(reply.size(), 4u);
  EXPECT_EQ(reply[0], 0x01);
  EXPECT_EQ(reply[2], 0x20);
  EXPECT_EQ(reply[3], 0x2B);
  ASSERT_TRUE(sim.ReceivedFrames().WaitForSize(1, fiscal_test::kPatience));
  EXPECT_EQ(sim.ReceivedFrames().Entries()[0].raw, request);

  // Faults travel the same way; an idle link costs the process nothing.
  sim.ReceivedFrames().Clear();
  sim.Faults().NakNext(1);
  ASSERT_EQ(host.Write(request.data(), request.size(), 5s), request.size());
  EXPECT_EQ(ReadExactly(host, 1), Bytes{0x15});
  EXPECT_TRUE(BecomesIdle(::getpid(), 500ms, 2)) << "an idle link spins";

  // The device vanishes: its end closes, the host just hears nothing, and the end is free.
  sim.ClosePort();
  EXPECT_TRUE(sim.PortClosed());
  ASSERT_EQ(host.Write(request.data(), request.size(), 5s), request.size());
  EXPECT_EQ(host.WaitReadable(300ms), platform::WaitResult::TimedOut);
  platform::SerialPort again;
  EXPECT_EQ(again.Open(pair.B()), 0);
  const auto start = Clock::now();
  sim.Stop();
  EXPECT_LT(Clock::now() - start, 2s);
}

// The simulator program on the far end of the pair, as scripts/run-windows puts it behind COM6.
TEST(PtyPairProgram, TheSimulatorProgramServesOneEndGivenAsItsPort) {
  PtyPair pair;
  Child sim({FISCAL_SIM_PATH, "--port", pair.B()});
  ASSERT_EQ(sim.ReadLine(), "fiscal-sim: serving " + pair.B()) << sim.Err();
  platform::SerialPort host;
  ASSERT_EQ(host.Open(pair.A()), 0);
  ASSERT_EQ(host.Write(kPaperCutAbc.data(), kPaperCutAbc.size(), 5s), kPaperCutAbc.size());
  EXPECT_EQ(ReadExactly(host, kPaperCutReply.size()), kPaperCutReply);
  ASSERT_EQ(::kill(sim.Pid(), SIGTERM), 0);
  EXPECT_EQ(sim.Wait(), 0) << sim.Err();

  Child missing({FISCAL_SIM_PATH, "--port", "/dev/fiscal-no-such-port"});
  EXPECT_EQ(missing.Wait(), 1);
  EXPECT_NE(missing.Err().find("fiscal-no-such-port"), std::string::npos) << missing.Err();
}

TEST(SerialLink, StopEndsAnIdleServingThreadAtOnceAndAMissingPortThrows) {
  PtyPair pair;
  {
    Simulator sim(OpenSerialLink(pair.B(), pair.A()));
    sim.Start();
    std::this_thread::sleep_for(50ms);
    const auto start = Clock::now();
    sim.Stop();
    EXPECT_LT(Clock::now() - start, 1s);
  }
  EXPECT_THROW(OpenSerialLink("/dev/fiscal-no-such-port", "COM5"), std::system_error);
  platform::SerialPort busy;
  ASSERT_EQ(busy.Open(pair.B()), 0);
  EXPECT_THROW(OpenSerialLink(pair.B(), pair.A()), std::system_error) << "a port already in use";
}

}  // namespace
}  // namespace fiscalsim
