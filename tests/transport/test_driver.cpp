#include "test_driver.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace vrn_test {

TestDriver::TestDriver(fiscalsim::BytePipeHost host) : host_(std::move(host)) {}

TestDriver::~TestDriver() { Shutdown(); }

bool TestDriver::Open(const char *comPort) {
  if (protocol_ == nullptr) protocol_ = std::make_unique<vrn::cVRNProtocol>(this);
  const bool started = protocol_->Start(comPort);
  return started && (IsAttached() || protocol_->IsComOpen());
}

void TestDriver::Close() {
  attached.store(false);
  if (protocol_ != nullptr) protocol_->SignalAbort();
}

void TestDriver::Shutdown() {
  Close();
  protocol_.reset();
}

int TestDriver::Write(const void *buffer, size_t length) {
  const int write = ++writes_;
  if (answerWrites) {
    InjectReply(answerWrites(write));
    lastWrite_.store(0);
    return static_cast<int>(length);
  }
  const bool ok = host_.Write(std::span(static_cast<const uint8_t *>(buffer), length));
  lastWrite_.store(ok ? 0 : -1);
  return ok ? static_cast<int>(length) : 0;
}

int TestDriver::Read(void *buffer, size_t maximum) {
  ++reads_;
  {
    std::lock_guard lock(mutex_);
    if (!injected_.empty()) {
      const size_t n = std::min(maximum, injected_.size());
      std::memcpy(buffer, injected_.data(), n);
      injected_.erase(injected_.begin(), injected_.begin() + static_cast<ptrdiff_t>(n));
      return static_cast<int>(n);
    }
  }
  const ptrdiff_t n = host_.Read(static_cast<uint8_t *>(buffer), maximum, std::chrono::milliseconds(readWaitMs.load()));
  lastRead_.store(n >= 0 ? 0 : -1);
  return n > 0 ? static_cast<int>(n) : 0;
}

bool TestDriver::Reset(bool full) {
  std::lock_guard lock(mutex_);
  resets_.push_back(full);
  return resetSucceeds.load();
}

std::vector<bool> TestDriver::ResetCalls() const {
  std::lock_guard lock(mutex_);
  return resets_;
}

void TestDriver::InjectReply(std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  injected_.insert(injected_.end(), bytes.begin(), bytes.end());
}

PipeBench::PipeBench() {
  fiscalsim::BytePipe pipe = fiscalsim::MakeBytePipe();
  simulator = std::make_unique<fiscalsim::Simulator>(std::move(pipe.device));
  simulator->Start();
  driver = std::make_unique<TestDriver>(pipe.host);
  driver->Open(nullptr);
}

PipeBench::~PipeBench() {
  driver.reset();
  simulator.reset();
}

Reply Ask(vrn::cVRNProtocol &protocol, uint16_t command, const char *data) {
  Reply reply;
  reply.record.assign(vrn::kReplyRecordSize, 0xEE);
  reply.result = protocol.Request(command, data, reply.record.data());
  reply.text = std::string(reinterpret_cast<const char *>(reply.record.data()),
                           strnlen(reinterpret_cast<const char *>(reply.record.data()), vrn::kReplyTextSize));
  reply.status.assign(reply.record.begin() + vrn::kReplyTextSize, reply.record.end());
  return reply;
}

std::vector<uint8_t> Hex(const std::string &spaced) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 2 <= spaced.size(); i += 3) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(spaced.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace vrn_test
