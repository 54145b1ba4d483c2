#include "fiscalsim/device_model.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fiscalsim {
namespace {

using namespace std::chrono;

constexpr StatusBytes kOk = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kSyntax = {0xA1, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kInvalid = {0xA2, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kNotAllowed = {0xA0, 0x82, 0x80, 0x80, 0x80, 0x80};

class DeviceModelTest : public ::testing::Test {
 protected:
  // The wall clock stands at 5 March 2024, 14:07:09 until a test moves it.
  DeviceModelTest() : model_([this] { return now_; }) {}

  Answer Run(uint8_t code, std::string_view data = {}) { return model_.Execute(code, data); }

  void ExpectOk(uint8_t code, std::string_view data, std::string_view reply = {}) {
    const Answer a = Run(code, data);
    EXPECT_EQ(a.status, kOk) << "command " << int(code) << " \"" << data << "\"";
    EXPECT_EQ(a.data, reply) << "command " << int(code) << " \"" << data << "\"";
  }

  void ExpectSyntaxError(uint8_t code, std::string_view data) {
    const Answer a = Run(code, data);
    EXPECT_EQ(a.status, kSyntax) << "command " << int(code) << " \"" << data << "\"";
    EXPECT_EQ(a.data, "");
  }

  system_clock::time_point now_ = sys_days(2024y / March / 5) + 14h + 7min + 9s;
  DeviceModel model_;
};

TEST_F(DeviceModelTest, ClockFollowsTheWallClockAndKeepsTheSetOffset) {
  ExpectOk(command::kDateTime, "", "05-03-24 14:07:09");
  ExpectOk(command::kSetDateTime, "31-12-25 23:59:58");
  ExpectOk(command::kDateTime, "", "31-12-25 23:59:58");
  now_ += 5s;
  ExpectOk(command::kDateTime, "", "01-01-26 00:00:03");
}

TEST_F(DeviceModelTest, MalformedDateTimeIsRefusedAndChangesNothing) {
  for (std::string_view bad : {"", "31-02-25 10:00:00", "1-1-25 1:00:00", "31-12-25 24:00:00", "31-12-25 23:60:00",
                               "31/12/25 23:00:00", "31-12-25 23:00:00 ", "aa-12-25 23:00:00", "00-12-25 10:00:00"}) {
    ExpectSyntaxError(command::kSetDateTime, bad);
  }
  ExpectOk(command::kDateTime, "", "05-03-24 14:07:09");
  ExpectOk(command::kSetDateTime, "29-02-24 00:00:00");  // a leap day
}

TEST_F(DeviceModelTest, HeaderLinesRoundTripWithTheLineDigitGluedToTheText) {
  ExpectOk(command::kHeaderLine, "I3", "");
  ExpectOk(command::kHeaderLine, "3ABC");
  ExpectOk(command::kHeaderLine, "5123 MAIN ST");
  ExpectOk(command::kHeaderLine, "9 ");
  ExpectOk(command::kHeaderLine, "0" + std::string(kHeaderLineMax, 'W'));
  ExpectOk(command::kHeaderLine, "I3", "ABC");
  ExpectOk(command::kHeaderLine, "I5", "123 MAIN ST");
  ExpectOk(command::kHeaderLine, "I9", " ");
  ExpectOk(command::kHeaderLine, "I0", std::string(kHeaderLineMax, 'W'));
  ExpectOk(command::kHeaderLine, "3");  // the number alone clears
  ExpectOk(command::kHeaderLine, "I3", "");
}

TEST_F(DeviceModelTest, BadHeaderRequestsAreRefused) {
  for (std::string_view bad : {"", "I", "I10", "IA", "I-", "A text", "-1x"}) ExpectSyntaxError(command::kHeaderLine, bad);
  ExpectSyntaxError(command::kHeaderLine, "1" + std::string(kHeaderLineMax + 1, 'W'));
  ExpectOk(command::kHeaderLine, "I1", "");
}

TEST_F(DeviceModelTest, TaxRatesRoundTripWithUndefinedGroups) {
  ExpectOk(command::kTaxRates, "", "20.00,9.00,0.00,-,-");
  ExpectOk(command::kSetTaxRates, "18.00,9.50,0.00,-1.00,5.00");
  ExpectOk(command::kTaxRates, "", "18.00,9.50,0.00,-,5.00");
  ExpectOk(command::kSetTaxRates, "-1.00,-1.00,-1.00,-1.00,-1.00");
  ExpectOk(command::kTaxRates, "", "-,-,-,-,-");
  ExpectOk(command::kSetTaxRates, "7,7.5,99.99,-2,0.05");
  ExpectOk(command::kTaxRates, "", "7.00,7.50,99.99,-,0.05");
}

TEST_F(DeviceModelTest, MalformedOrOutOfRangeTaxRatesAreRefusedWhole) {
  for (std::string_view bad : {"", "18.00,9.00,0.00", "18.00,9.00,0.00,5.00,1.00,2.00", "abc,9.00,0.00,5.00,1.00",
                               "18.00,,0.00,5.00,1.00", "18.001,9.00,0.00,5.00,1.00", "100.00,9.00,0.00,5.00,1.00",
                               "18.,9.00,0.00,5.00,1.00", " 18.00,9.00,0.00,5.00,1.00", "+18.00,9.00,0.00,5.00,1.00"}) {
    ExpectSyntaxError(command::kSetTaxRates, bad);
  }
  ExpectOk(command::kTaxRates, "", "20.00,9.00,0.00,-,-");
}

TEST_F(DeviceModelTest, DeviceInfoAndImsi) {
  model_.State().serialNumber = "AB123456";
  ExpectOk(command::kDeviceInfo, "0", "FSIM 1.00 BG,02Dec24 1200,5A3C,00000000,AB123456,50000001,284011234567890");
  ExpectSyntaxError(command::kDeviceInfo, "2");
  ExpectOk(command::kImsi, "", "284011234567890");
  // With data the same code prints the journal's documents of a period (service_commands_test).
  EXPECT_EQ(Run(command::kImsi, "194,1,01-01-24 00:00,02-01-24 00:00").status, kNotAllowed);

  // A field the host would skip or split would shift the serial number: refuse instead.
  model_.State().switches.clear();
  EXPECT_EQ(Run(command::kDeviceInfo, "0").status, kNotAllowed);
}

TEST_F(DeviceModelTest, DailyReportCountsClosuresOnly) {
  ExpectOk(command::kDailyReport, "8", "0000");
  ExpectOk(command::kDailyReport, "1", "0001");
  ExpectOk(command::kDailyReport, "1", "0002");
  ExpectOk(command::kDailyReport, "8", "0002");
  ExpectSyntaxError(command::kDailyReport, "3");
  ExpectSyntaxError(command::kDailyReport, "1N");
  EXPECT_EQ(model_.State().zReports, 2u);
}

TEST_F(DeviceModelTest, PaperAndDiagnostics) {
  ExpectOk(command::kPaperFeed, "1");
  ExpectOk(command::kPaperFeed, "12");
  for (std::string_view bad : {"", "0", "x", "100", "-1"}) ExpectSyntaxError(command::kPaperFeed, bad);
  ExpectOk(command::kPaperCut, "");
  ExpectOk(command::kDiagnostics, "1");
  ExpectSyntaxError(command::kDiagnostics, "2");
  EXPECT_EQ(model_.State().linesFed, 13u);
  EXPECT_EQ(model_.State().cuts, 1u);
  EXPECT_EQ(model_.State().diagnostics, 1u);
}

TEST_F(DeviceModelTest, UnknownCommandIsAnInvalidCommand) {
  const Answer a = Run(0xEE, "abc");
  EXPECT_EQ(a.status, kInvalid);
  EXPECT_EQ(a.data, "");
}

TEST_F(DeviceModelTest, RegisteredHandlersExtendAndReplaceCommands) {
  model_.Register(0x21, [](DeviceModel &m, std::string_view data) {
    m.State().headerLines[0] = std::string(data);
    return Answer::Ok("got " + std::string(data));
  });
  ExpectOk(0x21, "x", "got x");
  EXPECT_EQ(model_.State().headerLines[0], "x");

  model_.Register(command::kPaperCut, [](DeviceModel &, std::string_view) { return Answer::NotAllowed(); });
  EXPECT_EQ(Run(command::kPaperCut).status, kNotAllowed);
}

TEST_F(DeviceModelTest, FaultyHandlersBecomeRefusalsNotCrashesOrBrokenFrames) {
  model_.Register(0x22, [](DeviceModel &, std::string_view) -> Answer { throw std::runtime_error("broken"); });
  model_.Register(0x23, [](DeviceModel &, std::string_view) { return Answer::Ok(std::string(kMaxReplyData + 1, 'x')); });
  model_.Register(0x24, [](DeviceModel &, std::string_view) {
    Answer a = Answer::Ok("z");
    a.status = {};  // a handler forgetting bit 7
    return a;
  });
  for (uint8_t code : {0x22, 0x23}) {
    const Answer a = Run(code);
    EXPECT_EQ(a.status, (StatusBytes{0xA0, 0x80, 0x80, 0x80, 0x80, 0x80}));
    EXPECT_EQ(a.data, "");
  }
  EXPECT_EQ(Run(0x24).status, kOk);
}

TEST_F(DeviceModelTest, StandingStatusIsAddedToEveryAnswer) {
  model_.State().standingStatus[2] |= 0x01;
  EXPECT_EQ(Run(command::kDateTime).status, (StatusBytes{0x80, 0x80, 0x81, 0x80, 0x80, 0x80}));
  EXPECT_EQ(Run(0xEE).status, (StatusBytes{0xA2, 0x80, 0x81, 0x80, 0x80, 0x80}));
}

}  // namespace
}  // namespace fiscalsim
