#include "host_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QThread>
#include <cstdlib>

#include "wait_for.h"

namespace hosttest {

void EnsureApplication() {
  static QApplication *app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "qt_host_tests";
    static char *argv[] = {name, nullptr};
    auto *application = new QApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tillwright"));
    return application;
  }();
  (void)app;
}

bool WaitFor(const std::function<bool()> &done, int timeoutMs) {
  // What is awaited comes through this thread's event loop, so the wait serves it.
  return fiscal_test::WaitFor(
      [&done] {
        if (done()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
      },
      std::chrono::milliseconds(timeoutMs));
}

BoxAnswerer::BoxAnswerer() {
  QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
  timer_.start(10);
}

BoxAnswerer::~BoxAnswerer() { timer_.stop(); }

void BoxAnswerer::Look() {
  auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
  if (box == nullptr || !box->isVisible()) return;
  texts.push_back(box->text().toStdString());
  captions.push_back(box->windowTitle().toStdString());
  icons.push_back(box->icon());
  QAbstractButton *button = box->defaultButton();
  if (!buttons.empty()) {
    button = box->button(buttons.front());
    buttons.pop_front();
  }
  if (button != nullptr) button->click();
}

void Later(std::function<void()> action, int ms) { QTimer::singleShot(ms, std::move(action)); }

}  // namespace hosttest

// Fontconfig keeps a cache for the life of the process, which the leak checker of the address
// sanitizer build would otherwise report.
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
