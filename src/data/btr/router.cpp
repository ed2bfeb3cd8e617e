// BTRCALL: hands each call to the engine that holds its file.
#include "btr.h"
#include "engines.h"

namespace sono::btr {

namespace {

Engine* EngineOfBlock(const void* positionBlock) {
  if (!positionBlock) return nullptr;
  if (LmdbEngine().ownsBlock(positionBlock)) return &LmdbEngine();
  return nullptr;
}

}  // namespace

std::string PathFromKey(const void* key, int keyLength) {
  if (!key || keyLength <= 0) return {};
  const char* p = static_cast<const char*>(key);
  std::size_t n = 0;
  while (n < std::size_t(keyLength) && p[n] != '\0') ++n;
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t')) --n;
  return std::string(p, n);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

int BTRCALL(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength, void* keyBuffer,
            int keyLength, int keyNumber) {
  if (operation == kOpen || operation == kCreate) {
    const std::string path = PathFromKey(keyBuffer, keyLength);
    Engine& target = LmdbEngine();
    // A block still open on the other engine is closed first, as a reopen
    // on the same engine does.
    if (operation == kOpen) {
      Engine* current = EngineOfBlock(positionBlock);
      if (current && current != &target) {
        std::uint32_t none = 0;
        current->call(kClose, positionBlock, nullptr, none, nullptr, 0, 0);
      }
    }
    return target.call(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
  }
  Engine* engine = EngineOfBlock(positionBlock);
  if (!engine) return status::kNotOpen;
  return engine->call(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
}

}  // namespace sono::btr
