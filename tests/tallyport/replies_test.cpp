// What the exports make of the device's replies, and what they refuse before sending.
#include <cmath>

#include "test_support.h"

namespace tallyport::testing {
namespace {

class RepliesTest : public SimulatorTest {};

TEST_F(RepliesTest, GetDateTimeTakesAValidClockMarksAnImpossibleOneAndIgnoresNone) {
  Answer(0x3E, "07-12-26 13:05:09");
  TpDateTime dt = {1.5, TALLYPORT_DT_NULL};
  EXPECT_EQ(GetDateTime(&dt), 0);
  EXPECT_EQ(dt.status, TALLYPORT_DT_VALID);
  EXPECT_NEAR(dt.value, 46363.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0, 1e-9);

  Answer(0x3E, "31-02-26 10:00:00");
  dt = {1.5, TALLYPORT_DT_VALID};
  EXPECT_EQ(GetDateTime(&dt), TALLYPORT_BAD_ANSWER);
  EXPECT_EQ(dt.status, TALLYPORT_DT_INVALID);

  for (const char *unreadable : {"", "07-12-26", "garbage"}) {
    Answer(0x3E, unreadable);
    dt = {1.5, TALLYPORT_DT_NULL};
    EXPECT_EQ(GetDateTime(&dt), 0) << unreadable;
    EXPECT_EQ(dt.value, 1.5);
    EXPECT_EQ(dt.status, TALLYPORT_DT_NULL);
  }
}

TEST_F(RepliesTest, SplitRepliesSkipEmptyFieldsAndLeaveMissingOutsAlone) {
  Answer(0x53, "2,,EUR,1");
  int16_t first = -1, second = -1, third = -1;
  TextOut currency;
  EXPECT_EQ(GetMulDecCurRF(&first, &second, currency.bytes, &third), 0);
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 0);  // EUR read as a number
  EXPECT_EQ(currency.Text(), "1");
  EXPECT_EQ(third, -1);

  Answer(0x61, "20.00,9.00");
  double r[4] = {-1, -1, -1, -1};
  EXPECT_EQ(GetCurrentTaxRates(&r[0], &r[1], &r[2], &r[3]), 0);
  EXPECT_EQ(r[0], 20.0);
  EXPECT_EQ(r[1], 9.0);
  EXPECT_EQ(r[2], -1);
  EXPECT_EQ(r[3], -1);

  // The simulator's own layout: the undefined groups stop the parse.
  sim_->WithModel([](fiscalsim::DeviceModel &m) { m.State().taxRates = {1800, 900, 0, std::nullopt, 500}; });
  sim_->WithModel([](fiscalsim::DeviceModel &m) { fiscalsim::RegisterTaxCommands(m); });
  EXPECT_EQ(GetCurrentTaxRates(&r[0], &r[1], &r[2], &r[3]), 0);
  EXPECT_EQ(r[0], 18.0);
  EXPECT_EQ(r[2], 0.0);
  EXPECT_EQ(r[3], -1);
}

TEST_F(RepliesTest, ReceiptNumbersAreWrittenOnlyAsTheirPatternsAllow) {
  int16_t a = -1, b = -1;
  Answer(0x30, "7,3");
  EXPECT_EQ(BeginFiscalBon(1, "0000", 1, 0, &a, &b), 0);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 3);
  Answer(0x38, "8");  // one number: neither written
  EXPECT_EQ(EndFiscalBon(&a, &b), 0);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 3);

  Answer(0x26, "5");  // one number: the second becomes 0
  EXPECT_EQ(BeginNonFiscalBon(&a, &b), 0);
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 0);
  a = b = -1;
  Answer(0x26, "x");
  EXPECT_EQ(BeginNonFiscalBon(&a, &b), 0);
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, -1);

  Answer(0x27, "12");
  EXPECT_EQ(EndNonFiscalBon(&a), 0);
  EXPECT_EQ(a, 12);
  Answer(0x44, "1800,30");
  EXPECT_EQ(GetFreeClosures(&a, &b), 0);
  EXPECT_EQ(a, 1800);
  EXPECT_EQ(b, 30);
}

TEST_F(RepliesTest, SingleValueRepliesOfPaperJournalAndFiscalisation) {
  int16_t out = -1;
  Answer(0x2D, "");
  EXPECT_EQ(CutPaper(&out), 0);
  EXPECT_EQ(out, -1);
  Answer(0x2D, "\xF0x");
  EXPECT_EQ(CutPaper(&out), 0);
  EXPECT_EQ(out, 0xF0);  // the byte as 0..255

  out = -1;
  Answer(0x45, "");
  EXPECT_EQ(PrintEKL(&out), 0);
  EXPECT_EQ(out, -1);
  Answer(0x45, "abc");
  EXPECT_EQ(PrintEKL(&out), 0);
  EXPECT_EQ(out, 0);
  Answer(0x45, "42");
  EXPECT_EQ(PrintEKL(&out), 0);
  EXPECT_EQ(out, 42);

  Answer(0x48, "abc");
  out = -1;
  EXPECT_EQ(Fiscalise("x", &out), 0);
  EXPECT_EQ(out, 0);
  Answer(0x48, "12");
  EXPECT_EQ(Fiscalise("x", &out), 0);
  EXPECT_EQ(out, 12);

  int16_t c = -1, n = -1;
  Answer(0x59, "P,50");
  EXPECT_EQ(ProgramTestArea(1, &c, &n), 0);
  EXPECT_EQ(c, 'P');
  EXPECT_EQ(n, 50);
}

TEST_F(RepliesTest, AnswerCharactersAre70WithoutData) {
  int16_t answer = -1;
  EXPECT_EQ(SetTaxRates(20, 9, 0, 0, &answer), 0);  // the simulator answers nothing here
  EXPECT_EQ(answer, 70);
  EXPECT_EQ(SetTaxNumber("BG1", "1", &answer), 0);
  EXPECT_EQ(answer, 'P');
  Answer(0x60, "Q");
  EXPECT_EQ(SetTaxR("x", &answer), 0);
  EXPECT_EQ(answer, 'Q');
}

TEST_F(RepliesTest, TotalAndTextOuts) {
  int16_t code = -1;
  double amount = -1;
  Answer(0x35, "D2.35");
  EXPECT_EQ(Total("", "", 0, &code, &amount), 0);
  EXPECT_EQ(code, 'D');
  EXPECT_EQ(amount, 2.35);
  Answer(0x35, "D");
  code = -1;
  EXPECT_EQ(Total("", "", 0, &code, &amount), 0);
  EXPECT_EQ(code, -1);

  TextOut out;
  Answer(0x33, "");
  EXPECT_EQ(SubTotal(0, 0, 0, out.bytes), 0);
  EXPECT_TRUE(out.Untouched());  // written only when not empty
  Answer(0x32, "");
  EXPECT_EQ(GetTaxRates(0, 0, out.bytes), 0);
  EXPECT_TRUE(out.Untouched());
  Answer(0x2B, "");
  EXPECT_EQ(GetHeader(1, out.bytes), 0);
  EXPECT_EQ(out.Text(), "");  // written also when empty
  EXPECT_EQ(TestPrinter(0x61, "", out.bytes), 0);
  EXPECT_EQ(out.Text(), "20.00,9.00,0.00,-,-");
}

TEST_F(RepliesTest, ArgumentChecksRefuseWith10006BeforeSending) {
  const TpDateTime valid = {46363.0, TALLYPORT_DT_VALID};
  const TpDateTime invalid = {46363.0, TALLYPORT_DT_INVALID};
  const TpDateTime outOfRange = {1e12, TALLYPORT_DT_VALID};
  int16_t a = -1, b = -1;
  double d = -1;
  TextOut out;
  const int32_t results[] = {
      BeginFiscalBon(1, "", 1, 0, &a, &b),
      BeginFiscalBon(1, nullptr, 1, 0, &a, &b),
      BeginFiscalBon(1, "0000", 0, 0, &a, &b),
      Sale("Bread", "", 1, 1, 0),
      Sale("Bread", nullptr, 1, 1, 0),
      SaleAndDisplay("Bread", "", 1, 1, 0),
      PrintFiscalText(""),
      AdvancePaper(100, 0),
      AdvancePaper(65535, 0),
      PerReport(2),
      PrintFiscalMemoryByNum(-1, 25),
      PrintFiscalMemoryByNum(1, -1),
      PrintReportByNum(-1, 0),
      PrintFiscalMemoryByDate(valid, invalid),
      PrintReportByDate(invalid, valid),
      PrintReportByDate(outOfRange, valid),
      SetPluData(1, "A", 1, "", "", out.bytes),
      SetPluDataEx(1, "A", 1, nullptr, "", 0, 0, 0, 0, 0, 0, out.bytes),
      SetDeptData(1, "A", "", 1, 0, 0, 0, 0, out.bytes),
      SetDateTime(invalid),
      SetDateTime({46363.0, TALLYPORT_DT_NULL}),
      SetDateTime(outOfRange),
      SetDateTime({NAN, TALLYPORT_DT_VALID}),
      Fiscalise("", &a),
      GetPluInfo(4, 1, out.bytes),
      GetPluInfo(-1, 1, out.bytes),
      Total("", "", 1e300, &a, &d),
      Total("", "", NAN, &a, &d),
      // Longer than a frame holds.
      PrintFiscalText(std::string(220, 'x').c_str()),
      TestPrinter(0x31, std::string(300, 'x').c_str(), out.bytes),
  };
  for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], TALLYPORT_BAD_PARAMETER) << "case " << i;
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(a, -1);
  EXPECT_EQ(d, -1);
  EXPECT_TRUE(out.Untouched());

  // The limits themselves pass.
  EXPECT_EQ(PrintFiscalText(std::string(219, 'x').c_str()), 0);
  EXPECT_EQ(PerReport(1), 0);
}

}  // namespace
}  // namespace tallyport::testing
