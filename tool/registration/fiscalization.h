// Puts the device into fiscal operation: the SD-card journal is activated first when the device
// says it is not, then the fiscalization command goes out and its answer becomes a message.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <string_view>

#include "core/app_state.h"
#include "core/link.h"
#include "core/prompter.h"

namespace Ui {
class CFiscalization;
}

namespace tillwright {

// The message for a fiscalization answer; empty for "P" (fiscalized, nothing to say).
std::string_view FiscalizationMessage(std::string_view reply);

class CFiscalization : public QDialog {
  Q_OBJECT

 public:
  CFiscalization(AppState &state, ILink &link, IPrompter &prompter, QWidget *parent = nullptr);
  ~CFiscalization() override;

  void OnOK();
  Ui::CFiscalization &Widgets() { return *ui_; }

 private:
  void Save();
  void Load();

  std::unique_ptr<Ui::CFiscalization> ui_;
  AppState &state_;
  ILink &link_;
  IPrompter &prompter_;
  std::string serial_;
  std::string taxNumber_;
  int vatRegistered_ = 0;
};

}  // namespace tillwright
