#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "files_impl.h"
#include "platform/files.h"

namespace platform {
namespace detail {

int Seek(std::FILE *file, int64_t offset, int whence) { return ::fseeko(file, static_cast<off_t>(offset), whence); }
int64_t Tell(std::FILE *file) { return ::ftello(file); }

}  // namespace detail

namespace {

std::string Describe(const std::string &what, int error) { return what + ": " + std::strerror(error); }

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::unique_ptr<std::istream> OpenRegularFile(const std::string &path, std::string *error) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = Describe("cannot open " + path, errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + " is not a regular file";
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE *file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    *error = Describe("cannot open " + path, errno);
    ::close(fd);
    return nullptr;
  }
  return detail::StreamOver(file);
}

bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string *error) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  // A name of its own for each writer: a stale one left by a killed run blocks nothing.
  std::string temporary = path + ".part-XXXXXX";
  // mkostemp creates the file exclusively (a link planted under the name makes it fail) with
  // mode 0600, whatever the umask.
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = Describe("cannot create a file in " + folder, errno);
    return false;
  }
  const auto fail = [&](const std::string &what) {
    *error = Describe(what, errno);
    ::close(fd);
    ::unlink(temporary.c_str());
    return false;
  };
  if (!WriteAll(fd, bytes)) return fail("cannot write " + temporary);
  if (::fsync(fd) != 0) return fail("cannot write " + temporary + " to the disk");
  if (::close(fd) != 0) {
    *error = Describe("cannot write " + temporary, errno);
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = Describe("cannot rename " + temporary + " to " + path, errno);
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace platform
