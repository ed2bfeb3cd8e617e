// Workstations on one PostgreSQL base hear each other: a commit of one is
// named by the other's TakeBaseChanges within a second (never its own, never
// an aborted one, never before the commit), a connection that came back asks
// for everything; and the read-ahead of a walk never hides a change once its
// notification has come.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/select.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base_changes.h"
#include "btr.h"
#include "pg_test_base.h"
#include "test_util.h"

namespace sono::btr::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Names = std::vector<std::string>;

constexpr char kOne[] = "/pg/neighbours";
constexpr char kTwo[] = "/pg/neighbours-2";

std::string Rec(std::string_view code, std::string_view name) { return Record(20).set(1, code).set(5, name).bytes(); }

Names Sorted(Names n) {
  std::sort(n.begin(), n.end());
  return n;
}

// Two workstations: two folders held by one database give this process two
// connections, as two machines would have.
class PgNeighbours : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    base_ = std::make_unique<PgBaseForTest>("neighbours");
    ASSERT_EQ(base_->error(), "");
    SetBaseEngine(kTwo, BaseEngine{EngineKind::Postgres, base_->connection(), ""});
  }
  void TearDown() override { SetBaseEngine(kTwo, BaseEngine{}); }

  static std::string One(const std::string& file) { return std::string(kOne) + "/" + file; }
  static std::string Two(const std::string& file) { return std::string(kTwo) + "/" + file; }

  // What `folder` hears, polled until `expected` is among its files or one
  // second has passed; the files heard meanwhile, sorted.
  static Names HearWithinASecond(const std::string& folder, const std::string& expected, double* seconds = nullptr) {
    const auto start = Clock::now();
    Names heard;
    while (true) {
      BaseChanges c = TakeBaseChanges(folder);
      EXPECT_FALSE(c.everything);
      heard.insert(heard.end(), c.files.begin(), c.files.end());
      if (std::find(heard.begin(), heard.end(), expected) != heard.end()) break;
      if (Clock::now() - start > std::chrono::seconds(1)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (seconds) *seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return Sorted(heard);
  }

  // Ends every connection to the base's database, as a server restart would.
  void TerminateConnections() {
    PGconn* c = PQconnectdb(sono::test::PgCluster::Shared()->connection().c_str());
    PGresult* r = PQexec(c, "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                            "WHERE datname = 'neighbours' AND pid <> pg_backend_pid()");
    EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
  }

  std::unique_ptr<PgBaseForTest> base_;
};

TEST_F(PgNeighbours, ACommitIsHeardByTheOtherStationOnlyAndAfterItsCommit) {
  for (const char* name : {"FRADA22.bt6", "FRADB22.bt6", "FRADC22.bt6"})
    ASSERT_EQ(createFile(One(name), SmallDef()), 0);
  // Station one has A and C open, station two all three.
  File oneA, oneC, twoA, twoB, twoC;
  ASSERT_EQ(oneA.open(One("FRADA22.bt6")), 0);
  ASSERT_EQ(oneC.open(One("FRADC22.bt6")), 0);
  ASSERT_EQ(twoA.open(Two("FRADA22.bt6")), 0);
  ASSERT_EQ(twoB.open(Two("FRADB22.bt6")), 0);
  ASSERT_EQ(twoC.open(Two("FRADC22.bt6")), 0);
  ASSERT_EQ(oneA.insert(Rec("0001", "un")), 0);
  // Station one's own commit is news to two only.
  double seconds = 0;
  EXPECT_EQ(HearWithinASecond(kTwo, "FRADA22.bt6", &seconds), Names{"FRADA22.bt6"});
  EXPECT_LT(seconds, 1.0);
  EXPECT_EQ(TakeBaseChanges(kOne).files, Names{});

  // Refused and aborted writes of two, and a commit to B (not open on
  // one), then a commit to C: one hears C alone (notifications come in
  // commit order, so the others would have come before C's).
  EXPECT_EQ(twoA.insert(Rec("0001", "double")), status::kDuplicateKey);
  ASSERT_EQ(twoA.beginTransaction(), 0);
  ASSERT_EQ(twoA.insert(Rec("0002", "annule")), 0);
  ASSERT_EQ(twoC.insert(Rec("0002", "annule")), 0);
  ASSERT_EQ(twoA.abortTransaction(), 0);
  ASSERT_EQ(twoB.insert(Rec("0003", "b")), 0);
  ASSERT_EQ(twoC.insert(Rec("0004", "c")), 0);
  EXPECT_EQ(HearWithinASecond(kOne, "FRADC22.bt6", &seconds), Names{"FRADC22.bt6"});
  EXPECT_LT(seconds, 1.0);

  // A transaction over two files: nothing before its end, both files once
  // after it, however many writes it held.
  ASSERT_EQ(twoA.beginTransaction(), 0);
  ASSERT_EQ(twoA.insert(Rec("0005", "a")), 0);
  ASSERT_EQ(twoA.insert(Rec("0006", "a")), 0);
  ASSERT_EQ(twoC.insert(Rec("0005", "c")), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(TakeBaseChanges(kOne).files, Names{});
  ASSERT_EQ(twoA.endTransaction(), 0);
  const Names both = {"FRADA22.bt6", "FRADC22.bt6"};
  Names heard = HearWithinASecond(kOne, "FRADA22.bt6");
  if (heard.size() < 2) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (std::string& n : TakeBaseChanges(kOne).files) heard.push_back(n);
  }
  EXPECT_EQ(Sorted(heard), both);
  EXPECT_EQ(TakeBaseChanges(kOne).files, Names{});
  EXPECT_EQ(TakeBaseChanges(kTwo).files, Names{});
}

TEST_F(PgNeighbours, AConnectionThatCameBackAsksForEverythingThenHearsAgain) {
  ASSERT_EQ(createFile(One("FRADA22.bt6"), SmallDef()), 0);
  File one, two;
  ASSERT_EQ(one.open(One("FRADA22.bt6")), 0);
  ASSERT_EQ(two.open(Two("FRADA22.bt6")), 0);
  ASSERT_EQ(two.insert(Rec("0001", "avant")), 0);
  HearWithinASecond(kOne, "FRADA22.bt6");
  TerminateConnections();
  // The lost connection is told as soon as it is noticed, once.
  bool told = false;
  for (auto start = Clock::now(); !told && Clock::now() - start < std::chrono::seconds(2);) {
    told = TakeBaseChanges(kOne).everything;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(told);
  EXPECT_FALSE(TakeBaseChanges(kOne).everything);
  // Station two writes while one is away (its own first call may find its
  // connection lost, the next connects again).
  int s = two.insert(Rec("0002", "absent"));
  if (s != 0) s = two.insert(Rec("0002", "absent"));
  ASSERT_EQ(s, 0);
  // One's next call connects again: what two wrote meanwhile was not heard.
  std::string k = "0002", r;
  s = one.get(kGetEqual, 0, k, r);
  if (s != 0) s = one.get(kGetEqual, 0, k, r);
  ASSERT_EQ(s, 0);
  const BaseChanges back = TakeBaseChanges(kOne);
  EXPECT_TRUE(back.everything);
  EXPECT_FALSE(TakeBaseChanges(kOne).everything);
  // It listens again.
  ASSERT_EQ(two.insert(Rec("0003", "apres")), 0);
  EXPECT_EQ(HearWithinASecond(kOne, "FRADA22.bt6"), Names{"FRADA22.bt6"});
}

// A listener of the base's database of its own, to know when a
// notification has been sent to every connection.
class Listener {
 public:
  Listener() {
    conn_ = PQconnectdb(sono::test::PgCluster::Shared()->connection("neighbours").c_str());
    PQclear(PQexec(conn_, "LISTEN sonoteka_btr"));
  }
  ~Listener() { PQfinish(conn_); }
  // Waits (two seconds at most) for a notification naming `file`.
  bool waitFor(const std::string& file) {
    for (auto start = Clock::now(); Clock::now() - start < std::chrono::seconds(2);) {
      PQconsumeInput(conn_);
      while (PGnotify* n = PQnotifies(conn_)) {
        const bool match = file == n->extra;
        PQfreemem(n);
        if (match) return true;
      }
      fd_set in;
      FD_ZERO(&in);
      FD_SET(PQsocket(conn_), &in);
      timeval tv{0, 50'000};
      select(PQsocket(conn_) + 1, &in, nullptr, nullptr, &tv);
    }
    return false;
  }
  PGconn* conn() { return conn_; }

 private:
  PGconn* conn_ = nullptr;
};

std::string Code(int i) {
  char c[8];
  std::snprintf(c, sizeof c, "%04d", i);
  return c;
}

// The walk reads ahead: a change made behind the engine's back (no
// notification) is not seen inside the batch, which shows the rows came
// from it; a change another station commits is seen at the very next call
// once its notification has come; our own writes and a turn of direction
// are seen at once.
TEST_F(PgNeighbours, AWalkReadsAheadButNeverHidesAHeardChange) {
  ASSERT_EQ(createFile(One("FRADA22.bt6"), SmallDef()), 0);
  File one, two;
  ASSERT_EQ(one.open(One("FRADA22.bt6")), 0);
  ASSERT_EQ(two.open(Two("FRADA22.bt6")), 0);
  for (int i = 0; i < 400; i += 10) ASSERT_EQ(one.insert(Rec(Code(i), "v0")), 0);
  Listener listener;
  std::string k, r;
  ASSERT_EQ(one.get(kGetFirst, 0, k, r), 0);
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(k, "0010");
  // Unannounced: record 0030 changed in the table itself.
  PGresult* res = PQexec(listener.conn(), "UPDATE \"FRADA22.bt6\" SET rec = overlay(rec placing 'cache' from 5) "
                                          "WHERE substr(rec, 1, 4) = '0030'");
  ASSERT_EQ(PQresultStatus(res), PGRES_COMMAND_OK) << PQerrorMessage(listener.conn());
  PQclear(res);
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0030", "v0")) << "the walk's rows are read ahead";
  // Station two changes a record further on and deletes the one after it.
  k = "0050";
  std::string k2, r2;
  k2 = "0050";
  ASSERT_EQ(two.get(kGetEqual, 0, k2, r2), 0);
  ASSERT_EQ(two.update(Rec("0050", "v1")), 0);
  ASSERT_TRUE(listener.waitFor("FRADA22.bt6"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // sent to every listener by now
  k2 = "0060";
  ASSERT_EQ(two.get(kGetEqual, 0, k2, r2), 0);
  ASSERT_EQ(two.remove(), 0);
  ASSERT_TRUE(listener.waitFor("FRADA22.bt6"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0040", "v0"));
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0050", "v1"));
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0070", "v0"));
  // The version a record was read with rules 80: two changes 0070 before
  // its notification could be heard by the walk, and one's update of what
  // it read is refused.
  k2 = "0070";
  ASSERT_EQ(two.get(kGetEqual, 0, k2, r2), 0);
  ASSERT_EQ(two.update(Rec("0070", "v2")), 0);
  EXPECT_EQ(one.update(Rec("0070", "v3")), status::kConflict);
  // Our own write between two steps of the walk: seen at once.
  ASSERT_EQ(one.get(kGetEqual, 0, k = "0080", r), 0);
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);  // a fresh batch from 0090
  File other;
  ASSERT_EQ(other.open(One("FRADA22.bt6")), 0);
  ASSERT_EQ(other.insert(Rec("0095", "ici")), 0);
  std::string k3 = "0100", r3;
  ASSERT_EQ(other.get(kGetEqual, 0, k3, r3), 0);
  ASSERT_EQ(other.update(Rec("0100", "ici")), 0);
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0095", "ici"));
  ASSERT_EQ(one.get(kGetNext, 0, k, r), 0);
  EXPECT_EQ(r, Rec("0100", "ici"));
  // Turning back walks from where the handle stands.
  ASSERT_EQ(one.get(kGetPrevious, 0, k, r), 0);
  EXPECT_EQ(k, "0095");
  ASSERT_EQ(one.get(kGetPrevious, 0, k, r), 0);
  EXPECT_EQ(k, "0090");
  // A long walk to the end and back gives every record once, in order.
  int count = 0, s;
  std::string last = k;
  while ((s = one.get(kGetNext, 0, k, r)) == 0) {
    EXPECT_GT(k, last);
    last = k;
    ++count;
  }
  EXPECT_EQ(s, status::kEndOfFile);
  EXPECT_EQ(count, 31);  // 0095, 0100 … 0390
  // Steps read ahead in position order likewise, and see a heard change.
  ASSERT_EQ(one.step(kStepFirst, r), 0);
  ASSERT_EQ(one.step(kStepNext, r), 0);
  EXPECT_EQ(r.substr(0, 4), "0010");
  k2 = "0040";
  ASSERT_EQ(two.get(kGetEqual, 0, k2, r2), 0);
  ASSERT_EQ(two.update(Rec("0040", "v4")), 0);
  ASSERT_TRUE(listener.waitFor("FRADA22.bt6"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(one.step(kStepNext, r), 0);
  EXPECT_EQ(r, Rec("0020", "v0"));
  ASSERT_EQ(one.step(kStepNext, r), 0);
  EXPECT_EQ(r.substr(0, 4), "0030");
  ASSERT_EQ(one.step(kStepNext, r), 0);
  EXPECT_EQ(r, Rec("0040", "v4"));
}

}  // namespace
}  // namespace sono::btr::testing
