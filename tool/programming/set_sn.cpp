#include "programming/set_sn.h"

#include "core/code_page.h"
#include "ui_set_sn.h"

namespace tillwright {

CSetSN::CSetSN(QWidget *parent) : QDialog(parent), ui_(std::make_unique<Ui::CSetSN>()) {
  ui_->setupUi(this);
  connect(ui_->button1, &QPushButton::clicked, this, [this] {
    serial_ = WidgetCodePage().ToDevice(ui_->edit1033->text());
    accept();
  });
  connect(ui_->button2, &QPushButton::clicked, this, &QDialog::reject);
}

CSetSN::~CSetSN() = default;

}  // namespace tillwright
