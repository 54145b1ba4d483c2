// The settings backup: what tillwright-cli reads from a device, written as one JSON document and
// read back with every field checked before anything goes to a device. Texts are device bytes in
// memory and UTF-8 in the file, through the code page the program runs with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/code_page.h"
#include "settings/settings.h"

namespace tillwright::cli {

inline constexpr const char *kBackupFormat = "tillwright-backup";
inline constexpr int kBackupVersion = 1;
// A backup of every group is about 2 KiB; anything far larger is not one.
inline constexpr size_t kBackupFileMax = size_t{64} * 1024;
inline constexpr size_t kIdentityTextMax = 64;

// The groups a backup holds, in the order they are read and written. The set-only groups
// (operators, code tables, logo) have no read command on the device.
enum class Group { Header, Vat, DateTime, TcpIp, Gprs };
inline constexpr std::array<Group, 5> kBackupGroups = {Group::Header, Group::Vat, Group::DateTime, Group::TcpIp,
                                                       Group::Gprs};
const char *GroupName(Group group);
std::optional<Group> GroupByName(std::string_view name);

struct VatRates {
  // Hundredths of a percent; nothing for an undefined group.
  std::array<std::optional<int>, kTaxGroups> rates;
  bool operator==(const VatRates &) const = default;
};

struct GprsSettings {
  std::string apn;
  std::string user;
  // The password is not kept: the file must not carry it, and a restore writes the device's own.
  bool operator==(const GprsSettings &) const = default;
};

struct Identity {
  std::string model;
  std::string firmware;
  std::string firmwareDate;
  std::string serialNumber;
  std::string fiscalMemoryNumber;
  bool operator==(const Identity &) const = default;
};

struct Backup {
  std::string taken;  // UTC, ISO 8601
  Identity device;
  std::optional<std::array<std::string, kTextLines>> header;
  std::optional<VatRates> vat;
  std::optional<std::string> dateTime;  // the device's clock when read: for information only
  std::optional<TcpIpSettings> tcpIp;
  std::optional<GprsSettings> gprs;

  bool Has(Group group) const;
};

// A rate as a decimal number of percent, 0 to 99.99, with at most two decimals ("20", "9.5",
// "0.00"): hundredths of a percent. Nothing for anything else ("0x10", "1e1", "nan", "abc", "",
// "100"). The one reader of rates in the command-line tool, for the device's replies and for
// what a person types.
std::optional<int> ParseRate(std::string_view text);

// Converters between the device's replies and the file's values. A reply piece that is empty or
// starts with '-' is an undefined group; any other that ParseRate refuses makes the whole reply
// unreadable: nothing, with the piece in *bad.
std::optional<VatRates> VatFromReply(std::string_view reply, std::string *bad = nullptr);
std::string VatWriteData(const VatRates &vat);
std::string VatText(const std::optional<int> &rate);  // "18.00" or "undefined"

// The document, pretty-printed. Texts go through `codePage` to UTF-8.
std::string BackupToJson(const Backup &backup, const CodePage &codePage);

// Reads and checks a whole document: nothing is taken unless all of it is sound. False with
// `error` naming the first fault (and where it is) otherwise.
bool ParseBackup(std::string_view text, const CodePage &codePage, Backup &backup, std::string &error);

// "a.b.c.d", each 0 to 255 without more than three digits.
std::optional<uint32_t> ParseDottedAddress(std::string_view text);
// "DD-MM-YY HH:MM:SS", the form the device gives and takes its clock in.
bool IsDeviceTimeText(std::string_view text);

// One difference between a backup and the device.
struct Difference {
  Group group;
  std::string field;
  std::string device;  // as the device holds it now (UTF-8)
  std::string file;    // as the backup has it (UTF-8)
};

// What a restore of `file` onto a device holding `device` would change: only groups present in
// both and restorable (the clock is never restored).
std::vector<Difference> Differences(const Backup &file, const Backup &device, const CodePage &codePage);

// The header lines of `file` that differ from `device`'s.
std::vector<size_t> ChangedLines(const Backup &file, const Backup &device);

}  // namespace tillwright::cli
