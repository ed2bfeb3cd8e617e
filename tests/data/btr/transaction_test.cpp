// Transactions over several files of one folder: all or nothing, also when
// the writer is killed or its writes fail at any point of the commit.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "process.h"
#include "engine_under_test.h"
#include "test_util.h"

namespace sono::btr {
namespace {

using testing::TestBase;

const char* const kNames[] = {"FRADA31.bt6", "FRADB31.bt6", "FRADC31.bt6"};
constexpr int kRecords = 12;

std::string record(int id, int version) {
  testing::Record r;
  char buf[32];
  std::snprintf(buf, sizeof buf, "R%07d", id);
  r.set(1, buf);
  std::snprintf(buf, sizeof buf, "%08d", version);
  r.set(101, buf);
  return r.bytes();
}

void makeFiles(const std::string& folder) {
  for (const char* name : kNames) {
    const std::string path = folder + "/" + name;
    ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
    File f;
    ASSERT_EQ(f.open(path), 0);
    for (int i = 0; i < kRecords; ++i) ASSERT_EQ(f.insert(record(i, 0)), 0);
  }
}

// The versions held by every record of every file (opening them finishes
// what a killed writer left in the journal).
std::set<int> versions(const std::string& folder) {
  std::set<int> seen;
  for (const char* name : kNames) {
    File f;
    EXPECT_EQ(f.open(folder + "/" + name), 0);
    std::string key, rec;
    int n = 0;
    for (int s = f.get(kGetFirst, 0, key, rec); s == 0; s = f.get(kGetNext, 0, key, rec), ++n)
      seen.insert(std::atoi(rec.substr(100, 8).c_str()));
    EXPECT_EQ(n, kRecords) << name;
  }
  return seen;
}

TEST(Transactions, SpanEveryFileOfTheFolderAndAbortLeavesNoTrace) {
  TestBase dir;
  makeFiles(dir.path());
  File a, b, c;
  ASSERT_EQ(a.open(dir / kNames[0]), 0);
  ASSERT_EQ(b.open(dir / kNames[1]), 0);
  ASSERT_EQ(c.open(dir / kNames[2]), 0);
  ASSERT_EQ(b.beginTransaction(), 0);
  EXPECT_EQ(c.beginTransaction(), status::kTransactionActive);  // one per folder
  ASSERT_EQ(a.insert(record(100, 7)), 0);
  ASSERT_EQ(c.insert(record(100, 7)), 0);
  ASSERT_EQ(c.abortTransaction(), 0);
  EXPECT_EQ(a.endTransaction(), status::kTransactionError);
  EXPECT_EQ(versions(dir.path()), std::set<int>{0});

  ASSERT_EQ(a.beginTransaction(), 0);
  std::string key = "R0000003", rec;
  for (File* f : {&a, &b, &c}) {
    ASSERT_EQ(f->get(kGetEqual, 0, key, rec), 0);
    ASSERT_EQ(f->update(record(3, 5)), 0);
  }
  ASSERT_EQ(c.endTransaction(), 0);
  for (File* f : {&a, &b, &c}) {
    std::string k = "R0000003";
    ASSERT_EQ(f->get(kGetEqual, 0, k, rec), 0);
    EXPECT_EQ(rec.substr(100, 8), "00000005");
  }
  if (!testing::kOnPostgres) {
    EXPECT_TRUE(sono::test::ReadFile(dir / "sonoteka-btr.journal").empty());
  }
}

TEST(Transactions, KilledOrFailingAtEveryWriteAndSyncLeavesEveryFileOldOrNewAlike) {
  LMDB_ONLY("faults injected into the writes and syncs of the files and the redo journal");
  sono::test::TempDir dir;
  makeFiles(dir.path());
  const std::string counts = dir / "counts";
  int current = 0;
  // The commit's writes and syncs, counted on a clean run.
  auto run = [&](const std::string& rules, int version) {
    return sono::test::RunProcess({BTR_TXN_WORKER, dir.path(), std::to_string(version)},
                                  sono::test::FaultEnvironment(rules, dir.path(), counts), 60000);
  };
  auto clean = run("", ++current);
  ASSERT_TRUE(clean.exited(0)) << clean.out << clean.err;
  ASSERT_EQ(versions(dir.path()), std::set<int>{current});
  const long writes = sono::test::FaultCount(counts, "write"), syncs = sono::test::FaultCount(counts, "fsync");
  ASSERT_GE(writes, 6);  // three files, the journal
  ASSERT_GE(syncs, 4);
  int killed = 0, failed = 0;
  for (const char* op : {"write", "fsync"}) {
    const long total = std::string(op) == "write" ? writes : syncs;
    for (long n = 1; n <= total; ++n) {
      for (const char* action : {"kill", "fail"}) {
        const std::string rules = std::string(op) + ":" + std::to_string(n) + ":" + action;
        const int next = current + 1;
        const auto r = run(rules, next);
        ASSERT_FALSE(r.timedOut) << rules;
        ASSERT_GE(sono::test::FaultCount(counts, op), std::string(action) == "kill" ? -1 : n) << rules;
        const std::set<int> seen = versions(dir.path());
        ASSERT_EQ(seen.size(), 1u) << rules << ": files disagree";
        const int now = *seen.begin();
        ASSERT_TRUE(now == current || now == next) << rules;
        if (r.exited(0)) {
          EXPECT_EQ(now, next) << rules << ": told done, not stored";
        } else if (r.exited(1)) {
          EXPECT_EQ(now, current) << rules << ": told failed, stored: " << r.out;
        }
        killed += r.signal != 0;
        failed += r.exited(1);
        current = now;
      }
    }
  }
  EXPECT_GT(killed, 0);
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace sono::btr
