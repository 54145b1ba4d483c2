// A stand-in for a USB driver over the simulator's in-process byte pipe, with the parts a test
// scripts: whether a device is attached, what Reset reports, and a record of its Reset calls.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/com_driver.h"
#include "fiscalsim/byte_pipe.h"
#include "fiscalsim/simulator.h"
#include "protocol/vrn_protocol.h"

namespace vrn_test {

class TestDriver : public vrn::iCOMDriver {
 public:
  explicit TestDriver(fiscalsim::BytePipeHost host);
  ~TestDriver() override;

  bool IsInitialised() override { return initialised.load(); }
  bool IsAttached() override { return attached.load(); }
  bool Open(const char *comPort) override;
  void Close() override;
  void Shutdown() override;
  int Write(const void *buffer, size_t length) override;
  int Read(void *buffer, size_t maximum) override;
  int LastWriteResult() override { return lastWrite_.load(); }
  int LastReadResult() override { return lastRead_.load(); }
  bool Reset(bool full) override;
  vrn::cVRNProtocol *Protocol() override { return protocol_.get(); }
  void Cancel() override {
    if (protocol_ != nullptr) protocol_->Cancel();
  }

  // The `full` argument of every Reset call, in order.
  std::vector<bool> ResetCalls() const;
  int Writes() const { return writes_.load(); }
  int Reads() const { return reads_.load(); }
  // Bytes handed out by the next Read before anything from the device.
  void InjectReply(std::vector<uint8_t> bytes);
  // Plays the device instead of the simulator: each write (counted from 1) is answered with the
  // bytes this returns, none for silence. Set before the first request.
  std::function<std::vector<uint8_t>(int write)> answerWrites;

  // How long an empty Read waits for input, as a USB read blocks until its time-out.
  std::atomic<int> readWaitMs{1};

  std::atomic<bool> initialised{true};
  std::atomic<bool> attached{true};
  std::atomic<bool> resetSucceeds{true};

 private:
  fiscalsim::BytePipeHost host_;
  std::unique_ptr<vrn::cVRNProtocol> protocol_;
  std::atomic<int> lastWrite_{-1};
  std::atomic<int> lastRead_{-1};
  std::atomic<int> writes_{0};
  std::atomic<int> reads_{0};
  mutable std::mutex mutex_;
  std::vector<bool> resets_;        // guarded by mutex_
  std::vector<uint8_t> injected_;   // guarded by mutex_
};

// The simulator on an in-process pipe, with a TestDriver on the host end, opened and started.
struct PipeBench {
  PipeBench();
  ~PipeBench();

  fiscalsim::Simulator &sim() { return *simulator; }
  vrn::cVRNProtocol &protocol() { return *driver->Protocol(); }

  std::unique_ptr<fiscalsim::Simulator> simulator;
  std::unique_ptr<TestDriver> driver;
};

// The text and status bytes of a 262-byte reply record.
struct Reply {
  int result = -1;
  std::string text;
  std::vector<uint8_t> status;
  std::vector<uint8_t> record;
};
Reply Ask(vrn::cVRNProtocol &protocol, uint16_t command, const char *data);

std::vector<uint8_t> Hex(const std::string &spaced);

// CPU time of this process (all threads) in milliseconds, and the step in which it advances:
// Windows (and wine) count in clock ticks of 10 to 16 ms.
double ProcessCpuMs();
double ProcessCpuStepMs();

// A private port alias directory (FISCAL_COM_DIR) for this process, removed at exit. Nothing on
// Windows, which has no alias directories.
std::string UsePrivateAliasDir();

// The alias `comName` -> `target` while the result lives; null with the reason in *error.
// Linux only.
std::shared_ptr<void> AliasPort(const std::string &comName, const std::string &target, std::string *error);

}  // namespace vrn_test
