// Worker processes for a sequence run with -j, started by the oru program
// before it loads the image commands: loading them (the image library's few
// hundred shared libraries) takes a good part of a second, and so each
// worker does it while this process does, not after this process has
// started it. Nothing but this program's own code has run at that point, so
// a plain fork is safe.
#pragma once

#include "runner/cli/commands.h"
#include "runner/cli/workers.h"

namespace oru_runner {

// The workers started for the run of o, and their reaping.
class EarlyStart {
 public:
  // Starts a worker for every lane of the run after this process's own:
  // none unless o is a sequence run with more than one worker to be had.
  // Anything it cannot work out (a bad pattern or frame range) starts none:
  // the run itself reports it.
  explicit EarlyStart(const FilterOptions& o);
  // Lets go of the workers the run did not take and waits for them.
  ~EarlyStart();
  EarlyStart(const EarlyStart&) = delete;
  EarlyStart& operator=(const EarlyStart&) = delete;

  // For FilterOptions::early: null when none were started.
  EarlyWorkers* workers() { return workers_.lanes.empty() ? nullptr : &workers_; }

 private:
  EarlyWorkers workers_;
};

}  // namespace oru_runner
