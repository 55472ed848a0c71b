// Files the user names as inputs (images, settings files, scripts): only a
// regular file is taken, so that a FIFO, a device or a folder given by
// mistake is refused at once instead of being read forever or blocked on.
#pragma once

#include <cstdint>
#include <string>

namespace oru_runner {

// Throws a HostError naming path unless it names an existing regular file
// (a symbolic link is followed): says what it is instead, or why it cannot
// be looked at.
void requireRegularFile(const std::string& path);

// The whole of a regular file of at most maxBytes bytes. Throws a HostError
// naming path when it is not one, is larger, or cannot be read.
std::string readSmallFile(const std::string& path, std::uintmax_t maxBytes);

}  // namespace oru_runner
