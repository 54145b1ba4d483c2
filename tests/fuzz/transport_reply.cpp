// The transport library's reply handling on arbitrary device bytes: ParseReply on the bytes as
// one stored frame, then a whole request of cVRNProtocol whose device sends the bytes before
// its answer, so that the receive thread's scan meets them as the link delivers them. The
// simulator's host-side reply reader, which test clients use, gets the same bytes.
//
// Input: byte 0 sets how many bytes one driver Read hands out; the rest is the device's output.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "drivers/com_driver.h"
#include "fiscalsim/frame_codec.h"
#include "protocol/frame.h"
#include "protocol/vrn_protocol.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr uint8_t kSeq = 0x20;  // the first request of a new protocol object
constexpr uint8_t kMark = 0xEE;
constexpr fiscalsim::StatusBytes kAnswerStatus = {0x80, 0x80, 0x88, 0x80, 0x86, 0x9A};

void CheckParseReply(std::span<const uint8_t> frame) {
  vrn::ReplyRecord record;
  record.text.fill(static_cast<char>(kMark));
  record.status.fill(kMark);
  const vrn::ReplyCheck check = vrn::ParseReply(frame, kSeq, record);

  // The text is either left alone or cleared and filled, and then keeps its terminator.
  const bool untouched = std::all_of(record.text.begin(), record.text.end(), [](char c) { return c == char(kMark); });
  Require(untouched || record.text.back() == '\0');

  // A frame the simulator's strict parser accepts is read the same way here.
  const std::optional<fiscalsim::ParsedReply> strict = fiscalsim::ParseReply(frame);
  if (!strict) return;
  Require(check.checkOk == strict->checkOk);
  Require(check.seqMatched == (strict->seq == kSeq));
  if (!check.seqMatched) return;
  Require(std::memcmp(record.text.data(), strict->data.data(), strict->data.size()) == 0);
  Require(std::all_of(record.text.begin() + static_cast<ptrdiff_t>(strict->data.size()), record.text.end(),
                      [](char c) { return c == '\0'; }));
  Require(std::equal(record.status.begin(), record.status.end(), strict->status.begin()));
}

// The simulator's host side splits the same bytes into refusals, busy bytes and frames by LEN.
void CheckReplyReader(std::span<const uint8_t> bytes) {
  fiscalsim::ReplyReader reader;
  std::vector<fiscalsim::ReplyReader::Event> events;
  reader.Feed(bytes, events);
  for (const auto &event : events) {
    if (event.kind != fiscalsim::ReplyReader::Kind::Frame) continue;
    const fiscalsim::Bytes &f = event.frame;
    Require(f.size() >= fiscalsim::kReplyOverhead && f[0] == fiscalsim::kFrameStart);
    Require(f[1] >= fiscalsim::kReplyLenBase);
    Require(f.size() == size_t{f[1]} - fiscalsim::kReplyLenBase + fiscalsim::kReplyOverhead);
  }
}

// A USB device that sends the script after the first request it is written, then answers every
// transmission properly, so that each request ends without waiting out a time-out.
class ScriptedDevice final : public vrn::iCOMDriver {
 public:
  ScriptedDevice(std::span<const uint8_t> script, size_t chunk) : script_(script), chunk_(chunk) {}

  bool IsInitialised() override { return true; }
  bool IsAttached() override { return true; }
  bool Open(const char *) override { return true; }
  void Close() override {}
  void Shutdown() override {}
  int Write(const void *buffer, size_t length) override {
    const auto *frame = static_cast<const uint8_t *>(buffer);
    Require(length >= 10 && frame[0] == framecodec::kFrameStart);
    std::lock_guard lock(mutex_);
    ++writes_;
    pending_.clear();
    if (writes_ == 1) pending_.assign(script_.begin(), script_.end());
    // The 03 ends whatever frame the script left open, so the answer is read as one.
    pending_.push_back(framecodec::kFrameEnd);
    const fiscalsim::Bytes answer = fiscalsim::BuildReply(frame[2], frame[3], "OK", kAnswerStatus);
    pending_.insert(pending_.end(), answer.begin(), answer.end());
    arrived_.notify_all();
    return static_cast<int>(length);
  }
  int Read(void *buffer, size_t maximum) override {
    std::unique_lock lock(mutex_);
    // A USB read waits briefly for the first byte.
    arrived_.wait_for(lock, std::chrono::milliseconds(1), [&] { return !pending_.empty(); });
    const size_t n = std::min({pending_.size(), maximum, chunk_});
    std::memcpy(buffer, pending_.data(), n);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(n));
    return static_cast<int>(n);
  }
  int LastWriteResult() override { return 0; }
  int LastReadResult() override { return 0; }
  bool Reset(bool) override {
    std::lock_guard lock(mutex_);
    ++resets_;
    return true;
  }
  vrn::cVRNProtocol *Protocol() override { return nullptr; }
  void Cancel() override {}

  int Writes() {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  int Resets() {
    std::lock_guard lock(mutex_);
    return resets_;
  }

 private:
  const std::span<const uint8_t> script_;
  const size_t chunk_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<uint8_t> pending_;  // guarded by mutex_
  int writes_ = 0;                // guarded by mutex_
  int resets_ = 0;                // guarded by mutex_
};

void CheckRequest(std::span<const uint8_t> script, size_t chunk) {
  ScriptedDevice device(script, chunk);
  vrn::cVRNProtocol protocol(&device);
  Require(protocol.Start(nullptr));
  uint8_t reply[vrn::kReplyRecordSize];
  std::memset(reply, kMark, sizeof reply);
  const int result = protocol.Request(0x2D, "abc", reply);
  protocol.Stop();

  // The device answered every transmission: no time-out, no reset. A frame with a wrong check
  // ends the chunk it came in, so only refusals can add up within one read: five of them end
  // the request, as they should.
  Require(device.Resets() == 0);
  if (std::count(script.begin(), script.end(), framecodec::kNak) < 4) Require(result == 0);
  Require(device.Writes() >= 1 && device.Writes() <= vrn::cVRNProtocol::kMaxTransmissions);
  Require(reply[vrn::kReplyTextSize - 1] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + size_t{data[0]} * 4;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  CheckParseReply(bytes);
  CheckReplyReader(bytes);
  CheckRequest(bytes, chunk);
  return 0;
}
