// What a reply frame yields, by this library's own rules of taking it apart (the request side
// is framecodec's, tested there).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fiscalsim/frame_codec.h"
#include "protocol/frame.h"
#include "test_driver.h"

namespace {

using vrn_test::Hex;

std::vector<uint8_t> Reply(uint8_t seq, uint8_t cmd, const std::string &data, fiscalsim::StatusBytes status) {
  return fiscalsim::BuildReply(seq, cmd, data, status);
}

constexpr fiscalsim::StatusBytes kStatus = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85};

class ReplyParse : public ::testing::Test {
 protected:
  vrn::ReplyCheck Parse(const std::vector<uint8_t> &frame, uint8_t seq) { return vrn::ParseReply(frame, seq, record); }
  std::string Text() const { return record.text.data(); }
  std::vector<uint8_t> Status() const { return {record.status.begin(), record.status.end()}; }

  vrn::ReplyRecord record;
};

TEST_F(ReplyParse, EmptyDataGivesEmptyTextAndTheSixStatusBytes) {
  record.text.fill('z');
  const vrn::ReplyCheck check = Parse(Reply(0x31, 0x2D, "", kStatus), 0x31);
  EXPECT_TRUE(check.checkOk);
  EXPECT_TRUE(check.seqMatched);
  EXPECT_EQ(Text(), "");
  for (char c : record.text) ASSERT_EQ(c, 0);
  EXPECT_EQ(Status(), std::vector<uint8_t>(kStatus.begin(), kStatus.end()));
}

TEST_F(ReplyParse, LongestReplyTextLeavesTheRecordEndingInZeros) {
  const std::string data(212, 'R');
  ASSERT_TRUE(Parse(Reply(0x20, 0x5A, data, kStatus), 0x20).checkOk);
  EXPECT_EQ(Text(), data);
  for (size_t i = 212; i < record.text.size(); ++i) ASSERT_EQ(record.text[i], 0);
}

TEST_F(ReplyParse, OtherSequenceIsCheckedButLeavesTheRecordAlone) {
  const vrn::ReplyCheck check = Parse(Reply(0x44, 0x2D, "late", kStatus), 0x45);
  EXPECT_TRUE(check.checkOk);
  EXPECT_FALSE(check.seqMatched);
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(Status(), std::vector<uint8_t>(6, 0));
}

TEST_F(ReplyParse, AnyWrongCheckCharacterFails) {
  for (size_t back = 2; back <= 5; ++back) {
    std::vector<uint8_t> frame = Reply(0x20, 0x3E, "12-05-24", kStatus);
    frame[frame.size() - back] ^= 0x01;
    EXPECT_FALSE(Parse(frame, 0x20).checkOk) << "check character " << back;
  }
}

TEST_F(ReplyParse, CommandAndDataBytesOf05DoNotCutTheSumShort) {
  EXPECT_TRUE(Parse(Reply(0x20, 0x05, "", kStatus), 0x20).checkOk);
  EXPECT_TRUE(Parse(Reply(0x20, 0x2D, std::string("a\x05z"), kStatus), 0x20).checkOk);
  EXPECT_EQ(Text(), std::string("a\x05z"));
}

TEST_F(ReplyParse, TruncatedFramesReadNothingBeyondTheirBytes) {
  const std::vector<uint8_t> whole = Reply(0x20, 0x2D, "abcdef", kStatus);
  // Everything short of the check characters (the 03 itself is what ended the frame).
  for (size_t keep = 1; keep + 1 < whole.size(); ++keep) {
    // A copy of exactly `keep` bytes: the sanitizers catch any read past it.
    const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(keep));
    record.Clear();
    EXPECT_FALSE(Parse(part, 0x20).checkOk) << keep;
  }
  // LEN claiming more data than came: the text holds what is there and no check is found.
  std::vector<uint8_t> lying = Hex("01 FF 20 2D 61 62 04 80 80 80 80 80 80 05 30 30 30 30 03");
  record.Clear();
  EXPECT_FALSE(Parse(lying, 0x20).checkOk);
  EXPECT_EQ(Text().substr(0, 2), "ab");
}

}  // namespace
