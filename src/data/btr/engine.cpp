// The record manager proper: environments, handles and operations over LMDB.
//
// A physical file is one LMDB environment (single-file mode, lock file beside
// it) holding the tables:
//   "meta"  format tag, the creation block, the 64-bit counter "next"
//   "rec"   big-endian 64-bit physical position -> header + record bytes
//   "k<n>"  one per key: folded key bytes [+ big-endian 64-bit sequence when
//           the key allows duplicates] -> big-endian position
// The record header is the record's version stamp followed by, for every key,
// the sequence its entry was filed under, and (format 2) a check value.
// Positions, sequences and version stamps all come from the counter, so they
// only ever increase.
//
// Damage: every LMDB call runs guarded (guard.h); every entry read is checked
// against its record, every record against its check value, and every
// re-seek of get next/previous and step next/previous must move forward. A
// file that was not closed cleanly is checked page by page when it is first
// opened (pages.h).
//
// The state these operations share, and which lock guards each part of it,
// is engine_state.h; the locks on the files, locks.h.
#include <fcntl.h>
#include <lmdb.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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
#include "deliver.h"
#include "engine_internal.h"
#include "engine_state.h"
#include "engines.h"
#include "guard.h"
#include "journal.h"
#include "layout.h"
#include "locks.h"
#include "pages.h"

namespace sono::btr {

namespace {

constexpr char kBlockMagic[8] = {'S', 'N', 'T', 'K', 'B', 'T', 'R', '1'};
constexpr std::uint32_t kMaxHandles = 4096;
// The clean-close stamp: the file's size, modification time and inode when
// its last user closed it (or checked it). A later write, or any change from
// outside, changes the modification time.
constexpr char kCleanStamp[] = "user.sonoteka.clean";
// A modification within this long before a stamp could share its timestamp
// on file systems with coarse times: the stamp waits until it is older.
constexpr long kStampSettleNs = 20'000'000;
// A read snapshot is kept between calls (and reused while no commit came)
// for a file read within the last kKeepSnapshotMs.
constexpr std::int64_t kKeepSnapshotMs = 1000;
constexpr std::int64_t kSweepEveryMs = 250;
using layout::getBE64;
using layout::getU64;
using layout::KeyInfo;
using layout::kMaxEntry;
using layout::kSeqBytes;
using layout::putBE64;
using layout::putU64;
constexpr unsigned kMaxDbs = layout::kMaxTables;

thread_local std::string t_damage;

struct MdbError {
  int rc;
};

inline void ck(int rc) {
  if (rc != MDB_SUCCESS) throw MdbError{rc};
}

std::atomic<std::size_t> g_initialMap{std::size_t(256) << 20};

// ---------------------------------------------------------------------------
// LMDB calls, guarded: a fault in a damaged page comes back as guard::kFault.

int gPut(MDB_txn* t, MDB_dbi d, MDB_val* k, MDB_val* v, unsigned flags) {
  return guard::guarded([&] { return mdb_put(t, d, k, v, flags); });
}
int gDel(MDB_txn* t, MDB_dbi d, MDB_val* k) {
  return guard::guarded([&] { return mdb_del(t, d, k, nullptr); });
}
int gCommit(MDB_txn* t) {
  return guard::guarded([&] { return mdb_txn_commit(t); });
}
int gBegin(MDB_env* env, unsigned flags, MDB_txn** t) {
  return guard::guarded([&] { return mdb_txn_begin(env, nullptr, flags, t); });
}
int gRenew(MDB_txn* t) {
  return guard::guarded([&] { return mdb_txn_renew(t); });
}
int gCursorOpen(MDB_txn* t, MDB_dbi d, MDB_cursor** c) {
  return guard::guarded([&] { return mdb_cursor_open(t, d, c); });
}
int gCursorRenew(MDB_txn* t, MDB_cursor* c) {
  return guard::guarded([&] { return mdb_cursor_renew(t, c); });
}
int gStat(MDB_txn* t, MDB_dbi d, MDB_stat* st) {
  return guard::guarded([&] { return mdb_stat(t, d, st); });
}
int gDbiOpen(MDB_txn* t, const char* name, unsigned flags, MDB_dbi* d) {
  return guard::guarded([&] { return mdb_dbi_open(t, name, flags, d); });
}
// False when releasing faulted (LMDB's state is then unknown).
bool gAbort(MDB_txn* t) {
  return guard::guarded([&] {
           mdb_txn_abort(t);
           return 0;
         }) == 0;
}
bool gReset(MDB_txn* t) {
  return guard::guarded([&] {
           mdb_txn_reset(t);
           return 0;
         }) == 0;
}
bool gCursorClose(MDB_cursor* c) {
  return guard::guarded([&] {
           mdb_cursor_close(c);
           return 0;
         }) == 0;
}

void onLmdbAssert(MDB_env*, const char* text) { guard::onAssert(text); }

bool isDamage(int rc) {
  return rc == guard::kFault || rc == MDB_CORRUPTED || rc == MDB_PAGE_NOTFOUND || rc == MDB_PANIC ||
         rc == MDB_CURSOR_FULL || rc == MDB_BAD_TXN;
}

int mapError(int rc) {
  switch (rc) {
    case EACCES:
    case EPERM:
    case EROFS: return status::kAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return status::kDiskFull;
    default: return status::kIoError;
  }
}

void noteDamage(const std::string& path, const std::string& what) {
  t_damage = path + ": " + what;
  if (guard::lastFault()[0] && what.find("fault") != std::string::npos)
    t_damage += std::string(" (") + guard::lastFault() + ")";
}

// Returned by an operation that found a transaction of another process left
// in the journal: BTRCALL finishes it, then runs the operation again.
constexpr int kNeedsRecovery = -1001;

// Process-wide registry. Calls on one environment are serialised by its
// callMutex; the registry lock guards opening, closing and creating.
std::mutex g_reg;
std::vector<Env*> g_envs;
std::vector<Base*> g_bases;
thread_local bool t_recovering = false;
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

MDB_val val(const void* p, std::size_t n) { return MDB_val{n, const_cast<void*>(p)}; }

// A damaged file: status 2, remembered for the log.
int damaged(Env& e, const std::string& what) {
  e.damageSeen = true;
  noteDamage(e.path, what);
  return status::kIoError;
}

// ---------------------------------------------------------------------------
// The clean-close stamp.

std::string stampText(const struct stat& st) {
  char text[96];
  std::snprintf(text, sizeof text, "1 %lld %lld %ld %llu", static_cast<long long>(st.st_size),
                static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec),
                static_cast<unsigned long long>(st.st_ino));
  return text;
}

bool stampMatches(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  char stored[96];
  const ssize_t n = fgetxattr(fd, kCleanStamp, stored, sizeof stored - 1);
  if (n <= 0) return false;
  return std::string(stored, static_cast<std::size_t>(n)) == stampText(st);
}

void writeStamp(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const long long age = (now.tv_sec - st.st_mtim.tv_sec) * 1'000'000'000LL + (now.tv_nsec - st.st_mtim.tv_nsec);
  if (age >= 0 && age < kStampSettleNs) {
    timespec rest{0, static_cast<long>(kStampSettleNs - age)};
    nanosleep(&rest, nullptr);
  }
  const std::string text = stampText(st);
  fsetxattr(fd, kCleanStamp, text.data(), text.size(), 0);  // unsupported: checked at every first open
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
  std::uint8_t buf[8];
  const int rc = guard::guarded([&] {
    const int r = mdb_get(txn, e.meta, &k, &v);
    if (r == MDB_SUCCESS && v.mv_size == 8) std::memcpy(buf, v.mv_data, 8);
    return r == MDB_SUCCESS && v.mv_size != 8 ? MDB_CORRUPTED : r;
  });
  ck(rc);
  return getU64(buf);
}

void storeNext(Env& e) {
  std::uint8_t buf[8];
  putU64(buf, e.next);
  MDB_val k = val("next", 4), v = val(buf, 8);
  ck(gPut(e.wtxn, e.meta, &k, &v, 0));
}

void beginWrite(Env& e) {
  for (int attempt = 0;; ++attempt) {
    MDB_txn* t = nullptr;
    int rc = gBegin(e.env, 0, &t);
    if (rc == MDB_MAP_RESIZED && attempt < 4) {
      adoptMapSize(e);
      continue;
    }
    if (rc == guard::kFault) e.broken = true;
    ck(rc);
    e.wtxn = t;
    break;
  }
  // Our commit will be the one after the last: any commit since the last we
  // saw is another process's, to be told even though ours comes after it.
  if (mdb_txn_id(e.wtxn) != e.seenTxn + 1) e.othersBeforeOurs = true;
  e.next = loadNext(e, e.wtxn);
}

void abortWrite(Env& e) {
  if (e.wtxn && !gAbort(e.wtxn)) e.broken = true;
  e.wtxn = nullptr;
}

// The file's modification time: a change by anyone but us, seen at close,
// keeps the clean stamp off.
timespec modificationTime(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? st.st_mtim : timespec{};
}

void commitWrite(Env& e) {
  storeNext(e);
  MDB_txn* t = e.wtxn;
  e.wtxn = nullptr;
  const std::uint64_t ours = mdb_txn_id(t);
  const int rc = gCommit(t);  // the handle is freed whatever the outcome
  if (rc == guard::kFault) e.broken = true;
  ck(rc);
  e.seenTxn = ours;
  e.knownMtime = modificationTime(e.fd);
}

// Drops the read transaction and its cursors after a fault or damage: their
// state is not to be trusted again.
void dropReader(Env& e) {
  bool clean = true;
  for (MDB_cursor*& c : e.rcur) {
    if (c && !gCursorClose(c)) clean = false;
    c = nullptr;
  }
  if (e.rtxn && !gAbort(e.rtxn)) clean = false;
  e.rtxn = nullptr;
  e.rtxnLive = false;
  if (!clean) e.broken = true;
}

// A read view for one call: the explicit transaction when one is active,
// otherwise the environment's read transaction renewed to the latest commit.
std::int64_t coarseMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// True when the kept snapshot is still the file's latest commit.
bool snapshotCurrent(Env& e) {
  MDB_envinfo info;
  return mdb_env_info(e.env, &info) == MDB_SUCCESS && info.me_last_txnid == mdb_txn_id(e.rtxn);
}

// Lets go of a kept snapshot, so that writers can reuse the pages it holds.
void releaseSnapshot(Env& e) {
  if (!e.rtxnLive) return;
  e.rtxnLive = false;
  if (!gReset(e.rtxn)) dropReader(e);
}

// A read view for one call: the explicit transaction when one is active,
// otherwise the environment's read transaction, kept from the last call when
// no commit came since, renewed to the latest commit otherwise.
class Reader {
 public:
  explicit Reader(Env& e) : e_(e) {}
  ~Reader() {
    for (MDB_cursor* c : own_)
      if (c && !gCursorClose(c)) e_.broken = true;
    if (failed_) {
      if (inWrite_) e_.txnBroken = true;
      else dropReader(e_);
    }
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // 0, or an LMDB code (guard::kFault when the library faulted).
  int begin() {
    if (e_.wtxn) {
      ++e_.stamp;
      txn_ = e_.wtxn;
      inWrite_ = true;
      own_.assign(e_.keys.size() + 1, nullptr);
      return MDB_SUCCESS;
    }
    e_.lastReadMs = coarseMs();
    if (e_.rtxnLive) {
      if (snapshotCurrent(e_)) {
        txn_ = e_.rtxn;
        kept_ = true;
        return MDB_SUCCESS;
      }
      releaseSnapshot(e_);
    }
    ++e_.stamp;
    for (int attempt = 0;; ++attempt) {
      int rc = e_.rtxn ? gRenew(e_.rtxn) : gBegin(e_.env, MDB_RDONLY, &e_.rtxn);
      if (rc == MDB_MAP_RESIZED && attempt < 4) {
        adoptMapSize(e_);  // another process grew the map
        continue;
      }
      if (rc != MDB_SUCCESS) {
        if (rc == guard::kFault) failed_ = true;
        return rc;
      }
      break;
    }
    txn_ = e_.rtxn;
    e_.rtxnLive = true;
    return MDB_SUCCESS;
  }

  MDB_txn* txn() const { return txn_; }
  // The snapshot is the one of the last call: cursors stand where it left them.
  bool kept() const { return kept_; }
  // The view saw damage: it is dropped instead of reused.
  void fail() { failed_ = true; }

  // Cursor on key table idx, or on the records table when idx == keys.size().
  int cursor(std::size_t idx, MDB_cursor*& out) {
    const MDB_dbi dbi = idx < e_.keys.size() ? e_.keys[idx].dbi : e_.rec;
    int rc = MDB_SUCCESS;
    if (inWrite_) {
      if (!own_[idx]) rc = gCursorOpen(txn_, dbi, &own_[idx]);
      out = own_[idx];
    } else {
      MDB_cursor*& c = e_.rcur[idx];
      if (!c) {
        rc = gCursorOpen(txn_, dbi, &c);
      } else if (e_.rcurStamp[idx] != e_.stamp) {
        rc = gCursorRenew(txn_, c);
      }
      e_.rcurStamp[idx] = e_.stamp;
      out = c;
    }
    if (rc != MDB_SUCCESS) failed_ = true;
    return rc;
  }

 private:
  Env& e_;
  MDB_txn* txn_ = nullptr;
  bool kept_ = false;
  bool inWrite_ = false;
  bool failed_ = false;
  std::vector<MDB_cursor*> own_;
};

// The status of a failed LMDB call of a read: damage is status 2.
int readFailure(Env& e, Reader& r, int rc, const char* what) {
  r.fail();
  if (isDamage(rc)) return damaged(e, std::string(what) + (rc == guard::kFault ? ": fault" : ": ") +
                                         (rc == guard::kFault ? "" : mdb_strerror(rc)));
  return mapError(rc);
}

// ---------------------------------------------------------------------------
// Raw reads. These run inside guarded calls: plain data only, no throw.

bool recordWhole(const Env& e, std::uint64_t pos, const std::uint8_t* value) {
  return !e.checked || layout::RecordSealed(pos, value, e.hdrLen, e.recLen);
}

// The record at `pos`: 0 with `value` pointing at it (header + bytes), 43
// when there is none, 2 (with `why`) when it is damaged.
int fetchRaw(const Env& e, MDB_txn* txn, std::uint64_t pos, const std::uint8_t*& value, const char*& why) {
  std::uint8_t posKey[8];
  putBE64(posKey, pos);
  MDB_val k = val(posKey, 8), v;
  const int rc = mdb_get(txn, e.rec, &k, &v);
  if (rc == MDB_NOTFOUND) return status::kBadRecordAddress;
  if (rc != MDB_SUCCESS) {
    why = "record table unreadable";
    return isDamage(rc) ? status::kIoError : mapError(rc);
  }
  if (v.mv_size != e.hdrLen + e.recLen) {
    why = "record of the wrong length";
    return status::kIoError;
  }
  value = static_cast<const std::uint8_t*>(v.mv_data);
  if (!recordWhole(e, pos, value)) {
    why = "record fails its check value";
    return status::kIoError;
  }
  return status::kOk;
}

// Copies a record out, then moves the handle's currency to it.
int deliver(const Env& e, Handle& h, const std::uint8_t* value, std::uint64_t pos, void* data,
            std::uint32_t& dataLength, void* keyBuf, int keyNumber) {
  return DeliverRecord(h, value + e.hdrLen, e.recLen, e.keys, Currency{pos, getU64(value), e.abortGeneration}, data,
                       dataLength, keyBuf, keyNumber);
}

int compareEntries(const void* a, std::size_t an, const void* b, std::size_t bn) {
  const int c = std::memcmp(a, b, std::min(an, bn));
  if (c != 0) return c;
  return an < bn ? -1 : an > bn ? 1 : 0;
}

struct KeyedRequest {
  int op;
  int kn;
  std::uint8_t search[kMaxEntry];
  std::size_t searchLen;
  bool onEntry;  // the cursor stands on the handle's entry (get next/previous)
  const char* why;
};

// Positions cursor `c` of key `kn` and delivers the record found, checking
// that the entry found is where it must be, matches its record, and that the
// record is whole.
int seekKeyed(const Env& e, Handle& h, MDB_txn* txn, MDB_cursor* c, KeyedRequest& q, void* data,
              std::uint32_t& dataLength, void* keyBuf) {
  const KeyInfo& key = e.keys[q.kn];
  const int op = q.op;
  std::uint8_t* search = q.search;
  MDB_val k = val(search, q.searchLen), v;
  int rc = MDB_NOTFOUND;
  // Past every duplicate of the search value.
  auto pastDuplicates = [&] {
    std::memset(search + key.len, 0xFF, kSeqBytes);
    k = val(search, key.len + kSeqBytes);
  };
  auto equalValue = [&](const MDB_val& x) { return std::memcmp(x.mv_data, search, key.len) == 0; };
  switch (op) {
    case kGetEqual:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      if (rc == MDB_NOTFOUND || (rc == MDB_SUCCESS && k.mv_size >= key.len && !equalValue(k)))
        return status::kKeyNotFound;
      break;
    case kGetNext:
      // In a snapshot kept from the last call the cursor may still stand on
      // the handle's entry: one step then, else a fresh seek.
      if (q.onEntry) {
        rc = mdb_cursor_get(c, &k, &v, MDB_NEXT);
        break;
      }
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      if (rc == MDB_SUCCESS && k.mv_size == h.entryLen && std::memcmp(k.mv_data, h.entry, h.entryLen) == 0)
        rc = mdb_cursor_get(c, &k, &v, MDB_NEXT);
      break;
    case kGetPrevious:
      if (q.onEntry) {
        rc = mdb_cursor_get(c, &k, &v, MDB_PREV);
        break;
      }
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      if (rc == MDB_SUCCESS || rc == MDB_NOTFOUND) rc = mdb_cursor_get(c, &k, &v, rc == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
      break;
    case kGetGreater:
      if (key.dup) {
        pastDuplicates();
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      } else {
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        if (rc == MDB_SUCCESS && k.mv_size >= key.len && equalValue(k)) rc = mdb_cursor_get(c, &k, &v, MDB_NEXT);
      }
      break;
    case kGetGreaterOrEqual:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      break;
    case kGetLess:
      rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
      if (rc == MDB_SUCCESS || rc == MDB_NOTFOUND) rc = mdb_cursor_get(c, &k, &v, rc == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
      break;
    case kGetLessOrEqual:
      if (key.dup) {
        pastDuplicates();
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        if (rc == MDB_SUCCESS || rc == MDB_NOTFOUND) rc = mdb_cursor_get(c, &k, &v, rc == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
      } else {
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        if (rc == MDB_NOTFOUND)
          rc = mdb_cursor_get(c, &k, &v, MDB_LAST);
        else if (rc == MDB_SUCCESS && k.mv_size >= key.len && !equalValue(k))
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
  if (rc != MDB_SUCCESS) {
    q.why = "key table unreadable";
    return isDamage(rc) ? status::kIoError : mapError(rc);
  }
  // The entry found: its shape, and where it lies against what was asked.
  const std::size_t entryLen = key.len + (key.dup ? kSeqBytes : 0);
  if (k.mv_size != entryLen || v.mv_size != 8) {
    q.why = "key entry of the wrong length";
    return status::kIoError;
  }
  const auto* found = static_cast<const std::uint8_t*>(k.mv_data);
  int order = 0;
  switch (op) {
    case kGetNext: order = compareEntries(found, entryLen, h.entry, h.entryLen) > 0; break;
    case kGetPrevious: order = compareEntries(found, entryLen, h.entry, h.entryLen) < 0; break;
    case kGetEqual: order = std::memcmp(found, search, key.len) == 0; break;
    case kGetGreater: order = std::memcmp(found, search, key.len) > 0; break;
    case kGetGreaterOrEqual: order = std::memcmp(found, search, key.len) >= 0; break;
    case kGetLess: order = std::memcmp(found, search, key.len) < 0; break;
    case kGetLessOrEqual: order = std::memcmp(found, search, key.len) <= 0; break;
    default: order = 1;
  }
  if (!order) {
    // A re-seek that did not move on (or moved the wrong way) would repeat
    // records for ever: the key table's order is broken.
    q.why = "key table out of order";
    return status::kIoError;
  }
  const std::uint64_t pos = getBE64(static_cast<const std::uint8_t*>(v.mv_data));
  const std::uint8_t* value = nullptr;
  int st = fetchRaw(e, txn, pos, value, q.why);
  if (st == status::kBadRecordAddress) {
    q.why = "key entry without its record";
    return status::kIoError;
  }
  if (st != status::kOk) return st;
  std::uint8_t expected[kMaxEntry];
  const std::size_t n = layout::MakeEntry(key, value + e.hdrLen, getU64(value + 8 + 8 * q.kn), expected);
  if (n != entryLen || std::memcmp(expected, found, n) != 0) {
    q.why = "key entry does not match its record";
    return status::kIoError;
  }
  st = deliver(e, h, value, pos, data, dataLength, keyBuf, q.kn);
  std::memcpy(h.entry, found, entryLen);
  h.entryLen = entryLen;
  h.path = q.kn;
  return st;
}

// ---------------------------------------------------------------------------
// Mutations. Each runs inside e.wtxn after its checks passed, so it cannot
// fail for a logical reason; an engine error throws and the caller rolls the
// whole write transaction back.

void journal(Env& e, Mut kind, std::uint64_t pos, const std::uint8_t* data) {
  if (!e.explicitTxn || e.replaying) return;
  e.journal.add(kind, pos, data, e.recLen);
}

// Reads the stored value of a record into `out`; false when it is gone.
bool loadRecord(Env& e, MDB_txn* txn, std::uint64_t pos, std::vector<std::uint8_t>& out) {
  out.resize(e.hdrLen + e.recLen);
  int st = status::kOk;
  const char* why = nullptr;
  std::uint8_t* to = out.data();
  const int rc = guard::guarded([&] {
    const std::uint8_t* value = nullptr;
    st = fetchRaw(e, txn, pos, value, why);
    if (st == status::kOk) std::memcpy(to, value, e.hdrLen + e.recLen);
    return 0;
  });
  if (rc == guard::kFault) throw MdbError{guard::kFault};
  if (st == status::kBadRecordAddress) return false;
  if (st != status::kOk) {
    damaged(e, why ? why : "record unreadable");
    throw MdbError{MDB_CORRUPTED};
  }
  return true;
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
    MDB_val ek = val(entry, layout::MakeEntry(key, data, pos, entry)), ev = val(posKey, 8);
    int rc = gPut(e.wtxn, key.dbi, &ek, &ev, MDB_NOOVERWRITE);
    if (rc == MDB_KEYEXIST) {
      for (std::size_t j = 0; j < i; ++j) {
        if (e.keys[j].dup) continue;
        MDB_val undo = val(entry, layout::MakeEntry(e.keys[j], data, pos, entry));
        ck(gDel(e.wtxn, e.keys[j].dbi, &undo));
      }
      return status::kDuplicateKey;
    }
    ck(rc);
  }
  ++e.next;
  MDB_val k = val(posKey, 8), v;
  v.mv_size = e.hdrLen + e.recLen;
  v.mv_data = nullptr;
  ck(gPut(e.wtxn, e.rec, &k, &v, MDB_RESERVE | MDB_APPEND));
  auto* out = static_cast<std::uint8_t*>(v.mv_data);
  putU64(out, pos);
  for (std::size_t i = 0; i < e.keys.size(); ++i) putU64(out + 8 + 8 * i, pos);
  std::memcpy(out + e.hdrLen, data, e.recLen);
  if (e.checked) layout::SealRecord(pos, out, e.hdrLen, e.recLen);
  for (const KeyInfo& key : e.keys) {
    if (!key.dup) continue;
    MDB_val ek = val(entry, layout::MakeEntry(key, data, pos, entry)), ev = val(posKey, 8);
    ck(gPut(e.wtxn, key.dbi, &ek, &ev, MDB_NOOVERWRITE));
  }
  journal(e, Mut::Insert, pos, data);
  posOut = pos;
  return status::kOk;
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
    const std::size_t n = layout::MakeEntry(key, old.data() + e.hdrLen, oldSeq, oldEntry);
    layout::MakeEntry(key, data, oldSeq, newEntry);
    if (std::memcmp(oldEntry, newEntry, key.len) == 0) {
      seqs[i] = oldSeq;
      continue;
    }
    // A changed key is filed again at the end of its duplicates.
    MDB_val ok = val(oldEntry, n);
    ck(gDel(e.wtxn, key.dbi, &ok));
    seqs[i] = stampValue;
    MDB_val nk = val(newEntry, layout::MakeEntry(key, data, stampValue, newEntry)), nv = val(posKey, 8);
    ck(gPut(e.wtxn, key.dbi, &nk, &nv, MDB_NOOVERWRITE));
  }
  MDB_val k = val(posKey, 8), v;
  v.mv_size = e.hdrLen + e.recLen;
  v.mv_data = nullptr;
  ck(gPut(e.wtxn, e.rec, &k, &v, MDB_RESERVE));
  auto* out = static_cast<std::uint8_t*>(v.mv_data);
  putU64(out, stampValue);
  for (std::size_t i = 0; i < e.keys.size(); ++i) putU64(out + 8 + 8 * i, seqs[i]);
  std::memcpy(out + e.hdrLen, data, e.recLen);
  if (e.checked) layout::SealRecord(pos, out, e.hdrLen, e.recLen);
  journal(e, Mut::Update, pos, data);
  return stampValue;
}

void applyDelete(Env& e, std::uint64_t pos) {
  std::vector<std::uint8_t> old;
  if (!loadRecord(e, e.wtxn, pos, old)) throw MdbError{MDB_CORRUPTED};
  std::uint8_t entry[kMaxEntry];
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    const KeyInfo& key = e.keys[i];
    MDB_val ek = val(entry, layout::MakeEntry(key, old.data() + e.hdrLen, getU64(old.data() + 8 + 8 * i), entry));
    ck(gDel(e.wtxn, key.dbi, &ek));
  }
  std::uint8_t posKey[8];
  putBE64(posKey, pos);
  MDB_val k = val(posKey, 8);
  ck(gDel(e.wtxn, e.rec, &k));
  ++e.next;  // every change moves the counter: a file's counter tells whether it changed
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

int writeFailure(Env& e, int rc) {
  if (isDamage(rc)) {
    if (t_damage.empty() || t_damage.rfind(e.path, 0) != 0)
      noteDamage(e.path, rc == guard::kFault ? "fault while writing" : mdb_strerror(rc));
    e.damageSeen = true;
    return status::kIoError;
  }
  return mapError(rc);
}

// ---------------------------------------------------------------------------
// The base's transaction.

bool reopenLmdb(Env& e);

// A commit that failed on its meta page left LMDB refusing the environment.
void afterFailedCommit(Env& e, int rc) {
  if (rc == MDB_PANIC && !reopenLmdb(e)) e.broken = true;
}

bool journalPending(const Base& b) {
  struct stat st;
  return ::stat(b.journalPath.c_str(), &st) == 0 && st.st_size > 0;
}

int openJournal(Base& b) {
  if (b.jfd >= 0) return status::kOk;
  const mode_t mode = FolderFileMode(b.folder);
  b.jfd = ::open(b.journalPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
  if (b.jfd < 0) return mapError(errno);
  struct stat st;
  if (fstat(b.jfd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 07777) != mode) {
    fchmod(b.jfd, mode);
    GiveFolderGroup(b.jfd, b.folder);
  }
  return status::kOk;
}

void releaseBaseGate(Base& b) {
  if (!b.gate) return;
  unlock(b.jfd, 0);
  b.gate = false;
}

// A file's first write inside the base's transaction: its own write lock and
// LMDB write transaction, kept until the end.
int joinTransaction(Env& e) {
  int g = acquireGate(e);
  if (g != status::kOk) return g;
  try {
    beginWrite(e);
  } catch (const MdbError& err) {
    abortWrite(e);
    releaseGate(e);
    return writeFailure(e, err.rc);
  }
  e.explicitTxn = true;
  e.txnBroken = false;
  e.nextAtBegin = e.next;
  e.journal.clear();
  e.base->joined.push_back(&e);
  return status::kOk;
}

void endBaseTransaction(Base& b) {
  b.joined.clear();
  b.active = false;
  b.broken = false;
  releaseBaseGate(b);
}

void abortBaseTransaction(Base& b) {
  for (Env* j : b.joined) {
    endExplicit(*j);
    // Records read inside the transaction may carry stamps that were never
    // committed; they must be read again before being changed.
    ++j->abortGeneration;
  }
  endBaseTransaction(b);
}

// Commits one file's part; its write lock is released either way.
int commitOne(Env& e) {
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
          return writeFailure(e, again.rc);
        }
      }
      endExplicit(e);
      ++e.abortGeneration;
      afterFailedCommit(e, err.rc);
      return writeFailure(e, err.rc);
    }
  }
}

std::string nameInFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The final state of every record the transaction touched in a file.
journal::FileChanges finalStates(Env& e) {
  journal::FileChanges f;
  f.name = nameInFolder(e.path);
  f.nextBefore = e.nextAtBegin;
  f.nextAfter = e.next;
  std::vector<std::uint64_t> touched;
  for (const Journal::Entry& j : e.journal.entries()) touched.push_back(j.pos);
  std::sort(touched.begin(), touched.end());
  touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
  std::vector<std::uint8_t> value;
  for (std::uint64_t pos : touched) {
    journal::Change c;
    c.pos = pos;
    c.erased = !loadRecord(e, e.wtxn, pos, value);
    if (!c.erased) c.value.assign(value.begin(), value.end());
    f.changes.push_back(std::move(c));
  }
  return f;
}

// Puts one record in its final state inside e.wtxn (whatever it was).
void applyFinalState(Env& e, const journal::Change& c) {
  std::vector<std::uint8_t> old;
  std::uint8_t posKey[8], entry[kMaxEntry];
  putBE64(posKey, c.pos);
  if (loadRecord(e, e.wtxn, c.pos, old)) {
    for (std::size_t i = 0; i < e.keys.size(); ++i) {
      MDB_val ek = val(entry, layout::MakeEntry(e.keys[i], old.data() + e.hdrLen, getU64(old.data() + 8 + 8 * i), entry));
      ck(gDel(e.wtxn, e.keys[i].dbi, &ek));
    }
    MDB_val k = val(posKey, 8);
    ck(gDel(e.wtxn, e.rec, &k));
  }
  if (c.erased) return;
  if (c.value.size() != e.hdrLen + e.recLen) throw MdbError{MDB_CORRUPTED};
  const auto* v = reinterpret_cast<const std::uint8_t*>(c.value.data());
  MDB_val k = val(posKey, 8), data = val(v, c.value.size());
  ck(gPut(e.wtxn, e.rec, &k, &data, 0));
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    MDB_val ek = val(entry, layout::MakeEntry(e.keys[i], v + e.hdrLen, getU64(v + 8 + 8 * i), entry)), ev = val(posKey, 8);
    ck(gPut(e.wtxn, e.keys[i].dbi, &ek, &ev, MDB_NOOVERWRITE));
  }
}

// Brings one file to the journal's "after" state unless it is there already.
int applyFileChanges(Env& e, const journal::FileChanges& f) {
  if (!lockWithin(e.fd, F_WRLCK, 1, kOpenLimit)) return status::kFileLocked;
  e.gate = true;
  for (int attempt = 0;; ++attempt) {
    try {
      beginWrite(e);
      if (e.next == f.nextAfter) {
        abortWrite(e);
        break;
      }
      if (e.next != f.nextBefore) {
        // Changed since, by a write that did not wait for this journal.
        abortWrite(e);
        releaseGate(e);
        noteDamage(e.path, "changed since its unfinished transaction");
        return status::kIoError;
      }
      for (const journal::Change& c : f.changes) applyFinalState(e, c);
      e.next = f.nextAfter;
      commitWrite(e);
      break;
    } catch (const MdbError& err) {
      abortWrite(e);
      if (err.rc == MDB_MAP_FULL && attempt < 40) {
        grow(e);
        continue;
      }
      if (err.rc == MDB_PANIC && attempt < 3 && reopenLmdb(e)) continue;
      releaseGate(e);
      return writeFailure(e, err.rc);
    }
  }
  releaseGate(e);
  return status::kOk;
}

// Commits the base's transaction: one file is one LMDB commit; several
// files are written to the journal first, then committed one by one, then
// the journal is emptied. A failed commit is finished from the journal; if
// that fails too, the journal stays for the next open.
int commitBaseTransaction(Base& b) {
  bool broken = b.broken;
  std::vector<Env*> dirty;
  for (Env* j : b.joined) {
    if (j->txnBroken || !j->wtxn) broken = true;
    else if (j->next != j->nextAtBegin) dirty.push_back(j);
  }
  if (broken) {
    abortBaseTransaction(b);
    return status::kIoError;
  }
  for (Env* j : b.joined)
    if (std::find(dirty.begin(), dirty.end(), j) == dirty.end()) endExplicit(*j);  // nothing to write
  if (dirty.size() <= 1) {
    const int s = dirty.empty() ? status::kOk : commitOne(*dirty.front());
    endBaseTransaction(b);
    return s;
  }
  std::vector<journal::FileChanges> files;
  try {
    for (Env* d : dirty) files.push_back(finalStates(*d));
  } catch (const MdbError& err) {
    const int s = writeFailure(*dirty.front(), err.rc);
    abortBaseTransaction(b);
    return s;
  }
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const std::uint64_t id = (static_cast<std::uint64_t>(now.tv_sec) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
                           (static_cast<std::uint64_t>(currentPid()) << 16);
  if (const int err = journal::Write(b.jfd, journal::Encode(id, files))) {
    journal::Clear(b.jfd);  // never whole: nothing was committed from it
    abortBaseTransaction(b);
    return mapError(err);
  }
  int firstFailure = status::kOk;
  bool finished = true;
  for (std::size_t i = 0; i < dirty.size(); ++i) {
    const int s = commitOne(*dirty[i]);
    if (s == status::kOk) continue;
    if (firstFailure == status::kOk) firstFailure = s;
    // Not committed: finished from the journal, now or at the next open.
    if (applyFileChanges(*dirty[i], files[i]) != status::kOk) finished = false;
  }
  if (finished) journal::Clear(b.jfd);  // if this fails, the next open finds nothing left to do
  endBaseTransaction(b);
  return finished ? status::kOk : firstFailure;
}

// Runs a write: `check` may refuse with a status and changes nothing; `apply`
// changes the file. Outside an explicit transaction each call is its own
// LMDB transaction, retried after growing the map when it fills.
template <class Check, class Apply>
int runWrite(Env& e, const Handle& h, Check&& check, Apply&& apply) {
  if (h.readOnly) return status::kAccessDenied;
  if (e.base->active && !e.explicitTxn) {
    const int j = joinTransaction(e);
    if (j != status::kOk) return j;
  }
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
      return writeFailure(e, err.rc);
    }
  }
  int g = acquireGate(e);
  if (g != status::kOk) return g;
  if (journalPending(*e.base)) {
    releaseGate(e);
    return kNeedsRecovery;
  }
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
      afterFailedCommit(e, err.rc);
      return writeFailure(e, err.rc);
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
  if (Base* b = e->base) {
    auto joined = std::find(b->joined.begin(), b->joined.end(), e);
    if (joined != b->joined.end()) {
      b->joined.erase(joined);
      b->broken = true;  // its part is lost: the transaction cannot end well
    }
  }
  abortWrite(*e);
  e->explicitTxn = false;
  releaseGate(*e);
  bool clean = !e->broken;
  for (MDB_cursor* c : e->rcur)
    if (c && !gCursorClose(c)) clean = false;
  if (e->rtxn && !gAbort(e->rtxn)) clean = false;
  if (e->env && clean) mdb_env_close(e->env);  // a faulted environment is left behind
  // The last user of a file that showed no damage stamps it clean.
  if (clean && !e->damageSeen && e->fd >= 0 && !e->readOnly) {
    const timespec now = modificationTime(e->fd);
    if (now.tv_sec == e->knownMtime.tv_sec && now.tv_nsec == e->knownMtime.tv_nsec && tryLock(e->fd, F_WRLCK, 0))
      writeStamp(e->fd);
  }
  if (e->fd >= 0) ::close(e->fd);  // after the environment: releases our locks
  g_envs.erase(std::remove(g_envs.begin(), g_envs.end(), e), g_envs.end());
  if (Base* b = e->base; b && --b->envs == 0) {
    releaseBaseGate(*b);
    if (b->jfd >= 0) ::close(b->jfd);
    g_bases.erase(std::remove(g_bases.begin(), g_bases.end(), b), g_bases.end());
    delete b;
  }
  delete e;
}

Base* baseOf(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return nullptr;
  for (Base* b : g_bases)
    if (b->dev == st.st_dev && b->ino == st.st_ino) return b;
  auto* b = new Base;
  b->dev = st.st_dev;
  b->ino = st.st_ino;
  b->folder = folder;
  b->journalPath = folder + "/" + journal::kFileName;
  g_bases.push_back(b);
  return b;
}

int loadDefinition(Env& e, MDB_txn* txn) {
  int rc = gDbiOpen(txn, "meta", 0, &e.meta);
  if (rc == MDB_NOTFOUND || rc == MDB_INCOMPATIBLE) return status::kNotRecordManagerFile;
  ck(rc);
  MDB_val k = val("format", 6), v;
  std::string format, block;
  auto read = [&](const char* name, std::size_t n, std::string& out) {
    k = val(name, n);
    out.clear();
    const int r = guard::guarded([&] {
      const int g = mdb_get(txn, e.meta, &k, &v);
      if (g == MDB_SUCCESS && v.mv_size <= 4096) out.assign(static_cast<const char*>(v.mv_data), v.mv_size);
      return g;
    });
    if (r == guard::kFault) throw MdbError{r};
    return r == MDB_SUCCESS;
  };
  if (!read("format", 6, format)) return status::kNotRecordManagerFile;
  if (format == layout::kFormatTag2) e.checked = true;
  else if (format != layout::kFormatTag1) return status::kNotRecordManagerFile;
  if (!read("def", 3, block)) return status::kNotRecordManagerFile;
  if (decodeFileDef(block.data(), block.size(), e.def) != status::kOk) return status::kNotRecordManagerFile;
  std::string next;
  if (!read("next", 4, next) || next.size() != 8) return status::kNotRecordManagerFile;
  rc = gDbiOpen(txn, "rec", 0, &e.rec);
  if (rc == MDB_NOTFOUND || rc == MDB_INCOMPATIBLE) return status::kNotRecordManagerFile;
  ck(rc);
  e.recLen = e.def.recordLength;
  e.hdrLen = layout::HeaderLength(e.def.keys.size(), e.checked);
  e.keys = layout::KeysOf(e.def);
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    rc = gDbiOpen(txn, layout::KeyTableName(i).c_str(), 0, &e.keys[i].dbi);
    if (rc == MDB_NOTFOUND || rc == MDB_INCOMPATIBLE) return status::kNotRecordManagerFile;
    ck(rc);
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

// Checks every page of a file (its first opener holds it alone meanwhile).
// 0 when whole, 30 when it is not an LMDB file, 2 when damaged.
int checkPages(int fd, const std::string& path) {
  struct stat st;
  if (fstat(fd, &st) != 0) return status::kIoError;
  pages::PageWalker walker(fd, static_cast<std::uint64_t>(st.st_size));
  if (!walker.readMeta()) return status::kNotRecordManagerFile;
  walker.checkAll();
  if (walker.whole()) return status::kOk;
  noteDamage(path, walker.problems().front() +
                       (walker.problemCount() > 1 ? " (+" + std::to_string(walker.problemCount() - 1) + ")" : ""));
  return status::kIoError;
}

// Opens the LMDB environment of an Env whose descriptor and flags are set,
// and reads the file's definition.
int openLmdb(Env& e) {
  const std::string& path = e.path;
  int rc = mdb_env_create(&e.env);
  if (rc != MDB_SUCCESS) {
    e.env = nullptr;
    return status::kIoError;
  }
  mdb_env_set_assert(e.env, onLmdbAssert);
  mdb_env_set_maxdbs(e.env, kMaxDbs);
  mdb_env_set_mapsize(e.env, e.mapSize);
  const unsigned flags = MDB_NOSUBDIR | MDB_NOTLS | (e.readOnly ? MDB_RDONLY : 0) | (e.noLock ? MDB_NOLOCK : 0);
  rc = guard::guarded([&] { return mdb_env_open(e.env, path.c_str(), flags, 0664); });
  if (rc != MDB_SUCCESS) {
    if (rc == guard::kFault) {
      e.env = nullptr;  // left behind: its state is unknown
      noteDamage(path, "fault while opening");
      return status::kIoError;
    }
    mdb_env_close(e.env);
    e.env = nullptr;
    if (rc == MDB_INVALID || rc == MDB_VERSION_MISMATCH) return status::kNotRecordManagerFile;
    if (rc == ENOENT) return status::kFileNotFound;
    return mapError(rc);
  }
  if (!e.noLock) {
    int dead = 0;
    guard::guarded([&] { return mdb_reader_check(e.env, &dead); });
  }
  // A truncated file would fault when its missing pages are touched.
  MDB_envinfo info;
  MDB_stat est;
  if (mdb_env_info(e.env, &info) != MDB_SUCCESS || mdb_env_stat(e.env, &est) != MDB_SUCCESS)
    return status::kIoError;
  struct stat after;
  if (fstat(e.fd, &after) != 0 ||
      std::uint64_t(after.st_size) < (std::uint64_t(info.me_last_pgno) + 1) * est.ms_psize) {
    noteDamage(path, "file shorter than its last page");
    return status::kIoError;
  }
  e.mapSize = info.me_mapsize;
  e.seenTxn = info.me_last_txnid;

  MDB_txn* txn = nullptr;
  for (int attempt = 0;; ++attempt) {
    rc = gBegin(e.env, MDB_RDONLY, &txn);
    if (rc == MDB_MAP_RESIZED && attempt < 4) {
      mdb_env_set_mapsize(e.env, 0);
      continue;
    }
    break;
  }
  if (rc != MDB_SUCCESS) {
    if (isDamage(rc)) noteDamage(path, "meta pages unreadable");
    return isDamage(rc) ? status::kIoError : mapError(rc);
  }
  int s;
  try {
    s = loadDefinition(e, txn);
  } catch (const MdbError& err) {
    s = isDamage(err.rc) ? status::kIoError : mapError(err.rc);
    if (s == status::kIoError) noteDamage(path, "definition unreadable");
  }
  if (s != status::kOk) {
    gAbort(txn);
    return s;
  }
  rc = gCommit(txn);  // keeps the table handles
  if (rc != MDB_SUCCESS) return isDamage(rc) ? status::kIoError : mapError(rc);
  return status::kOk;
}

// After a failed write of its meta page LMDB refuses every further
// transaction of the environment (MDB_PANIC); the file itself is as it was
// before the failed commit. The environment is opened again in place.
bool reopenLmdb(Env& e) {
  dropReader(e);
  if (e.broken || e.wtxn) return false;
  mdb_env_close(e.env);
  e.env = nullptr;
  e.keys.clear();
  if (openLmdb(e) == status::kOk) return true;
  e.broken = true;
  return false;
}

int recoverFolder(const std::string& folder);

// Opens (or shares) the environment of a file. Called with g_reg held.
int openEnv(const std::string& path, int mode, Env*& out) {
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
      if (e->broken) return status::kIoError;
      out = e;
      return status::kOk;
    }
  }
  guard::install();
  auto e = std::make_unique<Env>();
  e->path = path;
  e->pid = pid;
  e->exclusive = exclusive;
  // A folder this user cannot write (an archive on a read-only share) is
  // read without a lock file, which LMDB could not create there.
  const std::string folder = FolderOf(path);
  const bool folderWritable = ::access(folder.c_str(), W_OK) == 0;
  e->readOnly = mode == kModeReadOnly || !folderWritable;
  bool first = false;
  for (int attempt = 0;; ++attempt) {
    e->fd = ::open(path.c_str(), (e->readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (e->fd < 0 && !e->readOnly && (errno == EACCES || errno == EROFS)) {
      e->readOnly = true;  // a file this user may only read
      continue;
    }
    if (e->fd < 0) return errno == ENOENT ? status::kFileNotFound : mapError(errno);
    if (!looksLikeLmdb(e->fd)) {
      // Its first meta page gone, the second one still there: a damaged file.
      struct stat now;
      const bool second = fstat(e->fd, &now) == 0 &&
                          pages::PageWalker(e->fd, static_cast<std::uint64_t>(now.st_size)).readMeta();
      ::close(e->fd);
      if (second) noteDamage(path, "meta page 0 is damaged");
      return second ? status::kIoError : status::kNotRecordManagerFile;
    }
    // Alone with the file: its first opener, who checks it when it was not
    // closed cleanly.
    first = !e->readOnly && tryLock(e->fd, F_WRLCK, 0);
    if (!first && !lockWithin(e->fd, exclusive ? F_WRLCK : F_RDLCK, 0, exclusive ? kBusyLimit : kOpenLimit)) {
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

  // A read-only descriptor cannot take the first opener's lock: it checks
  // when nobody else has the file open, keeping writers out meanwhile.
  const bool alone = first || (e->readOnly && !othersHaveItOpen(e->fd));
  if (alone && !stampMatches(e->fd)) {
    const bool heldWriters = !first && lockWithin(e->fd, F_RDLCK, 1);
    const int s = checkPages(e->fd, path);
    if (heldWriters) unlock(e->fd, 1);
    if (s != status::kOk) return s;
    if (first) writeStamp(e->fd);
  }
  if (first && !exclusive) tryLock(e->fd, F_RDLCK, 0);  // shared again, atomically
  e->knownMtime = modificationTime(e->fd);
  const std::string lockPath = path + "-lock";
  e->noLock = !folderWritable && ::access(lockPath.c_str(), W_OK) != 0;

  if (!e->noLock) {
    const int s = prepareLockFile(lockPath, folder);
    if (s != status::kOk) return s;
  }
  e->mapSize = std::max<std::size_t>(g_initialMap.load(), std::size_t(st.st_size) * 2);
  if (const int s = openLmdb(*e); s != status::kOk) return s;
  Base* b = baseOf(folder);
  if (!b) return status::kFileNotFound;
  e->base = b;
  ++b->envs;
  guard.e = nullptr;
  out = e.release();
  g_envs.push_back(out);
  // A transaction another process left unfinished in the journal is
  // finished before anything is read.
  if (!t_recovering && folderWritable && journalPending(*b)) recoverFolder(folder);
  return status::kOk;
}

// Finishes the transaction left in a folder's journal (g_reg held).
int recoverFolder(const std::string& folder) {
  const int fd = ::open((folder + "/" + journal::kFileName).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return status::kOk;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (!lockWithin(fd, F_WRLCK, 0, kOpenLimit)) return status::kFileLocked;
  std::string bytes;
  if (journal::Read(fd, bytes) != 0 || bytes.empty()) return status::kOk;
  std::uint64_t id = 0;
  std::vector<journal::FileChanges> files;
  if (!journal::Decode(bytes, id, files)) {
    journal::Clear(fd);  // never whole: no file was committed from it
    return status::kOk;
  }
  t_recovering = true;
  int result = status::kOk;
  for (const journal::FileChanges& f : files) {
    const std::string path = folder + "/" + f.name;
    struct stat st;
    Env* env = nullptr;
    if (::stat(path.c_str(), &st) == 0)
      for (Env* open : g_envs)
        if (open->pid == currentPid() && open->dev == st.st_dev && open->ino == st.st_ino) env = open;
    bool opened = false;
    if (!env) {
      const int o = openEnv(path, kModeNormal, env);
      if (o != status::kOk) {
        result = o;
        continue;
      }
      opened = true;
    }
    int applied;
    {
      std::lock_guard lk(env->callMutex);
      applied = env->readOnly ? status::kAccessDenied : applyFileChanges(*env, f);
    }
    if (opened && env->refs == 0) closeEnv(env);
    if (applied != status::kOk) result = applied;
  }
  t_recovering = false;
  if (result == status::kOk) journal::Clear(fd);
  return result;
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
  const std::string path = PathFromKey(key, keyLength);
  if (path.empty()) return status::kInvalidFileName;
  std::lock_guard reg(g_reg);
  if (Handle* old = lookup(pb)) closeHandle(old, pb);
  Env* e = nullptr;
  t_damage.clear();
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
  const std::string path = PathFromKey(key, keyLength);
  if (path.empty()) return status::kInvalidFileName;
  std::lock_guard reg(g_reg);
  const std::string dir = FolderOf(path);
  const std::size_t slash = path.rfind('/');
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
  return buildEmptyFile(tmp, def, path);
}

// ---------------------------------------------------------------------------
// Reads.

int opGetKeyed(Env& e, Handle& h, int op, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength,
               int kn) {
  if (kn < 0 || std::size_t(kn) >= e.keys.size()) return status::kBadKeyNumber;
  const KeyInfo& key = e.keys[kn];
  if (!keyBuf || keyLength < 0 || std::size_t(keyLength) < key.len) return status::kKeyBufferTooShort;
  if ((op == kGetNext || op == kGetPrevious) && h.path < 0) return status::kInvalidPositioning;
  if ((op == kGetNext || op == kGetPrevious) && h.path != kn) return status::kKeyNumberChanged;
  if (op < kGetEqual || op > kGetLast || op == kCreate) return status::kInvalidOperation;

  KeyedRequest q{op, kn, {}, 0, false, nullptr};
  if (op == kGetNext || op == kGetPrevious) {
    std::memcpy(q.search, h.entry, h.entryLen);
    q.searchLen = h.entryLen;
  } else if (op != kGetFirst && op != kGetLast) {
    layout::FoldKey(key, static_cast<const std::uint8_t*>(keyBuf), q.search);
    q.searchLen = key.len;
  }
  Reader r(e);
  int rc = r.begin();
  MDB_cursor* c = nullptr;
  if (rc == MDB_SUCCESS) rc = r.cursor(kn, c);
  if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "read");
  int st = status::kOk;
  rc = guard::guarded([&] {
    if ((op == kGetNext || op == kGetPrevious) && r.kept()) {
      MDB_val ck, cv;
      q.onEntry = mdb_cursor_get(c, &ck, &cv, MDB_GET_CURRENT) == MDB_SUCCESS && ck.mv_size == h.entryLen &&
                  std::memcmp(ck.mv_data, h.entry, h.entryLen) == 0;
    }
    st = seekKeyed(e, h, r.txn(), c, q, data, dataLength, keyBuf);
    return 0;
  });
  if (rc == guard::kFault) return readFailure(e, r, rc, "get");
  if (st == status::kIoError) {
    r.fail();
    return damaged(e, std::string("key ") + std::to_string(kn) + ": " + (q.why ? q.why : "unreadable"));
  }
  return st;
}

int opStep(Env& e, Handle& h, int op, void* data, std::uint32_t& dataLength) {
  if ((op == kStepNext || op == kStepPrevious) && !h.hasPos) return status::kInvalidPositioning;
  Reader r(e);
  int rc = r.begin();
  MDB_cursor* c = nullptr;
  if (rc == MDB_SUCCESS) rc = r.cursor(e.keys.size(), c);
  if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "step");
  int st = status::kOk;
  const char* why = nullptr;
  rc = guard::guarded([&] {
    std::uint8_t posKey[8];
    MDB_val k, v;
    int got;
    // In a snapshot kept from the last call the records cursor may still
    // stand on the handle's record: one step then, else a fresh seek.
    bool onPos = false;
    if ((op == kStepNext || op == kStepPrevious) && r.kept() &&
        mdb_cursor_get(c, &k, &v, MDB_GET_CURRENT) == MDB_SUCCESS && k.mv_size == 8)
      onPos = getBE64(static_cast<const std::uint8_t*>(k.mv_data)) == h.pos;
    switch (op) {
      case kStepFirst: got = mdb_cursor_get(c, &k, &v, MDB_FIRST); break;
      case kStepLast: got = mdb_cursor_get(c, &k, &v, MDB_LAST); break;
      case kStepNext:
        if (onPos) {
          got = mdb_cursor_get(c, &k, &v, MDB_NEXT);
          break;
        }
        putBE64(posKey, h.pos + 1);
        k = val(posKey, 8);
        got = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        break;
      default:  // kStepPrevious
        if (onPos) {
          got = mdb_cursor_get(c, &k, &v, MDB_PREV);
          break;
        }
        putBE64(posKey, h.pos);
        k = val(posKey, 8);
        got = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        if (got == MDB_SUCCESS || got == MDB_NOTFOUND)
          got = mdb_cursor_get(c, &k, &v, got == MDB_SUCCESS ? MDB_PREV : MDB_LAST);
        break;
    }
    if (got == MDB_NOTFOUND) {
      st = status::kEndOfFile;
      return 0;
    }
    if (got != MDB_SUCCESS) {
      why = "record table unreadable";
      st = isDamage(got) ? status::kIoError : mapError(got);
      return 0;
    }
    if (k.mv_size != 8 || v.mv_size != e.hdrLen + e.recLen) {
      why = "record of the wrong length";
      st = status::kIoError;
      return 0;
    }
    const std::uint64_t pos = getBE64(static_cast<const std::uint8_t*>(k.mv_data));
    // A step that does not move on would repeat records for ever.
    if ((op == kStepNext && pos <= h.pos) || (op == kStepPrevious && pos >= h.pos)) {
      why = "record table out of order";
      st = status::kIoError;
      return 0;
    }
    const auto* value = static_cast<const std::uint8_t*>(v.mv_data);
    if (!recordWhole(e, pos, value)) {
      why = "record fails its check value";
      st = status::kIoError;
      return 0;
    }
    st = deliver(e, h, value, pos, data, dataLength, nullptr, -1);
    h.path = -1;  // physical reads do not establish a key path
    return 0;
  });
  if (rc == guard::kFault) return readFailure(e, r, rc, "step");
  if (st == status::kIoError) {
    r.fail();
    return damaged(e, why ? why : "record table unreadable");
  }
  return st;
}

int opGetDirect(Env& e, Handle& h, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength, int kn) {
  if (!data || dataLength < 4) return status::kDataBufferTooShort;
  if (kn < -1 || (kn >= 0 && std::size_t(kn) >= e.keys.size())) return status::kBadKeyNumber;
  if (kn >= 0 && (!keyBuf || keyLength < 0 || std::size_t(keyLength) < e.keys[kn].len))
    return status::kKeyBufferTooShort;
  std::uint32_t pos;
  std::memcpy(&pos, data, 4);
  Reader r(e);
  int rc = r.begin();
  if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "get direct");
  int st = status::kOk;
  const char* why = nullptr;
  rc = guard::guarded([&] {
    const std::uint8_t* value = nullptr;
    st = fetchRaw(e, r.txn(), pos, value, why);
    if (st != status::kOk) return 0;
    std::uint8_t entry[kMaxEntry];
    std::size_t entryLen = 0;
    if (kn >= 0) entryLen = layout::MakeEntry(e.keys[kn], value + e.hdrLen, getU64(value + 8 + 8 * kn), entry);
    st = deliver(e, h, value, pos, data, dataLength, keyBuf, kn);
    if (kn >= 0) {
      std::memcpy(h.entry, entry, entryLen);
      h.entryLen = entryLen;
    }
    h.path = kn;
    return 0;
  });
  if (rc == guard::kFault) return readFailure(e, r, rc, "get direct");
  if (st == status::kIoError) {
    r.fail();
    return damaged(e, why ? why : "record unreadable");
  }
  return st;
}

// ---------------------------------------------------------------------------
// Writes.

bool uniqueTaken(MDB_txn* txn, const KeyInfo& key, const std::uint8_t* rec, std::uint64_t exceptPos) {
  std::uint8_t entry[kMaxEntry];
  MDB_val k = val(entry, layout::MakeEntry(key, rec, 0, entry)), v;
  std::uint64_t found = 0;
  bool sized = true;
  const int rc = guard::guarded([&] {
    const int g = mdb_get(txn, key.dbi, &k, &v);
    if (g == MDB_SUCCESS) {
      sized = v.mv_size == 8;
      if (sized) found = getBE64(static_cast<const std::uint8_t*>(v.mv_data));
    }
    return g;
  });
  if (rc == MDB_NOTFOUND) return false;
  ck(rc);
  if (!sized) throw MdbError{MDB_CORRUPTED};
  return found != exceptPos;
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
    h.entryLen = layout::MakeEntry(e.keys[kn], rec, seqs[kn], h.entry);
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
  h.entryLen = layout::MakeEntry(e.keys[kn], rec, pos, h.entry);
  if (kn >= 0 && keyBuf && keyLength >= 0 && std::size_t(keyLength) >= e.keys[kn].len)
    layout::RawKey(e.keys[kn], rec, static_cast<std::uint8_t*>(keyBuf));
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
          layout::MakeEntry(key, old.data() + e.hdrLen, 0, a);
          layout::MakeEntry(key, rec, 0, b);
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
    layout::RawKey(e.keys[kn], rec, static_cast<std::uint8_t*>(keyBuf));
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

// Begin (19, 1019): a transaction over every file of the base this process
// has open. It holds the base's gate and joins the handle's file at once;
// other files join at their first write.
int opBegin(Env& e, Handle& h) {
  Base& b = *e.base;
  if (b.active) return status::kTransactionActive;
  if (h.readOnly) return status::kAccessDenied;
  int s = openJournal(b);
  if (s != status::kOk) return s;
  if (!lockWithin(b.jfd, F_WRLCK, 0)) return status::kFileLocked;
  b.gate = true;
  struct stat st;
  if (fstat(b.jfd, &st) == 0 && st.st_size > 0) {
    releaseBaseGate(b);
    return kNeedsRecovery;
  }
  b.active = true;
  b.broken = false;
  b.joined.clear();
  s = joinTransaction(e);
  if (s != status::kOk) endBaseTransaction(b);
  return s;
}

int opEnd(Env& e) {
  if (!e.base->active) return status::kTransactionError;
  return commitBaseTransaction(*e.base);
}

int opAbort(Env& e) {
  if (!e.base->active) return status::kTransactionError;
  abortBaseTransaction(*e.base);
  return status::kOk;
}

int opStat(Env& e, void* data, std::uint32_t& dataLength) {
  std::vector<std::uint8_t> block = encodeFileDef(e.def);
  std::size_t segments = 0;
  for (const KeyInfo& k : e.keys) segments += k.segs.size();
  const std::size_t need = 16 + 16 * segments;
  if (!data || dataLength < need) return status::kDataBufferTooShort;
  Reader r(e);
  int rc = r.begin();
  if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "stat");
  MDB_stat st;
  rc = gStat(r.txn(), e.rec, &st);
  if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "stat");
  const std::uint32_t records = static_cast<std::uint32_t>(std::min<std::size_t>(st.ms_entries, UINT32_MAX));
  std::memcpy(&block[6], &records, 4);
  std::size_t at = 16;
  for (std::size_t i = 0; i < e.keys.size(); ++i) {
    const KeyInfo& key = e.keys[i];
    std::uint64_t distinct = 0;
    rc = gStat(r.txn(), key.dbi, &st);
    if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "stat");
    if (!key.dup) {
      distinct = st.ms_entries;
    } else {
      MDB_cursor* c = nullptr;
      rc = r.cursor(i, c);
      if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "stat");
      // Entries must come in strictly rising order, no more than the table
      // says it holds: a damaged table cannot keep this loop going.
      bool ordered = true;
      const std::uint64_t limit = st.ms_entries;
      rc = guard::guarded([&] {
        MDB_val k, v;
        std::uint8_t last[kMaxEntry];
        std::size_t lastLen = 0;
        std::uint64_t seen = 0;
        int got;
        for (got = mdb_cursor_get(c, &k, &v, MDB_FIRST); got == MDB_SUCCESS; got = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
          if (k.mv_size != key.len + kSeqBytes || ++seen > limit ||
              (lastLen && compareEntries(k.mv_data, k.mv_size, last, lastLen) <= 0)) {
            ordered = false;
            return 0;
          }
          if (distinct == 0 || std::memcmp(last, k.mv_data, key.len) != 0) ++distinct;
          std::memcpy(last, k.mv_data, k.mv_size);
          lastLen = k.mv_size;
        }
        return got == MDB_NOTFOUND ? 0 : got;
      });
      if (rc != MDB_SUCCESS) return readFailure(e, r, rc, "stat");
      if (!ordered) {
        r.fail();
        return damaged(e, "key " + std::to_string(i) + ": key table out of order");
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

// Snapshots of files not read for a while are let go, checked at most every
// kSweepEveryMs by whichever call comes: a kept snapshot stops writers from
// reusing the pages freed after it.
void sweepKeptSnapshots(const Env& current) {
  static std::atomic<std::int64_t> lastSweep{0};
  const std::int64_t now = coarseMs();
  if (now - lastSweep.load(std::memory_order_relaxed) < kSweepEveryMs) return;
  lastSweep.store(now, std::memory_order_relaxed);
  std::unique_lock reg(g_reg, std::try_to_lock);
  if (!reg) return;
  for (Env* other : g_envs) {
    if (other == &current || !other->rtxnLive || now - other->lastReadMs < kKeepSnapshotMs) continue;
    std::unique_lock lk(other->callMutex, std::try_to_lock);
    if (lk) releaseSnapshot(*other);
  }
}

int dispatch(int op, Handle& h, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength, int kn) {
  Env& e = *h.env;
  std::lock_guard lk(e.callMutex);
  sweepKeptSnapshots(e);
  if (e.broken) return status::kIoError;
  t_damage.clear();
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

// ---------------------------------------------------------------------------
// Shared with the checker and the repair (engine_internal.h).

bool FileInUseHere(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  std::lock_guard reg(g_reg);
  const pid_t pid = currentPid();
  for (Env* e : g_envs)
    if (e->pid == pid && e->dev == st.st_dev && e->ino == st.st_ino) return true;
  return false;
}

namespace {

class Lmdb final : public Engine {
 public:
  int call(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength, void* keyBuffer,
           int keyLength, int keyNumber) override;
  bool ownsBlock(const void* positionBlock) const override {
    return std::memcmp(positionBlock, kBlockMagic, sizeof kBlockMagic) == 0;
  }
  BaseChanges takeBaseChanges(const std::string& folder) override;
};

// A file whose last commit is not the one we saw last (or whose commits
// were preceded by others' before one of ours) changed in another process.
// A file busy with a call of another thread is looked at next time.
BaseChanges Lmdb::takeBaseChanges(const std::string& folder) {
  BaseChanges out;
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return out;
  std::lock_guard reg(g_reg);
  const pid_t pid = currentPid();
  for (Env* e : g_envs) {
    if (e->pid != pid || !e->base || e->base->dev != st.st_dev || e->base->ino != st.st_ino) continue;
    std::unique_lock lk(e->callMutex, std::try_to_lock);
    if (!lk || !e->env || e->broken) continue;
    MDB_envinfo info;
    if (mdb_env_info(e->env, &info) != MDB_SUCCESS) continue;
    if (info.me_last_txnid == e->seenTxn && !e->othersBeforeOurs) continue;
    if (info.me_last_txnid > e->seenTxn || e->othersBeforeOurs) {
      const std::string name = nameInFolder(e->path);
      if (std::find(out.files.begin(), out.files.end(), name) == out.files.end()) out.files.push_back(name);
    }
    e->seenTxn = info.me_last_txnid;
    e->othersBeforeOurs = false;
  }
  return out;
}

int Lmdb::call(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength, void* keyBuffer,
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
    int s = dispatch(operation, *h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    if (s != kNeedsRecovery) return s;
    // Another process's transaction was left unfinished: finish it first.
    {
      std::lock_guard reg(g_reg);
      h = lookup(positionBlock);
      if (!h) return status::kNotOpen;
      s = recoverFolder(h->env->base->folder);
    }
    if (s != status::kOk) return s;
    h = lookup(positionBlock);
    if (!h) return status::kNotOpen;
    s = dispatch(operation, *h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    return s == kNeedsRecovery ? status::kFileLocked : s;
  } catch (const MdbError& err) {
    return isDamage(err.rc) ? status::kIoError : mapError(err.rc);
  } catch (const std::bad_alloc&) {
    return status::kIoError;
  }
}

}  // namespace

Engine& LmdbEngine() {
  static Lmdb engine;
  return engine;
}

const char* btrLastDamage() { return t_damage.c_str(); }

void setInitialMapSize(std::size_t bytes) { g_initialMap.store(std::max<std::size_t>(bytes, 64 * 1024)); }

}  // namespace sono::btr
