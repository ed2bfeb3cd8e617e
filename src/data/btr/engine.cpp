// The record manager proper: environments, handles and operations over LMDB.
//
// A physical file is one LMDB environment (single-file mode, lock file beside
// it) holding the tables:
//   "meta"  format tag, the creation block, the 64-bit counter "next"
//   "rec"   big-endian 64-bit physical position -> header + record bytes
//   "k<n>"  one per key: folded key bytes [+ big-endian 64-bit sequence when
//           the key allows duplicates] -> big-endian position
// The record header is the record's version stamp followed by, for every key,
// the sequence its entry was filed under. Positions, sequences and version
// stamps all come from the counter, so they only ever increase.
#include <fcntl.h>
#include <lmdb.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "btr.h"

namespace sono::btr {

namespace {

constexpr char kBlockMagic[8] = {'S', 'N', 'T', 'K', 'B', 'T', 'R', '1'};
constexpr char kFormatTag[] = "sonoteka-btr 1";
constexpr std::uint32_t kMaxHandles = 4096;
constexpr auto kBusyLimit = std::chrono::milliseconds(200);
constexpr std::size_t kSeqBytes = 8;
constexpr std::size_t kMaxEntry = kMaxKeyLength + kSeqBytes;
constexpr std::size_t kMaxKeys = 119;
constexpr unsigned kMaxDbs = kMaxKeys + 2;

struct MdbError {
  int rc;
};

inline void ck(int rc) {
  if (rc != MDB_SUCCESS) throw MdbError{rc};
}

void putBE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<std::uint8_t>(v & 0xFF);
    v >>= 8;
  }
}

std::uint64_t getBE64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

std::uint64_t getU64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

void putU64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }

std::atomic<std::size_t> g_initialMap{std::size_t(256) << 20};

struct KeyInfo {
  std::vector<KeySegment> segs;
  std::size_t len = 0;
  bool dup = false;
  bool mod = false;
  MDB_dbi dbi = 0;
};

enum class Mut { Insert, Update, Delete };

// Changes made inside an explicit transaction, kept to rebuild it after the
// map had to grow. Record bytes are packed into large chunks.
class Journal {
 public:
  struct Entry {
    Mut kind;
    std::uint64_t pos;
    const std::uint8_t* data;
  };
  void add(Mut kind, std::uint64_t pos, const std::uint8_t* data, std::size_t length) {
    const std::uint8_t* copy = nullptr;
    if (data) {
      if (chunks_.empty() || used_ + length > kChunk) {
        chunks_.push_back(std::unique_ptr<std::uint8_t[]>(new std::uint8_t[std::max(kChunk, length)]));
        used_ = 0;
      }
      std::memcpy(chunks_.back().get() + used_, data, length);
      copy = chunks_.back().get() + used_;
      used_ += length;
    }
    entries_.push_back(Entry{kind, pos, copy});
  }
  const std::vector<Entry>& entries() const { return entries_; }
  void clear() {
    std::vector<Entry>().swap(entries_);
    chunks_.clear();
    used_ = 0;
  }

 private:
  static constexpr std::size_t kChunk = std::size_t(4) << 20;
  std::vector<Entry> entries_;
  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  std::size_t used_ = 0;
};

struct Env {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  pid_t pid = 0;
  int fd = -1;
  MDB_env* env = nullptr;
  MDB_dbi meta = 0;
  MDB_dbi rec = 0;
  FileDef def;
  std::vector<KeyInfo> keys;
  std::size_t recLen = 0;
  std::size_t hdrLen = 0;
  bool readOnly = false;
  bool exclusive = false;
  int refs = 0;
  std::mutex callMutex;
  std::size_t mapSize = 0;
  // Read side: one read transaction per environment, reset between calls.
  MDB_txn* rtxn = nullptr;
  std::vector<MDB_cursor*> rcur;  // per key, then the records table
  std::vector<std::uint64_t> rcurStamp;
  std::uint64_t stamp = 0;
  // Write side.
  MDB_txn* wtxn = nullptr;
  bool gate = false;
  bool explicitTxn = false;
  bool txnBroken = false;
  bool replaying = false;
  std::uint64_t next = 0;
  std::uint64_t nextAtBegin = 0;
  Journal journal;
  std::uint64_t abortGeneration = 0;
};

struct Handle {
  Env* env = nullptr;
  std::uint32_t slot = 0;
  std::uint32_t gen = 0;
  bool readOnly = false;
  int path = -1;  // key path of the last keyed get, -1 when none
  std::uint8_t entry[kMaxEntry];
  std::size_t entryLen = 0;
  bool hasPos = false;
  std::uint64_t pos = 0;
  bool hasRecord = false;
  std::uint64_t version = 0;
  std::uint64_t versionGen = 0;
};

// Process-wide registry. Calls on one environment are serialised by its
// callMutex; the registry lock guards opening, closing and creating.
std::mutex g_reg;
std::vector<Env*> g_envs;
std::atomic<Handle*> g_slots[kMaxHandles];
std::uint32_t g_gens[kMaxHandles];
std::atomic<pid_t> g_pid{0};

void refreshPid() { g_pid.store(getpid(), std::memory_order_relaxed); }

pid_t currentPid() {
  static const bool once = [] {
    refreshPid();
    pthread_atfork(nullptr, nullptr, refreshPid);
    return true;
  }();
  (void)once;
  return g_pid.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Keys.

void rawKey(const KeyInfo& k, const std::uint8_t* rec, std::uint8_t* out) {
  for (const KeySegment& s : k.segs) {
    std::memcpy(out, rec + s.position - 1, s.length);
    out += s.length;
  }
}

// Folds a key value laid out as its segments one after the other.
void foldKey(const KeyInfo& k, const std::uint8_t* in, std::uint8_t* out) {
  for (const KeySegment& s : k.segs) {
    const bool ci = s.flags & kKeyCaseInsensitive;
    const bool desc = s.flags & kKeyDescending;
    for (std::size_t i = 0; i < s.length; ++i) {
      std::uint8_t c = in[i];
      if (ci) c = foldCase1252(c);
      if (desc) c = static_cast<std::uint8_t>(0xFF - c);
      out[i] = c;
    }
    in += s.length;
    out += s.length;
  }
}

// Entry of key k for a record: folded key, then the sequence for duplicates.
std::size_t makeEntry(const KeyInfo& k, const std::uint8_t* rec, std::uint64_t seq, std::uint8_t* out) {
  std::uint8_t raw[kMaxKeyLength];
  rawKey(k, rec, raw);
  foldKey(k, raw, out);
  if (!k.dup) return k.len;
  putBE64(out + k.len, seq);
  return k.len + kSeqBytes;
}

MDB_val val(const void* p, std::size_t n) { return MDB_val{n, const_cast<void*>(p)}; }

// ---------------------------------------------------------------------------
// Locks on the data file (open file description locks, independent of the
// descriptors LMDB holds): byte 0 shared while the file is open (exclusive
// while it is being replaced or opened exclusively), byte 1 exclusive while
// a process writes.

bool tryLock(int fd, short type, off_t byte) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

void unlock(int fd, off_t byte) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  fcntl(fd, F_OFD_SETLK, &fl);
}

// Polls a lock for at most 200 ms; false when still held by someone else.
bool lockWithin(int fd, short type, off_t byte) {
  const auto deadline = std::chrono::steady_clock::now() + kBusyLimit;
  long pauseNs = 20000;
  for (;;) {
    if (tryLock(fd, type, byte)) return true;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    timespec ts{0, pauseNs};
    nanosleep(&ts, nullptr);
    pauseNs = std::min(pauseNs * 2, 2000000L);
  }
}

int acquireGate(Env& e) {
  if (e.gate) return status::kOk;
  if (!lockWithin(e.fd, F_WRLCK, 1)) return status::kFileLocked;
  e.gate = true;
  return status::kOk;
}

void releaseGate(Env& e) {
  if (!e.gate) return;
  unlock(e.fd, 1);
  e.gate = false;
}

// ---------------------------------------------------------------------------
// Transactions.

void adoptMapSize(Env& e) {
  ck(mdb_env_set_mapsize(e.env, 0));
  MDB_envinfo info;
  ck(mdb_env_info(e.env, &info));
  e.mapSize = info.me_mapsize;
}

void grow(Env& e) {
  MDB_envinfo info;
  ck(mdb_env_info(e.env, &info));
  const std::size_t size = std::max(info.me_mapsize, e.mapSize) * 2;
  ck(mdb_env_set_mapsize(e.env, size));
  e.mapSize = size;
}

std::uint64_t loadNext(Env& e, MDB_txn* txn) {
  MDB_val k = val("next", 4), v;
  ck(mdb_get(txn, e.meta, &k, &v));
  if (v.mv_size != 8) throw MdbError{MDB_CORRUPTED};
  return getU64(static_cast<const std::uint8_t*>(v.mv_data));
}

void storeNext(Env& e) {
  std::uint8_t buf[8];
  putU64(buf, e.next);
  MDB_val k = val("next", 4), v = val(buf, 8);
  ck(mdb_put(e.wtxn, e.meta, &k, &v, 0));
}

void beginWrite(Env& e) {
  for (int attempt = 0;; ++attempt) {
    MDB_txn* t = nullptr;
    int rc = mdb_txn_begin(e.env, nullptr, 0, &t);
    if (rc == MDB_MAP_RESIZED && attempt < 4) {
      adoptMapSize(e);
      continue;
    }
    ck(rc);
    e.wtxn = t;
    break;
  }
  e.next = loadNext(e, e.wtxn);
}

void abortWrite(Env& e) {
  if (e.wtxn) mdb_txn_abort(e.wtxn);
  e.wtxn = nullptr;
}

void commitWrite(Env& e) {
  storeNext(e);
  MDB_txn* t = e.wtxn;
  e.wtxn = nullptr;
  ck(mdb_txn_commit(t));  // the handle is freed whatever the outcome
}

// A read view for one call: the explicit transaction when one is active,
// otherwise the environment's read transaction renewed to the latest commit.
class Reader {
 public:
  explicit Reader(Env& e) : e_(e) {
    ++e_.stamp;
    if (e_.wtxn) {
      txn_ = e_.wtxn;
      own_.assign(e_.keys.size() + 1, nullptr);
      return;
    }
    for (int attempt = 0;; ++attempt) {
      int rc = e_.rtxn ? mdb_txn_renew(e_.rtxn) : mdb_txn_begin(e_.env, nullptr, MDB_RDONLY, &e_.rtxn);
      if (rc == MDB_MAP_RESIZED && attempt < 4) {
        adoptMapSize(e_);  // another process grew the map
        continue;
      }
      ck(rc);
      break;
    }
    txn_ = e_.rtxn;
    renewed_ = true;
  }
  ~Reader() {
    for (MDB_cursor* c : own_)
      if (c) mdb_cursor_close(c);
    if (renewed_) mdb_txn_reset(e_.rtxn);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  MDB_txn* txn() const { return txn_; }

  // Cursor on key table idx, or on the records table when idx == keys.size().
  MDB_cursor* cursor(std::size_t idx) {
    const MDB_dbi dbi = idx < e_.keys.size() ? e_.keys[idx].dbi : e_.rec;
    if (!renewed_) {
      if (!own_[idx]) ck(mdb_cursor_open(txn_, dbi, &own_[idx]));
      return own_[idx];
    }
    MDB_cursor*& c = e_.rcur[idx];
    if (!c) {
      ck(mdb_cursor_open(txn_, dbi, &c));
    } else if (e_.rcurStamp[idx] != e_.stamp) {
      ck(mdb_cursor_renew(txn_, c));
    }
    e_.rcurStamp[idx] = e_.stamp;
    return c;
  }

 private:
  Env& e_;
  MDB_txn* txn_ = nullptr;
  bool renewed_ = false;
  std::vector<MDB_cursor*> own_;
};

// ---------------------------------------------------------------------------
// Mutations. Each runs inside e.wtxn after its checks passed, so it cannot
// fail for a logical reason; an engine error throws and the caller rolls the
// whole write transaction back.

void journal(Env& e, Mut kind, std::uint64_t pos, const std::uint8_t* data) {
  if (!e.explicitTxn || e.replaying) return;
  e.journal.add(kind, pos, data, e.recLen);
}

// Returns 0, or 5 when a key without duplicates already holds the value (the
// file is then as it was).
int applyInsert(Env& e, const std::uint8_t* data, std::uint64_t& posOut) {
  const std::uint64_t pos = e.next;
  std::uint8_t posKey[8];
  putBE64(posKey, pos);
  std::uint8_t entry[kMaxEntry];
  // Keys without duplicates first: a value already taken refuses the record
  // before anything else is written.
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    const KeyInfo& key = e.keys[i];
    if (key.dup) continue;
    MDB_val ek = val(entry, makeEntry(key, data, pos, entry)), ev = val(posKey, 8);
    int rc = mdb_put(e.wtxn, key.dbi, &ek, &ev, MDB_NOOVERWRITE);
    if (rc == MDB_KEYEXIST) {
      for (std::size_t j = 0; j < i; ++j) {
        if (e.keys[j].dup) continue;
        MDB_val undo = val(entry, makeEntry(e.keys[j], data, pos, entry));
        ck(mdb_del(e.wtxn, e.keys[j].dbi, &undo, nullptr));
      }
      return status::kDuplicateKey;
    }
    ck(rc);
  }
  ++e.next;
  MDB_val k = val(posKey, 8), v;
  v.mv_size = e.hdrLen + e.recLen;
  v.mv_data = nullptr;
  ck(mdb_put(e.wtxn, e.rec, &k, &v, MDB_RESERVE | MDB_APPEND));
  auto* out = static_cast<std::uint8_t*>(v.mv_data);
  putU64(out, pos);
  for (std::size_t i = 0; i < e.keys.size(); ++i) putU64(out + 8 + 8 * i, pos);
  std::memcpy(out + e.hdrLen, data, e.recLen);
  for (const KeyInfo& key : e.keys) {
    if (!key.dup) continue;
    MDB_val ek = val(entry, makeEntry(key, data, pos, entry)), ev = val(posKey, 8);
    ck(mdb_put(e.wtxn, key.dbi, &ek, &ev, MDB_NOOVERWRITE));
  }
  journal(e, Mut::Insert, pos, data);
  posOut = pos;
  return status::kOk;
}

// Reads the stored value of a record into `out`; false when it is gone.
bool loadRecord(Env& e, MDB_txn* txn, std::uint64_t pos, std::vector<std::uint8_t>& out) {
  std::uint8_t posKey[8];
  putBE64(posKey, pos);
  MDB_val k = val(posKey, 8), v;
  int rc = mdb_get(txn, e.rec, &k, &v);
  if (rc == MDB_NOTFOUND) return false;
  ck(rc);
  if (v.mv_size != e.hdrLen + e.recLen) throw MdbError{MDB_CORRUPTED};
  const auto* p = static_cast<const std::uint8_t*>(v.mv_data);
  out.assign(p, p + v.mv_size);
  return true;
}

// Returns the new version stamp; `seqs` receives the sequence of every key.
std::uint64_t applyUpdate(Env& e, std::uint64_t pos, const std::uint8_t* data, std::vector<std::uint64_t>& seqs) {
  std::vector<std::uint8_t> old;
  if (!loadRecord(e, e.wtxn, pos, old)) throw MdbError{MDB_CORRUPTED};
  const std::uint64_t stampValue = e.next++;
  std::uint8_t posKey[8];
  putBE64(posKey, pos);
  seqs.resize(e.keys.size());
  std::uint8_t oldEntry[kMaxEntry], newEntry[kMaxEntry];
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    const KeyInfo& key = e.keys[i];
    const std::uint64_t oldSeq = getU64(old.data() + 8 + 8 * i);
    const std::size_t n = makeEntry(key, old.data() + e.hdrLen, oldSeq, oldEntry);
    makeEntry(key, data, oldSeq, newEntry);
    if (std::memcmp(oldEntry, newEntry, key.len) == 0) {
      seqs[i] = oldSeq;
      continue;
    }
    // A changed key is filed again at the end of its duplicates.
    MDB_val ok = val(oldEntry, n);
    ck(mdb_del(e.wtxn, key.dbi, &ok, nullptr));
    seqs[i] = stampValue;
    MDB_val nk = val(newEntry, makeEntry(key, data, stampValue, newEntry)), nv = val(posKey, 8);
    ck(mdb_put(e.wtxn, key.dbi, &nk, &nv, MDB_NOOVERWRITE));
  }
  MDB_val k = val(posKey, 8), v;
  v.mv_size = e.hdrLen + e.recLen;
  v.mv_data = nullptr;
  ck(mdb_put(e.wtxn, e.rec, &k, &v, MDB_RESERVE));
  auto* out = static_cast<std::uint8_t*>(v.mv_data);
  putU64(out, stampValue);
  for (std::size_t i = 0; i < e.keys.size(); ++i) putU64(out + 8 + 8 * i, seqs[i]);
  std::memcpy(out + e.hdrLen, data, e.recLen);
  journal(e, Mut::Update, pos, data);
  return stampValue;
}

void applyDelete(Env& e, std::uint64_t pos) {
  std::vector<std::uint8_t> old;
  if (!loadRecord(e, e.wtxn, pos, old)) throw MdbError{MDB_CORRUPTED};
  std::uint8_t entry[kMaxEntry];
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    const KeyInfo& key = e.keys[i];
    MDB_val ek = val(entry, makeEntry(key, old.data() + e.hdrLen, getU64(old.data() + 8 + 8 * i), entry));
    ck(mdb_del(e.wtxn, key.dbi, &ek, nullptr));
  }
  std::uint8_t posKey[8];
  putBE64(posKey, pos);
  MDB_val k = val(posKey, 8);
  ck(mdb_del(e.wtxn, e.rec, &k, nullptr));
  journal(e, Mut::Delete, pos, nullptr);
}

// After the map was grown inside an explicit transaction: the transaction is
// rebuilt from its journal (the gate is still held, so the file is as it was).
void rebuildAfterFull(Env& e) {
  for (;;) {
    abortWrite(e);
    grow(e);
    try {
      beginWrite(e);
      e.next = e.nextAtBegin;
      e.replaying = true;
      std::vector<std::uint64_t> seqs;
      std::uint64_t pos;
      for (const Journal::Entry& j : e.journal.entries()) {
        const std::uint8_t* d = j.data;
        switch (j.kind) {
          case Mut::Insert:
            if (applyInsert(e, d, pos) != status::kOk) throw MdbError{MDB_CORRUPTED};
            break;
          case Mut::Update: applyUpdate(e, j.pos, d, seqs); break;
          case Mut::Delete: applyDelete(e, j.pos); break;
        }
      }
      e.replaying = false;
      return;
    } catch (const MdbError& err) {
      e.replaying = false;
      if (err.rc != MDB_MAP_FULL) throw;
    }
  }
}

void endExplicit(Env& e) {
  abortWrite(e);
  e.explicitTxn = false;
  e.txnBroken = false;
  e.journal.clear();
  releaseGate(e);
}

int mapError(int rc) {
  switch (rc) {
    case EACCES:
    case EPERM:
    case EROFS: return status::kAccessDenied;
    default: return status::kIoError;
  }
}

// Runs a write: `check` may refuse with a status and changes nothing; `apply`
// changes the file. Outside an explicit transaction each call is its own
// LMDB transaction, retried after growing the map when it fills.
template <class Check, class Apply>
int runWrite(Env& e, const Handle& h, Check&& check, Apply&& apply) {
  if (h.readOnly) return status::kAccessDenied;
  if (e.explicitTxn) {
    if (e.txnBroken || !e.wtxn) return status::kIoError;
    try {
      int s = check(e.wtxn);
      if (s != status::kOk) return s;
      for (;;) {
        try {
          return apply();
        } catch (const MdbError& err) {
          if (err.rc != MDB_MAP_FULL) throw;
          rebuildAfterFull(e);
        }
      }
    } catch (const MdbError& err) {
      abortWrite(e);
      e.txnBroken = true;
      return mapError(err.rc);
    }
  }
  int g = acquireGate(e);
  if (g != status::kOk) return g;
  struct GateRelease {
    Env& e;
    ~GateRelease() { releaseGate(e); }
  } release{e};
  for (int attempt = 0;; ++attempt) {
    try {
      beginWrite(e);
      int s = check(e.wtxn);
      if (s != status::kOk) {
        abortWrite(e);
        return s;
      }
      s = apply();
      if (s != status::kOk) {
        abortWrite(e);
        return s;
      }
      commitWrite(e);
      return status::kOk;
    } catch (const MdbError& err) {
      abortWrite(e);
      if (err.rc == MDB_MAP_FULL && attempt < 40) {
        grow(e);
        continue;
      }
      return mapError(err.rc);
    }
  }
}

// ---------------------------------------------------------------------------
// Handles and the position block.

struct BlockHeader {
  char magic[8];
  std::uint32_t slot;
  std::uint32_t gen;
  std::int32_t pid;
};

Handle* lookup(const void* pb) {
  if (!pb) return nullptr;
  BlockHeader b;
  std::memcpy(&b, pb, sizeof b);
  if (std::memcmp(b.magic, kBlockMagic, 8) != 0 || b.slot >= kMaxHandles || b.pid != currentPid())
    return nullptr;
  Handle* h = g_slots[b.slot].load(std::memory_order_acquire);
  if (!h || h->gen != b.gen || h->env->pid != b.pid) return nullptr;
  return h;
}

void blankBlock(void* pb) { std::memset(pb, ' ', kPositionBlockSize); }

void closeEnv(Env* e) {
  abortWrite(*e);
  e->explicitTxn = false;
  releaseGate(*e);
  for (MDB_cursor* c : e->rcur)
    if (c) mdb_cursor_close(c);
  if (e->rtxn) mdb_txn_abort(e->rtxn);
  if (e->env) mdb_env_close(e->env);
  if (e->fd >= 0) ::close(e->fd);  // after the environment: releases our locks
  g_envs.erase(std::remove(g_envs.begin(), g_envs.end(), e), g_envs.end());
  delete e;
}

std::string pathFromKey(const void* key, int keyLength) {
  if (!key || keyLength <= 0) return {};
  const char* p = static_cast<const char*>(key);
  std::size_t n = 0;
  while (n < std::size_t(keyLength) && p[n] != '\0') ++n;
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t')) --n;
  return std::string(p, n);
}

std::string keyTableName(std::size_t key) {
  char name[24];
  std::snprintf(name, sizeof name, "k%zu", key);
  return name;
}

int loadDefinition(Env& e, MDB_txn* txn) {
  int rc = mdb_dbi_open(txn, "meta", 0, &e.meta);
  if (rc == MDB_NOTFOUND || rc == MDB_INCOMPATIBLE) return status::kNotRecordManagerFile;
  ck(rc);
  MDB_val k = val("format", 6), v;
  rc = mdb_get(txn, e.meta, &k, &v);
  if (rc == MDB_NOTFOUND || v.mv_size != sizeof kFormatTag - 1 ||
      std::memcmp(v.mv_data, kFormatTag, v.mv_size) != 0)
    return status::kNotRecordManagerFile;
  k = val("def", 3);
  if (mdb_get(txn, e.meta, &k, &v) != MDB_SUCCESS) return status::kNotRecordManagerFile;
  if (decodeFileDef(v.mv_data, v.mv_size, e.def) != status::kOk) return status::kNotRecordManagerFile;
  k = val("next", 4);
  if (mdb_get(txn, e.meta, &k, &v) != MDB_SUCCESS || v.mv_size != 8) return status::kNotRecordManagerFile;
  rc = mdb_dbi_open(txn, "rec", 0, &e.rec);
  if (rc == MDB_NOTFOUND || rc == MDB_INCOMPATIBLE) return status::kNotRecordManagerFile;
  ck(rc);
  e.recLen = e.def.recordLength;
  e.hdrLen = 8 + 8 * e.def.keys.size();
  for (std::size_t i = 0; i < e.def.keys.size(); ++i) {
    KeyInfo key;
    key.segs = e.def.keys[i].segments;
    key.len = e.def.keys[i].length();
    key.dup = e.def.keys[i].duplicates();
    key.mod = e.def.keys[i].modifiable();
    rc = mdb_dbi_open(txn, keyTableName(i).c_str(), 0, &key.dbi);
    if (rc == MDB_NOTFOUND || rc == MDB_INCOMPATIBLE) return status::kNotRecordManagerFile;
    ck(rc);
    e.keys.push_back(std::move(key));
  }
  e.rcur.assign(e.keys.size() + 1, nullptr);
  e.rcurStamp.assign(e.keys.size() + 1, 0);
  return status::kOk;
}

// True when the file starts with an LMDB meta page.
bool looksLikeLmdb(int fd) {
  std::uint8_t head[24];
  if (pread(fd, head, sizeof head, 0) != ssize_t(sizeof head)) return false;
  std::uint32_t magic, version;
  std::memcpy(&magic, head + 16, 4);
  std::memcpy(&version, head + 20, 4);
  return magic == 0xBEEFC0DEu && version == 1;
}

// Opens (or shares) the environment of a file. Called with g_reg held.
int openEnv(const std::string& path, int mode, Env*& out) {
  const bool readOnly = mode == kModeReadOnly;
  const bool exclusive = mode == kModeExclusive;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return status::kFileNotFound;
    return mapError(errno);
  }
  if (S_ISDIR(st.st_mode)) return status::kInvalidFileName;
  const pid_t pid = currentPid();
  for (Env* e : g_envs) {
    if (e->pid == pid && e->dev == st.st_dev && e->ino == st.st_ino) {
      if (exclusive || e->exclusive) return status::kFileLocked;
      out = e;
      return status::kOk;
    }
  }
  auto e = std::make_unique<Env>();
  e->path = path;
  e->pid = pid;
  e->readOnly = readOnly;
  e->exclusive = exclusive;
  for (int attempt = 0;; ++attempt) {
    e->fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (e->fd < 0) return errno == ENOENT ? status::kFileNotFound : mapError(errno);
    if (!looksLikeLmdb(e->fd)) {
      ::close(e->fd);
      return status::kNotRecordManagerFile;
    }
    if (!lockWithin(e->fd, exclusive ? F_WRLCK : F_RDLCK, 0)) {
      ::close(e->fd);
      return status::kFileLocked;
    }
    // The file may have been replaced between open() and the lock.
    struct stat now, byPath;
    if (fstat(e->fd, &now) == 0 && ::stat(path.c_str(), &byPath) == 0 && now.st_ino == byPath.st_ino &&
        now.st_dev == byPath.st_dev) {
      e->dev = now.st_dev;
      e->ino = now.st_ino;
      st = now;
      break;
    }
    ::close(e->fd);
    e->fd = -1;
    if (attempt >= 3) return status::kFileLocked;
  }
  struct FdGuard {
    Env* e;
    ~FdGuard() {
      if (e) {
        if (e->env) mdb_env_close(e->env);
        if (e->fd >= 0) ::close(e->fd);
      }
    }
  } guard{e.get()};

  int rc = mdb_env_create(&e->env);
  if (rc != MDB_SUCCESS) {
    e->env = nullptr;
    return status::kIoError;
  }
  const std::size_t initial = g_initialMap.load();
  e->mapSize = std::max<std::size_t>(initial, std::size_t(st.st_size) * 2);
  mdb_env_set_maxdbs(e->env, kMaxDbs);
  mdb_env_set_mapsize(e->env, e->mapSize);
  rc = mdb_env_open(e->env, path.c_str(), MDB_NOSUBDIR | MDB_NOTLS | (readOnly ? MDB_RDONLY : 0), 0664);
  if (rc != MDB_SUCCESS) {
    if (rc == MDB_INVALID || rc == MDB_VERSION_MISMATCH) return status::kNotRecordManagerFile;
    if (rc == ENOENT) return status::kFileNotFound;
    return mapError(rc);
  }
  int dead = 0;
  mdb_reader_check(e->env, &dead);
  // A truncated file would fault when its missing pages are touched.
  MDB_envinfo info;
  MDB_stat est;
  if (mdb_env_info(e->env, &info) != MDB_SUCCESS || mdb_env_stat(e->env, &est) != MDB_SUCCESS)
    return status::kIoError;
  struct stat after;
  if (fstat(e->fd, &after) != 0 ||
      std::uint64_t(after.st_size) < (std::uint64_t(info.me_last_pgno) + 1) * est.ms_psize)
    return status::kIoError;
  e->mapSize = info.me_mapsize;

  MDB_txn* txn = nullptr;
  for (int attempt = 0;; ++attempt) {
    rc = mdb_txn_begin(e->env, nullptr, MDB_RDONLY, &txn);
    if (rc == MDB_MAP_RESIZED && attempt < 4) {
      mdb_env_set_mapsize(e->env, 0);
      continue;
    }
    break;
  }
  if (rc != MDB_SUCCESS) return mapError(rc);
  int s;
  try {
    s = loadDefinition(*e, txn);
  } catch (const MdbError& err) {
    s = err.rc == MDB_CORRUPTED || err.rc == MDB_PAGE_NOTFOUND ? status::kNotRecordManagerFile
                                                                : status::kIoError;
  }
  if (s != status::kOk) {
    mdb_txn_abort(txn);
    return s;
  }
  rc = mdb_txn_commit(txn);  // keeps the table handles
  if (rc != MDB_SUCCESS) return mapError(rc);
  guard.e = nullptr;
  out = e.release();
  g_envs.push_back(out);
  return status::kOk;
}

int allocateHandle(Env* e, bool readOnly, void* pb) {
  for (std::uint32_t i = 0; i < kMaxHandles; ++i) {
    if (g_slots[i].load(std::memory_order_relaxed)) continue;
    auto* h = new Handle;
    h->env = e;
    h->slot = i;
    h->gen = ++g_gens[i];
    h->readOnly = readOnly || e->readOnly;
    g_slots[i].store(h, std::memory_order_release);
    BlockHeader b;
    std::memcpy(b.magic, kBlockMagic, 8);
    b.slot = i;
    b.gen = h->gen;
    b.pid = e->pid;
    std::memset(pb, 0, kPositionBlockSize);
    std::memcpy(pb, &b, sizeof b);
    ++e->refs;
    return status::kOk;
  }
  return status::kIoError;
}

int closeHandle(Handle* h, void* pb) {
  Env* e = h->env;
  {
    std::lock_guard lk(e->callMutex);
    g_slots[h->slot].store(nullptr, std::memory_order_release);
    --e->refs;
  }
  delete h;
  blankBlock(pb);
  if (e->refs == 0) closeEnv(e);
  return status::kOk;
}

int opOpen(void* pb, void* key, int keyLength, int mode) {
  if (!pb) return status::kIoError;
  const std::string path = pathFromKey(key, keyLength);
  if (path.empty()) return status::kInvalidFileName;
  std::lock_guard reg(g_reg);
  if (Handle* old = lookup(pb)) closeHandle(old, pb);
  Env* e = nullptr;
  int s = openEnv(path, mode, e);
  if (s != status::kOk) return s;
  s = allocateHandle(e, mode == kModeReadOnly, pb);
  if (s != status::kOk && e->refs == 0) closeEnv(e);
  return s;
}

int opCreate(const void* data, std::uint32_t dataLength, const void* key, int keyLength, int keyNumber) {
  FileDef def;
  int s = decodeFileDef(data, data ? dataLength : 0, def);
  if (s != status::kOk) return s;
  const std::string path = pathFromKey(key, keyLength);
  if (path.empty()) return status::kInvalidFileName;
  std::lock_guard reg(g_reg);
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return status::kInvalidFileName;
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return status::kFileNotFound;

  int oldFd = -1;
  struct OldGuard {
    int& fd;
    ~OldGuard() {
      if (fd >= 0) ::close(fd);
    }
  } oldGuard{oldFd};
  if (::stat(path.c_str(), &st) == 0) {
    if (keyNumber == -1) return status::kFileExists;
    if (S_ISDIR(st.st_mode)) return status::kInvalidFileName;
    oldFd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (oldFd < 0) return mapError(errno);
    if (!tryLock(oldFd, F_WRLCK, 0)) return status::kFileLocked;  // open somewhere
  }
  const std::string tmp = dir + "/." + name + ".new-" + std::to_string(currentPid());
  const std::string tmpLock = tmp + "-lock";
  ::unlink(tmp.c_str());
  ::unlink(tmpLock.c_str());

  MDB_env* env = nullptr;
  if (mdb_env_create(&env) != MDB_SUCCESS) return status::kCreateIoError;
  mdb_env_set_maxdbs(env, kMaxDbs);
  mdb_env_set_mapsize(env, std::size_t(16) << 20);
  int rc = mdb_env_open(env, tmp.c_str(), MDB_NOSUBDIR, 0664);
  auto fail = [&](int st) {
    mdb_env_close(env);
    ::unlink(tmp.c_str());
    ::unlink(tmpLock.c_str());
    return st;
  };
  if (rc != MDB_SUCCESS) return fail(rc == EACCES || rc == EPERM || rc == EROFS ? status::kAccessDenied
                                                                                 : status::kCreateIoError);
  MDB_txn* txn = nullptr;
  if (mdb_txn_begin(env, nullptr, 0, &txn) != MDB_SUCCESS) return fail(status::kCreateIoError);
  try {
    MDB_dbi meta, dbi;
    ck(mdb_dbi_open(txn, "meta", MDB_CREATE, &meta));
    const std::vector<std::uint8_t> block = encodeFileDef(def);
    std::uint8_t one[8];
    putU64(one, 1);
    MDB_val k = val("format", 6), v = val(kFormatTag, sizeof kFormatTag - 1);
    ck(mdb_put(txn, meta, &k, &v, 0));
    k = val("def", 3);
    v = val(block.data(), block.size());
    ck(mdb_put(txn, meta, &k, &v, 0));
    k = val("next", 4);
    v = val(one, 8);
    ck(mdb_put(txn, meta, &k, &v, 0));
    ck(mdb_dbi_open(txn, "rec", MDB_CREATE, &dbi));
    for (std::size_t i = 0; i < def.keys.size(); ++i)
      ck(mdb_dbi_open(txn, keyTableName(i).c_str(), MDB_CREATE, &dbi));
    rc = mdb_txn_commit(txn);
    txn = nullptr;
    ck(rc);
    ck(mdb_env_sync(env, 1));
  } catch (const MdbError&) {
    if (txn) mdb_txn_abort(txn);
    return fail(status::kCreateIoError);
  }
  mdb_env_close(env);
  ::unlink(tmpLock.c_str());
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return err == EACCES || err == EPERM || err == EROFS ? status::kAccessDenied : status::kCreateIoError;
  }
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
  return status::kOk;
}

// ---------------------------------------------------------------------------
// Reads.

struct Found {
  const std::uint8_t* value;  // header + record, inside the read view
  std::uint64_t pos;
};

int deliver(Env& e, Handle& h, const Found& f, void* data, std::uint32_t& dataLength, void* keyBuf,
            int keyNumber) {
  h.hasPos = true;
  h.pos = f.pos;
  h.hasRecord = true;
  h.version = getU64(f.value);
  h.versionGen = e.abortGeneration;
  const std::uint8_t* rec = f.value + e.hdrLen;
  if (keyBuf && keyNumber >= 0 && std::size_t(keyNumber) < e.keys.size())
    rawKey(e.keys[keyNumber], rec, static_cast<std::uint8_t*>(keyBuf));
  const std::uint32_t room = data ? dataLength : 0;
  if (room < e.recLen) {
    if (room) std::memcpy(data, rec, room);
    dataLength = room;
    return status::kDataBufferTooShort;
  }
  std::memcpy(data, rec, e.recLen);
  dataLength = static_cast<std::uint32_t>(e.recLen);
  return status::kOk;
}

int fetch(Env& e, Reader& r, std::uint64_t pos, Found& f) {
  std::uint8_t posKey[8];
  putBE64(posKey, pos);
  MDB_val k = val(posKey, 8), v;
  int rc = mdb_get(r.txn(), e.rec, &k, &v);
  if (rc == MDB_NOTFOUND) return status::kBadRecordAddress;
  ck(rc);
  if (v.mv_size != e.hdrLen + e.recLen) throw MdbError{MDB_CORRUPTED};
  f.value = static_cast<const std::uint8_t*>(v.mv_data);
  f.pos = pos;
  return status::kOk;
}

// Keyed reads: positions a cursor on key `kn` and delivers the record found.
int opGetKeyed(Env& e, Handle& h, int op, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength,
               int kn) {
  if (kn < 0 || std::size_t(kn) >= e.keys.size()) return status::kBadKeyNumber;
  const KeyInfo& key = e.keys[kn];
  if (!keyBuf || keyLength < 0 || std::size_t(keyLength) < key.len) return status::kKeyBufferTooShort;
  if ((op == kGetNext || op == kGetPrevious) && h.path < 0) return status::kInvalidPositioning;
  if ((op == kGetNext || op == kGetPrevious) && h.path != kn) return status::kKeyNumberChanged;

  std::uint8_t search[kMaxEntry];
  std::size_t searchLen = 0;
  if (op == kGetNext || op == kGetPrevious) {
    std::memcpy(search, h.entry, h.entryLen);
    searchLen = h.entryLen;
  } else if (op != kGetFirst && op != kGetLast) {
    foldKey(key, static_cast<const std::uint8_t*>(keyBuf), search);
    searchLen = key.len;
  }
  // Past every duplicate of the search value.
  auto pastDuplicates = [&] {
    std::memset(search + key.len, 0xFF, kSeqBytes);
    searchLen = key.len + kSeqBytes;
  };

  Reader r(e);
  MDB_cursor* c = r.cursor(kn);
  MDB_val k = val(search, searchLen), v;
  int rc = MDB_NOTFOUND;
  auto equalValue = [&](const MDB_val& x) { return std::memcmp(x.mv_data, search, key.len) == 0; };
  switch (op) {
    case kGetEqual:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      if (rc == MDB_SUCCESS && !equalValue(k)) return status::kKeyNotFound;
      if (rc == MDB_NOTFOUND) return status::kKeyNotFound;
      break;
    case kGetNext:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      if (rc == MDB_SUCCESS && k.mv_size == h.entryLen && std::memcmp(k.mv_data, h.entry, h.entryLen) == 0)
        rc = mdb_cursor_get(c, &k, &v, MDB_NEXT);
      break;
    case kGetPrevious:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      rc = mdb_cursor_get(c, &k, &v, rc == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
      break;
    case kGetGreater:
      if (key.dup) {
        pastDuplicates();
        k = val(search, searchLen);
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      } else {
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        if (rc == MDB_SUCCESS && equalValue(k)) rc = mdb_cursor_get(c, &k, &v, MDB_NEXT);
      }
      break;
    case kGetGreaterOrEqual:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      break;
    case kGetLess:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      rc = mdb_cursor_get(c, &k, &v, rc == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
      break;
    case kGetLessOrEqual:
      if (key.dup) {
        pastDuplicates();
        k = val(search, searchLen);
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        rc = mdb_cursor_get(c, &k, &v, rc == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
      } else {
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        if (rc == MDB_NOTFOUND)
          rc = mdb_cursor_get(c, &k, &v, MDB_LAST);
        else if (rc == MDB_SUCCESS && !equalValue(k))
          rc = mdb_cursor_get(c, &k, &v, MDB_PREV);
      }
      break;
    case kGetFirst:
      rc = mdb_cursor_get(c, &k, &v, MDB_FIRST);
      break;
    case kGetLast:
      rc = mdb_cursor_get(c, &k, &v, MDB_LAST);
      break;
    default:
      return status::kInvalidOperation;
  }
  if (rc == MDB_NOTFOUND) return status::kEndOfFile;
  ck(rc);
  if (v.mv_size != 8 || k.mv_size > kMaxEntry) throw MdbError{MDB_CORRUPTED};
  Found f;
  if (fetch(e, r, getBE64(static_cast<const std::uint8_t*>(v.mv_data)), f) != status::kOk)
    throw MdbError{MDB_CORRUPTED};
  std::memcpy(h.entry, k.mv_data, k.mv_size);
  h.entryLen = k.mv_size;
  h.path = kn;
  return deliver(e, h, f, data, dataLength, keyBuf, kn);
}

int opStep(Env& e, Handle& h, int op, void* data, std::uint32_t& dataLength) {
  if ((op == kStepNext || op == kStepPrevious) && !h.hasPos) return status::kInvalidPositioning;
  Reader r(e);
  MDB_cursor* c = r.cursor(e.keys.size());
  std::uint8_t posKey[8];
  MDB_val k, v;
  int rc;
  switch (op) {
    case kStepFirst: rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); break;
    case kStepLast: rc = mdb_cursor_get(c, &k, &v, MDB_LAST); break;
    case kStepNext:
      putBE64(posKey, h.pos + 1);
      k = val(posKey, 8);
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      break;
    default:  // kStepPrevious
      putBE64(posKey, h.pos);
      k = val(posKey, 8);
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      rc = mdb_cursor_get(c, &k, &v, rc == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
      break;
  }
  if (rc == MDB_NOTFOUND) return status::kEndOfFile;
  ck(rc);
  if (k.mv_size != 8 || v.mv_size != e.hdrLen + e.recLen) throw MdbError{MDB_CORRUPTED};
  h.path = -1;  // physical reads do not establish a key path
  return deliver(e, h, Found{static_cast<const std::uint8_t*>(v.mv_data),
                             getBE64(static_cast<const std::uint8_t*>(k.mv_data))},
                 data, dataLength, nullptr, -1);
}

int opGetDirect(Env& e, Handle& h, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength, int kn) {
  if (!data || dataLength < 4) return status::kDataBufferTooShort;
  if (kn < -1 || (kn >= 0 && std::size_t(kn) >= e.keys.size())) return status::kBadKeyNumber;
  if (kn >= 0 && (!keyBuf || keyLength < 0 || std::size_t(keyLength) < e.keys[kn].len))
    return status::kKeyBufferTooShort;
  std::uint32_t pos;
  std::memcpy(&pos, data, 4);
  Reader r(e);
  Found f;
  int s = fetch(e, r, pos, f);
  if (s != status::kOk) return s;
  if (kn >= 0) {
    const KeyInfo& key = e.keys[kn];
    h.entryLen = makeEntry(key, f.value + e.hdrLen, getU64(f.value + 8 + 8 * kn), h.entry);
  }
  h.path = kn;
  return deliver(e, h, f, data, dataLength, keyBuf, kn);
}

// ---------------------------------------------------------------------------
// Writes.

bool uniqueTaken(MDB_txn* txn, const KeyInfo& key, const std::uint8_t* rec, std::uint64_t exceptPos) {
  std::uint8_t entry[kMaxEntry];
  MDB_val k = val(entry, makeEntry(key, rec, 0, entry)), v;
  int rc = mdb_get(txn, key.dbi, &k, &v);
  if (rc == MDB_NOTFOUND) return false;
  ck(rc);
  return v.mv_size != 8 || getBE64(static_cast<const std::uint8_t*>(v.mv_data)) != exceptPos;
}

void setCurrency(Env& e, Handle& h, int kn, const std::uint8_t* rec, const std::vector<std::uint64_t>& seqs,
                 std::uint64_t pos, std::uint64_t version) {
  h.hasPos = true;
  h.pos = pos;
  h.hasRecord = true;
  h.version = version;
  h.versionGen = e.abortGeneration;
  if (kn >= 0) {
    h.path = kn;
    h.entryLen = makeEntry(e.keys[kn], rec, seqs[kn], h.entry);
  }
}

int opInsert(Env& e, Handle& h, const void* data, std::uint32_t dataLength, void* keyBuf, int keyLength, int kn) {
  if (!data || dataLength < e.recLen) return status::kDataBufferTooShort;
  if (kn < -1 || (kn >= 0 && std::size_t(kn) >= e.keys.size())) return status::kBadKeyNumber;
  const auto* rec = static_cast<const std::uint8_t*>(data);
  std::uint64_t pos = 0;
  int s = runWrite(
      e, h, [](MDB_txn*) { return status::kOk; }, [&] { return applyInsert(e, rec, pos); });
  if (s != status::kOk) return s;
  if (kn == -1) return status::kOk;  // currency left as it was
  h.hasPos = true;
  h.pos = pos;
  h.hasRecord = true;
  h.version = pos;
  h.versionGen = e.abortGeneration;
  h.path = kn;
  h.entryLen = makeEntry(e.keys[kn], rec, pos, h.entry);
  if (kn >= 0 && keyBuf && keyLength >= 0 && std::size_t(keyLength) >= e.keys[kn].len)
    rawKey(e.keys[kn], rec, static_cast<std::uint8_t*>(keyBuf));
  return status::kOk;
}

// The handle's record as last read must still be the stored one.
int checkCurrent(Env& e, const Handle& h, MDB_txn* txn, std::vector<std::uint8_t>& old) {
  if (!loadRecord(e, txn, h.pos, old)) return status::kConflict;
  if (getU64(old.data()) != h.version || h.versionGen != e.abortGeneration) return status::kConflict;
  return status::kOk;
}

int opUpdate(Env& e, Handle& h, const void* data, std::uint32_t dataLength, void* keyBuf, int keyLength, int kn) {
  if (!h.hasRecord) return status::kInvalidPositioning;
  if (!data || dataLength < e.recLen) return status::kDataBufferTooShort;
  if (kn < -1 || (kn >= 0 && std::size_t(kn) >= e.keys.size())) return status::kBadKeyNumber;
  const auto* rec = static_cast<const std::uint8_t*>(data);
  std::uint64_t version = 0;
  std::vector<std::uint64_t> seqs;
  std::vector<std::uint8_t> old;
  int s = runWrite(
      e, h,
      [&](MDB_txn* txn) {
        int st = checkCurrent(e, h, txn, old);
        if (st != status::kOk) return st;
        std::uint8_t a[kMaxEntry], b[kMaxEntry];
        for (const KeyInfo& key : e.keys) {
          makeEntry(key, old.data() + e.hdrLen, 0, a);
          makeEntry(key, rec, 0, b);
          if (std::memcmp(a, b, key.len) == 0) continue;
          if (!key.mod) return status::kKeyNotModifiable;
          if (!key.dup && uniqueTaken(txn, key, rec, h.pos)) return status::kDuplicateKey;
        }
        return status::kOk;
      },
      [&] {
        version = applyUpdate(e, h.pos, rec, seqs);
        return status::kOk;
      });
  if (s != status::kOk) return s;
  // The key path follows the record to its new key value.
  setCurrency(e, h, h.path, rec, seqs, h.pos, version);
  if (kn >= 0 && keyBuf && keyLength >= 0 && std::size_t(keyLength) >= e.keys[kn].len)
    rawKey(e.keys[kn], rec, static_cast<std::uint8_t*>(keyBuf));
  return status::kOk;
}

int opDelete(Env& e, Handle& h) {
  if (!h.hasRecord) return status::kInvalidPositioning;
  std::vector<std::uint8_t> old;
  int s = runWrite(
      e, h, [&](MDB_txn* txn) { return checkCurrent(e, h, txn, old); },
      [&] {
        applyDelete(e, h.pos);
        return status::kOk;
      });
  if (s != status::kOk) return s;
  // The key path entry is kept: get next/previous continue from where the
  // record stood.
  h.hasRecord = false;
  return status::kOk;
}

int opBegin(Env& e, Handle& h) {
  if (e.explicitTxn) return status::kTransactionActive;
  if (h.readOnly) return status::kAccessDenied;
  int g = acquireGate(e);
  if (g != status::kOk) return g;
  try {
    beginWrite(e);
  } catch (const MdbError& err) {
    abortWrite(e);
    releaseGate(e);
    return mapError(err.rc);
  }
  e.explicitTxn = true;
  e.txnBroken = false;
  e.nextAtBegin = e.next;
  e.journal.clear();
  return status::kOk;
}

int opEnd(Env& e) {
  if (!e.explicitTxn) return status::kTransactionError;
  if (e.txnBroken || !e.wtxn) {
    endExplicit(e);
    ++e.abortGeneration;
    return status::kIoError;
  }
  for (;;) {
    try {
      commitWrite(e);
      endExplicit(e);
      return status::kOk;
    } catch (const MdbError& err) {
      if (err.rc == MDB_MAP_FULL) {
        try {
          rebuildAfterFull(e);
          continue;
        } catch (const MdbError& again) {
          endExplicit(e);
          ++e.abortGeneration;
          return mapError(again.rc);
        }
      }
      endExplicit(e);
      ++e.abortGeneration;
      return mapError(err.rc);
    }
  }
}

int opAbort(Env& e) {
  if (!e.explicitTxn) return status::kTransactionError;
  endExplicit(e);
  // Records read inside the transaction may carry stamps that were never
  // committed; they must be read again before being changed.
  ++e.abortGeneration;
  return status::kOk;
}

int opStat(Env& e, void* data, std::uint32_t& dataLength) {
  std::vector<std::uint8_t> block = encodeFileDef(e.def);
  std::size_t segments = 0;
  for (const KeyInfo& k : e.keys) segments += k.segs.size();
  const std::size_t need = 16 + 16 * segments;
  if (!data || dataLength < need) return status::kDataBufferTooShort;
  Reader r(e);
  MDB_stat st;
  ck(mdb_stat(r.txn(), e.rec, &st));
  const std::uint32_t records = static_cast<std::uint32_t>(std::min<std::size_t>(st.ms_entries, UINT32_MAX));
  std::memcpy(&block[6], &records, 4);
  std::size_t at = 16;
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    const KeyInfo& key = e.keys[i];
    std::uint64_t distinct = 0;
    if (!key.dup) {
      ck(mdb_stat(r.txn(), key.dbi, &st));
      distinct = st.ms_entries;
    } else {
      MDB_cursor* c = r.cursor(i);
      MDB_val k, v;
      std::uint8_t last[kMaxKeyLength];
      for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == MDB_SUCCESS;
           rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
        if (distinct == 0 || std::memcmp(last, k.mv_data, key.len) != 0) {
          ++distinct;
          std::memcpy(last, k.mv_data, key.len);
        }
      }
    }
    const std::uint32_t d = static_cast<std::uint32_t>(std::min<std::uint64_t>(distinct, UINT32_MAX));
    std::memcpy(&block[at + 6], &d, 4);
    at += 16 * key.segs.size();
  }
  std::memcpy(data, block.data(), need);
  dataLength = static_cast<std::uint32_t>(need);
  return status::kOk;
}

int dispatch(int op, Handle& h, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength, int kn) {
  Env& e = *h.env;
  std::lock_guard lk(e.callMutex);
  switch (op) {
    case kInsert: return opInsert(e, h, data, dataLength, keyBuf, keyLength, kn);
    case kUpdate: return opUpdate(e, h, data, dataLength, keyBuf, keyLength, kn);
    case kDelete: return opDelete(e, h);
    case kGetEqual:
    case kGetNext:
    case kGetPrevious:
    case kGetGreater:
    case kGetGreaterOrEqual:
    case kGetLess:
    case kGetLessOrEqual:
    case kGetFirst:
    case kGetLast: return opGetKeyed(e, h, op, data, dataLength, keyBuf, keyLength, kn);
    case kStat: return opStat(e, data, dataLength);
    case kBeginTransaction:
    case kBeginConcurrentTransaction: return opBegin(e, h);
    case kEndTransaction: return opEnd(e);
    case kAbortTransaction: return opAbort(e);
    case kGetPosition: {
      if (!h.hasRecord) return status::kInvalidPositioning;
      if (!data || dataLength < 4) return status::kDataBufferTooShort;
      const std::uint32_t pos = static_cast<std::uint32_t>(h.pos);
      std::memcpy(data, &pos, 4);
      dataLength = 4;
      return status::kOk;
    }
    case kGetDirect: return opGetDirect(e, h, data, dataLength, keyBuf, keyLength, kn);
    case kStepFirst:
    case kStepLast:
    case kStepNext:
    case kStepPrevious: return opStep(e, h, op, data, dataLength);
    default: return status::kInvalidOperation;
  }
}

}  // namespace

int BTRCALL(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength, void* keyBuffer,
            int keyLength, int keyNumber) {
  try {
    switch (operation) {
      case kOpen: return opOpen(positionBlock, keyBuffer, keyLength, keyNumber);
      case kCreate: return opCreate(dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
      case kClose: {
        std::lock_guard reg(g_reg);
        Handle* h = lookup(positionBlock);
        if (!h) return status::kNotOpen;
        return closeHandle(h, positionBlock);
      }
      default: break;
    }
    Handle* h = lookup(positionBlock);
    if (!h) return status::kNotOpen;
    return dispatch(operation, *h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
  } catch (const MdbError& err) {
    return mapError(err.rc);
  } catch (const std::bad_alloc&) {
    return status::kIoError;
  }
}

void setInitialMapSize(std::size_t bytes) { g_initialMap.store(std::max<std::size_t>(bytes, 64 * 1024)); }

IntegrityReport checkIntegrity(const std::string& path) {
  IntegrityReport rep;
  char pb[kPositionBlockSize];
  blankBlock(pb);
  std::string key = path;
  key.resize(std::max<std::size_t>(key.size(), 255), ' ');
  std::uint32_t len = 0;
  rep.status = BTRCALL(kOpen, pb, nullptr, len, key.data(), int(key.size()), kModeReadOnly);
  if (rep.status != status::kOk) return rep;
  Handle* h = lookup(pb);
  Env& e = *h->env;
  auto problem = [&](std::string text) {
    if (rep.problems.size() < 50) rep.problems.push_back(std::move(text));
  };
  try {
    std::lock_guard lk(e.callMutex);
    Reader r(e);
    const std::uint64_t next = loadNext(e, r.txn());
    MDB_cursor* c = r.cursor(e.keys.size());
    MDB_val k, v;
    std::uint8_t entry[kMaxEntry];
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == MDB_SUCCESS;
         rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
      ++rep.records;
      if (k.mv_size != 8) {
        problem("record table key of " + std::to_string(k.mv_size) + " bytes");
        continue;
      }
      const std::uint64_t pos = getBE64(static_cast<const std::uint8_t*>(k.mv_data));
      if (v.mv_size != e.hdrLen + e.recLen) {
        problem("record " + std::to_string(pos) + " has " + std::to_string(v.mv_size) + " bytes");
        continue;
      }
      const auto* value = static_cast<const std::uint8_t*>(v.mv_data);
      if (pos >= next || getU64(value) >= next) problem("record " + std::to_string(pos) + " is past the counter");
      for (std::size_t i = 0; i < e.keys.size(); ++i) {
        const KeyInfo& key = e.keys[i];
        const std::uint64_t seq = getU64(value + 8 + 8 * i);
        if (seq >= next) problem("record " + std::to_string(pos) + " key " + std::to_string(i) + " sequence past the counter");
        MDB_val ek = val(entry, makeEntry(key, value + e.hdrLen, seq, entry)), ev;
        int g = mdb_get(r.txn(), key.dbi, &ek, &ev);
        if (g == MDB_NOTFOUND) {
          problem("record " + std::to_string(pos) + " missing from key " + std::to_string(i));
        } else {
          ck(g);
          if (ev.mv_size != 8 || getBE64(static_cast<const std::uint8_t*>(ev.mv_data)) != pos)
            problem("key " + std::to_string(i) + " entry of record " + std::to_string(pos) + " points elsewhere");
        }
      }
    }
    for (std::size_t i = 0; i < e.keys.size(); ++i) {
      MDB_stat st;
      ck(mdb_stat(r.txn(), e.keys[i].dbi, &st));
      if (st.ms_entries != rep.records)
        problem("key " + std::to_string(i) + " holds " + std::to_string(st.ms_entries) + " entries for " +
                std::to_string(rep.records) + " records");
    }
  } catch (const MdbError& err) {
    problem(std::string("engine error: ") + mdb_strerror(err.rc));
  }
  std::uint32_t zero = 0;
  BTRCALL(kClose, pb, nullptr, zero, nullptr, 0, 0);
  return rep;
}

}  // namespace sono::btr
