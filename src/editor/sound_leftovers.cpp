#include "editor/sound_leftovers.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <set>

#include "core/text.h"

namespace sono::editor {

bool IsUndoLevelName(std::string_view name) {
  constexpr std::string_view kExtension = ".s48";
  // At least one character of stem, ".", three digits, ".s48".
  if (name.size() < 1 + 1 + 3 + kExtension.size() || name.substr(name.size() - kExtension.size()) != kExtension)
    return false;
  const std::string_view level = name.substr(name.size() - kExtension.size() - 3, 3);
  return name[name.size() - kExtension.size() - 4] == '.' &&
         std::all_of(level.begin(), level.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> RemoveSoundLeftovers(const std::vector<std::string>& folders, int64_t minAgeSeconds) {
  std::vector<std::string> removed;
  std::set<std::string> seen;
  for (const std::string& given : folders) {
    const std::string dir = CheckRep(given);
    if (dir.empty() || dir.front() != '/' || !seen.insert(dir).second) continue;
    for (std::string& path : RemoveStaleTempFiles(dir, minAgeSeconds)) removed.push_back(std::move(path));
    DIR* d = ::opendir(dir.c_str());
    if (!d) continue;
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
      if (!IsUndoLevelName(e->d_name)) continue;
      const std::string path = dir + e->d_name;
      struct stat st{};
      if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      // An undo level is a hard link to the old sound: its data may be
      // months old, the link is as new as its change time.
      if (static_cast<int64_t>(now - std::max(st.st_mtime, st.st_ctime)) < minAgeSeconds) continue;
      if (::unlink(path.c_str()) == 0) removed.push_back(path);
    }
    ::closedir(d);
  }
  return removed;
}

std::vector<std::string> SoundFoldersOf(const BaseInfo& base) {
  std::vector<std::string> folders;
  const int stations = std::clamp(base.stationCount, 1, kMaxStations);
  for (int s = 0; s < stations; ++s)
    for (const SoundFolder& kind : base.sounds[static_cast<size_t>(s)])
      if (!kind.folder.empty()) folders.push_back(kind.folder);
  return folders;
}

}  // namespace sono::editor
