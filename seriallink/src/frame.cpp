#include "seriallink/frame.h"

namespace seriallink {

void ReplyAssembler::Start(uint8_t byte) {
  // Cleared here rather than after delivery, so that a delivered block stays readable until the
  // next byte and a dropped frame leaves nothing behind in the next one.
  block_ = RCVBLOCK{};
  block_.buffer[0] = byte;
  sum_ = 0;
}

bool ReplyAssembler::Feed(uint8_t byte) {
  switch (state_) {
    case State::Idle:
      if (byte == kFrameStart) {
        Start(byte);
        state_ = State::Length;
      } else if (byte == kNak || byte == kSyn) {
        Start(byte);
        return true;
      }
      return false;

    case State::Length:
      block_.index = 1;
      block_.buffer[1] = byte;
      sum_ = static_cast<uint16_t>(sum_ + byte);
      state_ = byte >= kLenBase ? State::Body : State::Idle;
      return false;

    case State::Body: {
      const size_t index = block_.index + 1u;
      if (index >= kBlockCapacity) {
        state_ = State::Idle;
        return false;
      }
      block_.index = static_cast<uint16_t>(index);
      block_.buffer[index] = byte;
      if (index <= static_cast<size_t>(block_.buffer[1] - kLenBase)) sum_ = static_cast<uint16_t>(sum_ + byte);
      if (byte != kFrameEnd) return false;
      state_ = State::Idle;
      // A 0x03 this early has no four check bytes before it inside the frame.
      if (index < framecodec::kCheckSize + 1) return false;
      return sum_ == framecodec::ReadCheck(&block_.buffer[index - framecodec::kCheckSize]);
    }
  }
  return false;
}

}  // namespace seriallink
