// What stands between the image library and the files and the terminal: a
// writer's bytes go through a proxy that notes a failed write (and lets the
// writer go on, so that no library ends the process over it), and what the
// libraries print on standard error is kept off the terminal while they work.
#pragma once

#include <OpenImageIO/filesystem.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace oru_runner {

// The image library's output into a file open for reading and writing,
// gathered in large writes. Every write reports all its bytes written; the
// first error is kept for error(), and the bytes after it are dropped.
class FileWriteProxy final : public OIIO::Filesystem::IOProxy {
 public:
  explicit FileWriteProxy(int fd);
  const char* proxytype() const override { return "oru-file"; }
  void close() override;
  bool seek(int64_t offset) override;
  size_t read(void* data, size_t size) override;
  size_t write(const void* data, size_t size) override;
  size_t pread(void* data, size_t size, int64_t offset) override;
  size_t pwrite(const void* data, size_t size, int64_t offset) override;
  size_t size() const override;
  void flush() const override;

  // Writes what is gathered; gives the first error met (an errno value) or 0.
  int finish();

 private:
  void drain() const;  // with mutex_ held
  void put(const char* data, std::size_t size, int64_t offset) const;

  int fd_;
  mutable std::mutex mutex_;
  mutable std::vector<char> pending_;  // bytes for the file from pendingAt_ on
  mutable int64_t pendingAt_ = 0;
  int64_t end_ = 0;  // the file's size once everything is written
  mutable int error_ = 0;
};

// While one lives, what its thread prints on the C library's standard
// error stream is kept in it instead of reaching the terminal: the image
// libraries print their own lines there ("libpng error: ...", warnings),
// which would break the one-line messages and the progress line. Meanwhile
// a stream stands in stderr's place that passes other threads' text (the
// progress line's) straight on to standard error.
class LibraryMessages {
 public:
  LibraryMessages();
  ~LibraryMessages();
  LibraryMessages(const LibraryMessages&) = delete;
  LibraryMessages& operator=(const LibraryMessages&) = delete;

  // The last line printed so far, as printableText gives it ("" for none).
  std::string lastLine() const;

 private:
  std::string text_;
  std::string* outer_;
};

// A message from a library as one line that is safe on a terminal: bytes
// outside printable ASCII (a file's raw bytes, escape sequences) become
// "?", line breaks "; ", and it is cut to a length a line can show.
std::string printableText(const std::string& message);

}  // namespace oru_runner
