#include "platform/port_names.h"

namespace platform {

// Windows knows its COM ports by name: there is no alias directory and nothing to translate.
std::string PortAliasDir() { return std::string(); }

std::string PortAliasDirFault() { return std::string(); }

std::string ResolvePortName(std::string_view name, std::string *refusal) {
  if (refusal != nullptr) refusal->clear();
  return std::string(name);
}

}  // namespace platform
