// The files a run reads and the files it writes, checked against each other
// before any work starts: no file is written that is also read, and no two
// writes land on one file, whatever the spelling (./, .., absolute, a
// symbolic link, a linked folder, a hard link).
#pragma once

#include <string>
#include <vector>

namespace oru_runner {

// A file and what it is to the run ("the input", "--save-settings", ...).
struct FileRole {
  std::string path;
  std::string role;
};

// Throws a HostError naming the written file and the file it would land on
// when a written file is one of the files read or another written file.
void refuseClashes(const std::vector<FileRole>& reads, const std::vector<FileRole>& writes);

}  // namespace oru_runner
