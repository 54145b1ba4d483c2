// The tty child of a USB serial device: the modem-line ioctls a host sends to its node, and the
// pseudo-terminal behind it that carries the same frames as the bulk endpoints.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "usb_device_state_linux.h"

namespace fiscalsim {

gboolean OnTtyIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self) {
  return static_cast<EmulatedUsbDevice::State *>(self)->HandleTtyIoctl(client) ? TRUE : FALSE;
}

bool EmulatedUsbDevice::State::HandleTtyIoctl(UMockdevIoctlClient *client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
  switch (request) {
    case TIOCMGET: {
      UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), nullptr);
      if (d != nullptr) {
        const int lines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        std::memcpy(d->data, &lines, sizeof lines);
      }
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
      // A pseudo-terminal has no modem lines; a USB serial adapter takes them silently.
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    default: {
      int error = 0;
      const int result = umockdev_ioctl_client_execute(client, &error, nullptr);
      umockdev_ioctl_client_complete(client, result, error);
      return true;
    }
  }
}

void EmulatedUsbDevice::State::OpenTtyEnds(UMockdevTestbed *bed, int &master, int &slave) const {
  master = umockdev_testbed_get_dev_fd(bed, ttyNode.c_str());
  slave = -1;
  if (master < 0) return;
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  char name[128];
  if (::ptsname_r(master, name, sizeof name) != 0) return;
  slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  termios tio{};
  if (slave >= 0 && ::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
}

bool WriteTty(int fd, std::span<const uint8_t> bytes) {
  constexpr int kRoomWaitMs = 100;  // a slice of the wait for room; the loop goes on after it
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, kRoomWaitMs);
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
}

}  // namespace fiscalsim
