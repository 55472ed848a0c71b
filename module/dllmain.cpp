// The library's load and unload entry point on Windows, linked as the entry
// point itself, without the C runtime's start-up code. The module has no work
// to do when it is loaded or unloaded, nor when a thread starts or ends: the
// host calls Startup and Shutdown through the module descriptor instead.
#if defined(_WIN32) && !defined(ORU_STATIC_CORE)
#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}

// Without the start-up code there is no list of exit handlers. The C
// library's formatter registers one the first time it formats a
// floating-point number (to free its cache), which the module never does; a
// handler is accepted and never run.
int atexit(void (* /*handler*/)(void)) {
  return 0;
}

}  // extern "C"
#endif
