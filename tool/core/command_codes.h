// Command codes the tool sends (only the low byte reaches the device).
#pragma once

#include <cstdint>

namespace tillwright::cmd {

inline constexpr uint16_t kTextLine = 43;         // 0x2B: "I<n>" reads a line, "<n><text>" writes it
inline constexpr uint16_t kPaperFeed = 44;        // 0x2C
inline constexpr uint16_t kPaperCut = 45;         // 0x2D
inline constexpr uint16_t kSetDateTime = 61;      // 0x3D
inline constexpr uint16_t kReadDateTime = 62;     // 0x3E
inline constexpr uint16_t kDiagnostics = 71;      // 0x47
inline constexpr uint16_t kFiscalize = 72;        // 0x48
inline constexpr uint16_t kDeviceInfo = 90;       // 0x5A
inline constexpr uint16_t kSetSerial = 91;        // 0x5B
inline constexpr uint16_t kTaxRates = 97;         // 0x61
inline constexpr uint16_t kClerkReport = 105;     // 0x69
inline constexpr uint16_t kDailyReport = 108;     // 0x6C
inline constexpr uint16_t kPluReport = 111;       // 0x6F
inline constexpr uint16_t kActivateJournal = 195; // 0xC3
inline constexpr uint16_t kReportsNeeded = 196;   // 0xC4
inline constexpr uint16_t kJournalState = 197;    // 0xC5
inline constexpr uint16_t kImsi = 200;            // 0xC8
inline constexpr uint16_t kReportByDates = 79;    // 0x4F: "DDMMYY,DDMMYY"
inline constexpr uint16_t kPremisesAddress = 198; // 0xC6: "R" reads, "P<seven fields>" writes
inline constexpr uint16_t kPremisesHours = 199;   // 0xC7: "R" reads, "P<flag><hours>,<purpose>" writes
inline constexpr uint16_t kPremisesConclude = 208; // 0xD0
inline constexpr uint16_t kRegistrationData = 198; // 0xC6: "P<n>,", "S<n>,", "A23," write; "R<n>", "G<n>", "V23", "Q0", "Z0", "X0" read
inline constexpr uint16_t kRegistrationProcedure = 199; // 0xC7: the action "0".."3", "5", or "4" (GPRS test)
inline constexpr uint16_t kTaxNumber = 99;        // 0x63

// Request data the tool sends with them.
inline constexpr char kCloseDay[] = "1";         // kDailyReport: the closing (Z) report
inline constexpr char kLastReportNumber[] = "8"; // kDailyReport: the last report's number, nothing printed
inline constexpr char kOneLine[] = "1";          // kPaperFeed
inline constexpr char kPrintDiagnostics[] = "1"; // kDiagnostics
inline constexpr char kDeviceInfoRequest[] = "0"; // kDeviceInfo
inline constexpr char kSerialCountry[] = "7";    // kSetSerial: its first field, the country code

// Network, operators, counters and the test sale.
inline constexpr uint16_t kTcpIp = 37;            // 0x25: "R" reads, "P<mode>,<20 octets>" writes
inline constexpr uint16_t kOpenReceipt = 48;      // 0x30: "<operator>,<password>,<till>"
inline constexpr uint16_t kSale = 49;             // 0x31
inline constexpr uint16_t kTotal = 53;            // 0x35
inline constexpr uint16_t kCloseReceipt = 56;     // 0x38
inline constexpr uint16_t kClerkPassword = 101;   // 0x65: "<nn>,<old>,<new>"
inline constexpr uint16_t kClerkName = 102;       // 0x66: "<nn>,<password>,<name>\n<id number>"
inline constexpr uint16_t kGprs = 176;            // 0xB0: "R" reads, "P<apn>,<user>,<password>" writes
inline constexpr uint16_t kCounters = 180;        // 0xB4: "<first>\n<second>"
inline constexpr uint16_t kGprsTest = 193;        // 0xC1: "PP" when the connection works
inline constexpr uint16_t kUnlock = 221;          // 0xDD: the four key parts
inline constexpr uint16_t kLockState = 228;       // 0xE4: "L..." while locked

inline constexpr char kRead[] = "R";              // kTcpIp, kGprs
inline constexpr char kWrite[] = "P";             // kTcpIp, kGprs: the written values follow
inline constexpr int32_t kTcpIpDhcp = 22;         // kTcpIp's mode code: automatic configuration
inline constexpr int32_t kTcpIpStatic = 518204736;  // kTcpIp's mode code: the addresses written
inline constexpr char kPayInCash[] = "\t";        // kTotal: the whole sum, in cash
// The test sale's receipt: operator 1 with its one-character password, till 1; one article
// "TEST" in tax group 0xC1, a letter of the device's own code page, sent as that byte whatever
// code page the widgets use.
inline constexpr char kTestSaleOperator[] = "1";
inline constexpr char kTestSalePassword[] = "0";
inline constexpr char kTestSaleTill[] = "1";
inline constexpr char kTestSaleText[] = "TEST";
inline constexpr char kTestSaleGroup = '\xC1';

}  // namespace tillwright::cmd

// The logo, tax-rate, journal and code-table dialogs.
namespace tillwright::cmd {

inline constexpr uint16_t kSetTaxRates = 96;       // 0x60: five rates "%2.2f", -1.00 for undefined
inline constexpr uint16_t kLogoRow = 115;          // 0x73: "<row>,<hex>"
inline constexpr uint16_t kLogoLimits = 128;       // 0x80: "<width in dots>,<rows>"
inline constexpr uint16_t kCodeTable = 164;        // 0xA4: "<first code>,<32 font positions in hex>"
inline constexpr uint16_t kJournalPeriod = 200;    // 0xC8 with data: the journal's documents of a period
inline constexpr uint16_t kJournalDocument = 201;  // 0xC9: "2,<Z report>,<document>"

inline constexpr char kLogoOff[] = "L0";  // kTextLine: logo printing off
inline constexpr char kLogoOn[] = "L1";   // kTextLine: logo printing on

}  // namespace tillwright::cmd
