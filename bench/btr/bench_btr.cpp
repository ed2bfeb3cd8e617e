// Record manager throughput on a station song file (100,000 records of 900
// bytes, six keys), on both engines. LMDB figures are next to the same work
// done with LMDB's C API on the same table layout, in operations per CPU
// second; PostgreSQL figures (a private server on a Unix socket) are next to
// plain libpq doing the same reads in the same run, in operations per second
// of wall time (the server's work is in its own process). One JSON object per
// line.
#include <libpq-fe.h>
#include <lmdb.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>

#include "../common/bench_report.h"
#include "base_engine.h"
#include "btr.h"
#include "pages.h"
#include "pg_cluster.h"

namespace {

using namespace sono::btr;
using sono::bench::Report;
using Clock = std::chrono::steady_clock;

constexpr int kRecords = 100000;
constexpr std::size_t kRecLen = 900;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void fail(const char* what, int code) {
  std::fprintf(stderr, "bench_btr: %s failed: %d\n", what, code);
  std::exit(1);
}

void ck(int rc, const char* what) {
  if (rc != 0) fail(what, rc);
}

FileDef songDef() {
  FileDef d;
  d.recordLength = kRecLen;
  d.pageSize = 2048;
  auto k = [](std::uint16_t p, std::uint16_t l, std::uint16_t f) { return KeyDef{{KeySegment{p, l, f}}}; };
  d.keys = {k(1, 8, 2), k(9, 5, 3), k(19, 5, 3), k(64, 5, 3), k(69, 5, 3), k(24, 20, 1027)};
  return d;
}

// Records in random code order; titles repeat (about five songs per title)
// so that key 5 walks through duplicates.
std::vector<std::string> makeRecords() {
  std::mt19937 rng(42);
  std::vector<int> order(kRecords);
  for (int i = 0; i < kRecords; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<std::string> out;
  out.reserve(kRecords);
  char buf[64];
  for (int i : order) {
    std::string r(kRecLen, ' ');
    auto set = [&](std::size_t pos, const char* v) { std::memcpy(&r[pos - 1], v, std::strlen(v)); };
    std::snprintf(buf, sizeof buf, "S%07d", i);
    set(1, buf);
    std::snprintf(buf, sizeof buf, "A%04u", unsigned(rng() % 5000));
    set(9, buf);
    std::snprintf(buf, sizeof buf, "B%04u", unsigned(rng() % 300));
    set(19, buf);
    std::snprintf(buf, sizeof buf, "%s title %05u", (rng() % 2) ? "la" : "Le", unsigned(rng() % 20000));
    set(24, buf);
    std::snprintf(buf, sizeof buf, "D%04u", unsigned(rng() % 200));
    set(64, buf);
    std::snprintf(buf, sizeof buf, "C%04u", unsigned(rng() % 40));
    set(69, buf);
    for (std::size_t j = 120; j < kRecLen; ++j) r[j] = static_cast<char>('a' + (i + j) % 26);
    out.push_back(std::move(r));
  }
  return out;
}

// Each call is compared with raw LMDB reading inside one long read
// transaction (the floor), and again with raw LMDB taking a fresh snapshot for
// every operation, as any call-by-call interface must to see other processes'
// commits. Rates become costs per operation: the ratio is our time over LMDB's.
void reportCall(const char* name, double rate, const char* target, double rawRate, double rawPerCallRate,
                const char* ratioTarget) {
  Report(name, rate, "ops/s", target, rawRate / rate, "raw LMDB, one read transaction", ratioTarget);
  if (rawPerCallRate > 0)
    Report((std::string(name) + "_vs_snapshot_per_call").c_str(), rate, "ops/s", nullptr, rawPerCallRate / rate,
           "raw LMDB, a snapshot per call");
}

// This process's CPU seconds, to the nanosecond: on a machine shared with
// builds, wall time would count the waits for the processor too.
double cpuNow() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Best rate of three runs of `run`, which returns the operations it did, in
// operations per CPU second.
template <class F>
double bestRate(F run) {
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    const double t0 = cpuNow();
    const double ops = run();
    best = std::max(best, ops / (cpuNow() - t0));
  }
  return best;
}

// ---------------------------------------------------------------------------
// Through BTRCALL.

struct Layer {
  char pb[128];
  std::string path;
  char key[255];
  char data[kRecLen];

  int call(int op, const void* rec, int kn) {
    std::uint32_t len = kRecLen;
    if (rec) std::memcpy(data, rec, kRecLen);
    return BTRCALL(op, pb, data, len, key, 255, kn);
  }
  // Opens `file` (its name blank-padded in the key buffer, as the layer passes it).
  int open(const std::string& file) {
    std::memset(pb, ' ', sizeof pb);
    std::string name = file;
    name.resize(255, ' ');
    std::memcpy(key, name.data(), 255);
    std::uint32_t len = 0;
    return BTRCALL(kOpen, pb, nullptr, len, key, 255, 0);
  }
  int close() {
    std::uint32_t len = 0;
    return BTRCALL(kClose, pb, nullptr, len, nullptr, 0, 0);
  }
};

// Get next along key 5 (titles with duplicates), the whole file, through
// the layer's call on either engine: the records walked, which must be all.
double WalkKey5(Layer& L, const char* countFailure) {
  std::memset(L.key, 0, 255);
  int s = L.call(kGetFirst, nullptr, 5);
  double n = 0;
  while (s == 0) {
    ++n;
    s = L.call(kGetNext, nullptr, 5);
  }
  if (n != kRecords) fail(countFailure, int(n));
  return n;
}

// ---------------------------------------------------------------------------
// LMDB directly: the same tables (records by big-endian position, one table
// per key, folded key bytes plus a sequence for keys with duplicates).

struct Raw {
  MDB_env* env = nullptr;
  MDB_dbi rec = 0;
  MDB_dbi keys[6] = {};
  struct Seg {
    int pos, len;
    bool dup, fold;
  };
  Seg segs[6] = {{1, 8, false, false}, {9, 5, true, false},  {19, 5, true, false},
                 {64, 5, true, false}, {69, 5, true, false}, {24, 20, true, true}};
  unsigned char upper[256];

  explicit Raw(const std::string& path) {
    for (int c = 0; c < 256; ++c) upper[c] = foldCase1252(static_cast<unsigned char>(c));
    ck(mdb_env_create(&env), "mdb_env_create");
    mdb_env_set_maxdbs(env, 10);
    mdb_env_set_mapsize(env, std::size_t(1) << 30);
    ck(mdb_env_open(env, path.c_str(), MDB_NOSUBDIR, 0664), "mdb_env_open");
    MDB_txn* t;
    ck(mdb_txn_begin(env, nullptr, 0, &t), "begin");
    ck(mdb_dbi_open(t, "rec", MDB_CREATE, &rec), "dbi");
    for (int i = 0; i < 6; ++i) {
      char name[8];
      std::snprintf(name, sizeof name, "k%d", i);
      ck(mdb_dbi_open(t, name, MDB_CREATE, &keys[i]), "dbi");
    }
    ck(mdb_txn_commit(t), "commit");
  }
  ~Raw() { mdb_env_close(env); }

  std::size_t entry(int k, const char* r, std::uint64_t seq, unsigned char* out) const {
    const Seg& s = segs[k];
    for (int i = 0; i < s.len; ++i) {
      const auto c = static_cast<unsigned char>(r[s.pos - 1 + i]);
      out[i] = s.fold ? upper[c] : c;
    }
    if (!s.dup) return s.len;
    for (int i = 7; i >= 0; --i, seq >>= 8) out[s.len + i] = static_cast<unsigned char>(seq);
    return s.len + 8;
  }

  void insertAll(const std::vector<std::string>& records) {
    MDB_txn* t;
    ck(mdb_txn_begin(env, nullptr, 0, &t), "begin");
    std::uint64_t pos = 1;
    for (const std::string& r : records) {
      unsigned char pk[8], e[64];
      for (int i = 7, p = 0; i >= 0; --i, ++p) pk[p] = static_cast<unsigned char>(pos >> (8 * i));
      MDB_val k{8, pk}, v{56 + kRecLen, nullptr};
      ck(mdb_put(t, rec, &k, &v, MDB_RESERVE | MDB_APPEND), "put rec");
      std::memset(v.mv_data, 0, 56);
      std::memcpy(static_cast<char*>(v.mv_data) + 56, r.data(), kRecLen);
      for (int i = 0; i < 6; ++i) {
        MDB_val ek{entry(i, r.data(), pos, e), e}, ev{8, pk};
        ck(mdb_put(t, keys[i], &ek, &ev, MDB_NOOVERWRITE), "put key");
      }
      ++pos;
    }
    ck(mdb_txn_commit(t), "commit");
  }
};

// ---------------------------------------------------------------------------
// PostgreSQL: the same file as a table of a private server's database.

// Best rate of three runs of `run` in operations per second of wall time.
template <class F>
double bestWallRate(F run) {
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = Clock::now();
    const double ops = run();
    best = std::max(best, ops / seconds(t0, Clock::now()));
  }
  return best;
}

// Plain libpq on the engine's table: binary parameters and results, the
// columns the engine reads (position, version, record, key entries).
struct PlainPq {
  PGconn* conn;
  std::string columns = "pos, version, rec, k0, k1, k2, k3, k4, k5";
  std::string table = "\"FRADA22.bt6\"";

  explicit PlainPq(const std::string& connection) : conn(PQconnectdb(connection.c_str())) {
    if (PQstatus(conn) != CONNECTION_OK) fail("libpq connect", int(PQstatus(conn)));
  }
  ~PlainPq() { PQfinish(conn); }

  // Rows of `sql` with one bytea parameter; -1 on error.
  int rows(const char* sql, const void* param, int paramLen, std::string* lastKey, int keyColumn) {
    const char* values[] = {static_cast<const char*>(param)};
    const int lengths[] = {paramLen}, formats[] = {1};
    PGresult* r = PQexecParams(conn, sql, param ? 1 : 0, nullptr, values, lengths, formats, 1);
    return take(r, lastKey, keyColumn);
  }
  int prepared(const char* name, const void* param, int paramLen) {
    const char* values[] = {static_cast<const char*>(param)};
    const int lengths[] = {paramLen}, formats[] = {1};
    return take(PQexecPrepared(conn, name, 1, values, lengths, formats, 1), nullptr, 0);
  }
  int take(PGresult* r, std::string* lastKey, int keyColumn) {
    if (PQresultStatus(r) != PGRES_TUPLES_OK) fail(PQerrorMessage(conn), 0);
    const int n = PQntuples(r);
    char sink[kRecLen];
    for (int i = 0; i < n; ++i)
      std::memcpy(sink, PQgetvalue(r, i, 2), std::min<std::size_t>(kRecLen, std::size_t(PQgetlength(r, i, 2))));
    if (lastKey && n > 0) lastKey->assign(PQgetvalue(r, n - 1, keyColumn), std::size_t(PQgetlength(r, n - 1, keyColumn)));
    PQclear(r);
    return n;
  }
};

void benchPostgres(const std::string& dir, const std::vector<std::string>& records,
                   const std::vector<std::string>& codes, double lmdbNextRate, double lmdbEqualRate) {
  std::string whyNot;
  auto cluster = sono::test::PgCluster::StartOwn(whyNot);
  if (!cluster) {
    std::fprintf(stderr, "bench_btr: no PostgreSQL figures: %s\n", whyNot.c_str());
    return;
  }
  const std::string connection = cluster->freshDatabase("bench_btr");
  if (connection.empty()) fail("create database", 0);
  const std::string folder = dir + "/pg";
  SetBaseEngine(folder, BaseEngine{EngineKind::Postgres, connection, ""});
  const std::string path = folder + "/FRADA22.bt6";
  ck(createFile(path, songDef()), "create (PostgreSQL)");
  Layer L;
  ck(L.open(path), "open (PostgreSQL)");
  // Inserts: a first run of kTransactionInserts inside one transaction
  // (each write under its own savepoint), the rest one transaction each.
  constexpr std::size_t kTransactionInserts = 5000;
  auto t0 = Clock::now();
  ck(L.call(kBeginTransaction, nullptr, 0), "begin (PostgreSQL)");
  for (std::size_t i = 0; i < kTransactionInserts; ++i) ck(L.call(kInsert, records[i].data(), 0), "insert (PostgreSQL)");
  ck(L.call(kEndTransaction, nullptr, 0), "end (PostgreSQL)");
  const double insertRate = double(kTransactionInserts) / seconds(t0, Clock::now());
  t0 = Clock::now();
  for (std::size_t i = kTransactionInserts; i < records.size(); ++i)
    ck(L.call(kInsert, records[i].data(), 0), "insert (PostgreSQL)");
  const double singleInsertRate = double(records.size() - kTransactionInserts) / seconds(t0, Clock::now());

  PlainPq pq(connection);
  {
    PGresult* r = PQexec(pq.conn, "ANALYZE \"FRADA22.bt6\"");
    PQclear(r);
  }

  // Get next along key 5, the whole file.
  const double nextRate = bestWallRate([&] { return WalkKey5(L, "get next count (PostgreSQL)"); });
  // Plain libpq: 500 rows per round trip, each batch after the last key read.
  const std::string firstBatch = "SELECT " + pq.columns + " FROM " + pq.table + " ORDER BY k5 LIMIT 500";
  const std::string nextBatch = "SELECT " + pq.columns + " FROM " + pq.table + " WHERE k5 > $1 ORDER BY k5 LIMIT 500";
  const double plainNextRate = bestWallRate([&] {
    std::string last;
    double n = 0;
    int got = pq.rows(firstBatch.c_str(), nullptr, 0, &last, 8);
    while (got > 0) {
      n += got;
      const std::string after = last;
      got = pq.rows(nextBatch.c_str(), after.data(), int(after.size()), &last, 8);
    }
    if (n != double(records.size())) fail("plain get next count", int(n));
    return n;
  });

  // Get equal on random codes: one round trip each for plain libpq.
  const std::size_t lookups = std::min<std::size_t>(codes.size(), 10000);
  const double equalRate = bestWallRate([&] {
    for (std::size_t i = 0; i < lookups; ++i) {
      std::memcpy(L.key, codes[i].data(), 8);
      ck(L.call(kGetEqual, nullptr, 0), "get equal (PostgreSQL)");
    }
    return double(lookups);
  });
  const std::string equalSql = "SELECT " + pq.columns + " FROM " + pq.table + " WHERE k0 = $1";
  const double plainEqualRate = bestWallRate([&] {
    for (std::size_t i = 0; i < lookups; ++i)
      if (pq.rows(equalSql.c_str(), codes[i].data(), 8, nullptr, 0) != 1) fail("plain get equal", 0);
    return double(lookups);
  });
  {
    PGresult* r = PQprepare(pq.conn, "equal", equalSql.c_str(), 1, nullptr);
    if (PQresultStatus(r) != PGRES_COMMAND_OK) fail(PQerrorMessage(pq.conn), 0);
    PQclear(r);
  }
  const double preparedEqualRate = bestWallRate([&] {
    for (std::size_t i = 0; i < lookups; ++i)
      if (pq.prepared("equal", codes[i].data(), 8) != 1) fail("prepared get equal", 0);
    return double(lookups);
  });

  ck(L.close(), "close (PostgreSQL)");
  SetBaseEngine(folder, BaseEngine{});

  Report("pg.get_next", nextRate, "ops/s", ">= 100000", plainNextRate / nextRate,
         "plain libpq, 500 rows per round trip", "<= 2");
  Report("pg.get_next_vs_lmdb", nextRate, "ops/s", nullptr, lmdbNextRate / nextRate, "the LMDB engine (CPU time)");
  Report("libpq.get_next_500_per_round_trip", plainNextRate, "ops/s");
  Report("pg.get_equal", equalRate, "ops/s", nullptr, plainEqualRate / equalRate,
         "plain libpq, one round trip each", "<= 1.2");
  Report("pg.get_equal_vs_prepared", equalRate, "ops/s", nullptr, preparedEqualRate / equalRate,
         "plain libpq, prepared statement");
  Report("pg.get_equal_vs_lmdb", equalRate, "ops/s", nullptr, lmdbEqualRate / equalRate, "the LMDB engine (CPU time)");
  Report("libpq.get_equal", plainEqualRate, "ops/s");
  Report("libpq.get_equal_prepared", preparedEqualRate, "ops/s");
  Report("pg.insert_in_transaction", insertRate, "ops/s");
  Report("pg.insert_one_transaction_each", singleInsertRate, "ops/s");
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/bench-btr-XXXXXX";
  if (!mkdtemp(tmpl)) fail("mkdtemp", errno);
  const std::string dir = tmpl;
  const std::vector<std::string> records = makeRecords();
  std::vector<std::string> codes;
  {
    std::mt19937 rng(7);
    for (int i = 0; i < kRecords; ++i) codes.push_back(records[rng() % kRecords].substr(0, 8));
  }

  // Inserts inside one transaction. The runs alternate between the layer and
  // raw LMDB so that both meet the same allocator and page-cache state.
  Layer L;
  std::memset(L.pb, ' ', sizeof L.pb);
  double insertRate = 0, rawInsertRate = 0;
  const std::string path = dir + "/FRADA22.bt6";
  for (int run = 0; run < 3; ++run) {
    {
      const std::string rawPath = dir + "/raw" + std::to_string(run) + ".mdb";
      Raw raw(rawPath);
      const double t0 = cpuNow();
      raw.insertAll(records);
      rawInsertRate = std::max(rawInsertRate, kRecords / (cpuNow() - t0));
      if (run < 2) {
        unlink(rawPath.c_str());
        unlink((rawPath + "-lock").c_str());
      }
    }
    ck(createFile(path, songDef()), "create");
    ck(L.open(path), "open");
    const double t0 = cpuNow();
    ck(L.call(kBeginTransaction, nullptr, 0), "begin");
    for (const std::string& r : records) ck(L.call(kInsert, r.data(), 0), "insert");
    ck(L.call(kEndTransaction, nullptr, 0), "end");
    insertRate = std::max(insertRate, kRecords / (cpuNow() - t0));
    if (run < 2) {
      ck(L.close(), "close");
      unlink(path.c_str());
      unlink((path + "-lock").c_str());
    }
  }
  Raw raw(dir + "/raw2.mdb");

  // Get next along key 5 (titles with duplicates), whole file.
  const double nextRate = bestRate([&] { return WalkKey5(L, "get next count"); });
  char sink[kRecLen];
  const double rawNextRate = bestRate([&] {
    MDB_txn* t;
    MDB_cursor* c;
    ck(mdb_txn_begin(raw.env, nullptr, MDB_RDONLY, &t), "begin");
    ck(mdb_cursor_open(t, raw.keys[5], &c), "cursor");
    MDB_val k, v;
    double n = 0;
    for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0; rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
      MDB_val rk = v, rv;
      ck(mdb_get(t, raw.rec, &rk, &rv), "get rec");
      std::memcpy(sink, static_cast<char*>(rv.mv_data) + 56, kRecLen);
      ++n;
    }
    mdb_cursor_close(c);
    mdb_txn_abort(t);
    return n;
  });

  const double rawNextPerTxnRate = bestRate([&] {
    MDB_txn* t;
    MDB_cursor* c;
    ck(mdb_txn_begin(raw.env, nullptr, MDB_RDONLY, &t), "begin");
    ck(mdb_cursor_open(t, raw.keys[5], &c), "cursor");
    mdb_txn_reset(t);
    unsigned char last[64];
    std::size_t lastLen = 0;
    double n = 0;
    for (;;) {
      ck(mdb_txn_renew(t), "renew");
      ck(mdb_cursor_renew(t, c), "cursor renew");
      MDB_val k{lastLen, last}, v;
      int rc;
      if (lastLen == 0) {
        rc = mdb_cursor_get(c, &k, &v, MDB_FIRST);
      } else {
        rc = mdb_cursor_get(c, &k, &v, MDB_SET_RANGE);
        if (rc == 0 && k.mv_size == lastLen && std::memcmp(k.mv_data, last, lastLen) == 0)
          rc = mdb_cursor_get(c, &k, &v, MDB_NEXT);
      }
      if (rc != 0) {
        mdb_txn_reset(t);
        break;
      }
      MDB_val rk = v, rv;
      ck(mdb_get(t, raw.rec, &rk, &rv), "get rec");
      std::memcpy(sink, static_cast<char*>(rv.mv_data) + 56, kRecLen);
      std::memcpy(last, k.mv_data, k.mv_size);
      lastLen = k.mv_size;
      mdb_txn_reset(t);
      ++n;
    }
    mdb_cursor_close(c);
    mdb_txn_abort(t);
    return n;
  });

  // Get equal on random codes.
  const double equalRate = bestRate([&] {
    for (const std::string& code : codes) {
      std::memcpy(L.key, code.data(), 8);
      ck(L.call(kGetEqual, nullptr, 0), "get equal");
    }
    return double(codes.size());
  });
  const double rawEqualRate = bestRate([&] {
    MDB_txn* t;
    ck(mdb_txn_begin(raw.env, nullptr, MDB_RDONLY, &t), "begin");
    for (const std::string& code : codes) {
      MDB_val k{8, const_cast<char*>(code.data())}, v, rv;
      ck(mdb_get(t, raw.keys[0], &k, &v), "get key");
      ck(mdb_get(t, raw.rec, &v, &rv), "get rec");
      std::memcpy(sink, static_cast<char*>(rv.mv_data) + 56, kRecLen);
    }
    mdb_txn_abort(t);
    return double(codes.size());
  });
  // The same with a fresh snapshot per lookup, as a call-by-call interface
  // must take to see other processes' commits.
  const double rawEqualPerTxnRate = bestRate([&] {
    MDB_txn* t;
    ck(mdb_txn_begin(raw.env, nullptr, MDB_RDONLY, &t), "begin");
    mdb_txn_reset(t);
    for (const std::string& code : codes) {
      ck(mdb_txn_renew(t), "renew");
      MDB_val k{8, const_cast<char*>(code.data())}, v, rv;
      ck(mdb_get(t, raw.keys[0], &k, &v), "get key");
      ck(mdb_get(t, raw.rec, &v, &rv), "get rec");
      std::memcpy(sink, static_cast<char*>(rv.mv_data) + 56, kRecLen);
      mdb_txn_reset(t);
    }
    mdb_txn_abort(t);
    return double(codes.size());
  });

  reportCall("btr.get_next", nextRate, ">= 500000", rawNextRate, rawNextPerTxnRate, "<= 1.3");
  Report("lmdb.get_next", rawNextRate, "ops/s");
  Report("lmdb.get_next_snapshot_per_call", rawNextPerTxnRate, "ops/s");
  reportCall("btr.get_equal", equalRate, ">= 400000", rawEqualRate, rawEqualPerTxnRate, "<= 1.3");
  Report("lmdb.get_equal", rawEqualRate, "ops/s");
  Report("lmdb.get_equal_snapshot_per_call", rawEqualPerTxnRate, "ops/s");
  reportCall("btr.insert_in_transaction", insertRate, ">= 50000", rawInsertRate, 0, nullptr);
  Report("lmdb.insert_in_transaction", rawInsertRate, "ops/s");

  L.close();
  // What the protections cost outside the calls: the page check a first open
  // makes when a file was not closed cleanly, and the whole check of
  // "db check", on the same 100,000-record file.
  {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const off_t size = lseek(fd, 0, SEEK_END);
    auto t0 = Clock::now();
    pages::PageWalker walker(fd, static_cast<std::uint64_t>(size));
    if (!walker.readMeta()) fail("page check", 0);
    walker.checkAll();
    const double s = seconds(t0, Clock::now());
    ::close(fd);
    if (!walker.whole()) fail("page check", int(walker.problemCount()));
    Report("btr.page_check_at_open", double(size) / s / 1e6, "MB/s");
  }
  auto t0 = Clock::now();
  const IntegrityReport rep = checkIntegrity(dir + "/FRADA22.bt6");
  if (!rep.ok() || rep.records != kRecords) fail("integrity", rep.status);
  Report("btr.check_integrity", kRecords / seconds(t0, Clock::now()), "records/s");
  for (const char* f : {"/FRADA22.bt6", "/FRADA22.bt6-lock", "/raw2.mdb", "/raw2.mdb-lock"})
    unlink((dir + f).c_str());

  benchPostgres(dir, records, codes, nextRate, equalRate);
  rmdir(dir.c_str());
  return 0;
}
