// What the exports trace: their name and arguments on entry, their result on the way out, and
// never a password, neither among the arguments nor in the frame dumps.
#include <cmath>
#include <functional>

#include "platform/trace.h"
#include "test_support.h"

namespace tallyport::testing {
namespace {

constexpr const char *kPassword = "S3cr3t!";
constexpr const char *kOldPassword = "0ld-pw";
constexpr const char *kNewPassword = "n3w-pw";

struct TraceCase {
  const char *name;
  std::function<int32_t()> call;
  std::string entry;
  std::string exit;
};

std::vector<TraceCase> Cases() {
  static TextOut out;
  static int16_t number;
  static double amount;
  return {
      {"Sale", [] { return Sale("Milk", "A", 1.5, 1, 0); }, R"(Sale("Milk", "A", 1.5, 1, 0))", "Sale returned 0"},
      {"Sale NaN", [] { return Sale("Milk", "A", std::nan(""), 1, 0); }, R"(Sale("Milk", "A", nan, 1, 0))",
       "Sale returned 10006"},
      {"BeginFiscalBon", [] { return BeginFiscalBon(1, kPassword, 2, 'I', &number, nullptr); },
       R"(BeginFiscalBon(1, "***", 2, 'I', out, NULL))", "BeginFiscalBon returned 0"},
      {"BeginFiscalBon empty password", [] { return BeginFiscalBon(1, "", 2, 0, nullptr, nullptr); },
       R"(BeginFiscalBon(1, "", 2, 0, NULL, NULL))", "BeginFiscalBon returned 10006"},
      {"SetClerkName", [] { return SetClerkName(5, kPassword, "Anna"); }, R"(SetClerkName(5, "***", "Anna"))",
       "SetClerkName returned 0"},
      {"SetClerkPassword", [] { return SetClerkPassword(5, kOldPassword, kNewPassword); },
       R"(SetClerkPassword(5, "***", "***"))", "SetClerkPassword returned 0"},
      {"TestPrinter with a password command",
       [] { return TestPrinter(0x130, (std::string("01,") + kPassword + ",01").c_str(), out.bytes); },
       R"(TestPrinter(304, "***", out))", "TestPrinter returned 0"},
      {"TestPrinter", [] { return TestPrinter(0x21, "a\tb", nullptr); }, R"(TestPrinter(33, "a\x09b", NULL))",
       "TestPrinter returned 0"},
      {"Total", [] { return Total("Card", nullptr, 12.5, &number, &amount); }, R"(Total("Card", NULL, 12.5, out, out))",
       "Total returned 0"},
      {"AdvancePaper", [] { return AdvancePaper(100, -1); }, "AdvancePaper(100, -1)", "AdvancePaper returned 10006"},
      {"GetDeptInfo", [] { return GetDeptInfo(-1, out.bytes); }, "GetDeptInfo(-1, out)", "GetDeptInfo returned 0"},
      {"PrintReportByDate",
       [] { return PrintReportByDate({46357, TALLYPORT_DT_VALID}, {46363.5, TALLYPORT_DT_VALID}); },
       "PrintReportByDate({46357, 0}, {46363.5, 0})", "PrintReportByDate returned 0"},
      {"SetDateTime", [] { return SetDateTime({1, TALLYPORT_DT_INVALID}); }, "SetDateTime({1, 1})",
       "SetDateTime returned 10006"},
      {"ClerkReport", [] { return ClerkReport(); }, "ClerkReport()", "ClerkReport returned 0"},
      {"SetHwnd4Message", [] { return SetHwnd4Message(-1); }, "SetHwnd4Message(-1)", "SetHwnd4Message returned 0"},
      {"GetStatus",
       [] {
         GetStatus(out.bytes);
         return 0;
       },
       "GetStatus(out)", "GetStatus returned"},
      {"GetErrorString",
       [] {
         GetErrorString(10006, nullptr);
         return 0;
       },
       "GetErrorString(10006, NULL)", "GetErrorString returned"},
  };
}

// The lines of this process; the simulator's own dumps are the device's business.
std::vector<std::string> HostLines(const platform::TraceCapture &capture) {
  std::vector<std::string> lines;
  for (const std::string &line : capture.Lines()) {
    if (line.rfind("fiscal-sim", 0) != 0) lines.push_back(line);
  }
  return lines;
}

std::string Hex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const unsigned char c : text) {
    if (!hex.empty()) hex += ' ';
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0x0F];
  }
  return hex;
}

class TraceTest : public SimulatorTest {};

TEST_F(TraceTest, ExportsTraceNameArgumentsAndResultButNoPassword) {
  platform::TraceCapture capture;
  for (const TraceCase &c : Cases()) {
    c.call();
    const std::vector<std::string> lines = HostLines(capture);
    const auto entry = std::find(lines.begin(), lines.end(), c.entry);
    const auto exit = std::find(lines.begin(), lines.end(), c.exit);
    EXPECT_NE(entry, lines.end()) << c.name << ": no " << c.entry;
    EXPECT_NE(exit, lines.end()) << c.name << ": no " << c.exit;
    EXPECT_LT(entry, exit) << c.name;
    capture.Clear();
  }
}

TEST_F(TraceTest, PasswordsReachNoTraceNotEvenInFrameDumps) {
  platform::TraceCapture capture;
  for (const TraceCase &c : Cases()) c.call();
  const std::vector<std::string> lines = HostLines(capture);
  size_t masked = 0;
  for (const std::string &line : lines) {
    for (const char *secret : {kPassword, kOldPassword, kNewPassword}) {
      EXPECT_EQ(line.find(secret), std::string::npos) << line;
      EXPECT_EQ(line.find(Hex(secret)), std::string::npos) << line;
    }
    if (line.rfind("seriallink tx", 0) == 0 && line.find("masked") != std::string::npos) ++masked;
  }
  // The password commands were dumped, without their data: BeginFiscalBon, SetClerkName,
  // SetClerkPassword and TestPrinter's 0x30.
  EXPECT_EQ(masked, 4u);
}

TEST_F(TraceTest, ConnectAndDisconnectAreTracedToo) {
  platform::TraceCapture capture;
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 9600, 8, 2, 0), 0);
  const std::vector<std::string> lines = HostLines(capture);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Disconnect()"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Disconnect returned 0"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Connect(\"" + sim_->PortName() + "\", 9600, 8, 2, 0)"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Connect returned 0"), lines.end());
}

}  // namespace
}  // namespace tallyport::testing
