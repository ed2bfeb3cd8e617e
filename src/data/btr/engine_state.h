// The engine's state: an environment per physical file, a handle per open of
// it, a base per data folder. Internal to the engine (engine.cpp and the file
// locks); callers see only BTRCALL and the 128-byte position block.
//
// Who guards what:
//   - g_reg (engine.cpp), the registry lock, guards the lists of environments
//     and bases, the handle slots' generations, and every open, close and
//     creation: whatever an open sets once is read afterwards without it.
//   - Env::callMutex serialises the calls on one environment: every field
//     a call reads or changes is guarded by it (dispatch() holds it for the
//     whole operation).
//   - A base's transaction (Base::gate, active, broken, joined) is changed
//     under the callMutex of the file whose call begins, joins, ends or
//     aborts it; the files of one base are used from one thread at a time
//     (the layer's), which is what keeps two calls from racing on it.
//   - Files of other processes: the locks of locks.h on the data file and on
//     the base's journal file.
#pragma once
#include <lmdb.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "btr.h"
#include "change_journal.h"
#include "layout.h"

namespace sono::btr {

struct Base;

// One physical file opened by this process, shared by every handle on it.
struct Env {
  // Identity, set by the open (g_reg) and fixed afterwards.
  std::string path;        // the data file as first opened
  Base* base = nullptr;    // the folder this file belongs to
  dev_t dev = 0;           // device and inode: a second open of the same file shares this Env
  ino_t ino = 0;
  pid_t pid = 0;           // the process that opened it (a forked child opens its own)
  int fd = -1;             // our descriptor of the data file, holding the locks of locks.h

  // LMDB and the file's definition: set by the open (g_reg); set again by a
  // reopen after a failed commit, during a call (callMutex).
  MDB_env* env = nullptr;
  MDB_dbi meta = 0;  // the "meta" table: format, creation block, counter
  MDB_dbi rec = 0;   // the "rec" table: position -> header + record
  FileDef def;       // the creation block read back from "meta"
  std::vector<layout::KeyInfo> keys;  // per key: its segments and its "k<n>" table
  std::size_t recLen = 0;  // record length
  std::size_t hdrLen = 0;  // record header length (version, sequences, check value)
  bool checked = false;    // format 2: records carry a check value

  // How it was opened (the open, g_reg; fixed afterwards).
  bool readOnly = false;   // for reading (asked, or a file or folder we cannot write)
  bool noLock = false;     // without a lock file (a folder we cannot write)
  bool exclusive = false;  // exclusively (mode -4): no second handle

  // Condition of the file (callMutex).
  bool damageSeen = false;  // status 2 was given: no clean stamp at close
  timespec knownMtime{};    // the file's time after our open or our last commit
  bool broken = false;      // a fault left LMDB's state unknown: every call gives 2

  int refs = 0;  // handles on this Env: added under g_reg, removed under g_reg and callMutex
  std::mutex callMutex;
  std::size_t mapSize = 0;  // the size of the memory map, which grows when it fills (callMutex)

  // Read side (callMutex): one read transaction per environment. Its snapshot
  // is kept between calls while it is the latest commit, and let go when a
  // commit came (at the next call) or the file has not been read for a while.
  // The sweep of kept snapshots reads rtxnLive and lastReadMs under g_reg
  // before it tries callMutex.
  MDB_txn* rtxn = nullptr;
  bool rtxnLive = false;       // rtxn holds a snapshot (not reset)
  std::int64_t lastReadMs = 0; // coarse monotonic time of the last read
  std::vector<MDB_cursor*> rcur;         // per key, then the records table
  std::vector<std::uint64_t> rcurStamp;  // the `stamp` each cursor was renewed at
  std::uint64_t stamp = 0;               // counts read views begun: a cursor of an older one is renewed

  // Write side (callMutex).
  MDB_txn* wtxn = nullptr;   // the open write transaction, if any
  bool gate = false;         // we hold the write lock (byte 1 of the data file)
  bool explicitTxn = false;  // wtxn belongs to the base's transaction and stays open between calls
  bool txnBroken = false;    // a write of the transaction failed: it can only go back
  bool replaying = false;    // the journal is being replayed into a new wtxn (not journalled again)
  std::uint64_t next = 0;         // the counter: next position, sequence and version stamp
  std::uint64_t nextAtBegin = 0;  // the counter when the transaction began
  Journal journal;                // the transaction's changes (change_journal.h)
  std::uint64_t abortGeneration = 0;  // counts aborts: a record read before one must be read again

  // Changes of others (callMutex): the last commit of the file already told
  // (by TakeBaseChanges) or made by us, and whether others committed before
  // one of our own commits since it was told.
  std::uint64_t seenTxn = 0;
  bool othersBeforeOurs = false;
};

// One open of a file: what the position block points at. Slot and generation
// are set when the handle is allocated (g_reg); the rest is the handle's
// position, changed by the calls (the Env's callMutex).
struct Handle {
  Env* env = nullptr;
  std::uint32_t slot = 0;  // index in the handle slots, written into the position block
  std::uint32_t gen = 0;   // the slot's generation: a stale position block is refused
  bool readOnly = false;   // opened read-only, or its Env is
  int path = -1;           // key path of the last keyed get, -1 when none
  std::uint8_t entry[layout::kMaxEntry];  // the key entry the handle stands on
  std::size_t entryLen = 0;
  bool hasPos = false;     // the handle stands on a record's position (step next/previous need one)
  std::uint64_t pos = 0;
  bool hasRecord = false;  // a record was read: update and delete may follow
  std::uint64_t version = 0;     // that record's version stamp, checked by update and delete (80)
  std::uint64_t versionGen = 0;  // the Env's abortGeneration when it was read
};

// A base: the data folder of a set of files, whose transaction is one. The
// journal file's byte 0 is the base's gate, held by a transaction from begin
// to end, by a recovery, and checked by every single write.
struct Base {
  // Identity, set when its first file opens (g_reg).
  dev_t dev = 0;
  ino_t ino = 0;
  std::string folder;
  std::string journalPath;  // the base's redo journal (journal.h)
  int jfd = -1;  // the journal file, opened by the first transaction, closed with the last file (g_reg)
  // The transaction (see above).
  bool gate = false;    // we hold byte 0 of the journal file
  bool active = false;  // a transaction is open (19 without 20 or 21 yet)
  bool broken = false;  // a file of the transaction was closed meanwhile
  std::vector<Env*> joined;  // files written in the transaction
  int envs = 0;              // environments of this process in the folder (g_reg)
};

}  // namespace sono::btr
