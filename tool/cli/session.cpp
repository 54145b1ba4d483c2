#include "cli/session.h"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "platform/files.h"

namespace tillwright::cli {

using nlohmann::json;

void CliPrompter::Inform(std::string_view text, std::string_view, ui::Icon) { console_.err << text << "\n"; }

bool CliPrompter::AskOkCancel(std::string_view text, std::string_view, ui::Icon) {
  if (options_.reports) {
    console_.err << text << " Making it (--reports).\n";
    return true;
  }
  return Ask(std::string(text) + " Make it now?", "--reports");
}

bool CliPrompter::AskYesNo(std::string_view text, std::string_view, ui::Icon) { return Ask(std::string(text), "--yes"); }

void CliPrompter::SetProgress(int, std::string_view text) { console_.err << text << "\n"; }

int CliPrompter::Run(ui::Dialog &) { return ui::kResultCancel; }

bool CliPrompter::Ask(const std::string &question, const char *flag) {
  if (!console_.interactive) {
    console_.err << question << " No: nobody to ask (" << flag << " answers yes).\n";
    return false;
  }
  console_.err << question << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(console_.in, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

bool CliPrompter::Confirm(const std::string &question) {
  if (options_.yes) return true;
  return Ask(question, "--yes");
}

std::string UtcNow() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

int Session::Fail(int status, const std::string &text) {
  console_.err << kProgram << ": " << text << "\n";
  if (error_.empty()) error_ = text;
  return status;
}

void Session::Finish(int status) {
  if (!options_.json) return;
  if (pending_.is_array()) {
    PrintJson(pending_);
    return;
  }
  if (status == kExitOk && pending_.is_null()) return;
  json doc = pending_.is_object() ? pending_ : json::object();
  if (status != kExitOk) doc["error"] = error_;
  doc["exit_status"] = status;
  PrintJson(doc);
}

int Session::Connect(CliLink &link, const std::string &port) {
  if (!port.empty()) {
    if (link.Open(port)) return kExitOk;
    if (!link.OpenProblem().empty()) return Fail(kExitNoDevice, link.OpenProblem());
    return Fail(kExitNoDevice, "no device answers on " + port);
  }
  std::string problems;
  for (const std::string &candidate : CandidatePorts()) {
    if (link.Open(candidate)) return kExitOk;
    if (!link.OpenProblem().empty()) problems += (problems.empty() ? " (" : "; ") + link.OpenProblem();
  }
  return Fail(kExitNoDevice, "no device answers on USB or COM1 to COM20" + (problems.empty() ? "" : problems + ")"));
}

int Session::DeviceFailed(const CliLink &link, const std::string &what) {
  if (link.Lost()) return Fail(kExitNoDevice, "the device stopped answering (" + what + ")");
  return Fail(kExitRefused, "the device refused " + what);
}

int Session::ReadFailed(const CliLink &link, Group group, const std::string &unreadable) {
  if (!unreadable.empty())
    return Fail(kExitRefused, std::string("the device's ") + GroupName(group) + " cannot be read: " + unreadable);
  return DeviceFailed(link, std::string("the reading of ") + GroupName(group));
}

int Session::Outcome(const CliLink &link, Written written, const std::string &what, const std::string &done) {
  switch (written) {
    case Written::All: return SayWritten(done);
    case Written::Declined: return Fail(kExitDeclined, what + " not written: a report the device needs first was declined");
    case Written::Part: return Fail(kExitPartial, what + ": only part written");
    case Written::None: break;
  }
  return DeviceFailed(link, what);
}

int Session::SayWritten(const std::string &done) {
  if (options_.json) pending_ = {{"written", done}};
  else console_.out << "written: " << done << "\n";
  return kExitOk;
}

int Session::ReadAll(CliLink &link, Backup &backup) {
  backup.taken = UtcNow();
  if (!ReadIdentity(link, backup.device)) return DeviceFailed(link, "its identity (command 90)");
  for (const Group group : kBackupGroups) {
    console_.err << "reading " << GroupName(group) << "\n";
    std::string unreadable;
    if (!ReadGroup(link, group, backup, &unreadable)) return ReadFailed(link, group, unreadable);
  }
  return kExitOk;
}

int Session::LoadFile(const std::string &path, Backup &backup) {
  std::string error;
  const auto file = platform::OpenRegularFile(path, &error);
  if (!file) return Fail(kExitBadFile, error);
  std::string text(kBackupFileMax + 1, '\0');
  file->read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file->bad()) return Fail(kExitBadFile, "cannot read " + path);
  text.resize(static_cast<size_t>(file->gcount()));
  if (!ParseBackup(text, codePage_, backup, error)) return Fail(kExitBadFile, path + " is refused: " + error);
  return kExitOk;
}

std::optional<std::string> Session::SeparatedText(const std::string &text, size_t max, const char *what, int &status) {
  const std::string bytes = codePage_.ToDevice(text);
  status = kExitOk;
  if (codePage_.ToWidget(bytes) != text) status = Fail(kExitUsage, std::string(what) + " has characters the device's code page lacks");
  else if (bytes.size() > max) status = Fail(kExitUsage, std::string(what) + " is longer than " + std::to_string(max) + " characters");
  else if (bytes.find(',') != std::string::npos) status = Fail(kExitUsage, std::string(what) + " must not hold a comma: the device would take it for the end of the field");
  if (status != kExitOk) return std::nullopt;
  return bytes;
}

json Session::IdentityJson(const Identity &id) const {
  return {{"model", Utf8(id.model)},
          {"firmware", Utf8(id.firmware)},
          {"firmware_date", Utf8(id.firmwareDate)},
          {"serial_number", Utf8(id.serialNumber)},
          {"fiscal_memory_number", Utf8(id.fiscalMemoryNumber)}};
}

void Session::PrintJson(const json &value) { console_.out << value.dump(2, ' ', false, json::error_handler_t::replace) << "\n"; }

}  // namespace tillwright::cli
