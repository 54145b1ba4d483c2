#include "fiscalsim/frame_codec.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>

namespace fiscalsim {
namespace {

// Where the fields sit: 01, LEN, SEQ, CMD, then the data; after it (and the status of a reply)
// the 05, the check characters and the 03.
constexpr size_t kLenAt = 1;
constexpr size_t kSeqAt = 2;
constexpr size_t kCmdAt = 3;
constexpr size_t kDataAt = 4;
constexpr size_t kCheckSize = 4;
constexpr size_t kStatusSize = std::tuple_size_v<StatusBytes>;

void AppendTrailer(Bytes &frame) {
  // The check covers LEN through the 05 that the caller has just appended.
  const uint16_t sum = Checksum(std::span(frame).subspan(kLenAt));
  for (uint8_t c : CheckCharacters(sum)) frame.push_back(c);
  frame.push_back(kFrameEnd);
}

bool CheckMatches(std::span<const uint8_t> summed, std::span<const uint8_t> check) {
  const auto expected = CheckCharacters(Checksum(summed));
  return std::equal(expected.begin(), expected.end(), check.begin(), check.end());
}

}  // namespace

uint16_t Checksum(std::span<const uint8_t> bytes) {
  uint16_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint16_t>(sum + b);
  return sum;
}

std::array<uint8_t, kCheckSize> CheckCharacters(uint16_t sum) {
  return {static_cast<uint8_t>(0x30 + ((sum >> 12) & 0xF)), static_cast<uint8_t>(0x30 + ((sum >> 8) & 0xF)),
          static_cast<uint8_t>(0x30 + ((sum >> 4) & 0xF)), static_cast<uint8_t>(0x30 + (sum & 0xF))};
}

Bytes BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data) {
  if (data.size() > kMaxRequestData) throw std::length_error("request data longer than a frame holds");
  Bytes frame;
  frame.reserve(data.size() + kRequestOverhead);
  frame.push_back(kFrameStart);
  frame.push_back(static_cast<uint8_t>(kRequestLenBase + data.size()));
  frame.push_back(seq);
  frame.push_back(cmd);
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(kDataEnd);
  AppendTrailer(frame);
  return frame;
}

Bytes BuildReply(uint8_t seq, uint8_t cmd, std::string_view data, const StatusBytes &status) {
  if (data.size() > kMaxReplyData) throw std::length_error("reply data longer than a frame holds");
  Bytes frame;
  frame.reserve(data.size() + kReplyOverhead);
  frame.push_back(kFrameStart);
  frame.push_back(static_cast<uint8_t>(kReplyLenBase + data.size()));
  frame.push_back(seq);
  frame.push_back(cmd);
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(kStatusStart);
  frame.insert(frame.end(), status.begin(), status.end());
  frame.push_back(kDataEnd);
  AppendTrailer(frame);
  return frame;
}

RequestParser::RequestParser(std::chrono::milliseconds staleAfter) : staleAfter_(staleAfter) {}

void RequestParser::Feed(std::span<const uint8_t> bytes, Clock::time_point now, std::vector<ReceivedFrame> &out) {
  if (bytes.empty()) return;
  if (!partial_.empty() && now - lastByteAt_ >= staleAfter_) {
    partial_.clear();
    expected_ = 0;
  }
  lastByteAt_ = now;
  for (uint8_t b : bytes) {
    if (partial_.empty()) {
      if (b == kFrameStart) {
        partial_.push_back(b);
        startedAt_ = now;
      }
      continue;
    }
    if (partial_.size() == 1) {
      if (b < kRequestLenBase) {
        // Noise; a 01 here may be the start of the real frame.
        partial_.clear();
        if (b == kFrameStart) {
          partial_.push_back(b);
          startedAt_ = now;
        }
        continue;
      }
      expected_ = b - kRequestLenBase + kRequestOverhead;
    }
    partial_.push_back(b);
    if (partial_.size() == expected_) out.push_back(Finish());
  }
}

ReceivedFrame RequestParser::Finish() {
  ReceivedFrame f;
  f.raw.swap(partial_);
  expected_ = 0;
  f.startedAt = startedAt_;
  const size_t n = f.raw.size() - kRequestOverhead;
  f.seq = f.raw[kSeqAt];
  f.cmd = f.raw[kCmdAt];
  f.data.assign(f.raw.begin() + kDataAt, f.raw.begin() + static_cast<ptrdiff_t>(kDataAt + n));
  const std::span<const uint8_t> raw(f.raw);
  const size_t end = kDataAt + n;  // the 05
  f.good = raw[end] == kDataEnd && raw.back() == kFrameEnd &&
           CheckMatches(raw.subspan(kLenAt, end), raw.subspan(end + 1, kCheckSize));
  return f;
}

std::optional<ParsedReply> ParseReply(std::span<const uint8_t> frame) {
  if (frame.size() < kReplyOverhead || frame[0] != kFrameStart || frame[kLenAt] < kReplyLenBase) return std::nullopt;
  const size_t n = frame[kLenAt] - kReplyLenBase;
  if (frame.size() != n + kReplyOverhead) return std::nullopt;
  const size_t statusAt = kDataAt + n;  // the 04
  const size_t end = statusAt + 1 + kStatusSize;  // the 05
  if (frame[statusAt] != kStatusStart || frame[end] != kDataEnd || frame.back() != kFrameEnd) return std::nullopt;
  ParsedReply r;
  r.seq = frame[kSeqAt];
  r.cmd = frame[kCmdAt];
  r.data.assign(frame.begin() + kDataAt, frame.begin() + static_cast<ptrdiff_t>(kDataAt + n));
  std::copy_n(frame.begin() + static_cast<ptrdiff_t>(statusAt + 1), r.status.size(), r.status.begin());
  r.checkOk = CheckMatches(frame.subspan(kLenAt, end), frame.subspan(end + 1, kCheckSize));
  return r;
}

void ReplyReader::Feed(std::span<const uint8_t> bytes, std::vector<Event> &out) {
  for (uint8_t b : bytes) {
    if (partial_.empty()) {
      if (b == kNak) out.push_back({Kind::Nak, {}});
      if (b == kBusy) out.push_back({Kind::Busy, {}});
      if (b == kFrameStart) partial_.push_back(b);
      continue;
    }
    if (partial_.size() == 1) {
      if (b < kReplyLenBase) {
        partial_.clear();
        if (b == kFrameStart) partial_.push_back(b);
        continue;
      }
      expected_ = b - kReplyLenBase + kReplyOverhead;
    }
    partial_.push_back(b);
    if (partial_.size() == expected_) {
      out.push_back({Kind::Frame, std::move(partial_)});
      partial_.clear();
      expected_ = 0;
    }
  }
}

}  // namespace fiscalsim
