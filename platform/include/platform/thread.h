// Small per-thread settings. Both are best effort: a refusal of the system is not an error.
#pragma once

namespace platform {

// Shown by debuggers and `top -H`; Linux keeps the first 15 characters.
void SetCurrentThreadName(const char *name);

// One step above normal for receive threads, and back. Returns whether the system agreed.
bool RaiseCurrentThreadPriority();
void RestoreCurrentThreadPriority();

// Keeps the DLL that holds this code loaded until the process ends; called before a library
// starts a thread of its own. On Windows a FreeLibrary while that thread ran would join it from
// the static destructors under the loader lock, which the ending thread needs too: a hang. Elsewhere
// nothing to do.
void KeepModuleLoaded();

}  // namespace platform
