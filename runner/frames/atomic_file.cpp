#include "runner/frames/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "runner/host/host_error.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

std::string lowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

#if defined(_WIN32)
int createNew(const char* name) {
  return _open(name, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
long writeSome(int fd, const char* data, std::size_t size) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
}
int flushToDisk(int fd) {
  return _commit(fd);
}
int closeFile(int fd) {
  return _close(fd);
}
int processId() {
  return _getpid();
}
// A rename that replaces an existing file (MoveFileEx underneath); gives
// why it failed, or "".
std::string renameOver(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  return ec ? lowerFirst(ec.message()) : std::string();
}
#else
int createNew(const char* name) {
  return open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
}
long writeSome(int fd, const char* data, std::size_t size) {
  return write(fd, data, size);
}
int flushToDisk(int fd) {
  return fsync(fd);
}
int closeFile(int fd) {
  return close(fd);
}
int processId() {
  return getpid();
}
std::string renameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? std::string()
                                                    : lowerFirst(std::strerror(errno));
}
#endif

}  // namespace

std::string temporaryNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  fs::path target(path);
  std::string name = "." + target.filename().string() + ".tmp-" + std::to_string(processId()) +
                     "-" + std::to_string(counter++);
  // Keep the extension last: image writers choose the format from it.
  name += target.extension().string();
  return (target.parent_path() / name).string();
}

std::string errorText(int error) {
  return lowerFirst(std::strerror(error));
}

FileReplacement::FileReplacement(const std::string& path, const std::string& temporary,
                                 const std::string& what)
    : path_(path), temporary_(temporary), what_(what) {
  fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  if (!fs::is_directory(folder.empty() ? fs::path(".") : folder, ec)) {
    throw HostError(path, "output folder does not exist");
  }
  fd_ = createNew(temporary.c_str());
  if (fd_ < 0) {
    done_ = true;  // nothing of this object's to remove
    throw HostError(path, "cannot create a file in the output folder: " + errorText(errno));
  }
}

FileReplacement::~FileReplacement() {
  if (!done_) discard();
}

int FileReplacement::append(const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    long written = writeSome(fd_, at, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;
    at += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

void FileReplacement::discard() {
  done_ = true;
  if (fd_ >= 0) closeFile(fd_);
  fd_ = -1;
  std::remove(temporary_.c_str());
}

void FileReplacement::fail(int error) {
  discard();
  throw HostError(path_, "cannot write " + what_ + ": " + errorText(error));
}

void FileReplacement::commit(int writeError) {
  if (writeError != 0) fail(writeError);
  // Durable before it takes the name: after a crash the name holds the old
  // file or the whole new one.
  if (flushToDisk(fd_) != 0) fail(errno);
  int fd = fd_;
  fd_ = -1;
  if (closeFile(fd) != 0 && errno != EINTR) fail(errno);
  std::string why = renameOver(temporary_, path_);
  if (!why.empty()) {
    discard();
    throw HostError(path_, "cannot replace the file: " + why);
  }
  done_ = true;
}

void writeFileAtomically(const std::string& path, const std::string& bytes) {
  FileReplacement file(path, temporaryNameBeside(path), "the file");
  file.commit(file.append(bytes.data(), bytes.size()));
}

}  // namespace oru_runner
