// Small per-thread settings. Both are best effort: a refusal of the system is not an error.
#pragma once

namespace platform {

// Shown by debuggers and `top -H`; Linux keeps the first 15 characters.
void SetCurrentThreadName(const char *name);

// One step above normal for receive threads, and back. Returns whether the system agreed.
bool RaiseCurrentThreadPriority();
void RestoreCurrentThreadPriority();

}  // namespace platform
