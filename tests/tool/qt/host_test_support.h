// The offscreen application for the Qt host's tests, and a person who answers message boxes.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace hosttest {

// Creates the offscreen application once for the whole test program.
void EnsureApplication();

// Serves events until `done` holds or `timeoutMs` passed; the final answer of `done`. The bound
// is only for a hang: a sanitizer build on a loaded machine can need far more than a few seconds.
bool WaitFor(const std::function<bool()> &done, int timeoutMs = 30000);

// While it lives, answers every message box that opens: the next of `buttons`, or the box's
// default button when none is left. Keeps what each box said.
class BoxAnswerer {
 public:
  BoxAnswerer();
  ~BoxAnswerer();
  std::deque<QMessageBox::StandardButton> buttons;
  std::vector<std::string> texts;
  std::vector<std::string> captions;
  std::vector<QMessageBox::Icon> icons;

 private:
  void Look();
  QTimer timer_;
};

// Runs `action` once the event loop is running (inside a modal run, for instance).
void Later(std::function<void()> action, int ms = 0);

}  // namespace hosttest
