// Writing files so that a reader sees either the old file or the whole new
// one: the bytes go to a temporary file in the same folder, which this
// process makes itself, and it takes the file's name only when every write,
// the flush to the disk and the close have succeeded.
#pragma once

#include <cstddef>
#include <string>

namespace oru_runner {

// A temporary name beside path, unique to this process:
// FOLDER/.NAME.tmp-PID-N.EXT (the extension last, as image writers want it).
std::string temporaryNameBeside(const std::string& path);

// The system's text for an error number, in lower case ("no space left on device").
std::string errorText(int error);

// A new file under a temporary name beside path. commit() gives it path's
// name; an object that goes without commit() removes it. Errors are
// HostErrors naming path, the file the person asked for.
class FileReplacement {
 public:
  // Creates temporary (a name from temporaryNameBeside(path)), never
  // opening a file that exists, with the permissions the umask leaves of
  // rw-rw-rw-. what names the contents in messages ("the image" gives
  // "cannot write the image: no space left on device").
  FileReplacement(const std::string& path, const std::string& temporary, const std::string& what);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  int descriptor() const { return fd_; }
  const std::string& temporary() const { return temporary_; }

  // Appends size bytes; gives 0, or the error number of the write that failed.
  int append(const void* data, std::size_t size);

  // writeError: the first error a write met (0: none). Unless there was one,
  // flushes the file to the disk, closes it and renames it over path; else,
  // or when any of those fail, removes it and throws.
  void commit(int writeError);

  // Removes the file and throws "cannot write WHAT: CAUSE" for error.
  [[noreturn]] void fail(int error);

 private:
  void discard();

  std::string path_, temporary_, what_;
  int fd_ = -1;
  bool done_ = false;
};

// Writes bytes to path atomically.
void writeFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace oru_runner
