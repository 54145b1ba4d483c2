// The widgets' side of device texts: device bytes in the chosen single-byte code page (1251 for
// Bulgarian devices, 1250 for Croatian ones) against the widgets' Unicode.
#pragma once

#include <QString>
#include <string>

namespace tillwright {

class CodePage {
 public:
  // 1250 or 1251; anything else is refused by IsSupported and falls back to 1251 here.
  explicit CodePage(int number = 1251);
  static bool IsSupported(int number) { return number == 1250 || number == 1251; }

  // A character the code page lacks goes out as '?': never dropped silently, never cut short.
  std::string ToDevice(const QString &text) const;
  // A byte the code page does not define shows as U+FFFD.
  QString ToWidget(const std::string &bytes) const;

 private:
  int number_;
};

// The code page of the running program's widgets (from --codepage).
const CodePage &WidgetCodePage();
void SetWidgetCodePage(int number);

}  // namespace tillwright
