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
// The label while the scan's device answers on a device path rather than a COM port, followed by
// that path.
inline constexpr std::string_view kConnectedOn = "Connected on ";

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

// The registration data dialog.
inline constexpr std::string_view kExecutedOk = "УСПЕШНО ИЗПЪЛНЕНИЕ";
inline constexpr std::string_view kExecutionFailed = "НЕУСПЕШНО ИЗПЪЛНЕНИЕ";
inline constexpr std::string_view kErrorState = "ГРЕШКА";
inline constexpr std::string_view kErrorNumber = "ГРЕШКА N";
inline constexpr std::string_view kParametersWriteError = "Parameters write error!!!";
inline constexpr std::string_view kChooseRegistration = "ИЗБЕРЕТЕ РЕГИСТРАЦИЯ ЗА ДА ПРОВЕРИТЕ ЗА СЪЩЕСТВУВАЩА!";
inline constexpr std::string_view kCarriedOut = "УСПЕШНО ИЗПЪЛНЕНА!!!";
inline constexpr std::string_view kNotCarriedOut = "НЕУСПЕШНО ИЗПЪЛНЕНА!!!";
inline constexpr std::string_view kGprsCheckOk = "ПРОВЕРКА GPRS УСПЕШНА!!!";
inline constexpr std::string_view kGprsError = "ГРЕШКА GPRS !!!";
inline constexpr std::string_view kNotAvailable = "N/A";
inline constexpr std::string_view kDigitsOnly = "Please enter digits only.";
// Network, operators, counters and the test sale.
inline constexpr std::string_view kTestSaleQuestion =
    "More than 1.00 units for test sale is introduced.Do you want to continue?";
inline constexpr std::string_view kParametersError = "Parameters error !!!";
inline constexpr std::string_view kOkBang = "OK !!!";
inline constexpr std::string_view kErrorBang = "Error !!!";
inline constexpr std::string_view kUndefined = "Undefined";
inline constexpr std::string_view kLockUnknown = "Lock state :Unknown";
inline constexpr std::string_view kLocked = "Lock state :Locked or OIB not set";
inline constexpr std::string_view kUnlockedFor = "Lock state :Unlocked for ";  // then the device's reply
inline constexpr std::string_view kCommaRefused =
    "This field cannot hold a comma: the device would take it for the end of the field.";
inline constexpr std::string_view kTcpIpNotRead =
    "The TCP/IP settings could not be read from the device, so these fields do not show what it "
    "holds. Write them to the device anyway?";

}  // namespace tillwright::msg
