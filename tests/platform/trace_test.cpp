#include "platform/trace.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

TEST(TraceTest, CaptureReceivesFormattedTextsInOrder) {
  TraceCapture capture;
  Trace("Com %s cannot be opened", "COM5");
  Trace("%s failed with error (%d) %s\n", "WriteFile", 5, "Access is denied.");
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Com COM5 cannot be opened");
  EXPECT_EQ(lines[1], "WriteFile failed with error (5) Access is denied.\n");
  EXPECT_TRUE(capture.Contains("cannot be opened"));
  EXPECT_EQ(capture.Count("failed"), 1u);
  capture.Clear();
  EXPECT_TRUE(capture.Lines().empty());
}

TEST(TraceTest, SizesAndLongLongsAreFormattedAsC99Says) {
  TraceCapture capture;
  Trace("%zu bytes, %lld ticks, %llu, %hhu", size_t{1027}, -(1LL << 40), ~0ULL, static_cast<unsigned char>(200));
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], "1027 bytes, -1099511627776 ticks, 18446744073709551615, 200");
}

TEST(TraceTest, HexDumpShowsEveryByte) {
  TraceCapture capture;
  const unsigned char frame[] = {0x01, 0x24, 0x20, 0x21, 0x05, 0x30, 0x30, 0x36, 0x3A, 0x03};
  TraceHex("tx", frame, sizeof frame);
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], "tx (10 bytes): 01 24 20 21 05 30 30 36 3A 03");
}

TEST(TraceTest, NestedCapturesHandBackTheLines) {
  TraceCapture outer;
  {
    TraceCapture inner;
    Trace("inner");
    EXPECT_TRUE(inner.Contains("inner"));
  }
  Trace("outer");
  EXPECT_FALSE(outer.Contains("inner"));
  EXPECT_TRUE(outer.Contains("outer"));
}

TEST(TraceTest, LongTextsAreNotCut) {
  TraceCapture capture;
  const std::string text(5000, 'x');
  Trace("%s", text.c_str());
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], text);
}

TEST(TraceTest, TracesFromSeveralThreadsAreAllKept) {
  TraceCapture capture;
  std::thread a([] { for (int i = 0; i < 500; ++i) Trace("a %d", i); });
  std::thread b([] { for (int i = 0; i < 500; ++i) Trace("b %d", i); });
  a.join();
  b.join();
  EXPECT_EQ(capture.Lines().size(), 1000u);
}

}  // namespace
}  // namespace platform
