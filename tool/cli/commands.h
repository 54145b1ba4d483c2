// tillwright-cli's subcommands: one handler each, and the table the program builds its command
// line from and dispatches through.
#pragma once

#include <memory>
#include <span>

#include "cli/session.h"

namespace CLI {
class App;
}

namespace tillwright::cli {

// One subcommand: its arguments, bound to its own fields when it is defined, and its work.
class Command {
 public:
  virtual ~Command() = default;
  virtual void Define(CLI::App &command, Options &options) = 0;
  virtual int Run(Session &session) = 0;
};

struct CommandEntry {
  const char *parent;  // the group it belongs to ("set"), or nullptr
  const char *name;
  const char *description;
  std::unique_ptr<Command> (*make)();  // nullptr for a group: one of its subcommands is required
};

// In the order --help lists them; a group comes before its subcommands.
std::span<const CommandEntry> Commands();

// `doctor`: the connection diagnosis (doctor.cpp).
std::unique_ptr<Command> MakeDoctor();

}  // namespace tillwright::cli
