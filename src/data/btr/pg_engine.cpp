// The record manager over PostgreSQL (libpq), for bases shared by several
// workstations. Same operations, statuses, key order and positions as the
// LMDB engine (engine.cpp); README.md says how the tables are laid out.
//
// A base is one connection of this process; its files are tables named after
// the physical file. Every row holds the record's position, its version
// stamp, its bytes and, per key, the key entry the LMDB engine would file
// (folded key bytes, + the big-endian sequence for a key with duplicates):
// the unique index on each entry column gives the LMDB engine's order.
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base_engine.h"
#include "btr.h"
#include "deliver.h"
#include "engines.h"
#include "layout.h"

namespace sono::btr {

namespace {

using layout::getBE64;
using layout::KeyInfo;
using layout::kMaxEntry;
using layout::kSeqBytes;
using layout::putBE64;

constexpr char kBlockMagic[8] = {'S', 'N', 'T', 'K', 'P', 'G', 'S', '1'};
constexpr std::uint32_t kMaxHandles = 4096;
// The table of the base's files: name, creation block, counter.
constexpr char kFilesTable[] = "sonoteka_btr_files";
// A row lock or table lock waited for longer than this gives 85.
constexpr char kLockTimeout[] = "200ms";
// An open waits this long for another workstation's exclusive open (mode
// -4) to end, and an exclusive open for the others' opens, then 85.
constexpr auto kOpenLockLimit = std::chrono::milliseconds(200);
// The first key of the advisory locks that stand for open files ("SNTK");
// the second is the hash of the file's name.
constexpr char kOpenLockClass[] = "1397641291";
// The record manager lost its connection (the layer's 3111 recovery).
constexpr int kConnectionLost = 3111;
// The longest table name PostgreSQL keeps whole.
constexpr std::size_t kMaxTableName = 63;
// Every committed write notifies this channel of the base's database with
// the file's name; each connection listens to it from connect.
constexpr char kChangeChannel[] = "sonoteka_btr";
// Get next/previous and step next/previous read ahead: the first batch
// holds this many records, each following one four times more, up to the
// last size.
constexpr int kFirstBatch = 8;
constexpr int kBatchGrowth = 4;
constexpr int kLastBatch = 500;

// SQLSTATEs the statuses come from.
constexpr char kUniqueViolation[] = "23505";
constexpr char kLockNotAvailable[] = "55P03";
constexpr char kDeadlock[] = "40P01";
constexpr char kSerializationFailure[] = "40001";
constexpr char kUndefinedTable[] = "42P01";
constexpr char kDiskFull[] = "53100";
constexpr char kInsufficientPrivilege[] = "42501";
constexpr char kInvalidPassword[] = "28P01";
constexpr char kInvalidAuthorization[] = "28000";
// A prepared statement the session no longer has as we prepared it: gone
// (a pooler's DISCARD), or over a table made again with other columns
// ("cached plan must not change result type").
constexpr char kUnknownStatement[] = "26000";
constexpr char kFeatureNotSupported[] = "0A000";
// Servers from this version plan a prepared statement once for all values.
constexpr int kGenericPlansVersion = 120000;

struct PgFile;

// A base: one connection of this process to the base's database.
struct PgBase {
  pid_t pid = 0;  // the process that connected: a forked child makes its own connection
  std::string folder;
  BaseEngine setting;
  PGconn* conn = nullptr;
  bool active = false;          // a transaction (19) is open on the connection
  std::vector<PgFile*> joined;  // files begun or written in it
  int files = 0;                // open files of this base
  // Changes of others: the open files other connections committed to since
  // the last TakeBaseChanges, and whether the connection came back since
  // (what was committed meanwhile was not heard).
  std::vector<std::string> heard;
  bool everything = false;
  bool lossTold = false;     // a lost connection was already told as `everything`
  std::uint64_t epoch = 0;   // moves at every reconnect and transaction begin, end and abort
  // The statements prepared on this connection, by their SQL text (which
  // names the table, the operation, the key and the columns): forgotten
  // with the connection and when a file of the base is made again or
  // removed. Names are "sono_<n>", never reused on a connection.
  std::unordered_map<std::string, std::string> statements;
  std::uint64_t statementCount = 0;
};

// A physical file opened by this process, shared by its handles.
struct PgFile {
  PgBase* base = nullptr;
  std::string name;   // the file's name, the table's name
  std::string table;  // the name quoted for SQL
  FileDef def;
  std::vector<KeyInfo> keys;
  std::size_t recLen = 0;
  std::string columns;  // "pos, version, rec, k0, k1…"
  std::uint64_t abortGeneration = 0;  // counts aborts: a record read before one must be read again
  std::uint64_t changes = 0;  // moves at every write of this process and every change heard from another
  int refs = 0;
  bool exclusive = false;  // opened with mode -4: no other open, here or elsewhere
  bool openLocked = false;  // the connection holds the file's open lock (lost with the connection)
  // The base's transaction holds the file's counter row (begun on it, or a
  // write of it done): nobody else can write the file until it ends.
  bool counterHeld = false;
  // While the row is held, the counter is kept here once known
  // (`nextKnown`): inserts take it without writing the row (a row written
  // at every insert of a long transaction leaves as many versions of it,
  // which every later write must walk), and the row is written once
  // (`nextDirty`) before the commit, an update or delete, or the close.
  bool nextKnown = false;
  bool nextDirty = false;
  std::uint64_t next = 0;
  std::string insertSql;      // the insert statement (InsertSql)
  std::string heldInsertSql;  // the insert with the counter kept here (HeldInsertSql)
};

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// Records read ahead by get next/previous (key `kn`) or step next/previous
// (`kn` -1): rows `next`… of `rows` follow the handle's record. Valid while
// the base's epoch and the file's changes are those it was read at.
struct ReadAhead {
  Result rows;
  int next = 0;
  int op = 0;
  int kn = -1;
  std::uint64_t epoch = 0;
  std::uint64_t changes = 0;
  int size = kFirstBatch;  // rows the next batch asks for
};

// One open: what the position block points at (the same currency as the
// LMDB engine's handle).
struct PgHandle {
  PgFile* file = nullptr;
  std::uint32_t slot = 0;
  std::uint32_t gen = 0;
  bool readOnly = false;
  int path = -1;
  std::uint8_t entry[kMaxEntry];
  std::size_t entryLen = 0;
  bool hasPos = false;
  std::uint64_t pos = 0;
  bool hasRecord = false;
  std::uint64_t version = 0;
  std::uint64_t versionGen = 0;
  ReadAhead ahead;
};

struct BlockHeader {
  char magic[8];
  std::uint32_t slot;
  std::uint32_t gen;
  std::int32_t pid;
};

// One call at a time in the whole engine: calls of one base share its
// connection, and the registry is small.
std::mutex g_mutex;
std::vector<PgBase*> g_bases;
std::vector<PgFile*> g_files;
PgHandle* g_slots[kMaxHandles];
std::uint32_t g_gens[kMaxHandles];
// Why the last connection failed, in libpq's words (or the password file's
// fault), for the messages that tell the user.
std::string g_connectFailure;

// ---------------------------------------------------------------------------
// SQL.

// Binary parameters: bytea as they are, bigint as 8 big-endian bytes.
class Params {
 public:
  Params& bytes(const void* p, std::size_t n) {
    values_.emplace_back(static_cast<const char*>(p), n);
    return *this;
  }
  Params& text(const std::string& s) { return bytes(s.data(), s.size()); }
  Params& int8(std::uint64_t v) {
    std::uint8_t b[8];
    putBE64(b, v);
    return bytes(b, 8);
  }
  const std::vector<std::string>& values() const { return values_; }

 private:
  std::vector<std::string> values_;
};

// A failed statement or connection as a status.
void LoseTransaction(PgBase& b);

int StatusOf(PgBase& b, const PGresult* r) {
  if (!b.conn || PQstatus(b.conn) != CONNECTION_OK) {
    LoseTransaction(b);
    return kConnectionLost;
  }
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  if (!state) return kConnectionLost;
  auto is = [&](const char* s) { return std::strcmp(state, s) == 0; };
  if (is(kUniqueViolation)) return status::kDuplicateKey;
  if (is(kLockNotAvailable) || is(kDeadlock)) return status::kFileLocked;
  if (is(kSerializationFailure)) return status::kConflict;
  if (is(kUndefinedTable)) return status::kFileNotFound;
  if (is(kDiskFull)) return status::kDiskFull;
  if (is(kInsufficientPrivilege)) return status::kAccessDenied;
  return status::kIoError;
}

// The parameters as libpq takes them, all binary.
struct Bound {
  explicit Bound(const Params& params) {
    for (const std::string& s : params.values()) {
      values.push_back(s.data());
      lengths.push_back(static_cast<int>(s.size()));
      formats.push_back(1);
    }
  }
  int count() const { return static_cast<int>(values.size()); }
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
};

int StatusOfResult(PgBase& b, const PGresult* r) {
  const ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK ? status::kOk : StatusOf(b, r);
}

// Runs one statement, binary in and out. `status` receives 0 or the failure.
Result Exec(PgBase& b, const std::string& sql, const Params& params, int& status) {
  const Bound p(params);
  Result r(PQexecParams(b.conn, sql.c_str(), p.count(), nullptr, p.values.data(), p.lengths.data(),
                        p.formats.data(), 1));
  status = StatusOfResult(b, r.get());
  return r;
}

// The server no longer has the statement as it was prepared.
bool StaleStatement(const PGresult* r) {
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  if (!state) return false;
  if (std::strcmp(state, kUnknownStatement) == 0) return true;
  const char* message = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
  return std::strcmp(state, kFeatureNotSupported) == 0 && message && std::strstr(message, "cached plan");
}

// Runs a statement of the engine's hot paths through the connection's
// prepared statement for its text, prepared at its first use: the server
// parses and plans it once per connection instead of at every call. A
// statement the server lost or can no longer run as prepared is prepared
// again once, when no transaction is open (inside one, the failure has
// already ended the transaction: the call reports it, and the next call
// prepares afresh).
Result Prepared(PgBase& b, const std::string& sql, const Params& params, int& status) {
  const Bound p(params);
  for (bool again = false;; again = true) {
    auto it = b.statements.find(sql);
    if (it == b.statements.end()) {
      std::string name = "sono_" + std::to_string(++b.statementCount);
      Result made(PQprepare(b.conn, name.c_str(), sql.c_str(), p.count(), nullptr));
      status = StatusOfResult(b, made.get());
      if (status != status::kOk) return made;
      it = b.statements.emplace(sql, std::move(name)).first;
    }
    Result r(PQexecPrepared(b.conn, it->second.c_str(), p.count(), p.values.data(), p.lengths.data(),
                            p.formats.data(), 1));
    status = StatusOfResult(b, r.get());
    if (status == status::kOk || again || !StaleStatement(r.get())) return r;
    b.statements.erase(it);
    if (PQtransactionStatus(b.conn) != PQTRANS_IDLE) return r;
  }
}


int Run(PgBase& b, const std::string& sql, const Params& params = {}) {
  int status;
  Exec(b, sql, params, status);
  return status;
}

// Forgets every statement prepared on the connection (a file of the base
// was made again or removed: its statements may name columns it lost).
void ForgetStatements(PgBase& b) {
  if (b.statements.empty()) return;
  Run(b, "DEALLOCATE ALL");
  b.statements.clear();
}

std::uint64_t Int8At(const PGresult* r, int row, int col) {
  return getBE64(reinterpret_cast<const std::uint8_t*>(PQgetvalue(r, row, col)));
}

std::string Quoted(const std::string& name) {
  std::string q = "\"";
  for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

std::string KeyColumn(std::size_t k) { return "k" + std::to_string(k); }

// ---------------------------------------------------------------------------
// Bases and their connections.

// The password of a base's password file: the file must be its owner's
// only (no group or other bits); 46 otherwise.
int ReadPasswordFile(const std::string& path, std::string& password) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return status::kAccessDenied;
  if ((st.st_mode & 077) != 0 || st.st_uid != ::geteuid()) return status::kAccessDenied;
  std::ifstream in(path);
  if (!in || !std::getline(in, password)) return status::kAccessDenied;
  while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) password.pop_back();
  return status::kOk;
}

int Connect(PgBase& b) {
  std::string password;
  g_connectFailure.clear();
  if (!b.setting.passwordFile.empty()) {
    const int s = ReadPasswordFile(b.setting.passwordFile, password);
    if (s != status::kOk) {
      g_connectFailure = "password file refused (missing, unreadable, or readable by others): " +
                         b.setting.passwordFile;
      return s;
    }
  }
  // The base's connection string comes first: keys after it win.
  const char* keys[] = {"dbname", "fallback_application_name", password.empty() ? nullptr : "password", nullptr};
  const char* values[] = {b.setting.connection.c_str(), "sonoteka", password.c_str(), nullptr};
  b.conn = PQconnectdbParams(keys, values, 1);
  if (PQstatus(b.conn) != CONNECTION_OK) {
    // Refused credentials are access denied; anything else is the network.
    const std::string why = PQerrorMessage(b.conn);
    g_connectFailure = why;
    while (!g_connectFailure.empty() && (g_connectFailure.back() == '\n' || g_connectFailure.back() == ' '))
      g_connectFailure.pop_back();
    PQfinish(b.conn);
    b.conn = nullptr;
    const bool auth = why.find("password") != std::string::npos || why.find("authentication") != std::string::npos;
    return auth ? status::kAccessDenied : kConnectionLost;
  }
  PQsetNoticeProcessor(b.conn, [](void*, const char*) {}, nullptr);  // "already exists, skipping"...
  b.statements.clear();  // a new session has none
  int s = Run(b, std::string("SET lock_timeout = '") + kLockTimeout + "'");
  // Our statements are planned once: their plans do not depend on the values.
  if (s == status::kOk && PQserverVersion(b.conn) >= kGenericPlansVersion)
    s = Run(b, "SET plan_cache_mode = force_generic_plan");
  if (s == status::kOk) s = Run(b, std::string("LISTEN ") + kChangeChannel);
  // Only when it is missing: an account that may only read cannot create
  // anything, not even "if not exists".
  Result missing;
  if (s == status::kOk)
    missing = Exec(b, std::string("SELECT to_regclass('") + kFilesTable + "') IS NULL", {}, s);
  if (s == status::kOk && PQntuples(missing.get()) == 1 && *PQgetvalue(missing.get(), 0, 0) == 1)
    s = Run(b, std::string("CREATE TABLE IF NOT EXISTS ") + kFilesTable +
                   " (name text PRIMARY KEY, def bytea NOT NULL, next bigint NOT NULL)");
  // Two workstations creating the table at once: the loser finds it made.
  if (s == status::kDuplicateKey) s = status::kOk;
  if (s != status::kOk) {
    PQfinish(b.conn);
    b.conn = nullptr;
  }
  return s;
}

// The base's transaction is over: its files' counter rows are free again
// and, when it was rolled back, records read inside it must be read again.
void EndTransaction(PgBase& b, bool rolledBack) {
  for (PgFile* f : b.joined) {
    f->counterHeld = f->nextKnown = f->nextDirty = false;
    if (rolledBack) ++f->abortGeneration;
  }
  b.active = false;
  b.joined.clear();
}

// The connection was lost: the server rolled its transaction back, and
// records read inside it must be read again (as after an abort).
void LoseTransaction(PgBase& b) {
  if (b.active) EndTransaction(b, true);
}

// The connection of a base, made again at the call after the one that found
// it lost (that call got 3111). Handles keep their positions: get next and
// step next go on from where they stood.
int Ready(PgBase& b) {
  if (b.conn && PQstatus(b.conn) == CONNECTION_OK) return status::kOk;
  LoseTransaction(b);
  // The open locks went with the connection: each file takes its own again
  // at its next call.
  for (PgFile* f : g_files)
    if (f->base == &b) f->openLocked = false;
  ++b.epoch;
  if (b.conn) {
    PQfinish(b.conn);
    b.conn = nullptr;
  }
  const int s = Connect(b);
  if (s == status::kOk) {
    // Others' commits while it was down were not heard: read all again.
    b.everything = true;
    b.lossTold = false;
  }
  return s;
}

// Takes the notifications the server already sent, without waiting: the
// open files other connections committed to have their read-ahead dropped
// and are kept for TakeBaseChanges. False when the connection turns out
// lost (told once as `everything`).
bool Hear(PgBase& b) {
  if (!b.conn) return false;
  PQconsumeInput(b.conn);
  if (PQstatus(b.conn) != CONNECTION_OK) {
    ++b.epoch;
    if (!b.lossTold) b.everything = b.lossTold = true;
    return false;
  }
  const int self = PQbackendPID(b.conn);
  while (PGnotify* n = PQnotifies(b.conn)) {
    if (n->be_pid != self) {
      for (PgFile* f : g_files) {
        if (f->base != &b || f->name != n->extra) continue;
        ++f->changes;
        if (std::find(b.heard.begin(), b.heard.end(), f->name) == b.heard.end()) b.heard.push_back(f->name);
      }
    }
    PQfreemem(n);
  }
  return true;
}

int BaseFor(const std::string& path, PgBase*& out) {
  const std::string folder = FolderOf(path);
  for (PgBase* b : g_bases)
    if (b->folder == folder && b->pid == ::getpid()) {
      out = b;
      return Ready(*b);
    }
  auto b = std::make_unique<PgBase>();
  b->pid = ::getpid();
  b->folder = folder;
  b->setting = BaseEngineOf(path);
  const int s = Connect(*b);
  if (s != status::kOk) return s;
  out = b.release();
  g_bases.push_back(out);
  return status::kOk;
}

void ReleaseBase(PgBase* b) {
  if (b->files > 0) return;
  // An open transaction goes back with the connection. A parent's
  // connection is not ours to end: its socket is shared after a fork.
  if (b->conn && b->pid == ::getpid()) PQfinish(b->conn);
  g_bases.erase(std::remove(g_bases.begin(), g_bases.end(), b), g_bases.end());
  delete b;
}

// A base taken by BaseFor for one call, released at the end of the scope
// (also when BaseFor refused after taking it).
struct HeldBase {
  PgBase* b = nullptr;
  HeldBase() = default;
  HeldBase(const HeldBase&) = delete;
  HeldBase& operator=(const HeldBase&) = delete;
  ~HeldBase() {
    if (b) ReleaseBase(b);
  }
};

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The insert of file `f` as one statement: the check of its unique keys,
// the counter, the row. Parameters: $1 the file's name, $2 the record, then
// one key entry per key (without its sequence: the statement appends the
// position to the keys with duplicates). One row: whether a unique key is
// taken, the counter taken (null when the file's row is gone or a key was
// taken) and the position inserted (null when another workstation's insert
// took a key first: the insert does nothing, the counter moved).
std::string InsertSql(const PgFile& f) {
  std::string taken = "false", values = "c.pos, c.pos, $2::bytea";
  for (std::size_t k = 0; k < f.keys.size(); ++k) {
    const std::string param = "$" + std::to_string(k + 3) + "::bytea";
    if (!f.keys[k].dup)
      taken += " OR EXISTS (SELECT 1 FROM " + f.table + " WHERE " + KeyColumn(k) + " = " + param + ")";
    values += ", " + param + (f.keys[k].dup ? " || int8send(c.pos)" : "");
  }
  return "WITH d AS (SELECT " + taken + " AS taken), c AS (UPDATE " + kFilesTable +
         " SET next = next + 1 FROM d WHERE name = $1::text AND NOT d.taken RETURNING next - 1 AS pos, pg_notify('" +
         kChangeChannel + "', $1::text) AS told), i AS (INSERT INTO " + f.table + " (" + f.columns + ") SELECT " +
         values + " FROM c ON CONFLICT DO NOTHING RETURNING pos) SELECT (SELECT taken FROM d), (SELECT pos FROM c), "
         "(SELECT pos FROM i)";
}

// The insert of a file whose counter row the transaction holds and whose
// counter is kept here: the check of its unique keys and the row. $1 the
// position, $2 the record, then the key entries as for InsertSql. One row:
// whether a unique key is taken, the position inserted (null if not).
std::string HeldInsertSql(const PgFile& f) {
  std::string taken = "false", values = "$1::bigint, $1::bigint, $2::bytea";
  for (std::size_t k = 0; k < f.keys.size(); ++k) {
    const std::string param = "$" + std::to_string(k + 3) + "::bytea";
    if (!f.keys[k].dup)
      taken += " OR EXISTS (SELECT 1 FROM " + f.table + " WHERE " + KeyColumn(k) + " = " + param + ")";
    values += ", " + param + (f.keys[k].dup ? " || int8send($1::bigint)" : "");
  }
  return "WITH d AS (SELECT " + taken + " AS taken), i AS (INSERT INTO " + f.table + " (" + f.columns + ") SELECT " +
         values + " FROM d WHERE NOT d.taken ON CONFLICT DO NOTHING RETURNING pos) SELECT (SELECT taken FROM d), "
         "(SELECT pos FROM i)";
}

// Writes the counter kept here to the file's row, with the notification of
// the file's change (sent by the server at commit).
int FlushCounter(PgFile& f) {
  if (!f.nextDirty) return status::kOk;
  int s;
  Result r = Prepared(*f.base,
                      std::string("UPDATE ") + kFilesTable + " SET next = $2::bigint WHERE name = $1::text RETURNING pg_notify('" +
                          kChangeChannel + "', $1::text)",
                      Params().text(f.name).int8(f.next), s);
  if (s == status::kOk && PQntuples(r.get()) != 1) s = status::kFileNotFound;
  if (s == status::kOk) f.nextDirty = false;
  return s;
}

// A statement that failed outside any savepoint ended the base's
// transaction on the server: it is over here too (end then gives 36).
void DropFailedTransaction(PgBase& b) {
  if (!b.active || !b.conn || PQtransactionStatus(b.conn) != PQTRANS_INERROR) return;
  Run(b, "ROLLBACK");
  ++b.epoch;
  EndTransaction(b, true);
}

// Before an update or delete of a file whose counter is kept here: the row
// written, as their statement takes the counter from it.
int FlushBeforeWrite(PgFile& f) {
  const int s = FlushCounter(f);
  if (s != status::kOk) DropFailedTransaction(*f.base);
  return s;
}

// ---------------------------------------------------------------------------
// Open locks: a session-level advisory lock per file of the base's database,
// held shared by every workstation that has the file open and exclusive by
// an open in mode -4 (or while create replaces the file). A rolled-back
// transaction does not undo it; a lost connection does.

std::string OpenLockSql(const char* function) {
  return std::string("SELECT ") + function + "(" + kOpenLockClass + ", hashtext($1))";
}

// Takes the open lock of file `name`, polled for kOpenLockLimit; 85 when
// another workstation's opens stand in the way.
int TakeOpenLock(PgBase& b, const std::string& name, bool exclusive) {
  const std::string sql = OpenLockSql(exclusive ? "pg_try_advisory_lock" : "pg_try_advisory_lock_shared");
  const auto deadline = std::chrono::steady_clock::now() + kOpenLockLimit;
  for (auto pause = std::chrono::milliseconds(2);; pause = std::min(pause * 2, std::chrono::milliseconds(40))) {
    int s;
    Result r = Prepared(b, sql, Params().text(name), s);
    if (s != status::kOk) return s;
    if (PQntuples(r.get()) == 1 && PQgetlength(r.get(), 0, 0) == 1 && *PQgetvalue(r.get(), 0, 0) == 1)
      return status::kOk;
    if (std::chrono::steady_clock::now() >= deadline) return status::kFileLocked;
    std::this_thread::sleep_for(pause);
  }
}

void DropOpenLock(PgBase& b, const std::string& name, bool exclusive) {
  if (b.conn && PQstatus(b.conn) == CONNECTION_OK)
    Run(b, OpenLockSql(exclusive ? "pg_advisory_unlock" : "pg_advisory_unlock_shared"), Params().text(name));
}

// ---------------------------------------------------------------------------
// Handles.

PgHandle* Lookup(const void* pb) {
  if (!pb) return nullptr;
  BlockHeader h;
  std::memcpy(&h, pb, sizeof h);
  if (std::memcmp(h.magic, kBlockMagic, 8) != 0 || h.slot >= kMaxHandles || h.pid != ::getpid()) return nullptr;
  PgHandle* handle = g_slots[h.slot];
  return handle && handle->gen == h.gen ? handle : nullptr;
}

void BlankBlock(void* pb) { std::memset(pb, ' ', kPositionBlockSize); }

int CloseHandle(PgHandle* h, void* pb) {
  PgFile* f = h->file;
  g_slots[h->slot] = nullptr;
  delete h;
  BlankBlock(pb);
  if (--f->refs > 0) return status::kOk;
  PgBase* b = f->base;
  // The counter kept here goes to the row before the file is let go of.
  if (FlushCounter(*f) != status::kOk) DropFailedTransaction(*b);
  if (f->openLocked) DropOpenLock(*b, f->name, f->exclusive);
  b->joined.erase(std::remove(b->joined.begin(), b->joined.end(), f), b->joined.end());
  g_files.erase(std::remove(g_files.begin(), g_files.end(), f), g_files.end());
  delete f;
  --b->files;
  ReleaseBase(b);
  return status::kOk;
}

int OpOpen(void* pb, void* key, int keyLength, int mode) {
  if (!pb) return status::kIoError;
  const std::string path = PathFromKey(key, keyLength);
  const std::string name = NameOf(path);
  if (name.empty() || name.size() > kMaxTableName) return status::kInvalidFileName;
  if (PgHandle* old = Lookup(pb)) CloseHandle(old, pb);
  std::uint32_t slot = 0;
  while (slot < kMaxHandles && g_slots[slot]) ++slot;
  if (slot == kMaxHandles) return status::kIoError;

  PgBase* b = nullptr;
  int s = BaseFor(path, b);
  if (s != status::kOk) {
    if (b) ReleaseBase(b);
    return s;
  }
  PgFile* f = nullptr;
  for (PgFile* x : g_files)
    if (x->base == b && x->name == name) f = x;
  const bool exclusive = mode == kModeExclusive;
  // Opened here already: an exclusive open stands alone.
  if (f && (exclusive || f->exclusive)) return status::kFileLocked;
  if (!f) {
    Result r = Prepared(*b, std::string("SELECT def FROM ") + kFilesTable + " WHERE name = $1", Params().text(name), s);
    if (s == status::kOk && PQntuples(r.get()) == 0) s = status::kFileNotFound;
    FileDef def;
    if (s == status::kOk)
      s = decodeFileDef(PQgetvalue(r.get(), 0, 0), static_cast<std::size_t>(PQgetlength(r.get(), 0, 0)), def) ==
                  status::kOk
              ? status::kOk
              : status::kNotRecordManagerFile;
    if (s == status::kOk) s = TakeOpenLock(*b, name, exclusive);
    if (s != status::kOk) {
      ReleaseBase(b);
      return s;
    }
    f = new PgFile;
    f->exclusive = exclusive;
    f->openLocked = true;
    f->base = b;
    f->name = name;
    f->table = Quoted(name);
    f->def = def;
    f->keys = layout::KeysOf(def);
    f->recLen = def.recordLength;
    f->columns = "pos, version, rec";
    for (std::size_t k = 0; k < f->keys.size(); ++k) f->columns += ", " + KeyColumn(k);
    f->insertSql = InsertSql(*f);
    f->heldInsertSql = HeldInsertSql(*f);
    g_files.push_back(f);
    ++b->files;
  }
  auto* h = new PgHandle;
  h->file = f;
  h->slot = slot;
  h->gen = ++g_gens[slot];
  h->readOnly = mode == kModeReadOnly;
  g_slots[slot] = h;
  ++f->refs;
  BlockHeader hdr;
  std::memcpy(hdr.magic, kBlockMagic, 8);
  hdr.slot = slot;
  hdr.gen = h->gen;
  hdr.pid = ::getpid();
  std::memset(pb, 0, kPositionBlockSize);
  std::memcpy(pb, &hdr, sizeof hdr);
  return status::kOk;
}

// ---------------------------------------------------------------------------
// Writes run in a transaction of their own, or under a savepoint of the
// base's transaction: a refused write leaves either as it was.

class WriteScope {
 public:
  explicit WriteScope(PgFile& f) : f_(f), b_(*f.base) {
    ++f.changes;  // our own read-ahead of the file is stale
    status_ = Run(b_, b_.active ? "SAVEPOINT sono_call" : "BEGIN");
    if (status_ == status::kOk && b_.active &&
        std::find(b_.joined.begin(), b_.joined.end(), &f) == b_.joined.end())
      b_.joined.push_back(&f);
  }
  ~WriteScope() {
    if (open()) Run(b_, b_.active ? "ROLLBACK TO SAVEPOINT sono_call" : "ROLLBACK");
  }
  int status() const { return status_; }
  // Every write takes the file's counter: inside the base's transaction,
  // its row stays held once the savepoint is released.
  int commit() {
    done_ = true;
    const int s = Run(b_, b_.active ? "RELEASE SAVEPOINT sono_call" : "COMMIT");
    if (s == status::kOk && b_.active) f_.counterHeld = true;
    return s;
  }

 private:
  bool open() const { return status_ == status::kOk && !done_; }
  PgFile& f_;
  PgBase& b_;
  int status_ = status::kOk;
  bool done_ = false;
};

void SetEntry(PgHandle& h, int kn, const std::uint8_t* rec, std::uint64_t seq) {
  h.path = kn;
  h.entryLen = layout::MakeEntry(h.file->keys[kn], rec, seq, h.entry);
}

// One round trip. Outside a transaction the statement is a transaction of
// its own. Inside one, it needs no savepoint once the transaction holds the
// file's counter row: nobody else may write the file meanwhile, so no lock
// is waited for, and a taken key is an answer, not a failure. The file's
// first write in the transaction runs under a savepoint, so that a lock
// timeout (85) leaves the transaction usable.
int OpInsert(PgHandle& h, const void* data, std::uint32_t dataLength, void* keyBuf, int keyLength, int kn) {
  PgFile& f = *h.file;
  PgBase& b = *f.base;
  if (!data || dataLength < f.recLen) return status::kDataBufferTooShort;
  if (kn < -1 || (kn >= 0 && std::size_t(kn) >= f.keys.size())) return status::kBadKeyNumber;
  if (h.readOnly) return status::kAccessDenied;
  const auto* rec = static_cast<const std::uint8_t*>(data);
  ++f.changes;  // our own read-ahead of the file is stale
  const bool guarded = b.active && !f.counterHeld;
  if (guarded) {
    if (int s = Run(b, "SAVEPOINT sono_call"); s != status::kOk) return s;
    // Joined whatever the outcome, as every write: the transaction's abort
    // makes what its handles read in it stale.
    if (std::find(b.joined.begin(), b.joined.end(), &f) == b.joined.end()) b.joined.push_back(&f);
  }
  // The counter kept here: the statement only checks and inserts.
  const bool kept = b.active && f.counterHeld && f.nextKnown;
  Params p;
  if (kept) p.int8(f.next);
  else p.text(f.name);
  p.bytes(rec, f.recLen);
  std::uint8_t entry[kMaxEntry];
  for (const KeyInfo& key : f.keys) p.bytes(entry, std::min(layout::MakeEntry(key, rec, 0, entry), key.len));
  int s;
  Result r = Prepared(b, kept ? f.heldInsertSql : f.insertSql, p, s);
  // Columns: taken, then (InsertSql) the counter taken, then the position.
  const int posColumn = kept ? 1 : 2;
  const bool counted = s == status::kOk && PQntuples(r.get()) == 1 && !kept && !PQgetisnull(r.get(), 0, 1);
  std::uint64_t pos = 0;
  if (s == status::kOk) {
    if (PQntuples(r.get()) != 1 || PQgetlength(r.get(), 0, 0) != 1) s = status::kIoError;
    else if (*PQgetvalue(r.get(), 0, 0) != 0 || PQgetisnull(r.get(), 0, posColumn))
      s = kept || counted || *PQgetvalue(r.get(), 0, 0) != 0 ? status::kDuplicateKey : status::kFileNotFound;
    else pos = Int8At(r.get(), 0, posColumn);
  }
  if (kept && s == status::kOk) {
    f.next = pos + 1;
    f.nextDirty = true;
  }
  if (guarded) {
    const bool failed = PQtransactionStatus(b.conn) == PQTRANS_INERROR;
    const int end = Run(b, failed ? "ROLLBACK TO SAVEPOINT sono_call" : "RELEASE SAVEPOINT sono_call");
    if (s == status::kOk) s = end;
    if (end == status::kOk && !failed && counted) f.counterHeld = true;
  } else {
    // Not a status the statement answers with (the server failed it).
    DropFailedTransaction(b);
  }
  if (counted && b.active && f.counterHeld) {  // from now on the counter is kept here
    f.nextKnown = true;
    f.next = Int8At(r.get(), 0, 1) + 1;
  }
  if (s != status::kOk) return s;
  if (kn == -1) return status::kOk;  // currency left as it was
  h.hasPos = true;
  h.pos = pos;
  h.hasRecord = true;
  h.version = pos;
  h.versionGen = f.abortGeneration;
  SetEntry(h, kn, rec, pos);
  if (keyBuf && keyLength >= 0 && std::size_t(keyLength) >= f.keys[kn].len)
    layout::RawKey(f.keys[kn], rec, static_cast<std::uint8_t*>(keyBuf));
  return status::kOk;
}

// The handle's record as last read, locked: 80 when it changed or is gone.
// `extra` adds columns after the record's (their parameters follow the
// position, $1, in `params`).
int LockCurrent(PgHandle& h, Result& row, const std::string& extra = "", Params params = Params()) {
  PgFile& f = *h.file;
  int s;
  Params p;
  p.int8(h.pos);
  for (const std::string& v : params.values()) p.text(v);
  row = Prepared(*f.base, "SELECT " + f.columns + extra + " FROM " + f.table + " WHERE pos = $1 FOR UPDATE", p, s);
  // The record itself is held by another workstation's transaction.
  if (s == status::kFileLocked) return status::kRecordLocked;
  if (s != status::kOk) return s;
  if (PQntuples(row.get()) != 1) return status::kConflict;
  if (Int8At(row.get(), 0, 1) != h.version || h.versionGen != f.abortGeneration) return status::kConflict;
  return status::kOk;
}

// The counter taken and the row written in one statement. Every write
// takes the file's counter (positions, sequences, versions), and its
// notification of the file's change goes with it, sent by the server at
// commit only (never for a write rolled back). `setKeys` sets
// the key columns that change ("" when none); its parameters follow $1 (the
// position), $2 (the record) and $3 (the file's name); `c.stamp` is the
// counter taken. One row, the stamp; none when the file's row is gone.
std::string UpdateSql(const PgFile& f, const std::string& setKeys) {
  return std::string("WITH c AS (UPDATE ") + kFilesTable +
         " SET next = next + 1 WHERE name = $3::text RETURNING next - 1 AS stamp, pg_notify('" + kChangeChannel +
         "', $3::text) AS told) UPDATE " + f.table + " SET version = c.stamp, rec = $2::bytea" + setKeys +
         " FROM c WHERE " + f.table + ".pos = $1::bigint RETURNING c.stamp";
}

// Four round trips: begin (or a savepoint), the record locked with the
// check of every unique key it would take, the counter and the row, commit
// (or release).
int OpUpdate(PgHandle& h, const void* data, std::uint32_t dataLength, void* keyBuf, int keyLength, int kn) {
  PgFile& f = *h.file;
  if (!h.hasRecord) return status::kInvalidPositioning;
  if (!data || dataLength < f.recLen) return status::kDataBufferTooShort;
  if (kn < -1 || (kn >= 0 && std::size_t(kn) >= f.keys.size())) return status::kBadKeyNumber;
  if (h.readOnly) return status::kAccessDenied;
  const auto* rec = static_cast<const std::uint8_t*>(data);
  std::vector<std::string> fresh(f.keys.size());  // folded key bytes, no sequence
  std::uint8_t entry[kMaxEntry];
  for (std::size_t k = 0; k < f.keys.size(); ++k)
    fresh[k].assign(reinterpret_cast<const char*>(entry), std::min(layout::MakeEntry(f.keys[k], rec, 0, entry), f.keys[k].len));
  // Whether another record holds the new value of each unique key that
  // may change: one column each, after the record's.
  std::string takenColumns;
  Params takenParams;
  std::vector<int> takenColumn(f.keys.size(), -1);
  int column = 3 + int(f.keys.size()), param = 2;
  for (std::size_t k = 0; k < f.keys.size(); ++k) {
    if (f.keys[k].dup || !f.keys[k].mod) continue;
    takenColumns += ", EXISTS (SELECT 1 FROM " + f.table + " x WHERE x." + KeyColumn(k) + " = $" +
                    std::to_string(param++) + "::bytea AND x.pos <> $1::bigint)";
    takenParams.text(fresh[k]);
    takenColumn[k] = column++;
  }
  if (int s = FlushBeforeWrite(f); s != status::kOk) return s;
  WriteScope scope(f);
  if (scope.status() != status::kOk) return scope.status();
  Result old;
  int s = LockCurrent(h, old, takenColumns, takenParams);
  if (s != status::kOk) return s;
  // Keys in order: the first refusal wins, as in the LMDB engine. A changed
  // key is filed again at the end of its duplicates.
  std::vector<std::uint64_t> seqs(f.keys.size());
  std::vector<bool> changed(f.keys.size());
  Params p;
  p.int8(h.pos).bytes(rec, f.recLen).text(f.name);
  std::string setKeys;
  for (std::size_t k = 0; k < f.keys.size(); ++k) {
    const KeyInfo& key = f.keys[k];
    const auto* oldEntry = reinterpret_cast<const std::uint8_t*>(PQgetvalue(old.get(), 0, 3 + int(k)));
    changed[k] = std::memcmp(oldEntry, fresh[k].data(), key.len) != 0;
    seqs[k] = key.dup ? getBE64(oldEntry + key.len) : 0;
    if (!changed[k]) continue;
    if (!key.mod) return status::kKeyNotModifiable;
    if (takenColumn[k] >= 0 && PQgetlength(old.get(), 0, takenColumn[k]) == 1 &&
        *PQgetvalue(old.get(), 0, takenColumn[k]) != 0)
      return status::kDuplicateKey;
    p.text(fresh[k]);
    setKeys += ", " + KeyColumn(k) + " = $" + std::to_string(p.values().size()) + "::bytea" +
               (key.dup ? " || int8send(c.stamp)" : "");
  }
  Result r = Prepared(*f.base, UpdateSql(f, setKeys), p, s);
  if (s != status::kOk) return s;
  if (PQntuples(r.get()) != 1) return status::kFileNotFound;
  const std::uint64_t stamp = Int8At(r.get(), 0, 0);
  for (std::size_t k = 0; k < f.keys.size(); ++k)
    if (changed[k] && f.keys[k].dup) seqs[k] = stamp;
  s = scope.commit();
  if (s != status::kOk) return s;
  if (f.counterHeld) {
    f.nextKnown = true;
    f.next = stamp + 1;
  }
  h.hasPos = true;
  h.hasRecord = true;
  h.version = stamp;
  h.versionGen = f.abortGeneration;
  // The key path follows the record to its new key value.
  if (h.path >= 0) SetEntry(h, h.path, rec, seqs[h.path]);
  if (kn >= 0 && keyBuf && keyLength >= 0 && std::size_t(keyLength) >= f.keys[kn].len)
    layout::RawKey(f.keys[kn], rec, static_cast<std::uint8_t*>(keyBuf));
  return status::kOk;
}

int OpDelete(PgHandle& h) {
  PgFile& f = *h.file;
  if (!h.hasRecord) return status::kInvalidPositioning;
  if (h.readOnly) return status::kAccessDenied;
  if (int s = FlushBeforeWrite(f); s != status::kOk) return s;
  WriteScope scope(f);
  if (scope.status() != status::kOk) return scope.status();
  Result old;
  int s = LockCurrent(h, old);
  if (s != status::kOk) return s;
  // Every change moves the counter, deletes too (as in the LMDB engine):
  // one statement.
  Result r = Prepared(*f.base,
                      std::string("WITH c AS (UPDATE ") + kFilesTable +
                          " SET next = next + 1 WHERE name = $2::text RETURNING next - 1 AS stamp, pg_notify('" +
                          kChangeChannel + "', $2::text) AS told) DELETE FROM " + f.table + " USING c WHERE " +
                          f.table + ".pos = $1::bigint RETURNING c.stamp",
                      Params().int8(h.pos).text(f.name), s);
  if (s == status::kOk && PQntuples(r.get()) != 1) s = status::kFileNotFound;
  if (s == status::kOk) s = scope.commit();
  if (s != status::kOk) return s;
  if (f.counterHeld) {
    f.nextKnown = true;
    f.next = Int8At(r.get(), 0, 0) + 1;
  }
  // The key path entry is kept: get next/previous continue from where the
  // record stood.
  h.hasRecord = false;
  return status::kOk;
}

// ---------------------------------------------------------------------------
// Reads.

// Copies a row's record out and moves the handle's currency to it.
int Deliver(PgHandle& h, const PGresult* r, void* data, std::uint32_t& dataLength, void* keyBuf, int kn, int row = 0) {
  PgFile& f = *h.file;
  if (static_cast<std::size_t>(PQgetlength(r, row, 2)) != f.recLen) return status::kIoError;
  const auto* rec = reinterpret_cast<const std::uint8_t*>(PQgetvalue(r, row, 2));
  return DeliverRecord(h, rec, f.recLen, f.keys, Currency{Int8At(r, row, 0), Int8At(r, row, 1), f.abortGeneration},
                       data, dataLength, keyBuf, kn);
}

// Read-ahead. A batch serves the calls that walk on from where it was read
// (the same operation and key) while no write of ours, no transaction
// boundary, no reconnect and no change heard from another workstation came
// since; anything else that moves the handle drops it. Inside a transaction
// nothing is read ahead: others' commits are not heard until it ends.
void DropAhead(PgHandle& h) {
  h.ahead.rows.reset();
  h.ahead.size = kFirstBatch;
}

// How many rows the next query of `op` on key `kn` (-1: steps) asks for.
int BatchSize(PgHandle& h, int op, int kn) {
  const bool walking = op == kGetNext || op == kGetPrevious || op == kStepNext || op == kStepPrevious;
  if (!walking || h.file->base->active) return 1;
  if (h.ahead.op != op || h.ahead.kn != kn) h.ahead.size = kFirstBatch;
  return h.ahead.size;
}

// Keeps the rows after the first of a walking query for the calls to come.
void KeepAhead(PgHandle& h, Result& r, int op, int kn) {
  ReadAhead& a = h.ahead;
  const int asked = BatchSize(h, op, kn);
  if (asked <= 1 || PQntuples(r.get()) <= 1) {
    a.rows.reset();
    return;
  }
  a.rows = std::move(r);
  a.next = 1;
  a.op = op;
  a.kn = kn;
  a.epoch = h.file->base->epoch;
  a.changes = h.file->changes;
  a.size = std::min(asked * kBatchGrowth, kLastBatch);
}

// The next row of the batch for `op` on key `kn`, or -1 (the batch dropped)
// when none may be served. Hears the server's notifications first: a
// change another workstation committed is never hidden by a batch read
// before its notification came. `lost` is set when the connection is.
int AheadRow(PgHandle& h, int op, int kn, bool& lost) {
  ReadAhead& a = h.ahead;
  lost = false;
  if (!a.rows) return -1;
  PgBase& b = *h.file->base;
  if (!Hear(b)) {
    lost = true;
    DropAhead(h);
    return -1;
  }
  if (a.op != op || a.kn != kn || a.epoch != b.epoch || a.changes != h.file->changes ||
      a.next >= PQntuples(a.rows.get())) {
    a.rows.reset();
    return -1;
  }
  return a.next++;
}

int OpGetKeyed(PgHandle& h, int op, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength, int kn) {
  PgFile& f = *h.file;
  if (kn < 0 || std::size_t(kn) >= f.keys.size()) return status::kBadKeyNumber;
  const KeyInfo& key = f.keys[kn];
  if (!keyBuf || keyLength < 0 || std::size_t(keyLength) < key.len) return status::kKeyBufferTooShort;
  if ((op == kGetNext || op == kGetPrevious) && h.path < 0) return status::kInvalidPositioning;
  if ((op == kGetNext || op == kGetPrevious) && h.path != kn) return status::kKeyNumberChanged;

  if (op == kGetNext || op == kGetPrevious) {
    bool lost;
    const int row = AheadRow(h, op, kn, lost);
    if (lost) {
      LoseTransaction(*f.base);
      return kConnectionLost;
    }
    if (row >= 0) {
      const PGresult* r = h.ahead.rows.get();
      const std::size_t foundLen = static_cast<std::size_t>(PQgetlength(r, row, 3 + kn));
      if (foundLen != key.len + (key.dup ? kSeqBytes : 0)) return status::kIoError;
      const int s = Deliver(h, r, data, dataLength, keyBuf, kn, row);
      std::memcpy(h.entry, PQgetvalue(r, row, 3 + kn), foundLen);
      h.entryLen = foundLen;
      h.path = kn;
      return s;
    }
  }
  std::uint8_t search[kMaxEntry];
  std::size_t searchLen = key.len;
  if (op == kGetNext || op == kGetPrevious) {
    std::memcpy(search, h.entry, h.entryLen);
    searchLen = h.entryLen;
  } else if (op != kGetFirst && op != kGetLast) {
    layout::FoldKey(key, static_cast<const std::uint8_t*>(keyBuf), search);
  }
  // Past every duplicate of the search value.
  auto pastDuplicates = [&] {
    std::memset(search + key.len, 0xFF, kSeqBytes);
    searchLen = key.len + kSeqBytes;
  };
  const std::string col = KeyColumn(kn);
  std::string where;
  bool descending = false;
  switch (op) {
    case kGetEqual:
    case kGetGreaterOrEqual: where = col + " >= $1"; break;
    case kGetNext: where = col + " > $1"; break;
    case kGetPrevious:
    case kGetLess:
      where = col + " < $1";
      descending = true;
      break;
    case kGetGreater:
      if (key.dup) pastDuplicates();
      where = col + (key.dup ? " >= $1" : " > $1");
      break;
    case kGetLessOrEqual:
      if (key.dup) pastDuplicates();
      where = col + (key.dup ? " < $1" : " <= $1");
      descending = true;
      break;
    case kGetFirst: break;
    case kGetLast: descending = true; break;
    default: return status::kInvalidOperation;
  }
  Params p;
  if (!where.empty()) p.bytes(search, searchLen);
  const std::string sql = "SELECT " + f.columns + " FROM " + f.table + (where.empty() ? "" : " WHERE " + where) +
                          " ORDER BY " + col + (descending ? " DESC" : "") + " LIMIT " +
                          std::to_string(BatchSize(h, op, kn));
  int s;
  Result r = Prepared(*f.base, sql, p, s);
  if (s != status::kOk) return s;
  if (PQntuples(r.get()) == 0) return op == kGetEqual ? status::kKeyNotFound : status::kEndOfFile;
  const auto* found = reinterpret_cast<const std::uint8_t*>(PQgetvalue(r.get(), 0, 3 + kn));
  const std::size_t foundLen = static_cast<std::size_t>(PQgetlength(r.get(), 0, 3 + kn));
  if (foundLen != key.len + (key.dup ? kSeqBytes : 0)) return status::kIoError;
  if (op == kGetEqual && std::memcmp(found, search, key.len) != 0) return status::kKeyNotFound;
  s = Deliver(h, r.get(), data, dataLength, keyBuf, kn);
  std::memcpy(h.entry, found, foundLen);
  h.entryLen = foundLen;
  h.path = kn;
  if (s == status::kOk || s == status::kDataBufferTooShort) KeepAhead(h, r, op, kn);  // the handle moved
  return s;
}

int OpStep(PgHandle& h, int op, void* data, std::uint32_t& dataLength) {
  PgFile& f = *h.file;
  if ((op == kStepNext || op == kStepPrevious) && !h.hasPos) return status::kInvalidPositioning;
  if (op == kStepNext || op == kStepPrevious) {
    bool lost;
    const int row = AheadRow(h, op, -1, lost);
    if (lost) {
      LoseTransaction(*f.base);
      return kConnectionLost;
    }
    if (row >= 0) {
      const int s = Deliver(h, h.ahead.rows.get(), data, dataLength, nullptr, -1, row);
      h.path = -1;
      return s;
    }
  }
  const std::string limit = " LIMIT " + std::to_string(BatchSize(h, op, -1));
  std::string tail;
  Params p;
  switch (op) {
    case kStepFirst: tail = " ORDER BY pos" + limit; break;
    case kStepLast: tail = " ORDER BY pos DESC" + limit; break;
    case kStepNext:
      tail = " WHERE pos > $1 ORDER BY pos" + limit;
      p.int8(h.pos);
      break;
    default:  // kStepPrevious
      tail = " WHERE pos < $1 ORDER BY pos DESC" + limit;
      p.int8(h.pos);
      break;
  }
  int s;
  Result r = Prepared(*f.base, "SELECT " + f.columns + " FROM " + f.table + tail, p, s);
  if (s != status::kOk) return s;
  if (PQntuples(r.get()) == 0) return status::kEndOfFile;
  s = Deliver(h, r.get(), data, dataLength, nullptr, -1);
  h.path = -1;  // physical reads do not establish a key path
  if (s == status::kOk || s == status::kDataBufferTooShort) KeepAhead(h, r, op, -1);
  return s;
}

int OpGetDirect(PgHandle& h, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength, int kn) {
  PgFile& f = *h.file;
  if (!data || dataLength < 4) return status::kDataBufferTooShort;
  if (kn < -1 || (kn >= 0 && std::size_t(kn) >= f.keys.size())) return status::kBadKeyNumber;
  if (kn >= 0 && (!keyBuf || keyLength < 0 || std::size_t(keyLength) < f.keys[kn].len))
    return status::kKeyBufferTooShort;
  std::uint32_t pos;
  std::memcpy(&pos, data, 4);
  int s;
  Result r = Prepared(*f.base, "SELECT " + f.columns + " FROM " + f.table + " WHERE pos = $1", Params().int8(pos), s);
  if (s != status::kOk) return s;
  if (PQntuples(r.get()) == 0) return status::kBadRecordAddress;
  s = Deliver(h, r.get(), data, dataLength, keyBuf, kn);
  if (kn >= 0) {
    h.entryLen = static_cast<std::size_t>(PQgetlength(r.get(), 0, 3 + kn));
    std::memcpy(h.entry, PQgetvalue(r.get(), 0, 3 + kn), std::min(h.entryLen, kMaxEntry));
  }
  h.path = kn;
  return s;
}

int OpStat(PgHandle& h, void* data, std::uint32_t& dataLength) {
  PgFile& f = *h.file;
  std::vector<std::uint8_t> block = encodeFileDef(f.def);
  std::size_t segments = 0;
  for (const KeyInfo& k : f.keys) segments += k.segs.size();
  const std::size_t need = 16 + 16 * segments;
  if (!data || dataLength < need) return status::kDataBufferTooShort;
  std::string sql = "SELECT count(*)";
  for (std::size_t k = 0; k < f.keys.size(); ++k)
    sql += f.keys[k].dup ? ", count(DISTINCT substr(" + KeyColumn(k) + ", 1, " + std::to_string(f.keys[k].len) + "))"
                         : ", count(*)";
  int s;
  Result r = Prepared(*f.base, sql + " FROM " + f.table, {}, s);
  if (s != status::kOk) return s;
  auto put32 = [&](std::size_t at, std::uint64_t v) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(v, UINT32_MAX));
    std::memcpy(&block[at], &n, 4);
  };
  put32(6, Int8At(r.get(), 0, 0));
  std::size_t at = 16;
  for (std::size_t k = 0; k < f.keys.size(); ++k) {
    put32(at + 6, Int8At(r.get(), 0, 1 + int(k)));
    at += 16 * f.keys[k].segs.size();
  }
  std::memcpy(data, block.data(), need);
  dataLength = static_cast<std::uint32_t>(need);
  return status::kOk;
}

// ---------------------------------------------------------------------------
// Transactions: one SQL transaction on the base's connection, over every file
// of the base this process has open.

int OpBegin(PgHandle& h) {
  PgBase& b = *h.file->base;
  if (b.active) return status::kTransactionActive;
  if (h.readOnly) return status::kAccessDenied;
  int s = Run(b, "BEGIN");
  ++b.epoch;
  if (s != status::kOk) return s;
  // The begun file is held to the end, as the LMDB engine holds its file:
  // another workstation's begin or write on it waits for the lock timeout,
  // then 85.
  Result r = Prepared(b, std::string("SELECT next FROM ") + kFilesTable + " WHERE name = $1 FOR UPDATE",
                      Params().text(h.file->name), s);
  if (s == status::kOk && PQntuples(r.get()) != 1) s = status::kFileNotFound;
  if (s != status::kOk) {
    Run(b, "ROLLBACK");
    return s;
  }
  b.active = true;
  b.joined.assign(1, h.file);
  h.file->counterHeld = h.file->nextKnown = true;
  h.file->nextDirty = false;
  h.file->next = Int8At(r.get(), 0, 0);
  return status::kOk;
}

int OpEnd(PgHandle& h) {
  PgBase& b = *h.file->base;
  if (!b.active) return status::kTransactionError;
  // A transaction a failed statement ended on the server would answer
  // COMMIT with a silent rollback: it is rolled back and said so.
  // The counters kept here are written first.
  int flushed = status::kOk;
  for (PgFile* f : b.joined)
    if (flushed == status::kOk) flushed = FlushCounter(*f);
  const bool failed = flushed != status::kOk || (b.conn && PQtransactionStatus(b.conn) == PQTRANS_INERROR);
  int s = Run(b, failed ? "ROLLBACK" : "COMMIT");
  if (failed && s == status::kOk) s = flushed != status::kOk ? flushed : status::kIoError;
  ++b.epoch;
  // A refused commit is rolled back by the server: like an abort.
  EndTransaction(b, s != status::kOk);
  return s;
}

int OpAbort(PgHandle& h) {
  PgBase& b = *h.file->base;
  if (!b.active) return status::kTransactionError;
  const int s = Run(b, "ROLLBACK");
  ++b.epoch;
  // Records read inside the transaction may carry stamps that were never
  // committed; they must be read again before being changed.
  EndTransaction(b, true);
  return s;
}

// ---------------------------------------------------------------------------
// Create (14): the table, its indexes and its row in the files table, in one
// transaction (a savepoint inside the base's transaction).

int OpCreate(const void* data, std::uint32_t dataLength, const void* key, int keyLength, int keyNumber) {
  FileDef def;
  int s = decodeFileDef(data, data ? dataLength : 0, def);
  if (s != status::kOk) return s;
  const std::string path = PathFromKey(key, keyLength);
  const std::string name = NameOf(path);
  if (name.empty() || name.size() > kMaxTableName) return status::kInvalidFileName;
  HeldBase held;
  s = BaseFor(path, held.b);
  if (s != status::kOk) return s;
  PgBase* b = held.b;
  const bool openHere = std::any_of(g_files.begin(), g_files.end(),
                                   [&](const PgFile* f) { return f->base == b && f->name == name; });
  const std::vector<std::uint8_t> block = encodeFileDef(def);
  const std::string table = Quoted(name);
  s = Run(*b, b->active ? "SAVEPOINT sono_create" : "BEGIN");
  if (s != status::kOk) return s;
  Result found = Exec(*b, std::string("SELECT 1 FROM ") + kFilesTable + " WHERE name = $1 FOR UPDATE",
                      Params().text(name), s);
  bool replacing = false;
  if (s == status::kOk && PQntuples(found.get()) > 0) {
    if (keyNumber == -1) s = status::kFileExists;
    // Not while the file is open, here or on another workstation.
    if (s == status::kOk && openHere) s = status::kFileLocked;
    if (s == status::kOk) s = TakeOpenLock(*b, name, true);
    replacing = s == status::kOk;
    if (s == status::kOk) s = Run(*b, "DROP TABLE IF EXISTS " + table);
    if (s == status::kOk) s = Run(*b, std::string("DELETE FROM ") + kFilesTable + " WHERE name = $1", Params().text(name));
  }
  std::string columns = "pos bigint PRIMARY KEY, version bigint NOT NULL, rec bytea NOT NULL";
  for (std::size_t k = 0; k < def.keys.size(); ++k) columns += ", " + KeyColumn(k) + " bytea NOT NULL";
  if (s == status::kOk) s = Run(*b, "CREATE TABLE " + table + " (" + columns + ")");
  for (std::size_t k = 0; k < def.keys.size() && s == status::kOk; ++k)
    s = Run(*b, "CREATE UNIQUE INDEX ON " + table + " (" + KeyColumn(k) + ")");
  if (s == status::kOk)
    s = Run(*b, std::string("INSERT INTO ") + kFilesTable + " (name, def, next) VALUES ($1, $2, $3)",
            Params().text(name).bytes(block.data(), block.size()).int8(1));
  if (s == status::kOk)
    s = Run(*b, std::string("SELECT pg_notify('") + kChangeChannel + "', $1)", Params().text(name));
  if (s == status::kOk)
    s = Run(*b, b->active ? "RELEASE SAVEPOINT sono_create" : "COMMIT");
  else
    Run(*b, b->active ? "ROLLBACK TO SAVEPOINT sono_create" : "ROLLBACK");
  if (replacing) DropOpenLock(*b, name, true);
  // Statements prepared over the file as it was may name columns it lost.
  if (s == status::kOk) ForgetStatements(*b);
  return s;
}

int Dispatch(int op, PgHandle& h, void* data, std::uint32_t& dataLength, void* keyBuf, int keyLength, int kn) {
  // Any call that may move the handle other than a walk drops its batch.
  const bool keepsAhead = op == kGetNext || op == kGetPrevious || op == kStepNext || op == kStepPrevious ||
                          op == kGetPosition || op == kStat;
  if (!keepsAhead) DropAhead(h);
  if (int s = Ready(*h.file->base); s != status::kOk) return s;
  PgFile& f = *h.file;
  if (!f.openLocked) {
    if (int s = TakeOpenLock(*f.base, f.name, f.exclusive); s != status::kOk) return s;
    f.openLocked = true;
  }
  switch (op) {
    case kInsert: return OpInsert(h, data, dataLength, keyBuf, keyLength, kn);
    case kUpdate: return OpUpdate(h, data, dataLength, keyBuf, keyLength, kn);
    case kDelete: return OpDelete(h);
    case kGetEqual:
    case kGetNext:
    case kGetPrevious:
    case kGetGreater:
    case kGetGreaterOrEqual:
    case kGetLess:
    case kGetLessOrEqual:
    case kGetFirst:
    case kGetLast: return OpGetKeyed(h, op, data, dataLength, keyBuf, keyLength, kn);
    case kStat: return OpStat(h, data, dataLength);
    case kBeginTransaction:
    case kBeginConcurrentTransaction: return OpBegin(h);
    case kEndTransaction: return OpEnd(h);
    case kAbortTransaction: return OpAbort(h);
    case kGetPosition: {
      if (!h.hasRecord) return status::kInvalidPositioning;
      if (!data || dataLength < 4) return status::kDataBufferTooShort;
      const std::uint32_t pos = static_cast<std::uint32_t>(h.pos);
      std::memcpy(data, &pos, 4);
      dataLength = 4;
      return status::kOk;
    }
    case kGetDirect: return OpGetDirect(h, data, dataLength, keyBuf, keyLength, kn);
    case kStepFirst:
    case kStepLast:
    case kStepNext:
    case kStepPrevious: return OpStep(h, op, data, dataLength);
    default: return status::kInvalidOperation;
  }
}

class Postgres final : public Engine {
 public:
  int call(int operation, void* positionBlock, void* dataBuffer, std::uint32_t& dataLength, void* keyBuffer,
           int keyLength, int keyNumber) override {
    std::lock_guard lock(g_mutex);
    try {
      switch (operation) {
        case kOpen: return OpOpen(positionBlock, keyBuffer, keyLength, keyNumber);
        case kCreate: return OpCreate(dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
        case kClose: {
          PgHandle* h = Lookup(positionBlock);
          return h ? CloseHandle(h, positionBlock) : status::kNotOpen;
        }
        default: break;
      }
      PgHandle* h = Lookup(positionBlock);
      if (!h) return status::kNotOpen;
      return Dispatch(operation, *h, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
    } catch (const std::bad_alloc&) {
      return status::kIoError;
    }
  }
  bool ownsBlock(const void* positionBlock) const override {
    return std::memcmp(positionBlock, kBlockMagic, sizeof kBlockMagic) == 0;
  }
  // Never waits for a call of another thread: its base is heard next time.
  BaseChanges takeBaseChanges(const std::string& folder) override {
    BaseChanges out;
    std::unique_lock lock(g_mutex, std::try_to_lock);
    if (!lock) return out;
    for (PgBase* b : g_bases) {
      if (b->folder != folder || b->pid != ::getpid()) continue;
      Hear(*b);
      out.everything = out.everything || b->everything;
      b->everything = false;
      for (std::string& name : b->heard) out.files.push_back(std::move(name));
      b->heard.clear();
    }
    return out;
  }
};

}  // namespace

int PostgresReach(const std::string& path, std::string& detail) {
  std::lock_guard lock(g_mutex);
  PgBase* b = nullptr;
  const int s = BaseFor(path, b);
  detail = s == status::kOk ? std::string() : g_connectFailure;
  if (b) ReleaseBase(b);
  return s;
}

int PostgresRemove(const std::string& path) {
  std::lock_guard lock(g_mutex);
  const std::string name = NameOf(path);
  if (name.empty() || name.size() > kMaxTableName) return status::kInvalidFileName;
  HeldBase held;
  int s = BaseFor(path, held.b);
  if (s != status::kOk) return s;
  PgBase* b = held.b;
  for (PgFile* f : g_files)
    if (f->base == b && f->name == name) return status::kFileLocked;
  if (b->active) return status::kTransactionActive;
  s = Run(*b, "BEGIN");
  if (s == status::kOk) s = Run(*b, "DROP TABLE IF EXISTS " + Quoted(name));
  if (s == status::kOk) s = Run(*b, std::string("DELETE FROM ") + kFilesTable + " WHERE name = $1", Params().text(name));
  if (s == status::kOk) s = Run(*b, "COMMIT");
  else Run(*b, "ROLLBACK");
  if (s == status::kOk) ForgetStatements(*b);
  return s;
}

Engine& PostgresEngine() {
  static Postgres engine;
  return engine;
}

}  // namespace sono::btr
