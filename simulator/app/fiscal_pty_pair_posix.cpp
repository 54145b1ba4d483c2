// fiscal-pty-pair: two pseudo-terminals joined back to back, a null-modem cable between two
// programs that open serial ports by name.
//   fiscal-pty-pair [--link-a PATH] [--link-b PATH]
// Prints "SLAVE_A SLAVE_B" on one line once the pair is ready and copies bytes both ways until
// SIGTERM or SIGINT. It holds both slaves open itself: a program closing its end (or opening
// and closing it again and again) never hangs up the pair.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "fiscal_version.h"
#include "fiscalsim/pty_link.h"

namespace {

// Bytes read from one master and not yet taken by the other. While it holds any, its source
// is not read: a side that does not read holds up the other instead of losing bytes.
struct Direction {
  int from = -1;
  int to = -1;
  uint8_t bytes[4096] = {};
  size_t start = 0;
  size_t end = 0;
  bool Empty() const { return start == end; }
};

// False on an error of the system; EAGAIN and EINTR are no errors.
bool Fill(Direction &d) {
  const ssize_t n = ::read(d.from, d.bytes, sizeof d.bytes);
  if (n > 0) {
    d.start = 0;
    d.end = static_cast<size_t>(n);
  }
  return n >= 0 || errno == EAGAIN || errno == EINTR;
}

bool Drain(Direction &d) {
  const ssize_t n = ::write(d.to, d.bytes + d.start, d.end - d.start);
  if (n > 0) d.start += static_cast<size_t>(n);
  return n >= 0 || errno == EAGAIN || errno == EINTR;
}

std::atomic<bool> failed{false};

void Copy(int stop, const fiscalsim::RawPty &a, const fiscalsim::RawPty &b) {
  pthread_setname_np(pthread_self(), "pty-pair-copy");
  Direction ab;
  ab.from = a.master;
  ab.to = b.master;
  Direction ba;
  ba.from = b.master;
  ba.to = a.master;
  for (;;) {
    pollfd fds[3] = {{stop, POLLIN, 0}, {a.master, 0, 0}, {b.master, 0, 0}};
    fds[1].events = static_cast<short>((ab.Empty() ? POLLIN : 0) | (ba.Empty() ? 0 : POLLOUT));
    fds[2].events = static_cast<short>((ba.Empty() ? POLLIN : 0) | (ab.Empty() ? 0 : POLLOUT));
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) return;
    // Both slaves are held open here, so a hang-up or error means the pair is broken; going on
    // would spin on it.
    if (((fds[1].revents | fds[2].revents) & (POLLHUP | POLLERR | POLLNVAL)) != 0) break;
    bool ok = true;
    if ((fds[1].revents & POLLIN) != 0) ok = ok && Fill(ab);
    if ((fds[2].revents & POLLIN) != 0) ok = ok && Fill(ba);
    if (!ab.Empty()) ok = ok && Drain(ab);
    if (!ba.Empty()) ok = ok && Drain(ba);
    if (!ok) break;
  }
  std::fprintf(stderr, "fiscal-pty-pair: copying failed: %s\n", std::strerror(errno));
  failed = true;
  ::kill(::getpid(), SIGTERM);  // ends the main thread's wait
}

// The same options as the OPTIONS of fiscal-pty-pair(1).
constexpr char kUsage[] =
    "usage: fiscal-pty-pair [--link-a PATH] [--link-b PATH]\n"
    "Two pseudo-terminals joined back to back, until SIGINT or SIGTERM: prints their two paths\n"
    "on one line once they are ready.\n"
    "  --link-a PATH  also reach the first as PATH (a symbolic link, removed at the end)\n"
    "  --link-b PATH  also reach the second as PATH\n"
    "  --help         show this text and end\n"
    "  --version      show the version and end\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// A link of ours is replaced; anything else at that path is left alone.
bool MakeLink(const std::string &link, const std::string &target) {
  if (link.empty()) return true;
  char old[256];
  const ssize_t n = ::readlink(link.c_str(), old, sizeof old - 1);
  if (n > 0 && std::strncmp(old, "/dev/pts/", 9) == 0) ::unlink(link.c_str());
  if (::symlink(target.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "fiscal-pty-pair: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

void RemoveLink(const std::string &link, const std::string &target) {
  if (link.empty()) return;
  char now[256] = {};
  const ssize_t n = ::readlink(link.c_str(), now, sizeof now - 1);
  if (n > 0 && target == std::string(now, static_cast<size_t>(n))) ::unlink(link.c_str());
}

}  // namespace

int main(int argc, char **argv) {
  std::string linkA, linkB;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("fiscal-pty-pair %s\n", FISCAL_SUITE_VERSION);
      return 0;
    }
    if ((arg == "--link-a" || arg == "--link-b") && i + 1 < argc) {
      (arg == "--link-a" ? linkA : linkB) = argv[++i];
    } else {
      return Usage();
    }
  }

  // Blocked before any thread starts, so that only sigwait below takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  fiscalsim::RawPty a, b;
  try {
    a = fiscalsim::OpenRawPty();
    b = fiscalsim::OpenRawPty();
  } catch (const std::system_error &e) {
    std::fprintf(stderr, "fiscal-pty-pair: no pseudo-terminal: %s\n", e.what());
    return 1;
  }
  const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop < 0) {
    std::fprintf(stderr, "fiscal-pty-pair: eventfd: %s\n", std::strerror(errno));
    return 1;
  }
  int status = 0;
  if (MakeLink(linkA, a.slavePath) && MakeLink(linkB, b.slavePath)) {
    std::thread copier(Copy, stop, std::cref(a), std::cref(b));
    std::printf("%s %s\n", a.slavePath.c_str(), b.slavePath.c_str());
    std::fflush(stdout);
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = ::write(stop, &one, sizeof one);
    copier.join();
    status = failed ? 1 : 0;
  } else {
    status = 1;
  }
  RemoveLink(linkA, a.slavePath);
  RemoveLink(linkB, b.slavePath);
  for (const int fd : {a.master, a.slave, b.master, b.slave, stop}) ::close(fd);
  return status;
}
