// The read-only look at the trader details, VAT rates and serial number before fiscalization.
#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <string>

#include "core/link.h"
#include "core/prompter.h"

namespace Ui {
class CFiscalCheck;
}

namespace tillwright {

class CFiscalCheck : public QDialog {
  Q_OBJECT

 public:
  // Reads everything it shows at once; the device is not asked again.
  CFiscalCheck(ILink &link, IPrompter &prompter, QWidget *parent = nullptr);
  ~CFiscalCheck() override;

  Ui::CFiscalCheck &Widgets() { return *ui_; }

 private:
  void Load();

  std::unique_ptr<Ui::CFiscalCheck> ui_;
  std::array<std::string, 8> headerLines_;
  std::array<std::string, 4> rates_;
  std::string serial_;
};

}  // namespace tillwright
