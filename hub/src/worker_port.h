// A device's line run by a fiscal-hub-worker process: each call goes to the worker as one line
// and its answer comes back as one (worker_protocol.h). A worker that dies, garbles or overruns
// its time is killed and the call answers kLineLost; the next call starts a fresh worker.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "device_port.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "worker_protocol.h"

namespace hub {

struct WorkerOptions {
  std::string workerPath;  // the fiscal-hub-worker executable
  std::string port;        // as the library's Connect takes it
  uint32_t baud = 115200;
  // Longer than any export can take: five tries of 2.5 s, and the device's busy waits.
  std::chrono::milliseconds callLimit{60000};
};

class WorkerPort : public DevicePort {
 public:
  // Starts nothing yet.
  explicit WorkerPort(WorkerOptions options);
  // As Stop.
  ~WorkerPort() override;
  WorkerPort(const WorkerPort &) = delete;
  WorkerPort &operator=(const WorkerPort &) = delete;

  // One call at a time: callers on other threads wait their turn. A worker that cannot be
  // started answers kNotConnected (nothing was sent).
  CallResult Call(std::string_view op, const nlohmann::json &args) override;
  // Ends the worker: its stdin closed, about a second to disconnect, then SIGKILL; reaped. Waits
  // for a call in flight to end first. A later Call starts a new worker.
  void Stop();

  const WorkerOptions &Options() const { return options_; }
  // The running worker's process id, 0 when none runs. For tests; safe during a call.
  pid_t WorkerPid() const { return pid_.load(); }

 private:
  bool Start() REQUIRES(mutex_);
  // Kills the worker unless `gently`, in which case it first gets its stdin closed and a second
  // to end; reaps it either way.
  void End(bool gently) REQUIRES(mutex_);
  CallResult Lost(const char *why) REQUIRES(mutex_);

  const WorkerOptions options_;
  platform::Mutex mutex_;
  int fd_ GUARDED_BY(mutex_) = -1;  // the hub's end of the worker's stdin and stdout
  std::unique_ptr<LineReader> reader_ GUARDED_BY(mutex_);
  std::atomic<pid_t> pid_{0};  // written under mutex_
};

}  // namespace hub
