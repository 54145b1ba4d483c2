#include "app/tillwright_dlg.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <thread>
#include <utility>

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/local_time.h"
#include "core/messages.h"
#include "platform/port_names.h"
#include "settings/settings.h"

namespace tillwright {

namespace {

// The device's line settings for the scan (8 data bits, no parity, one stop bit, in the serial
// engine's numbering).
constexpr uint32_t kBaudRate = 115200;
constexpr uint16_t kDataBits = 8;
constexpr uint16_t kNoParity = 0;
constexpr uint16_t kOneStopBit = 0;

std::string Trying(const std::string &port) { return std::string(msg::kTryingPort) + port; }

// The checks say their own count with each step; the progress window is given a fixed scale
// before the first.
constexpr int kDiagnosisScale = 100;
constexpr std::string_view kDiagnosisStarts = "Checking the connection";
constexpr std::string_view kDiagnosisStopped = "Stopped: the checks after these did not run.";

}  // namespace

CTillwrightDlg::CTillwrightDlg(AppState &state, ILink &link)
    : Dialog("tillwright_dlg"), state_(state), link_(link), dialogs_(state, link) {
  Uses({kResultField, kStatusLabel});
  On(kConnectButton, ui::Event::Clicked, [this] { OnConnect(); });
  On(kSetDateTimeButton, ui::Event::Clicked, [this] { OnSetDateTime(); });
  On(kHeaderLinesButton, ui::Event::Clicked, [this] { OnHeaderLines(); });
  On(kDailyZButton, ui::Event::Clicked, [this] { OnDailyZ(); });
  On(kSetSerialButton, ui::Event::Clicked, [this] { OnSetSerialNumber(); });
  On(kFiscalStartButton, ui::Event::Clicked, [this] { OnFiscalStart(); });
  On(kPaperFeedButton, ui::Event::Clicked, [this] { OnPaperFeed(); });
  On(kDiagnosticsButton, ui::Event::Clicked, [this] { OnDiagnostics(); });
  On(kPaperCutButton, ui::Event::Clicked, [this] { OnPaperCut(); });
  On(kDeviceTypeCombo, ui::Event::SelectionChanged, [this] { OnDeviceType(); });
  On(kQuitButton, ui::Event::Clicked, [this] { OnQuit(); });
  On(kTaxRatesButton, ui::Event::Clicked, [this] { OnTaxRates(); });
  On(kJournalButton, ui::Event::Clicked, [this] { OnJournal(); });
  On(kCodePagesButton, ui::Event::Clicked, [this] { OnCodePages(); });
  On(kLogoButton, ui::Event::Clicked, [this] { OnLogo(); });
  On(kBusinessDataButton, ui::Event::Clicked, [this] { OnBusinessData(); });
  On(kReportsByDatesButton, ui::Event::Clicked, [this] { OnReportsByDates(); });
  On(kRemoteAuditButton, ui::Event::Clicked, [this] { OnRemoteAudit(); });
  On(kOperatorNameButton, ui::Event::Clicked, [this] { OnOperatorName(); });
  On(kOperatorPasswordButton, ui::Event::Clicked, [this] { OnOperatorPassword(); });
  On(kTcpIpButton, ui::Event::Clicked, [this] { OnTcpIp(); });
  On(kGprsButton, ui::Event::Clicked, [this] { OnGprs(); });
  On(kTestSaleButton, ui::Event::Clicked, [this] { OnTestSale(); });
  On(kCountersButton, ui::Event::Clicked, [this] { OnCounters(); });
  Menu({kDiagnoseAction, std::string(kDiagnoseText), std::string(kDiagnoseKeys)}, [this] { OnDiagnose(); });
}

CTillwrightDlg::~CTillwrightDlg() = default;

void CTillwrightDlg::OnInitDialog() {
  Dialog::OnInitDialog();
  // The monitor thread only posts: the label is set on the user-interface thread, and a post
  // still queued when the dialog goes is dropped with it.
  ui::IDialogView &view = View();
  monitor_ = std::make_unique<ConnectionMonitor>(link_, state_, [this, &view](std::string_view label) {
    view.Post([this, text = std::string(label)] { SetLabel(text); });
  });
  monitor_->Start();
}

void CTillwrightDlg::OnDestroy() {
  if (monitor_) monitor_->Stop();
}

void CTillwrightDlg::DoDataExchange(ui::DataExchange &dx) {
  // The result field is read-only: its text goes out and never comes back, so that a reply's
  // bytes are never put through the code page twice.
  if (!dx.FromControls()) DeviceText(dx, kResultField, state_.resultText);
  dx.Selection(kDeviceTypeCombo, deviceType_);
}

void CTillwrightDlg::SetLabel(std::string_view text) {
  // While a USB device is present it serves the commands, whatever the scan found.
  if (text == msg::kConnected && !serialPath_.empty() && state_.usbPresent == 0) {
    View().SetText(kStatusLabel, std::string(msg::kConnectedOn) + serialPath_);
    return;
  }
  View().SetText(kStatusLabel, text);
}

void CTillwrightDlg::RunCommand(uint16_t code, std::string request) {
  UpdateData(true);
  ui::WaitCursor wait(Prompter());
  link_.SendCommand(state_.resultText, request, code);
  wait.Restore();
  UpdateData(false);
}

// The scan runs on a worker so that the window keeps repainting and shows the port it tries;
// meanwhile the progress window holds the dialog's input, so the user-interface thread sends
// nothing. Stop takes effect between ports: the port in progress finishes its probes (a device
// found there is kept), and a scan stopped without a find ends as one that found nothing.
void CTillwrightDlg::OnConnect() {
  if (state_.usbPresent != 0) return;
  UpdateData(true);
  // Listing the ports reads directories and sysfs only: quick enough before the window shows.
  const std::vector<std::string> ports = ScanPortNames(roots_ ? *roots_ : platform::SerialRootsFromEnvironment());
  ui::IDialogView &view = View();
  ui::IPrompter &prompter = Prompter();
  const int32_t window = view.WindowId();
  ScanEnd end = ScanEnd::NotFound;
  std::string found;
  if (!ports.empty()) {
    prompter.BeginProgress(Trying(ports.front()), static_cast<int>(ports.size()), true);
    std::jthread worker([&] {
      try {
        end = Scan(view, prompter, window, ports, found);
      } catch (...) {
        end = ScanEnd::NotFound;  // nothing but memory can run out here
      }
      view.Post([&prompter] { prompter.EndProgress(); });
    });
    prompter.WaitProgress();
  }
  if (end == ScanEnd::UsbAppeared) {
    UpdateData(false);
    return;
  }
  // The scan let go of any port found earlier: the monitor must not go on calling it connected.
  serialPath_.clear();
  if (end == ScanEnd::Found) {
    state_.resultText = msg::kDone;
    state_.serialConnected = 1;
    if (!platform::ComPortNumber(found)) serialPath_ = found;
    SetLabel(msg::kConnected);
  } else {
    state_.resultText = msg::kError;
    state_.serialConnected = 0;
    SetLabel(msg::kDisconnected);
  }
  UpdateData(false);
}

CTillwrightDlg::ScanEnd CTillwrightDlg::Scan(ui::IDialogView &view, ui::IPrompter &prompter, int32_t window,
                                             const std::vector<std::string> &ports, std::string &found) {
  for (size_t i = 0; i < ports.size(); ++i) {
    const std::string &port = ports[i];
    // The device turned up on USB meanwhile: that link serves from now on.
    if (state_.usbPresent != 0) return ScanEnd::UsbAppeared;
    if (prompter.Stopped()) return ScanEnd::NotFound;
    view.Post([&prompter, step = static_cast<int>(i), text = Trying(port)] { prompter.SetProgress(step, text); });
    link_.SerialDisconnect();
    if (link_.SerialConnect(port, kBaudRate, kDataBits, kNoParity, kOneStopBit) != 0) continue;
    if (link_.SerialSetWindow(window) != 0) {
      link_.SerialDisconnect();
      continue;
    }
    std::string reply;
    std::string request;
    // A device that answers, even with its error flag, is there.
    bool answered = link_.SendCommand(reply, request, cmd::kReadDateTime) == 0 || reply != msg::kConnectionError;
    if (!answered) {
      request.clear();
      answered = link_.SendCommand(reply, request, cmd::kImsi) == 0;
    }
    if (answered) {
      found = port;
      return ScanEnd::Found;
    }
    link_.SerialDisconnect();
  }
  return ScanEnd::NotFound;
}

// The checks probe ports and may take seconds each: they run on a worker, as the scan does, while
// the progress window holds the dialog's input and keeps it repainting. Stop takes effect between
// checks; what ran by then is shown, with a line that says the rest did not run.
void CTillwrightDlg::OnDiagnose() {
  ui::IDialogView &view = View();
  ui::IPrompter &prompter = Prompter();
  // The checks try every port through this program's one serial link: a port the dialog still
  // held would show as taken by another program, and the device on it as silent. Connect takes
  // it again afterwards.
  if (state_.serialConnected != 0) {
    link_.SerialDisconnect();
    state_.serialConnected = 0;
    serialPath_.clear();
    if (state_.usbPresent == 0) SetLabel(msg::kDisconnected);
  }
  diagnosis::Report report;
  std::optional<std::string> failure;
  bool stopped = false;
  prompter.BeginProgress(kDiagnosisStarts, kDiagnosisScale, true);
  {
    std::jthread worker([&] {
      const diagnosis::Progress progress = [&](int step, int steps, const std::string &text) {
        const int shown = steps > 0 ? std::clamp(step, 0, steps) * kDiagnosisScale / steps : 0;
        view.Post([&prompter, shown, text] { prompter.SetProgress(shown, text); });
        if (prompter.Stopped()) stopped = true;
        return !stopped;
      };
      try {
        report = diagnose_(progress);
      } catch (const std::exception &e) {
        failure = *e.what() != '\0' ? e.what() : "an unknown fault";
      } catch (...) {
        failure = "an unknown fault";
      }
      view.Post([&prompter] { prompter.EndProgress(); });
    });
    prompter.WaitProgress();
  }
  if (failure) {
    prompter.Inform("The connection checks failed: " + *failure, CDiagnosisDlg::kCaption, ui::Icon::Error);
    return;
  }
  const auto dialog = dialogs_.Diagnosis(std::move(report), stopped ? std::string(kDiagnosisStopped) : std::string());
  prompter.Run(*dialog);
}

void CTillwrightDlg::OnSetDateTime() {
  const std::tm local = LocalTime(std::time(nullptr));
  RunCommand(cmd::kSetDateTime, DeviceDateTimeText(local));
}

void CTillwrightDlg::OnDailyZ() {
  UpdateData(true);
  ui::WaitCursor wait(Prompter());
  std::string request = cmd::kLastReportNumber;
  link_.SendCommand(state_.resultText, request, cmd::kDailyReport);
  // The closing report goes out whatever the first answer was.
  request = cmd::kCloseDay;
  link_.SendCommand(state_.resultText, request, cmd::kDailyReport);
  wait.Restore();
  UpdateData(false);
}

void CTillwrightDlg::OnPaperFeed() { RunCommand(cmd::kPaperFeed, cmd::kOneLine); }

void CTillwrightDlg::OnDiagnostics() { RunCommand(cmd::kDiagnostics, cmd::kPrintDiagnostics); }

void CTillwrightDlg::OnPaperCut() { RunCommand(cmd::kPaperCut, ""); }

void CTillwrightDlg::OnSetSerialNumber() {
  const auto dialog = dialogs_.SerialNumber();
  if (Prompter().Run(*dialog) != ui::kResultOk) return;
  RunCommand(cmd::kSetSerial, std::string(cmd::kSerialCountry) + "," + dialog->SerialNumber() + ",,");
}

void CTillwrightDlg::OnFiscalStart() {
  {
    const auto check = dialogs_.FiscalCheck();
    if (Prompter().Run(*check) != ui::kResultOk) return;
  }
  {
    const auto fiscalization = dialogs_.Fiscalization();
    Prompter().Run(*fiscalization);
  }
  const std::string status = link_.LastStatus();
  if (!status.empty()) state_.lastStatusCopy = status;
  state_.resultText = state_.fiscalResultText;
  UpdateData(false);
}

void CTillwrightDlg::OnHeaderLines() {
  {
    const auto dialog = dialogs_.HeaderFooter();
    Prompter().Run(*dialog);
  }
  UpdateData(false);
}

void CTillwrightDlg::OnOperatorName() {
  {
    const auto dialog = dialogs_.ClerkName();
    Prompter().Run(*dialog);
  }
  UpdateData(false);
}

void CTillwrightDlg::OnOperatorPassword() {
  {
    const auto dialog = dialogs_.ClerkPassword();
    Prompter().Run(*dialog);
  }
  UpdateData(false);
}

void CTillwrightDlg::OnTcpIp() {
  const auto dialog = dialogs_.TcpIp();
  Prompter().Run(*dialog);
}

void CTillwrightDlg::OnGprs() {
  const auto dialog = dialogs_.ConnectionParameters();
  Prompter().Run(*dialog);
}

// The sale goes on only once the receipt is open; the total and the closing follow the sale
// whatever its answer, so that the result field shows how the receipt ended.
void CTillwrightDlg::OnTestSale() {
  const auto dialog = dialogs_.TestSalePrice();
  if (Prompter().Run(*dialog) != ui::kResultOk) return;
  UpdateData(true);
  ui::WaitCursor wait(Prompter());
  std::string request = std::string(cmd::kTestSaleOperator) + ',' + cmd::kTestSalePassword + ',' + cmd::kTestSaleTill;
  if (link_.SendCommand(state_.resultText, request, cmd::kOpenReceipt) == 0) {
    request =
        std::string(cmd::kTestSaleText) + '\n' + dialog->Description() + '\t' + cmd::kTestSaleGroup + dialog->Price();
    link_.SendCommand(state_.resultText, request, cmd::kSale);
    request = cmd::kPayInCash;
    link_.SendCommand(state_.resultText, request, cmd::kTotal);
    request.clear();
    link_.SendCommand(state_.resultText, request, cmd::kCloseReceipt);
  }
  wait.Restore();
  UpdateData(false);
}

void CTillwrightDlg::OnCounters() {
  const auto dialog = dialogs_.Counters();
  if (Prompter().Run(*dialog) != ui::kResultOk) return;
  RunCommand(cmd::kCounters, dialog->First() + '\n' + dialog->Second());
}

void CTillwrightDlg::OnDeviceType() {
  deviceType_ = View().Selection(kDeviceTypeCombo);
  View().SetEnabled(kDiagnosticsButton, deviceType_ == 0);
  View().SetEnabled(kPaperCutButton, deviceType_ == 0);
  View().SetEnabled(kFiscalStartButton, deviceType_ == 0 || deviceType_ == 2);
}

void CTillwrightDlg::OnQuit() {
  link_.SerialDisconnect();
  state_.serialConnected = 0;
  serialPath_.clear();
  EndDialog(ui::kResultOk);
}

void CTillwrightDlg::OnTaxRates() {
  const auto dialog = dialogs_.TaxRates();
  Prompter().Run(*dialog);
}

void CTillwrightDlg::OnJournal() {
  const auto dialog = dialogs_.Journal();
  Prompter().Run(*dialog);
}

void CTillwrightDlg::OnCodePages() {
  const auto dialog = dialogs_.CodeTable();
  Prompter().Run(*dialog);
}

void CTillwrightDlg::OnLogo() {
  {
    const auto dialog = dialogs_.Logo();
    Prompter().Run(*dialog);
  }
  UpdateData(false);
}

void CTillwrightDlg::OnBusinessData() {
  const auto dialog = dialogs_.BusinessData();
  Prompter().Run(*dialog);
}

void CTillwrightDlg::OnReportsByDates() {
  const auto period = dialogs_.DatePeriod();
  if (Prompter().Run(*period) != ui::kResultOk) return;
  RunCommand(cmd::kReportByDates, ReportPeriodData(period->begin, period->end));
}

void CTillwrightDlg::OnRemoteAudit() {
  const auto dialog = dialogs_.RegData();
  Prompter().Run(*dialog);
}

}  // namespace tillwright
