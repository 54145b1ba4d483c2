// Command codes the tool sends (only the low byte reaches the device).
#pragma once

#include <cstdint>

namespace tillwright::cmd {

inline constexpr uint16_t kTcpIpConfig = 37;      // 0x25
inline constexpr uint16_t kTextLine = 43;         // 0x2B: "I<n>" reads a line, "<n><text>" writes it
inline constexpr uint16_t kPaperFeed = 44;        // 0x2C
inline constexpr uint16_t kPaperCut = 45;         // 0x2D
inline constexpr uint16_t kOpenReceipt = 48;      // 0x30
inline constexpr uint16_t kSale = 49;             // 0x31
inline constexpr uint16_t kTotal = 53;            // 0x35
inline constexpr uint16_t kCloseReceipt = 56;     // 0x38
inline constexpr uint16_t kSetDateTime = 61;      // 0x3D
inline constexpr uint16_t kReadDateTime = 62;     // 0x3E
inline constexpr uint16_t kDiagnostics = 71;      // 0x47
inline constexpr uint16_t kFiscalize = 72;        // 0x48
inline constexpr uint16_t kFmReportByDates = 79;  // 0x4F
inline constexpr uint16_t kDeviceInfo = 90;       // 0x5A
inline constexpr uint16_t kSetSerial = 91;        // 0x5B
inline constexpr uint16_t kSetTaxRates = 96;      // 0x60
inline constexpr uint16_t kTaxRates = 97;         // 0x61
inline constexpr uint16_t kRegistrationInfo = 99; // 0x63
inline constexpr uint16_t kSetClerkPass = 101;    // 0x65
inline constexpr uint16_t kSetClerkName = 102;    // 0x66
inline constexpr uint16_t kClerkReport = 105;     // 0x69
inline constexpr uint16_t kDailyReport = 108;     // 0x6C
inline constexpr uint16_t kPluReport = 111;       // 0x6F
inline constexpr uint16_t kLogoRow = 115;         // 0x73
inline constexpr uint16_t kLogoEnd = 128;         // 0x80
inline constexpr uint16_t kCodeTable = 164;       // 0xA4
inline constexpr uint16_t kConnParams = 176;      // 0xB0
inline constexpr uint16_t kSetCounter = 180;      // 0xB4
inline constexpr uint16_t kConnTest = 193;        // 0xC1
inline constexpr uint16_t kActivateJournal = 195; // 0xC3
inline constexpr uint16_t kReportsNeeded = 196;   // 0xC4
inline constexpr uint16_t kJournalState = 197;    // 0xC5
inline constexpr uint16_t kPremises = 198;        // 0xC6
inline constexpr uint16_t kPremisesAction = 199;  // 0xC7
inline constexpr uint16_t kImsi = 200;            // 0xC8
inline constexpr uint16_t kJournalRead = 201;     // 0xC9
inline constexpr uint16_t kPremisesState = 208;   // 0xD0
inline constexpr uint16_t kServerParams = 221;    // 0xDD
inline constexpr uint16_t kUnlock = 228;          // 0xE4

}  // namespace tillwright::cmd
