// Texts the program shows, exactly as devices' users have always seen them (spelling included).
#pragma once

#include <string_view>

namespace tillwright::msg {

inline constexpr std::string_view kOrganisation = "Selvora Bulgaria";

// The constant message texts, in the order the program sets them at start.
inline constexpr std::string_view kError = "Error";
inline constexpr std::string_view kDone = "Done";
inline constexpr std::string_view kResult = "Result";
inline constexpr std::string_view kState = "State";
inline constexpr std::string_view kAlreadyFiscalized = "EFD is allready fiscalized";
inline constexpr std::string_view kNoSerial = "No EFD serial number is programmed";
inline constexpr std::string_view kDifferentSerial = "Different serial number";
inline constexpr std::string_view kOpenReceipt = "Open receipt";
inline constexpr std::string_view kZReportNecessary = "Daily Z report is necessary";
inline constexpr std::string_view kInvoiceRange = "Invoice range is not set";
inline constexpr std::string_view kFiscalError = "Unkown Fiscal Error";

inline constexpr std::string_view kConnectionError = "Connection Error";
inline constexpr std::string_view kConnected = "Connected";
inline constexpr std::string_view kDisconnected = "Disconnected";

inline constexpr std::string_view kJournalActivationNeeded = "SD Card EJ activation is needed !!!";
inline constexpr std::string_view kJournalActivationError = "SD Card EJ activation err !!!";

// The port scan's progress, followed by the port's name.
inline constexpr std::string_view kTryingPort = "Trying ";

inline constexpr std::string_view kZReportNeeded = "Daily Z report is needed !!!";
inline constexpr std::string_view kClerkReportNeeded = "Clerk report is needed !!!";
inline constexpr std::string_view kPluReportNeeded = "PLU report is needed !!!";

// The business premises dialog.
inline constexpr std::string_view kWriteError = "WRITE ERROR !!!";
inline constexpr std::string_view kOk = "OK";
// A comma typed where the device would read it as the end of the field.
inline constexpr std::string_view kNoCommaInField =
    "A comma cannot be sent in this field: the device would read it as the start of the next field.";

}  // namespace tillwright::msg
