// A program started by a test, with its standard output and error in one file; killed if it
// outlives the test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "wait_for.h"

extern char **environ;

namespace fiscal_test {

// A program with its standard output and error in files; killed if it outlives the test.
class Program {
 public:
  Program(std::vector<std::string> args, const std::filesystem::path &out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) const { ::kill(pid_, signal); }

  // The exit code, or nothing when it did not end within `limit` (then it is killed).
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended = fiscal_test::WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace fiscal_test
