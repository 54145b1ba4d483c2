// Port names as users and callers give them ("COM7", "/dev/ttyACM0") turned into the path
// that is opened, the same way in every program of the suite:
//  1. a name containing '/' is a path, used as it is;
//  2. COMn (any case, n >= 1) is the entry "COMn" of the port alias directory when there is one;
//  3. otherwise COMn is /dev/ttyS<n-1>, unless FISCAL_COM_DIR is set: then that directory is the
//     whole map and a COMn without an entry there does not exist.
// The alias directory is $FISCAL_COM_DIR, else $XDG_RUNTIME_DIR/fiscal-com, else
// /tmp/fiscal-com-<uid>.
//
// Whoever can write to the alias directory decides which device a COMn reaches, and so reads
// every frame sent to it. The directory is therefore trusted only when it is private: a
// directory owned by this account (effective uid) with no group or other write bit. The two
// default places must be that directory itself, not a symbolic link to one; $FISCAL_COM_DIR,
// named by the user, may be reached through a link. While something else stands there, every
// COMn is refused (not even /dev/ttyS<n-1> is used); when nothing is there, rule 3 applies.
// Windows has no alias directory: names pass through and are never refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string PortAliasDir();

// Why the alias directory may not be used, as in "/tmp/fiscal-com-1000 belongs to another account
// (uid 1001)"; empty when it is private or does not exist.
std::string PortAliasDirFault();

// n of a name "COMn" (any case, decimal n >= 1 without sign or leading zero); nothing otherwise.
std::optional<unsigned> ComPortNumber(std::string_view name);

// The path to open for a port name; names that are neither paths nor COMn are returned as given.
// A COMn refused because of its alias directory gives an empty string, with the reason in
// *refusal when given ("COM7 is refused: /tmp/fiscal-com-1000 is writable by others (mode 0777)");
// *refusal is cleared otherwise.
std::string ResolvePortName(std::string_view name, std::string *refusal = nullptr);

}  // namespace platform
