// What only the service tool sends: the electronic journal's prints and SD card, and the print
// table of the upper codes.
#include <gtest/gtest.h>

#include "fiscalsim/device_model.h"

namespace fiscalsim {
namespace {

constexpr StatusBytes kOk = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kSyntax = {0xA1, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kNotAllowed = {0xA0, 0x82, 0x80, 0x80, 0x80, 0x80};

class ServiceCommands : public ::testing::Test {
 protected:
  StatusBytes Status(uint8_t code, std::string_view data) { return model.Execute(code, data).status; }
  DeviceModel model;
};

TEST_F(ServiceCommands, JournalPrintsOnlyReportsThatExistAndWellFormedPeriods) {
  model.State().zReports = 12;
  EXPECT_EQ(Status(command::kJournalDocument, "2,0,0"), kOk);
  EXPECT_EQ(Status(command::kJournalDocument, "2,12,5000"), kOk);
  EXPECT_EQ(Status(command::kJournalDocument, "2,13,1"), kNotAllowed);
  for (std::string_view bad : {"", "2,1", "1,1,1", "2,1,5001", "2,-1,0", "2,1,1,1", "2, 1,1"})
    EXPECT_EQ(Status(command::kJournalDocument, bad), kSyntax) << bad;

  EXPECT_EQ(Status(command::kImsi, "194,12,01-03-14 08:00,31-03-14 18:30"), kOk);
  EXPECT_EQ(Status(command::kImsi, "194,12,31-03-14 18:30,01-03-14 08:00"), kOk) << "taken as given";
  EXPECT_EQ(Status(command::kImsi, "194,13,01-03-14 08:00,31-03-14 18:30"), kNotAllowed);
  for (std::string_view bad : {"194,12,-1--1--2001 08:00,31-03-14 18:30", "194,12,01-03-14 8:00,31-03-14 18:30",
                               "195,12,01-03-14 08:00,31-03-14 18:30", "194,12,01-13-14 08:00,31-03-14 18:30",
                               "194,12,01-03-14 24:00,31-03-14 18:30", "194,12,01-03-14 08:00"})
    EXPECT_EQ(Status(command::kImsi, bad), kSyntax) << bad;
  EXPECT_EQ(model.State().journalPrints,
            (std::vector<std::string>{"2,0,0", "2,12,5000", "194,12,01-03-14 08:00,31-03-14 18:30",
                                      "194,12,31-03-14 18:30,01-03-14 08:00"}));

  EXPECT_EQ(Status(command::kActivateJournalCard, ""), kOk);
  EXPECT_EQ(Status(command::kActivateJournalCard, "1"), kSyntax);
  EXPECT_EQ(model.State().journalCardActivations, 1u);
}

TEST_F(ServiceCommands, CodeTableBlocksReplaceTheirCodesOnly) {
  const auto &table = model.State().codeTable;
  EXPECT_EQ(table[0x00], 0x20);
  EXPECT_EQ(table[0x40], 0xC0);
  EXPECT_EQ(Status(command::kCodeTable, "A0," + std::string(62, '4') + "4F"), kOk);
  EXPECT_EQ(table[0x20], 0x44);
  EXPECT_EQ(table[0x3F], 0x4F);
  EXPECT_EQ(table[0x1F], 0x20);
  EXPECT_EQ(table[0x40], 0xC0);
  for (const std::string &bad : {std::string("90,") + std::string(64, '0'), std::string("60,") + std::string(64, '0'),
                                 std::string("A0,") + std::string(62, '0'), std::string("A0;") + std::string(64, '0'),
                                 std::string("A0,") + std::string(63, '0') + "g"})
    EXPECT_EQ(Status(command::kCodeTable, bad), kSyntax) << bad;
  EXPECT_EQ(table[0x20], 0x44) << "a refused block changes nothing";
}

}  // namespace
}  // namespace fiscalsim
