#include "runner/frames/stale_temporaries.h"

#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

// The writer's pid when name is a temporary of the output named base
// (".BASE.tmp-PID-N.EXT"), else -1.
long writerOf(const std::string& name, const std::string& base) {
  const std::string head = "." + base + ".tmp-";
  const std::string extension = fs::path(base).extension().string();
  if (name.size() <= head.size() + extension.size() || name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
    return -1;
  }
  const std::string middle = name.substr(head.size(), name.size() - head.size() - extension.size());
  const std::size_t dash = middle.find('-');
  if (dash == 0 || dash == std::string::npos || dash > 9 || dash + 1 == middle.size()) return -1;
  for (std::size_t i = 0; i < middle.size(); ++i) {
    if (i != dash && (middle[i] < '0' || middle[i] > '9')) return -1;
  }
  return std::stol(middle.substr(0, dash));
}

bool running(long pid) {
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// For each folder, the file names of outputs in it.
std::map<fs::path, std::set<std::string>> byFolder(const std::vector<std::string>& outputs) {
  std::map<fs::path, std::set<std::string>> folders;
  for (const std::string& output : outputs) {
    fs::path path(output);
    fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    folders[folder].insert(path.filename().string());
  }
  return folders;
}

// The output base a temporary name belongs to among bases, and its writer.
bool matchTemporary(const std::string& name, const std::set<std::string>& bases, long* pid) {
  if (name.size() < 2 || name[0] != '.') return false;
  const std::size_t mark = name.rfind(".tmp-");
  if (mark == std::string::npos) return false;
  auto base = bases.find(name.substr(1, mark - 1));
  if (base == bases.end()) return false;
  *pid = writerOf(name, *base);
  return *pid > 0;
}

// Removes the temporary files of outputs whose writer's pid remove(pid)
// chooses; gives how many.
template <typename Choose>
int removeTemporaries(const std::vector<std::string>& outputs, Choose remove) {
  int removed = 0;
  for (const auto& [folder, bases] : byFolder(outputs)) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) continue;
    std::vector<fs::path> chosen;
    for (const fs::directory_entry& entry : it) {
      long pid = 0;
      if (matchTemporary(entry.path().filename().string(), bases, &pid) && remove(pid)) {
        chosen.push_back(entry.path());
      }
    }
    for (const fs::path& path : chosen) removed += fs::remove(path, ec) ? 1 : 0;
  }
  return removed;
}

}  // namespace

int removeStaleTemporaries(const std::vector<std::string>& outputs) {
  return removeTemporaries(outputs, [](long pid) { return !running(pid); });
}

void removeTemporariesOf(const std::string& output, int pid) {
  removeTemporaries({output}, [pid](long writer) { return writer == pid; });
}

}  // namespace oru_runner
