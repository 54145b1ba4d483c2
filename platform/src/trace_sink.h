// Where traces go when no TraceCapture takes them: the platform's own destinations.
#pragma once

#include <string>

namespace platform {

// Whether an uncaptured trace reaches any destination.
bool TraceSinkEnabled();
void WriteTraceSink(std::string text);

// Shared by the sinks: the VRN_TRACE switch, and stderr with the final newline added.
bool TraceToStderr();
void WriteTraceToStderr(std::string text);

}  // namespace platform
