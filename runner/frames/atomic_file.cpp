#include "runner/frames/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "runner/host/host_error.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace oru_runner {

namespace fs = std::filesystem;

std::string temporaryNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  fs::path target(path);
  std::string name = "." + target.filename().string() + ".tmp-" + std::to_string(getpid()) + "-" +
                     std::to_string(counter++);
  // Keep the extension last: image writers choose the format from it.
  name += target.extension().string();
  return (target.parent_path() / name).string();
}

void replaceFileAtomically(const std::string& path,
                           const std::function<void(const std::string&)>& write) {
  fs::path target(path);
  fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) throw HostError(path, "output folder does not exist");

  std::string temporary = temporaryNameBeside(path);
  try {
    write(temporary);
  } catch (const HostError&) {
    fs::remove(temporary, ec);
    throw;
  } catch (const std::exception& e) {
    fs::remove(temporary, ec);
    throw HostError(path, e.what());
  }
  fs::rename(temporary, target, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw HostError(path, "cannot replace the file: " + ec.message());
  }
}

void writeFileAtomically(const std::string& path, const std::string& bytes) {
  replaceFileAtomically(path, [&](const std::string& temporary) {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw HostError(path, std::string("cannot write: ") + std::strerror(errno));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw HostError(path, "cannot write: the disk refused the data");
  });
}

}  // namespace oru_runner
