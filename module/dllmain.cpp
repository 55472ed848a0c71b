// The library's load and unload entry point on Windows. The module has no
// work to do when it is loaded or unloaded: the host calls Startup and
// Shutdown through the module descriptor instead.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
#endif
