// What the program keeps for its whole run and its dialogs share.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace tillwright {

// The largest logo the device takes, as it last said (command 128); 0 until it has.
struct LogoLimits {
  uint16_t maxRowBytes = 0;  // its width in dots divided by 8, rounded toward zero
  uint16_t maxRows = 0;
};

struct AppState {
  // Written by the connection monitor thread, read by the port scan on the user-interface thread.
  std::atomic<int> usbPresent{0};
  // Set by a successful port scan; the monitor reads it to keep the label at "Connected".
  std::atomic<int> serialConnected{0};

  // User-interface thread only.
  std::string resultText;       // the main dialog's result field
  std::string fiscalResultText; // left behind by the fiscalization dialog
  std::string lastStatusCopy;   // kept by "Fiscal start" when the link had a status

  // Kept across showings of the logo dialog.
  LogoLimits logoLimits;
};

}  // namespace tillwright
