#include "runner/frames/input_file.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runner/frames/atomic_file.h"
#include "runner/host/host_error.h"

namespace oru_runner {

namespace fs = std::filesystem;

void requireRegularFile(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  switch (status.type()) {
    case fs::file_type::regular:
      return;
    case fs::file_type::not_found:
      throw HostError(path, "no such file");
    case fs::file_type::directory:
      throw HostError(path, "is a folder, not a file");
    case fs::file_type::fifo:
      throw HostError(path, "is a pipe (FIFO), not a regular file");
    case fs::file_type::character:
    case fs::file_type::block:
      throw HostError(path, "is a device, not a regular file");
    case fs::file_type::socket:
      throw HostError(path, "is a socket, not a regular file");
    default:
      break;
  }
  if (ec) throw HostError(path, "cannot look at the file: " + errorText(ec.value()));
  throw HostError(path, "is not a regular file");
}

std::string readSmallFile(const std::string& path, std::uintmax_t maxBytes) {
  requireRegularFile(path);
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (!ec && size > maxBytes) {
    throw HostError(path, "the file is too large (" + std::to_string(size) + " bytes; at most " +
                              std::to_string(maxBytes) + ")");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HostError(path, "cannot read the file: " + errorText(errno));
  std::string bytes(static_cast<std::size_t>(maxBytes) + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) throw HostError(path, "cannot read the file: " + errorText(errno));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > maxBytes) throw HostError(path, "the file is too large");
  return bytes;
}

}  // namespace oru_runner
