#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/port_names.h"

namespace platform {

std::string PortAliasDir() {
  if (const char *dir = std::getenv("FISCAL_COM_DIR"); dir != nullptr && *dir != '\0') return dir;
  if (const char *run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run != '\0') {
    return std::string(run) + "/fiscal-com";
  }
  return "/tmp/fiscal-com-" + std::to_string(::getuid());
}

std::string ResolvePortName(std::string_view name, std::string *) {
  if (name.find('/') != std::string_view::npos) return std::string(name);
  const std::optional<unsigned> n = ComPortNumber(name);
  if (!n) return std::string(name);

  const std::string alias = PortAliasDir() + "/COM" + std::to_string(*n);
  const char *mapDir = std::getenv("FISCAL_COM_DIR");
  if (mapDir != nullptr && *mapDir != '\0') return alias;  // the directory is the whole map

  struct stat st {};
  // lstat: a dangling alias is still the user's choice, and opening it reports the port missing.
  if (::lstat(alias.c_str(), &st) == 0) return alias;
  return "/dev/ttyS" + std::to_string(*n - 1);
}

}  // namespace platform
