#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/mutex.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "platform/trace.h"
#include "termios_settings.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, as poll() takes them (-1 waits forever).
int PollTimeout(bool forever, Clock::time_point deadline) {
  if (forever) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

size_t Queued(int fd) {
  int n = 0;
  if (::ioctl(fd, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<size_t>(n);
}

}  // namespace

struct SerialPort::Impl {
  mutable Mutex mutex;
  CondVar idle;
  int fd GUARDED_BY(mutex) = -1;  // stays valid while users > 0
  int wakeFd GUARDED_BY(mutex) = -1;  // readable once Close() has begun
  int users GUARDED_BY(mutex) = 0;  // calls working with fd right now
  bool closing GUARDED_BY(mutex) = false;
  std::string path GUARDED_BY(mutex);

  // Pins the descriptors for one call so that Close() cannot release them underneath.
  class Use {
   public:
    explicit Use(const Impl &impl) : impl_(const_cast<Impl &>(impl)) {
      MutexLock lock(impl_.mutex);
      if (impl_.fd < 0 || impl_.closing) return;
      ++impl_.users;
      fd_ = impl_.fd;
      wakeFd_ = impl_.wakeFd;
    }
    ~Use() {
      if (fd_ < 0) return;
      MutexLock lock(impl_.mutex);
      if (--impl_.users == 0) impl_.idle.NotifyAll();
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int wakeFd() const { return wakeFd_; }

   private:
    Impl &impl_;
    int fd_ = -1;
    int wakeFd_ = -1;
  };
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

int SerialPort::Open(std::string_view name) {
  std::string refusal;
  const std::string path = ResolvePortName(name, &refusal);
  if (!refusal.empty()) {
    Trace("%s", refusal.c_str());
    return EACCES;
  }
  MutexLock lock(impl_->mutex);
  if (impl_->fd >= 0) return EISCONN;

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  auto fail = [fd](int error) {
    ::close(fd);
    return error;
  };
  // flock binds every opener, root included; TIOCEXCL alone lets root in.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return fail(errno);
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return fail(errno);
  ::ioctl(fd, TIOCEXCL);
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) return fail(errno);

  impl_->fd = fd;
  impl_->wakeFd = wakeFd;
  impl_->path = path;
  return 0;
}

int SerialPort::Configure(const LineSettings &s) {
  Impl::Use use(*impl_);
  if (!use.ok()) return EBADF;
  termios tio{};
  if (::tcgetattr(use.fd(), &tio) != 0) return errno;
  if (const int error = ApplyLineSettings(s, &tio); error != 0) return error;
  if (::tcsetattr(use.fd(), TCSANOW, &tio) != 0) return errno;
  return 0;
}

// The kernel sizes its tty queues itself, reads here never block, and Write carries its own
// time-out: neither setting has anything to act on.
int SerialPort::SetTimeouts(const PortTimeouts &) { return 0; }

int SerialPort::SetQueueSizes(uint32_t, uint32_t) { return 0; }

bool SerialPort::IsOpen() const {
  MutexLock lock(impl_->mutex);
  return impl_->fd >= 0 && !impl_->closing;
}

std::string SerialPort::Path() const {
  MutexLock lock(impl_->mutex);
  return impl_->path;
}

static int ModemLine(const SerialPort::Impl &impl, int line, bool on) {
  SerialPort::Impl::Use use(impl);
  if (!use.ok()) return EBADF;
  return ::ioctl(use.fd(), on ? TIOCMBIS : TIOCMBIC, &line) == 0 ? 0 : errno;
}

int SerialPort::SetDtr(bool on) { return ModemLine(*impl_, TIOCM_DTR, on); }

int SerialPort::SetRts(bool on) { return ModemLine(*impl_, TIOCM_RTS, on); }

int SerialPort::Purge() {
  Impl::Use use(*impl_);
  if (!use.ok()) return EBADF;
  return ::tcflush(use.fd(), TCIOFLUSH) == 0 ? 0 : errno;
}

size_t SerialPort::Write(const void *data, size_t size, Millis timeout) {
  Impl::Use use(*impl_);
  if (!use.ok()) return 0;
  const bool forever = timeout == kInfinite;
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  const auto *p = static_cast<const unsigned char *>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(use.fd(), p + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) break;
    pollfd fds[2] = {{use.fd(), POLLOUT, 0}, {use.wakeFd(), POLLIN, 0}};
    const int r = ::poll(fds, 2, PollTimeout(forever, deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (fds[1].revents & POLLIN) != 0 || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
  }
  return done;
}

ptrdiff_t SerialPort::Read(void *buffer, size_t capacity) {
  Impl::Use use(*impl_);
  if (!use.ok()) return -1;
  if (capacity == 0) return 0;
  for (;;) {
    const ssize_t n = ::read(use.fd(), buffer, capacity);
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    if (n < 0) return -1;
    // A raw tty reads 0 both when nothing waits and after a hang-up; only poll tells them apart.
    pollfd fd = {use.fd(), POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return -1;
    return 0;
  }
}

size_t SerialPort::Available() const {
  Impl::Use use(*impl_);
  return use.ok() ? Queued(use.fd()) : 0;
}

WaitResult SerialPort::WaitReadable(Millis timeout) {
  Impl::Use use(*impl_);
  if (!use.ok()) return WaitResult::Closed;
  const bool forever = timeout == kInfinite;
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  for (;;) {
    pollfd fds[2] = {{use.fd(), POLLIN, 0}, {use.wakeFd(), POLLIN, 0}};
    const int r = ::poll(fds, 2, PollTimeout(forever, deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return WaitResult::Failed;
    if ((fds[1].revents & POLLIN) != 0) return WaitResult::Closed;
    const int hangup = fds[0].revents & (POLLHUP | POLLERR | POLLNVAL);
    // A hung-up tty may still report POLLIN; only bytes really queued make it readable.
    if ((fds[0].revents & POLLIN) != 0 && (hangup == 0 || Queued(use.fd()) > 0)) return WaitResult::Readable;
    if (hangup != 0 || (fds[0].revents & POLLIN) != 0) return WaitResult::Failed;
    if (r == 0) return WaitResult::TimedOut;
  }
}

void SerialPort::Close() {
  MutexLock lock(impl_->mutex);
  if (impl_->closing) {  // another thread is closing: return once it is done
    while (impl_->closing) impl_->idle.Wait(impl_->mutex);
    return;
  }
  if (impl_->fd < 0) return;
  impl_->closing = true;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = ::write(impl_->wakeFd, &one, sizeof one);
  while (impl_->users != 0) impl_->idle.Wait(impl_->mutex);
  ::ioctl(impl_->fd, TIOCNXCL);
  ::close(impl_->fd);  // also drops the flock
  ::close(impl_->wakeFd);
  impl_->fd = -1;
  impl_->wakeFd = -1;
  impl_->path.clear();
  impl_->closing = false;
  impl_->idle.NotifyAll();
}

}  // namespace platform
