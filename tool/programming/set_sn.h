// Asks for the device serial number; the main dialog sends it.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CSetSN;
}

namespace tillwright {

class CSetSN : public QDialog {
  Q_OBJECT

 public:
  explicit CSetSN(QWidget *parent = nullptr);
  ~CSetSN() override;

  // Device bytes of the number as typed; valid after OK.
  const std::string &SerialNumber() const { return serial_; }
  Ui::CSetSN &Widgets() { return *ui_; }

 private:
  std::unique_ptr<Ui::CSetSN> ui_;
  std::string serial_;
};

}  // namespace tillwright
