#include <windows.h>

#include <string>

#include "platform/thread.h"

namespace platform {
namespace {

using SetThreadDescriptionFn = HRESULT(WINAPI *)(HANDLE, PCWSTR);

// Looked up at run time: older Windows and wine lack it, and then threads stay unnamed.
SetThreadDescriptionFn FindSetThreadDescription() {
  static const SetThreadDescriptionFn fn = [] {
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return SetThreadDescriptionFn{};
    return reinterpret_cast<SetThreadDescriptionFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetThreadDescription")));
  }();
  return fn;
}

}  // namespace

void SetCurrentThreadName(const char *name) {
  const SetThreadDescriptionFn fn = FindSetThreadDescription();
  if (fn == nullptr || name == nullptr) return;
  // Names are ASCII identifiers chosen by the suite; widen byte by byte.
  std::wstring wide;
  for (const char *p = name; *p != '\0'; ++p) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
  fn(::GetCurrentThread(), wide.c_str());
}

bool RaiseCurrentThreadPriority() {
  return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL) != 0;
}

void RestoreCurrentThreadPriority() { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL); }

void KeepModuleLoaded() {
  // An address inside this module names it; pinning once is enough.
  static const bool pinned = [] {
    HMODULE self = nullptr;
    return ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                reinterpret_cast<LPCSTR>(&KeepModuleLoaded), &self) != 0;
  }();
  (void)pinned;
}

}  // namespace platform
