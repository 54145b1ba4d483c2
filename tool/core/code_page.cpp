#include "core/code_page.h"

#include <atomic>

namespace tillwright {

namespace {

std::atomic<int> g_widgetCodePage{1251};

}  // namespace

CodePage::CodePage(int number) : number_(IsSupported(number) ? number : 1251) {}

const CodePage &WidgetCodePage() {
  static const CodePage cp1250(1250);
  static const CodePage cp1251(1251);
  return g_widgetCodePage.load() == 1250 ? cp1250 : cp1251;
}

void SetWidgetCodePage(int number) { g_widgetCodePage = CodePage::IsSupported(number) ? number : 1251; }

void DeviceText(ui::DataExchange &dx, ui::ControlId id, std::string &bytes) {
  const CodePage &cp = WidgetCodePage();
  if (!dx.FromControls()) {
    std::string text = cp.ToWidget(bytes);
    dx.Text(id, text);
    return;
  }
  std::string text;
  dx.Text(id, text);
  if (!dx.Failed()) bytes = cp.ToDevice(text);
}

namespace detail {

size_t BrokenUtf8Length(std::string_view rest) {
  const auto lead = static_cast<unsigned char>(rest[0]);
  size_t n = 1;
  if (lead >= 0xF0) n = 4;
  else if (lead >= 0xE0) n = 3;
  else if (lead >= 0xC0) n = 2;
  size_t i = 1;
  while (i < n && i < rest.size() && (static_cast<unsigned char>(rest[i]) & 0xC0) == 0x80) ++i;
  return i;
}

}  // namespace detail

}  // namespace tillwright
