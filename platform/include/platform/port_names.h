// Port names as users and callers give them ("COM7", "/dev/ttyACM0") turned into the path
// that is opened, the same way in every program of the suite:
//  1. a name containing '/' is a path, used as it is;
//  2. COMn (any case, n >= 1) is the entry "COMn" of the port alias directory when there is one;
//  3. otherwise COMn is /dev/ttyS<n-1>, unless FISCAL_COM_DIR is set: then that directory is the
//     whole map and a COMn without an entry there does not exist.
// The alias directory is $FISCAL_COM_DIR, else $XDG_RUNTIME_DIR/fiscal-com, else
// /tmp/fiscal-com-<uid>.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string PortAliasDir();

// n of a name "COMn" (any case, decimal n >= 1 without sign or leading zero); nothing otherwise.
std::optional<unsigned> ComPortNumber(std::string_view name);

// The path to open for a port name; names that are neither paths nor COMn are returned as given.
std::string ResolvePortName(std::string_view name, std::string *refusal = nullptr);

}  // namespace platform
