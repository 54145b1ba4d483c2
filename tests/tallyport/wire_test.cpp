// Every command export against the simulator: the command code and the exact data bytes it
// received, and without a connection nothing sent and nothing touched.
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>

#include "platform/trace.h"
#include "seriallink/settings.h"
#include "test_support.h"

namespace tallyport::testing {
namespace {

// 7 December 2026, 13:05:09 and 1 December 2026.
constexpr double kDec7 = 46363.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0;
constexpr TpDateTime kDec7Valid = {kDec7, TALLYPORT_DT_VALID};
constexpr TpDateTime kDec1Valid = {46357.0, TALLYPORT_DT_VALID};

// Outs every case may write; reset to marks before each call.
struct Outs {
  int16_t a = -7;
  int16_t b = -7;
  int16_t c = -7;
  double d1 = -7;
  double d2 = -7;
  double d3 = -7;
  double d4 = -7;
  TpDateTime dt = {-7, 2};
  TextOut text;
  TextOut text2;

  bool Untouched() const {
    return a == -7 && b == -7 && c == -7 && d1 == -7 && d2 == -7 && d3 == -7 && d4 == -7 && dt.value == -7 &&
           dt.status == 2 && text.Untouched() && text2.Untouched();
  }
};

struct WireCase {
  const char *name;
  std::function<int32_t(Outs &)> call;
  uint8_t code;
  std::string data;
};

std::vector<WireCase> Cases() {
  return {
      {"AdvancePaper", [](Outs &) { return AdvancePaper(99, 5); }, 0x2C, "99"},
      {"BeginFiscalBon", [](Outs &o) { return BeginFiscalBon(1, "0000", 1, 0, &o.a, &o.b); }, 0x30, "01,0000,01"},
      {"BeginFiscalBon", [](Outs &o) { return BeginFiscalBon(1, "0000", 1, 'I', &o.a, &o.b); }, 0x30,
       "01,0000,01,I"},
      {"BeginNonFiscalBon", [](Outs &o) { return BeginNonFiscalBon(&o.a, &o.b); }, 0x26, ""},
      {"ClerkReport", [](Outs &) { return ClerkReport(); }, 0x69, ""},
      {"CutPaper", [](Outs &o) { return CutPaper(&o.a); }, 0x2D, ""},
      {"DayPluReport", [](Outs &o) { return DayPluReport(2, 1, o.text.bytes); }, 0x6C, "2N"},
      {"DayReport", [](Outs &o) { return DayReport(0, 1, o.text.bytes); }, 0x45, "0N"},
      {"DayReport", [](Outs &o) { return DayReport(2, 0, o.text.bytes); }, 0x45, "2"},
      {"DayReport", [](Outs &o) { return DayReport(-1, 1, o.text.bytes); }, 0x45, ""},
      {"DeletePlu", [](Outs &o) { return DeletePlu(1, 5, 9, o.text.bytes); }, 0x6B, "DA"},
      {"DeletePlu", [](Outs &o) { return DeletePlu(0, 5, 3, o.text.bytes); }, 0x6B, "D5"},
      {"DeletePlu", [](Outs &o) { return DeletePlu(0, 5, 9, o.text.bytes); }, 0x6B, "D5,9"},
      {"DeletePlu", [](Outs &o) { return DeletePlu(0, -1, -1, o.text.bytes); }, 0x6B, "D4294967295,4294967295"},
      {"DisplayClear", [](Outs &) { return DisplayClear(); }, 0x21, ""},
      {"DisplayDateTime", [](Outs &) { return DisplayDateTime(); }, 0x3F, ""},
      {"DisplayFreeData", [](Outs &) { return DisplayFreeData("free"); }, 0x64, "free"},
      {"DisplayText", [](Outs &) { return DisplayText(1, "Hello"); }, 0x2E, "1,Hello"},
      {"DisplayTextLL", [](Outs &) { return DisplayTextLL("lower"); }, 0x23, "lower"},
      {"DisplayTextUL", [](Outs &) { return DisplayTextUL(nullptr); }, 0x2F, ""},
      {"EKLStore", [](Outs &) { return EKLStore(65535); }, 0x90, "65535"},
      {"EnableAutoCutter", [](Outs &) { return EnableAutoCutter(1); }, 0x2B, "C1"},
      {"EnableLogo", [](Outs &) { return EnableLogo(0); }, 0x2B, "L0"},
      {"EndFiscalBon", [](Outs &o) { return EndFiscalBon(&o.a, &o.b); }, 0x38, ""},
      {"EndNonFiscalBon", [](Outs &o) { return EndNonFiscalBon(&o.a); }, 0x27, ""},
      {"Fiscalise", [](Outs &o) { return Fiscalise("FM1", &o.a); }, 0x48, "FM1"},
      {"GetBonInfo", [](Outs &o) { return GetBonInfo(o.text.bytes); }, 0x67, ""},
      {"GetClerkInfo", [](Outs &o) { return GetClerkInfo(5, o.text.bytes); }, 0x70, "05"},
      {"GetConstants", [](Outs &o) { return GetConstants(o.text.bytes); }, 0x80, ""},
      {"GetCurrentSums", [](Outs &o) { return GetCurrentSums(o.text.bytes); }, 0x43, ""},
      {"GetCurrentTaxR", [](Outs &o) { return GetCurrentTaxR(o.text.bytes); }, 0x61, ""},
      {"GetCurrentTaxRates", [](Outs &o) { return GetCurrentTaxRates(&o.d1, &o.d2, &o.d3, &o.d4); }, 0x61, ""},
      {"GetCurrentTaxes", [](Outs &o) { return GetCurrentTaxes(o.text.bytes); }, 0x41, ""},
      {"GetDateTime", [](Outs &o) { return GetDateTime(&o.dt); }, 0x3E, ""},
      {"GetDayInfo", [](Outs &o) { return GetDayInfo(o.text.bytes); }, 0x6E, ""},
      {"GetDeptInfo", [](Outs &o) { return GetDeptInfo(3, o.text.bytes); }, 0x83, "R3"},
      {"GetDeptInfo", [](Outs &o) { return GetDeptInfo(-1, o.text.bytes); }, 0x83, "R4294967295"},
      {"GetDiagnosticInfo", [](Outs &o) { return GetDiagnosticInfo(1, o.text.bytes); }, 0x5A, "1"},
      {"GetDiagnosticInfo", [](Outs &o) { return GetDiagnosticInfo(0, o.text.bytes); }, 0x5A, ""},
      {"GetDocNumber", [](Outs &o) { return GetDocNumber(o.text.bytes); }, 0x71, ""},
      {"GetFMInfo", [](Outs &o) { return GetFMInfo(5, 1, 10, o.text.bytes); }, 0x72, "1,5,10"},
      {"GetFMInfo", [](Outs &o) { return GetFMInfo(2, 7, 10, o.text.bytes); }, 0x72, "7,2"},
      {"GetFiscalClosureStatus", [](Outs &o) { return GetFiscalClosureStatus(1, o.text.bytes); }, 0x4C, "T"},
      {"GetFiscalClosureStatus", [](Outs &o) { return GetFiscalClosureStatus(0, o.text.bytes); }, 0x4C, ""},
      {"GetFreeClosures", [](Outs &o) { return GetFreeClosures(&o.a, &o.b); }, 0x44, ""},
      {"GetHeader", [](Outs &o) { return GetHeader(3, o.text.bytes); }, 0x2B, "I3"},
      {"GetLastClosure", [](Outs &o) { return GetLastClosure(o.text.bytes); }, 0x40, ""},
      {"GetMulDecCurRF", [](Outs &o) { return GetMulDecCurRF(&o.a, &o.b, o.text.bytes, &o.c); }, 0x53, ""},
      {"GetPluInfo", [](Outs &o) { return GetPluInfo(0, 15, o.text.bytes); }, 0x6B, "F"},
      {"GetPluInfo", [](Outs &o) { return GetPluInfo(1, 15, o.text.bytes); }, 0x6B, "N"},
      {"GetPluInfo", [](Outs &o) { return GetPluInfo(2, 15, o.text.bytes); }, 0x6B, "R15"},
      {"GetPluInfo", [](Outs &o) { return GetPluInfo(3, 15, o.text.bytes); }, 0x6B, "F1"},
      {"GetPrnStatus", [](Outs &o) { return GetPrnStatus(0, o.text.bytes); }, 0x4A, "X"},
      {"GetPrnStatus", [](Outs &o) { return GetPrnStatus(1, o.text.bytes); }, 0x4A, "W"},
      {"GetTaxNumber", [](Outs &o) { return GetTaxNumber(o.text.bytes); }, 0x63, ""},
      {"GetTaxRates", [](Outs &o) { return GetTaxRates(kDec7, kDec7, o.text.bytes); }, 0x32, "071226,071226"},
      {"GetTaxRates", [](Outs &o) { return GetTaxRates(1e9, 0, o.text.bytes); }, 0x32, "Invalid DateTime,301299"},
      {"GetText", [](Outs &o) { return GetText(2, o.text.bytes); }, 0x95, "R2"},
      {"GetVatAccount", [](Outs &o) { return GetVatAccount(o.text.bytes); }, 0x93, "R"},
      {"LoadLogo", [](Outs &) { return LoadLogo(3, "00FF"); }, 0x73, "3,00FF"},
      {"LoadLogo", [](Outs &) { return LoadLogo(-1, "FF"); }, 0x73, "4294967295,FF"},
      {"OpenDrawer", [](Outs &) { return OpenDrawer(0); }, 0x6A, ""},
      {"OpenDrawer", [](Outs &) { return OpenDrawer(50); }, 0x6A, "50"},
      {"PerReport", [](Outs &) { return PerReport(0); }, 0x45, "9"},
      {"PerReport", [](Outs &) { return PerReport(1); }, 0x45, "8"},
      {"PluReport", [](Outs &o) { return PluReport(1, o.text.bytes); }, 0x6F, "1"},
      {"PrintClientInfo", [](Outs &) { return PrintClientInfo("a", "b", "", "d", nullptr, "f"); }, 0x39,
       "a\tb\t\td\t\tf"},
      {"PrintCopyBon", [](Outs &) { return PrintCopyBon(1); }, 0x6D, "1"},
      {"PrintDiagnosticInfo", [](Outs &) { return PrintDiagnosticInfo(); }, 0x47, ""},
      {"PrintEKL", [](Outs &o) { return PrintEKL(&o.a); }, 0x45, "5"},
      {"PrintFiscalMemoryByDate", [](Outs &) { return PrintFiscalMemoryByDate(kDec7Valid, kDec7Valid); }, 0x5E,
       "071226,071226"},
      {"PrintFiscalMemoryByNum", [](Outs &) { return PrintFiscalMemoryByNum(1, 25); }, 0x49, "0001,0025"},
      {"PrintFiscalText", [](Outs &) { return PrintFiscalText("Thanks"); }, 0x36, "Thanks"},
      {"PrintNonFiscalText", [](Outs &) { return PrintNonFiscalText(""); }, 0x2A, ""},
      {"PrintReportByDate", [](Outs &) { return PrintReportByDate(kDec1Valid, kDec7Valid); }, 0x4F, "011226,071226"},
      {"PrintReportByNum", [](Outs &) { return PrintReportByNum(0, 0); }, 0x5F, "0000,0000"},
      {"ProgramTestArea", [](Outs &o) { return ProgramTestArea(1, &o.a, &o.b); }, 0x59, "T"},
      {"ProgramTestArea", [](Outs &o) { return ProgramTestArea(0, &o.a, &o.b); }, 0x59, ""},
      {"Sale", [](Outs &) { return Sale("Bread", "B", 1.2, 2, 0); }, 0x31, "Bread\tB1.20*2.000,0.00"},
      {"SaleAndDisplay", [](Outs &) { return SaleAndDisplay("Milk", "Ax", 2.5, 1, -10); }, 0x34,
       "Milk\tA2.50*1.000,-10.00"},
      {"SaleDept", [](Outs &) { return SaleDept(3, 0, 0, 0); }, 0x8A, "3"},
      {"SaleDept", [](Outs &) { return SaleDept(3, 0.5, -5, 2); }, 0x8A, "3*0.500,-5.00@2.00"},
      {"SalePlu", [](Outs &) { return SalePlu(15, 0, 0, 0); }, 0x3A, "15"},
      {"SalePlu", [](Outs &) { return SalePlu(15, 2, 7.5, 1.25); }, 0x3A, "15*2.000,07.50@1.25"},
      {"SalePlu", [](Outs &) { return SalePlu(-1, 0, 0, 0); }, 0x3A, "-1"},
      {"ServiceInputOutput", [](Outs &o) { return ServiceInputOutput(0, o.text.bytes); }, 0x46, ""},
      {"ServiceInputOutput", [](Outs &o) { return ServiceInputOutput(5, o.text.bytes); }, 0x46, "05.00"},
      {"SetClerkName", [](Outs &) { return SetClerkName(5, "Anna", "x"); }, 0x66, "05,Anna,x"},
      {"SetClerkPassword", [](Outs &) { return SetClerkPassword(5, "old", "1234"); }, 0x65, "05,old,1234"},
      {"SetCountrySerial", [](Outs &o) { return SetCountrySerial(359, "SV1", "FM1", o.text.bytes); }, 0x5B,
       "359,SV1,FM1"},
      {"SetDateTime", [](Outs &) { return SetDateTime(kDec7Valid); }, 0x3D, "07-12-26 13:05:09"},
      {"SetDeptData", [](Outs &o) { return SetDeptData(3, "A", "Fruit", 3, 1, 2, 3, 4, o.text.bytes); }, 0x83,
       "P3,Fruit\nA,3,1,2,3,4"},
      {"SetDeptData", [](Outs &o) { return SetDeptData(3, "A", "Fruit", 3.5, 0, 0, 0, -1, o.text.bytes); }, 0x83,
       "P3,Fruit\nA,03.50,0,0,0,4294967295"},
      {"SetFonts", [](Outs &) { return SetFonts(1, 2); }, 0x91, "1,2"},
      {"SetGlobalOptions", [](Outs &) { return SetGlobalOptions(7); }, 0x92, "7"},
      {"SetHeaderFooter", [](Outs &) { return SetHeaderFooter(3, "ABC"); }, 0x2B, "3ABC"},
      {"SetMulDecCurRF", [](Outs &o) { return SetMulDecCurRF(2, 1, "", 0, o.text.bytes); }, 0x53, "2,1,0"},
      {"SetMulDecCurRF", [](Outs &o) { return SetMulDecCurRF(2, 1, "EUR", 0, o.text.bytes); }, 0x53, "2,1,EUR ,0"},
      {"SetPluData", [](Outs &o) { return SetPluData(15, "B", 2.5, "Apple", "", o.text.bytes); }, 0x6B,
       "PB15,02.50,Apple"},
      {"SetPluData", [](Outs &o) { return SetPluData(-1, "B", 2.5, "Apple", "red", o.text.bytes); }, 0x6B,
       "PB4294967295,02.50,Apple\nred"},
      {"SetPluDataEx",
       [](Outs &o) { return SetPluDataEx(15, "B", 2.5, "Apple", "red", 1, 12.5, 2, 3, 1, 4, o.text.bytes); }, 0x6B,
       "PB15,02.50,Apple\nred,1,1,12.500,2,3,4"},
      {"SetPluDataEx",
       [](Outs &o) { return SetPluDataEx(15, "B", 2.5, "Apple", "", 1, 12.5, 2, 3, 0, 4, o.text.bytes); }, 0x6B,
       "PB15,02.50,Apple\n,1,0,12,2,3,4"},
      {"SetPrintOptions", [](Outs &) { return SetPrintOptions(1, 0, 1, 0); }, 0x2B, "P1010"},
      {"SetTaxNumber", [](Outs &o) { return SetTaxNumber("BG123", "1", &o.a); }, 0x62, "BG123,1"},
      {"SetTaxR", [](Outs &o) { return SetTaxR("20.00,09.00,00.00,00.00", &o.a); }, 0x60, "20.00,09.00,00.00,00.00"},
      {"SetTaxRates", [](Outs &o) { return SetTaxRates(20, 9, 0, 5.5, &o.a); }, 0x60, "20.00,09.00,00.00,05.50"},
      {"SetText", [](Outs &) { return SetText(3, "Welcome"); }, 0x95, "P3,Welcome"},
      {"SetVatAccount", [](Outs &) { return SetVatAccount(12.5, ""); }, 0x93, "P12.50"},
      {"SetVatAccount", [](Outs &) { return SetVatAccount(12.5, "acct"); }, 0x93, "P12.50,acct"},
      {"SubTotal", [](Outs &o) { return SubTotal(1, 0, 0, o.text.bytes); }, 0x33, "10,00.00"},
      {"TestPrinter", [](Outs &o) { return TestPrinter(0x121, "abc", o.text.bytes); }, 0x21, "abc"},
      {"Total", [](Outs &o) { return Total("", "", 0, &o.a, &o.d1); }, 0x35, "\t"},
      {"Total", [](Outs &o) { return Total("", nullptr, 12.5, &o.a, &o.d1); }, 0x35, "\tP12.50"},
      {"Total", [](Outs &o) { return Total("", "C", 20, &o.a, &o.d1); }, 0x35, "\tC20"},
      {"Total", [](Outs &o) { return Total("", "", 0.05, &o.a, &o.d1); }, 0x35, "\tP00.05"},
      {"Total", [](Outs &o) { return Total("Card", "D", 0, &o.a, &o.d1); }, 0x35, "Card\tD0"},
      {"VoidAll", [](Outs &) { return VoidAll(); }, 0x82, ""},
      {"WriteToFlash", [](Outs &) { return WriteToFlash(); }, 0x86, ""},
  };
}

class WireTest : public SimulatorTest {};

TEST_F(WireTest, EveryCommandExportSendsItsCodeAndExactData) {
  platform::TraceCapture trace;
  for (const WireCase &c : Cases()) {
    Outs outs;
    EXPECT_EQ(c.call(outs), 0) << c.name << " " << c.data;
    // Each export traces its call and its result (their form: trace_test.cpp).
    EXPECT_EQ(trace.Count(std::string(c.name) + "("), 1u) << c.name;
    EXPECT_EQ(trace.Count(std::string(c.name) + " returned 0"), 1u) << c.name;
    trace.Clear();
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u) << c.name << " " << c.data;
    EXPECT_EQ(frames[0].cmd, c.code) << c.name << " " << c.data;
    EXPECT_EQ(frames[0].data, c.data) << c.name;
    EXPECT_TRUE(frames[0].good) << c.name;
  }
}

TEST(WireCases, CoverEveryCommandExport) {
  std::set<std::string> covered;
  for (const WireCase &c : Cases()) covered.insert(c.name);
  covered.insert("LCDInit");  // its own test below: it reads a file and may send four frames
  std::ifstream list(TALLYPORT_EXPORTS_LIST);
  std::set<std::string> commands;
  for (std::string name; list >> name;) {
    if (name != "Connect" && name != "Disconnect" && name != "SetHwnd4Message" && name != "GetStatus" &&
        name != "GetErrorString") {
      commands.insert(name);
    }
  }
  EXPECT_EQ(commands.size(), 87u);
  EXPECT_EQ(covered, commands);
}

TEST(WithoutConnection, EveryCommandExportGives10002SendsNothingAndTouchesNoOut) {
  Disconnect();
  for (const WireCase &c : Cases()) {
    Outs outs;
    EXPECT_EQ(c.call(outs), TALLYPORT_NOT_CONNECTED) << c.name << " " << c.data;
    EXPECT_TRUE(outs.Untouched()) << c.name << " " << c.data;
  }
  EXPECT_EQ(LCDInit(1, "/nonexistent"), TALLYPORT_NOT_CONNECTED);
  EXPECT_EQ(SetHwnd4Message(5), TALLYPORT_NOT_CONNECTED);
  TextOut status;
  GetStatus(status.bytes);
  EXPECT_TRUE(status.Untouched());
}

// Display characters from a file: four rows of 32 bytes, or the short form.
class LcdInitTest : public SimulatorTest {
 protected:
  std::string WriteFile(const std::string &bytes) {
    // Random names: the cases may run in parallel processes.
    static std::random_device random;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("tallyport-lcd-" + std::to_string(random()) + std::to_string(random()));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(std::filesystem::file_size(path), bytes.size());
    files_.push_back(path.string());
    return path.string();
  }
  ~LcdInitTest() override {
    std::error_code ignored;
    for (const auto &f : files_) std::filesystem::remove(f, ignored);
  }
  std::vector<std::string> files_;
};

TEST_F(LcdInitTest, ModeOneSendsFourRowsOfHex) {
  EXPECT_EQ(LCDInit(1, WriteFile("\x01\x02\x03\x04\x05\x06\x07\x08\x09\xAB").c_str()), 0);
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 4u);
  const std::string zeros(64, '0');
  EXPECT_EQ(frames[0].data, "80,010203040506070809AB" + std::string(44, '0'));
  EXPECT_EQ(frames[1].data, "A0," + zeros);
  EXPECT_EQ(frames[2].data, "C0," + zeros);
  EXPECT_EQ(frames[3].data, "E0," + zeros);
  for (const auto &f : frames) EXPECT_EQ(f.cmd, 0x84);
}

TEST_F(LcdInitTest, ModeZeroSendsTheShortForm) {
  EXPECT_EQ(LCDInit(0, WriteFile(std::string("\x10\x20", 2)).c_str()), 0);
  EXPECT_EQ(LCDInit(0, WriteFile(std::string("\x10\x20\x00\xFF", 4)).c_str()), 0);
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].cmd, 0x85);
  EXPECT_EQ(frames[0].data, "16,32");
  EXPECT_EQ(frames[1].data, "16,32,00FF");
}

TEST_F(LcdInitTest, BadFilesAndModesAreRefusedBeforeAnythingIsSent) {
  EXPECT_EQ(LCDInit(0, WriteFile("\x10").c_str()), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(LCDInit(0, WriteFile("").c_str()), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(LCDInit(2, WriteFile("0123456789").c_str()), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(LCDInit(1, "/nonexistent/lcd.bin"), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(LCDInit(1, nullptr), TALLYPORT_BAD_PARAMETER);
  EXPECT_TRUE(Frames().empty());
}

TEST_F(LcdInitTest, ARowThatFailsEndsTheLoad) {
  sim_->Faults().SilentFor(5);
  seriallink::SetFlavour({std::chrono::milliseconds(100), std::chrono::milliseconds(0)});
  EXPECT_EQ(LCDInit(1, WriteFile("0123456789").c_str()), TALLYPORT_NO_RESPONSE);
  // The last write may still be on its way to the device when the wait for it ran out.
  EXPECT_TRUE(sim_->ReceivedFrames().WaitForSize(5, std::chrono::seconds(5)));
  const auto frames = Frames();
  ASSERT_EQ(frames.size(), 5u);  // the first row, five times; no second row
  for (const auto &f : frames) EXPECT_EQ(f.data.substr(0, 3), "80,");
}

}  // namespace
}  // namespace tallyport::testing
