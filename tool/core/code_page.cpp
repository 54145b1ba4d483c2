#include "core/code_page.h"

namespace tillwright {

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

}  // namespace tillwright
