#include "programming/set_sn.h"

#include "core/code_page.h"

namespace tillwright {

// The template's second field (1034) stays hidden and unread.
CSetSN::CSetSN() : Dialog("set_sn") { Uses({kSerialField, ui::kIdOk, ui::kIdCancel}); }

// The number goes out between commas ("7,<serial>,,").
void CSetSN::DoDataExchange(ui::DataExchange &dx) { SeparatedDeviceText(dx, kSerialField, serial_); }

}  // namespace tillwright
