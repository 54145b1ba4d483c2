// Texts between the hub's callers and the device. Callers speak UTF-8; the device keeps its texts
// as bytes of a single-byte code page (1251, or 1250 on Croatian devices). On the way to a
// worker and in the hub's own record, device bytes travel inside JSON as "byte strings": each
// byte as the character of the same number (U+0000..U+00FF), so any byte survives JSON intact.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hub {

class DeviceText {
 public:
  // 1250 or 1251; IsSupported tells.
  explicit DeviceText(int codePage = 1251);
  static bool IsSupported(int codePage) { return codePage == 1250 || codePage == 1251; }
  int CodePage() const { return codePage_; }

  // UTF-8 to device bytes; nothing for broken UTF-8 or a character the code page lacks, so that
  // nothing is printed other than what the caller wrote.
  std::optional<std::string> ToDevice(std::string_view utf8) const;
  // Device bytes to UTF-8; a byte the code page does not define shows as U+FFFD.
  std::string FromDevice(std::string_view bytes) const;

 private:
  int codePage_;
};

// Device bytes as a byte string, and back; nothing when a character is above U+00FF or the
// UTF-8 is broken.
std::string BytesToByteString(std::string_view bytes);
std::optional<std::string> ByteStringToBytes(std::string_view byteString);

}  // namespace hub
