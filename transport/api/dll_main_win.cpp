// The library's entry point on Windows: all it does is tell a process that ends from a library
// that is unloaded.
#include <windows.h>

#include "api/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Called before the C runtime runs the library's static destructors.
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) vrn::CDllApp::ProcessEnding();
  return TRUE;
}
