// What a killed program leaves beside the sounds, swept at the desktop's
// start: "<sound>.part<pid>" files of an edit, a conversion or an import,
// "<name>.tmp.XXXXXX" files of an atomic write, and undo levels
// ("<sound stem>.NNN.s48") of an editor that never unloaded its sound. Only
// files at least an hour old go (kStaleTempFileAgeSeconds): the sound folders
// are shared, and another workstation may be editing a sound right now. Edit
// journals ("<stem>.Edit") stay: the next load of their sound reads them.
//
// The sweep reads each sound folder once (about 0.1 s for 100,000 sounds).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/files.h"

namespace sono::editor {

// "<stem>.NNN.s48" with three digits, as the editor names its undo levels.
bool IsUndoLevelName(std::string_view name);

// The files removed from `folders` (absolute; each read once however often given).
std::vector<std::string> RemoveSoundLeftovers(const std::vector<std::string>& folders,
                                              int64_t minAgeSeconds = kStaleTempFileAgeSeconds);

// Every sound folder of `base` on each of its stations.
std::vector<std::string> SoundFoldersOf(const BaseInfo& base);

}  // namespace sono::editor
