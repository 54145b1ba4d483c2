// The main dialog: connection status, the port scan, the tool's own commands and the doors to
// the programming dialogs.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "core/app_state.h"
#include "core/connection_monitor.h"
#include "core/link.h"
#include "core/prompter.h"

namespace Ui {
class CTillwrightDlg;
}

namespace tillwright {

class CTillwrightDlg : public QDialog {
  Q_OBJECT

 public:
  // Starts the connection monitor, as the dialog's initialisation always has.
  CTillwrightDlg(AppState &state, ILink &link, IPrompter &prompter, QWidget *parent = nullptr);
  ~CTillwrightDlg() override;

  void OnConnect();
  void OnSetDateTime();
  void OnDailyZ();
  void OnPaperFeed();
  void OnSetSerialNumber();
  void OnFiscalStart();
  void OnHeaderLines();
  void OnDiagnostics();
  void OnPaperCut();
  void OnDeviceType(int index);
  void OnQuit();

  const ConnectionMonitor &Monitor() const { return *monitor_; }
  Ui::CTillwrightDlg &Widgets() { return *ui_; }

  void done(int result) override;

 private:
  // Sends one command with the result text as its reply, under the wait cursor.
  void RunCommand(uint16_t code, std::string data);
  void ShowResult();
  void SetLabel(std::string_view text);

  std::unique_ptr<Ui::CTillwrightDlg> ui_;
  AppState &state_;
  ILink &link_;
  IPrompter &prompter_;
  std::unique_ptr<ConnectionMonitor> monitor_;
};

}  // namespace tillwright
