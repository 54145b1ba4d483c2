#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "fiscalsim/pty_link.h"

namespace fiscalsim {
namespace {

class PtyLink final : public DeviceLink {
 public:
  PtyLink() {
    // The slave is held for the link's whole life: with no slave open the master reports
    // POLLHUP without end, which would spin the serving loop between two hosts.
    RawPty pty = OpenRawPty();
    master_ = pty.master;
    slave_ = pty.slave;
    slavePath_ = std::move(pty.slavePath);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) Fail("eventfd");
  }

  ~PtyLink() override {
    Close();
    if (wake_ >= 0) ::close(wake_);
  }

  std::string Name() const override { return slavePath_; }

  WaitResult Wait() override {
    if (master_ < 0) return WaitResult::Closed;
    for (;;) {
      pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return WaitResult::Closed;
      }
      if ((fds[0].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t r = ::read(wake_, &count, sizeof count);
        return WaitResult::Woken;
      }
      if ((fds[1].revents & POLLIN) != 0) return WaitResult::Readable;
      // Our own slave descriptor keeps hang-ups away; one now means the pty is unusable.
      if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return WaitResult::Closed;
    }
  }

  ptrdiff_t Read(uint8_t *buffer, size_t capacity) override {
    if (master_ < 0) return -1;
    for (;;) {
      const ssize_t n = ::read(master_, buffer, capacity);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 0;
      return -1;
    }
  }

  bool Write(std::span<const uint8_t> bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      if (master_ < 0) return false;
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return false;
      // The host does not read: wait for room, or for a wake, which is left for Wait().
      pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLOUT, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
      if ((fds[0].revents & POLLIN) != 0) return false;
      if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return false;
    }
    return true;
  }

  void Wake() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = ::write(wake_, &one, sizeof one);
  }

  // Closing both sides hangs up every host that has the slave open.
  void Close() override {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = -1;
    slave_ = -1;
  }

  // The old slave path may already belong to another pty: hosts learn the new one from Name().
  bool Reopen() override {
    if (master_ >= 0) return true;
    try {
      RawPty pty = OpenRawPty();
      master_ = pty.master;
      slave_ = pty.slave;
      slavePath_ = std::move(pty.slavePath);
      return true;
    } catch (const std::system_error &) {
      return false;
    }
  }

 private:
  [[noreturn]] void Fail(const char *what) {
    const int error = errno;
    Close();
    throw std::system_error(error, std::generic_category(), what);
  }

  // Touched by the serving thread only (and by construction and destruction).
  int master_ = -1;
  int slave_ = -1;
  int wake_ = -1;
  std::string slavePath_;
};

}  // namespace

RawPty OpenRawPty() {
  RawPty pty;
  const auto fail = [&pty](const char *what) {
    const int error = errno;
    if (pty.master >= 0) ::close(pty.master);
    if (pty.slave >= 0) ::close(pty.slave);
    throw std::system_error(error, std::generic_category(), what);
  };
  pty.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (pty.master < 0) fail("posix_openpt");
  char name[128];
  if (::grantpt(pty.master) != 0 || ::unlockpt(pty.master) != 0 || ::ptsname_r(pty.master, name, sizeof name) != 0) {
    fail("grantpt");
  }
  pty.slavePath = name;
  pty.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (pty.slave < 0) fail("open pty slave");
  termios tio{};
  if (::tcgetattr(pty.slave, &tio) != 0) fail("tcgetattr");
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (::tcsetattr(pty.slave, TCSANOW, &tio) != 0) fail("tcsetattr");
  return pty;
}

std::unique_ptr<DeviceLink> OpenPtyLink() { return std::make_unique<PtyLink>(); }

}  // namespace fiscalsim
