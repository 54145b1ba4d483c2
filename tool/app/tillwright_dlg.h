// The main dialog: connection status, the port scan, the tool's own commands and the doors to
// the programming dialogs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_catalogue.h"
#include "core/app_state.h"
#include "core/connection_monitor.h"
#include "core/diagnosis.h"
#include "core/link.h"
#include "core/port_scan.h"
#include "dialogs/dialog.h"
#include "platform/serial_ports.h"

namespace tillwright {

class CTillwrightDlg : public ui::Dialog {
 public:
  static constexpr ui::ControlId kResultField = 1033;
  static constexpr ui::ControlId kStatusLabel = 1097;
  static constexpr ui::ControlId kConnectButton = 1084;
  static constexpr ui::ControlId kSetDateTimeButton = 1005;
  static constexpr ui::ControlId kHeaderLinesButton = 1016;
  static constexpr ui::ControlId kDailyZButton = 1008;
  static constexpr ui::ControlId kSetSerialButton = 1015;
  static constexpr ui::ControlId kFiscalStartButton = 1013;
  static constexpr ui::ControlId kPaperFeedButton = 1010;
  static constexpr ui::ControlId kDiagnosticsButton = 1007;  // hidden
  static constexpr ui::ControlId kPaperCutButton = 1009;     // hidden
  static constexpr ui::ControlId kDeviceTypeCombo = 1039;    // hidden
  static constexpr ui::ControlId kQuitButton = 3;
  // The logo, tax-rate, journal and code-table dialogs' doors.
  static constexpr ui::ControlId kTaxRatesButton = 1078;
  static constexpr ui::ControlId kJournalButton = 1158;
  static constexpr ui::ControlId kCodePagesButton = 1169;  // hidden
  static constexpr ui::ControlId kLogoButton = 1018;
  static constexpr ui::ControlId kBusinessDataButton = 1159;
  static constexpr ui::ControlId kReportsByDatesButton = 1024;  // hidden
  static constexpr ui::ControlId kRemoteAuditButton = 1086;     // hidden
  static constexpr ui::ControlId kOperatorNameButton = 1020;
  static constexpr ui::ControlId kOperatorPasswordButton = 1021;
  static constexpr ui::ControlId kTcpIpButton = 1183;
  static constexpr ui::ControlId kGprsButton = 1085;
  static constexpr ui::ControlId kTestSaleButton = 1025;  // hidden
  static constexpr ui::ControlId kCountersButton = 2024;  // hidden

  // The window menu's "Diagnose connection..." (a multiple of 16 below 0xF000, as a system menu
  // command must be).
  static constexpr ui::ControlId kDiagnoseAction = 0x1F10;
  static constexpr std::string_view kDiagnoseText = "Diagnose connection...";
  static constexpr std::string_view kDiagnoseKeys = "Ctrl+Shift+D";

  // The port scan's COM range: COM1 to COM20 (then, on Linux, the serial devices present).
  static constexpr int kLastComPort = tillwright::kLastComPort;

  CTillwrightDlg(AppState &state, ILink &link);
  ~CTillwrightDlg() override;

  // Starts the connection monitor, which reports through the view's Post.
  void OnInitDialog() override;
  // Stops the monitor; nothing it posts reaches the controls afterwards.
  void OnDestroy() override;
  // Enter does nothing here: the program ends through Quit, Escape or the window's close box, never
  // by a key pressed while a technician types elsewhere.
  void OnOK() override {}

  // Scans the ports of ScanPortNames on a worker thread under a progress window that offers
  // Stop; see the definition for what Stop does.
  void OnConnect();
  // Where the scan looks for devices beyond COM1..COM20; unless set, the machine's (as
  // platform::SerialRootsFromEnvironment says at each scan).
  void UseSerialRoots(const platform::SerialRoots &roots) { roots_ = roots; }
  // Runs the connection checks on a worker thread under a progress window that offers Stop, then
  // shows what they found (what ran, when stopped) in the diagnosis dialog.
  void OnDiagnose();
  // The checks OnDiagnose runs; diagnosis::Diagnose unless replaced.
  using DiagnoseFunction = std::function<diagnosis::Report(const diagnosis::Progress &)>;
  void UseDiagnosis(DiagnoseFunction diagnose) { diagnose_ = std::move(diagnose); }
  void OnSetDateTime();
  void OnDailyZ();
  void OnPaperFeed();
  void OnSetSerialNumber();
  void OnFiscalStart();
  void OnHeaderLines();
  void OnDiagnostics();
  void OnPaperCut();
  void OnDeviceType();
  void OnQuit();
  void OnTaxRates();
  void OnJournal();
  void OnCodePages();
  void OnLogo();
  void OnBusinessData();
  void OnReportsByDates();
  void OnRemoteAudit();
  void OnOperatorName();
  void OnOperatorPassword();
  void OnTcpIp();
  void OnGprs();
  void OnTestSale();
  void OnCounters();

  // Null before OnInitDialog.
  const ConnectionMonitor *Monitor() const { return monitor_.get(); }

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  enum class ScanEnd { Found, NotFound, UsbAppeared };

  // The worker's part of the scan: the serial link's calls, and progress posted to the view.
  // `found` receives the name of the port that answered.
  ScanEnd Scan(ui::IDialogView &view, ui::IPrompter &prompter, int32_t window, const std::vector<std::string> &ports,
               std::string &found);
  // Sends one command with the result text as its reply, under the wait cursor.
  void RunCommand(uint16_t code, std::string data);
  // "Connected" names the device path when the scan found the device on one.
  void SetLabel(std::string_view text);

  AppState &state_;
  ILink &link_;
  const DialogMaker dialogs_;
  int deviceType_ = 0;
  std::optional<platform::SerialRoots> roots_;
  // The device path the scan's device answered on; empty for a COM port or no device.
  std::string serialPath_;
  std::unique_ptr<ConnectionMonitor> monitor_;
  DiagnoseFunction diagnose_ = [](const diagnosis::Progress &progress) { return diagnosis::Diagnose(progress); };
};

}  // namespace tillwright
