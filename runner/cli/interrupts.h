// Ctrl-C and SIGTERM during a run. In a sequence the first one lets the
// frames under way finish and starts no more; a second one (or the first, for
// a single image) ends the process at once, after removing the temporary file
// being written, so that no half-written file is left behind.
#pragma once

#include <string>

namespace oru_runner {

// finishFirst: whether a first interrupt only asks the run to stop.
void installInterruptHandlers(bool finishFirst);

// True once an interrupt asked the run to stop.
bool stopRequested();

// Names the temporary file being written while it lives.
class TemporaryFileNote {
 public:
  explicit TemporaryFileNote(const std::string& path);
  ~TemporaryFileNote();
  TemporaryFileNote(const TemporaryFileNote&) = delete;
  TemporaryFileNote& operator=(const TemporaryFileNote&) = delete;
};

}  // namespace oru_runner
