// The PostgreSQL engine's statements prepared once per connection, and its
// one-statement inserts: a file made again with other keys, a statement the
// server can no longer run as prepared, a reconnect inside a transaction,
// and inserts inside a transaction that meet a lock or a taken key.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <algorithm>
#include <string>
#include <vector>

#include "btr.h"
#include "engine_under_test.h"
#include "pg_test_base.h"
#include "test_util.h"

namespace sono::btr::testing {
namespace {

constexpr int kConnectionLost = 3111;
const std::string kOtherStation = "/pg/statements-2/";

std::string Rec(std::string_view code, std::string_view name) {
  return Record(20).set(1, code).set(5, name).bytes();
}

// Two workstations on one base (two connections of this process).
class PgStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    base_ = std::make_unique<PgBaseForTest>("statements");
    ASSERT_EQ(base_->error(), "");
    SetBaseEngine("/pg/statements-2", BaseEngine{EngineKind::Postgres, base_->connection(), ""});
  }
  void TearDown() override { SetBaseEngine("/pg/statements-2", BaseEngine{}); }

  // Runs SQL on the base's database from a connection of its own.
  void Sql(const std::string& sql) {
    PGconn* c = PQconnectdb(base_->connection().c_str());
    PGresult* r = PQexec(c, sql.c_str());
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << sql << ": " << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
  }
  std::unique_ptr<PgBaseForTest> base_;
};

// A record of `def` numbered `i`: key 0 unique (its value out of insertion
// order), every other key one of two values (duplicates), blanks elsewhere
// and `tail` in the last three bytes. Plain digits and capitals: every key
// compares as its bytes.
std::string Numbered(const FileDef& def, int i, const std::string& tail = "   ") {
  std::string r(def.recordLength, ' ');
  for (std::size_t k = 0; k < def.keys.size(); ++k) {
    const KeySegment& seg = def.keys[k].segments[0];
    const std::string value = k == 0 ? std::to_string((i * 5) % 7) : std::string(1, char('A' + i % 2));
    std::string field(seg.length, '0');
    field.replace(field.size() - value.size(), value.size(), value);
    r.replace(seg.position - 1, seg.length, field);
  }
  r.replace(r.size() - 3, 3, tail);
  return r;
}

std::string KeyOf(const FileDef& def, std::size_t k, const std::string& r) {
  const KeySegment& seg = def.keys[k].segments[0];
  return r.substr(seg.position - 1, seg.length);
}

// What the file must hold along key `k`: by the key's bytes, duplicates in
// the order they were inserted.
std::vector<std::string> ExpectedAlong(const FileDef& def, std::size_t k, std::vector<std::string> inserted) {
  std::stable_sort(inserted.begin(), inserted.end(),
                   [&](const std::string& a, const std::string& b) { return KeyOf(def, k, a) < KeyOf(def, k, b); });
  return inserted;
}

std::vector<std::string> Along(File& f, int k) {
  std::vector<std::string> out;
  std::string key, r;
  int s = f.get(kGetFirst, k, key, r);
  for (; s == 0; s = f.get(kGetNext, k, key, r)) out.push_back(r);
  EXPECT_EQ(s, status::kEndOfFile) << "key " << k;
  return out;
}

std::vector<std::string> Steps(File& f) {
  std::vector<std::string> out;
  std::string r;
  int s = f.step(kStepFirst, r);
  for (; s == 0; s = f.step(kStepNext, r)) out.push_back(r);
  EXPECT_EQ(s, status::kEndOfFile);
  return out;
}

// Everything a station reads of the file agrees with what was written.
void ReadsAsWritten(File& f, const FileDef& def, const std::vector<std::string>& inserted) {
  FileDef got;
  std::uint64_t records = 0;
  ASSERT_EQ(f.stat(got, records), 0);
  EXPECT_EQ(got.recordLength, def.recordLength);
  EXPECT_EQ(got.keys.size(), def.keys.size());
  EXPECT_EQ(records, inserted.size());
  for (std::size_t k = 0; k < def.keys.size(); ++k)
    EXPECT_EQ(Along(f, int(k)), ExpectedAlong(def, k, inserted)) << "key " << k;
  EXPECT_EQ(Steps(f), inserted);
  for (const std::string& r : inserted) {
    std::string key = KeyOf(def, 0, r), got;
    ASSERT_EQ(f.get(kGetEqual, 0, key, got), 0) << key;
    EXPECT_EQ(got, r);
  }
}

// The file made again three times, by each station in turn, while both
// stations' connections hold statements prepared over the table as it was:
// the same number of keys at other places (the very same statement texts
// over another table), then a key more.
TEST_F(PgStatements, AFileMadeAgainWithOtherKeysReadsRightOnBothStations) {
  const std::string paths[2] = {base_->path("FRADA22.bt6"), kOtherStation + "FRADA22.bt6"};
  FileDef moved;
  moved.recordLength = 24;
  moved.pageSize = 512;
  moved.keys = {key({{9, 6, kKeyModifiable}}), key({{1, 4, kKeyModifiable | kKeyDuplicates}})};
  FileDef wider;
  wider.recordLength = 30;
  wider.pageSize = 512;
  wider.keys = {key({{20, 3, kKeyModifiable}}), key({{1, 2, kKeyDuplicates}}),
                key({{5, 5, kKeyModifiable | kKeyDuplicates}})};
  const FileDef defs[] = {SmallDef(), moved, wider};
  // Another file open on each station keeps both connections, and the
  // statements they prepared, from one round to the next.
  ASSERT_EQ(createFile(base_->path("FRADZ22.bt6"), SmallDef()), 0);
  File keep[2];
  ASSERT_EQ(keep[0].open(base_->path("FRADZ22.bt6")), 0);
  ASSERT_EQ(keep[1].open(kOtherStation + "FRADZ22.bt6"), 0);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("definition " + std::to_string(round));
    const FileDef& def = defs[round];
    ASSERT_EQ(createFile(paths[round % 2], def, true), 0);
    File f[2];
    for (int s = 0; s < 2; ++s) ASSERT_EQ(f[s].open(paths[s]), 0);
    std::vector<std::string> inserted;
    for (int i = 0; i < 6; ++i) {
      inserted.push_back(Numbered(def, i));
      ASSERT_EQ(f[i % 2].insert(inserted.back()), 0) << i;
    }
    EXPECT_EQ(f[1].insert(Numbered(def, 0, "dup")), status::kDuplicateKey);
    // An update through each station (its keys unchanged: the orders stay).
    for (int s = 0; s < 2; ++s) {
      std::string key = KeyOf(def, 0, inserted[s]), r;
      ASSERT_EQ(f[s].get(kGetEqual, 0, key, r), 0);
      inserted[s] = Numbered(def, s, "up" + std::to_string(s));
      ASSERT_EQ(f[s].update(inserted[s]), 0);
    }
    for (int s = 0; s < 2; ++s) {
      SCOPED_TRACE("station " + std::to_string(s));
      ReadsAsWritten(f[s], def, inserted);
    }
  }
}

// A statement the server can no longer run as prepared (a key column's type
// changed under it: "cached plan must not change result type") is prepared
// again, once, and the calls go on.
TEST_F(PgStatements, AStatementTheServerNoLongerRunsAsPreparedIsPreparedAgain) {
  const std::string path = base_->path("FRADA22.bt6");
  ASSERT_EQ(createFile(path, SmallDef()), 0);
  File f;
  ASSERT_EQ(f.open(path), 0);
  for (const char* code : {"0002", "0001"}) ASSERT_EQ(f.insert(Rec(code, "NOM")), 0);
  std::string k = "0001", r;
  ASSERT_EQ(f.get(kGetEqual, 0, k, r), 0);
  std::vector<std::string> along = Along(f, 1);
  Sql("CREATE DOMAIN entree AS bytea");
  Sql("ALTER TABLE \"FRADA22.bt6\" ALTER COLUMN k1 TYPE entree, ALTER COLUMN k0 TYPE entree");
  k = "0002";
  ASSERT_EQ(f.get(kGetEqual, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0002", "NOM"));
  EXPECT_EQ(Along(f, 1), along);
  ASSERT_EQ(f.insert(Rec("0003", "NOM")), 0);
  along.push_back(Rec("0003", "NOM"));
  EXPECT_EQ(Along(f, 1), along);
}

// Ends every connection of the base's database but the caller's.
void TerminateStations(const std::string& connection) {
  PGconn* c = PQconnectdb(connection.c_str());
  PGresult* r = PQexec(c, "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                          "WHERE datname = 'statements' AND pid <> pg_backend_pid()");
  EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << PQerrorMessage(c);
  EXPECT_NE(std::string(PQgetvalue(r, 0, 0)), "0");
  PQclear(r);
  PQfinish(c);
}

// A new session has none of the lost one's statements: the calls after a
// reconnect prepare theirs again, inside a transaction as well (where a
// statement the server does not know would end the transaction).
TEST_F(PgStatements, AfterAReconnectATransactionPreparesItsStatementsAgain) {
  const std::string path = base_->path("FRADA22.bt6");
  ASSERT_EQ(createFile(path, SmallDef()), 0);
  File one, two;
  ASSERT_EQ(one.open(path), 0);
  for (const char* code : {"0001", "0002", "0003"}) ASSERT_EQ(one.insert(Rec(code, "X")), 0);
  std::string k = "0002", r;
  ASSERT_EQ(one.beginTransaction(), 0);
  ASSERT_EQ(one.get(kGetEqual, 0, k, r), 0);
  ASSERT_EQ(one.update(Rec("0002", "Y")), 0);
  ASSERT_EQ(one.endTransaction(), 0);
  TerminateStations(sono::test::PgCluster::Shared()->connection());
  k = "0002";
  EXPECT_EQ(one.get(kGetEqual, 0, k, r), kConnectionLost);
  ASSERT_EQ(one.beginTransaction(), 0);
  ASSERT_EQ(one.get(kGetEqual, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0002", "Y"));
  ASSERT_EQ(one.update(Rec("0002", "Z")), 0);
  ASSERT_EQ(one.insert(Rec("0004", "Z")), 0);
  ASSERT_EQ(one.endTransaction(), 0);
  ASSERT_EQ(two.open(kOtherStation + "FRADA22.bt6"), 0);
  std::vector<std::string> all;
  for (const char* code : {"0001", "0002", "0003", "0004"})
    all.push_back(Rec(code, std::string(code) == "0001" || std::string(code) == "0003" ? "X" : "Z"));
  EXPECT_EQ(Along(two, 0), all);
}

// Inserts inside a transaction: the first into a file another station's
// transaction holds waits, gets 85 and leaves the transaction whole; a taken
// key is 5 whether the transaction holds the file's counter already or not;
// what the transaction did is committed whole, positions in order.
TEST_F(PgStatements, InsertsInATransactionMeetLocksAndTakenKeysAndKeepItWhole) {
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef()), 0);
  ASSERT_EQ(createFile(base_->path("FRADB22.bt6"), SmallDef()), 0);
  File a, b, otherB, readA, readB;
  ASSERT_EQ(a.open(base_->path("FRADA22.bt6")), 0);
  ASSERT_EQ(b.open(base_->path("FRADB22.bt6")), 0);
  ASSERT_EQ(otherB.open(kOtherStation + "FRADB22.bt6"), 0);
  ASSERT_EQ(b.insert(Rec("0001", "B")), 0);

  ASSERT_EQ(otherB.beginTransaction(), 0);  // holds file B
  ASSERT_EQ(a.beginTransaction(), 0);
  ASSERT_EQ(a.insert(Rec("0001", "A")), 0);
  EXPECT_EQ(b.insert(Rec("0002", "B")), status::kFileLocked);
  EXPECT_EQ(b.insert(Rec("0001", "B")), status::kDuplicateKey);  // checked before the counter: no wait
  EXPECT_EQ(a.insert(Rec("0001", "A")), status::kDuplicateKey);
  ASSERT_EQ(a.insert(Rec("0002", "A")), 0);
  ASSERT_EQ(otherB.endTransaction(), 0);
  ASSERT_EQ(b.insert(Rec("0002", "B")), 0);
  EXPECT_EQ(b.insert(Rec("0002", "B")), status::kDuplicateKey);
  ASSERT_EQ(b.insert(Rec("0003", "B")), 0);
  ASSERT_EQ(a.endTransaction(), 0);

  ASSERT_EQ(readA.open(kOtherStation + "FRADA22.bt6"), 0);
  ASSERT_EQ(readB.open(kOtherStation + "FRADB22.bt6"), 0);
  EXPECT_EQ(Steps(readA), (std::vector<std::string>{Rec("0001", "A"), Rec("0002", "A")}));
  EXPECT_EQ(Steps(readB), (std::vector<std::string>{Rec("0001", "B"), Rec("0002", "B"), Rec("0003", "B")}));
  // Refused inserts took no position: positions follow one another.
  std::string k = "0003", r;
  std::uint32_t last = 0, first = 0;
  ASSERT_EQ(readB.get(kGetEqual, 0, k, r), 0);
  ASSERT_EQ(readB.position(last), 0);
  k = "0001";
  ASSERT_EQ(readB.get(kGetEqual, 0, k, r), 0);
  ASSERT_EQ(readB.position(first), 0);
  EXPECT_EQ(last - first, 2u);
}

// A transaction's inserts take positions without writing the file's counter
// row each time; a file closed before the commit still leaves its counter
// past them, and the next insert follows on.
TEST_F(PgStatements, AFileClosedInsideATransactionLeavesItsCounterPastItsInserts) {
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef()), 0);
  ASSERT_EQ(createFile(base_->path("FRADB22.bt6"), SmallDef()), 0);
  File a, b, again;
  ASSERT_EQ(a.open(base_->path("FRADA22.bt6")), 0);
  ASSERT_EQ(b.open(base_->path("FRADB22.bt6")), 0);
  ASSERT_EQ(a.beginTransaction(), 0);
  for (const char* code : {"0001", "0002", "0003"}) ASSERT_EQ(b.insert(Rec(code, "B")), 0);
  ASSERT_EQ(b.close(), 0);
  ASSERT_EQ(a.endTransaction(), 0);
  ASSERT_EQ(again.open(kOtherStation + "FRADB22.bt6"), 0);
  ASSERT_EQ(again.insert(Rec("0004", "B")), 0);
  std::vector<std::string> all;
  for (const char* code : {"0001", "0002", "0003", "0004"}) all.push_back(Rec(code, "B"));
  EXPECT_EQ(Steps(again), all);
}

}  // namespace
}  // namespace sono::btr::testing
