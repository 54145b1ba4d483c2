// The engine's own parts: its command frames, the reply assembly, the status and data of a
// reply (the frame's codec itself is tested with framecodec).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fiscalsim/frame_codec.h"
#include "seriallink/comm_dlg.h"
#include "seriallink/frame.h"
#include "seriallink/result_codes.h"
#include "test_support.h"

namespace seriallink {
namespace {

using fiscalsim::Bytes;
using testing::MakeFrame;
using testing::ToBytes;

// Every block the bytes complete.
std::vector<Bytes> Assemble(ReplyAssembler &a, const Bytes &bytes) {
  std::vector<Bytes> blocks;
  for (uint8_t b : bytes) {
    if (!a.Feed(b)) continue;
    const RCVBLOCK &block = a.Block();
    blocks.emplace_back(block.buffer, block.buffer + block.index + 1);
    for (size_t i = block.index + 1u; i < kBlockCapacity; ++i) EXPECT_EQ(block.buffer[i], 0) << "offset " << i;
  }
  return blocks;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A reply frame of any length: LEN names the 05 at `dataEnd`, filler after it up to the check.
Bytes LongFrame(size_t total) {
  Bytes f(total, 'x');
  f[0] = kFrameStart;
  f[1] = 0xFF;
  f[2] = 0x20;
  f[3] = 0x3E;
  f[0xFF - kLenBase] = kDataEnd;
  framecodec::WriteCheck(&f[total - 5], framecodec::Checksum(std::span(&f[1], 0xFF - kLenBase)));
  f[total - 1] = kFrameEnd;
  return f;
}

RCVBLOCK BlockOf(const Bytes &frame) {
  RCVBLOCK block;
  std::copy(frame.begin(), frame.end(), block.buffer);
  block.index = static_cast<uint16_t>(frame.size() - 1);
  return block;
}

TEST(FrameTest, CommandFramesAreByteForByteWhatTheDeviceExpects) {
  CCommDlg dlg("unused", 115200, 8, 0, 0);
  EXPECT_EQ(ToBytes(MakeFrame(dlg, 0x21, "")), (Bytes{0x01, 0x24, 0x20, 0x21, 0x05, 0x30, 0x30, 0x36, 0x3A, 0x03}));
  // Only the low byte of the code travels; data goes unchanged, whatever its bytes.
  const std::string data = "\x01\x03\x05\xFF,\t\nA";
  EXPECT_EQ(ToBytes(MakeFrame(dlg, 0x1F3, data)), fiscalsim::BuildRequest(0x20, 0xF3, data));
  const std::string longest(kMaxData, '\xC1');
  EXPECT_EQ(ToBytes(MakeFrame(dlg, 0x31, longest)), fiscalsim::BuildRequest(0x20, 0x31, longest));
}

TEST(AssemblyTest, DeliversCheckedFramesAndLoneControlBytesOnly) {
  ReplyAssembler a;
  const Bytes reply = fiscalsim::BuildReply(0x21, 0x3E, "12-05-24 10:00:00", fiscalsim::StatusBytes{0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
  // Noise outside a frame is ignored; NAK and SYN there are blocks of one byte.
  const auto blocks = Assemble(a, Cat({{0x00, 0x03, 0x7F}, reply, {kNak}, {0x30}, {kSyn}, reply}));
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0], reply);
  EXPECT_EQ(blocks[1], Bytes{kNak});
  EXPECT_EQ(blocks[2], Bytes{kSyn});
  EXPECT_EQ(blocks[3], reply);
}

TEST(AssemblyTest, BrokenFramesAreDroppedAndLeaveNothingInTheNext) {
  ReplyAssembler a;
  const Bytes good = fiscalsim::BuildReply(0x20, 0x2D, "", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
  Bytes wrongCheck = fiscalsim::BuildReply(0x20, 0x2D, std::string(60, 'z'), {0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
  wrongCheck[wrongCheck.size() - 3] ^= 0x01;
  Bytes shortLen = good;
  shortLen[1] = 0x1F;
  // Each broken frame is followed by a good one, which must come out clean (Assemble checks
  // the zeros past its end).
  for (const Bytes &broken : {wrongCheck, shortLen, Bytes{0x01, kNak}, Bytes{0x01, kSyn}, Bytes{0x01, 0x2B, 0x03},
                              Bytes{0x01, 0x2B, 0x20, 0x2D, 0x03}, LongFrame(1025)}) {
    SCOPED_TRACE(broken.size());
    EXPECT_EQ(Assemble(a, Cat({broken, good})), std::vector<Bytes>{good});
  }
}

TEST(AssemblyTest, ControlBytesInsideAFrameAreData) {
  ReplyAssembler a;
  const Bytes reply = fiscalsim::BuildReply(0x20, 0x2B, "\x15\x16\x01", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
  EXPECT_EQ(Assemble(a, reply), std::vector<Bytes>{reply});
}

TEST(AssemblyTest, FrameUpToTheBlockSizeIsKept) {
  ReplyAssembler a;
  const Bytes longest = LongFrame(kBlockCapacity);
  EXPECT_EQ(Assemble(a, longest), std::vector<Bytes>{longest});
}

TEST(AssemblyTest, ArbitraryBytesNeverYieldAnUncheckedFrame) {
  std::mt19937 random(7);
  ReplyAssembler a;
  const Bytes reply = fiscalsim::BuildReply(0x20, 0x61, "20.00,9.00", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
  for (int round = 0; round < 500; ++round) {
    Bytes noise(random() % 1500);
    for (uint8_t &b : noise) b = static_cast<uint8_t>(random() % 8 == 0 ? 0x01 : random());
    for (const Bytes &block : Assemble(a, noise)) {
      if (block.size() == 1) {
        EXPECT_TRUE(block[0] == kNak || block[0] == kSyn);
        continue;
      }
      ASSERT_GE(block.size(), 6u);
      // LEN is always summed, then the bytes up to offset LEN - 0x20 that the frame reached.
      const size_t checked = std::max<size_t>(1, std::min<size_t>(block[1] - kLenBase, block.size() - 1));
      EXPECT_EQ(framecodec::Checksum(std::span(&block[1], checked)), framecodec::ReadCheck(&block[block.size() - 5]));
    }
    // Whatever came before, the assembly takes up the next good frame once a frame has ended.
    Assemble(a, Bytes(kBlockCapacity, 0x03));
    EXPECT_EQ(Assemble(a, reply), std::vector<Bytes>{reply});
  }
}

TEST(StatusTest, StatusTextIsTwelveHexDigitsWithoutBit7) {
  CCommDlg dlg("unused", 115200, 8, 0, 0);
  EXPECT_EQ(dlg.ParseStatus(BlockOf(fiscalsim::BuildReply(0x20, 0x3E, "x", {0x80, 0x80, 0x88, 0x80, 0x86, 0x9A}))), 0);
  EXPECT_EQ(dlg.StatusText(), "00000800061A");
  EXPECT_TRUE(dlg.StatusValid());
  EXPECT_EQ(dlg.ParseStatus(BlockOf(fiscalsim::BuildReply(0x20, 0x3E, "", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}))), 0);
  EXPECT_EQ(dlg.StatusText(), "7F7F7F7F7F7F");
}

TEST(StatusTest, ReplyWithoutRoomForTheStatusKeepsThePreviousText) {
  CCommDlg dlg("unused", 115200, 8, 0, 0);
  ASSERT_EQ(dlg.ParseStatus(BlockOf(fiscalsim::BuildReply(0x20, 0x3E, "", {0xA0, 0x80, 0x80, 0x80, 0x80, 0x81}))), 0);
  const Bytes noSeparator = fiscalsim::BuildRequest(0x20, 0x3E, "12-05-24");
  Bytes separatorAtEnd = fiscalsim::BuildRequest(0x20, 0x3E, "1234");
  separatorAtEnd[7] = kStatusSeparator;  // six status bytes would reach the 03
  for (const Bytes &frame : {noSeparator, separatorAtEnd}) {
    EXPECT_EQ(dlg.ParseStatus(BlockOf(frame)), 1);
    EXPECT_EQ(CCommDlg::GetReplyData(BlockOf(frame)), "");
  }
  EXPECT_EQ(dlg.ParseStatus(RCVBLOCK{}), 1);
  EXPECT_EQ(dlg.StatusText(), "200000000001");
}

TEST(StatusTest, ReplyDataIsWhatPrecedesTheSeparator) {
  const fiscalsim::StatusBytes idle = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
  EXPECT_EQ(CCommDlg::GetReplyData(BlockOf(fiscalsim::BuildReply(0x20, 0x61, "20.00,9.00", idle))), "20.00,9.00");
  EXPECT_EQ(CCommDlg::GetReplyData(BlockOf(fiscalsim::BuildReply(0x20, 0x61, "", idle))), "");
  // Command 4's code byte is not the separator.
  CCommDlg dlg("unused", 115200, 8, 0, 0);
  const RCVBLOCK code4 = BlockOf(fiscalsim::BuildReply(0x20, 0x04, "ab", {0x80, 0x81, 0x82, 0x83, 0x84, 0x85}));
  EXPECT_EQ(CCommDlg::GetReplyData(code4), "ab");
  EXPECT_EQ(dlg.ParseStatus(code4), 0);
  EXPECT_EQ(dlg.StatusText(), "000102030405");
}

TEST(ResultCodeTest, TextsAreTheOnesCallersMatchOn) {
  EXPECT_EQ(ErrorText(0), "SUCCESS");
  EXPECT_EQ(ErrorText(10001), "Device Already Connect");
  EXPECT_EQ(ErrorText(10002), "Device not Connect");
  EXPECT_EQ(ErrorText(10003), "Device not Respond");
  EXPECT_EQ(ErrorText(10004), "Device Answer Incorrect");
  EXPECT_EQ(ErrorText(10005), "Device Max Send Count");
  EXPECT_EQ(ErrorText(10006), "Device Bad Parametar");
  EXPECT_EQ(ErrorText(5), "Return Error No : 5 ");
  EXPECT_EQ(ErrorText(-2147483647 - 1), "Return Error No : -2147483648 ");
}

}  // namespace
}  // namespace seriallink
