#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "core/code_page.h"

namespace tillwright {

namespace {

// Converts with iconv, replacing what cannot be converted. `skipBad` says how many input bytes
// one bad character takes (a whole UTF-8 sequence on the way out, one byte on the way in).
std::string Convert(const char *to, const char *from, std::string_view in, std::string_view replacement,
                    size_t (*skipBad)(std::string_view rest)) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: keep the ASCII and mark the rest rather than lose the text.
    for (char c : in) {
      if (static_cast<unsigned char>(c) < 0x80) out.push_back(c);
      else out.append(replacement);
    }
    return out;
  }
  char buffer[256];
  auto *inPtr = const_cast<char *>(in.data());
  size_t inLeft = in.size();
  while (inLeft > 0) {
    char *outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut short at the end): replace and go on.
    const size_t skip = std::min(inLeft, std::max<size_t>(1, skipBad(std::string_view(inPtr, inLeft))));
    out.append(replacement);
    inPtr += skip;
    inLeft -= skip;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv_close(cd);
  return out;
}

size_t OneByte(std::string_view) { return 1; }

std::string Charset(int number) { return "CP" + std::to_string(number); }

}  // namespace

std::string CodePage::ToDevice(std::string_view utf8) const {
  return Convert(Charset(number_).c_str(), "UTF-8", utf8, "?", detail::BrokenUtf8Length);
}

std::string CodePage::ToWidget(std::string_view bytes) const {
  return Convert("UTF-8", Charset(number_).c_str(), bytes, "\xEF\xBF\xBD", OneByte);
}

}  // namespace tillwright
