#include "core/code_page.h"

#include <atomic>

#include "core/messages.h"

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

void DeviceText(ui::DataExchange &dx, ui::ControlId id, std::string &bytes, size_t maxChars) {
  const CodePage &cp = WidgetCodePage();
  if (!dx.FromControls()) {
    std::string text = cp.ToWidget(bytes);
    dx.Text(id, text);
    return;
  }
  std::string text;
  dx.Text(id, text, maxChars);
  if (!dx.Failed()) bytes = cp.ToDevice(text);
}

void SeparatedDeviceText(ui::DataExchange &dx, ui::ControlId id, std::string &bytes, size_t maxChars) {
  if (!dx.FromControls() || dx.Failed()) {
    DeviceText(dx, id, bytes, maxChars);
    return;
  }
  std::string taken = bytes;
  DeviceText(dx, id, taken, maxChars);
  if (dx.Failed()) return;
  if (taken.find(',') != std::string::npos) {
    dx.Refuse(id, msg::kCommaRefused);
    return;
  }
  bytes = std::move(taken);
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
