// The device itself: its state and one handler per command code. Pure: a request goes in, an
// answer comes out; no threads, no I/O. The simulator serialises calls.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fiscalsim/frame_codec.h"

namespace fiscalsim {

// Status bits. Every status byte has bit 7 set; the host takes 0x20 of byte 0 as the error flag,
// so every refusal sets it together with the bit that says why.
namespace status {
inline constexpr uint8_t kAlwaysSet = 0x80;
// byte 0
inline constexpr uint8_t kSyntaxError = 0x01;
inline constexpr uint8_t kInvalidCommand = 0x02;
inline constexpr uint8_t kError = 0x20;
// byte 1
inline constexpr uint8_t kNotAllowed = 0x02;
}  // namespace status

// Command codes (one byte on the wire).
namespace command {
// Display
inline constexpr uint8_t kDisplayClear = 0x21;          // 33
inline constexpr uint8_t kDisplayLower = 0x23;          // 35: the lower line's text
inline constexpr uint8_t kDisplayLine = 0x2E;           // 46: "<line>,<text>"
inline constexpr uint8_t kDisplayUpper = 0x2F;          // 47: the upper line's text
inline constexpr uint8_t kDisplayDateTime = 0x3F;       // 63
inline constexpr uint8_t kDisplayFree = 0x64;           // 100: both lines as one text
// Receipts
inline constexpr uint8_t kOpenNonFiscal = 0x26;         // 38
inline constexpr uint8_t kCloseNonFiscal = 0x27;        // 39
inline constexpr uint8_t kNonFiscalText = 0x2A;         // 42
inline constexpr uint8_t kOpenReceipt = 0x30;           // 48: "<clerk>,<password>,<till>[,<option>]"
inline constexpr uint8_t kSale = 0x31;                  // 49
inline constexpr uint8_t kSubtotal = 0x33;              // 51
inline constexpr uint8_t kSaleAndDisplay = 0x34;        // 52
inline constexpr uint8_t kTotal = 0x35;                 // 53: payment
inline constexpr uint8_t kFiscalText = 0x36;            // 54
inline constexpr uint8_t kCloseReceipt = 0x38;          // 56
inline constexpr uint8_t kClientInfo = 0x39;            // 57
inline constexpr uint8_t kSaleArticle = 0x3A;           // 58
inline constexpr uint8_t kServiceCash = 0x46;           // 70
inline constexpr uint8_t kOpenDrawer = 0x6A;            // 106
inline constexpr uint8_t kReceiptCopy = 0x6D;           // 109
inline constexpr uint8_t kVoidReceipt = 0x82;           // 130
inline constexpr uint8_t kSaleDepartment = 0x8A;        // 138
// Printer, clock, information
inline constexpr uint8_t kHeaderLine = 0x2B;            // 43: "I<n>" reads line n, "<n><text>" writes it
inline constexpr uint8_t kPaperFeed = 0x2C;             // 44: "<lines>"
inline constexpr uint8_t kPaperCut = 0x2D;              // 45
inline constexpr uint8_t kSetDateTime = 0x3D;           // 61: "DD-MM-YY HH:MM:SS"
inline constexpr uint8_t kDateTime = 0x3E;              // 62
inline constexpr uint8_t kDiagnostics = 0x47;           // 71: "1"
inline constexpr uint8_t kDeviceInfo = 0x5A;            // 90: "0"
inline constexpr uint8_t kImsi = 0xC8;                  // 200: empty data; with data, journal documents of a period
inline constexpr uint8_t kPremisesAddress = 0xC6;       // 198: "R" reads, "P<seven fields>" writes
inline constexpr uint8_t kPremisesHours = 0xC7;         // 199: "R" reads, "P<flag><hours>,<purpose>" writes
inline constexpr uint8_t kPremisesConclude = 0xD0;      // 208: "P<text>" accepted, "E<text>" refused
// Reports
inline constexpr uint8_t kReport = 0x45;                // 69: day, periodic and journal reports
inline constexpr uint8_t kFiscalMemoryByNumber = 0x49;  // 73: "<from>,<to>"
inline constexpr uint8_t kReportByDate = 0x4F;          // 79: "<DDMMYY>,<DDMMYY>"
inline constexpr uint8_t kFiscalMemoryByDate = 0x5E;    // 94: "<DDMMYY>,<DDMMYY>"
inline constexpr uint8_t kReportByNumber = 0x5F;        // 95: "<from>,<to>"
inline constexpr uint8_t kClerkReport = 0x69;           // 105
inline constexpr uint8_t kDailyReport = 0x6C;           // 108: "1" closes the day, "8" reads the count
inline constexpr uint8_t kArticleReport = 0x6F;         // 111
inline constexpr uint8_t kJournalStore = 0x90;          // 144
// Programming
inline constexpr uint8_t kFiscalise = 0x48;             // 72
inline constexpr uint8_t kDecimalsAndCurrency = 0x53;   // 83
inline constexpr uint8_t kTestArea = 0x59;              // 89
inline constexpr uint8_t kCountryAndSerial = 0x5B;      // 91
inline constexpr uint8_t kSetTaxRates = 0x60;           // 96: five rates, negative for undefined
inline constexpr uint8_t kTaxRates = 0x61;              // 97
inline constexpr uint8_t kSetTaxNumber = 0x62;          // 98
inline constexpr uint8_t kClerkPassword = 0x65;         // 101
inline constexpr uint8_t kClerkName = 0x66;             // 102
inline constexpr uint8_t kArticles = 0x6B;              // 107: program, delete and read articles
inline constexpr uint8_t kLogoRow = 0x73;               // 115
inline constexpr uint8_t kDepartments = 0x83;           // 131
inline constexpr uint8_t kDisplayCharacterRow = 0x84;   // 132
inline constexpr uint8_t kDisplayCharacters = 0x85;     // 133
inline constexpr uint8_t kWriteFlash = 0x86;            // 134
inline constexpr uint8_t kFonts = 0x91;                 // 145
inline constexpr uint8_t kGlobalOptions = 0x92;         // 146
inline constexpr uint8_t kVatAccount = 0x93;            // 147
inline constexpr uint8_t kFreeText = 0x95;              // 149
// Queries
inline constexpr uint8_t kTaxRatesOfPeriod = 0x32;      // 50
inline constexpr uint8_t kLastClosure = 0x40;           // 64
inline constexpr uint8_t kDaySumsByGroup = 0x41;        // 65
inline constexpr uint8_t kDaySums = 0x43;               // 67
inline constexpr uint8_t kFreeClosures = 0x44;          // 68
inline constexpr uint8_t kPrinterStatus = 0x4A;         // 74
inline constexpr uint8_t kClosureStatus = 0x4C;         // 76
inline constexpr uint8_t kTaxNumber = 0x63;             // 99
inline constexpr uint8_t kReceiptInfo = 0x67;           // 103
inline constexpr uint8_t kDayInfo = 0x6E;               // 110
inline constexpr uint8_t kClerkInfo = 0x70;             // 112
inline constexpr uint8_t kLastDocument = 0x71;          // 113
inline constexpr uint8_t kFiscalMemoryRecord = 0x72;    // 114
inline constexpr uint8_t kConstants = 0x80;             // 128: the logo limits first
// The service tool's network settings.
inline constexpr uint8_t kTcpIp = 0x25;                 // 37: "R"; "P<mode>,<20 octets>"
inline constexpr uint8_t kGprs = 0xB0;                  // 176: "R"; "P<apn>,<user>,<password>"
inline constexpr uint8_t kGprsTest = 0xC1;              // 193
inline constexpr uint8_t kUnlock = 0xDD;                // 221: the four key parts
inline constexpr uint8_t kLockState = 0xE4;             // 228: nothing or the key
inline constexpr uint8_t kCounters = 0xB4;              // 180: "<first>\n<second>"
// The service tool's journal and code table
inline constexpr uint8_t kCodeTable = 0xA4;             // 164: "<80|A0|C0|E0>,<32 font positions in hex>"
inline constexpr uint8_t kActivateJournalCard = 0xC3;   // 195
inline constexpr uint8_t kJournalDocument = 0xC9;       // 201: "2,<Z report>,<document>"
}  // namespace command

inline constexpr StatusBytes kStatusIdle = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};

struct Answer {
  std::string data;
  StatusBytes status = kStatusIdle;
  bool silent = false;  // no answer goes out at all

  static Answer Ok(std::string data = {});
  static Answer SyntaxError();     // malformed or out-of-range data
  static Answer InvalidCommand();  // a code the device does not know
  static Answer NotAllowed();      // well-formed, but not in the device's present state
  static Answer Silence();         // nothing: the device died or lost the frame
};

inline constexpr size_t kHeaderLines = 10;  // eight header lines, then two advertisement lines
inline constexpr size_t kHeaderLineMax = 48;
inline constexpr size_t kTaxGroups = 5;
inline constexpr size_t kClerks = 30;
inline constexpr unsigned kFiscalMemoryClosures = 1830;

// The receipt being printed. Sales are taken only on an open fiscal receipt before its first
// payment; it closes once paid in full.
struct Receipt {
  enum class Kind { None, Fiscal, NonFiscal };
  Kind kind = Kind::None;
  unsigned items = 0;
  int64_t totalCents = 0;
  int64_t paidCents = 0;
  bool paying = false;
  // Hundredths of the sales per tax group letter, booked into the day when the receipt closes.
  std::map<char, int64_t> byGroup;

  bool operator==(const Receipt &) const = default;
};

struct Article {
  char group = 'A';
  int64_t priceCents = 0;
  std::string name;
  std::string secondLine;
  std::string stock;  // the extended record's fields after the second line, as sent

  bool operator==(const Article &) const = default;
};

struct Department {
  char group = 'A';
  std::string name;
  std::string price;   // as sent: a whole number or two decimals
  std::string limits;  // the four options, as sent

  bool operator==(const Department &) const = default;
};

// The table a new device prints the upper codes with: the Cyrillic letters where code page 1251
// has them (0xC0..0xFF), blanks below.
constexpr std::array<uint8_t, 128> DefaultCodeTable() {
  std::array<uint8_t, 128> table{};
  for (size_t i = 0; i < table.size(); ++i) table[i] = i < 0x40 ? 0x20 : static_cast<uint8_t>(0x80 + i);
  return table;
}

struct DeviceState {
  std::array<std::string, kHeaderLines> headerLines;
  // Hundredths of a percent; nothing for an undefined group.
  std::array<std::optional<int>, kTaxGroups> taxRates{2000, 900, 0, std::nullopt, std::nullopt};
  // The device clock runs this far from the wall clock.
  std::chrono::seconds clockOffset{0};
  uint32_t zReports = 0;
  uint32_t linesFed = 0;
  uint32_t cuts = 0;
  uint32_t diagnostics = 0;

  std::string firmware = "FSIM 1.00 BG";
  std::string firmwareDate = "02Dec24 1200";
  std::string checksum = "5A3C";
  std::string switches = "00000000";
  std::string serialNumber = "SV000001";
  std::string fiscalMemoryNumber = "50000001";
  std::string imsi = "284011234567890";

  // The business premises: designation, street, house number, addition, postal code, settlement
  // and municipality; then the closing flag, the working hours and the specific purpose.
  std::array<std::string, 7> premises;
  bool premisesClosing = false;
  std::string workingHours;
  std::string specificPurpose;
  uint32_t premisesConclusions = 0;  // accepted

  // Remote-audit registration: parameters 0..15 and 19, 20 as texts, 16..18, 21, 22 as numbers,
  // 23 as "DD-MM-YY"; the registration's state and the procedures started.
  std::array<std::string, 24> registration{};
  std::string registrationState = "0";  // field 2 of the state panel "Q0": 0 none, 1 registered
  std::vector<std::string> procedures;  // the data of each procedure started, in order
  bool gprsUp = true;

  // Sales and reports.
  Receipt receipt;
  uint32_t receipts = 0;  // every receipt, fiscal or not: the last number given
  uint32_t fiscalReceipts = 0;
  int64_t dayTotalCents = 0;
  std::map<char, int64_t> dayByGroup;
  int64_t cashInCents = 0;
  int64_t cashOutCents = 0;
  uint32_t reportsPrinted = 0;
  uint32_t journalStores = 0;

  // Programming.
  std::map<uint32_t, Article> articles;
  std::map<unsigned, Department> departments;
  std::array<std::string, kClerks> clerkNames;
  std::array<std::string, kClerks> clerkPasswords;
  std::array<std::string, kClerks> clerkIds;  // identification numbers, from the service tool
  std::string printOptions = "0000";
  bool autoCutter = true;
  bool logo = false;
  std::map<unsigned, std::string> logoRows;
  std::array<unsigned, 2> fonts{0, 0};
  unsigned globalOptions = 0;
  std::string decimalsAndCurrency = "2,1,EUR,0";
  unsigned country = 0;
  std::string taxNumber = "BG000000000";
  std::string vatAccount = "0.00";
  std::map<unsigned, std::string> texts;
  std::map<unsigned, std::string> displayCharacters;  // by row address (0x80..0xE0; 0 for the short form)
  uint32_t flashWrites = 0;
  bool fiscalised = false;
  bool testArea = false;

  // The customer display.
  std::string displayUpper;
  std::string displayLower;

  // The network settings of the service tool.
  bool dhcp = false;
  std::array<uint8_t, 20> tcpIp{192, 168, 1, 100, 255, 255, 255, 0, 192, 168, 1, 1, 8, 8, 8, 8, 8, 8, 4, 4};
  std::string gprsApn = "internet";
  std::string gprsUser;
  std::string gprsPassword;
  bool gprsLinkUp = true;
  uint32_t gprsTests = 0;
  bool locked = true;
  std::string unlockKey = "1111,2222,3333,4444";
  std::string lockOwner = "12345678901";
  std::array<std::string, 2> counters;
  // The service tool's electronic journal prints (each request's data as received), its SD card,
  // and the print table of the codes 0x80..0xFF: the font position each prints as.
  std::vector<std::string> journalPrints;
  uint32_t journalCardActivations = 0;
  std::array<uint8_t, 128> codeTable = DefaultCodeTable();
  // The largest logo taken, as command 128 tells it.
  unsigned logoWidthDots = 384;
  unsigned logoMaxRows = 96;

  // OR-ed into every answer: conditions such as paper end that stand until cleared.
  StatusBytes standingStatus = kStatusIdle;

  bool operator==(const DeviceState &) const = default;
};

class DeviceModel {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;
  using Handler = std::function<Answer(DeviceModel &model, std::string_view data)>;

  // With every standard command registered; the clock defaults to the system clock.
  explicit DeviceModel(WallClock clock = {});

  // Adds or replaces the handler of a command code.
  void Register(uint8_t code, Handler handler);
  // The handler of a command code, empty when there is none: to wrap it, e.g. in a rule that
  // refuses or drops chosen requests and passes the others on.
  Handler HandlerOf(uint8_t code) const;

  // Runs the command. An unknown code, a handler that throws or an answer too long for a frame
  // becomes a refusal; the standing status is added to every answer.
  Answer Execute(uint8_t code, std::string_view data);

  DeviceState &State() { return state_; }
  const DeviceState &State() const { return state_; }

  // Wall clock plus the device's offset, to the second.
  std::chrono::sys_seconds DeviceTime() const;
  void SetDeviceTime(std::chrono::sys_seconds time);

 private:
  WallClock clock_;
  std::map<uint8_t, Handler> handlers_;
  DeviceState state_;
};

// The standard command groups, registered by the constructor; each lives in its own file.
void RegisterClockCommands(DeviceModel &model);
void RegisterTextCommands(DeviceModel &model);
void RegisterTaxCommands(DeviceModel &model);
void RegisterInfoCommands(DeviceModel &model);
void RegisterPrinterCommands(DeviceModel &model);
void RegisterReceiptCommands(DeviceModel &model);
void RegisterProgrammingCommands(DeviceModel &model);
void RegisterQueryCommands(DeviceModel &model);
void RegisterServiceCommands(DeviceModel &model);
void RegisterPremisesCommands(DeviceModel &model);
void RegisterNetworkCommands(DeviceModel &model);

}  // namespace fiscalsim
