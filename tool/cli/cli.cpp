#include "cli/cli.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <utility>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/session.h"
#include "fiscal_version.h"

namespace tillwright::cli {
namespace {

constexpr const char *kExitText =
    "Exit status:\n"
    "  0  success\n"
    "  1  bad arguments, or a group that cannot be read\n"
    "  2  no device answers, or it stopped answering\n"
    "  3  the device refused a command, or gave a value that cannot be read\n"
    "  4  a file that cannot be read or written, or is no sound backup\n"
    "  5  partial write: a restore, code table or logo that wrote some parts and not others (named on standard error)\n"
    "  6  declined: a question answered no, or none asked without --yes\n";

}  // namespace

int Run(const std::vector<std::string> &args, Console &console) {
  CLI::App app{"tillwright-cli: servicing, settings backup, restore and clone of fiscal devices, over USB or a "
               "serial port, as the tillwright service tool reaches them.",
               kProgram};
  app.set_version_flag("--version", std::string(kProgram) + " " + FISCAL_SUITE_VERSION);
  // Subcommands take the footer they find when made: theirs points here, the table is given once.
  app.footer("Exit statuses: see tillwright-cli --help.");
  app.fallthrough();
  app.require_subcommand(1);
  Options options;
  app.add_option("--port", options.port, "USB, COMn or a device path; without it USB, then the Connect scan's ports are tried");
  app.add_flag("--json", options.json, "output as JSON for scripts");
  app.add_option("--codepage", options.codePage, "the device's code page for texts: 1251 (Cyrillic) or 1250")
      ->check(CLI::IsMember({1250, 1251}));
  app.add_flag("-y,--yes", options.yes, "answer yes to the question before a restore writes");
  app.add_flag("--reports", options.reports,
               "make the daily Z, operator or PLU report a change needs first without asking");

  std::map<std::string, CLI::App *> groups;
  std::vector<std::pair<CLI::App *, std::unique_ptr<Command>>> commands;
  for (const CommandEntry &entry : Commands()) {
    CLI::App &parent = entry.parent != nullptr ? *groups.at(entry.parent) : app;
    CLI::App *sub = parent.add_subcommand(entry.name, entry.description);
    if (entry.make == nullptr) {
      sub->require_subcommand(1);
      groups[entry.name] = sub;
      continue;
    }
    auto command = entry.make();
    command->Define(*sub, options);
    commands.emplace_back(sub, std::move(command));
  }
  app.footer(kExitText);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::Success &e) {
    return app.exit(e, console.out, console.err);
  } catch (const CLI::ParseError &e) {
    app.exit(e, console.out, console.err);
    return kExitUsage;
  }

  Session session(console, options);
  int status = kExitUsage;
  const auto parsed = std::find_if(commands.begin(), commands.end(), [](const auto &c) { return c.first->parsed(); });
  if (parsed != commands.end()) status = parsed->second->Run(session);
  else status = session.Fail(kExitUsage, "no command");
  session.Finish(status);
  return status;
}

}  // namespace tillwright::cli
