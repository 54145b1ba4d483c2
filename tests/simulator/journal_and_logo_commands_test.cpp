// What only the service tool sends: the electronic journal's prints and SD card, and the print
// table of the upper codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <fstream>

#include "fiscalsim/device_model.h"
#include "fiscalsim/logo_image.h"

namespace fiscalsim {
namespace {

constexpr StatusBytes kOk = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kSyntax = {0xA1, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kNotAllowed = {0xA0, 0x82, 0x80, 0x80, 0x80, 0x80};

class JournalAndLogoCommands : public ::testing::Test {
 protected:
  StatusBytes Status(uint8_t code, std::string_view data) { return model.Execute(code, data).status; }
  DeviceModel model;
};

TEST_F(JournalAndLogoCommands, JournalPrintsOnlyReportsThatExistAndWellFormedPeriods) {
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

TEST_F(JournalAndLogoCommands, CodeTableBlocksReplaceTheirCodesOnly) {
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

TEST_F(JournalAndLogoCommands, LogoLimitsComeFirstAndRowsStayWithinThem) {
  const Answer limits = model.Execute(command::kConstants, "");
  EXPECT_EQ(limits.data.substr(0, 7), "384,96,");
  EXPECT_EQ(Status(command::kLogoRow, "95," + std::string(96, 'F')), kOk);
  EXPECT_EQ(Status(command::kLogoRow, "96,00"), kSyntax);
  EXPECT_EQ(Status(command::kLogoRow, "0," + std::string(98, '0')), kSyntax) << "wider than 384 dots";
  model.State().logoMaxRows = 2;
  EXPECT_EQ(Status(command::kLogoRow, "2,00"), kSyntax);
  EXPECT_EQ(Status(command::kLogoRow, "1,80"), kOk);
}

TEST_F(JournalAndLogoCommands, TheLogoRendersAsThePrintedDots) {
  model.Execute(command::kLogoRow, "0,F00F");
  model.Execute(command::kLogoRow, "2,81");
  const LogoImage image = RenderLogo(model.State());
  ASSERT_EQ(image.width, 16);
  ASSERT_EQ(image.height, 3);
  EXPECT_EQ(image.rows[0], (std::vector<uint8_t>{0xF0, 0x0F}));
  EXPECT_EQ(image.rows[1], (std::vector<uint8_t>{0x00, 0x00}));
  EXPECT_EQ(image.rows[2], (std::vector<uint8_t>{0x81, 0x00}));

  const std::string png = LogoPng(image);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick's convert is not installed";
  // A real reader sees the same dots: "1" for black in a plain PBM.
  const std::string file = ::testing::TempDir() + "/sim_logo.png";
  std::ofstream(file, std::ios::binary) << png;
  FILE *pipe = popen(("convert " + file + " -compress none pbm:- 2>/dev/null").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string pbm;
  char buffer[512];
  while (const size_t n = fread(buffer, 1, sizeof buffer, pipe)) pbm.append(buffer, n);
  ASSERT_EQ(pclose(pipe), 0);
  std::string dots;
  for (char c : pbm.substr(pbm.find("16 3") + 4))
    if (c == '0' || c == '1') dots += c;
  EXPECT_EQ(dots, "1111000000001111"
                  "0000000000000000"
                  "1000000100000000");
}

}  // namespace
}  // namespace fiscalsim
