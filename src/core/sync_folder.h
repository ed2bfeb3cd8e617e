// Flushing a folder's names to disk, so that a rename or a new file in it
// survives a crash: the step after the rename of every atomic sound write.
#pragma once
#include <string>

namespace sono {

// Flushes `folder` itself ("" is the current folder). False when it could not
// be opened or flushed.
bool SyncFolder(const std::string& folder);

}  // namespace sono
