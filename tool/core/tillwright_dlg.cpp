#include "core/tillwright_dlg.h"

#include <ctime>
#include <cstdio>

#include <QIcon>
#include <QPointer>

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/fiscal_check.h"
#include "core/messages.h"
#include "programming/set_header_footer.h"
#include "programming/set_sn.h"
#include "registration/fiscalization.h"
#include "ui_tillwright_dlg.h"

namespace tillwright {

namespace {

// The port scan: COM1 to COM20 at the device's line settings (8 data bits, no parity, one stop
// bit, in the serial engine's numbering).
constexpr int kLastComPort = 20;
constexpr uint32_t kBaudRate = 115200;
constexpr uint16_t kDataBits = 8;
constexpr uint16_t kNoParity = 0;
constexpr uint16_t kOneStopBit = 0;
// The serial engine takes the window's id as a positive 32-bit number.
constexpr WId kWindowIdBits = 0x7FFFFFFF;

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

CTillwrightDlg::CTillwrightDlg(AppState &state, ILink &link, IPrompter &prompter, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CTillwrightDlg>()), state_(state), link_(link), prompter_(prompter) {
  ui_->setupUi(this);
  setWindowIcon(QIcon(QStringLiteral(":/tillwright.png")));
  ui_->label1097->setAccessibleName(ui_->label1097->text());

  connect(ui_->button1084, &QPushButton::clicked, this, &CTillwrightDlg::OnConnect);
  connect(ui_->button1005, &QPushButton::clicked, this, &CTillwrightDlg::OnSetDateTime);
  connect(ui_->button1016, &QPushButton::clicked, this, &CTillwrightDlg::OnHeaderLines);
  connect(ui_->button1008, &QPushButton::clicked, this, &CTillwrightDlg::OnDailyZ);
  connect(ui_->button1015, &QPushButton::clicked, this, &CTillwrightDlg::OnSetSerialNumber);
  connect(ui_->button1013, &QPushButton::clicked, this, &CTillwrightDlg::OnFiscalStart);
  connect(ui_->button1010, &QPushButton::clicked, this, &CTillwrightDlg::OnPaperFeed);
  connect(ui_->button1007, &QPushButton::clicked, this, &CTillwrightDlg::OnDiagnostics);
  connect(ui_->button1009, &QPushButton::clicked, this, &CTillwrightDlg::OnPaperCut);
  connect(ui_->combo1039, &QComboBox::currentIndexChanged, this, &CTillwrightDlg::OnDeviceType);
  connect(ui_->button3, &QPushButton::clicked, this, &CTillwrightDlg::OnQuit);

  // The monitor thread only posts: the label is set here, on the user-interface thread. A post
  // still queued when the dialog goes is dropped with it.
  QPointer<CTillwrightDlg> self(this);
  monitor_ = std::make_unique<ConnectionMonitor>(link_, state_, [self](std::string_view label) {
    QMetaObject::invokeMethod(
        self, [self, text = std::string(label)] { if (self) self->SetLabel(text); }, Qt::QueuedConnection);
  });
  monitor_->Start();
}

CTillwrightDlg::~CTillwrightDlg() { monitor_->Stop(); }

void CTillwrightDlg::done(int result) {
  monitor_->Stop();
  QDialog::done(result);
}

void CTillwrightDlg::SetLabel(std::string_view text) {
  ui_->label1097->setText(Text(text));
  ui_->label1097->setAccessibleName(Text(text));
}

void CTillwrightDlg::ShowResult() { ui_->edit1033->setText(WidgetCodePage().ToWidget(state_.resultText)); }

void CTillwrightDlg::RunCommand(uint16_t code, std::string request) {
  WaitCursor wait(prompter_);
  link_.SendCommand(state_.resultText, request, code);
  wait.Restore();
  ShowResult();
}

void CTillwrightDlg::OnConnect() {
  if (state_.usbPresent != 0) return;
  WaitCursor wait(prompter_);
  bool found = false;
  for (int port = 1; port <= kLastComPort && !found; ++port) {
    // The device turned up on USB meanwhile: that link serves from now on.
    if (state_.usbPresent != 0) {
      wait.Restore();
      ShowResult();
      return;
    }
    const std::string name = "COM" + std::to_string(port);
    link_.SerialDisconnect();
    if (link_.SerialConnect(name, kBaudRate, kDataBits, kNoParity, kOneStopBit) != 0) continue;
    if (link_.SerialSetWindow(static_cast<int32_t>(winId() & kWindowIdBits)) != 0) {
      link_.SerialDisconnect();
      continue;
    }
    std::string reply;
    std::string request;
    // A device that answers, even with its error flag, is there.
    if (link_.SendCommand(reply, request, cmd::kReadDateTime) == 0 || reply != msg::kConnectionError) {
      found = true;
      break;
    }
    request.clear();
    if (link_.SendCommand(reply, request, cmd::kImsi) == 0) {
      found = true;
      break;
    }
    link_.SerialDisconnect();
  }
  if (found) {
    state_.resultText = msg::kDone;
    state_.serialConnected = 1;
    SetLabel(msg::kConnected);
  } else {
    state_.resultText = msg::kError;
    SetLabel(msg::kDisconnected);
  }
  wait.Restore();
  ShowResult();
}

void CTillwrightDlg::OnSetDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // "%d-%m-%y %H:%M:%S" of the local time; the device takes a two-digit year.
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
  RunCommand(cmd::kSetDateTime, text);
}

void CTillwrightDlg::OnDailyZ() {
  WaitCursor wait(prompter_);
  std::string request = cmd::kLastReportNumber;
  link_.SendCommand(state_.resultText, request, cmd::kDailyReport);
  // The closing report goes out whatever the first answer was.
  request = cmd::kCloseDay;
  link_.SendCommand(state_.resultText, request, cmd::kDailyReport);
  wait.Restore();
  ShowResult();
}

void CTillwrightDlg::OnPaperFeed() { RunCommand(cmd::kPaperFeed, cmd::kOneLine); }

void CTillwrightDlg::OnDiagnostics() { RunCommand(cmd::kDiagnostics, cmd::kPrintDiagnostics); }

void CTillwrightDlg::OnPaperCut() { RunCommand(cmd::kPaperCut, ""); }

void CTillwrightDlg::OnSetSerialNumber() {
  CSetSN dialog(this);
  if (prompter_.Run(dialog) != QDialog::Accepted) return;
  RunCommand(cmd::kSetSerial, std::string(cmd::kSerialCountry) + "," + dialog.SerialNumber() + ",,");
}

void CTillwrightDlg::OnFiscalStart() {
  CFiscalCheck check(link_, prompter_, this);
  if (prompter_.Run(check) != QDialog::Accepted) return;
  {
    CFiscalization fiscalization(state_, link_, prompter_, this);
    prompter_.Run(fiscalization);
  }
  const std::string status = link_.LastStatus();
  if (!status.empty()) state_.lastStatusCopy = status;
  state_.resultText = state_.fiscalResultText;
  ShowResult();
}

void CTillwrightDlg::OnHeaderLines() {
  {
    CSetheaderFooter dialog(link_, prompter_, this);
    prompter_.Run(dialog);
  }
  ShowResult();
}

void CTillwrightDlg::OnDeviceType(int index) {
  ui_->button1007->setEnabled(index == 0);
  ui_->button1009->setEnabled(index == 0);
  ui_->button1013->setEnabled(index == 0 || index == 2);
}

void CTillwrightDlg::OnQuit() {
  link_.SerialDisconnect();
  state_.serialConnected = 0;
  accept();
}

}  // namespace tillwright
