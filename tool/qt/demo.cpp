#include "qt/demo.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QDialog>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "core/dialog_catalogue.h"
#include "core/messages.h"
#include "core/tillwright_dlg.h"
#include "programming/set_header_footer.h"
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

// Answers every message box that opens while it lives with the box's Escape button, and says
// what the box said.
class BoxDismisser {
 public:
  BoxDismisser() {
    QObject::connect(&timer_, &QTimer::timeout, [] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      std::printf("tillwright: box: %s\n", box->text().toStdString().c_str());
      box->reject();
    });
    timer_.start(100);
  }

 private:
  QTimer timer_;
};

}  // namespace

int RunDialogScreenshots(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &dir) {
  AppState &state = app.State();
  CTillwrightDlg dialog(state, link);
  DialogHost host(dialog, prompter);
  host.Open();
  Pause(300);
  BoxDismisser boxes;
  Click(host, CTillwrightDlg::kConnectButton);
  std::printf("tillwright: Connect: %s\n", state.resultText.c_str());
  QDir().mkpath(QString::fromStdString(dir));
  bool allSaved = true;
  for (const DialogEntry &entry : DialogCatalogue(state, link)) {
    const auto child = entry.make();
    DialogHost childHost(*child, prompter, &host.Window());
    childHost.Open();
    Pause(300);
    const std::string path = dir + "/" + entry.templateName + ".png";
    const bool saved = childHost.Window().grab().save(QString::fromStdString(path), "PNG");
    std::printf("tillwright: %s %s\n", saved ? "saved" : "cannot save", path.c_str());
    allSaved = allSaved && saved;
    childHost.Close();
  }
  Click(host, CTillwrightDlg::kQuitButton);
  host.Close();
  return allSaved ? 0 : 1;
}

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
  const bool saved = host.Window().grab().save(QString::fromStdString(path), "PNG");
  const bool connected = state.resultText == msg::kDone;
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
