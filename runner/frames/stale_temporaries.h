// Temporary files that a killed run left beside its outputs. They are named
// as temporaryNameBeside (atomic_file.h) names them, ".NAME.tmp-PID-N.EXT",
// so a run can tell its own kind from anything else in the folder and which
// process wrote each. A temporary file is never renamed into place by
// anyone but its writer: one left behind is only ever removed.
#pragma once

#include <string>
#include <vector>

namespace oru_runner {

// Removes the temporary files of outputs (files this run will write) whose
// writer is no longer running on this machine. Temporaries of other files
// are left alone, and so are those of live processes: other slices of a
// farm job may be writing beside this run, into the same folder. Gives how
// many were removed.
int removeStaleTemporaries(const std::vector<std::string>& outputs);

// Removes the temporary files of output that process pid wrote (a worker
// that died with the frame under way).
void removeTemporariesOf(const std::string& output, int pid);

}  // namespace oru_runner
