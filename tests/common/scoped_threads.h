// Threads a test starts, joined whichever way the test leaves. A failed ASSERT returns from the
// test at once, and a std::thread destroyed unjoined ends the whole test program with
// std::terminate, taking every later test of the program with it: one failure must report as one.
#pragma once

#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace fiscal_test {

class ScopedThreads {
 public:
  ScopedThreads() = default;
  // `release` runs before the joins of a test that left early: it is what lets the threads end
  // (a stop flag set, a port closed, a disposal), so that the joins cannot wait on the test.
  explicit ScopedThreads(std::function<void()> release) : release_(std::move(release)) {}
  ScopedThreads(const ScopedThreads &) = delete;
  ScopedThreads &operator=(const ScopedThreads &) = delete;
  ~ScopedThreads() {
    if (!Pending()) return;
    if (release_) release_();
    Join();
  }

  template <class Body>
  void Start(Body &&body) {
    threads_.emplace_back(std::forward<Body>(body));
  }

  // The test's own join, where it needs the threads done; the release is not run.
  void Join() {
    for (std::thread &thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  bool Pending() const {
    for (const std::thread &thread : threads_) {
      if (thread.joinable()) return true;
    }
    return false;
  }

  std::function<void()> release_;
  std::vector<std::thread> threads_;
};

}  // namespace fiscal_test
