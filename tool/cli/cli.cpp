#include "cli/cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/backup_file.h"
#include "cli/device.h"
#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/local_time.h"
#include "dialogs/dialog.h"
#include "fiscal_version.h"
#include "framecodec/frame.h"
#include "platform/files.h"
#include "programming/logo_bitmap.h"
#include "programming/report_precheck.h"

namespace tillwright::cli {
namespace {

using nlohmann::json;

constexpr const char *kProgram = "tillwright-cli";
constexpr size_t kMaxRequestData = framecodec::kMaxRequestData;
constexpr const char *kSetOnly[] = {"operators", "codetable", "logo"};

constexpr const char *kExitText =
    "Exit status:\n"
    "  0  success\n"
    "  1  bad arguments, or a group that cannot be read\n"
    "  2  no device answers, or it stopped answering\n"
    "  3  the device refused a command, or gave a value that cannot be read\n"
    "  4  a file that cannot be read or written, or is no sound backup\n"
    "  5  partial write: a restore, code table or logo that wrote some parts and not others (named on standard error)\n"
    "  6  declined: a question answered no, or none asked without --yes\n";

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

  void Inform(std::string_view text, std::string_view, ui::Icon) override { console_.err << text << "\n"; }
  // The report questions of the pre-check: a report is a fiscal act, so --yes does not cover it.
  bool AskOkCancel(std::string_view text, std::string_view, ui::Icon) override {
    if (options_.reports) {
      console_.err << text << " Making it (--reports).\n";
      return true;
    }
    return Ask(std::string(text) + " Make it now?", "--reports");
  }
  bool AskYesNo(std::string_view text, std::string_view, ui::Icon) override { return Ask(std::string(text), "--yes"); }
  void BeginWait() override {}
  void EndWait() override {}
  std::optional<std::string> OpenFile(std::string_view, std::string_view) override { return std::nullopt; }
  void BeginProgress(std::string_view, int, bool) override {}
  void SetProgress(int, std::string_view text) override { console_.err << text << "\n"; }
  bool Stopped() const override { return false; }
  void WaitProgress() override {}
  void EndProgress() override {}
  int Run(ui::Dialog &) override { return ui::kResultCancel; }

  bool Ask(const std::string &question, const char *flag) {
    if (!console_.interactive) {
      console_.err << question << " No: nobody to ask (" << flag << " answers yes).\n";
      return false;
    }
    console_.err << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(console_.in, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
  }

  bool Confirm(const std::string &question) {
    if (options_.yes) return true;
    return Ask(question, "--yes");
  }

 private:
  Console &console_;
  const Options &options_;
};

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

class Program {
 public:
  Program(Console &console, const Options &options)
      : console_(console), options_(options), codePage_(options.codePage), prompter_(console, options) {}

  int Fail(int status, const std::string &text) {
    console_.err << kProgram << ": " << text << "\n";
    if (error_.empty()) error_ = text;
    return status;
  }

  // With --json, standard output carries one document whatever happened: the command's own, and
  // for a failure its error and exit status (added to the command's object when it has one).
  void Finish(int status) {
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

  // Opens the port named, or the first that answers.
  int Connect(CliLink &link, const std::string &port) {
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

  // A command that failed: the device refused it, or stopped answering. The one place that
  // turns the link's state into an exit status.
  int DeviceFailed(const CliLink &link, const std::string &what) {
    if (link.Lost()) return Fail(kExitNoDevice, "the device stopped answering (" + what + ")");
    return Fail(kExitRefused, "the device refused " + what);
  }

  // A group that could not be read: a failed command, or a value that is none of the group's.
  int ReadFailed(const CliLink &link, Group group, const std::string &unreadable) {
    if (!unreadable.empty())
      return Fail(kExitRefused, std::string("the device's ") + GroupName(group) + " cannot be read: " + unreadable);
    return DeviceFailed(link, std::string("the reading of ") + GroupName(group));
  }

  std::string Utf8(const std::string &bytes) const { return codePage_.ToWidget(bytes); }

  json IdentityJson(const Identity &id) const {
    return {{"model", Utf8(id.model)},
            {"firmware", Utf8(id.firmware)},
            {"firmware_date", Utf8(id.firmwareDate)},
            {"serial_number", Utf8(id.serialNumber)},
            {"fiscal_memory_number", Utf8(id.fiscalMemoryNumber)}};
  }

  void PrintJson(const json &value) { console_.out << value.dump(2, ' ', false, json::error_handler_t::replace) << "\n"; }

  int Ports() {
    json found = json::array();
    size_t count = 0;
    for (const std::string &port : CandidatePorts()) {
      CliLink link;
      if (!link.Open(port)) continue;
      ++count;
      Identity id;
      const bool known = ReadIdentity(link, id);
      const std::string via = link.Usb() ? "USB (vrn_interface)" : "serial link";
      if (options_.json) {
        json entry = {{"port", port}, {"link", link.Usb() ? "usb" : "serial"}};
        if (known) entry["device"] = IdentityJson(id);
        found.push_back(entry);
      } else if (known) {
        console_.out << port << ": " << Utf8(id.model) << ", firmware " << Utf8(id.firmware) << " ("
                     << Utf8(id.firmwareDate) << "), serial number " << Utf8(id.serialNumber) << ", over " << via
                     << "\n";
      } else {
        console_.out << port << ": a device answers but gives no identity, over " << via << "\n";
      }
    }
    if (options_.json) pending_ = found;
    return count != 0 ? kExitOk : Fail(kExitNoDevice, "no device answers on USB or COM1 to COM20");
  }

  int Send(int code, const std::string &data) {
    std::string request = codePage_.ToDevice(data);
    if (codePage_.ToWidget(request) != data) return Fail(kExitUsage, "the data has characters the device's code page lacks");
    if (request.size() > kMaxRequestData)
      return Fail(kExitUsage, "the data is " + std::to_string(request.size()) + " bytes; one command carries " +
                                  std::to_string(kMaxRequestData) + " at most: nothing sent");
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    std::string reply;
    const int result = link.SendCommand(reply, request, static_cast<uint16_t>(code));
    const auto bytes = link.LastStatusBytes();
    std::string hex;
    if (bytes) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      for (const uint8_t b : *bytes) {
        if (!hex.empty()) hex += ' ';
        hex += kHex[b >> 4];
        hex += kHex[b & 0xF];
      }
    }
    const std::string status = link.LastStatus();
    if (options_.json) {
      pending_ = {{"code", code}, {"ok", result == 0}, {"reply", Utf8(reply)}, {"status_bytes", hex}, {"status", status}};
    } else {
      console_.out << "reply:  " << Utf8(reply) << "\n";
      console_.out << "status: " << (hex.empty() ? "(none)" : hex) << "\n";
      console_.out << "status text: " << (status.empty() ? "(none)" : status) << "\n";
    }
    if (result == 0) return kExitOk;
    return DeviceFailed(link, "command " + std::to_string(code));
  }

  // Reads the identity and every readable group; progress on standard error.
  int ReadAll(CliLink &link, Backup &backup) {
    backup.taken = UtcNow();
    if (!ReadIdentity(link, backup.device)) return DeviceFailed(link, "its identity (command 90)");
    for (const Group group : kBackupGroups) {
      console_.err << "reading " << GroupName(group) << "\n";
      std::string unreadable;
      if (!ReadGroup(link, group, backup, &unreadable)) return ReadFailed(link, group, unreadable);
    }
    return kExitOk;
  }

  int Get(const std::string &name) {
    for (const char *setOnly : kSetOnly) {
      if (name == setOnly)
        return Fail(kExitUsage, "the device gives no " + name + " back: they can only be set (tillwright-cli set " + name + " ...)");
    }
    const auto group = GroupByName(name);
    if (!group) return Fail(kExitUsage, "no group " + name);
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    Backup backup;
    std::string unreadable;
    if (!ReadGroup(link, *group, backup, &unreadable)) return ReadFailed(link, *group, unreadable);
    const json doc = json::parse(BackupToJson(backup, codePage_));
    const json &value = doc["groups"][name];
    if (options_.json) {
      PrintJson(value);
      return kExitOk;
    }
    switch (*group) {
      case Group::Header:
        for (size_t i = 0; i < kTextLines; ++i)
          console_.out << (i < kHeaderTextLines ? "header " : "advertisement ") << i << ": "
                       << value["lines"][i].get<std::string>() << "\n";
        break;
      case Group::Vat: {
        static constexpr const char *kNames[] = {"A", "B", "C", "D", "PnP"};
        for (size_t g = 0; g < kTaxGroups; ++g) console_.out << kNames[g] << ": " << VatText(backup.vat->rates[g]) << "\n";
        break;
      }
      case Group::DateTime:
        console_.out << *backup.dateTime << "\n";
        break;
      case Group::TcpIp:
        console_.out << "dhcp: " << (backup.tcpIp->dhcp ? "on" : "off") << "\n";
        for (const char *key : {"address", "mask", "gateway", "dns1", "dns2"})
          console_.out << key << ": " << value[key].get<std::string>() << "\n";
        break;
      case Group::Gprs:
        console_.out << "apn: " << value["apn"].get<std::string>() << "\nuser: " << value["user"].get<std::string>() << "\n";
        break;
    }
    return kExitOk;
  }

  // The outcome of one write as an exit status; `what` names it, `done` says what the device now
  // holds, printed when all of it was written.
  int Outcome(const CliLink &link, Written written, const std::string &what, const std::string &done) {
    switch (written) {
      case Written::All: return SayWritten(done);
      case Written::Declined: return Fail(kExitDeclined, what + " not written: a report the device needs first was declined");
      case Written::Part: return Fail(kExitPartial, what + ": only part written");
      case Written::None: break;
    }
    return DeviceFailed(link, what);
  }

  // What the device now holds, said once it holds it.
  int SayWritten(const std::string &done) {
    if (options_.json) pending_ = {{"written", done}};
    else console_.out << "written: " << done << "\n";
    return kExitOk;
  }

  int MakeBackup(const std::string &path) {
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    Backup backup;
    if (const int status = ReadAll(link, backup); status != kExitOk) return status;
    const std::string text = BackupToJson(backup, codePage_);
    // What restore would refuse is no backup: read back through the same reader first.
    Backup check;
    std::string error;
    if (!ParseBackup(text, codePage_, check, error))
      return Fail(kExitBadFile, "the device's settings make no sound backup (" + error + "): nothing written");
    if (path == "-") {
      console_.out << text;
      return kExitOk;
    }
    if (!platform::WriteFileAtomically(path, text, &error)) return Fail(kExitBadFile, error + ": " + path + " not written");
    if (!options_.json) console_.out << "backup of " << Utf8(backup.device.serialNumber) << " written to " << path << "\n";
    else PrintJson({{"file", path}, {"device", IdentityJson(backup.device)}, {"taken", backup.taken}});
    return kExitOk;
  }

  int LoadFile(const std::string &path, Backup &backup) {
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

  // Writes what differs between `file` and the device on `link`. `clone` skips the question about
  // another serial number, which a clone always has.
  int Restore(CliLink &link, const Backup &file, bool clone) {
    Backup device;
    if (!ReadIdentity(link, device.device)) return DeviceFailed(link, "its identity (command 90)");
    std::vector<std::string> mismatch;
    if (device.device.model != file.device.model)
      mismatch.push_back("model " + Utf8(file.device.model) + " in the backup, " + Utf8(device.device.model) + " here");
    if (!clone && device.device.serialNumber != file.device.serialNumber)
      mismatch.push_back("serial number " + Utf8(file.device.serialNumber) + " in the backup, " +
                         Utf8(device.device.serialNumber) + " here");
    if (!mismatch.empty() && !options_.force) {
      std::string question = "Another device:";
      for (const auto &m : mismatch) question += " " + m + ";";
      question += " restore onto it anyway?";
      if (!prompter_.Ask(question, "--force")) return Fail(kExitDeclined, "declined: another device (--force restores anyway)");
    }
    for (const Group group : kBackupGroups) {
      if (group == Group::DateTime || !file.Has(group)) continue;
      console_.err << "reading " << GroupName(group) << "\n";
      std::string unreadable;
      if (!ReadGroup(link, group, device, &unreadable)) return ReadFailed(link, group, unreadable);
    }
    const auto differences = Differences(file, device, codePage_);
    if (options_.json) {
      json list = json::array();
      for (const auto &d : differences)
        list.push_back({{"group", GroupName(d.group)}, {"field", d.field}, {"device", d.device}, {"backup", d.file}});
      pending_ = {{"differences", list}, {"dry_run", options_.dryRun}, {"written", json::array()}};
    } else if (differences.empty()) {
      console_.out << "the device already holds what the backup holds: nothing to write\n";
    } else {
      for (const auto &d : differences)
        console_.out << GroupName(d.group) << " " << d.field << ": \"" << d.device << "\" -> \"" << d.file << "\"\n";
    }
    if (file.dateTime) console_.err << "the clock is not restored (tillwright-cli set datetime now sets it)\n";
    if (differences.empty() || options_.dryRun) return kExitOk;

    std::vector<Group> groups;
    for (const auto &d : differences)
      if (std::find(groups.begin(), groups.end(), d.group) == groups.end()) groups.push_back(d.group);
    if (!prompter_.Confirm("Write " + std::to_string(groups.size()) + " group(s) to the device?"))
      return Fail(kExitDeclined, "declined: nothing written");

    std::vector<std::string> written;
    for (const Group group : groups) {
      console_.err << "writing " << GroupName(group) << "\n";
      Written result = Written::None;
      std::vector<size_t> lines;
      switch (group) {
        case Group::Header:
          result = WriteHeaderLines(link, prompter_, *file.header, ChangedLines(file, device), &lines);
          break;
        case Group::Vat: result = WriteVat(link, prompter_, *file.vat); break;
        case Group::TcpIp: result = WriteTcpIp(link, *file.tcpIp); break;
        case Group::Gprs: result = WriteGprs(link, *file.gprs, std::nullopt); break;
        case Group::DateTime: result = Written::All; break;
      }
      if (result == Written::All) {
        written.push_back(GroupName(group));
        if (pending_.is_object()) pending_["written"].push_back(GroupName(group));
        continue;
      }
      if (result == Written::Part) {
        std::string part = "header (line";
        part += lines.size() == 1 ? " " : "s ";
        for (size_t i = 0; i < lines.size(); ++i) part += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
        written.push_back(part + ")");
        if (pending_.is_object()) pending_["written"].push_back(written.back());
      }
      std::string done = "nothing";
      if (!written.empty()) {
        done.clear();
        for (const auto &w : written) done += (done.empty() ? "" : ", ") + w;
      }
      const std::string why = result == Written::Declined ? "a report it needs first was declined"
                              : link.Lost()                ? "the device stopped answering"
                                                           : "the device refused it";
      if (written.empty()) {
        const int status = result == Written::Declined ? kExitDeclined : link.Lost() ? kExitNoDevice : kExitRefused;
        return Fail(status, std::string(GroupName(group)) + " not written (" + why + "); nothing written");
      }
      return Fail(kExitPartial, std::string("partial restore: ") + GroupName(group) + " failed (" + why +
                                    "); written: " + done);
    }
    if (!options_.json) console_.out << "restored: " << written.size() << " group(s)\n";
    return kExitOk;
  }

  int RestoreFile(const std::string &path) {
    Backup file;
    if (const int status = LoadFile(path, file); status != kExitOk) return status;
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    return Restore(link, file, false);
  }

  int Clone(const std::string &from, const std::string &to) {
    Backup backup;
    {
      CliLink source;
      if (const int status = Connect(source, from); status != kExitOk) return status;
      if (const int status = ReadAll(source, backup); status != kExitOk) return status;
    }
    CliLink target;
    if (const int status = Connect(target, to); status != kExitOk) return status;
    return Restore(target, backup, true);
  }

  // set GROUP ...: one group written from the command line.
  int SetHeader(int line, const std::string &text) {
    const std::string bytes = codePage_.ToDevice(text);
    if (codePage_.ToWidget(bytes) != text) return Fail(kExitUsage, "the text has characters the device's code page lacks");
    if (bytes.size() > kTextLineMax) return Fail(kExitUsage, "a line holds " + std::to_string(kTextLineMax) + " characters at most");
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    std::array<std::string, kTextLines> header;
    header[static_cast<size_t>(line)] = bytes;
    return Outcome(link, WriteHeaderLines(link, prompter_, header, {static_cast<size_t>(line)}), "the line",
                   "line " + std::to_string(line) + " \"" + text + "\"");
  }

  int SetVat(const std::vector<std::string> &texts) {
    VatRates vat;
    for (size_t g = 0; g < kTaxGroups; ++g) {
      const std::string &t = texts[g];
      if (t == "-" || t == "undefined") continue;
      vat.rates[g] = ParseRate(t);
      if (!vat.rates[g])
        return Fail(kExitUsage, "a rate is a decimal number from 0 to 99.99 with two decimals at most, or - (undefined), not " + t);
    }
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    std::string done = "VAT rates";
    for (size_t g = 0; g < kTaxGroups; ++g) done += " " + VatText(vat.rates[g]);
    return Outcome(link, WriteVat(link, prompter_, vat), "the rates", done);
  }

  int SetDateTime(const std::string &value) {
    std::string text = value;
    if (value == "now") {
      text = DeviceDateTimeText(LocalTime(std::time(nullptr)));
    } else if (!IsDeviceTimeText(value)) {
      return Fail(kExitUsage, "the date and time is \"now\" or DD-MM-YY HH:MM:SS");
    }
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    std::string reply;
    return Outcome(link, link.SendCommand(reply, text, cmd::kSetDateTime) == 0 ? Written::All : Written::None,
                   "the date and time " + text, "the date and time " + text);
  }

  int SetTcpIp(const std::vector<std::string> &values) {
    TcpIpSettings settings;
    if (values.size() == 1 && values[0] == "dhcp") {
      settings.dhcp = true;
    } else if (values.size() == 5) {
      for (size_t i = 0; i < 5; ++i) {
        const auto address = ParseDottedAddress(values[i]);
        if (!address) return Fail(kExitUsage, "not a dotted address: " + values[i]);
        settings.addresses[i] = *address;
      }
    } else {
      return Fail(kExitUsage, "set tcpip takes dhcp, or ADDRESS MASK GATEWAY DNS1 DNS2");
    }
    CliLink link;
    if (const int status = Connect(link, options_.port); status != kExitOk) return status;
    if (settings.dhcp) {
      // The addresses the device holds stay; only the mode changes. Without them, nothing is
      // written: zeros would wipe the device's network settings.
      Backup current;
      if (!ReadGroup(link, Group::TcpIp, current)) return DeviceFailed(link, "the reading of tcpip: nothing written");
      settings.addresses = current.tcpIp->addresses;
      settings.dhcp = true;
    }
    std::string done = settings.dhcp ? "TCP/IP settings: DHCP" : "TCP/IP settings:";
    if (!settings.dhcp)
      for (const uint32_t address : settings.addresses) done += " " + DottedAddress(address);
    return Outcome(link, WriteTcpIp(link, settings), "the TCP/IP settings", done);
  }

  std::optional<std::string> SeparatedText(const std::string &text, size_t max, const char *what, int &status) {
    const std::string bytes = codePage_.ToDevice(text);
    status = kExitOk;
    if (codePage_.ToWidget(bytes) != text) status = Fail(kExitUsage, std::string(what) + " has characters the device's code page lacks");
    else if (bytes.size() > max) status = Fail(kExitUsage, std::string(what) + " is longer than " + std::to_string(max) + " characters");
    else if (bytes.find(',') != std::string::npos) status = Fail(kExitUsage, std::string(what) + " must not hold a comma: the device would take it for the end of the field");
    if (status != kExitOk) return std::nullopt;
    return bytes;
  }

  int SetGprs(const std::string &apn, const std::string &user, const std::optional<std::string> &password) {
    int status = kExitOk;
    const auto a = SeparatedText(apn, kGprsTextMax, "the access point", status);
    if (!a) return status;
    const auto u = SeparatedText(user, kGprsTextMax, "the user", status);
    if (!u) return status;
    std::optional<std::string> p;
    if (password) {
      p = SeparatedText(*password, kGprsTextMax, "the password", status);
      if (!p) return status;
    }
    CliLink link;
    if (const int s = Connect(link, options_.port); s != kExitOk) return s;
    return Outcome(link, WriteGprs(link, GprsSettings{*a, *u}, p), "the GPRS settings",
                   "GPRS access point \"" + apn + "\", user \"" + user + "\"" + (p ? " and a new password" : ""));
  }

  int SetOperator(int number, const std::string &name, const std::string &password, const std::string &idNumber) {
    int status = kExitOk;
    const auto n = SeparatedText(name, kGprsTextMax, "the name", status);
    if (!n) return status;
    const auto p = SeparatedText(password, kGprsTextMax, "the password", status);
    if (!p) return status;
    const auto id = SeparatedText(idNumber, kOperatorIdNumberMax, "the identification number", status);
    if (!id) return status;
    CliLink link;
    if (const int s = Connect(link, options_.port); s != kExitOk) return s;
    const std::string done = "operator " + std::to_string(number) + " \"" + name + "\" with its password";
    if (!ReportPreCheck(link, prompter_)) return Outcome(link, Written::Declined, "the operator", done);
    std::string reply;
    std::string data = OperatorNameData(number, *p, *n, *id);
    return Outcome(link, link.SendCommand(reply, data, cmd::kClerkName) == 0 ? Written::All : Written::None, "the operator",
                   done);
  }

  int SetCodeTable(const std::string &name) {
    const int codePage = name == "win1251" ? kCodePageWin1251 : kCodePageDos;
    CliLink link;
    if (const int s = Connect(link, options_.port); s != kExitOk) return s;
    size_t sent = 0;
    for (const std::string &block : CodeTableBlocks(codePage)) {
      std::string data = block;
      std::string reply;
      if (link.SendCommand(reply, data, cmd::kCodeTable) != 0) {
        if (sent == 0) return DeviceFailed(link, "the code table: nothing written");
        return Fail(kExitPartial, std::string(link.Lost() ? "the device stopped answering at" : "the device refused") +
                                      " block " + std::to_string(sent + 1) + " of 4; blocks 1 to " +
                                      std::to_string(sent) + " are written; sending the table again repairs it");
      }
      ++sent;
    }
    return SayWritten("code table " + name + " (4 blocks)");
  }

  int SetLogo(const std::string &path) {
    LogoBitmap::Error error = LogoBitmap::Error::None;
    std::string why;
    auto bitmap = LogoBitmap::Open(path, &error, &why);
    if (!bitmap)
      return Fail(kExitBadFile, error == LogoBitmap::Error::CannotOpen
                                    ? why
                                    : path + " is no monochrome bitmap without compression");
    CliLink link;
    if (const int s = Connect(link, options_.port); s != kExitOk) return s;
    std::string reply;
    std::string request;
    if (link.SendCommand(reply, request, cmd::kLogoLimits) != 0) return DeviceFailed(link, "the logo size (command 128)");
    LogoLimits limits;
    ReadLogoLimits(reply, limits);
    const LogoPlan plan = bitmap->PlanFor(limits);
    if (plan.rows == 0 || plan.rowBytes == 0) return Fail(kExitRefused, "the device takes no logo of this size");
    if (plan.croppedByDevice || plan.croppedByFrame)
      console_.err << "the picture is cropped to " << plan.dots << " x " << plan.rows << " dots\n";
    std::vector<uint8_t> row;
    const auto sentBefore = [](size_t r) {
      return r == 1 ? std::string("row 1 is") : "rows 1 to " + std::to_string(r) + " are";
    };
    for (size_t r = 0; r < plan.rows; ++r) {
      if (!bitmap->ReadRow(r, plan.rowBytes, row)) {
        if (r == 0) return Fail(kExitBadFile, "cannot read " + path + ": nothing sent");
        console_.err << "\n";
        return Fail(kExitPartial, "cannot read row " + std::to_string(r + 1) + " of " + path +
                                      " (the file changed while it was sent); " + sentBefore(r) + " in the device");
      }
      std::string data = LogoRowData(r, row);
      if (link.SendCommand(reply, data, cmd::kLogoRow) != 0) {
        if (r == 0) return DeviceFailed(link, "row 1 of the logo: nothing written");
        console_.err << "\n";
        return Fail(kExitPartial, std::string(link.Lost() ? "the device stopped answering at" : "the device refused") +
                                      " row " + std::to_string(r + 1) + "; " + sentBefore(r) + " in the device");
      }
      console_.err << "\rrow " << r + 1 << " of " << plan.rows << std::flush;
    }
    console_.err << "\n";
    return SayWritten("logo of " + std::to_string(plan.dots) + " x " + std::to_string(plan.rows) + " dots");
  }

 private:
  Console &console_;
  const Options &options_;
  CodePage codePage_;
  CliPrompter prompter_;
  nlohmann::json pending_;  // the command's --json document, printed by Finish
  std::string error_;       // the first failure's text
};

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

  auto *ports = app.add_subcommand("ports", "where a device answers, its identity and the link");

  int code = 0;
  std::string data;
  auto *send = app.add_subcommand("send", "one raw command: its reply, status bytes and status text");
  send->add_option("CODE", code, "command code, 0 to 255")->required()->check(CLI::Range(0, 255));
  send->add_option("DATA", data, "request data (text in the device's code page)");

  std::string groupName;
  auto *get = app.add_subcommand("get", "read one settings group: header, vat, datetime, tcpip, gprs");
  get->add_option("GROUP", groupName, "header, vat, datetime, tcpip or gprs")->required();

  auto *set = app.add_subcommand("set", "write one settings group");
  set->require_subcommand(1);
  int line = 0;
  std::string text;
  auto *setHeader = set->add_subcommand("header", "one header (0-7) or advertisement (8, 9) line");
  setHeader->add_option("LINE", line, "0 to 9")->required()->check(CLI::Range(0, 9));
  setHeader->add_option("TEXT", text, "the text; empty clears the line")->required();
  std::vector<std::string> rates;
  auto *setVat = set->add_subcommand("vat", "the five VAT rates A B C D PnP (- for undefined)");
  setVat->add_option("RATES", rates, "five rates, 0 to 99.99 or -")->required()->expected(5);
  std::string when;
  auto *setDateTime = set->add_subcommand("datetime", "the device's clock: now, or \"DD-MM-YY HH:MM:SS\"");
  setDateTime->add_option("WHEN", when, "now or DD-MM-YY HH:MM:SS")->required();
  std::vector<std::string> addresses;
  auto *setTcpIp = set->add_subcommand("tcpip", "dhcp, or ADDRESS MASK GATEWAY DNS1 DNS2");
  setTcpIp->add_option("VALUES", addresses, "dhcp or five dotted addresses")->required();
  std::string apn, user;
  std::optional<std::string> gprsPassword;
  auto *setGprs = set->add_subcommand("gprs", "access point and user (the password stays unless given)");
  setGprs->add_option("APN", apn, "the access point name")->required();
  setGprs->add_option("USER", user, "the user name")->required();
  setGprs->add_option("--password", gprsPassword, "a new password");
  int number = 0;
  std::string name, operatorPassword, idNumber;
  auto *setOperator = set->add_subcommand("operators", "one operator's name, password and identification number");
  setOperator->add_option("NUMBER", number, "the operator's number")->required()->check(CLI::Range(0, 99));
  setOperator->add_option("NAME", name, "the operator's name")->required();
  setOperator->add_option("--password", operatorPassword, "the operator's password")->required();
  setOperator->add_option("--id", idNumber, "identification number, 11 characters at most");
  std::string table;
  auto *setCodeTable = set->add_subcommand("codetable", "the code page the device takes texts in: win1251 or dos");
  setCodeTable->add_option("TABLE", table, "win1251 or dos")->required()->check(CLI::IsMember({"win1251", "dos"}));
  std::string logoFile;
  auto *setLogo = set->add_subcommand("logo", "upload a one-bit uncompressed BMP as the receipt logo");
  setLogo->add_option("FILE", logoFile, "the bitmap file")->required();

  std::string file;
  auto *backup = app.add_subcommand("backup", "every readable setting into one JSON file (- for standard output)");
  backup->add_option("FILE", file, "the file to write (kept whole: written beside it, then renamed), or -")->required();
  auto *restore = app.add_subcommand("restore", "show what differs from a backup and write only that");
  restore->add_option("FILE", file, "a backup file that tillwright-cli backup wrote")->required();
  restore->add_flag("--dry-run", options.dryRun, "show the differences, write nothing");
  restore->add_flag("--force", options.force, "restore onto another model or serial number without asking");
  std::string from, to;
  auto *clone = app.add_subcommand("clone", "copy the settings of one device onto another");
  clone->add_option("--from", from, "the source's port")->required();
  clone->add_option("--to", to, "the target's port")->required();
  clone->add_flag("--dry-run", options.dryRun, "show the differences, write nothing");
  clone->add_flag("--force", options.force, "clone onto another model without asking");
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

  Program program(console, options);
  const auto run = [&] {
    if (ports->parsed()) return program.Ports();
    if (send->parsed()) return program.Send(code, data);
    if (get->parsed()) return program.Get(groupName);
    if (setHeader->parsed()) return program.SetHeader(line, text);
    if (setVat->parsed()) return program.SetVat(rates);
    if (setDateTime->parsed()) return program.SetDateTime(when);
    if (setTcpIp->parsed()) return program.SetTcpIp(addresses);
    if (setGprs->parsed()) return program.SetGprs(apn, user, gprsPassword);
    if (setOperator->parsed()) return program.SetOperator(number, name, operatorPassword, idNumber);
    if (setCodeTable->parsed()) return program.SetCodeTable(table);
    if (setLogo->parsed()) return program.SetLogo(logoFile);
    if (backup->parsed()) return program.MakeBackup(file);
    if (restore->parsed()) return program.RestoreFile(file);
    if (clone->parsed()) return program.Clone(from, to);
    return program.Fail(kExitUsage, "no command");
  };
  const int status = run();
  program.Finish(status);
  return status;
}

}  // namespace tillwright::cli
