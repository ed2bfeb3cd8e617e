// Copies of sound files between the server folder and the workstation's
// local folder that survive a slow or broken link: the copy goes to
// "<target>.part<pid>" in the target folder (a name nothing reads, swept by
// RemoveStaleTempFiles), is flushed, read back and checked against the
// source (size and content hash), then renamed over the target and the
// folder flushed. Any failure removes the partial file: the target keeps
// its previous content (or stays absent) and the source is never written.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/ports.h"

namespace sono::editor {

// What a file is on disk: its size, modification time and content hash.
// `size` is -1 when there is no such file.
struct FileFacts {
  int64_t size = -1;
  int64_t modifiedNs = 0;
  uint64_t hash = 0;
  bool exists() const { return size >= 0; }
};

// 64-bit FNV-1a over the bytes.
uint64_t ContentHash(const void* data, size_t size, uint64_t seed = 0xcbf29ce484222325ULL);
// Size and time without reading the file.
FileFacts StatFacts(const std::string& path);
// Size, time and the hash of the whole file; nothing when it cannot be read.
std::optional<FileFacts> ReadFacts(const std::string& path, std::string* error = nullptr);

struct CopyOptions {
  // A read-rate limit (bytes per second, 0: none), paced by `clock`: a slow
  // link is simulated by a manual clock that advances instead of waiting.
  int64_t bytesPerSecond = 0;
  Clock* clock = nullptr;
  // Told after each block (bytes copied, total); false stops the copy (the
  // link is gone).
  std::function<bool(int64_t done, int64_t total)> progress;
};

struct CopyResult {
  bool ok = false;
  std::string error;   // why it failed, in French
  FileFacts source;    // the source as copied (size, time, hash)
  FileFacts target;    // the target after the rename
};

inline constexpr size_t kCopyBlockBytes = 64 * 1024;

// Copies `from` to the file `to` (its folder must exist).
CopyResult CopyChecked(const std::string& from, const std::string& to, const CopyOptions& options = {});

}  // namespace sono::editor
