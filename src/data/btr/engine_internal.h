// What the engine shares with its checker, its repair and its file helpers.
#pragma once
#include <sys/types.h>

#include <string>

#include "btr.h"

namespace sono::btr {

// Files the engine creates (data, lock and journal files) get the folder's
// read and write bits for the group and the others, and the folder's group,
// so that every account of the station's group can use them.
mode_t FolderFileMode(const std::string& folder);
void GiveFolderGroup(int fd, const std::string& folder);

// Makes sure LMDB finds a lock file it can map: a missing one is created with
// the folder's permissions (an existing one's owner widens its mode to the
// folder's), and its bytes are allocated before LMDB maps it, so that a full
// disk gives status 18 here instead of a bus error when LMDB touches the map.
// A lock file is never deleted: another opener may already rely on it.
int prepareLockFile(const std::string& lockPath, const std::string& folder);

// Builds an empty file of definition `def` (format 2) at `tmp`, syncs it and
// renames it to `finalPath`; the status of the creation.
int buildEmptyFile(const std::string& tmp, const FileDef& def, const std::string& finalPath);

// True when this process has `path` open through the engine.
bool FileInUseHere(const std::string& path);
// Locks byte 0 of an open descriptor of a data file exclusively: 0, or 85
// when another opener holds it.
int LockFileAlone(int fd);

}  // namespace sono::btr
