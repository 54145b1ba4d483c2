// tillwright-cli's backup file reader: whatever the file holds, it is refused whole or taken
// whole, and what it takes writes back to a document that reads the same.
//
// Input: byte 0 chooses the code page (even 1251, odd 1250); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/backup_file.h"

namespace {

using namespace tillwright;
using namespace tillwright::cli;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const CodePage codePage((data[0] & 1) != 0 ? 1250 : 1251);
  const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);

  Backup backup;
  backup.taken = "untouched";
  std::string error;
  if (!ParseBackup(text, codePage, backup, error)) {
    Require(!error.empty());
    Require(backup.taken == "untouched");
    return 0;
  }
  Require(text.size() <= kBackupFileMax);
  if (backup.header)
    for (const std::string &line : *backup.header) Require(line.size() <= kTextLineMax);
  if (backup.vat)
    for (const auto &rate : backup.vat->rates) Require(!rate || (*rate >= 0 && *rate <= 9999));
  if (backup.gprs) Require(backup.gprs->apn.find(',') == std::string::npos && backup.gprs->user.find(',') == std::string::npos);

  Backup again;
  Require(ParseBackup(BackupToJson(backup, codePage), codePage, again, error));
  Require(again.taken == backup.taken && again.device == backup.device && again.header == backup.header &&
          again.vat == backup.vat && again.dateTime == backup.dateTime && again.gprs == backup.gprs);
  Require(again.tcpIp.has_value() == backup.tcpIp.has_value());
  if (backup.tcpIp) Require(again.tcpIp->addresses == backup.tcpIp->addresses && again.tcpIp->dhcp == backup.tcpIp->dhcp);
  Require(Differences(again, backup, codePage).empty());
  return 0;
}
