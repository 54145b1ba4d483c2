#include "append_file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fiscalsim {

int OpenAppendFile(const std::string &path, std::string *error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    *error = errno == ELOOP ? path + " is a symbolic link" : "cannot open " + path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = path + " is not a regular file";
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, O_APPEND);  // a regular file: writes block as usual again
  return fd;
}

}  // namespace fiscalsim
