#include "runner/host/settings_block.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "runner/frames/atomic_file.h"
#include "runner/frames/input_file.h"
#include "runner/host/host_error.h"

namespace oru_runner {

std::string settingsText(const SettingsBlock& block) {
  auto end = std::find(block.begin(), block.end(), '\0');
  return std::string(block.begin(), end);
}

SettingsBlock settingsBlockFromText(const std::string& text) {
  SettingsBlock block{};
  std::copy_n(text.begin(), std::min(text.size(), block.size() - 1), block.begin());
  return block;
}

SettingsBlock readSettingsFile(const std::string& path) {
  // A FIFO, a device or a folder is refused before it is opened.
  requireRegularFile(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HostError(path, std::string("cannot read settings: ") + std::strerror(errno));
  SettingsBlock block{};
  in.read(block.data(), block.size());
  std::streamsize got = in.gcount();
  if (got < static_cast<std::streamsize>(block.size())) {
    throw HostError(path, "settings file holds " + std::to_string(got) + " bytes, a block is " +
                              std::to_string(block.size()));
  }
  return block;
}

void writeSettingsFile(const std::string& path, const SettingsBlock& block) {
  writeFileAtomically(path, std::string(block.begin(), block.end()));
}

BlockReader::BlockReader(const SettingsBlock& block) : block_(block) {
  state_.readHandle = this;
  state_.readBlock = &BlockReader::readBlock;
}

int BlockReader::readBlock(void* handle, char* buffer, int length) {
  auto* self = static_cast<BlockReader*>(handle);
  int n = std::max(0, std::min(length, static_cast<int>(self->block_.size())));
  std::memcpy(buffer, self->block_.data(), static_cast<std::size_t>(n));
  return n;
}

BlockWriter::BlockWriter() {
  state_.writeHandle = this;
  state_.writeBlock = &BlockWriter::writeBlock;
}

int BlockWriter::writeBlock(void* handle, const char* buffer, int length) {
  auto* self = static_cast<BlockWriter*>(handle);
  int n = std::max(0, std::min(length, static_cast<int>(self->block_.size())));
  std::memcpy(self->block_.data(), buffer, static_cast<std::size_t>(n));
  self->written_ = length;
  return n;
}

}  // namespace oru_runner
