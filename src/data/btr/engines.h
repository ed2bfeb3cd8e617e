// The storage engines behind BTRCALL. BTRCALL (router.cpp) hands an open (0)
// or a create (14) to the engine of the base the path belongs to
// (base_engine.h), and every other call to the engine whose open filled the
// position block.
#pragma once
#include <cstdint>
#include <string>

#include "base_changes.h"

namespace sono::btr {

class Engine {
 public:
  virtual ~Engine() = default;
  // The call itself, with BTRCALL's arguments.
  virtual int call(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength,
                   void* keyBuffer, int keyLength, int keyNumber) = 0;
  // True when `positionBlock` was filled by an open of this engine.
  virtual bool ownsBlock(const void* positionBlock) const = 0;
  // TakeBaseChanges (base_changes.h) for the files this engine holds in
  // `folder`: the router merges both engines' answers.
  virtual BaseChanges takeBaseChanges(const std::string& folder) = 0;
};

// The embedded engine over LMDB (engine.cpp).
Engine& LmdbEngine();
// The network engine over PostgreSQL (pg_engine.cpp).
Engine& PostgresEngine();

// The path held by an open's or a create's key buffer (ends at the first
// NUL, trailing blanks dropped).
std::string PathFromKey(const void* key, int keyLength);
// The folder of a path ("." for a bare name), without a trailing "/".
std::string FolderOf(const std::string& path);

}  // namespace sono::btr
