// Connection handling and the texts that need no device.
#include <string>

#include "command.h"
#include "seriallink/link.h"
#include "tallyport.h"

namespace tallyport {
namespace {

// Unloading the library disconnects. Made after the engine's own process-wide state (which
// Connect creates), so it is destroyed before that state, both at exit and at unload.
struct UnloadDisconnect {
  ~UnloadDisconnect() { seriallink::Disconnect(); }
};

void DisconnectAtUnload() { static UnloadDisconnect hook; }

}  // namespace
}  // namespace tallyport

using namespace tallyport;

extern "C" {

TALLYPORT_API int32_t Connect(const char *port, int32_t baudRate, int16_t dataBits, int16_t parity,
                              int16_t stopBits) {
  return Guarded("Connect", {port, baudRate, dataBits, parity, stopBits}, [&] {
    // The engine checks the line settings as unsigned 16-bit values, so -1 is refused, not
    // taken for 8 bits.
    const int32_t result = seriallink::Connect(Text(port), static_cast<uint32_t>(baudRate),
                                               static_cast<uint16_t>(dataBits), static_cast<uint16_t>(parity),
                                               static_cast<uint16_t>(stopBits));
    DisconnectAtUnload();
    return result;
  });
}

TALLYPORT_API int32_t Disconnect(void) {
  return Guarded("Disconnect", {}, [] { return static_cast<int32_t>(seriallink::Disconnect()); });
}

TALLYPORT_API int32_t SetHwnd4Message(int32_t window) {
  return Guarded("SetHwnd4Message", {window},
                 [&] { return static_cast<int32_t>(seriallink::SetHwnd4Message(window)); });
}

TALLYPORT_API void GetStatus(char *out) {
  GuardedVoid("GetStatus", {Out(out)}, [&] {
    if (const auto status = seriallink::GetStatus()) CopyOut(out, *status);
  });
}

TALLYPORT_API void GetErrorString(int32_t code, char *out) {
  GuardedVoid("GetErrorString", {code, Out(out)}, [&] { CopyOut(out, seriallink::ErrorText(code)); });
}

}  // extern "C"
