// The device's memory file: every field there and back, every byte of a text, the files it
// refuses without touching them or the model, and the saver's writes.
#include "fiscalsim/state_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fiscalsim {
namespace {

namespace fs = std::filesystem;

// A device state stored in the file gains a member there; this size changes with it and makes
// the test below (and the file's reader and writer) get the new field.
#if defined(__x86_64__) && defined(__GLIBCXX__)
static_assert(sizeof(DeviceState) == 5704, "a field added to DeviceState belongs in the state file and in this test");
#endif

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

// Every field set away from a new device's value, the kept ones and the ones the file leaves
// out alike.
DeviceState FullyPopulated() {
  DeviceState s;
  for (size_t i = 0; i < s.headerLines.size(); ++i) s.headerLines[i] = "Header " + std::to_string(i);
  s.headerLines[3] = AllBytes();
  s.headerLines[4] = "\xCF\xF0\xEE\xE4\xE0\xE6\xE1\xE0";  // "Продажба"
  s.taxRates = {std::nullopt, 1, 9999, 500, 0};
  s.clockOffset = std::chrono::seconds(-86400 * 400 - 7);
  s.zReports = 17;
  s.linesFed = 4000000000u;
  s.cuts = 3;
  s.diagnostics = 4;
  s.firmware = "FW 2";
  s.firmwareDate = "01Jan25 0900";
  s.checksum = "BEEF";
  s.switches = "10101010";
  s.serialNumber = "SV999999";
  s.fiscalMemoryNumber = "50999999";
  s.imsi = "284019999999999";
  for (size_t i = 0; i < s.premises.size(); ++i) s.premises[i] = "Premises " + std::to_string(i);
  s.premisesClosing = true;
  s.workingHours = "08:00-20:00";
  s.specificPurpose = "Shop";
  s.premisesConclusions = 2;
  for (size_t i = 0; i < s.registration.size(); ++i) s.registration[i] = "R" + std::to_string(i);
  s.registrationState = "1";
  s.procedures = {"first", "second,\tthird"};
  s.receipt.kind = Receipt::Kind::Fiscal;
  s.receipt.items = 3;
  s.receipt.totalCents = 1234;
  s.receipt.paidCents = 1000;
  s.receipt.paying = true;
  s.receipt.byGroup = {{'A', 1000}, {'B', 234}, {'\xC0', -5}};
  s.receipts = 41;
  s.fiscalReceipts = 40;
  s.dayTotalCents = -99'999'999'999'999;
  s.dayByGroup = {{'A', 99'999'999'999'999}, {'E', 7}};
  s.cashInCents = 5000;
  s.cashOutCents = 200;
  s.reportsPrinted = 9;
  s.journalStores = 8;
  s.articles[1] = {'B', 199, "Milk", "1 l", "a,b,1.000,d,e,f"};
  s.articles[999999999] = {'\xC1', 0, "\xCC\xEB\xFF\xEA\xEE", "", ""};
  s.departments[7] = {'C', "Bakery", "2.50", "1,2,3,4"};
  for (size_t i = 0; i < kClerks; ++i) {
    s.clerkNames[i] = "Clerk " + std::to_string(i);
    s.clerkPasswords[i] = std::to_string(1000 + i);
    s.clerkIds[i] = std::to_string(90000000000 + i);
  }
  s.printOptions = "1111";
  s.autoCutter = false;
  s.logo = true;
  s.logoRows = {{0, "FF00"}, {95, "0123456789ABCDEF"}};
  s.fonts = {3, 9};
  s.globalOptions = 65535;
  s.decimalsAndCurrency = "0,1,BGN,1";
  s.country = 7;
  s.taxNumber = "BG123456789";
  s.vatAccount = "12.50,text";
  s.texts = {{0, "zero"}, {99, "ninety-nine"}};
  s.displayCharacters = {{0, "1,2,FF"}, {0x80, std::string(64, 'A')}};
  s.flashWrites = 6;
  s.fiscalised = true;
  s.testArea = true;
  s.dhcp = true;
  for (size_t i = 0; i < s.tcpIp.size(); ++i) s.tcpIp[i] = static_cast<uint8_t>(250 - i);
  s.gprsApn = "apn";
  s.gprsUser = "user";
  s.gprsPassword = "secret";
  s.gprsTests = 5;
  s.locked = false;
  s.unlockKey = "1,2,3,4";
  s.lockOwner = "98765432109";
  s.counters = {"first", "second"};
  s.journalPrints = {"2,1,1", "2,1,2"};
  s.journalCardActivations = 2;
  for (size_t i = 0; i < s.codeTable.size(); ++i) s.codeTable[i] = static_cast<uint8_t>(255 - i);
  s.logoWidthDots = 576;
  s.logoMaxRows = 64;
  // What a device loses at power-off.
  s.displayUpper = "upper";
  s.displayLower = "lower";
  s.standingStatus = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85};
  s.gprsUp = false;
  s.gprsLinkUp = false;
  return s;
}

DeviceState WithoutVolatile(DeviceState s) {
  const DeviceState fresh;
  s.displayUpper = fresh.displayUpper;
  s.displayLower = fresh.displayLower;
  s.standingStatus = fresh.standingStatus;
  s.gprsUp = fresh.gprsUp;
  s.gprsLinkUp = fresh.gprsLinkUp;
  return s;
}

TEST(StateFile, EveryKeptFieldAndEveryByteComesBack) {
  const DeviceState full = FullyPopulated();
  const std::string text = SerialiseState(full);
  std::string error;
  const std::optional<DeviceState> back = ParseState(text, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_TRUE(*back == WithoutVolatile(full));
  EXPECT_EQ(back->headerLines[3], AllBytes());
  EXPECT_EQ(SerialiseState(*back), text);

  // A person reads the device's texts as what they are.
  EXPECT_NE(text.find("\"Продажба\""), std::string::npos);
  EXPECT_NE(text.find("\"format\": \"fiscal-sim-state\""), std::string::npos);
  EXPECT_NE(text.find("\"version\": 1"), std::string::npos);
}

TEST(StateFile, AHandWrittenFileSetsWhatItNamesAndLeavesTheRestNew) {
  std::string error;
  const auto s = ParseState(R"({"format": "fiscal-sim-state", "version": 1,
      "headerLines": ["ДИМ ЕООД", "", "", "", "", "", "", "", "", ""],
      "taxRates": [2000, null, 0, null, 900],
      "receipt": {"kind": "nonFiscal"},
      "articles": {"42": {"group": "B", "priceCents": 250, "name": "Хляб"}},
      "logoRows": {"3": "F0"}})",
                            &error);
  ASSERT_TRUE(s) << error;
  DeviceState expected;
  expected.headerLines[0] = "\xC4\xC8\xCC \xC5\xCE\xCE\xC4";
  expected.taxRates = {2000, std::nullopt, 0, std::nullopt, 900};
  expected.receipt.kind = Receipt::Kind::NonFiscal;
  expected.articles[42] = {'B', 250, "\xD5\xEB\xFF\xE1", "", ""};
  expected.logoRows[3] = "F0";
  EXPECT_TRUE(*s == expected);
}

struct RefusedCase {
  const char *what;
  std::string text;
  const char *why;  // the end of the message, after "<path>: "
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.what; }

std::string Member(const std::string &json) { return R"({"format": "fiscal-sim-state", "version": 1, )" + json + "}"; }

const std::string kWhole = SerialiseState(FullyPopulated());

const RefusedCase kRefused[] = {
    {"Empty", "", "empty file"},
    {"Blank", " \n", "empty file"},
    {"Truncated", kWhole.substr(0, kWhole.size() / 2), "not valid JSON (parse error at line"},
    {"NotJson", "headerLines=1", "not valid JSON (parse error at line 1, column 1"},
    {"Foreign", R"({"format": "backup", "version": 1})", "not a fiscal-sim state file"},
    {"NoFormat", R"({"version": 1})", "not a fiscal-sim state file"},
    {"AnArray", R"([1, 2])", "not a fiscal-sim state file"},
    {"Newer", R"({"format": "fiscal-sim-state", "version": 7})", "version 7 is newer than this fiscal-sim (1)"},
    {"VersionZero", R"({"format": "fiscal-sim-state", "version": 0})", "version 0 is no version of this file"},
    {"VersionAsText", R"({"format": "fiscal-sim-state", "version": "1"})", "field version: expected a whole number"},
    {"RatesAsText", Member(R"("taxRates": "20,9")"),
     "field taxRates: expected an array of 5 rates (hundredths of a percent, null for none)"},
    {"RateTooHigh", Member(R"("taxRates": [10000, 0, 0, 0, 0])"),
     "field taxRates[0]: expected a whole number from 0 to 9999"},
    {"NegativeCount", Member(R"("receipts": -1)"), "field receipts: expected a whole number from 0 to 4294967295"},
    {"FractionalCents", Member(R"("dayTotalCents": 1.5)"), "field dayTotalCents: expected a whole number from"},
    {"CentsBeyondTheField", Member(R"("cashInCents": 100000000000000)"), "field cashInCents: expected a whole number"},
    {"HugeClockOffset", Member(R"("clockOffsetSeconds": 9223372036854775807)"), "field clockOffsetSeconds: expected"},
    {"ShortHeader", Member(R"("headerLines": ["a"])"), "field headerLines: expected an array of 10 texts"},
    {"FlagAsNumber", Member(R"("fiscalised": 1)"), "field fiscalised: expected true or false"},
    {"Misspelt", Member(R"("taxRate": [0, 0, 0, 0, 0])"), "unknown field taxRate"},
    {"NotInTheCodePage", Member(R"("taxNumber": "中")"),
     "field taxNumber: the character U+4E2D is not in code page 1251"},
    {"BrokenUtf8", Member("\"taxNumber\": \"\xFF\""), "not valid JSON (parse error at line 1"},
    {"ReceiptKind", Member(R"("receipt": {"kind": "open"})"),
     R"(field receipt.kind: expected "none", "fiscal" or "nonFiscal")"},
    {"ReceiptMember", Member(R"("receipt": {"total": 1})"), "unknown field receipt.total"},
    {"GroupOfTwoLetters", Member(R"("dayByGroup": {"AB": 1})"), "field dayByGroup.AB: expected one letter"},
    {"ArticleNumber", Member(R"("articles": {"x1": {}})"),
     "field articles.x1: expected a number from 0 to 4294967295 as the name"},
    {"ArticleLeadingZero", Member(R"("articles": {"01": {}})"), "field articles.01: expected a number from"},
    {"ArticlePrice", Member(R"("articles": {"1": {"priceCents": "1.00"}})"),
     "field articles.1.priceCents: expected a whole number"},
    {"LogoRowBeyondTheLogo", Member(R"("logoRows": {"96": "FF"})"),
     "field logoRows.96: expected a number from 0 to 95 as the name"},
    {"LogoRowOddHex", Member(R"("logoRows": {"1": "FFF"})"), "field logoRows.1: expected an even number of hex"},
    {"CodeTableShort", Member(R"("codeTable": "2020")"), "field codeTable: expected 256 hex digits 0-9, A-F"},
    {"OctetTooLarge", Member(R"("tcpIp": [256,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0])"),
     "field tcpIp[0]: expected a whole number from 0 to 255"},
};

class StateFileRefused : public ::testing::TestWithParam<RefusedCase> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fiscal-state-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

std::string Contents(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_P(StateFileRefused, NamesTheFileAndWhatIsWrongAndTouchesNothing) {
  const RefusedCase &c = GetParam();
  const fs::path path = dir_ / "shop.json";
  std::ofstream(path, std::ios::binary) << c.text;
  const auto written = fs::last_write_time(path);
  DeviceState state = FullyPopulated();
  std::string error;
  EXPECT_EQ(LoadStateFile(path.string(), &state, &error), StateLoad::Refused);
  const std::string prefix = path.string() + ": ";
  EXPECT_EQ(error.substr(0, prefix.size() + std::string(c.why).size()), prefix + c.why) << error;
  EXPECT_TRUE(state == FullyPopulated());
  EXPECT_EQ(Contents(path), c.text);
  EXPECT_EQ(fs::last_write_time(path), written);
}

INSTANTIATE_TEST_SUITE_P(Cases, StateFileRefused, ::testing::ValuesIn(kRefused),
                         [](const ::testing::TestParamInfo<RefusedCase> &p) { return std::string(p.param.what); });

using StateFileOnDisk = StateFileRefused;

TEST_F(StateFileOnDisk, OnlyNothingAtTheNameIsANewDeviceAndAMissingFolderIsRefused) {
  DeviceState state = FullyPopulated();
  std::string error;
  EXPECT_EQ(LoadStateFile((dir_ / "none.json").string(), &state, &error), StateLoad::Missing);
  EXPECT_TRUE(state == FullyPopulated());
  const std::string unreachable = (dir_ / "gone" / "none.json").string();
  EXPECT_EQ(LoadStateFile(unreachable, &state, &error), StateLoad::Refused);
  EXPECT_EQ(error, unreachable + ": there is no folder " + (dir_ / "gone").string() + " to keep it in");
  EXPECT_EQ(LoadStateFile(dir_.string(), &state, &error), StateLoad::Refused);
  EXPECT_EQ(error, dir_.string() + " is not a regular file");
  fs::create_symlink(dir_ / "gone", dir_ / "dangling.json");
  EXPECT_EQ(LoadStateFile((dir_ / "dangling.json").string(), &state, &error), StateLoad::Refused);
  EXPECT_TRUE(state == FullyPopulated());
}

TEST_F(StateFileOnDisk, TheSaverWritesChangesOnlyAndSaysAFailureOncePerStreak) {
  const fs::path folder = dir_ / "shop";
  const fs::path path = folder / "state.json";
  fs::create_directory(folder);
  std::vector<std::string> reports;
  StateSaver saver(path.string(), "fiscal-sim", [&](const std::string &line) { reports.push_back(line); });
  DeviceModel model;
  saver.SetBaseline(model.State());

  std::vector<int> order;
  SimulatorOptions::AnswerHook hook = saver.Chain([&](const DeviceModel &, uint8_t, std::string_view, const Answer &) {
    order.push_back(fs::exists(path) ? 2 : 1);
  });
  hook(model, 0, "", Answer::Ok());
  EXPECT_FALSE(fs::exists(path)) << "nothing changed yet";

  model.State().receipts = 5;
  hook(model, 0, "", Answer::Ok());
  EXPECT_EQ(order, (std::vector<int>{1, 1})) << "the earlier hook runs first";
  ASSERT_TRUE(fs::exists(path));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  DeviceState loaded;
  std::string error;
  ASSERT_EQ(LoadStateFile(path.string(), &loaded, &error), StateLoad::Loaded) << error;
  EXPECT_EQ(loaded.receipts, 5u);

  const auto written = fs::last_write_time(path);
  const ino_t inode = st.st_ino;
  EXPECT_TRUE(saver.Save(model.State()));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_ino, inode) << "an unchanged state is not written again";
  EXPECT_EQ(fs::last_write_time(path), written);

  // The folder goes: one report for the streak, the simulator carries on, and the next save
  // after it comes back writes the latest state.
  fs::remove_all(folder);
  model.State().receipts = 6;
  EXPECT_FALSE(saver.Save(model.State()));
  model.State().receipts = 7;
  EXPECT_FALSE(saver.Save(model.State()));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("fiscal-sim: cannot save the device state in " + path.string() + ": ", 0), 0u)
      << reports[0];
  fs::create_directory(folder);
  EXPECT_TRUE(saver.Save(model.State()));
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1], "fiscal-sim: the device state is saved in " + path.string() + " again");
  ASSERT_EQ(LoadStateFile(path.string(), &loaded, &error), StateLoad::Loaded) << error;
  EXPECT_EQ(loaded.receipts, 7u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "no temporary file left";
}

}  // namespace
}  // namespace fiscalsim
