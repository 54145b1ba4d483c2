#include "qt/demo.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <iostream>

#include "app/demo_scenario.h"
#include "app/dialog_catalogue.h"
#include "app/tillwright_dlg.h"
#include "core/messages.h"
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

// What the demo scenario needs of Qt beyond what the main dialog answers itself.
class QtDemoHost final : public MainDialogDemoHost {
 public:
  QtDemoHost(DialogHost &host, const CTillwrightDlg &dialog) : MainDialogDemoHost(host, dialog), host_(host) {}
  void Pause(std::chrono::milliseconds time) override { qt::Pause(static_cast<int>(time.count())); }
  void Click(ui::ControlId id) override { qt::Click(host_, id); }
  // Drawn from the widgets themselves: no screen is read, so nothing can be half painted.
  bool SavePicture(const std::string &path) override {
    return host_.Window().grab().save(QString::fromStdString(path), "PNG");
  }

 private:
  DialogHost &host_;
};

}  // namespace

int RunDialogScreenshots(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &dir) {
  AppState &state = app.State();
  CTillwrightDlg dialog(state, link);
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  Pause(300);
  BoxDismisser boxes;
  Click(host, CTillwrightDlg::kConnectButton);
  std::printf("tillwright: Connect: %s\n", state.resultText.c_str());
  QDir().mkpath(QString::fromStdString(dir));
  bool allSaved = true;
  for (const DialogEntry &entry : DialogCatalogue(state, link)) {
    const auto child = entry.make();
    DialogHost childHost(*child, prompter, prompter.Windows(), &host.Window());
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
  CTillwrightDlg dialog(app.State(), link);
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  Pause(300);
  QtDemoHost demo(host, dialog);
  const int code = RunDemoScenario(demo, link, path, std::cout, std::cerr);
  host.Close();
  return code;
}

}  // namespace tillwright::qt
