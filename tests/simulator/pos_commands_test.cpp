// The commands of point-of-sale programs: the receipt's order, the layouts hosts parse, and
// the programming they read back.
#include <gtest/gtest.h>

#include "fiscalsim/device_model.h"

namespace fiscalsim {
namespace {

constexpr StatusBytes kOk = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kSyntax = {0xA1, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kNotAllowed = {0xA0, 0x82, 0x80, 0x80, 0x80, 0x80};

class PosCommandsTest : public ::testing::Test {
 protected:
  Answer Run(uint8_t code, std::string_view data = {}) { return model_.Execute(code, data); }

  void Ok(uint8_t code, std::string_view data, std::string_view reply) {
    const Answer a = Run(code, data);
    EXPECT_EQ(a.status, kOk) << "command " << int(code) << " \"" << data << "\"";
    EXPECT_EQ(a.data, reply) << "command " << int(code) << " \"" << data << "\"";
  }
  void Refused(uint8_t code, std::string_view data, const StatusBytes &status) {
    const Answer a = Run(code, data);
    EXPECT_EQ(a.status, status) << "command " << int(code) << " \"" << data << "\"";
    EXPECT_EQ(a.data, "");
  }

  DeviceModel model_;
};

TEST_F(PosCommandsTest, AWholeFiscalReceiptBooksItsSalesIntoTheDay) {
  Ok(0x30, "01,0000,01", "1,1");
  Ok(0x31, "Bread\tB1.20*2.000,0.00", "");
  Ok(0x34, "Milk\tA2.50*1.000,-10.00", "");  // 2.25
  EXPECT_EQ(model_.State().displayLower, "Milk");
  Ok(0x33, "10,00.00", "4.65");
  Ok(0x35, "\tP2.00", "R2.65");
  Refused(0x31, "Late\tA1.00*1.000,0.00", kNotAllowed);  // no sale once paying
  Refused(0x38, "", kNotAllowed);                        // not paid in full
  Ok(0x35, "\tC5", "D2.35");
  Ok(0x36, "Thank you", "");
  Ok(0x38, "", "1,1");
  EXPECT_EQ(model_.State().dayTotalCents, 465);
  Ok(0x41, "", "2.25,2.40,0.00,0.00,0.00");
  Ok(0x6E, "", "1,1,4.65");
  Ok(0x45, "0", "0001,4.65");  // the Z report clears the day
  Ok(0x41, "", "0.00,0.00,0.00,0.00,0.00");
  Ok(0x44, "", "1829,1");
}

TEST_F(PosCommandsTest, CountryAndSerialTakeThePrinterLibrarysAndTheToolsForms) {
  Ok(0x5B, "7,AB123456,12345678", "P");
  EXPECT_EQ(model_.State().serialNumber, "AB123456");
  EXPECT_EQ(model_.State().fiscalMemoryNumber, "12345678");
  Ok(0x5B, "7,CD987654,,", "P");  // the tool's form keeps the memory number
  EXPECT_EQ(model_.State().serialNumber, "CD987654");
  EXPECT_EQ(model_.State().fiscalMemoryNumber, "12345678");
  Refused(0x5B, "7,,,", kSyntax);
  Refused(0x5B, "7,AB1,2,3", kSyntax);
}

TEST_F(PosCommandsTest, SaleCommandsOutOfOrderAreRefusedAndChangeNothing) {
  Refused(0x31, "Bread\tB1.20*2.000,0.00", kNotAllowed);
  Refused(0x35, "\tP1.00", kNotAllowed);
  Refused(0x38, "", kNotAllowed);
  Refused(0x82, "", kNotAllowed);
  Refused(0x36, "text", kNotAllowed);
  Refused(0x2A, "text", kNotAllowed);
  Refused(0x27, "", kNotAllowed);

  Ok(0x26, "", "1,0");
  Refused(0x30, "01,0000,01", kNotAllowed);  // one receipt at a time
  Refused(0x31, "Bread\tB1.20*2.000,0.00", kNotAllowed);
  Refused(0x45, "0", kNotAllowed);  // no report with a receipt open
  Ok(0x2A, "free text", "");
  Ok(0x27, "", "1");

  Ok(0x30, "01,0000,01,I", "2,1");
  Refused(0x35, "\t", kNotAllowed);  // nothing sold, nothing to pay
  Ok(0x31, "Bread\tB1.20*2.000,0.00", "");
  Ok(0x82, "", "");  // voided: nothing booked
  EXPECT_EQ(model_.State().receipt.kind, Receipt::Kind::None);
  EXPECT_EQ(model_.State().dayTotalCents, 0);
  EXPECT_EQ(model_.State().fiscalReceipts, 0u);
}

TEST_F(PosCommandsTest, SalesBeyondWhatAnAmountFieldHoldsAreRefusedAndBookNothing) {
  Ok(0x30, "01,0000,01", "1,1");
  Refused(0x31, "Big\tA999999999999*999999999999,0", kSyntax);  // price times quantity
  Refused(0x31, "Big\tA1000*1,999999999999", kSyntax);          // the surcharge
  Refused(0x3A, "5*999999999999@999999999999", kSyntax);
  Refused(0x8A, "1*999999999999@999999999999", kSyntax);
  Ok(0x31, "Most\tA999999999999.99*1,0", "");
  Refused(0x31, "More\tB0.01*1,0", kSyntax);  // the receipt's total would pass it
  Ok(0x67, "", "1,1,999999999999.99");
  Ok(0x35, "\t", "D0.00");
  Ok(0x38, "", "1,1");
  Ok(0x4C, "T", "0,1,999999999999.99");
}

TEST_F(PosCommandsTest, MalformedSaleDataIsASyntaxError) {
  Ok(0x30, "01,0000,01", "1,1");
  for (std::string_view bad : {"Bread", "Bread\t", "Bread\tB1.20", "Bread\t11.20*1.000,0.00", "Bread\tBx*1.000,0.00",
                               "Bread\tB1.20*0.000,0.00", "Bread\tB1.20*1.0000,0.00", "Bread\tB1.20,0.00*1.000"}) {
    Refused(0x31, bad, kSyntax);
  }
  for (std::string_view bad : {"", "01,,01", "01,0000,0", "00,0000,01", "01,0000,01,IX"}) Refused(0x30, bad, kSyntax);
  EXPECT_EQ(model_.State().receipt.items, 0u);
}

TEST_F(PosCommandsTest, ArticleAndDepartmentSalesUseTheirProgrammedRecords) {
  Ok(0x6B, "PB15,02.50,Apple,red", "P");
  Ok(0x6B, "R15", "15,B,2.50,Apple,red");
  Ok(0x83, "P3,Fruit\nA,4,0,0,0,0", "P");
  Ok(0x83, "R3", "3,Fruit,A,4");
  Ok(0x30, "01,0000,01", "1,1");
  Ok(0x3A, "15", "");                 // 2.50 in B
  Ok(0x3A, "15*2.000,-10.00", "");    // 4.50
  Ok(0x3A, "99@1.00", "");            // unknown article with a price
  Refused(0x3A, "99", kNotAllowed);   // unknown article, no price
  Ok(0x8A, "3*0.500", "");            // 2.00 in A
  Ok(0x8A, "7@3.00", "");             // any department with a price
  Refused(0x8A, "7", kNotAllowed);
  Refused(0x3A, "15*", kSyntax);
  Ok(0x33, "00,00.00", "13.00");

  Ok(0x6B, "F", "15,B,2.50,Apple,red");
  Ok(0x6B, "N", "F");
  Ok(0x35, "\t", "D0.00");  // the rest in cash
  Ok(0x38, "", "1,1");
  Ok(0x6B, "D15", "P");
  Ok(0x6B, "R15", "F");
}

TEST_F(PosCommandsTest, ProgrammingIsReadBackInTheLayoutsHostsParse) {
  Ok(0x53, "", "2,1,EUR,0");
  Ok(0x53, "2,1,USD ,0", "P");
  Ok(0x53, "", "2,1,USD,0");
  Ok(0x53, "2,1,0", "P");
  Refused(0x53, "2,1,USD,0", kSyntax);  // the currency comes with its blank

  Ok(0x95, "P3,Welcome", "");
  Ok(0x95, "R3", "Welcome");
  Ok(0x93, "P12.50,acct", "");
  Ok(0x93, "R", "12.50,acct");
  Ok(0x66, "05,Anna,x", "");
  Ok(0x70, "05", "05,Anna");
  Ok(0x65, "05,old,1234", "");
  Refused(0x30, "05,9999,01", kNotAllowed);  // wrong password
  Ok(0x30, "05,1234,01", "1,1");
  Ok(0x82, "", "");

  Ok(0x2B, "P1010", "");
  Ok(0x2B, "C0", "");
  Ok(0x2B, "L1", "");
  EXPECT_EQ(model_.State().printOptions, "1010");
  EXPECT_FALSE(model_.State().autoCutter);
  EXPECT_TRUE(model_.State().logo);
  for (std::string_view bad : {"P101", "P1012", "C2", "L", "L10"}) Refused(0x2B, bad, kSyntax);

  Ok(0x60, "18.00,09.50,00.00,05.00", "");  // four rates leave the fifth group alone
  Ok(0x61, "", "18.00,9.50,0.00,5.00,-");

  Ok(0x62, "BG123,1", "P");
  Ok(0x63, "", "BG123");
  Ok(0x48, "fiscalise", "0");
  Refused(0x48, "again", kNotAllowed);
  Ok(0x62, "BG999,1", "F");  // fixed once fiscalised
  Ok(0x59, "", "F,50");
  Ok(0x59, "T", "P,50");
}

TEST_F(PosCommandsTest, DisplayCharactersTakeFourRowsOrTheShortForm) {
  const std::string row = std::string(64, '0');
  for (std::string_view address : {"80", "A0", "C0", "E0"}) Ok(0x84, std::string(address) + "," + row, "");
  Refused(0x84, "90," + row, kSyntax);
  Refused(0x84, "80," + row.substr(2), kSyntax);
  Refused(0x84, "80," + row.substr(2) + "0g", kSyntax);
  Ok(0x85, "16,32", "");
  Ok(0x85, "16,32,0A0B", "");
  Refused(0x85, "16,32,0A0", kSyntax);
  Refused(0x85, "256,0", kSyntax);
  EXPECT_EQ(model_.State().displayCharacters.size(), 5u);
}

TEST_F(PosCommandsTest, ReportsCheckTheirRanges) {
  Ok(0x5E, "071226,071226", "");
  Ok(0x4F, "010126,311226", "");
  Refused(0x5E, "310226,010326", kSyntax);  // no 31 February
  Refused(0x4F, "0712,071226", kSyntax);
  Ok(0x49, "0001,0025", "");
  Ok(0x5F, "0000,0000", "");
  Refused(0x49, "0025,0001", kSyntax);
  Refused(0x5F, "1,25", kSyntax);
  Ok(0x45, "2N", "0001,0.00");
  Ok(0x45, "", "0001,0.00");
  Ok(0x45, "5", "0");
  Ok(0x45, "9", "");
  Refused(0x45, "5N", kSyntax);
  Refused(0x45, "3", kSyntax);
  Ok(0x6C, "0N", "0001");
  Ok(0x6C, "8", "0001");
  Ok(0x72, "1,0", "1,0,0.00");
  Ok(0x72, "1,5,10", "1,5,10,0.00");
  Ok(0x72, "2,0", "F");
  Refused(0x72, "1,5", kSyntax);
  Refused(0x72, "1,2,3", kSyntax);
}

TEST_F(PosCommandsTest, ServiceCashAndDisplay) {
  Ok(0x46, "10.00", "10.00,0.00");
  Ok(0x46, "-02.50", "10.00,2.50");
  Ok(0x46, "", "10.00,2.50");
  Refused(0x46, "abc", kSyntax);
  Ok(0x43, "", "0.00,10.00,2.50");

  Ok(0x2E, "1,Hello", "");
  Ok(0x23, "World", "");
  EXPECT_EQ(model_.State().displayUpper, "Hello");
  EXPECT_EQ(model_.State().displayLower, "World");
  Refused(0x2E, "3,x", kSyntax);
  Refused(0x2F, std::string(21, 'x'), kSyntax);
  Ok(0x21, "", "");
  EXPECT_EQ(model_.State().displayUpper, "");
  Ok(0x4A, "X", "808080808080");
  Refused(0x4A, "", kSyntax);
}

}  // namespace
}  // namespace fiscalsim
