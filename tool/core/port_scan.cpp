#include "core/port_scan.h"

#include "platform/port_names.h"

namespace tillwright {

namespace {

std::vector<std::string> Scan(const platform::SerialRoots &roots, bool keepSkipped) {
  std::vector<std::string> names;
  std::vector<std::string> reached;
  for (int port = 1; port <= kLastComPort; ++port) {
    std::string name = "COM" + std::to_string(port);
    std::string path = platform::ResolvePortName(name);
    if (path.empty()) continue;  // its alias directory is not private: the name is refused
    if (platform::SkipSerialPort(path, roots)) {
      if (keepSkipped) names.push_back(std::move(name));
      continue;
    }
    names.push_back(std::move(name));
    reached.push_back(std::move(path));
  }
  for (std::string &path : platform::ExtraSerialPorts(roots, reached))
    if (keepSkipped || !platform::SkipSerialPort(path, roots)) names.push_back(std::move(path));
  return names;
}

}  // namespace

std::vector<std::string> ScanPortNames(const platform::SerialRoots &roots) { return Scan(roots, false); }

std::vector<std::string> ScanPortNamesWithSkipped(const platform::SerialRoots &roots) { return Scan(roots, true); }

std::vector<std::string> ScanPortNames() { return ScanPortNames(platform::SerialRootsFromEnvironment()); }

}  // namespace tillwright
