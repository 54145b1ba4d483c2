// The paper roll: scripted command sequences run on a device model, and the lines they print.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "fiscalsim/device_model.h"
#include "fiscalsim/paper_output.h"
#include "fiscalsim/paper_roll.h"
#include "stored_png.h"

namespace fiscalsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

using Script = std::vector<std::pair<uint8_t, std::string>>;

const sys_seconds kNow = sys_days(year(2026) / 12 / 9) + hours(10) + minutes(30);

// Runs each command as the simulator does, hooks around it; the number refused.
size_t RunScript(DeviceModel &model, PaperRoll &roll, const Script &script) {
  size_t refused = 0;
  for (const auto &[cmd, data] : script) {
    roll.BeforeCommand(model, cmd, data);
    const Answer answer = model.Execute(cmd, data);
    roll.AfterCommand(model, cmd, data, answer);
    refused += (answer.status[0] & status::kError) != 0;
  }
  return refused;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

size_t Columns(const std::string &utf8) {
  size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

Script operator+(Script a, const Script &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Script kSale = {{command::kHeaderLine, "0CORNER SHOP"},
                      {command::kHeaderLine, "8THANK YOU"},
                      {command::kOpenReceipt, "1,0000,1"},
                      {command::kSale, "Bread\tB1.20*2.000,0.00"},
                      {command::kSale, "Milk\tA2.50*1.000,0.00"},
                      {command::kSubtotal, "10,00.00"},
                      {command::kTotal, "\tP10"},
                      {command::kCloseReceipt, ""}};

struct RollCase {
  const char *name;
  Script script;
  size_t refused;
  size_t documents;
  size_t cuts;
  // Each must be on the roll, in this order, with only other lines between them.
  std::vector<std::string> lines;
};

void PrintTo(const RollCase &c, std::ostream *os) { *os << c.name; }

const RollCase kRollCases[] = {
    {"SaleWithChange",
     kSale,
     0,
     1,
     1,
     {"                  CORNER SHOP", "              TAX NO. BG000000000",
      "CLERK 1                                   TILL 1", "------------------------------------------------", "Bread",
      "  2.000 x 1.20                            2.40 B", "Milk", "  1.000 x 2.50                            2.50 A",
      "SUBTOTAL                                    4.90", "TOTAL EUR                                   4.90",
      "CASH                                       10.00", "CHANGE                                      5.10",
      "                   THANK YOU", "RECEIPT 1   FISCAL RECEIPT 1",
      "09-12-2026 10:30:00                  SN SV000001", "FM 50000001                               Z 0001",
      "       *** FISCAL RECEIPT - SIMULATED ***", "8<----------------------------------------------"}},
    {"NonFiscalTextsWrapAtTheEdge",
     {{command::kOpenNonFiscal, ""},
      {command::kNonFiscalText, "Table 4"},
      {command::kNonFiscalText, "A note long enough that the printer has to carry it over"},
      {command::kCloseNonFiscal, ""}},
     0,
     1,
     1,
     {"               NON-FISCAL RECEIPT", "Table 4", "A note long enough that the printer has to carry", "it over",
      "RECEIPT 1", "          *** NOT A FISCAL RECEIPT ***"}},
    {"XReportShowsTheDayByGroup",
     Script(kSale.begin() + 2, kSale.end()) + Script{{command::kReport, "2"}},
     0,
     2,
     2,
     {"                 X REPORT 0001", "GROUP A   20.00%                            2.50",
      "  TAX                                       0.42", "GROUP B    9.00%                            2.40",
      "  TAX                                       0.20", "GROUP C    0.00%                            0.00",
      "TOTAL EUR                                   4.90", "FISCAL RECEIPTS                                1",
      "FM 50000001                               Z 0001", "         *** NOT A FISCAL DOCUMENT ***"}},
    {"ZReportClosesTheDay",
     Script(kSale.begin() + 2, kSale.end()) + Script{{command::kReport, "0"}, {command::kReport, "2"}},
     0,
     3,
     3,
     {"                 Z REPORT 0001", "GROUP A   20.00%                            2.50",
      "TOTAL EUR                                   4.90", "FM 50000001                               Z 0001",
      "         *** DAY CLOSED - SIMULATED ***", "                 X REPORT 0002",
      "GROUP A   20.00%                            0.00", "TOTAL EUR                                   0.00",
      "FM 50000001                               Z 0002"}},
    {"FeedAndCutWithoutTheAutomaticCutter",
     {{command::kHeaderLine, "C0"},
      {command::kOpenNonFiscal, ""},
      {command::kPaperFeed, "1"},
      {command::kCloseNonFiscal, ""},
      {command::kPaperFeed, "2"},
      {command::kPaperCut, ""}},
     0,
     3,
     1,
     {"------------------------------------------------", "", "------------------------------------------------",
      "          *** NOT A FISCAL RECEIPT ***", "", "", "8<----------------------------------------------"}},
    {"CyrillicThroughTheCodeTable",
     {{command::kSale, "x\tA1.00*1.000,0.00"},
      {command::kOpenReceipt, "1,0000,1"},
      {command::kSale, "\xD5\xEB\xFF\xE1\tB1.00*1.000,0.00"},
      {command::kFiscalText, "\xA8\xEB\xEA\xE0"},
      {command::kTotal, "\t"},
      {command::kCloseReceipt, ""},
      {command::kCodeTable, "A0,A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF"},
      {command::kOpenNonFiscal, ""},
      {command::kNonFiscalText, "\xA8\xEB\xEA\xE0 \xB9 7"},
      {command::kCloseNonFiscal, ""}},
     1,
     2,
     2,
     {"\u0425\u043B\u044F\u0431", "  1.000 x 1.00                            1.00 B", " \u043B\u043A\u0430",
      "CASH                                        1.00", "\u0401\u043B\u043A\u0430 \u2116 7"}},
    {"RefusedCommandsPrintNothing",
     {{command::kTotal, "\tP1"},
      {command::kCloseReceipt, ""},
      {command::kNonFiscalText, "x"},
      {command::kPaperFeed, "0"}},
     4,
     0,
     0,
     {}},
    {"CopyRepeatsTheLastReceipt",
     kSale + Script{{command::kReceiptCopy, "1"}},
     0,
     2,
     2,
     {"       *** FISCAL RECEIPT - SIMULATED ***", "                  *** COPY ***", "Bread",
      "CHANGE                                      5.10", "       *** COPY: NOT A FISCAL RECEIPT ***"}},
    {"ArticleSaleThenVoid",
     {{command::kArticles, "PB12,3.40,Tea"},
      {command::kOpenReceipt, "1,0000,1"},
      {command::kSaleArticle, "12*2,-10.00"},
      {command::kVoidReceipt, ""}},
     0,
     1,
     1,
     {"Tea", "  2.000 x 3.40  -10.00%                   6.12 B", "RECEIPT VOID                                6.12",
      "          *** VOID: NOTHING BOOKED ***"}},
};

class PaperRollTest : public ::testing::TestWithParam<RollCase> {};

TEST_P(PaperRollTest, PrintsTheLinesOfEachDocument) {
  const RollCase &c = GetParam();
  DeviceModel model([] { return system_clock::time_point(kNow); });
  PaperRoll roll;
  EXPECT_EQ(RunScript(model, roll, c.script), c.refused);
  const std::string text = RollText(roll.Documents());
  EXPECT_EQ(roll.Documents().size(), c.documents) << text;
  const std::vector<std::string> lines = Lines(text);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], kRollNotice);
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_LE(Columns(lines[i]), kPaperWidth) << lines[i];
  EXPECT_EQ(static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                              [](const std::string &line) { return line.rfind("8<", 0) == 0; })),
            c.cuts);
  auto at = lines.begin();
  for (const std::string &expected : c.lines) {
    at = std::find(at, lines.end(), expected);
    ASSERT_NE(at, lines.end()) << "missing or out of order: \"" << expected << "\"\n" << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PaperRollTest, ::testing::ValuesIn(kRollCases),
                         [](const ::testing::TestParamInfo<RollCase> &p) { return std::string(p.param.name); });

// The page stands alone: the logo inline, strips split at the cuts, device text escaped.
TEST(PaperRollPage, ShowsTheLogoInlineAndEachStripApart) {
  DeviceModel model([] { return system_clock::time_point(kNow); });
  PaperRoll roll;
  ASSERT_EQ(RunScript(model, roll,
                      {{command::kLogoRow, "0,F00F"},
                       {command::kHeaderLine, "L1"},
                       {command::kOpenNonFiscal, ""},
                       {command::kNonFiscalText, "<b>&\"x\""},
                       {command::kCloseNonFiscal, ""},
                       {command::kDiagnostics, "1"}}),
            0u);
  ASSERT_EQ(roll.Documents().size(), 2u);
  const PrintedDocument &receipt = roll.Documents()[0];
  ASSERT_EQ(receipt.logoPng.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(fiscal_test::Big(receipt.logoPng, 16), 16u);  // the width the row gave
  EXPECT_TRUE(roll.Documents()[1].logoPng.empty()) << "a report prints no logo";
  EXPECT_EQ(Lines(DocumentText(receipt))[0], "                     [logo]");

  const std::string html = RollHtml(roll.Documents());
  EXPECT_NE(html.find(kRollNotice), std::string::npos);
  EXPECT_NE(html.find("<img alt=\"logo\" src=\"data:image/png;base64,iVBORw0KGgo"), std::string::npos);
  EXPECT_NE(html.find("&lt;b&gt;&amp;&quot;x&quot;"), std::string::npos);
  EXPECT_NE(html.find("DIAGNOSTIC PRINT"), std::string::npos);
  size_t strips = 0;
  for (size_t at = html.find("class=\"strip\""); at != std::string::npos; at = html.find("class=\"strip\"", at + 1))
    ++strips;
  EXPECT_EQ(strips, 2u);
  const std::vector<PrintedDocument> many(kPageDocuments + 2, PrintedDocument{{}, {"X"}, true});
  const std::string longPage = RollHtml(many);
  EXPECT_NE(longPage.find(">2 earlier documents are not shown;"), std::string::npos);
  EXPECT_EQ(Lines(longPage).size(), Lines(RollHtml({many.begin(), many.end() - 2})).size() + 1);
  for (const char *external : {"<script", "http:", "https:", "url("})
    EXPECT_EQ(html.find(external), std::string::npos) << external;
}

class PaperOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/paper-roll-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  const std::vector<PrintedDocument> roll_ = {{{}, {"ONE"}, false}, {{}, {"TWO", ""}, true}};
};

TEST_F(PaperOutputTest, TextIsAppendedPerDocumentAndAPageIsRewrittenWhole) {
  const std::string notice = std::string(kRollNotice) + "\n";
  std::string error;
  for (int run = 0; run < 2; ++run) {  // a second run adds to the same file
    const auto text = PaperOutput::Open((dir_ / "roll.txt").string(), &error);
    ASSERT_NE(text, nullptr) << error;
    ASSERT_TRUE(text->Add({roll_.begin(), roll_.begin() + 1}, &error)) << error;
    ASSERT_TRUE(text->Add(roll_, &error)) << error;
  }
  const std::string once = notice + "ONE\nTWO\n\n8<" + std::string(kPaperWidth - 2, '-') + "\n";
  EXPECT_EQ(fiscal_test::ReadFile(dir_ / "roll.txt"), once + once);
  EXPECT_EQ(fs::status(dir_ / "roll.txt").permissions(), fs::perms::owner_read | fs::perms::owner_write);

  const auto page = PaperOutput::Open((dir_ / "roll.html").string(), &error);
  ASSERT_NE(page, nullptr) << error;
  EXPECT_EQ(fiscal_test::ReadFile(dir_ / "roll.html"), RollHtml({}));
  ASSERT_TRUE(page->Add(roll_, &error)) << error;
  EXPECT_EQ(fiscal_test::ReadFile(dir_ / "roll.html"), RollHtml(roll_));
  EXPECT_EQ(fs::status(dir_ / "roll.html").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(PaperOutputTest, ALinkOrAFifoIsRefusedUntouched) {
  fs::create_symlink(dir_ / "elsewhere.txt", dir_ / "link.txt");
  ASSERT_EQ(::mkfifo((dir_ / "fifo.txt").c_str(), 0600), 0);
  for (const char *name : {"link.txt", "fifo.txt"}) {
    std::string error;
    EXPECT_EQ(PaperOutput::Open((dir_ / name).string(), &error), nullptr) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere.txt"));
}

TEST(PaperRollHooks, TheHooksHeldAlreadyRunFirst) {
  SimulatorOptions options;
  std::string order;
  options.beforeCommand = [&](const DeviceModel &, uint8_t, std::string_view) { order += 'b'; };
  options.afterCommand = [&](const DeviceModel &, uint8_t, std::string_view, const Answer &) { order += 'a'; };
  PaperRoll roll([&](const std::vector<PrintedDocument> &) { order += 'R'; });
  AttachPaperRoll(options, roll);
  DeviceModel model;
  options.beforeCommand(model, command::kPaperCut, "");
  options.afterCommand(model, command::kPaperCut, "", model.Execute(command::kPaperCut, ""));
  EXPECT_EQ(order, "baR");
}

}  // namespace
}  // namespace fiscalsim
