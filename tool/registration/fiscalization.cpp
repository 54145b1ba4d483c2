#include "registration/fiscalization.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/fields.h"
#include "core/messages.h"
#include "ui_fiscalization.h"

namespace tillwright {

std::string_view FiscalizationMessage(std::string_view reply) {
  if (reply == "P") return {};
  if (reply == "1") return msg::kAlreadyFiscalized;
  if (reply == "2") return msg::kNoSerial;
  if (reply == "3") return msg::kDifferentSerial;
  if (reply == "4") return msg::kOpenReceipt;
  if (reply == "5") return msg::kZReportNecessary;
  if (reply == "8") return msg::kInvoiceRange;
  if (reply == "6") return msg::kJournalActivationNeeded;
  return msg::kFiscalError;
}

CFiscalization::CFiscalization(AppState &state, ILink &link, IPrompter &prompter, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CFiscalization>()), state_(state), link_(link), prompter_(prompter) {
  ui_->setupUi(this);
  connect(ui_->button1, &QPushButton::clicked, this, &CFiscalization::OnOK);
  connect(ui_->button2, &QPushButton::clicked, this, &QDialog::reject);
  Load();
}

CFiscalization::~CFiscalization() = default;

void CFiscalization::Save() {
  const CodePage &cp = WidgetCodePage();
  serial_ = cp.ToDevice(ui_->edit1038->text());
  taxNumber_ = cp.ToDevice(ui_->edit1023->text());
  vatRegistered_ = ui_->check1171->isChecked() ? 1 : 0;
}

void CFiscalization::Load() {
  const CodePage &cp = WidgetCodePage();
  ui_->edit1038->setText(cp.ToWidget(serial_));
  ui_->edit1023->setText(cp.ToWidget(taxNumber_));
  ui_->check1171->setChecked(vatRegistered_ != 0);
}

void CFiscalization::OnOK() {
  Save();
  WaitCursor wait(prompter_);

  std::string reply;
  std::string request;
  if (link_.SendCommand(reply, request, cmd::kJournalState) == 0) {
    const auto fields = SplitFields(reply);
    if (!fields.empty() && fields[0][0] == '0') {
      if (!prompter_.AskOkCancel(msg::kJournalActivationNeeded)) return;
      request.clear();
      if (link_.SendCommand(reply, request, cmd::kActivateJournal) != 0) {
        wait.Restore();
        prompter_.Inform(msg::kJournalActivationError);
        return;
      }
    }
  }

  request = serial_ + "," + taxNumber_ + "\n" + std::to_string(vatRegistered_);
  reply.clear();
  link_.SendCommand(reply, request, cmd::kFiscalize);
  state_.fiscalResultText = std::string(msg::kResult) + ":" + reply + "  " + std::string(msg::kState) + ":";
  const std::string_view message = FiscalizationMessage(reply);
  if (!message.empty()) prompter_.Inform(message);

  Load();
  wait.Restore();
  done(0);
}

}  // namespace tillwright
