// The hub's HTTP/JSON interface:
//   GET  /devices                          the devices served, by serial number
//   GET  /devices/{serial}                 identity, last status, line counts, queue length
//   POST /devices/scan                     looks again on the ports no device uses (one plugged in
//                                          since); answers what each port showed
//   GET  /devices/{serial}/journal?limit=  the newest calls on its line (op, result, status, time)
//   POST /devices/{serial}/receipts        a fiscal receipt          (documents.h has the bodies)
//   POST /devices/{serial}/non-fiscal      a non-fiscal receipt
//   POST /devices/{serial}/reports         an X, Z or period report
//   POST /devices/{serial}/cash            cash in or out
//   POST /devices/{serial}/commands        any command, as its code and data
//   GET  /documents/{key}                  a document's state, result and evidence
//   GET  /documents?device=&limit=         the newest documents
//   GET  /                                 the status page
// Every document carries an idempotency key (the Idempotency-Key header or the "key" member):
// the same key again answers what the first request got and sends nothing. Errors answer
// {"error": {"code": "...", "message": "..."}} with a 4xx status for the caller's faults.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "device_text.h"
#include "devices.h"
#include "store.h"

namespace httplib {
class Server;
}

namespace hub {

struct ApiOptions {
  // When set, every request must carry "Authorization: Bearer <token>".
  std::string token;
  // How long a document request waits for its outcome before answering 202 (in progress).
  std::chrono::milliseconds answerWait{60000};
  // The ports a scan looks at: those given at the start, or the Connect scan's list as it stands.
  std::function<std::vector<std::string>()> scanPorts;
};

void RegisterApi(httplib::Server &server, Devices &devices, Store &store, const DeviceText &text,
                 const ApiOptions &options);

// The HTTP status that answers a document in this state.
int StatusForState(DocState state);

// The record as callers see it: texts in UTF-8, steps left out.
nlohmann::json DocumentJson(const DocumentRecord &record);

// A key is 1..200 bytes of printable ASCII: it travels in a header and in URLs.
bool KeyIsSound(std::string_view key);

}  // namespace hub
