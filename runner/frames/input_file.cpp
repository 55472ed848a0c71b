#include "runner/frames/input_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runner/host/host_error.h"

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

std::string lowerFirst(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

}  // namespace

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
  if (ec) throw HostError(path, "cannot look at the file: " + lowerFirst(ec.message()));
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
  if (!in) throw HostError(path, "cannot read the file: " + lowerFirst(std::strerror(errno)));
  std::string bytes(static_cast<std::size_t>(maxBytes) + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) throw HostError(path, "cannot read the file: " + lowerFirst(std::strerror(errno)));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > maxBytes) throw HostError(path, "the file is too large");
  return bytes;
}

}  // namespace oru_runner
