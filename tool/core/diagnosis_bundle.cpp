// The support bundle: the report and its evidence as a .zip (stored entries) or a .tar.gz (ustar
// in gzip with stored deflate blocks), so that no compression library is needed on any platform.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <ctime>

#include "core/diagnosis.h"
#include "core/diagnosis_probes.h"
#include "fiscal_version.h"
#include "platform/files.h"

namespace tillwright::diagnosis {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

void Le16(std::string &out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Le32(std::string &out, uint32_t v) {
  Le16(out, v & 0xFFFF);
  Le16(out, v >> 16);
}

bool EndsWith(const std::string &text, const std::string &end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
  return true;
}

// The entries' time: now, as the DOS date and time a zip keeps (local time is not known to the
// reader, so UTC is as good as any).
std::pair<uint16_t, uint16_t> DosDateTime(std::time_t now) {
  std::tm t{};
#ifdef _WIN32
  gmtime_s(&t, &now);
#else
  gmtime_r(&now, &t);
#endif
  if (t.tm_year < 80) return {0x21, 0};  // 1980-01-01
  const auto date = static_cast<uint16_t>((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
  const auto time = static_cast<uint16_t>(t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2);
  return {date, time};
}

std::string Zip(const std::vector<BundleEntry> &entries, std::time_t now) {
  // Not a structured binding: clang before 16 cannot capture one in the lambda below.
  const auto stamp = DosDateTime(now);
  const uint16_t date = stamp.first;
  const uint16_t time = stamp.second;
  std::string out;
  std::string central;
  for (const BundleEntry &e : entries) {
    const uint32_t crc = Crc32(e.bytes);
    const auto size = static_cast<uint32_t>(e.bytes.size());
    const auto offset = static_cast<uint32_t>(out.size());
    auto common = [&](std::string &to) {
      Le16(to, 20);      // version needed: 2.0
      Le16(to, 0x0800);  // names in UTF-8
      Le16(to, 0);       // stored
      Le16(to, time);
      Le16(to, date);
      Le32(to, crc);
      Le32(to, size);
      Le32(to, size);
      Le16(to, static_cast<uint32_t>(e.name.size()));
      Le16(to, 0);  // no extra field
    };
    Le32(out, 0x04034b50);
    common(out);
    out += e.name;
    out += e.bytes;
    Le32(central, 0x02014b50);
    Le16(central, 3u << 8 | 20);  // made on Unix, so that readers take the mode below
    common(central);
    Le16(central, 0);  // no comment
    Le16(central, 0);  // disk 0
    Le16(central, 0);  // no internal attributes
    Le32(central, 0100600u << 16);
    Le32(central, offset);
    central += e.name;
  }
  // The central directory, built beside the entries, follows them.
  const auto centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  Le32(out, 0x06054b50);
  Le16(out, 0);
  Le16(out, 0);
  Le16(out, static_cast<uint32_t>(entries.size()));
  Le16(out, static_cast<uint32_t>(entries.size()));
  Le32(out, static_cast<uint32_t>(central.size()));
  Le32(out, centralOffset);
  Le16(out, 0);
  return out;
}

void Octal(char *field, size_t width, uint64_t value) {
  // width - 1 digits and a NUL, as ustar's numeric fields are.
  field[width - 1] = '\0';
  for (size_t i = width - 1; i-- > 0;) {
    field[i] = static_cast<char>('0' + (value & 7));
    value >>= 3;
  }
}

std::string Tar(const std::vector<BundleEntry> &entries, std::time_t now) {
  std::string out;
  for (const BundleEntry &e : entries) {
    std::array<char, 512> h{};
    e.name.copy(h.data(), 100);
    Octal(&h[100], 8, 0600);
    Octal(&h[108], 8, 0);
    Octal(&h[116], 8, 0);
    Octal(&h[124], 12, e.bytes.size());
    Octal(&h[136], 12, static_cast<uint64_t>(now < 0 ? 0 : now));
    h[156] = '0';
    std::string("ustar").copy(&h[257], 5);  // and its NUL, already there
    h[263] = '0';
    h[264] = '0';
    // The check sum is taken with its own field as blanks.
    std::fill(&h[148], &h[156], ' ');
    uint32_t sum = 0;
    for (const char c : h) sum += static_cast<unsigned char>(c);
    Octal(&h[148], 7, sum);
    h[155] = ' ';
    out.append(h.data(), h.size());
    out += e.bytes;
    out.append((512 - e.bytes.size() % 512) % 512, '\0');
  }
  out.append(1024, '\0');
  return out;
}

std::string Gzip(const std::string &data, std::time_t now) {
  std::string out = {'\x1f', '\x8b', '\x08', '\x00'};
  Le32(out, static_cast<uint32_t>(now < 0 ? 0 : now));
  out += '\x00';
  out += '\x03';  // made on Unix
  // Stored deflate blocks: a byte with the final flag and type 00, the length and its complement.
  constexpr size_t kBlock = 65535;
  size_t at = 0;
  do {
    const size_t n = std::min(kBlock, data.size() - at);
    const bool last = at + n == data.size();
    out += static_cast<char>(last ? 1 : 0);
    Le16(out, static_cast<uint32_t>(n));
    Le16(out, static_cast<uint32_t>(~n & 0xFFFF));
    out.append(data, at, n);
    at += n;
  } while (at < data.size());
  Le32(out, Crc32(data));
  Le32(out, static_cast<uint32_t>(data.size()));
  return out;
}

std::string Lines(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines) text += line + "\n";
  return text;
}

}  // namespace

uint32_t Crc32(std::string_view bytes, uint32_t crc) {
  crc = ~crc;
  for (const char c : bytes) crc = kCrcTable[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<BundleEntry> BundleEntries(const Report &report) {
  std::string versions = std::string("tillwright ") + FISCAL_SUITE_VERSION + "\n";
  versions += std::string("tillwright-cli ") + FISCAL_SUITE_VERSION + "\n";
  versions += std::string("vrn_interface ") + FISCAL_SUITE_VERSION + " (library version " VRN_INTERFACE_VERSION ")\n";
  versions += std::string("seriallink ") + FISCAL_SUITE_VERSION + "\n";
#if defined(__clang__)
  versions += "compiler clang " __clang_version__ "\n";
#elif defined(__GNUC__)
  versions += "compiler gcc " __VERSION__ "\n";
#endif
  if (!report.system.empty()) versions += "system " + report.system + "\n";
  std::string rule = report.udevRule;
  if (rule.empty() && report.system.rfind("Windows", 0) == 0) rule = "(Windows has no udev)\n";
  if (rule.empty()) rule = std::string("(no ") + kRuleName + " in " + kPackageRuleDir + " or " + kLocalRuleDir + ")\n";
  return {
      {"report.txt", report.Text()},        {"report.json", ReportJson(report)}, {"versions.txt", versions},
      {"traces.txt", Lines(report.traces)}, {"ports.txt", Lines(report.ports)},  {"udev-rule.txt", rule},
  };
}

bool WriteBundle(const std::string &path, const std::vector<BundleEntry> &entries, std::string *error) {
  auto fail = [error](std::string why) {
    if (error != nullptr) *error = std::move(why);
    return false;
  };
  const bool zip = EndsWith(path, ".zip");
  const bool tarGz = EndsWith(path, ".tar.gz") || EndsWith(path, ".tgz");
  if (!zip && !tarGz) return fail(path + ": a bundle is written as a .zip or a .tar.gz; name the file so");
  for (const BundleEntry &e : entries) {
    if (e.name.empty() || e.name.size() > 99 || e.name.find_first_of("/\\") != std::string::npos || e.name == "." ||
        e.name == "..")
      return fail("\"" + e.name + "\" is no plain file name for a bundle");
    // Stored zip entries and their offsets are 32-bit; nothing near that size belongs in a bundle.
    if (e.bytes.size() >= 0x7FFFFFFFu) return fail(e.name + " is too large for a bundle");
  }
  const std::time_t now = std::time(nullptr);
  const std::string bytes = zip ? Zip(entries, now) : Gzip(Tar(entries, now), now);
  std::string why;
  if (!platform::WriteFileAtomically(path, bytes, &why)) return fail(why);
  return true;
}

}  // namespace tillwright::diagnosis
