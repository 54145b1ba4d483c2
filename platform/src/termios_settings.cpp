#include "termios_settings.h"

#include <cerrno>

namespace platform {
namespace {

bool BaudToSpeed(uint32_t baud, speed_t *speed) {
  static const struct {
    uint32_t baud;
    speed_t speed;
  } kRates[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
      {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
      {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
      {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
      {2000000, B2000000},
  };
  for (const auto &r : kRates) {
    if (r.baud == baud) {
      *speed = r.speed;
      return true;
    }
  }
  return false;
}

}  // namespace

int ApplyLineSettings(const LineSettings &s, termios *tio) {
  if (s.dataBits < 5 || s.dataBits > 8 || s.parity > 4 || s.stopBits > 2) return EINVAL;
  speed_t speed{};
  if (!BaudToSpeed(s.baudRate, &speed)) return EINVAL;

  termios t = *tio;
  ::cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[s.dataBits - 5];
  switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.parity != 0) t.c_iflag |= INPCK;
  // No 1.5 stop bits here: code 1 sets two, as UARTs do for 6 to 8 data bits.
  if (s.stopBits != 0) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return EINVAL;
  *tio = t;
  return 0;
}

}  // namespace platform
