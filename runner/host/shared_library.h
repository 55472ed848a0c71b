// A loaded shared library: dlopen on POSIX, LoadLibrary on Windows.
#pragma once

#include <string>

namespace oru_runner {

class SharedLibrary {
 public:
  // Opens the library at path; throws HostError naming the file on failure.
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of an exported name, or null when the library has none.
  void* symbol(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
};

}  // namespace oru_runner
