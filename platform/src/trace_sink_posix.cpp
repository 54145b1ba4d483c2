#include "trace_sink.h"

namespace platform {

bool TraceSinkEnabled() { return TraceToStderr(); }

void WriteTraceSink(std::string text) {
  if (TraceToStderr()) WriteTraceToStderr(std::move(text));
}

}  // namespace platform
