#include "platform/library_attach.h"

#include <windows.h>

// Runs under the loader lock; on_library_attach only computes a path.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) platform::on_library_attach();
  return TRUE;
}
