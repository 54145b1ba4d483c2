#include "programming/set_header_footer.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "programming/report_precheck.h"
#include "ui_set_header_footer.h"

namespace tillwright {

CSetheaderFooter::CSetheaderFooter(ILink &link, IPrompter &prompter, QWidget *parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CSetheaderFooter>()), link_(link), prompter_(prompter) {
  ui_->setupUi(this);
  connect(ui_->button1, &QPushButton::clicked, this, &CSetheaderFooter::OnOK);
  connect(ui_->button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->check1043, &QCheckBox::clicked, this, [this] { ApplyReadOnly(true); });
  connect(ui_->check1044, &QCheckBox::clicked, this, [this] { ApplyReadOnly(false); });

  WaitCursor wait(prompter_);
  for (size_t line = 0; line < kLines; ++line) {
    std::string reply;
    std::string request = "I" + std::to_string(line);
    if (link_.SendCommand(reply, request, cmd::kTextLine) != 0) break;
    current_[kSlotOfLine[line]] = reply;
    device_[kSlotOfLine[line]] = reply;
  }
  wait.Restore();
  Load();
}

CSetheaderFooter::~CSetheaderFooter() = default;

QLineEdit *CSetheaderFooter::SlotField(size_t slot) const {
  QLineEdit *fields[kLines] = {ui_->edit1033, ui_->edit1034, ui_->edit1035, ui_->edit1036, ui_->edit1037,
                               ui_->edit1038, ui_->edit1039, ui_->edit1040, ui_->edit1041, ui_->edit1042};
  return slot < kLines ? fields[slot] : nullptr;
}

void CSetheaderFooter::Save() {
  const CodePage &cp = WidgetCodePage();
  for (size_t slot = 0; slot < kLines; ++slot) current_[slot] = cp.ToDevice(SlotField(slot)->text());
  advertisementOnly_ = ui_->check1043->isChecked();
  unfixedOnly_ = ui_->check1044->isChecked();
}

void CSetheaderFooter::Load() {
  const CodePage &cp = WidgetCodePage();
  for (size_t slot = 0; slot < kLines; ++slot) SlotField(slot)->setText(cp.ToWidget(current_[slot]));
  ui_->check1043->setChecked(advertisementOnly_);
  ui_->check1044->setChecked(unfixedOnly_);
}

void CSetheaderFooter::ApplyReadOnly(bool advertisementBox) {
  advertisementOnly_ = ui_->check1043->isChecked();
  unfixedOnly_ = ui_->check1044->isChecked();
  // Each box sets its own fields to its own value; the last one clicked wins where they overlap.
  if (!advertisementBox) {
    for (size_t slot = 0; slot < kUnfixedSlots; ++slot) SlotField(slot)->setReadOnly(unfixedOnly_);
    return;
  }
  for (size_t line = 0; line < kHeaderLines; ++line) SlotField(kSlotOfLine[line])->setReadOnly(advertisementOnly_);
}

void CSetheaderFooter::OnOK() {
  Save();
  WaitCursor wait(prompter_);
  const size_t firstAd = kSlotOfLine[kHeaderLines];
  const size_t secondAd = kSlotOfLine[kHeaderLines + 1];
  if (current_[firstAd] != device_[firstAd] || current_[secondAd] != device_[secondAd]) {
    if (!ReportPreCheck(link_, prompter_)) return;
  }
  for (size_t line = advertisementOnly_ ? kHeaderLines : 0; line < kLines; ++line) {
    const size_t slot = kSlotOfLine[line];
    if (current_[slot] == device_[slot]) continue;
    // A cleared line goes out as one blank, never as the number alone.
    if (current_[slot].empty()) current_[slot] = " ";
    std::string request = std::to_string(line) + current_[slot];
    std::string reply;
    if (link_.SendCommand(reply, request, cmd::kTextLine) != 0) break;
    device_[slot] = current_[slot];
  }
  wait.Restore();
  accept();
}

}  // namespace tillwright
