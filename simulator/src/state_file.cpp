#include "fiscalsim/state_file.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <set>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/files.h"

namespace fiscalsim {
namespace {

using Json = nlohmann::ordered_json;

// Left out of the file, as a device loses or senses them anew at power-on: the customer
// display's texts, the standing printer conditions (paper end and the like) and whether its
// network links are up.

// The amounts the device's fields hold; larger ones from a file would overflow its sums.
constexpr int64_t kMaxCents = 99'999'999'999'999;
constexpr int kMaxRate = 9999;
// A device clock of years 2000..2099 is never further than this from the wall clock; a larger
// offset would overflow the time arithmetic.
constexpr int64_t kMaxClockOffset = int64_t{200} * 366 * 24 * 3600;
constexpr unsigned kMaxLogoRow = 95;
// Bounds the logo picture drawn from the rows.
constexpr size_t kMaxLogoRowHex = 1024;
// A file larger than this is no state this program wrote.
constexpr std::streamsize kMaxFileBytes = 64 << 20;

// Code page 1251 from 0x80 to 0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char32_t CharOf(uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
  return kCp1251High[byte - 0x80];
}

std::optional<uint8_t> ByteOf(char32_t c) {
  if (c < 0x80) return static_cast<uint8_t>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<uint8_t>(0xC0 + (c - 0x0410));
  for (size_t i = 0; i < std::size(kCp1251High); ++i) {
    if (kCp1251High[i] == c) return static_cast<uint8_t>(0x80 + i);
  }
  return std::nullopt;
}

std::string ToUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char b : bytes) {
    const char32_t c = CharOf(static_cast<uint8_t>(b));
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

// What a field's check found wrong; caught at the top and given back as the error.
struct Refusal {
  std::string what;
};

[[noreturn]] void Refuse(const std::string &field, const std::string &what) {
  throw Refusal{"field " + field + ": " + what};
}

std::string Hex(uint32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

// The parser has checked the UTF-8 already; a character outside the code page is refused.
std::string FromUtf8(const std::string &text, const std::string &field) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > text.size()) Refuse(field, "a text that is not UTF-8");
    char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    const auto byte = ByteOf(c);
    if (!byte) Refuse(field, "the character " + Hex(c) + " is not in code page 1251");
    bytes += static_cast<char>(*byte);
    i += length;
  }
  return bytes;
}

// --- reading -------------------------------------------------------------------------------

std::string Text(const Json &j, const std::string &field) {
  if (!j.is_string()) Refuse(field, "expected a text");
  return FromUtf8(j.get_ref<const std::string &>(), field);
}

int64_t Whole(const Json &j, const std::string &field, int64_t min, int64_t max) {
  const auto range = [&] {
    return "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  };
  if (j.is_number_unsigned()) {
    const uint64_t v = j.get<uint64_t>();
    if (v > static_cast<uint64_t>(max)) Refuse(field, range());
    return static_cast<int64_t>(v);
  }
  if (!j.is_number_integer()) Refuse(field, range());
  const int64_t v = j.get<int64_t>();
  if (v < min || v > max) Refuse(field, range());
  return v;
}

uint32_t Count(const Json &j, const std::string &field) {
  return static_cast<uint32_t>(Whole(j, field, 0, std::numeric_limits<uint32_t>::max()));
}

int64_t Cents(const Json &j, const std::string &field) { return Whole(j, field, -kMaxCents, kMaxCents); }

bool Flag(const Json &j, const std::string &field) {
  if (!j.is_boolean()) Refuse(field, "expected true or false");
  return j.get<bool>();
}

// One character of the code page: a tax group's letter.
char Letter(const std::string &text, const std::string &field) {
  if (text.size() != 1) Refuse(field, "expected one letter");
  return text[0];
}

template <size_t N, typename Read>
auto Array(const Json &j, const std::string &field, const char *what, Read read) {
  if (!j.is_array() || j.size() != N) Refuse(field, "expected an array of " + std::to_string(N) + " " + what);
  std::array<decltype(read(j, field)), N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = read(j[i], field + "[" + std::to_string(i) + "]");
  return out;
}

template <typename Read>
auto List(const Json &j, const std::string &field, Read read) {
  if (!j.is_array()) Refuse(field, "expected an array");
  std::vector<decltype(read(j, field))> out;
  for (size_t i = 0; i < j.size(); ++i) out.push_back(read(j[i], field + "[" + std::to_string(i) + "]"));
  return out;
}

// An object whose member names are numbers up to `max`.
template <typename Key, typename Read>
auto NumberedMap(const Json &j, const std::string &field, uint32_t min, uint32_t max, Read read) {
  if (!j.is_object()) Refuse(field, "expected an object");
  std::map<Key, decltype(read(j, field))> out;
  for (const auto &[name, value] : j.items()) {
    const std::string member = field + "." + name;
    uint64_t n = 0;
    bool digits = !name.empty() && name.size() <= 10 && (name.size() == 1 || name[0] != '0');
    for (const char c : name) {
      digits = digits && c >= '0' && c <= '9';
      if (digits) n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!digits || n < min || n > max) {
      Refuse(member, "expected a number from " + std::to_string(min) + " to " + std::to_string(max) + " as the name");
    }
    out.emplace(static_cast<Key>(n), read(value, member));
  }
  return out;
}

std::map<char, int64_t> GroupSums(const Json &j, const std::string &field) {
  if (!j.is_object()) Refuse(field, "expected an object");
  std::map<char, int64_t> out;
  for (const auto &[name, value] : j.items()) {
    const std::string member = field + "." + name;
    out[Letter(FromUtf8(name, member), member)] = Cents(value, member);
  }
  return out;
}

bool UpperHex(std::string_view text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return text.size() % 2 == 0;
}

// The members of one object, each taken once; any left over is refused, so that a misspelt
// name is not silently a new device's value.
class Members {
 public:
  Members(const Json &object, std::string prefix) : object_(object), prefix_(std::move(prefix)) {}

  template <typename Read>
  void Take(const char *name, Read read) {
    taken_.insert(name);
    const auto it = object_.find(name);
    if (it != object_.end()) read(*it, prefix_ + name);
  }

  void RefuseOthers() const {
    for (const auto &[name, value] : object_.items()) {
      if (taken_.count(name) == 0) throw Refusal{"unknown field " + prefix_ + name};
    }
  }

 private:
  const Json &object_;
  const std::string prefix_;
  std::set<std::string> taken_;
};

Receipt ReadReceipt(const Json &j, const std::string &field) {
  if (!j.is_object()) Refuse(field, "expected an object");
  Receipt r;
  Members m(j, field + ".");
  m.Take("kind", [&](const Json &v, const std::string &f) {
    const std::string kind = Text(v, f);
    if (kind == "none")
      r.kind = Receipt::Kind::None;
    else if (kind == "fiscal")
      r.kind = Receipt::Kind::Fiscal;
    else if (kind == "nonFiscal")
      r.kind = Receipt::Kind::NonFiscal;
    else
      Refuse(f, "expected \"none\", \"fiscal\" or \"nonFiscal\"");
  });
  m.Take("items", [&](const Json &v, const std::string &f) { r.items = Count(v, f); });
  m.Take("totalCents", [&](const Json &v, const std::string &f) { r.totalCents = Cents(v, f); });
  m.Take("paidCents", [&](const Json &v, const std::string &f) { r.paidCents = Cents(v, f); });
  m.Take("paying", [&](const Json &v, const std::string &f) { r.paying = Flag(v, f); });
  m.Take("byGroup", [&](const Json &v, const std::string &f) { r.byGroup = GroupSums(v, f); });
  m.RefuseOthers();
  return r;
}

Article ReadArticle(const Json &j, const std::string &field) {
  if (!j.is_object()) Refuse(field, "expected an object");
  Article a;
  Members m(j, field + ".");
  m.Take("group", [&](const Json &v, const std::string &f) { a.group = Letter(Text(v, f), f); });
  m.Take("priceCents", [&](const Json &v, const std::string &f) { a.priceCents = Cents(v, f); });
  m.Take("name", [&](const Json &v, const std::string &f) { a.name = Text(v, f); });
  m.Take("secondLine", [&](const Json &v, const std::string &f) { a.secondLine = Text(v, f); });
  m.Take("stock", [&](const Json &v, const std::string &f) { a.stock = Text(v, f); });
  m.RefuseOthers();
  return a;
}

Department ReadDepartment(const Json &j, const std::string &field) {
  if (!j.is_object()) Refuse(field, "expected an object");
  Department d;
  Members m(j, field + ".");
  m.Take("group", [&](const Json &v, const std::string &f) { d.group = Letter(Text(v, f), f); });
  m.Take("name", [&](const Json &v, const std::string &f) { d.name = Text(v, f); });
  m.Take("price", [&](const Json &v, const std::string &f) { d.price = Text(v, f); });
  m.Take("limits", [&](const Json &v, const std::string &f) { d.limits = Text(v, f); });
  m.RefuseOthers();
  return d;
}

std::string LogoRow(const Json &j, const std::string &field) {
  std::string hex = Text(j, field);
  if (!UpperHex(hex) || hex.size() > kMaxLogoRowHex) {
    Refuse(field, "expected an even number of hex digits 0-9, A-F, at most " + std::to_string(kMaxLogoRowHex));
  }
  return hex;
}

std::array<uint8_t, 128> CodeTable(const Json &j, const std::string &field) {
  std::array<uint8_t, 128> table{};
  const std::string hex = Text(j, field);
  if (hex.size() != 2 * table.size() || !UpperHex(hex)) Refuse(field, "expected 256 hex digits 0-9, A-F");
  for (size_t i = 0; i < table.size(); ++i)
    table[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return table;
}

void ReadState(const Json &j, DeviceState &s) {
  const auto text = [](std::string &to) { return [&to](const Json &v, const std::string &f) { to = Text(v, f); }; };
  const auto count = [](uint32_t &to) { return [&to](const Json &v, const std::string &f) { to = Count(v, f); }; };
  const auto number = [](unsigned &to) {
    return [&to](const Json &v, const std::string &f) {
      to = static_cast<unsigned>(Whole(v, f, 0, std::numeric_limits<unsigned>::max()));
    };
  };
  const auto cents = [](int64_t &to) { return [&to](const Json &v, const std::string &f) { to = Cents(v, f); }; };
  const auto flag = [](bool &to) { return [&to](const Json &v, const std::string &f) { to = Flag(v, f); }; };
  const auto texts = [](auto &to) {
    return [&to](const Json &v, const std::string &f) {
      to = Array<std::tuple_size_v<std::remove_reference_t<decltype(to)>>>(v, f, "texts", Text);
    };
  };
  const auto textList = [](std::vector<std::string> &to) {
    return [&to](const Json &v, const std::string &f) { to = List(v, f, Text); };
  };
  const auto textMap = [](std::map<unsigned, std::string> &to) {
    return [&to](const Json &v, const std::string &f) {
      to = NumberedMap<unsigned>(v, f, 0, std::numeric_limits<unsigned>::max(), Text);
    };
  };

  Members m(j, "");
  m.Take("format", [](const Json &, const std::string &) {});
  m.Take("version", [](const Json &, const std::string &) {});
  m.Take("headerLines", texts(s.headerLines));
  m.Take("taxRates", [&](const Json &v, const std::string &f) {
    s.taxRates = Array<kTaxGroups>(v, f, "rates (hundredths of a percent, null for none)",
                                   [](const Json &rate, const std::string &g) -> std::optional<int> {
                                     if (rate.is_null()) return std::nullopt;
                                     return static_cast<int>(Whole(rate, g, 0, kMaxRate));
                                   });
  });
  m.Take("clockOffsetSeconds", [&](const Json &v, const std::string &f) {
    s.clockOffset = std::chrono::seconds(Whole(v, f, -kMaxClockOffset, kMaxClockOffset));
  });
  m.Take("zReports", count(s.zReports));
  m.Take("linesFed", count(s.linesFed));
  m.Take("cuts", count(s.cuts));
  m.Take("diagnostics", count(s.diagnostics));
  m.Take("firmware", text(s.firmware));
  m.Take("firmwareDate", text(s.firmwareDate));
  m.Take("checksum", text(s.checksum));
  m.Take("switches", text(s.switches));
  m.Take("serialNumber", text(s.serialNumber));
  m.Take("fiscalMemoryNumber", text(s.fiscalMemoryNumber));
  m.Take("imsi", text(s.imsi));
  m.Take("premises", texts(s.premises));
  m.Take("premisesClosing", flag(s.premisesClosing));
  m.Take("workingHours", text(s.workingHours));
  m.Take("specificPurpose", text(s.specificPurpose));
  m.Take("premisesConclusions", count(s.premisesConclusions));
  m.Take("registration", texts(s.registration));
  m.Take("registrationState", text(s.registrationState));
  m.Take("procedures", textList(s.procedures));
  m.Take("receipt", [&](const Json &v, const std::string &f) { s.receipt = ReadReceipt(v, f); });
  m.Take("receipts", count(s.receipts));
  m.Take("fiscalReceipts", count(s.fiscalReceipts));
  m.Take("dayTotalCents", cents(s.dayTotalCents));
  m.Take("dayByGroup", [&](const Json &v, const std::string &f) { s.dayByGroup = GroupSums(v, f); });
  m.Take("cashInCents", cents(s.cashInCents));
  m.Take("cashOutCents", cents(s.cashOutCents));
  m.Take("reportsPrinted", count(s.reportsPrinted));
  m.Take("journalStores", count(s.journalStores));
  m.Take("articles", [&](const Json &v, const std::string &f) {
    s.articles = NumberedMap<uint32_t>(v, f, 0, std::numeric_limits<uint32_t>::max(), ReadArticle);
  });
  m.Take("departments", [&](const Json &v, const std::string &f) {
    s.departments = NumberedMap<unsigned>(v, f, 0, std::numeric_limits<unsigned>::max(), ReadDepartment);
  });
  m.Take("clerkNames", texts(s.clerkNames));
  m.Take("clerkPasswords", texts(s.clerkPasswords));
  m.Take("clerkIds", texts(s.clerkIds));
  m.Take("printOptions", text(s.printOptions));
  m.Take("autoCutter", flag(s.autoCutter));
  m.Take("logo", flag(s.logo));
  m.Take("logoRows", [&](const Json &v, const std::string &f) {
    s.logoRows = NumberedMap<unsigned>(v, f, 0, kMaxLogoRow, LogoRow);
  });
  m.Take("fonts", [&](const Json &v, const std::string &f) {
    s.fonts = Array<2>(v, f, "numbers", [](const Json &n, const std::string &g) {
      return static_cast<unsigned>(Whole(n, g, 0, std::numeric_limits<unsigned>::max()));
    });
  });
  m.Take("globalOptions", number(s.globalOptions));
  m.Take("decimalsAndCurrency", text(s.decimalsAndCurrency));
  m.Take("country", number(s.country));
  m.Take("taxNumber", text(s.taxNumber));
  m.Take("vatAccount", text(s.vatAccount));
  m.Take("texts", textMap(s.texts));
  m.Take("displayCharacters", textMap(s.displayCharacters));
  m.Take("flashWrites", count(s.flashWrites));
  m.Take("fiscalised", flag(s.fiscalised));
  m.Take("testArea", flag(s.testArea));
  m.Take("dhcp", flag(s.dhcp));
  m.Take("tcpIp", [&](const Json &v, const std::string &f) {
    s.tcpIp = Array<20>(v, f, "octets",
                        [](const Json &n, const std::string &g) { return static_cast<uint8_t>(Whole(n, g, 0, 255)); });
  });
  m.Take("gprsApn", text(s.gprsApn));
  m.Take("gprsUser", text(s.gprsUser));
  m.Take("gprsPassword", text(s.gprsPassword));
  m.Take("gprsTests", count(s.gprsTests));
  m.Take("locked", flag(s.locked));
  m.Take("unlockKey", text(s.unlockKey));
  m.Take("lockOwner", text(s.lockOwner));
  m.Take("counters", texts(s.counters));
  m.Take("journalPrints", textList(s.journalPrints));
  m.Take("journalCardActivations", count(s.journalCardActivations));
  m.Take("codeTable", [&](const Json &v, const std::string &f) { s.codeTable = CodeTable(v, f); });
  m.Take("logoWidthDots", number(s.logoWidthDots));
  m.Take("logoMaxRows", number(s.logoMaxRows));
  m.RefuseOthers();
}

// --- writing -------------------------------------------------------------------------------

template <typename Range>
Json TextArray(const Range &texts) {
  Json out = Json::array();
  for (const std::string &t : texts) out.push_back(ToUtf8(t));
  return out;
}

Json GroupSumsJson(const std::map<char, int64_t> &sums) {
  Json out = Json::object();
  for (const auto &[group, cents] : sums) out[ToUtf8(std::string(1, group))] = cents;
  return out;
}

template <typename Map, typename Write>
Json NumberedJson(const Map &map, Write write) {
  Json out = Json::object();
  for (const auto &[n, value] : map) out[std::to_string(n)] = write(value);
  return out;
}

Json TextJson(const std::string &t) { return ToUtf8(t); }

Json StateJson(const DeviceState &s) {
  Json j;
  j["format"] = kStateFormat;
  j["version"] = kStateVersion;
  j["headerLines"] = TextArray(s.headerLines);
  Json rates = Json::array();
  for (const auto &rate : s.taxRates) rates.push_back(rate ? Json(*rate) : Json());
  j["taxRates"] = rates;
  j["clockOffsetSeconds"] = static_cast<int64_t>(s.clockOffset.count());
  j["zReports"] = s.zReports;
  j["linesFed"] = s.linesFed;
  j["cuts"] = s.cuts;
  j["diagnostics"] = s.diagnostics;
  j["firmware"] = ToUtf8(s.firmware);
  j["firmwareDate"] = ToUtf8(s.firmwareDate);
  j["checksum"] = ToUtf8(s.checksum);
  j["switches"] = ToUtf8(s.switches);
  j["serialNumber"] = ToUtf8(s.serialNumber);
  j["fiscalMemoryNumber"] = ToUtf8(s.fiscalMemoryNumber);
  j["imsi"] = ToUtf8(s.imsi);
  j["premises"] = TextArray(s.premises);
  j["premisesClosing"] = s.premisesClosing;
  j["workingHours"] = ToUtf8(s.workingHours);
  j["specificPurpose"] = ToUtf8(s.specificPurpose);
  j["premisesConclusions"] = s.premisesConclusions;
  j["registration"] = TextArray(s.registration);
  j["registrationState"] = ToUtf8(s.registrationState);
  j["procedures"] = TextArray(s.procedures);
  const Receipt &r = s.receipt;
  j["receipt"] = {{"kind", r.kind == Receipt::Kind::Fiscal      ? "fiscal"
                           : r.kind == Receipt::Kind::NonFiscal ? "nonFiscal"
                                                                : "none"},
                  {"items", r.items},
                  {"totalCents", r.totalCents},
                  {"paidCents", r.paidCents},
                  {"paying", r.paying},
                  {"byGroup", GroupSumsJson(r.byGroup)}};
  j["receipts"] = s.receipts;
  j["fiscalReceipts"] = s.fiscalReceipts;
  j["dayTotalCents"] = s.dayTotalCents;
  j["dayByGroup"] = GroupSumsJson(s.dayByGroup);
  j["cashInCents"] = s.cashInCents;
  j["cashOutCents"] = s.cashOutCents;
  j["reportsPrinted"] = s.reportsPrinted;
  j["journalStores"] = s.journalStores;
  j["articles"] = NumberedJson(s.articles, [](const Article &a) {
    return Json{{"group", ToUtf8(std::string(1, a.group))},
                {"priceCents", a.priceCents},
                {"name", ToUtf8(a.name)},
                {"secondLine", ToUtf8(a.secondLine)},
                {"stock", ToUtf8(a.stock)}};
  });
  j["departments"] = NumberedJson(s.departments, [](const Department &d) {
    return Json{{"group", ToUtf8(std::string(1, d.group))},
                {"name", ToUtf8(d.name)},
                {"price", ToUtf8(d.price)},
                {"limits", ToUtf8(d.limits)}};
  });
  j["clerkNames"] = TextArray(s.clerkNames);
  j["clerkPasswords"] = TextArray(s.clerkPasswords);
  j["clerkIds"] = TextArray(s.clerkIds);
  j["printOptions"] = ToUtf8(s.printOptions);
  j["autoCutter"] = s.autoCutter;
  j["logo"] = s.logo;
  j["logoRows"] = NumberedJson(s.logoRows, TextJson);
  j["fonts"] = s.fonts;
  j["globalOptions"] = s.globalOptions;
  j["decimalsAndCurrency"] = ToUtf8(s.decimalsAndCurrency);
  j["country"] = s.country;
  j["taxNumber"] = ToUtf8(s.taxNumber);
  j["vatAccount"] = ToUtf8(s.vatAccount);
  j["texts"] = NumberedJson(s.texts, TextJson);
  j["displayCharacters"] = NumberedJson(s.displayCharacters, TextJson);
  j["flashWrites"] = s.flashWrites;
  j["fiscalised"] = s.fiscalised;
  j["testArea"] = s.testArea;
  j["dhcp"] = s.dhcp;
  j["tcpIp"] = s.tcpIp;
  j["gprsApn"] = ToUtf8(s.gprsApn);
  j["gprsUser"] = ToUtf8(s.gprsUser);
  j["gprsPassword"] = ToUtf8(s.gprsPassword);
  j["gprsTests"] = s.gprsTests;
  j["locked"] = s.locked;
  j["unlockKey"] = ToUtf8(s.unlockKey);
  j["lockOwner"] = ToUtf8(s.lockOwner);
  j["counters"] = TextArray(s.counters);
  j["journalPrints"] = TextArray(s.journalPrints);
  j["journalCardActivations"] = s.journalCardActivations;
  std::string table;
  for (const uint8_t b : s.codeTable) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    table += hex;
  }
  j["codeTable"] = table;
  j["logoWidthDots"] = s.logoWidthDots;
  j["logoMaxRows"] = s.logoMaxRows;
  return j;
}

std::string Describe(const nlohmann::json::exception &e) {
  // "[json.exception.parse_error.101] parse error at line 1, ..." without the bracket.
  std::string what = e.what();
  const size_t close = what.find("] ");
  return close == std::string::npos ? what : what.substr(close + 2);
}

}  // namespace

std::string SerialiseState(const DeviceState &state) { return StateJson(state).dump(2) + "\n"; }

std::optional<DeviceState> ParseState(std::string_view text, std::string *error) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    *error = "empty file";
    return std::nullopt;
  }
  Json j;
  try {
    j = Json::parse(text);
  } catch (const nlohmann::json::exception &e) {
    *error = "not valid JSON (" + Describe(e) + ")";
    return std::nullopt;
  }
  const auto format = j.is_object() ? j.find("format") : j.end();
  if (!j.is_object() || format == j.end() || *format != kStateFormat) {
    *error = "not a fiscal-sim state file";
    return std::nullopt;
  }
  const auto version = j.find("version");
  if (version == j.end() || !version->is_number_integer()) {
    *error = "field version: expected a whole number";
    return std::nullopt;
  }
  if (version->is_number_unsigned() ? version->get<uint64_t>() > kStateVersion
                                    : version->get<int64_t>() > kStateVersion) {
    *error = "version " + version->dump() + " is newer than this fiscal-sim (" + std::to_string(kStateVersion) + ")";
    return std::nullopt;
  }
  if (version->get<int64_t>() < 1) {
    *error = "version " + version->dump() + " is no version of this file";
    return std::nullopt;
  }
  DeviceState state;
  try {
    ReadState(j, state);
  } catch (const Refusal &r) {
    *error = r.what;
    return std::nullopt;
  } catch (const nlohmann::json::exception &e) {
    *error = Describe(e);
    return std::nullopt;
  }
  return state;
}

StateLoad LoadStateFile(const std::string &path, DeviceState *state, std::string *error) {
  struct stat st {};
  // Only nothing at all under the name is a new device; a dangling link or a folder is refused
  // by the open below. A folder that is not there is refused now rather than at every save.
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *error = path + ": there is no folder " + folder + " to keep it in";
      return StateLoad::Refused;
    }
    return StateLoad::Missing;
  }
  std::string why;
  const std::unique_ptr<std::istream> in = platform::OpenRegularFile(path, &why);
  if (!in) {
    *error = why;
    return StateLoad::Refused;
  }
  std::string text;
  char buffer[65536];
  while (in->read(buffer, sizeof buffer) || in->gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in->gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxFileBytes) {
      *error = path + ": larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB, no state file";
      return StateLoad::Refused;
    }
  }
  if (in->bad()) {
    *error = path + ": cannot be read";
    return StateLoad::Refused;
  }
  std::optional<DeviceState> loaded = ParseState(text, &why);
  if (!loaded) {
    *error = path + ": " + why;
    return StateLoad::Refused;
  }
  *state = std::move(*loaded);
  return StateLoad::Loaded;
}

StateSaver::StateSaver(std::string path, std::string program, Report report)
    : path_(std::move(path)), program_(std::move(program)), report_(std::move(report)) {}

void StateSaver::SetBaseline(const DeviceState &state) { written_ = SerialiseState(state); }

bool StateSaver::Save(const DeviceState &state) {
  std::string text = SerialiseState(state);
  if (text == written_) return true;
  std::string error;
  if (!platform::WriteFileAtomically(path_, text, &error)) {
    if (!failing_) {
      const std::string line =
          program_ + ": cannot save the device state in " + path_ + ": " + error + "; trying again after each command";
      if (report_)
        report_(line);
      else
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    failing_ = true;
    return false;
  }
  if (failing_) {
    const std::string line = program_ + ": the device state is saved in " + path_ + " again";
    if (report_)
      report_(line);
    else
      std::fprintf(stderr, "%s\n", line.c_str());
  }
  failing_ = false;
  written_ = std::move(text);
  return true;
}

SimulatorOptions::AnswerHook StateSaver::Chain(SimulatorOptions::AnswerHook previous) {
  return [this, previous = std::move(previous)](const DeviceModel &model, uint8_t cmd, std::string_view data,
                                                const Answer &answer) {
    if (previous) previous(model, cmd, data, answer);
    Save(model.State());
  };
}

std::unique_ptr<StateSaver> OpenStateFile(const std::string &path, const std::string &program, DeviceState *state,
                                          SimulatorOptions *options) {
  std::string error;
  switch (LoadStateFile(path, state, &error)) {
    case StateLoad::Refused:
      std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
      return nullptr;
    case StateLoad::Missing:
      std::fprintf(stderr, "%s: new device state in %s, written at the first change\n", program.c_str(), path.c_str());
      break;
    case StateLoad::Loaded:
      std::fprintf(stderr, "%s: device state from %s\n", program.c_str(), path.c_str());
      break;
  }
  auto saver = std::make_unique<StateSaver>(path, program);
  saver->SetBaseline(*state);
  options->afterCommand = saver->Chain(std::move(options->afterCommand));
  return saver;
}

}  // namespace fiscalsim
