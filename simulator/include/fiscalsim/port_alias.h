// The entry "COMn" of the port alias directory (platform::PortAliasDir()), a symbolic link to
// the simulator's pseudo-terminal, so that hosts reach the simulator by a COM name.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace fiscalsim {

class PortAlias {
 public:
  // Makes the alias for `comName` (COMn in any case; the entry is named in upper case),
  // creating the directory with mode 0700 when missing. The directory must then be private, as
  // platform/port_names.h says, or the alias is refused. An alias whose target is gone is
  // replaced; one whose target exists belongs to someone else and is refused. Nothing on
  // failure, with the reason in *error.
  static std::unique_ptr<PortAlias> Create(std::string_view comName, const std::string &target, std::string *error);

  // Removes the alias if it still points to the target.
  ~PortAlias();
  PortAlias(const PortAlias &) = delete;
  PortAlias &operator=(const PortAlias &) = delete;

  const std::string &Path() const { return path_; }

  // Points the alias to a new target (the simulator's port came back under another path), in
  // one step, so that a host never finds the name missing. Refused, with the reason in *error,
  // when the alias no longer leads to the old target: another simulator took the name while
  // ours was gone.
  bool Retarget(const std::string &target, std::string *error);

 private:
  PortAlias(std::string path, std::string target) : path_(std::move(path)), target_(std::move(target)) {}

  std::string path_;
  std::string target_;
};

}  // namespace fiscalsim
