// The serial link's reply assembly on whatever a line may deliver, and the status and data
// taken from every block it hands on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "seriallink/comm_dlg.h"
#include "seriallink/frame.h"
#include "seriallink/rcv_block.h"

namespace {

using namespace seriallink;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckFrameBlock(const RCVBLOCK &block) {
  const size_t end = block.index;
  Require(end >= 5 && end < kBlockCapacity);
  Require(block.buffer[1] >= kLenBase);
  // The first 0x03 ends a frame.
  for (size_t i = 2; i < end; ++i) Require(block.buffer[i] != kFrameEnd);
  Require(block.buffer[end] == kFrameEnd);
  // Whatever an earlier or dropped frame left must not show through.
  for (size_t i = end + 1; i < kBlockCapacity; ++i) Require(block.buffer[i] == 0);
  // Only frames whose check holds are delivered: LEN and the bytes after it up to offset
  // LEN - 0x20 (or the frame's last byte, if that comes first) against the low nibbles of the
  // four bytes before the 03.
  const size_t summedEnd = std::max<size_t>(1, std::min<size_t>(end, block.buffer[1] - kLenBase));
  Require(framecodec::Checksum(std::span(&block.buffer[1], summedEnd)) == framecodec::ReadCheck(&block.buffer[end - 4]));
}

void CheckReply(const RCVBLOCK &block) {
  CCommDlg dlg("fuzz", 9600, 8, 0, 0);
  const std::string data = CCommDlg::GetReplyData(block);
  const int parsed = dlg.ParseStatus(block);
  Require(parsed == 0 || parsed == 1);
  if (parsed == 1) {
    Require(data.empty());
    Require(!dlg.StatusValid() && dlg.StatusText().empty());
    return;
  }
  // Data, separator and the six status bytes all lie before the frame's 03.
  Require(4 + data.size() + 1 + kStatusBytes <= block.index);
  Require(data.find('\x04') == std::string::npos && data.find('\0') == std::string::npos);
  Require(data.compare(0, data.size(), reinterpret_cast<const char *>(&block.buffer[4]), data.size()) == 0);
  Require(block.buffer[4 + data.size()] == kStatusSeparator);

  const std::string &status = dlg.StatusText();
  Require(dlg.StatusValid() && status.size() == 12);
  for (size_t i = 0; i < status.size(); ++i) {
    const char c = status[i];
    Require((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    // Bit 7 of every status byte is cleared.
    if (i % 2 == 0) Require(c <= '7');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ReplyAssembler assembler;
  for (size_t i = 0; i < size; ++i) {
    if (!assembler.Feed(data[i])) continue;
    const RCVBLOCK &block = assembler.Block();
    switch (block.buffer[0]) {
      case kNak:
      case kSyn:
        Require(block.index == 0 && block.buffer[0] == data[i]);
        break;
      case kFrameStart:
        Require(data[i] == kFrameEnd);
        CheckFrameBlock(block);
        break;
      default:
        Require(false);
    }
    CheckReply(block);
  }
  return 0;
}
