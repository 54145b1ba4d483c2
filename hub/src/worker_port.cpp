#include "worker_port.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/thread.h"
#include "platform/trace.h"

extern char **environ;

namespace hub {
namespace {

using Clock = std::chrono::steady_clock;

// Workers are started from this one thread, which lasts as long as the process: a worker's
// parent-death signal comes when the thread that started it ends, and callers' threads (a
// server's pool, a test's) come and go.
class Launcher {
 public:
  static Launcher &Instance() {
    static Launcher launcher;
    return launcher;
  }

  // Runs `job` on the launcher's thread and gives its result.
  int Run(const std::function<int()> &job) {
    platform::MutexLock turn(turn_);
    platform::MutexLock lock(mutex_);
    job_ = &job;
    wake_.NotifyAll();
    while (job_ != nullptr) wake_.Wait(mutex_);
    return result_;
  }

 private:
  Launcher() : thread_([this] { Loop(); }) {}
  ~Launcher() {
    {
      platform::MutexLock lock(mutex_);
      stop_ = true;
      wake_.NotifyAll();
    }
    thread_.join();
  }

  void Loop() {
    platform::SetCurrentThreadName("hub-launcher");
    platform::MutexLock lock(mutex_);
    while (!stop_) {
      if (job_ == nullptr) {
        wake_.Wait(mutex_);
        continue;
      }
      result_ = (*job_)();
      job_ = nullptr;
      wake_.NotifyAll();
    }
  }

  platform::Mutex turn_ ACQUIRED_BEFORE(mutex_);  // one job at a time
  platform::Mutex mutex_;
  platform::CondVar wake_;
  const std::function<int()> *job_ GUARDED_BY(mutex_) = nullptr;
  int result_ GUARDED_BY(mutex_) = 0;
  bool stop_ GUARDED_BY(mutex_) = false;
  std::thread thread_;  // last: starts once the rest is made
};

// Starts the worker with `end` as its stdin and stdout, in a process group of its own (a
// terminal's Ctrl-C is for the hub to handle) and with every signal as a new program has it.
int SpawnWorker(const WorkerOptions &options, int end, pid_t *pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, end, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, end, STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  std::string path = options.workerPath;
  std::string port = options.port;
  std::string baud = std::to_string(options.baud);
  char *argv[] = {path.data(), port.data(), baud.data(), nullptr};
  const int error =
      Launcher::Instance().Run([&] { return ::posix_spawn(pid, argv[0], &actions, &attr, argv, environ); });
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

// Sends all of `line` by the deadline; never raises SIGPIPE.
bool SendAll(int fd, std::string_view line, Clock::time_point deadline) {
  while (!line.empty()) {
    const ssize_t n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      line.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, static_cast<int>(std::min<int64_t>(left, int64_t{60} * 60 * 1000))) < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

// Waits in poll() for `fd` to be readable by the deadline.
bool ReadableBy(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd ready{fd, POLLIN, 0};
    const int n = ::poll(&ready, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

// True once the process ended by the deadline (it is not reaped). Without a process descriptor
// (kernels before 5.3) its end of the socket closing stands in, whatever it still sends dropped.
bool EndsBy(pid_t pid, int fd, Clock::time_point deadline) {
  const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (process >= 0) {
    const bool ended = ReadableBy(process, deadline);
    ::close(process);
    return ended;
  }
  while (ReadableBy(fd, deadline)) {
    char chunk[4096];
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return true;
  }
  return false;
}

}  // namespace

WorkerPort::WorkerPort(WorkerOptions options) : options_(std::move(options)) {}

WorkerPort::~WorkerPort() { Stop(); }

void WorkerPort::Stop() {
  platform::MutexLock lock(mutex_);
  End(true);
}

bool WorkerPort::Start() {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    platform::Trace("fiscal-hub: no socket for a worker: %s", std::strerror(errno));
    return false;
  }
  pid_t pid = 0;
  int error = 0;
  try {
    error = SpawnWorker(options_, ends[1], &pid);
  } catch (const std::exception &e) {
    platform::Trace("fiscal-hub: %s", e.what());
    error = EAGAIN;
  }
  ::close(ends[1]);
  if (error != 0) {
    platform::Trace("fiscal-hub: %s does not start: %s", options_.workerPath.c_str(), std::strerror(error));
    ::close(ends[0]);
    return false;
  }
  fd_ = ends[0];
  reader_ = std::make_unique<LineReader>(fd_);
  pid_ = pid;
  return true;
}

void WorkerPort::End(bool gently) {
  if (fd_ < 0) return;
  const pid_t pid = pid_.load();
  // Closing its stdin lets the worker disconnect (about 0.2 s) and exit.
  if (!gently || ::shutdown(fd_, SHUT_WR) != 0 || !EndsBy(pid, fd_, Clock::now() + std::chrono::seconds(1))) {
    ::kill(pid, SIGKILL);
  }
  ::close(fd_);
  fd_ = -1;
  reader_.reset();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = 0;
}

CallResult WorkerPort::Lost(const char *why) {
  platform::Trace("fiscal-hub: the worker for %s (pid %d) %s; it is killed", options_.port.c_str(),
                  static_cast<int>(pid_.load()), why);
  End(false);
  CallResult result;
  result.code = kLineLost;
  return result;
}

CallResult WorkerPort::Call(std::string_view op, const nlohmann::json &args) {
  platform::MutexLock lock(mutex_);
  std::string line;
  try {
    line = EncodeRequest(op, args);
  } catch (const std::exception &) {
    line.clear();
  }
  CallResult refused;
  refused.code = kBadParameter;
  if (line.empty() || line.size() > kMaxWorkerLine) return refused;
  if (fd_ >= 0) {
    // Between calls a worker has nothing to say: what it said, or its hanging up, means it broke
    // after the last answer. Nothing of this call has gone to it yet.
    pollfd ready{fd_, POLLIN, 0};
    if (reader_->HasPending() || ::poll(&ready, 1, 0) != 0) End(false);
  }
  if (fd_ < 0 && !Start()) {
    CallResult notStarted;
    notStarted.code = kNotConnected;
    return notStarted;
  }
  // A day stands for "no limit" without overflowing the clock.
  const Clock::time_point deadline =
      Clock::now() + std::min<Clock::duration>(options_.callLimit, std::chrono::hours(24));
  if (!SendAll(fd_, line, deadline)) return Lost("took no request");
  std::string answer;
  switch (reader_->Read(&answer, deadline)) {
    case LineReader::Status::Line:
      break;
    case LineReader::Status::End:
      return Lost("ended during a call");
    case LineReader::Status::TooLong:
      return Lost("answered an over-long line");
    case LineReader::Status::Failed:
      return Lost("could not be read");
    case LineReader::Status::TimedOut:
      return Lost("overran the call's time");
  }
  std::string error;
  std::optional<CallResult> result = DecodeResponse(answer, &error);
  if (!result) return Lost(("answered garbage: " + error).c_str());
  return std::move(*result);
}

}  // namespace hub
