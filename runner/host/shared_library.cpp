#include "runner/host/shared_library.h"

#include <filesystem>
#include <system_error>

#include "runner/host/host_error.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace oru_runner {

SharedLibrary::SharedLibrary(const std::string& path) : path_(path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw HostError(path, "no such file");
  if (std::filesystem::is_directory(path, ec)) throw HostError(path, "is a folder, not a module");
#if defined(_WIN32)
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (!handle_) {
    throw HostError(
        path, "not a loadable library (LoadLibrary error " + std::to_string(GetLastError()) + ")");
  }
#else
  // A path without a slash would make dlopen search the library path.
  std::string where = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    throw HostError(path, std::string("not a loadable library (") + (why ? why : "unknown") + ")");
  }
#endif
}

SharedLibrary::~SharedLibrary() {
#if defined(_WIN32)
  if (handle_) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  if (handle_) dlclose(handle_);
#endif
}

void* SharedLibrary::symbol(const char* name) const {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

}  // namespace oru_runner
