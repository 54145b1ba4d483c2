#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fiscalsim/port_alias.h"
#include "platform/port_names.h"

namespace fiscalsim {
namespace {

std::string Describe(const std::string &what, int error) { return what + ": " + std::strerror(error); }

// mkdir -p, new levels with mode 0700: the directory maps names to devices, so it is private.
bool MakeDirectories(const std::string &dir, std::string *error) {
  for (size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    const std::string level = dir.substr(0, at);
    if (!level.empty() && ::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = Describe("cannot create " + level, errno);
      return false;
    }
    if (at == std::string::npos) return true;
  }
}

std::string LinkTarget(const std::string &path) {
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

std::unique_ptr<PortAlias> PortAlias::Create(std::string_view comName, const std::string &target, std::string *error) {
  const auto number = platform::ComPortNumber(comName);
  if (!number) {
    *error = "not a COM port name: " + std::string(comName);
    return nullptr;
  }
  const std::string dir = platform::PortAliasDir();
  if (!MakeDirectories(dir, error)) return nullptr;
  // A directory that another account made first, or may write to, would let it replace the
  // alias with one to a terminal of its own: hosts would then talk to it, not to us. Checked
  // after the mkdir, so that what the check passed is what the link goes into.
  if (const std::string fault = platform::PortAliasDirFault(); !fault.empty()) {
    *error = std::string(comName) + " is refused: " + fault;
    return nullptr;
  }
  const std::string path = dir + "/COM" + std::to_string(*number);

  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      *error = path + " exists and is not an alias";
      return nullptr;
    }
    if (::stat(path.c_str(), &st) == 0) {
      *error = path + " is in use: it points to " + LinkTarget(path);
      return nullptr;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      *error = Describe("cannot replace the stale alias " + path, errno);
      return nullptr;
    }
  }
  // Fails with EEXIST when another simulator took the name in the meantime.
  if (::symlink(target.c_str(), path.c_str()) != 0) {
    *error = Describe("cannot create " + path, errno);
    return nullptr;
  }
  return std::unique_ptr<PortAlias>(new PortAlias(path, target));
}

bool PortAlias::Retarget(const std::string &target, std::string *error) {
  if (LinkTarget(path_) != target_) {
    *error = path_ + " no longer leads to " + target_;
    return false;
  }
  // A hidden name beside it, which no host takes for a port, then renamed over it.
  const size_t slash = path_.rfind('/');
  const std::string temporary = path_.substr(0, slash + 1) + "." + path_.substr(slash + 1) + ".new";
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    *error = Describe("cannot point " + path_ + " to " + target, errno);
    ::unlink(temporary.c_str());
    return false;
  }
  target_ = target;
  return true;
}

PortAlias::~PortAlias() {
  if (LinkTarget(path_) == target_) ::unlink(path_.c_str());
}

}  // namespace fiscalsim
