// What the DLL tests share: binding an export by name as a host does, and unloading with a
// bound on how long FreeLibrary may take.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace fiscal_test {

template <typename Fn>
Fn Bind(HMODULE dll, const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(dll, name)));
}

// FreeLibrary's result; a hang fails the test and ends the process, as an orderly exit would
// wait for the same loader lock.
inline bool FreeLibraryWithin(HMODULE dll, std::chrono::seconds limit) {
  auto unloaded = std::async(std::launch::async, [dll] { return ::FreeLibrary(dll) != 0; });
  if (unloaded.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "FreeLibrary did not return within " << limit.count() << " s";
    ::TerminateProcess(::GetCurrentProcess(), 1);
  }
  return unloaded.get();
}

}  // namespace fiscal_test
