// Writing files so that a reader sees either the old file or the whole new
// one: the bytes go to a temporary file in the same folder, then a rename.
#pragma once

#include <functional>
#include <string>

namespace oru_runner {

// A temporary name beside path, unique to this process.
std::string temporaryNameBeside(const std::string& path);

// Calls write(temporaryPath) and renames the result over path. When write
// throws, or the rename fails, the temporary file is removed and path is left
// as it was; the error is rethrown as a HostError naming path.
void replaceFileAtomically(const std::string& path,
                           const std::function<void(const std::string& temporaryPath)>& write);

// Writes bytes to path atomically.
void writeFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace oru_runner
