#include "cli/commands.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "core/command_codes.h"
#include "core/local_time.h"
#include "framecodec/frame.h"
#include "platform/files.h"
#include "programming/logo_bitmap.h"
#include "programming/report_precheck.h"

namespace tillwright::cli {
namespace {

using nlohmann::json;

constexpr size_t kMaxRequestData = framecodec::kMaxRequestData;
constexpr const char *kSetOnly[] = {"operators", "codetable", "logo"};

class PortsCommand final : public Command {
 public:
  void Define(CLI::App &, Options &) override {}

  int Run(Session &s) override {
    json found = json::array();
    size_t count = 0;
    for (const std::string &port : CandidatePorts()) {
      CliLink link;
      if (!link.Open(port)) continue;
      ++count;
      Identity id;
      const bool known = ReadIdentity(link, id);
      const std::string via = link.Usb() ? "USB (vrn_interface)" : "serial link";
      if (s.options().json) {
        json entry = {{"port", port}, {"link", link.Usb() ? "usb" : "serial"}};
        if (known) entry["device"] = s.IdentityJson(id);
        found.push_back(entry);
      } else if (known) {
        s.out() << port << ": " << s.Utf8(id.model) << ", firmware " << s.Utf8(id.firmware) << " ("
                << s.Utf8(id.firmwareDate) << "), serial number " << s.Utf8(id.serialNumber) << ", over " << via
                << "\n";
      } else {
        s.out() << port << ": a device answers but gives no identity, over " << via << "\n";
      }
    }
    if (s.options().json) s.pending() = found;
    return count != 0 ? kExitOk : s.Fail(kExitNoDevice, "no device answers on USB or COM1 to COM20");
  }
};

class SendCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("CODE", code_, "command code, 0 to 255")->required()->check(CLI::Range(0, 255));
    command.add_option("DATA", data_, "request data (text in the device's code page)");
  }

  int Run(Session &s) override {
    std::string request = s.codePage().ToDevice(data_);
    if (s.codePage().ToWidget(request) != data_)
      return s.Fail(kExitUsage, "the data has characters the device's code page lacks");
    if (request.size() > kMaxRequestData)
      return s.Fail(kExitUsage, "the data is " + std::to_string(request.size()) + " bytes; one command carries " +
                                    std::to_string(kMaxRequestData) + " at most: nothing sent");
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    std::string reply;
    const int result = link.SendCommand(reply, request, static_cast<uint16_t>(code_));
    const std::string hex = Hex(link.LastStatusBytes());
    const std::string status = link.LastStatus();
    if (s.options().json) {
      s.pending() = {{"code", code_}, {"ok", result == 0}, {"reply", s.Utf8(reply)}, {"status_bytes", hex}, {"status", status}};
    } else {
      s.out() << "reply:  " << s.Utf8(reply) << "\n";
      s.out() << "status: " << (hex.empty() ? "(none)" : hex) << "\n";
      s.out() << "status text: " << (status.empty() ? "(none)" : status) << "\n";
    }
    if (result == 0) return kExitOk;
    return s.DeviceFailed(link, "command " + std::to_string(code_));
  }

 private:
  static std::string Hex(const std::optional<std::array<uint8_t, 6>> &bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string hex;
    if (!bytes) return hex;
    for (const uint8_t b : *bytes) {
      if (!hex.empty()) hex += ' ';
      hex += kHex[b >> 4];
      hex += kHex[b & 0xF];
    }
    return hex;
  }

  int code_ = 0;
  std::string data_;
};

class GetCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("GROUP", name_, "header, vat, datetime, tcpip or gprs")->required();
  }

  int Run(Session &s) override {
    for (const char *setOnly : kSetOnly) {
      if (name_ == setOnly)
        return s.Fail(kExitUsage,
                      "the device gives no " + name_ + " back: they can only be set (tillwright-cli set " + name_ + " ...)");
    }
    const auto group = GroupByName(name_);
    if (!group) return s.Fail(kExitUsage, "no group " + name_);
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    Backup backup;
    std::string unreadable;
    if (!ReadGroup(link, *group, backup, &unreadable)) return s.ReadFailed(link, *group, unreadable);
    const json doc = json::parse(BackupToJson(backup, s.codePage()));
    const json &value = doc["groups"][name_];
    if (s.options().json) {
      s.PrintJson(value);
      return kExitOk;
    }
    Print(s.out(), *group, backup, value);
    return kExitOk;
  }

 private:
  static void Print(std::ostream &out, Group group, const Backup &backup, const json &value) {
    switch (group) {
      case Group::Header:
        for (size_t i = 0; i < kTextLines; ++i)
          out << (i < kHeaderTextLines ? "header " : "advertisement ") << i << ": " << value["lines"][i].get<std::string>()
              << "\n";
        break;
      case Group::Vat: {
        static constexpr const char *kNames[] = {"A", "B", "C", "D", "PnP"};
        for (size_t g = 0; g < kTaxGroups; ++g) out << kNames[g] << ": " << VatText(backup.vat->rates[g]) << "\n";
        break;
      }
      case Group::DateTime:
        out << *backup.dateTime << "\n";
        break;
      case Group::TcpIp:
        out << "dhcp: " << (backup.tcpIp->dhcp ? "on" : "off") << "\n";
        for (const char *key : {"address", "mask", "gateway", "dns1", "dns2"})
          out << key << ": " << value[key].get<std::string>() << "\n";
        break;
      case Group::Gprs:
        out << "apn: " << value["apn"].get<std::string>() << "\nuser: " << value["user"].get<std::string>() << "\n";
        break;
    }
  }

  std::string name_;
};

// set GROUP ...: one group written from the command line.
class SetHeaderCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("LINE", line_, "0 to 9")->required()->check(CLI::Range(0, 9));
    command.add_option("TEXT", text_, "the text; empty clears the line")->required();
  }

  int Run(Session &s) override {
    const std::string bytes = s.codePage().ToDevice(text_);
    if (s.codePage().ToWidget(bytes) != text_) return s.Fail(kExitUsage, "the text has characters the device's code page lacks");
    if (bytes.size() > kTextLineMax)
      return s.Fail(kExitUsage, "a line holds " + std::to_string(kTextLineMax) + " characters at most");
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    std::array<std::string, kTextLines> header;
    header[static_cast<size_t>(line_)] = bytes;
    return s.Outcome(link, WriteHeaderLines(link, s.prompter(), header, {static_cast<size_t>(line_)}), "the line",
                     "line " + std::to_string(line_) + " \"" + text_ + "\"");
  }

 private:
  int line_ = 0;
  std::string text_;
};

class SetVatCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("RATES", rates_, "five rates, 0 to 99.99 or -")->required()->expected(5);
  }

  int Run(Session &s) override {
    VatRates vat;
    for (size_t g = 0; g < kTaxGroups; ++g) {
      const std::string &t = rates_[g];
      if (t == "-" || t == "undefined") continue;
      vat.rates[g] = ParseRate(t);
      if (!vat.rates[g])
        return s.Fail(kExitUsage,
                      "a rate is a decimal number from 0 to 99.99 with two decimals at most, or - (undefined), not " + t);
    }
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    std::string done = "VAT rates";
    for (size_t g = 0; g < kTaxGroups; ++g) done += " " + VatText(vat.rates[g]);
    return s.Outcome(link, WriteVat(link, s.prompter(), vat), "the rates", done);
  }

 private:
  std::vector<std::string> rates_;
};

class SetDateTimeCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("WHEN", when_, "now or DD-MM-YY HH:MM:SS")->required();
  }

  int Run(Session &s) override {
    std::string text = when_;
    if (when_ == "now") {
      text = DeviceDateTimeText(LocalTime(std::time(nullptr)));
    } else if (!IsDeviceTimeText(when_)) {
      return s.Fail(kExitUsage, "the date and time is \"now\" or DD-MM-YY HH:MM:SS");
    }
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    std::string reply;
    return s.Outcome(link, link.SendCommand(reply, text, cmd::kSetDateTime) == 0 ? Written::All : Written::None,
                     "the date and time " + text, "the date and time " + text);
  }

 private:
  std::string when_;
};

class SetTcpIpCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("VALUES", values_, "dhcp or five dotted addresses")->required();
  }

  int Run(Session &s) override {
    TcpIpSettings settings;
    if (values_.size() == 1 && values_[0] == "dhcp") {
      settings.dhcp = true;
    } else if (values_.size() == 5) {
      for (size_t i = 0; i < 5; ++i) {
        const auto address = ParseDottedAddress(values_[i]);
        if (!address) return s.Fail(kExitUsage, "not a dotted address: " + values_[i]);
        settings.addresses[i] = *address;
      }
    } else {
      return s.Fail(kExitUsage, "set tcpip takes dhcp, or ADDRESS MASK GATEWAY DNS1 DNS2");
    }
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    if (settings.dhcp) {
      // The addresses the device holds stay; only the mode changes. Without them, nothing is
      // written: zeros would wipe the device's network settings.
      Backup current;
      if (!ReadGroup(link, Group::TcpIp, current)) return s.DeviceFailed(link, "the reading of tcpip: nothing written");
      settings.addresses = current.tcpIp->addresses;
      settings.dhcp = true;
    }
    std::string done = settings.dhcp ? "TCP/IP settings: DHCP" : "TCP/IP settings:";
    if (!settings.dhcp)
      for (const uint32_t address : settings.addresses) done += " " + DottedAddress(address);
    return s.Outcome(link, WriteTcpIp(link, settings), "the TCP/IP settings", done);
  }

 private:
  std::vector<std::string> values_;
};

class SetGprsCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("APN", apn_, "the access point name")->required();
    command.add_option("USER", user_, "the user name")->required();
    command.add_option("--password", password_, "a new password");
  }

  int Run(Session &s) override {
    int status = kExitOk;
    const auto a = s.SeparatedText(apn_, kGprsTextMax, "the access point", status);
    if (!a) return status;
    const auto u = s.SeparatedText(user_, kGprsTextMax, "the user", status);
    if (!u) return status;
    std::optional<std::string> p;
    if (password_) {
      p = s.SeparatedText(*password_, kGprsTextMax, "the password", status);
      if (!p) return status;
    }
    CliLink link;
    if (const int c = s.Connect(link); c != kExitOk) return c;
    return s.Outcome(link, WriteGprs(link, GprsSettings{*a, *u}, p), "the GPRS settings",
                     "GPRS access point \"" + apn_ + "\", user \"" + user_ + "\"" + (p ? " and a new password" : ""));
  }

 private:
  std::string apn_, user_;
  std::optional<std::string> password_;
};

class SetOperatorCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("NUMBER", number_, "the operator's number")->required()->check(CLI::Range(0, 99));
    command.add_option("NAME", name_, "the operator's name")->required();
    command.add_option("--password", password_, "the operator's password")->required();
    command.add_option("--id", idNumber_, "identification number, 11 characters at most");
  }

  int Run(Session &s) override {
    int status = kExitOk;
    const auto n = s.SeparatedText(name_, kGprsTextMax, "the name", status);
    if (!n) return status;
    const auto p = s.SeparatedText(password_, kGprsTextMax, "the password", status);
    if (!p) return status;
    const auto id = s.SeparatedText(idNumber_, kOperatorIdNumberMax, "the identification number", status);
    if (!id) return status;
    CliLink link;
    if (const int c = s.Connect(link); c != kExitOk) return c;
    const std::string done = "operator " + std::to_string(number_) + " \"" + name_ + "\" with its password";
    if (!ReportPreCheck(link, s.prompter())) return s.Outcome(link, Written::Declined, "the operator", done);
    std::string reply;
    std::string data = OperatorNameData(number_, *p, *n, *id);
    return s.Outcome(link, link.SendCommand(reply, data, cmd::kClerkName) == 0 ? Written::All : Written::None,
                     "the operator", done);
  }

 private:
  int number_ = 0;
  std::string name_, password_, idNumber_;
};

class SetCodeTableCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("TABLE", table_, "win1251 or dos")->required()->check(CLI::IsMember({"win1251", "dos"}));
  }

  int Run(Session &s) override {
    const int codePage = table_ == "win1251" ? kCodePageWin1251 : kCodePageDos;
    CliLink link;
    if (const int c = s.Connect(link); c != kExitOk) return c;
    size_t sent = 0;
    for (const std::string &block : CodeTableBlocks(codePage)) {
      std::string data = block;
      std::string reply;
      if (link.SendCommand(reply, data, cmd::kCodeTable) != 0) {
        if (sent == 0) return s.DeviceFailed(link, "the code table: nothing written");
        return s.Fail(kExitPartial, std::string(link.Lost() ? "the device stopped answering at" : "the device refused") +
                                        " block " + std::to_string(sent + 1) + " of 4; blocks 1 to " +
                                        std::to_string(sent) + " are written; sending the table again repairs it");
      }
      ++sent;
    }
    return s.SayWritten("code table " + table_ + " (4 blocks)");
  }

 private:
  std::string table_;
};

class SetLogoCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("FILE", path_, "the bitmap file")->required();
  }

  int Run(Session &s) override {
    LogoBitmap::Error error = LogoBitmap::Error::None;
    std::string why;
    auto bitmap = LogoBitmap::Open(path_, &error, &why);
    if (!bitmap)
      return s.Fail(kExitBadFile,
                    error == LogoBitmap::Error::CannotOpen ? why : path_ + " is no monochrome bitmap without compression");
    CliLink link;
    if (const int c = s.Connect(link); c != kExitOk) return c;
    std::string reply;
    std::string request;
    if (link.SendCommand(reply, request, cmd::kLogoLimits) != 0) return s.DeviceFailed(link, "the logo size (command 128)");
    LogoLimits limits;
    ReadLogoLimits(reply, limits);
    const LogoPlan plan = bitmap->PlanFor(limits);
    if (plan.rows == 0 || plan.rowBytes == 0) return s.Fail(kExitRefused, "the device takes no logo of this size");
    if (plan.croppedByDevice || plan.croppedByFrame)
      s.err() << "the picture is cropped to " << plan.dots << " x " << plan.rows << " dots\n";
    std::vector<uint8_t> row;
    const auto sentBefore = [](size_t r) {
      return r == 1 ? std::string("row 1 is") : "rows 1 to " + std::to_string(r) + " are";
    };
    for (size_t r = 0; r < plan.rows; ++r) {
      if (!bitmap->ReadRow(r, plan.rowBytes, row)) {
        if (r == 0) return s.Fail(kExitBadFile, "cannot read " + path_ + ": nothing sent");
        s.err() << "\n";
        return s.Fail(kExitPartial, "cannot read row " + std::to_string(r + 1) + " of " + path_ +
                                        " (the file changed while it was sent); " + sentBefore(r) + " in the device");
      }
      std::string data = LogoRowData(r, row);
      if (link.SendCommand(reply, data, cmd::kLogoRow) != 0) {
        if (r == 0) return s.DeviceFailed(link, "row 1 of the logo: nothing written");
        s.err() << "\n";
        return s.Fail(kExitPartial, std::string(link.Lost() ? "the device stopped answering at" : "the device refused") +
                                        " row " + std::to_string(r + 1) + "; " + sentBefore(r) + " in the device");
      }
      s.err() << "\rrow " << r + 1 << " of " << plan.rows << std::flush;
    }
    s.err() << "\n";
    return s.SayWritten("logo of " + std::to_string(plan.dots) + " x " + std::to_string(plan.rows) + " dots");
  }

 private:
  std::string path_;
};

class BackupCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &) override {
    command.add_option("FILE", path_, "the file to write (kept whole: written beside it, then renamed), or -")->required();
  }

  int Run(Session &s) override {
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    Backup backup;
    if (const int status = s.ReadAll(link, backup); status != kExitOk) return status;
    const std::string text = BackupToJson(backup, s.codePage());
    // What restore would refuse is no backup: read back through the same reader first.
    Backup check;
    std::string error;
    if (!ParseBackup(text, s.codePage(), check, error))
      return s.Fail(kExitBadFile, "the device's settings make no sound backup (" + error + "): nothing written");
    if (path_ == "-") {
      s.out() << text;
      return kExitOk;
    }
    if (!platform::WriteFileAtomically(path_, text, &error)) return s.Fail(kExitBadFile, error + ": " + path_ + " not written");
    if (!s.options().json) s.out() << "backup of " << s.Utf8(backup.device.serialNumber) << " written to " << path_ << "\n";
    else s.PrintJson({{"file", path_}, {"device", s.IdentityJson(backup.device)}, {"taken", backup.taken}});
    return kExitOk;
  }

 private:
  std::string path_;
};

// Writes what differs between a backup and the device on a link: restore and clone.
class Restorer {
 public:
  Restorer(Session &s, CliLink &link, const Backup &file) : s_(s), link_(link), file_(file) {}

  // `clone` skips the question about another serial number, which a clone always has.
  int Run(bool clone) {
    if (!ReadIdentity(link_, device_.device)) return s_.DeviceFailed(link_, "its identity (command 90)");
    if (const int status = CheckSameDevice(clone); status != kExitOk) return status;
    for (const Group group : kBackupGroups) {
      if (group == Group::DateTime || !file_.Has(group)) continue;
      s_.err() << "reading " << GroupName(group) << "\n";
      std::string unreadable;
      if (!ReadGroup(link_, group, device_, &unreadable)) return s_.ReadFailed(link_, group, unreadable);
    }
    const auto differences = Differences(file_, device_, s_.codePage());
    Show(differences);
    if (file_.dateTime) s_.err() << "the clock is not restored (tillwright-cli set datetime now sets it)\n";
    if (differences.empty() || s_.options().dryRun) return kExitOk;

    std::vector<Group> groups;
    for (const auto &d : differences)
      if (std::find(groups.begin(), groups.end(), d.group) == groups.end()) groups.push_back(d.group);
    if (!s_.prompter().Confirm("Write " + std::to_string(groups.size()) + " group(s) to the device?"))
      return s_.Fail(kExitDeclined, "declined: nothing written");
    return Write(groups);
  }

 private:
  int CheckSameDevice(bool clone) {
    std::vector<std::string> mismatch;
    if (device_.device.model != file_.device.model)
      mismatch.push_back("model " + s_.Utf8(file_.device.model) + " in the backup, " + s_.Utf8(device_.device.model) +
                         " here");
    if (!clone && device_.device.serialNumber != file_.device.serialNumber)
      mismatch.push_back("serial number " + s_.Utf8(file_.device.serialNumber) + " in the backup, " +
                         s_.Utf8(device_.device.serialNumber) + " here");
    if (mismatch.empty() || s_.options().force) return kExitOk;
    std::string question = "Another device:";
    for (const auto &m : mismatch) question += " " + m + ";";
    question += " restore onto it anyway?";
    if (!s_.prompter().Ask(question, "--force"))
      return s_.Fail(kExitDeclined, "declined: another device (--force restores anyway)");
    return kExitOk;
  }

  void Show(const std::vector<Difference> &differences) {
    if (s_.options().json) {
      json list = json::array();
      for (const auto &d : differences)
        list.push_back({{"group", GroupName(d.group)}, {"field", d.field}, {"device", d.device}, {"backup", d.file}});
      s_.pending() = {{"differences", list}, {"dry_run", s_.options().dryRun}, {"written", json::array()}};
    } else if (differences.empty()) {
      s_.out() << "the device already holds what the backup holds: nothing to write\n";
    } else {
      for (const auto &d : differences)
        s_.out() << GroupName(d.group) << " " << d.field << ": \"" << d.device << "\" -> \"" << d.file << "\"\n";
    }
  }

  Written WriteGroup(Group group, std::vector<size_t> &lines) {
    switch (group) {
      case Group::Header: return WriteHeaderLines(link_, s_.prompter(), *file_.header, ChangedLines(file_, device_), &lines);
      case Group::Vat: return WriteVat(link_, s_.prompter(), *file_.vat);
      case Group::TcpIp: return WriteTcpIp(link_, *file_.tcpIp);
      case Group::Gprs: return WriteGprs(link_, *file_.gprs, std::nullopt);
      case Group::DateTime: return Written::All;
    }
    return Written::None;
  }

  int Write(const std::vector<Group> &groups) {
    json &pending = s_.pending();
    std::vector<std::string> written;
    for (const Group group : groups) {
      s_.err() << "writing " << GroupName(group) << "\n";
      std::vector<size_t> lines;
      const Written result = WriteGroup(group, lines);
      if (result == Written::All) {
        written.push_back(GroupName(group));
        if (pending.is_object()) pending["written"].push_back(GroupName(group));
        continue;
      }
      if (result == Written::Part) {
        std::string part = "header (line";
        part += lines.size() == 1 ? " " : "s ";
        for (size_t i = 0; i < lines.size(); ++i) part += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
        written.push_back(part + ")");
        if (pending.is_object()) pending["written"].push_back(written.back());
      }
      return Failed(group, result, written);
    }
    if (!s_.options().json) s_.out() << "restored: " << written.size() << " group(s)\n";
    return kExitOk;
  }

  // `group` was not written, or only part of it: what was, and why not.
  int Failed(Group group, Written result, const std::vector<std::string> &written) {
    std::string done = "nothing";
    if (!written.empty()) {
      done.clear();
      for (const auto &w : written) done += (done.empty() ? "" : ", ") + w;
    }
    const std::string why = result == Written::Declined ? "a report it needs first was declined"
                            : link_.Lost()               ? "the device stopped answering"
                                                         : "the device refused it";
    if (written.empty()) {
      const int status = result == Written::Declined ? kExitDeclined : link_.Lost() ? kExitNoDevice : kExitRefused;
      return s_.Fail(status, std::string(GroupName(group)) + " not written (" + why + "); nothing written");
    }
    return s_.Fail(kExitPartial,
                   std::string("partial restore: ") + GroupName(group) + " failed (" + why + "); written: " + done);
  }

  Session &s_;
  CliLink &link_;
  const Backup &file_;
  Backup device_;
};

class RestoreCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &options) override {
    command.add_option("FILE", path_, "a backup file that tillwright-cli backup wrote")->required();
    command.add_flag("--dry-run", options.dryRun, "show the differences, write nothing");
    command.add_flag("--force", options.force, "restore onto another model or serial number without asking");
  }

  int Run(Session &s) override {
    Backup file;
    if (const int status = s.LoadFile(path_, file); status != kExitOk) return status;
    CliLink link;
    if (const int status = s.Connect(link); status != kExitOk) return status;
    return Restorer(s, link, file).Run(false);
  }

 private:
  std::string path_;
};

class CloneCommand final : public Command {
 public:
  void Define(CLI::App &command, Options &options) override {
    command.add_option("--from", from_, "the source's port")->required();
    command.add_option("--to", to_, "the target's port")->required();
    command.add_flag("--dry-run", options.dryRun, "show the differences, write nothing");
    command.add_flag("--force", options.force, "clone onto another model without asking");
  }

  int Run(Session &s) override {
    Backup backup;
    {
      CliLink source;
      if (const int status = s.Connect(source, from_); status != kExitOk) return status;
      if (const int status = s.ReadAll(source, backup); status != kExitOk) return status;
    }
    CliLink target;
    if (const int status = s.Connect(target, to_); status != kExitOk) return status;
    return Restorer(s, target, backup).Run(true);
  }

 private:
  std::string from_, to_;
};

template <class C>
std::unique_ptr<Command> Make() {
  return std::make_unique<C>();
}

constexpr CommandEntry kCommands[] = {
    {nullptr, "ports", "where a device answers, its identity and the link", Make<PortsCommand>},
    {nullptr, "send", "one raw command: its reply, status bytes and status text", Make<SendCommand>},
    {nullptr, "get", "read one settings group: header, vat, datetime, tcpip, gprs", Make<GetCommand>},
    {nullptr, "set", "write one settings group", nullptr},
    {"set", "header", "one header (0-7) or advertisement (8, 9) line", Make<SetHeaderCommand>},
    {"set", "vat", "the five VAT rates A B C D PnP (- for undefined)", Make<SetVatCommand>},
    {"set", "datetime", "the device's clock: now, or \"DD-MM-YY HH:MM:SS\"", Make<SetDateTimeCommand>},
    {"set", "tcpip", "dhcp, or ADDRESS MASK GATEWAY DNS1 DNS2", Make<SetTcpIpCommand>},
    {"set", "gprs", "access point and user (the password stays unless given)", Make<SetGprsCommand>},
    {"set", "operators", "one operator's name, password and identification number", Make<SetOperatorCommand>},
    {"set", "codetable", "the code page the device takes texts in: win1251 or dos", Make<SetCodeTableCommand>},
    {"set", "logo", "upload a one-bit uncompressed BMP as the receipt logo", Make<SetLogoCommand>},
    {nullptr, "backup", "every readable setting into one JSON file (- for standard output)", Make<BackupCommand>},
    {nullptr, "restore", "show what differs from a backup and write only that", Make<RestoreCommand>},
    {nullptr, "clone", "copy the settings of one device onto another", Make<CloneCommand>},
    {nullptr, "doctor", "why no device answers: each check's finding and what mends it", MakeDoctor},
};

}  // namespace

std::span<const CommandEntry> Commands() { return kCommands; }

}  // namespace tillwright::cli
