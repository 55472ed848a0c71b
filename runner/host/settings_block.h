// The module's saved settings as the host keeps them: one 120-byte block,
// handed to the module through load and save records, kept in a file as the
// module wrote it.
#pragma once

#include <array>
#include <string>

#include "host/host_records.h"

namespace oru_runner {

using SettingsBlock = std::array<char, kSettingsBlockSize>;

// The text of a block: its bytes up to the first zero byte (or all 120).
std::string settingsText(const SettingsBlock& block);

// A block holding text, zero-filled after it. The text must be shorter than 120 bytes.
SettingsBlock settingsBlockFromText(const std::string& text);

// Reads a settings file: it must hold at least 120 bytes. Throws HostError
// naming the file when it is missing, unreadable or short.
SettingsBlock readSettingsFile(const std::string& path);

// Writes the block to path atomically.
void writeSettingsFile(const std::string& path, const SettingsBlock& block);

// A load record that delivers block to one readBlock call.
class BlockReader {
 public:
  explicit BlockReader(const SettingsBlock& block);
  const LoadState* state() const { return &state_; }

 private:
  static int readBlock(void* handle, char* buffer, int length);
  SettingsBlock block_;
  LoadState state_{};
};

// A save record that keeps what the module writes.
class BlockWriter {
 public:
  BlockWriter();
  const SaveState* state() const { return &state_; }
  const SettingsBlock& block() const { return block_; }
  int bytesWritten() const { return written_; }

 private:
  static int writeBlock(void* handle, const char* buffer, int length);
  SettingsBlock block_{};
  int written_ = 0;
  SaveState state_{};
};

}  // namespace oru_runner
