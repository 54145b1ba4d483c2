#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/port_names.h"

namespace platform {
namespace {

// $FISCAL_COM_DIR when set and not empty.
const char *MapDir() {
  const char *dir = std::getenv("FISCAL_COM_DIR");
  return dir != nullptr && *dir != '\0' ? dir : nullptr;
}

enum class DirState { Absent, Private, Unsafe };

// A directory named by the user may be reached through a link; the default places must be the
// directory itself, since a link there could have been made by anyone able to write beside it.
DirState Inspect(const std::string &dir, bool named, std::string *fault) {
  struct stat st {};
  if ((named ? ::stat(dir.c_str(), &st) : ::lstat(dir.c_str(), &st)) != 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) return DirState::Absent;
    *fault = dir + " cannot be checked: " + std::generic_category().message(error);
    return DirState::Unsafe;
  }
  if (S_ISLNK(st.st_mode)) {
    *fault = dir + " is a symbolic link";
  } else if (!S_ISDIR(st.st_mode)) {
    *fault = dir + " is not a directory";
  } else if (st.st_uid != ::geteuid()) {
    *fault = dir + " belongs to another account (uid " + std::to_string(st.st_uid) + ")";
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *fault = dir + " is writable by others (mode " + mode + ")";
  } else {
    return DirState::Private;
  }
  return DirState::Unsafe;
}

}  // namespace

std::string PortAliasDir() {
  if (const char *dir = MapDir()) return dir;
  if (const char *run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run != '\0') {
    return std::string(run) + "/fiscal-com";
  }
  return "/tmp/fiscal-com-" + std::to_string(::getuid());
}

std::string PortAliasDirFault() {
  std::string fault;
  Inspect(PortAliasDir(), MapDir() != nullptr, &fault);
  return fault;
}

std::string ResolvePortName(std::string_view name, std::string *refusal) {
  if (refusal != nullptr) refusal->clear();
  if (name.find('/') != std::string_view::npos) return std::string(name);
  const std::optional<unsigned> n = ComPortNumber(name);
  if (!n) return std::string(name);

  const bool mapped = MapDir() != nullptr;
  const std::string dir = PortAliasDir();
  const std::string alias = dir + "/COM" + std::to_string(*n);
  // The entry is looked at before its directory, so that an entry made in between is judged
  // with the directory it was made in; a directory found private can be changed by nobody else
  // (nor renamed in sticky /tmp) until the port is opened.
  // lstat: a dangling alias is still the user's choice, and opening it reports the port missing.
  struct stat st {};
  const bool entry = ::lstat(alias.c_str(), &st) == 0;
  std::string fault;
  const DirState state = Inspect(dir, mapped, &fault);
  if (state == DirState::Unsafe) {
    if (refusal != nullptr) *refusal = std::string(name) + " is refused: " + fault;
    return std::string();
  }
  if (mapped) return alias;  // the directory is the whole map
  if (entry && state == DirState::Private) return alias;
  return "/dev/ttyS" + std::to_string(*n - 1);
}

}  // namespace platform
