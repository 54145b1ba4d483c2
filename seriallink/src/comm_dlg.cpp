#include "seriallink/comm_dlg.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/trace.h"
#include "seriallink/frame.h"
#include "seriallink/link.h"
#include "seriallink/port.h"
#include "seriallink/result_codes.h"

namespace seriallink {
namespace {

constexpr int kMaxAttempts = 5;

// Relaxed: each counter is read on its own, for a report, never to order anything.
std::atomic<uint64_t> gRequests{0}, gRefusals{0}, gBusy{0}, gTimeouts{0}, gResends{0};
void Count(std::atomic<uint64_t> &counter) { counter.fetch_add(1, std::memory_order_relaxed); }

// Offset of the status separator, searched from the data on and only inside the frame (before
// its 0x03) with all six status bytes there too; a zero byte ends the search as it ends a text.
// The frame's own SEQ and CMD are not searched: a reply to command 4 would otherwise be taken
// apart at its command byte.
std::optional<size_t> FindSeparator(const RCVBLOCK &block) {
  const size_t end = std::min<size_t>(block.index, kBlockCapacity - 1);
  for (size_t i = framecodec::kDataOffset; i < end && block.buffer[i] != 0; ++i) {
    if (block.buffer[i] == kStatusSeparator) {
      if (i + kStatusBytes < end) return i;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

Statistics GetStatistics() {
  return {gRequests.load(std::memory_order_relaxed), gRefusals.load(std::memory_order_relaxed),
          gBusy.load(std::memory_order_relaxed), gTimeouts.load(std::memory_order_relaxed),
          gResends.load(std::memory_order_relaxed)};
}

void ResetStatistics() {
  for (std::atomic<uint64_t> *counter : {&gRequests, &gRefusals, &gBusy, &gTimeouts, &gResends})
    counter->store(0, std::memory_order_relaxed);
}

CCommDlg::CCommDlg(std::string portName, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits)
    : portName_(std::move(portName)), baudRate_(baudRate), dataBits_(dataBits), parity_(parity), stopBits_(stopBits) {}

CCommDlg::~CCommDlg() { ClosePort(); }

int CCommDlg::Open() { return OpenPort(portName_, baudRate_, dataBits_, parity_, stopBits_, window_); }

int CCommDlg::Reopen() {
  if (PortRunning() && !PortFailed()) return 0;
  ClosePort();
  const int error = Open();
  if (error != 0) platform::Trace("seriallink: port %s is not back (%d)", portName_.c_str(), error);
  return error;
}

void CCommDlg::MakeHeader(uint8_t *buffer, uint16_t code, size_t position) const {
  framecodec::WriteHeader(buffer, position, sequence_, static_cast<uint8_t>(code & 0xFF));
}

size_t CCommDlg::AddTrailer(uint8_t *buffer, size_t position) { return framecodec::WriteTrailer(buffer, position); }

void CCommDlg::AdvanceSequence() { sequence_ = framecodec::NextSequenceThrough7F(sequence_); }

int CCommDlg::Transact(const uint8_t *frame, size_t length, Millis timeout, RCVBLOCK &reply) {
  if (frame == nullptr || length < kFrameOverhead) return kBadParameter;
  const uint8_t seq = frame[2];
  const uint8_t cmd = frame[3];
  statusValid_ = false;
  ReceivedBlocks &blocks = Blocks();
  // Leftovers are dropped before each write, not after it: a fast device may answer before
  // the writer gets to look, and that answer must not be thrown away with them.
  auto send = [&] {
    blocks.Clear();
    WritePort(frame, length);
  };
  // Disconnect may have begun before this command got the link: nothing goes out then.
  if (blocks.Aborted()) return kNoResponse;
  int attempts = 0;
  Count(gRequests);
  send();
  RCVBLOCK block;
  for (;;) {
    const ReceivedBlocks::WaitResult wait = blocks.Wait(timeout);
    if (wait == ReceivedBlocks::WaitResult::Aborted) {
      platform::Trace("seriallink: command 0x%02X aborted", cmd);
      return kNoResponse;
    }
    // No answer can come through a port that failed: waiting out the time-outs would only delay
    // the next command, which opens the port again.
    if (wait == ReceivedBlocks::WaitResult::PortFailed) {
      platform::Trace("seriallink: port failed during command 0x%02X", cmd);
      return kNoResponse;
    }
    if (wait == ReceivedBlocks::WaitResult::TimedOut) {
      Count(gTimeouts);
      if (++attempts == kMaxAttempts) {
        platform::Trace("seriallink: no reply to command 0x%02X after %d waits", cmd, attempts);
        return kNoResponse;
      }
      platform::Trace("seriallink: no reply to command 0x%02X, sending again", cmd);
      Count(gResends);
      send();
      continue;
    }
    if (!blocks.TakeNewest(block)) continue;
    switch (block.buffer[0]) {
      case kFrameStart:
        if (block.buffer[2] == seq && block.buffer[3] == cmd) {
          AdvanceSequence();
          reply = block;
          statusValid_ = true;
          return kSuccess;
        }
        platform::Trace("seriallink: reply 0x%02X/0x%02X does not match 0x%02X/0x%02X", block.buffer[2],
                        block.buffer[3], seq, cmd);
        if (++attempts == kMaxAttempts) {
          AdvanceSequence();
          return kMaxSendCount;
        }
        Count(gResends);
        send();
        break;
      case kNak:
        platform::Trace("seriallink: command 0x%02X refused", cmd);
        Count(gRefusals);
        if (++attempts == kMaxAttempts) return kMaxSendCount;
        Count(gResends);
        send();
        break;
      default:  // SYN: the device is busy, wait on without counting
        Count(gBusy);
        break;
    }
  }
}

int CCommDlg::ParseStatus(const RCVBLOCK &block) {
  const std::optional<size_t> at = FindSeparator(block);
  if (!at) return 1;
  const uint8_t *s = &block.buffer[*at + 1];
  char text[13];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", s[0] & 0x7F, s[1] & 0x7F, s[2] & 0x7F, s[3] & 0x7F,
                s[4] & 0x7F, s[5] & 0x7F);
  statusText_ = text;
  statusValid_ = true;
  return 0;
}

std::string CCommDlg::GetReplyData(const RCVBLOCK &block) {
  const std::optional<size_t> at = FindSeparator(block);
  if (!at) return {};
  return std::string(reinterpret_cast<const char *>(&block.buffer[framecodec::kDataOffset]), *at - framecodec::kDataOffset);
}

}  // namespace seriallink
