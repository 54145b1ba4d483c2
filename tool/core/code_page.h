// The widgets' side of device texts: device bytes in the chosen single-byte code page (1251 for
// Bulgarian devices, 1250 for Croatian ones) against the UTF-8 that dialog views speak.
#pragma once

#include <string>
#include <string_view>

#include "dialogs/data_exchange.h"

namespace tillwright {

class CodePage {
 public:
  // 1250 or 1251; anything else is refused by IsSupported and falls back to 1251 here.
  explicit CodePage(int number = 1251);
  static bool IsSupported(int number) { return number == 1250 || number == 1251; }

  // UTF-8 to device bytes. A character the code page lacks (or a broken UTF-8 sequence) goes out
  // as '?': never dropped silently, never cut short.
  std::string ToDevice(std::string_view utf8) const;
  // Device bytes to UTF-8. A byte the code page does not define shows as U+FFFD.
  std::string ToWidget(std::string_view bytes) const;

 private:
  int number_;
};

// The code page of the running program's widgets (from --codepage).
const CodePage &WidgetCodePage();
void SetWidgetCodePage(int number);

// A field of device bytes bound to a text control through the widgets' code page.
void DeviceText(ui::DataExchange &dx, ui::ControlId id, std::string &bytes);

namespace detail {
// For the conversions' back ends, so that both replace the same bytes: how many bytes of `rest`
// (not empty, starting with a byte that begins no valid UTF-8 character) make up the one bad
// character. A broken sequence ends at the next byte that is not a continuation byte, so it never
// takes a good character with it.
size_t BrokenUtf8Length(std::string_view rest);
}  // namespace detail

}  // namespace tillwright
