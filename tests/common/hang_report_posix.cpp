// A test that hangs is killed at its time-out, and all its log then says is that it started: a
// hang seen once on a loaded machine could not be mended from it. A little before the time-out
// (FISCAL_TEST_TIMEOUT, in seconds, which the build sets for every test) this prints where each
// thread of the test program waits, through gdb where it is installed, and ends the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

extern char **environ;

namespace {

// Where each thread of this process waits, on standard error.
void PrintStacks() {
  // Under Yama's ptrace rules a process may be traced only by one it allows.
  ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
  const std::string pid = std::to_string(::getpid());
  const char *argv[] = {"gdb", "-nx", "-batch", "-p", pid.c_str(), "-ex", "thread apply all bt", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t child = -1;
  if (posix_spawnp(&child, "gdb", &actions, nullptr, const_cast<char *const *>(argv), environ) != 0) {
    std::fprintf(stderr, "hang: gdb is not installed; no stacks\n");
  } else {
    int status = 0;
    ::waitpid(child, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
}

class HangReporter final : public ::testing::EmptyTestEventListener {
 public:
  explicit HangReporter(std::chrono::seconds limit) : limit_(limit) {}

  void OnTestStart(const ::testing::TestInfo &test) override {
    name_ = std::string(test.test_suite_name()) + "." + test.name();
    {
      std::lock_guard lock(mutex_);
      ended_ = false;
    }
    watchdog_ = std::thread([this] { Watch(); });
  }

  void OnTestEnd(const ::testing::TestInfo &) override {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    wake_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, limit_, [this] { return ended_; })) return;
    std::fprintf(stderr, "hang: %s still runs after %lld s; where its threads wait:\n", name_.c_str(),
                 static_cast<long long>(limit_.count()));
    std::fflush(nullptr);
    PrintStacks();
    std::fprintf(stderr, "hang: %s ended by its watchdog\n", name_.c_str());
    std::fflush(nullptr);
    std::_Exit(1);
  }

  const std::chrono::seconds limit_;
  std::string name_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ended_ = false;
  std::thread watchdog_;
};

// Registered before main runs the tests; only where the time-out is known.
const bool kRegistered = [] {
  const char *timeout = std::getenv("FISCAL_TEST_TIMEOUT");
  const long seconds = timeout != nullptr ? std::strtol(timeout, nullptr, 10) : 0;
  if (seconds <= 20) return false;
  // Room for gdb before the test runner's own time-out ends the program.
  const long margin = seconds / 8 > 15 ? seconds / 8 : 15;
  ::testing::UnitTest::GetInstance()->listeners().Append(new HangReporter(std::chrono::seconds(seconds - margin)));
  return true;
}();

}  // namespace
