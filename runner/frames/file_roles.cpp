#include "runner/frames/file_roles.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <utility>

#include "runner/host/host_error.h"

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

// The name the system finds the file under: links and dots resolved as far
// as the path exists.
std::string resolved(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) return path;
  fs::path canonical = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal().string() : canonical.string();
}

// A file that exists, as the device and inode it lives in: two names of one
// file (hard links included) give the same.
bool identity(const std::string& path, std::pair<dev_t, ino_t>* id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  *id = {st.st_dev, st.st_ino};
  return true;
}

class Seen {
 public:
  // The role already holding path's file, or null; then path is noted as role's.
  const FileRole* note(const FileRole& file) {
    const FileRole* found = nullptr;
    std::string name = resolved(file.path);
    auto byName = names_.find(name);
    if (byName != names_.end()) found = byName->second;
    std::pair<dev_t, ino_t> id;
    bool exists = identity(file.path, &id);
    if (!found && exists) {
      auto byId = ids_.find(id);
      if (byId != ids_.end()) found = byId->second;
    }
    names_.emplace(name, &file);
    if (exists) ids_.emplace(id, &file);
    return found;
  }

 private:
  std::map<std::string, const FileRole*> names_;
  std::map<std::pair<dev_t, ino_t>, const FileRole*> ids_;
};

}  // namespace

void refuseClashes(const std::vector<FileRole>& reads, const std::vector<FileRole>& writes) {
  Seen seen;
  for (const FileRole& read : reads) seen.note(read);
  for (const FileRole& write : writes) {
    const FileRole* other = seen.note(write);
    if (!other) continue;
    const bool isRead = other >= reads.data() && other < reads.data() + reads.size();
    throw HostError(write.path, "the " + write.role + " would " +
                                    (isRead ? "overwrite the " : "land on the same file as the ") +
                                    other->role + " " + other->path + "; choose another name");
  }
}

}  // namespace oru_runner
