#include "core/fiscal_check.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/fields.h"
#include "ui_fiscal_check.h"

namespace tillwright {

CFiscalCheck::CFiscalCheck(ILink &link, IPrompter &prompter, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CFiscalCheck>()) {
  ui_->setupUi(this);
  connect(ui_->button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->button2, &QPushButton::clicked, this, &QDialog::reject);

  WaitCursor wait(prompter);
  // A failed read shows its failure text in the line it would have filled.
  for (size_t k = 0; k < headerLines_.size(); ++k) {
    std::string request = "I" + std::to_string(k);
    link.SendCommand(headerLines_[k], request, cmd::kTextLine);
  }
  std::string reply;
  std::string request;
  link.SendCommand(reply, request, cmd::kTaxRates);
  const auto rates = SplitFields(reply);
  for (size_t i = 0; i < rates_.size() && i < rates.size(); ++i) rates_[i] = rates[i];

  reply.clear();
  request = cmd::kDeviceInfoRequest;
  if (link.SendCommand(reply, request, cmd::kDeviceInfo) == 0) {
    constexpr size_t kSerialField = 4;
    const auto info = SplitFields(reply);
    if (info.size() > kSerialField) serial_ = info[kSerialField];
  }
  wait.Restore();
  Load();
}

CFiscalCheck::~CFiscalCheck() = default;

void CFiscalCheck::Load() {
  const CodePage &cp = WidgetCodePage();
  QLineEdit *lines[] = {ui_->edit1033, ui_->edit1034, ui_->edit1035, ui_->edit1036,
                        ui_->edit1037, ui_->edit1038, ui_->edit1039, ui_->edit1040};
  for (size_t k = 0; k < headerLines_.size(); ++k) lines[k]->setText(cp.ToWidget(headerLines_[k]));
  QLineEdit *rates[] = {ui_->edit1063, ui_->edit1064, ui_->edit1065, ui_->edit1066};
  for (size_t i = 0; i < rates_.size(); ++i) rates[i]->setText(cp.ToWidget(rates_[i]));
  ui_->edit1083->setText(cp.ToWidget(serial_));
}

}  // namespace tillwright
