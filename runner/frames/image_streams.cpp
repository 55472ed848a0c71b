#include "runner/frames/image_streams.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace oru_runner {

namespace {

// Large enough that a PNG's many small chunks cost few system calls.
constexpr std::size_t kGatherBytes = std::size_t{1} << 20;

}  // namespace

FileWriteProxy::FileWriteProxy(int fd) : IOProxy("", Write), fd_(fd) {
  pending_.reserve(kGatherBytes);
}

void FileWriteProxy::put(const char* data, std::size_t size, int64_t offset) const {
  while (size > 0 && error_ == 0) {
    ssize_t written = ::pwrite(fd_, data, size, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error_ = written < 0 ? errno : ENOSPC;
      break;
    }
    data += written;
    offset += written;
    size -= static_cast<std::size_t>(written);
  }
}

void FileWriteProxy::drain() const {
  put(pending_.data(), pending_.size(), pendingAt_);
  pending_.clear();
}

size_t FileWriteProxy::write(const void* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  const char* bytes = static_cast<const char*>(data);
  // Gathered only while each write follows the one before.
  if (!pending_.empty() && (m_pos != pendingAt_ + static_cast<int64_t>(pending_.size()) ||
                            pending_.size() + size > kGatherBytes)) {
    drain();
  }
  if (size >= kGatherBytes) {
    put(bytes, size, m_pos);
  } else {
    if (pending_.empty()) pendingAt_ = m_pos;
    pending_.insert(pending_.end(), bytes, bytes + size);
  }
  m_pos += static_cast<int64_t>(size);
  end_ = std::max(end_, m_pos);
  return size;
}

size_t FileWriteProxy::pwrite(const void* data, size_t size, int64_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  drain();
  put(static_cast<const char*>(data), size, offset);
  end_ = std::max(end_, offset + static_cast<int64_t>(size));
  return size;
}

size_t FileWriteProxy::pread(void* data, size_t size, int64_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  drain();
  ssize_t got;
  do {
    got = ::pread(fd_, data, size, offset);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? 0 : static_cast<size_t>(got);
}

size_t FileWriteProxy::read(void* data, size_t size) {
  size_t got = pread(data, size, m_pos);
  m_pos += static_cast<int64_t>(got);
  return got;
}

bool FileWriteProxy::seek(int64_t offset) {
  m_pos = offset;
  return offset >= 0;
}

size_t FileWriteProxy::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(end_);
}

void FileWriteProxy::flush() const {
  std::lock_guard<std::mutex> lock(mutex_);
  drain();
}

void FileWriteProxy::close() {
  flush();
}

int FileWriteProxy::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  drain();
  return error_;
}

namespace {

// Where each thread's text for standard error goes while a LibraryMessages
// of its lives. Not thread_local: this code lives in a library the program
// loads, and LeakSanitizer's scan of such a library's thread storage stops
// the program at exit.
std::mutex captureMutex;
std::map<std::thread::id, std::string*>& captureTexts() {
  static std::map<std::thread::id, std::string*> byThread;
  return byThread;
}

std::string* capture() {
  std::lock_guard<std::mutex> lock(captureMutex);
  auto found = captureTexts().find(std::this_thread::get_id());
  return found == captureTexts().end() ? nullptr : found->second;
}

void setCapture(std::string* text) {
  std::lock_guard<std::mutex> lock(captureMutex);
  if (text) {
    captureTexts()[std::this_thread::get_id()] = text;
  } else {
    captureTexts().erase(std::this_thread::get_id());
  }
}

constexpr std::size_t kKeptBytes = 4096;
constexpr std::size_t kLineLength = 300;

ssize_t writeStandardError(void*, const char* data, size_t size) {
  if (std::string* text = capture()) {
    text->append(data, size);
    if (text->size() > 2 * kKeptBytes) text->erase(0, text->size() - kKeptBytes);
    return static_cast<ssize_t>(size);
  }
  for (size_t done = 0; done < size;) {
    ssize_t written = ::write(2, data + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(written);
  }
  return static_cast<ssize_t>(size);
}

// An unbuffered stream that writes through writeStandardError, made once
// and never closed: a thread may still hold it after it leaves stderr.
FILE* routingStream() {
  static FILE* const stream = [] {
    cookie_io_functions_t io{};
    io.write = writeStandardError;
    FILE* made = fopencookie(nullptr, "w", io);
    if (made) std::setvbuf(made, nullptr, _IONBF, 0);
    return made;
  }();
  return stream;
}

// While some thread captures, the routing stream stands in stderr's place
// (glibc lets a program assign stderr); the stream it stands in for is put
// back after the last capture ends, for a process that reopens stderr.
std::mutex routeMutex;
int captures = 0;
FILE* standardError = nullptr;

}  // namespace

LibraryMessages::LibraryMessages() : outer_(capture()) {
  std::lock_guard<std::mutex> lock(routeMutex);
  if (captures++ == 0 && routingStream()) {
    std::fflush(stderr);
    standardError = stderr;
    stderr = routingStream();
  }
  setCapture(&text_);
}

LibraryMessages::~LibraryMessages() {
  setCapture(outer_);
  std::lock_guard<std::mutex> lock(routeMutex);
  if (--captures == 0 && standardError) {
    stderr = standardError;
    standardError = nullptr;
  }
}

std::string LibraryMessages::lastLine() const {
  std::string text = text_;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::size_t start = text.find_last_of('\n');
  return printableText(start == std::string::npos ? text : text.substr(start + 1));
}

std::string printableText(const std::string& message) {
  std::string text;
  bool lineBreak = false;
  for (unsigned char c : message) {
    if (c == '\n' || c == '\r') {
      lineBreak = true;
      continue;
    }
    if (lineBreak) {
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (!text.empty()) text += "; ";
      lineBreak = false;
    }
    text += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : c == '\t' ? ' ' : '?';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() > kLineLength) text = text.substr(0, kLineLength - 3) + "...";
  return text;
}

}  // namespace oru_runner
