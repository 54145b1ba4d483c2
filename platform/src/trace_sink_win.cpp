#include <windows.h>

#include "trace_sink.h"

namespace platform {

// The debugger output is always a destination: a field engineer attaches a viewer to a running
// program without restarting it with VRN_TRACE set.
bool TraceSinkEnabled() { return true; }

void WriteTraceSink(std::string text) {
  ::OutputDebugStringA(text.c_str());
  if (TraceToStderr()) WriteTraceToStderr(std::move(text));
}

}  // namespace platform
