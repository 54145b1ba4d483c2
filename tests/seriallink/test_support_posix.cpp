#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace seriallink::testing {

RawDevice::RawDevice() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  char name[128];
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  termios tio{};
  if (slave_ < 0 || ::tcgetattr(slave_, &tio) != 0) throw std::runtime_error("pty slave");
  ::cfmakeraw(&tio);
  ::tcsetattr(slave_, TCSANOW, &tio);
}

RawDevice::~RawDevice() {
  ::close(slave_);
  ::close(master_);
}

std::optional<fiscalsim::ReceivedFrame> RawDevice::NextFrame(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (frames_.empty()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    std::vector<fiscalsim::ReceivedFrame> got;
    parser_.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), Clock::now(), got);
    frames_.insert(frames_.end(), got.begin(), got.end());
  }
  fiscalsim::ReceivedFrame frame = frames_.front();
  frames_.pop_front();
  return frame;
}

void RawDevice::Send(const fiscalsim::Bytes &bytes) {
  if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("pty master write");
  }
}

void RawDevice::Reply(uint8_t seq, uint8_t cmd, std::string_view data, const fiscalsim::StatusBytes &status) {
  Send(fiscalsim::BuildReply(seq, cmd, data, status));
}

long ReaderCpuTicks() {
  DIR *dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  long ticks = -1;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string task = std::string("/proc/self/task/") + entry->d_name;
    std::ifstream comm(task + "/comm");
    std::string name;
    if (!std::getline(comm, name) || name != "seriallink-rx") continue;
    std::ifstream stat(task + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {  // state is field 3, utime 14, stime 15
      if (i == 14) utime = std::stol(field);
      if (i == 15) stime = std::stol(field);
    }
    ticks = utime + stime;
  }
  ::closedir(dir);
  return ticks;
}

}  // namespace seriallink::testing
