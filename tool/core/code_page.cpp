#include "core/code_page.h"

#include "core/messages.h"

namespace tillwright {

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

}  // namespace tillwright
