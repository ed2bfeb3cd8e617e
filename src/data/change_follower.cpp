#include "data/change_follower.h"

#include <algorithm>

#include "data/btr/base_changes.h"

namespace sono::data {

namespace {

// The folder and the name of a file's path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

}  // namespace

size_t ChangeFollower::rowsDue() const { return static_cast<size_t>(std::count(due_.begin(), due_.end(), true)); }

FollowUp ChangeFollower::tick(SongSearch& search, int station, TitleOption titles, size_t first, size_t last) {
  FollowUp out;
  SongGrid& grid = search.grid;
  // The grid changed under us (a new search, a sort, a save): the rows are
  // others, or in another order. Rows still due stay due, all of them.
  if (grid.generation() != generation_) {
    const bool anyDue = std::find(due_.begin(), due_.end(), true) != due_.end();
    due_.assign(grid.size(), anyDue);
    generation_ = grid.generation();
  }
  const auto [folder, name] = SplitPath(lib_.db().NomFichierBTR(lib_.base(), kSongs, station));
  if (!folder.empty()) {
    const btr::BaseChanges changes = btr::TakeBaseChanges(folder);
    out.everything = changes.everything;
    out.songFileChanged =
        changes.everything || std::find(changes.files.begin(), changes.files.end(), name) != changes.files.end();
  }
  if (out.songFileChanged) due_.assign(grid.size(), true);
  if (first <= last && first < grid.size()) {
    last = std::min(last, grid.size() - 1);
    for (size_t row = first; row <= last; ++row) {
      if (!due_[row]) continue;
      due_[row] = false;
      if (search.RafraichirLigne(row, station, titles)) out.rowsRead.push_back(row);
    }
  }
  generation_ = grid.generation();
  return out;
}

}  // namespace sono::data
