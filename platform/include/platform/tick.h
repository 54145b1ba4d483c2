// The millisecond tick of the device code: a 32-bit count that wraps, on the steady clock.
#pragma once

#include <cstdint>

namespace platform {

uint32_t TickCount();

// Milliseconds from `since` to now, correct across one wrap of the tick.
inline uint32_t TicksSince(uint32_t since) { return TickCount() - since; }

void SleepMs(uint32_t ms);

}  // namespace platform
