// The code page through the system's own tables. Each code page is read once into a table of its
// 256 bytes, and the way out is that table backwards: exact by construction, with no best-fit
// mapping (WideCharToMultiByte would turn "ä" into "a" unless told not to, and would give back
// the bytes the code page leaves undefined).
#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/code_page.h"

namespace tillwright {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Table {
  std::array<char32_t, 256> toUnicode{};
  std::unordered_map<char32_t, char> toByte;
};

Table MakeTable(UINT number) {
  Table table;
  for (unsigned byte = 0; byte < 256; ++byte) {
    char32_t c = kReplacement;
    if (byte < 0x80) {
      c = byte;  // both code pages keep ASCII as it is
    } else {
      const char in = static_cast<char>(byte);
      wchar_t out = 0;
      // The system hands a byte its code page leaves undefined back as the C1 control of the
      // same number (cp1251's 0x98 as U+0098); no character of either code page is one.
      if (::MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &in, 1, &out, 1) == 1 && (out < 0x80 || out > 0x9F))
        c = out;
    }
    table.toUnicode[byte] = c;
    if (c != kReplacement) table.toByte.emplace(c, static_cast<char>(byte));
  }
  return table;
}

const Table &TableOf(int number) {
  static const Table cp1250 = MakeTable(1250);
  static const Table cp1251 = MakeTable(1251);
  return number == 1250 ? cp1250 : cp1251;
}

bool Continuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return byte >= low && byte <= high;
}

// The character that starts `rest` and its length in bytes; 0 bytes when no valid character
// starts there (a stray or missing continuation byte, an overlong form, a surrogate, a value past
// U+10FFFF), as a strict decoder such as iconv's refuses them.
size_t DecodeUtf8(std::string_view rest, char32_t &c) {
  const auto at = [&](size_t i) -> unsigned char { return i < rest.size() ? static_cast<unsigned char>(rest[i]) : 0; };
  const unsigned char lead = at(0);
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF && Continuation(at(1))) {
    c = (char32_t{lead} & 0x1F) << 6 | (at(1) & 0x3F);
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    if (Continuation(at(1), low, high) && Continuation(at(2))) {
      c = (char32_t{lead} & 0x0F) << 12 | (char32_t{at(1)} & 0x3F) << 6 | (at(2) & 0x3F);
      return 3;
    }
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    if (Continuation(at(1), low, high) && Continuation(at(2)) && Continuation(at(3))) {
      c = (char32_t{lead} & 0x07) << 18 | (char32_t{at(1)} & 0x3F) << 12 | (char32_t{at(2)} & 0x3F) << 6 |
          (at(3) & 0x3F);
      return 4;
    }
  }
  return 0;
}

void AppendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    // The table holds nothing beyond the Basic Multilingual Plane.
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string CodePage::ToDevice(std::string_view utf8) const {
  const Table &table = TableOf(number_);
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    char32_t c = 0;
    size_t length = DecodeUtf8(utf8, c);
    if (length == 0) {
      length = detail::BrokenUtf8Length(utf8);
      out.push_back('?');
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      const auto it = table.toByte.find(c);
      out.push_back(it != table.toByte.end() ? it->second : '?');
    }
    utf8.remove_prefix(length);
  }
  return out;
}

std::string CodePage::ToWidget(std::string_view bytes) const {
  const Table &table = TableOf(number_);
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char byte : bytes) AppendUtf8(out, table.toUnicode[static_cast<unsigned char>(byte)]);
  return out;
}

}  // namespace tillwright
