// The engine the record-manager tests run on. The engine-neutral test
// sources are built twice: into btr_tests, where a base is a temporary folder
// of LMDB files, and into btr_pg_tests (SONOTEKA_BTR_ON_POSTGRES defined),
// where a base is a fresh database of the tests' private PostgreSQL server.
// A test about LMDB's own files starts with LMDB_ONLY("why").
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base_engine.h"
#include "btr.h"
#include "test_support.h"

#ifdef SONOTEKA_BTR_ON_POSTGRES
#include <libpq-fe.h>

#include "layout.h"
#include "pg_test_base.h"
#else
#include <lmdb.h>
#endif

namespace sono::btr::testing {

#ifdef SONOTEKA_BTR_ON_POSTGRES
inline constexpr bool kOnPostgres = true;
#else
inline constexpr bool kOnPostgres = false;
#endif

// Skips a test whose subject exists only in the LMDB engine (pages, lock
// files, file modes, the redo journal, map growth…), saying why.
#define LMDB_ONLY(reason)                                             \
  do {                                                                \
    if (::sono::btr::testing::kOnPostgres) GTEST_SKIP() << "LMDB only: " << (reason); \
  } while (0)

// What a whole-file check found: records counted, problems named.
struct Whole {
  bool ok = false;
  std::uint64_t records = 0;
  std::string problem;
};

#ifdef SONOTEKA_BTR_ON_POSTGRES

// Without server binaries every test of the binary is skipped, as the
// PostgreSQL tests are.
class NeedsPostgres : public ::testing::Environment {
 public:
  void SetUp() override {
    if (sono::test::PgCluster::FindBinaries().empty()) {
      std::string why;
      sono::test::PgCluster::Shared(&why);
      GTEST_SKIP() << why;
    }
  }
};
inline const bool kNeedsPostgresRegistered = (::testing::AddGlobalTestEnvironment(new NeedsPostgres), true);

// A base of its own for one test: a fresh database, dropped at the end.
class TestBase {
 public:
  TestBase() : name_("btr_suite_" + std::to_string(++Counter())), base_(name_) {
    if (!base_.error().empty()) ADD_FAILURE() << base_.error();
    folder_ = base_.path("");
  }
  ~TestBase() {
    if (sono::test::PgCluster* cluster = sono::test::PgCluster::Shared()) {
      PGconn* c = PQconnectdb(cluster->connection().c_str());
      PQclear(PQexec(c, ("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)").c_str()));
      PQfinish(c);
    }
  }
  TestBase(const TestBase&) = delete;
  TestBase& operator=(const TestBase&) = delete;
  const std::string& path() const { return folder_; }
  std::string operator/(const std::string& file) const { return folder_ + file; }

 private:
  static int& Counter() {
    static int n = 0;
    return n;
  }
  std::string name_;
  PgBaseForTest base_;
  std::string folder_;
};

namespace pg_detail {

struct Connection {
  explicit Connection(const std::string& path) : c(PQconnectdb(BaseEngineOf(path).connection.c_str())) {}
  ~Connection() { PQfinish(c); }
  // `sql` with the file's name as $1 when it names it.
  PGresult* query(const std::string& sql, const std::string& name, int format) const {
    const char* values[] = {name.c_str()};
    const int count = sql.find("$1") == std::string::npos ? 0 : 1;
    return PQexecParams(c, sql.c_str(), count, nullptr, values, nullptr, nullptr, format);
  }
  PGconn* c;
};

inline std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

inline std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

inline std::uint64_t Int8(const PGresult* r, int row, int col) {
  return layout::getBE64(reinterpret_cast<const std::uint8_t*>(PQgetvalue(r, row, col)));
}

}  // namespace pg_detail

// The table of `path` against its own definition: every row's record has
// the record length, every key column holds the entry the record's bytes
// make (and, for duplicates, a sequence the counter gave), and positions and
// stamps lie below the counter.
inline Whole CheckWhole(const std::string& path) {
  using namespace pg_detail;
  Whole w;
  Connection conn(path);
  const std::string name = NameOf(path);
  PGresult* head = conn.query("SELECT def, next FROM sonoteka_btr_files WHERE name = $1", name, 1);
  FileDef def;
  if (PQresultStatus(head) != PGRES_TUPLES_OK || PQntuples(head) != 1 ||
      decodeFileDef(PQgetvalue(head, 0, 0), std::size_t(PQgetlength(head, 0, 0)), def) != 0) {
    PQclear(head);
    w.problem = "no definition for " + name;
    return w;
  }
  const std::uint64_t next = Int8(head, 0, 1);
  PQclear(head);
  const std::vector<layout::KeyInfo> keys = layout::KeysOf(def);
  std::string sql = "SELECT pos, version, rec";
  for (std::size_t k = 0; k < keys.size(); ++k) sql += ", k" + std::to_string(k);
  PGresult* rows = conn.query(sql + " FROM " + Quoted(name) + " ORDER BY pos", name, 1);
  if (PQresultStatus(rows) != PGRES_TUPLES_OK) {
    w.problem = PQerrorMessage(conn.c);
    PQclear(rows);
    return w;
  }
  auto fail = [&](int row, const std::string& what) {
    if (w.problem.empty()) w.problem = "row " + std::to_string(row) + ": " + what;
  };
  for (int i = 0; i < PQntuples(rows); ++i) {
    const std::uint64_t pos = Int8(rows, i, 0), version = Int8(rows, i, 1);
    if (pos >= next || version >= next || version < pos) fail(i, "position or stamp outside the counter");
    if (std::size_t(PQgetlength(rows, i, 2)) != def.recordLength) {
      fail(i, "record length");
      continue;
    }
    const auto* rec = reinterpret_cast<const std::uint8_t*>(PQgetvalue(rows, i, 2));
    for (std::size_t k = 0; k < keys.size(); ++k) {
      const auto* stored = reinterpret_cast<const std::uint8_t*>(PQgetvalue(rows, i, 3 + int(k)));
      const std::size_t length = std::size_t(PQgetlength(rows, i, 3 + int(k)));
      std::uint8_t expected[layout::kMaxEntry];
      const std::uint64_t seq = keys[k].dup && length == keys[k].len + layout::kSeqBytes
                                    ? layout::getBE64(stored + keys[k].len)
                                    : 0;
      const std::size_t want = layout::MakeEntry(keys[k], rec, seq, expected);
      if (length != want || std::memcmp(stored, expected, want) != 0)
        fail(i, "key " + std::to_string(k) + " does not match the record");
      else if (keys[k].dup && (seq < pos || seq > version))
        fail(i, "key " + std::to_string(k) + " sequence outside the record's life");
    }
    ++w.records;
  }
  PQclear(rows);
  w.ok = w.problem.empty();
  return w;
}

// Everything the engine keeps of `path`: its counter and every row.
inline std::string Contents(const std::string& path) {
  using namespace pg_detail;
  Connection conn(path);
  std::string out;
  for (const std::string& sql : {std::string("SELECT name, def, next FROM sonoteka_btr_files WHERE name = $1"),
                                 "SELECT * FROM " + Quoted(NameOf(path)) + " ORDER BY pos"}) {
    PGresult* r = conn.query(sql, NameOf(path), 0);
    for (int i = 0; i < PQntuples(r); ++i)
      for (int j = 0; j < PQnfields(r); ++j) out += std::string(PQgetvalue(r, i, j)) + (j + 1 < PQnfields(r) ? "|" : "\n");
    PQclear(r);
  }
  return out;
}

// Puts a definition of zeros in place of the file's own.
inline void DamageDefinition(const std::string& path) {
  using namespace pg_detail;
  Connection conn(path);
  PGresult* r = conn.query("UPDATE sonoteka_btr_files SET def = '\\x00000000000000000000000000000000' WHERE name = $1",
                           NameOf(path), 0);
  ASSERT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQerrorMessage(conn.c);
  ASSERT_STREQ(PQcmdTuples(r), "1");
  PQclear(r);
}

#else  // LMDB

// A base of its own for one test: a temporary folder.
class TestBase {
 public:
  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& file) const { return dir_ / file; }

 private:
  sono::test::TempDir dir_;
};

inline Whole CheckWhole(const std::string& path) {
  const IntegrityReport rep = checkIntegrity(path);
  return Whole{rep.ok(), rep.records, rep.problems.empty() ? "" : rep.problems[0]};
}

inline std::string Contents(const std::string& path) { return sono::test::ReadFile(path); }

// Puts a definition of zeros in place of the file's own, through LMDB.
inline void DamageDefinition(const std::string& path) {
  MDB_env* env = nullptr;
  ASSERT_EQ(mdb_env_create(&env), 0);
  mdb_env_set_maxdbs(env, 10);
  ASSERT_EQ(mdb_env_open(env, path.c_str(), MDB_NOSUBDIR, 0664), 0);
  MDB_txn* txn = nullptr;
  MDB_dbi meta;
  ASSERT_EQ(mdb_txn_begin(env, nullptr, 0, &txn), 0);
  ASSERT_EQ(mdb_dbi_open(txn, "meta", 0, &meta), 0);
  std::uint8_t bad[16] = {0};
  MDB_val k{3, const_cast<char*>("def")}, v{sizeof bad, bad};
  ASSERT_EQ(mdb_put(txn, meta, &k, &v, 0), 0);
  ASSERT_EQ(mdb_txn_commit(txn), 0);
  mdb_env_close(env);
}

#endif

}  // namespace sono::btr::testing
