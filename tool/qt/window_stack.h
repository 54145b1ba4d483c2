// The windows a prompter has open, innermost last: boxes, progress and child dialogs open over
// the innermost. The prompter owns it; each DialogHost puts its window on it while it runs, so
// that the host needs nothing else of the prompter than the prompter's interface.
#pragma once

#include <QPointer>
#include <QWidget>
#include <iterator>
#include <vector>

namespace tillwright::qt {

class WindowStack {
 public:
  // The innermost window still there; null when none is.
  QWidget *Top() const {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
      if (!it->isNull()) return it->data();
    return nullptr;
  }
  void Push(QWidget *window) { windows_.emplace_back(window); }
  void Pop(QWidget *window) {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
      if (it->data() == window) {
        windows_.erase(std::next(it).base());
        return;
      }
    }
  }

 private:
  std::vector<QPointer<QWidget>> windows_;
};

}  // namespace tillwright::qt
