// The PostgreSQL engine where it differs from one machine's files: reaching
// the server (down, passwords), a database without the tables, several
// workstations on one base, transactions over several files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "btr.h"
#include "engine_under_test.h"
#include "pg_test_base.h"
#include "test_util.h"

namespace sono::btr::testing {
namespace {

constexpr int kConnectionLost = 3111;

std::string Rec(std::string_view code, std::string_view name) {
  return Record(20).set(1, code).set(5, name).bytes();
}

// Two workstations on one base: two folder names held by the same database
// give two connections of this process, as two machines would have.
class PgStations : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    base_ = std::make_unique<PgBaseForTest>("stations");
    ASSERT_EQ(base_->error(), "");
    SetBaseEngine("/pg/stations-2", BaseEngine{EngineKind::Postgres, base_->connection(), ""});
  }
  void TearDown() override { SetBaseEngine("/pg/stations-2", BaseEngine{}); }
  std::unique_ptr<PgBaseForTest> base_;
};

TEST_F(PgStations, ADatabaseWithoutTablesGetsThemFromCreation) {
  File f;
  // The base's database is empty: no file yet.
  EXPECT_EQ(f.open(base_->path("FRADA22.bt6")), status::kFileNotFound);
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef(), false), 0);
  EXPECT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef(), false), status::kFileExists);
  ASSERT_EQ(f.open(base_->path("FRADA22.bt6")), 0);
  ASSERT_EQ(f.insert(Rec("0001", "ete")), 0);
  FileDef def;
  std::uint64_t records = 0;
  std::vector<std::uint64_t> distinct;
  ASSERT_EQ(f.stat(def, records, &distinct), 0);
  EXPECT_EQ(records, 1u);
  EXPECT_EQ(def.recordLength, 20);
  ASSERT_EQ(def.keys.size(), 2u);
  EXPECT_EQ(def.keys[1].segments[0].flags & kKeyCaseInsensitive, kKeyCaseInsensitive);
  // Replacing a file this process has open is refused.
  EXPECT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef(), true), status::kFileLocked);
  ASSERT_EQ(f.close(), 0);
  // A closed block is not open on either engine.
  std::string data(20, ' '), keyBuf(255, ' ');
  EXPECT_EQ(call(kGetFirst, f.positionBlock(), data, keyBuf, 0), status::kNotOpen);
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef(), true), 0);
  ASSERT_EQ(f.open(base_->path("FRADA22.bt6")), 0);
  ASSERT_EQ(f.stat(def, records), 0);
  EXPECT_EQ(records, 0u);  // replaced by an empty file
}

TEST_F(PgStations, ARecordChangedOnAnotherStationIs80AndLocksInTheWayAre84And85) {
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef()), 0);
  File one, two;
  ASSERT_EQ(one.open(base_->path("FRADA22.bt6")), 0);
  ASSERT_EQ(two.open("/pg/stations-2/FRADA22.bt6"), 0);
  ASSERT_EQ(one.insert(Rec("0001", "ete")), 0);
  std::string k = "0001", r1, r2;
  ASSERT_EQ(one.get(kGetEqual, 0, k, r1), 0);
  ASSERT_EQ(two.get(kGetEqual, 0, k, r2), 0);
  ASSERT_EQ(two.update(Rec("0001", "hiver")), 0);
  // The first station's copy is stale: 80, and nothing is overwritten.
  EXPECT_EQ(one.update(Rec("0001", "printemps")), status::kConflict);
  ASSERT_EQ(one.get(kGetEqual, 0, k, r1), 0);
  EXPECT_EQ(r1, Rec("0001", "hiver"));
  EXPECT_EQ(one.update(Rec("0001", "automne")), 0);

  // A transaction of the second station holds the file's counter: the
  // first station's write waits for the lock timeout, then 85.
  ASSERT_EQ(two.beginTransaction(), 0);
  ASSERT_EQ(two.insert(Rec("0002", "neige")), 0);
  EXPECT_EQ(one.insert(Rec("0003", "pluie")), status::kFileLocked);
  // What is not committed is not seen by the other station.
  k = "0002";
  EXPECT_EQ(one.get(kGetEqual, 0, k, r1), status::kKeyNotFound);
  ASSERT_EQ(two.endTransaction(), 0);
  EXPECT_EQ(one.get(kGetEqual, 0, k, r1), 0);
  EXPECT_EQ(one.insert(Rec("0003", "pluie")), 0);

  // A record changed in another station's open transaction: 84 until it
  // ends, and the change stays the other station's until then.
  ASSERT_EQ(two.beginTransaction(), 0);
  k = "0001";
  ASSERT_EQ(two.get(kGetEqual, 0, k, r2), 0);
  ASSERT_EQ(two.update(Rec("0001", "givre")), 0);
  ASSERT_EQ(one.get(kGetEqual, 0, k, r1), 0);
  EXPECT_EQ(r1, Rec("0001", "automne"));
  EXPECT_EQ(one.update(Rec("0001", "brume")), status::kRecordLocked);
  ASSERT_EQ(two.abortTransaction(), 0);
  EXPECT_EQ(one.update(Rec("0001", "brume")), 0);
}

TEST_F(PgStations, ATransactionSpansEveryFileOfTheBase) {
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef()), 0);
  ASSERT_EQ(createFile(base_->path("FRADB22.bt6"), SmallDef()), 0);
  File a, b, reader;
  ASSERT_EQ(a.open(base_->path("FRADA22.bt6")), 0);
  ASSERT_EQ(b.open(base_->path("FRADB22.bt6")), 0);
  ASSERT_EQ(reader.open("/pg/stations-2/FRADB22.bt6", kModeReadOnly), 0);
  EXPECT_EQ(reader.insert(Rec("0009", "lu")), status::kAccessDenied);
  EXPECT_EQ(reader.beginTransaction(), status::kAccessDenied);

  ASSERT_EQ(a.beginTransaction(), 0);
  EXPECT_EQ(b.beginTransaction(), status::kTransactionActive);
  ASSERT_EQ(a.insert(Rec("0001", "a")), 0);
  ASSERT_EQ(b.insert(Rec("0001", "b")), 0);
  ASSERT_EQ(b.abortTransaction(), 0);  // either file may end it
  EXPECT_EQ(a.endTransaction(), status::kTransactionError);
  std::string k, r;
  EXPECT_EQ(a.get(kGetFirst, 0, k, r), status::kEndOfFile);
  EXPECT_EQ(b.get(kGetFirst, 0, k, r), status::kEndOfFile);

  ASSERT_EQ(a.beginTransaction(), 0);
  ASSERT_EQ(a.insert(Rec("0001", "a")), 0);
  ASSERT_EQ(b.insert(Rec("0001", "b")), 0);
  EXPECT_EQ(reader.get(kGetFirst, 0, k, r), status::kEndOfFile);  // not yet committed
  ASSERT_EQ(b.endTransaction(), 0);
  EXPECT_EQ(reader.get(kGetFirst, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0001", "b"));
}

// Ends every connection of the stations' database (as a server restart or
// a cut network would), from the superuser's own connection.
void TerminateStations() {
  PGconn* c = PQconnectdb(sono::test::PgCluster::Shared()->connection().c_str());
  PGresult* r = PQexec(c, "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                          "WHERE datname = 'stations' AND pid <> pg_backend_pid()");
  EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << PQerrorMessage(c);
  EXPECT_NE(std::string(PQgetvalue(r, 0, 0)), "0");
  PQclear(r);
  PQfinish(c);
}

TEST_F(PgStations, ALostConnectionLosesItsTransactionAndTheNextCallReconnects) {
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef()), 0);
  File one, two;
  ASSERT_EQ(one.open(base_->path("FRADA22.bt6")), 0);
  for (const char* code : {"0001", "0002", "0003"}) ASSERT_EQ(one.insert(Rec(code, "x")), 0);

  std::string k = "0001", r;
  ASSERT_EQ(one.get(kGetEqual, 0, k, r), 0);
  ASSERT_EQ(one.beginTransaction(), 0);
  ASSERT_EQ(one.update(Rec("0001", "perdu")), 0);
  ASSERT_EQ(one.insert(Rec("0004", "perdu")), 0);
  k = "0001";
  ASSERT_EQ(one.get(kGetEqual, 0, k, r), 0);
  TerminateStations();
  EXPECT_EQ(one.insert(Rec("0005", "perdu")), kConnectionLost);
  // The next call reconnects, and the handle goes on from where it stood;
  // the transaction is gone, on both stations.
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(k, "0002");
  EXPECT_EQ(one.endTransaction(), status::kTransactionError);
  ASSERT_EQ(two.open("/pg/stations-2/FRADA22.bt6"), 0);
  k = "0001";
  ASSERT_EQ(two.get(kGetEqual, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0001", "x"));
  k = "0004";
  EXPECT_EQ(two.get(kGetEqual, 0, k, r), status::kKeyNotFound);
  // A record read inside the lost transaction must be read again.
  k = "0001";
  ASSERT_EQ(one.get(kGetEqual, 0, k, r), 0);
  EXPECT_EQ(one.update(Rec("0001", "garde")), 0);
}

// The exclusive open lives in the session of its connection: lost with it,
// and taken again by the opener's next call, before anyone else's open.
TEST_F(PgStations, AnExclusiveOpenIsTakenAgainWhenItsConnectionComesBack) {
  ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), SmallDef()), 0);
  File one, two;
  ASSERT_EQ(one.open(base_->path("FRADA22.bt6"), kModeExclusive), 0);
  ASSERT_EQ(one.insert(Rec("0001", "x")), 0);
  EXPECT_EQ(two.open("/pg/stations-2/FRADA22.bt6"), status::kFileLocked);
  TerminateStations();
  std::string k, r;
  EXPECT_EQ(one.get(kGetFirst, 0, k, r), kConnectionLost);
  ASSERT_EQ(one.get(kGetFirst, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0001", "x"));
  EXPECT_EQ(two.open("/pg/stations-2/FRADA22.bt6"), status::kFileLocked);
  EXPECT_EQ(two.open("/pg/stations-2/FRADA22.bt6", kModeExclusive), status::kFileLocked);
  ASSERT_EQ(one.close(), 0);
  ASSERT_EQ(two.open("/pg/stations-2/FRADA22.bt6"), 0);
  // A shared open keeps another station's exclusive open out as well.
  EXPECT_EQ(one.open(base_->path("FRADA22.bt6"), kModeExclusive), status::kFileLocked);
  ASSERT_EQ(one.open(base_->path("FRADA22.bt6")), 0);
}

// An archive station's account that may only read the base's tables (as
// an LMDB data folder on a read-only share): it browses, every write is 46,
// and nothing changes.
TEST(PgConnection, AnAccountThatMayOnlyReadBrowsesAndIsRefusedWrites) {
  SKIP_WITHOUT_POSTGRES();
  std::string why;
  sono::test::PgCluster* cluster = sono::test::PgCluster::Shared(&why);
  ASSERT_NE(cluster, nullptr) << why;
  const std::string owner = cluster->freshDatabase("archive");
  ASSERT_NE(owner, "");
  SetBaseEngine("/pg/archive", BaseEngine{EngineKind::Postgres, owner, ""});
  ASSERT_EQ(createFile("/pg/archive/FRADA22.bt6", SmallDef()), 0);
  {
    File f;
    ASSERT_EQ(f.open("/pg/archive/FRADA22.bt6"), 0);
    for (const char* code : {"0001", "0002"}) ASSERT_EQ(f.insert(Rec(code, "x")), 0);
  }
  PGconn* c = PQconnectdb(owner.c_str());
  for (const char* sql : {"DROP ROLE IF EXISTS lecteur", "CREATE ROLE lecteur LOGIN PASSWORD 'lu'",
                          "GRANT SELECT ON ALL TABLES IN SCHEMA public TO lecteur"}) {
    PGresult* r = PQexec(c, sql);
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << sql << ": " << PQerrorMessage(c);
    PQclear(r);
  }
  PQfinish(c);
  TempDir dir;
  const std::string secret = dir / "motdepasse";
  sono::test::WriteFile(secret, "lu\n");
  ::chmod(secret.c_str(), 0600);
  SetBaseEngine("/pg/lecture", BaseEngine{EngineKind::Postgres, "host=" + cluster->folder() + " user=lecteur dbname=archive", secret});
  const std::string before = Contents("/pg/archive/FRADA22.bt6");
  for (int mode : {kModeNormal, kModeReadOnly}) {
    File f;
    ASSERT_EQ(f.open("/pg/lecture/FRADA22.bt6", mode), 0) << mode;
    std::string k, r;
    ASSERT_EQ(f.get(kGetFirst, 0, k, r), 0);
    ASSERT_EQ(f.get(kGetNext, 0, k, r), 0);
    EXPECT_EQ(k, "0002");
    EXPECT_EQ(f.update(Rec("0002", "y")), status::kAccessDenied);
    EXPECT_EQ(f.remove(), status::kAccessDenied);
    EXPECT_EQ(f.insert(Rec("0003", "y")), status::kAccessDenied);
    EXPECT_EQ(f.beginTransaction(), status::kAccessDenied);
  }
  EXPECT_EQ(createFile("/pg/lecture/FRADB22.bt6", SmallDef()), status::kAccessDenied);
  EXPECT_EQ(Contents("/pg/archive/FRADA22.bt6"), before);
  SetBaseEngine("/pg/lecture", BaseEngine{});
  SetBaseEngine("/pg/archive", BaseEngine{});
}

// Reaching the server: down, a password file others can read, a wrong
// password, the right one.
TEST(PgConnection, ServerDownAndPasswordsGiveTheirStatuses) {
  SKIP_WITHOUT_POSTGRES();
  std::string why;
  sono::test::PgCluster* cluster = sono::test::PgCluster::Shared(&why);
  ASSERT_NE(cluster, nullptr) << why;
  TempDir dir;
  File f;

  // No server behind the socket folder: the network status.
  SetBaseEngine("/pg/down", BaseEngine{EngineKind::Postgres, "host=" + dir.path() + " dbname=x connect_timeout=2", ""});
  EXPECT_EQ(f.open("/pg/down/FRADA22.bt6"), kConnectionLost);
  EXPECT_EQ(createFile("/pg/down/FRADA22.bt6", SmallDef()), kConnectionLost);
  SetBaseEngine("/pg/down", BaseEngine{});

  const std::string conn = cluster->freshDatabase("studio", "studio", "juste");
  ASSERT_NE(conn, "");
  const std::string secret = dir.path() + "/motdepasse";
  auto useBase = [&](const std::string& password, mode_t mode) {
    sono::test::WriteFile(secret, password + "\n");
    ::chmod(secret.c_str(), mode);
    SetBaseEngine("/pg/studio", BaseEngine{EngineKind::Postgres, conn, secret});
  };
  useBase("juste", 0644);  // readable by others: refused before any use
  EXPECT_EQ(createFile("/pg/studio/FRADA22.bt6", SmallDef()), status::kAccessDenied);
  useBase("faux", 0600);
  EXPECT_EQ(createFile("/pg/studio/FRADA22.bt6", SmallDef()), status::kAccessDenied);
  useBase("juste", 0600);
  ASSERT_EQ(createFile("/pg/studio/FRADA22.bt6", SmallDef()), 0);
  EXPECT_EQ(f.open("/pg/studio/FRADA22.bt6"), 0);
  EXPECT_EQ(f.close(), 0);
  SetBaseEngine("/pg/studio", BaseEngine{});
}

}  // namespace
}  // namespace sono::btr::testing
