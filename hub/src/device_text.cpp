#include "device_text.h"

#include <errno.h>
#include <iconv.h>

#include <string>

namespace hub {
namespace {

// One conversion with iconv; `strict` gives nothing at the first character that does not
// convert, otherwise such a byte becomes U+FFFD.
std::optional<std::string> Convert(const std::string &to, const std::string &from, std::string_view in, bool strict) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  char buffer[256];
  auto *inPtr = const_cast<char *>(in.data());
  size_t inLeft = in.size();
  bool ok = true;
  while (inLeft > 0) {
    char *outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    if (strict) {
      ok = false;
      break;
    }
    out.append("\xEF\xBF\xBD");
    ++inPtr;
    --inLeft;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

std::string Charset(int codePage) { return "CP" + std::to_string(codePage); }

}  // namespace

DeviceText::DeviceText(int codePage) : codePage_(IsSupported(codePage) ? codePage : 1251) {}

std::optional<std::string> DeviceText::ToDevice(std::string_view utf8) const {
  return Convert(Charset(codePage_), "UTF-8", utf8, true);
}

std::string DeviceText::FromDevice(std::string_view bytes) const {
  return Convert("UTF-8", Charset(codePage_), bytes, false).value_or(std::string());
}

std::string BytesToByteString(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::optional<std::string> ByteStringToBytes(std::string_view byteString) {
  std::string out;
  out.reserve(byteString.size());
  for (size_t i = 0; i < byteString.size(); ++i) {
    const auto b = static_cast<unsigned char>(byteString[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      continue;
    }
    // Only the two-byte forms of U+0080..U+00FF: lead byte C2 or C3.
    if ((b != 0xC2 && b != 0xC3) || i + 1 >= byteString.size()) return std::nullopt;
    const auto next = static_cast<unsigned char>(byteString[i + 1]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    out.push_back(static_cast<char>(((b & 0x03) << 6) | (next & 0x3F)));
    ++i;
  }
  return out;
}

}  // namespace hub
