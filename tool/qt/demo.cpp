#include "qt/demo.h"

#include <QAbstractButton>
#include <QDialog>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <initializer_list>

#include "core/messages.h"
#include "core/tillwright_dlg.h"
#include "programming/set_clerk.h"
#include "programming/set_conn_par.h"
#include "programming/set_counter.h"
#include "programming/set_header_footer.h"
#include "programming/set_sn.h"
#include "programming/tcp_ip_config.h"
#include "qt/dialog_host.h"
#include "qt/qt_prompter.h"

namespace tillwright::qt {

namespace {

void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void Click(DialogHost &host, ui::ControlId id) {
  if (auto *button = qobject_cast<QAbstractButton *>(host.Control(id))) button->click();
}

// "shot.png" and "set_sn" give "shot-set_sn.png".
std::string BesideShot(const std::string &path, const std::string &name) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return extension ? path.substr(0, dot) + "-" + name + path.substr(dot) : path + "-" + name;
}

// Opens the dialog over the main one as the person would see it (its opening reads the device),
// saves its picture beside the main dialog's and closes it with nothing written.
bool SaveDialogShot(ui::Dialog &dialog, QtPrompter &prompter, QWidget *over, const std::string &path) {
  DialogHost host(dialog, prompter, over);
  host.Open();
  Pause(300);
  const std::string file = BesideShot(path, dialog.TemplateName());
  const bool saved = host.Window().grab().save(QString::fromStdString(file), "PNG");
  host.Close();
  if (saved) std::printf("tillwright: %s saved to %s\n", dialog.TemplateName().c_str(), file.c_str());
  return saved;
}

}  // namespace

int RunDemo(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &path) {
  AppState &state = app.State();
  CTillwrightDlg dialog(state, link);
  DialogHost host(dialog, prompter);
  host.Open();
  Pause(300);
  Click(host, CTillwrightDlg::kConnectButton);
  std::printf("tillwright: Connect: %s\n", state.resultText.c_str());
  {
    // The header dialog's opening reads the lines; it is never shown.
    CSetheaderFooter header(link);
    DialogHost headerHost(header, prompter, &host.Window());
    headerHost.Open(false);
    for (size_t line = 0; line < CSetheaderFooter::kLines; ++line) {
      const std::string text = headerHost.Text(CSetheaderFooter::SlotField(CSetheaderFooter::kSlotOfLine[line]));
      std::printf("tillwright: line %zu: %s\n", line, text.c_str());
    }
  }
  // Let the monitor's label reach the screen before the picture is taken.
  Pause(1500);
  bool saved = host.Window().grab().save(QString::fromStdString(path), "PNG");
  const bool connected = state.resultText == msg::kDone;
  {
    CSetConnPar gprs(link);
    tcpIpConfig tcpIp(link);
    CSetClerkName clerkName(link);
    CSetClerkPass clerkPass(link);
    CSetSN serial;
    CSetCounter counter;
    CenterPrice price;
    for (ui::Dialog *child : std::initializer_list<ui::Dialog *>{&gprs, &tcpIp, &clerkName, &clerkPass, &serial,
                                                                  &counter, &price})
      saved = SaveDialogShot(*child, prompter, &host.Window(), path) && saved;
  }
  Click(host, CTillwrightDlg::kQuitButton);
  host.Close();
  if (!saved) {
    std::fprintf(stderr, "tillwright: cannot save %s\n", path.c_str());
    return 1;
  }
  std::printf("tillwright: screenshot saved to %s\n", path.c_str());
  return connected ? 0 : 1;
}

}  // namespace tillwright::qt
