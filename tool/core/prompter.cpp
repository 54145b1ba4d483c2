#include "core/prompter.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QString>

namespace tillwright {

namespace {
QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

bool QtPrompter::AskOkCancel(std::string_view text) {
  return QMessageBox::question(parent_, QApplication::applicationName(), Text(text),
                               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

void QtPrompter::Inform(std::string_view text) {
  QMessageBox::information(parent_, QApplication::applicationName(), Text(text), QMessageBox::Ok);
}

void QtPrompter::BeginWait() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtPrompter::EndWait() { QApplication::restoreOverrideCursor(); }

int QtPrompter::Run(QDialog &dialog) { return dialog.exec(); }

}  // namespace tillwright
