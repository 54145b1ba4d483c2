// The serial link as the printer library and the service tool use it: one process-wide
// connection, one command at a time.
//
// Printer library:                       Service tool:
//   Connect("COM1", 9600, 8, 0, 0);        SetFlavour(Flavour::Tool());   // once, at start
//   if (!IsConnected()) return 10002;      Connect("COM3", 115200, 8, 0, 0);
//   <check arguments> -> 10006             CommandResult r = Command(62, "");
//   Reply r = RunCommand(0x31, data);      // r.code, r.reply, r.status, r.error
//   GetStatus(); ErrorText(code);          Disconnect();
//
// Calls from several threads are serialised; a command holds the link for its whole exchange,
// except against Disconnect, which aborts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "seriallink/result_codes.h"
#include "seriallink/settings.h"

namespace seriallink {

// Creates the connection object and opens its port. 0, or 10001 when a connection exists or the
// port did not open. After a failed open the object stays, and Connect keeps answering 10001
// until Disconnect; each command then tries to open the port (see RunCommand).
int Connect(std::string_view port, uint32_t baudRate, uint16_t dataBits, uint16_t parity, uint16_t stopBits);

// Destroys the connection object, closing its port. Always 0. Safe from another thread while a
// command is in flight: that command ends at once with 10003 (whatever the device does, also
// while it keeps answering "busy"), commands that start meanwhile get 10002 or 10003, and the
// call returns once the port is closed (ClosePort's 200 ms, plus at most one write's time-out).
int Disconnect();

bool IsConnected();

// 0, or 10002 without a connection.
int SetHwnd4Message(int32_t window);

// Nothing without a connection (callers leave their text as it is); empty when the last command
// failed or no reply with a status has come yet; else twelve hex digits.
std::optional<std::string> GetStatus();

struct Reply {
  int32_t code = kSuccess;
  std::string data;  // the reply data when code is 0
};

// One command in the common shape: 10002 without a connection, 10006 for data longer than a
// frame holds (nothing sent), the frame made and exchanged with the flavour's time-out, 10004
// for a reply without status separator. Only the low byte of `code` goes on the wire; the data
// goes byte for byte.
//
// A port that never opened, or that failed (its device vanished), is opened again first, once,
// by the connection's name and settings: when that fails the command gives 10003 at once, and
// the next command tries again. A port that fails during the exchange ends it with 10003 at once.
Reply RunCommand(uint16_t code, std::string_view data);

struct CommandResult {
  int32_t code = kSuccess;
  std::string reply;   // the reply data when code is 0
  std::string status;  // the status text after the command, as GetStatus gives it
  std::string error;   // ErrorText(code)
};

// The service tool's generic command.
CommandResult Command(uint16_t code, std::string_view data);

// What the line did since the process started or the last ResetStatistics, for a diagnosis of
// the connection. Counting touches no byte on the wire.
struct Statistics {
  uint64_t requests = 0;  // frames exchanged (each command once, however often it was sent)
  uint64_t refusals = 0;  // NAKs received
  uint64_t busy = 0;      // SYN (device busy) receptions waited through
  uint64_t timeouts = 0;  // waits for a reply that ran out
  uint64_t resends = 0;   // frames written again after a time-out, NAK or mismatched reply
};
Statistics GetStatistics();
void ResetStatistics();

}  // namespace seriallink
