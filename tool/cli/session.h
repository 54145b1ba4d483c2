// What every tillwright-cli subcommand shares: the options, the console, the code page, the
// questions to the person, and the one exit status and --json document a run ends with.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/backup_file.h"
#include "cli/console.h"
#include "cli/device.h"
#include "core/code_page.h"
#include "dialogs/prompter.h"

namespace tillwright::cli {

inline constexpr const char *kProgram = "tillwright-cli";

struct Options {
  std::string port;
  bool json = false;
  int codePage = 1251;
  bool yes = false;
  bool reports = false;
  bool dryRun = false;
  bool force = false;
};

// Questions go to the person at the terminal; without one, what was not allowed on the command
// line is declined.
class CliPrompter final : public ui::IPrompter {
 public:
  CliPrompter(Console &console, const Options &options) : console_(console), options_(options) {}

  void Inform(std::string_view text, std::string_view, ui::Icon) override;
  // The report questions of the pre-check: a report is a fiscal act, so --yes does not cover it.
  bool AskOkCancel(std::string_view text, std::string_view, ui::Icon) override;
  bool AskYesNo(std::string_view text, std::string_view, ui::Icon) override;
  void BeginWait() override {}
  void EndWait() override {}
  std::optional<std::string> OpenFile(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> SaveFile(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
  void BeginProgress(std::string_view, int, bool) override {}
  void SetProgress(int, std::string_view text) override;
  bool Stopped() const override { return false; }
  void WaitProgress() override {}
  void EndProgress() override {}
  int Run(ui::Dialog &) override;

  bool Ask(const std::string &question, const char *flag);
  bool Confirm(const std::string &question);

 private:
  Console &console_;
  const Options &options_;
};

class Session {
 public:
  Session(Console &console, const Options &options)
      : console_(console), options_(options), codePage_(options.codePage), prompter_(console, options) {}

  const Options &options() const { return options_; }
  const CodePage &codePage() const { return codePage_; }
  CliPrompter &prompter() { return prompter_; }
  std::ostream &out() { return console_.out; }
  std::ostream &err() { return console_.err; }
  // The command's --json document, printed by Finish.
  nlohmann::json &pending() { return pending_; }

  // Says `text` on standard error and keeps the first failure's text for --json.
  int Fail(int status, const std::string &text);

  // With --json, standard output carries one document whatever happened: the command's own, and
  // for a failure its error and exit status (added to the command's object when it has one).
  void Finish(int status);

  // Opens the port named, or the first that answers.
  int Connect(CliLink &link, const std::string &port);
  int Connect(CliLink &link) { return Connect(link, options_.port); }

  // A command that failed: the device refused it, or stopped answering. The one place that
  // turns the link's state into an exit status.
  int DeviceFailed(const CliLink &link, const std::string &what);

  // A group that could not be read: a failed command, or a value that is none of the group's.
  int ReadFailed(const CliLink &link, Group group, const std::string &unreadable);

  // The outcome of one write as an exit status; `what` names it, `done` says what the device now
  // holds, printed when all of it was written.
  int Outcome(const CliLink &link, Written written, const std::string &what, const std::string &done);

  // What the device now holds, said once it holds it.
  int SayWritten(const std::string &done);

  // Reads the identity and every readable group; progress on standard error.
  int ReadAll(CliLink &link, Backup &backup);

  // A backup file read and checked whole.
  int LoadFile(const std::string &path, Backup &backup);

  // `text` as device bytes for a comma-separated field of at most `max` bytes; nothing, with
  // `status` set, when it cannot be one.
  std::optional<std::string> SeparatedText(const std::string &text, size_t max, const char *what, int &status);

  std::string Utf8(const std::string &bytes) const { return codePage_.ToWidget(bytes); }
  nlohmann::json IdentityJson(const Identity &id) const;
  void PrintJson(const nlohmann::json &value);

 private:
  Console &console_;
  const Options &options_;
  CodePage codePage_;
  CliPrompter prompter_;
  nlohmann::json pending_;
  std::string error_;  // the first failure's text
};

std::string UtcNow();

}  // namespace tillwright::cli
