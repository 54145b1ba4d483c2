// The backup file: what a device gives is written and read back unchanged, and every kind of
// unsound file is refused whole, with the place of its fault named.
#include <gtest/gtest.h>

#include <string>

#include "cli/backup_file.h"

namespace {

using namespace tillwright;
using namespace tillwright::cli;

const CodePage kCyrillic(1251);

Backup Sample() {
  Backup b;
  b.taken = "2026-12-08T10:00:00Z";
  b.device = {"FSIM", "FSIM 1.00 BG", "02Dec24 1200", "SV000001", "50000001"};
  std::array<std::string, kTextLines> lines{};
  lines[0] = kCyrillic.ToDevice("Магазин \"Слънце\" ЕООД");
  lines[9] = "THANK YOU";
  b.header = lines;
  VatRates vat;
  vat.rates = {2000, 900, 0, std::nullopt, 1};
  b.vat = vat;
  b.dateTime = "08-12-26 10:00:00";
  TcpIpSettings net;
  net.addresses = {0xC0A80164, 0xFFFFFF00, 0xC0A80101, 0x08080808, 0x08080404};
  b.tcpIp = net;
  b.gprs = GprsSettings{"internet.apn", "user"};
  return b;
}

std::string SampleText() { return BackupToJson(Sample(), kCyrillic); }

// `text` with `from` replaced once by `to`.
std::string EditedFrom(std::string text, const std::string &from, const std::string &to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string Edited(const std::string &from, const std::string &to) { return EditedFrom(SampleText(), from, to); }

std::string WithoutHeader() {
  Backup b = Sample();
  b.header.reset();
  return BackupToJson(b, kCyrillic);
}

TEST(BackupFile, WhatIsWrittenReadsBackTheSame) {
  Backup read;
  std::string error;
  ASSERT_TRUE(ParseBackup(SampleText(), kCyrillic, read, error)) << error;
  const Backup sample = Sample();
  EXPECT_EQ(read.taken, sample.taken);
  EXPECT_EQ(read.device, sample.device);
  EXPECT_EQ(read.header, sample.header);
  EXPECT_EQ(read.vat, sample.vat);
  EXPECT_EQ(read.dateTime, sample.dateTime);
  ASSERT_TRUE(read.tcpIp.has_value());
  EXPECT_EQ(read.tcpIp->addresses, sample.tcpIp->addresses);
  EXPECT_EQ(read.tcpIp->dhcp, sample.tcpIp->dhcp);
  EXPECT_EQ(read.gprs, sample.gprs);
  EXPECT_NE(SampleText().find("Магазин"), std::string::npos) << "texts are UTF-8 in the file";
}

TEST(BackupFile, GroupsMayBeLeftOut) {
  Backup b = Sample();
  b.header.reset();
  b.gprs.reset();
  Backup read;
  std::string error;
  ASSERT_TRUE(ParseBackup(BackupToJson(b, kCyrillic), kCyrillic, read, error)) << error;
  EXPECT_FALSE(read.Has(Group::Header));
  EXPECT_FALSE(read.Has(Group::Gprs));
  EXPECT_TRUE(read.Has(Group::Vat));
}

struct Unsound {
  const char *what;
  std::string text;
  const char *error;  // a part of the message
};

TEST(BackupFile, UnsoundFilesAreRefusedWithTheirFaultNamed) {
  const std::string sample = SampleText();
  const Unsound cases[] = {
      {"empty", "", "not a JSON document"},
      {"truncated", sample.substr(0, sample.size() / 2), "not a JSON document"},
      {"trailing text", sample + "x", "not a JSON document"},
      {"two documents", sample + "{}", "not a JSON document"},
      {"not an object", "[1, 2]", "the document: must be an object"},
      {"another format", Edited("tillwright-backup", "other-backup"), "format"},
      {"a later version", Edited("\"version\": 1", "\"version\": 2"), "version: must be 1"},
      {"version as text", Edited("\"version\": 1", "\"version\": \"1\""), "version"},
      {"unknown key", Edited("\"taken\"", "\"extra\": 1, \"taken\""), "unknown key \"extra\""},
      {"duplicate key", Edited("\"taken\"", "\"version\": 1, \"taken\""), "appears twice"},
      {"unknown group", Edited("\"gprs\": {", "\"printer\": {}, \"gprs\": {"), "unknown group \"printer\""},
      {"set-only group", Edited("\"gprs\": {", "\"operators\": {}, \"gprs\": {"), "cannot be in a backup"},
      {"a missing key", Edited("\"user\": \"user\"", "\"usr\": \"user\""), "groups.gprs: unknown key"},
      {"a rate as text", Edited("20.0", "\"20.0\""), "groups.vat.rates[0]: must be a number"},
      {"a rate too high", Edited("20.0", "100.0"), "groups.vat.rates[0]: must lie between"},
      {"a negative rate", Edited("20.0", "-1.0"), "groups.vat.rates[0]: must lie between"},
      {"DHCP as text", Edited("\"dhcp\": false", "\"dhcp\": \"no\""), "groups.tcpip.dhcp"},
      {"an octet too large", Edited("192.168.1.100", "192.168.1.300"), "groups.tcpip.address"},
      {"three octets", Edited("192.168.1.100", "192.168.1"), "groups.tcpip.address"},
      {"a line too long", Edited("THANK YOU", std::string(49, 'x')), "groups.header.lines[9]: longer than 48"},
      {"a huge line", Edited("THANK YOU", std::string(60000, 'x')), "groups.header.lines[9]: longer than 48"},
      {"a control character", Edited("THANK YOU", "THANK\\u0000YOU"), "control character"},
      {"a line break", Edited("THANK YOU", "THANK\\nYOU"), "control character"},
      {"outside the code page", Edited("THANK YOU", "☃"), "code page lacks"},
      {"a comma in a field", Edited("internet.apn", "inter,net"), "groups.gprs.apn: has a comma"},
      {"a huge model", Edited("\"model\": \"FSIM\"", "\"model\": \"" + std::string(5000, 'M') + "\""), "device.model"},
      {"lines as text", EditedFrom(WithoutHeader(), "\"datetime\": {", "\"header\": {\"lines\": \"x\"}, \"datetime\": {"),
       "groups.header.lines: must be an array"},
      {"eleven lines", Edited("\"THANK YOU\"", "\"THANK YOU\", \"10th\""), "must be an array of 10"},
      {"the clock in another form", Edited("08-12-26 10:00:00", "2026-12-08 10:00"), "DD-MM-YY"},
      {"deep nesting", std::string(60000, '['), "nested deeper"},
      {"nesting in a group", Edited("\"gprs\": {", "\"gprs\": {\"x\": [[[[[[1]]]]]],"), "nested deeper"},
      {"too large", sample + std::string(kBackupFileMax, ' '), "larger than 64 KiB"},
  };
  for (const Unsound &c : cases) {
    Backup read = Sample();
    read.taken = "kept";
    std::string error;
    EXPECT_FALSE(ParseBackup(c.text, kCyrillic, read, error)) << c.what;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(read.taken, "kept") << c.what << ": a refused file changed the result";
  }
}

TEST(BackupFile, DifferencesNameEachChangedFieldAndNeverTheClock) {
  const Backup file = Sample();
  Backup device = Sample();
  EXPECT_TRUE(Differences(file, device, kCyrillic).empty());

  (*device.header)[3] = " ";  // a cleared line as the device gives it back
  EXPECT_TRUE(ChangedLines(file, device).empty());
  (*device.header)[9] = "OTHER";
  device.vat->rates[3] = 500;
  device.tcpIp->dhcp = true;
  device.gprs->user = "someone";
  device.dateTime = "01-01-25 00:00:00";
  EXPECT_EQ(ChangedLines(file, device), std::vector<size_t>{9});
  const auto diffs = Differences(file, device, kCyrillic);
  ASSERT_EQ(diffs.size(), 4u);
  EXPECT_EQ(diffs[0].group, Group::Header);
  EXPECT_EQ(diffs[0].field, "line 9");
  EXPECT_EQ(diffs[0].device, "OTHER");
  EXPECT_EQ(diffs[0].file, "THANK YOU");
  EXPECT_EQ(diffs[1].group, Group::Vat);
  EXPECT_EQ(diffs[1].field, "D");
  EXPECT_EQ(diffs[1].device, "5.00");
  EXPECT_EQ(diffs[1].file, "undefined");
  EXPECT_EQ(diffs[2].field, "dhcp");
  EXPECT_EQ(diffs[3].field, "user");
}

TEST(BackupFile, RatesAreReadStrictlyAndTravelAsTheDialogSendsThem) {
  const struct {
    const char *text;
    std::optional<int> hundredths;
  } rates[] = {
      {"20", 2000}, {"9.5", 950}, {"0.00", 0}, {"99.99", 9999}, {"07.05", 705},
      // Nothing a strtod or stod would take beyond plain decimals: no hex, exponent, sign or
      // infinity, no third decimal the device cannot hold, nothing from 100 up.
      {"0x10", {}}, {"1e1", {}}, {"nan", {}}, {"inf", {}}, {"+5", {}}, {"-5", {}}, {"abc", {}}, {"", {}},
      {"5.", {}}, {".5", {}}, {"9.999", {}}, {"100", {}}, {"100.00", {}}, {"2 0", {}}, {"20,5", {}},
  };
  for (const auto &r : rates) EXPECT_EQ(ParseRate(r.text), r.hundredths) << r.text;

  const auto read = VatFromReply("20.00,9.00,,-,5.5");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->rates, (std::array<std::optional<int>, kTaxGroups>{2000, 900, {}, {}, 550}));
  // An unreadable rate makes the reply unreadable; it is never taken as 0.
  std::string bad;
  EXPECT_FALSE(VatFromReply("20.00,nan,0.00,-,-", &bad));
  EXPECT_EQ(bad, "nan");
  EXPECT_FALSE(VatFromReply("100.00,9.00,0.00,-,-", &bad));
  EXPECT_EQ(bad, "100.00");
  VatRates vat;
  vat.rates = {2000, std::nullopt, 1, 9999, 0};
  EXPECT_EQ(VatWriteData(vat), "20.00,-1.00,0.01,99.99,0.00");
}

}  // namespace
