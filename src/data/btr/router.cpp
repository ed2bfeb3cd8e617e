// BTRCALL: hands each call to the engine that holds its file.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "base_engine.h"
#include "btr.h"
#include "engines.h"
#include "network_fs.h"

namespace sono::btr {

namespace {

std::mutex g_settingsMutex;
thread_local std::string t_refusal;
std::map<std::string, BaseEngine>& Settings() {
  static std::map<std::string, BaseEngine> settings;
  return settings;
}

std::string NormalisedFolder(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder.empty() ? "." : folder;
}

Engine* EngineOfBlock(const void* positionBlock) {
  if (!positionBlock) return nullptr;
  if (PostgresEngine().ownsBlock(positionBlock)) return &PostgresEngine();
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

void SetBaseEngine(const std::string& folder, const BaseEngine& engine) {
  std::lock_guard lock(g_settingsMutex);
  if (engine.kind == EngineKind::Lmdb)
    Settings().erase(NormalisedFolder(folder));
  else
    Settings()[NormalisedFolder(folder)] = engine;
}

BaseEngine BaseEngineOf(const std::string& path) {
  std::lock_guard lock(g_settingsMutex);
  const auto found = Settings().find(NormalisedFolder(FolderOf(path)));
  return found == Settings().end() ? BaseEngine{} : found->second;
}

bool FileExists(const std::string& path) {
  if (BaseEngineOf(path).kind == EngineKind::Lmdb) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  char block[kPositionBlockSize];
  std::memset(block, ' ', sizeof block);
  std::string key = path;
  key.resize(std::max(path.size() + 1, kMaxKeyLength), '\0');
  std::uint32_t none = 0;
  if (PostgresEngine().call(kOpen, block, nullptr, none, key.data(), int(key.size()), kModeReadOnly) != status::kOk)
    return false;
  PostgresEngine().call(kClose, block, nullptr, none, nullptr, 0, 0);
  return true;
}

int BTRCALL(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength, void* keyBuffer,
            int keyLength, int keyNumber) {
  if (operation == kOpen || operation == kCreate) {
    const std::string path = PathFromKey(keyBuffer, keyLength);
    Engine& target = BaseEngineOf(path).kind == EngineKind::Postgres ? PostgresEngine() : LmdbEngine();
    t_refusal.clear();
    if (&target == &LmdbEngine()) {
      const std::string folder = FolderOf(path);
      const std::string kind = NetworkFileSystemOf(folder);
      if (!kind.empty()) {
        t_refusal = NetworkFolderMessage(folder, kind);
        return status::kAccessDenied;
      }
    }
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

BaseChanges TakeBaseChanges(const std::string& folder) {
  const std::string base = NormalisedFolder(folder);
  BaseChanges all = LmdbEngine().takeBaseChanges(base);
  const BaseChanges pg = PostgresEngine().takeBaseChanges(base);
  all.everything = all.everything || pg.everything;
  for (const std::string& name : pg.files)
    if (std::find(all.files.begin(), all.files.end(), name) == all.files.end()) all.files.push_back(name);
  return all;
}

const char* btrLastRefusal() { return t_refusal.c_str(); }

}  // namespace sono::btr
