#include "tool_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>

namespace tooltest {

void EnsureApplication() {
  static QApplication *app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "tool_tests";
    static char *argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  (void)app;
}

bool WaitFor(const std::function<bool()> &done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(10);
  }
  return done();
}

std::vector<std::string> RecordingLink::DataOf(uint16_t code) const {
  std::vector<std::string> out;
  for (const Sent &s : sent)
    if (s.code == code) out.push_back(s.data);
  return out;
}

bool ScriptedPrompter::AskOkCancel(std::string_view text) {
  asked.emplace_back(text);
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected question: " << text;
    return false;
  }
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

int ScriptedPrompter::Run(QDialog &dialog) {
  dialogsRun.emplace_back(dialog.metaObject()->className());
  if (dialogs.empty()) return QDialog::Rejected;
  auto script = std::move(dialogs.front());
  dialogs.pop_front();
  return script(dialog);
}

}  // namespace tooltest

// Fontconfig keeps a cache for the life of the process, which the leak checker of the address
// sanitizer build would otherwise report.
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
