// Several processes on one file: crashes at random moments, concurrent
// updates, conflicts and busy statuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "base_changes.h"
#include "engine_under_test.h"
#include "test_util.h"

namespace sono::btr {
namespace {

using testing::CheckWhole;
using testing::TempDir;
using testing::TestBase;

// ---------------------------------------------------------------------------
// Records whose every byte follows from (id, version), so that a torn or
// mixed record is detected.

std::string codeOf(std::uint32_t id) {
  char code[9];
  std::snprintf(code, sizeof code, "R%07u", id);
  return code;
}

std::string versionedRecord(std::uint32_t id, std::uint32_t version) {
  testing::Record r;
  char buf[64];
  r.set(1, codeOf(id));
  std::snprintf(buf, sizeof buf, "A%04u", version % 3);
  r.set(9, buf);
  std::snprintf(buf, sizeof buf, "Title %u v%u", id, version);
  r.set(24, buf);
  std::snprintf(buf, sizeof buf, "C%04u", version % 5);
  r.set(69, buf);
  std::snprintf(buf, sizeof buf, "%08u", version);
  r.set(101, buf);
  std::string& b = r.bytes();
  for (std::size_t j = 200; j < 900; ++j) b[j] = static_cast<char>('a' + (id * 7 + version * 13 + j) % 26);
  return b;
}

bool parseRecord(const std::string& rec, std::uint32_t& id, std::uint32_t& version) {
  if (rec.size() != 900 || rec[0] != 'R') return false;
  id = static_cast<std::uint32_t>(std::stoul(rec.substr(1, 7)));
  version = static_cast<std::uint32_t>(std::stoul(rec.substr(100, 8)));
  return rec == versionedRecord(id, version);
}

void makeFile(const std::string& path, std::uint32_t records) {
  ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
  File f;
  ASSERT_EQ(f.open(path), 0);
  for (std::uint32_t i = 0; i < records; ++i) ASSERT_EQ(f.insert(versionedRecord(i, 0)), 0);
}

int readVersion(File& f, std::uint32_t id, std::uint32_t& version) {
  std::string key = codeOf(id), rec;
  int s = f.get(kGetEqual, 0, key, rec);
  if (s != 0) return s;
  std::uint32_t got;
  if (!parseRecord(rec, got, version) || got != id) return 250;
  return 0;
}

void writeAll(int fd, const void* p, std::size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    ssize_t w = write(fd, c, n);
    if (w <= 0) _exit(240);
    c += w;
    n -= static_cast<std::size_t>(w);
  }
}

bool readAll(int fd, void* p, std::size_t n) {
  char* c = static_cast<char*>(p);
  while (n > 0) {
    ssize_t r = read(fd, c, n);
    if (r <= 0) return false;
    c += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Crash safety.

enum : std::uint32_t { kIntentUpdate = 1, kIntentInsert = 2, kDone = 3 };

struct Msg {
  std::uint32_t kind = 0;
  std::uint32_t count = 0;
  std::uint32_t ids[3] = {};
  std::uint32_t versions[3] = {};
};

// Child: changes records forever, announcing each change before making it
// and confirming it once done.
[[noreturn]] void crashWorker(const std::string& path, int out, unsigned seed) {
  File f;
  if (f.open(path) != 0) _exit(201);
  FileDef def;
  std::uint64_t records = 0;
  if (f.stat(def, records) != 0) _exit(202);
  std::uint32_t n = static_cast<std::uint32_t>(records);
  std::mt19937 rng(seed);
  for (;;) {
    const unsigned r = rng() % 10;
    Msg m;
    if (r < 6) {  // one update
      m.kind = kIntentUpdate;
      m.count = 1;
      m.ids[0] = rng() % n;
      if (readVersion(f, m.ids[0], m.versions[0]) != 0) _exit(203);
      ++m.versions[0];
      writeAll(out, &m, sizeof m);
      if (f.update(versionedRecord(m.ids[0], m.versions[0])) != 0) _exit(204);
    } else if (r < 8) {  // three updates in one transaction
      m.kind = kIntentUpdate;
      m.count = 3;
      std::set<std::uint32_t> ids;
      while (ids.size() < 3) ids.insert(rng() % n);
      std::uint32_t i = 0;
      for (std::uint32_t id : ids) {
        m.ids[i] = id;
        if (readVersion(f, id, m.versions[i]) != 0) _exit(205);
        ++m.versions[i++];
      }
      writeAll(out, &m, sizeof m);
      if (f.beginTransaction() != 0) _exit(206);
      for (i = 0; i < 3; ++i) {
        std::uint32_t v;
        if (readVersion(f, m.ids[i], v) != 0) _exit(207);
        if (f.update(versionedRecord(m.ids[i], m.versions[i])) != 0) _exit(208);
      }
      if (f.endTransaction() != 0) _exit(209);
    } else {  // a new record
      m.kind = kIntentInsert;
      m.count = 1;
      m.ids[0] = n;
      m.versions[0] = 0;
      writeAll(out, &m, sizeof m);
      if (f.insert(versionedRecord(n, 0)) != 0) _exit(210);
      ++n;
    }
    Msg done;
    done.kind = kDone;
    writeAll(out, &done, sizeof done);
  }
}

TEST(CrashSafety, KilledWritersLeaveWholeOldOrNewRecords) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  constexpr std::uint32_t kInitial = 40;
  makeFile(path, kInitial);
  std::map<std::uint32_t, std::uint32_t> committed;
  for (std::uint32_t i = 0; i < kInitial; ++i) committed[i] = 0;

  std::mt19937 rng(20240611);
  constexpr int kRounds = 24;
  int inFlightSeen = 0;
  for (int round = 0; round < kRounds; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      crashWorker(path, fds[1], 1000 + round);
    }
    close(fds[1]);
    // Let the worker complete a random number of changes, then kill it
    // wherever it happens to be.
    const int target = 1 + static_cast<int>(rng() % 25);
    int done = 0;
    std::vector<Msg> msgs;
    Msg m;
    while (done < target && readAll(fds[0], &m, sizeof m)) {
      msgs.push_back(m);
      if (m.kind == kDone) ++done;
    }
    // A random extra moment (up to a few operations) so that kills land
    // anywhere inside an operation, its commit included.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(rng() % 4000);
    while (std::chrono::steady_clock::now() < until) {
    }
    kill(pid, SIGKILL);
    int st = 0;
    waitpid(pid, &st, 0);
    while (readAll(fds[0], &m, sizeof m)) msgs.push_back(m);
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL)
        << "worker stopped by itself, exit " << (WIFEXITED(st) ? WEXITSTATUS(st) : -1);

    // Fold the confirmed changes in; the last announced one may or may not
    // have reached the file.
    const Msg* pending = nullptr;
    for (const Msg& x : msgs) {
      if (x.kind == kDone) {
        for (std::uint32_t i = 0; i < pending->count; ++i) committed[pending->ids[i]] = pending->versions[i];
        pending = nullptr;
      } else {
        pending = &x;
      }
    }

    const testing::Whole rep = CheckWhole(path);
    ASSERT_TRUE(rep.ok) << "round " << round << ": " << rep.problem;
    std::map<std::uint32_t, std::uint32_t> actual;
    {
      File f;
      ASSERT_EQ(f.open(path), 0);
      std::string rec;
      for (int s = f.step(kStepFirst, rec); s == 0; s = f.step(kStepNext, rec)) {
        std::uint32_t id, version;
        ASSERT_TRUE(parseRecord(rec, id, version)) << "round " << round << ": torn record";
        ASSERT_TRUE(actual.emplace(id, version).second) << "round " << round << ": record twice";
      }
    }
    std::set<std::uint32_t> pendingIds;
    int applied = 0;
    if (pending) {
      for (std::uint32_t i = 0; i < pending->count; ++i) {
        const std::uint32_t id = pending->ids[i];
        pendingIds.insert(id);
        const bool isNew = pending->kind == kIntentInsert ? actual.count(id) == 1
                                                           : actual.at(id) == pending->versions[i];
        const bool isOld = pending->kind == kIntentInsert ? actual.count(id) == 0
                                                           : actual.at(id) == committed.at(id);
        ASSERT_TRUE(isNew || isOld) << "round " << round << ": record " << id << " is neither old nor new";
        applied += isNew ? 1 : 0;
      }
      // A transaction is all or nothing.
      ASSERT_TRUE(applied == 0 || applied == static_cast<int>(pending->count)) << "round " << round;
      if (applied) ++inFlightSeen;
    }
    for (const auto& [id, version] : committed) {
      if (pendingIds.count(id)) continue;
      ASSERT_EQ(actual.count(id), 1u) << "round " << round << ": record " << id << " lost";
      ASSERT_EQ(actual.at(id), version) << "round " << round << ": record " << id;
    }
    ASSERT_EQ(actual.size(), committed.size() + ((pending && pending->kind == kIntentInsert && applied) ? 1 : 0));
    committed = actual;
  }
  RecordProperty("kills", kRounds);
  RecordProperty("records", static_cast<int>(committed.size()));
  RecordProperty("changes_found_applied_after_kill", inFlightSeen);
}

// Another process that opens `path`, begins a transaction and inserts
// record `id` in it, then waits: for a byte on `release[1]` to commit (or
// for its end). Returns once the insert is made.
pid_t holdTransaction(const std::string& path, std::uint32_t id, int release[2]) {
  int ready[2];
  if (pipe(ready) != 0 || pipe(release) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    File f;
    if (f.open(path) != 0 || f.beginTransaction() != 0) _exit(1);
    if (f.insert(versionedRecord(id, 0)) != 0) _exit(2);
    char c = 'r';
    writeAll(ready[1], &c, 1);
    if (!readAll(release[0], &c, 1)) _exit(3);
    _exit(f.endTransaction() != 0 ? 4 : 0);
  }
  char c;
  const bool held = readAll(ready[0], &c, 1);
  for (int fd : {ready[0], ready[1]}) close(fd);
  return held ? pid : -1;
}

TEST(CrashSafety, WriterKilledInsideATransactionReleasesTheFile) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  makeFile(path, 3);
  int release[2];
  const pid_t pid = holdTransaction(path, 77, release);
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  for (int fd : release) close(fd);
  File f;
  ASSERT_EQ(f.open(path), 0);
  std::uint32_t v;
  EXPECT_EQ(readVersion(f, 77, v), status::kKeyNotFound);
  EXPECT_EQ(f.insert(versionedRecord(78, 0)), 0);
  EXPECT_EQ(readVersion(f, 78, v), 0);
  f.close();
  EXPECT_TRUE(CheckWhole(path).ok);
}

// ---------------------------------------------------------------------------
// Concurrent updates.

// Runs `body` in another process (another workstation's connection on
// PostgreSQL); its result, 255 when it died.
int inAnotherProcess(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 255;
}

// Increments record counters the way the file layer retries: on 80 the
// record is read again and the update repeated; on 84/85 the call is repeated.
struct Counts {
  std::uint32_t conflicts = 0;
  std::uint32_t busy = 0;
};

[[noreturn]] void incrementWorker(const std::string& path, unsigned seed, int increments, int out) {
  File f;
  if (f.open(path) != 0) _exit(1);
  std::mt19937 rng(seed);
  Counts counts;
  auto retryBusy = [&](auto call) {
    for (;;) {
      int s = call();
      if (s != status::kRecordLocked && s != status::kFileLocked) return s;
      ++counts.busy;
      sched_yield();
    }
  };
  for (int i = 0; i < increments; ++i) {
    const std::uint32_t id = rng() % 8;
    const bool inTransaction = i % 10 == 0;
    if (inTransaction && retryBusy([&] { return f.beginTransaction(); }) != 0) _exit(2);
    for (;;) {
      std::uint32_t version;
      if (readVersion(f, id, version) != 0) _exit(3);
      int s = retryBusy([&] { return f.update(versionedRecord(id, version + 1)); });
      if (s == 0) break;
      if (s != status::kConflict) _exit(4);
      ++counts.conflicts;
    }
    if (inTransaction && f.endTransaction() != 0) _exit(5);
  }
  writeAll(out, &counts, sizeof counts);
  _exit(0);
}

TEST(Concurrency, TwoProcessesFollowingTheRetryRulesLoseNoUpdate) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  makeFile(path, 8);
  constexpr int kIncrements = 150;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pids[2];
  for (int w = 0; w < 2; ++w) {
    pids[w] = fork();
    ASSERT_GE(pids[w], 0);
    if (pids[w] == 0) {
      close(fds[0]);
      incrementWorker(path, 7 + w, kIncrements, fds[1]);
    }
  }
  close(fds[1]);
  Counts total;
  for (int w = 0; w < 2; ++w) {
    int st = 0;
    waitpid(pids[w], &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "worker " << w << " status " << st;
  }
  for (int w = 0; w < 2; ++w) {
    Counts c;
    ASSERT_TRUE(readAll(fds[0], &c, sizeof c));
    total.conflicts += c.conflicts;
    total.busy += c.busy;
  }
  close(fds[0]);
  File f;
  ASSERT_EQ(f.open(path), 0);
  std::uint32_t sum = 0;
  for (std::uint32_t id = 0; id < 8; ++id) {
    std::uint32_t v;
    ASSERT_EQ(readVersion(f, id, v), 0);
    sum += v;
  }
  EXPECT_EQ(sum, 2u * kIncrements);
  f.close();
  EXPECT_TRUE(CheckWhole(path).ok);
  RecordProperty("conflicts", static_cast<int>(total.conflicts));
  RecordProperty("busy", static_cast<int>(total.busy));
}

TEST(Concurrency, UpdateOfARecordChangedByAnotherProcessGets80) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  makeFile(path, 2);
  File f;
  ASSERT_EQ(f.open(path), 0);
  std::uint32_t v;
  ASSERT_EQ(readVersion(f, 1, v), 0);
  ASSERT_EQ(inAnotherProcess([&] {
    File o;
    std::uint32_t w;
    return o.open(path) || readVersion(o, 1, w) || o.update(versionedRecord(1, 41)) ? 2 : 0;
  }), 0);
  EXPECT_EQ(f.update(versionedRecord(1, 1)), status::kConflict);
  EXPECT_EQ(f.remove(), status::kConflict);
  ASSERT_EQ(readVersion(f, 1, v), 0);
  EXPECT_EQ(v, 41u);
  EXPECT_EQ(f.update(versionedRecord(1, 42)), 0);
  ASSERT_EQ(readVersion(f, 1, v), 0);
  EXPECT_EQ(v, 42u);
}

// A handle walking a key keeps its read snapshot between calls; a write by
// another process or another handle must still be seen by the very next read.
TEST(Concurrency, ReadsBetweenCallsSeeWritesOfAnotherProcessAndHandleAtOnce) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  makeFile(path, 6);
  File f, other;
  ASSERT_EQ(f.open(path), 0);
  ASSERT_EQ(other.open(path), 0);
  std::string key(8, '\0'), rec;
  std::uint32_t id = 0, version = 0;
  ASSERT_EQ(f.get(kGetFirst, 0, key, rec), 0);
  ASSERT_EQ(f.get(kGetNext, 0, key, rec), 0);
  ASSERT_TRUE(parseRecord(rec, id, version));
  ASSERT_EQ(id, 1u);
  ASSERT_EQ(inAnotherProcess([&] {
    File o;
    std::uint32_t w;
    if (o.open(path) != 0) return 2;
    if (readVersion(o, 2, w) != 0 || o.update(versionedRecord(2, 7)) != 0) return 3;
    if (readVersion(o, 3, w) != 0 || o.remove() != 0) return 4;
    if (o.insert(versionedRecord(10, 3)) != 0) return 5;
    return readVersion(o, 1, w) != 0 || o.update(versionedRecord(1, 5)) != 0 ? 6 : 0;
  }), 0);
  std::uint32_t v;
  ASSERT_EQ(readVersion(other, 4, v), 0);
  ASSERT_EQ(other.update(versionedRecord(4, 8)), 0);
  // The walk goes on from record 1: 2 as changed, 3 gone, 4 as the other
  // handle left it, 5, then 10 inserted by the other process.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
  while (f.get(kGetNext, 0, key, rec) == 0) {
    ASSERT_TRUE(parseRecord(rec, id, version));
    seen.emplace_back(id, version);
  }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {{2, 7}, {4, 8}, {5, 0}, {10, 3}};
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(readVersion(f, 1, v), 0);
  EXPECT_EQ(v, 5u);
}

std::vector<std::string> changedFiles(const std::string& folder) {
  BaseChanges c = TakeBaseChanges(folder);
  EXPECT_FALSE(c.everything);
  std::sort(c.files.begin(), c.files.end());
  return c.files;
}

// What the song grid refreshes on: the files of the base another process
// committed to, once each, never our own commits nor aborted transactions,
// and never a file this process does not have open.
TEST(Concurrency, BaseChangesNameTheFilesOthersCommittedToOnce) {
  LMDB_ONLY("each LMDB file's last commit; pg_changes_test.cpp hears the server's notifications");
  TempDir dir;
  const std::string a = dir / "FRADA22.bt6", b = dir / "FRADB22.bt6", c = dir / "FRADC22.bt6";
  makeFile(a, 3);
  makeFile(b, 3);
  makeFile(c, 3);
  File fa, fb;
  ASSERT_EQ(fa.open(a), 0);
  ASSERT_EQ(fb.open(b), 0);
  using Names = std::vector<std::string>;
  EXPECT_EQ(changedFiles(dir.path()), Names{});
  std::uint32_t v;
  // Our own writes, single and in a transaction, are not news.
  ASSERT_EQ(readVersion(fa, 1, v), 0);
  ASSERT_EQ(fa.update(versionedRecord(1, 1)), 0);
  ASSERT_EQ(fa.beginTransaction(), 0);
  ASSERT_EQ(fa.insert(versionedRecord(7, 0)), 0);
  ASSERT_EQ(fb.insert(versionedRecord(7, 0)), 0);
  ASSERT_EQ(fa.endTransaction(), 0);
  EXPECT_EQ(changedFiles(dir.path()), Names{});
  // Another process: a commit to B and to C (not open here), an aborted
  // transaction on A and a refused insert on A.
  ASSERT_EQ(inAnotherProcess([&] {
    File ob, oc, oa;
    std::uint32_t w;
    if (ob.open(b) || oc.open(c) || oa.open(a)) return 2;
    if (readVersion(ob, 2, w) || ob.update(versionedRecord(2, 5))) return 3;
    if (oc.insert(versionedRecord(9, 0))) return 4;
    if (oa.beginTransaction() || oa.insert(versionedRecord(8, 0)) || oa.abortTransaction()) return 5;
    if (oa.insert(versionedRecord(1, 9)) != status::kDuplicateKey) return 6;
    return 0;
  }), 0);
  EXPECT_EQ(changedFiles(dir.path()), Names{"FRADB22.bt6"});
  EXPECT_EQ(changedFiles(dir.path()), Names{});
  // Another process's commit followed by ours: ours does not hide it.
  ASSERT_EQ(inAnotherProcess([&] {
    File oa;
    std::uint32_t w;
    return oa.open(a) || readVersion(oa, 0, w) || oa.update(versionedRecord(0, 4)) ? 2 : 0;
  }), 0);
  ASSERT_EQ(readVersion(fa, 2, v), 0);
  ASSERT_EQ(fa.update(versionedRecord(2, 6)), 0);
  EXPECT_EQ(changedFiles(dir.path()), Names{"FRADA22.bt6"});
  // Two files changed by another process are both named; the folder may be
  // given with a trailing slash.
  ASSERT_EQ(inAnotherProcess([&] {
    File oa, ob;
    return oa.open(a) || ob.open(b) || oa.insert(versionedRecord(20, 0)) || ob.insert(versionedRecord(20, 0)) ? 2 : 0;
  }), 0);
  const Names both = {"FRADA22.bt6", "FRADB22.bt6"};
  EXPECT_EQ(changedFiles(dir.path() + "/"), both);
  // Another folder's base hears nothing of this one.
  TempDir other;
  EXPECT_EQ(changedFiles(other.path()), Names{});
}

// Another process updates every record of `path` `rounds` times, each update its own commit.
void updateAllInAnotherProcess(const std::string& path, std::uint32_t records, int rounds) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    File f;
    if (f.open(path) != 0) _exit(2);
    for (std::uint32_t i = 0; i < records * std::uint32_t(rounds); ++i) {
      const std::uint32_t id = i % records;
      std::uint32_t v;
      if (readVersion(f, id, v) != 0 || f.update(versionedRecord(id, v + 1)) != 0) _exit(3);
    }
    _exit(0);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
}

off_t sizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// A reader keeps its snapshot between calls, but not on a file it stopped
// reading: once that file has been idle for a while, the next call on any
// file lets the snapshot go, and another process's writes reuse the pages
// they free instead of growing the file.
TEST(Concurrency, ASnapshotOfAFileLeftIdleIsLetGoAndWritersReuseItsPages) {
  LMDB_ONLY("LMDB's read snapshots and the pages they hold");
  TempDir dir;
  const std::string path = dir / "FRADA22.bt6", otherPath = dir / "FRADB22.bt6";
  constexpr std::uint32_t kRecords = 150;
  makeFile(path, kRecords);
  makeFile(otherPath, 1);
  File f, other;
  ASSERT_EQ(f.open(path), 0);
  ASSERT_EQ(other.open(otherPath), 0);
  std::string key(8, '\0'), rec;
  // Read, then idle for longer than a snapshot is kept: the writer is a
  // forked child, and its calls must not let this process's snapshot go
  // (only the process that read does), so the freed pages cannot be reused.
  ASSERT_EQ(f.get(kGetFirst, 0, key, rec), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1400));
  const off_t before = sizeOf(path);
  ASSERT_NO_FATAL_FAILURE(updateAllInAnotherProcess(path, kRecords, 1));
  const off_t heldGrowth = sizeOf(path) - before;
  ASSERT_GT(heldGrowth, 256 * 1024) << "a held snapshot must make the file grow";
  // Read again (a new snapshot), then left idle; a call on another file lets it go.
  ASSERT_EQ(f.get(kGetFirst, 0, key, rec), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1400));
  ASSERT_EQ(other.get(kGetFirst, 0, key, rec), 0);
  // Three times the work: the pages freed by the first writer are not enough
  // for it, it must reuse the pages it frees itself.
  const off_t middle = sizeOf(path);
  ASSERT_NO_FATAL_FAILURE(updateAllInAnotherProcess(path, kRecords, 3));
  const off_t idleGrowth = sizeOf(path) - middle;
  EXPECT_LT(idleGrowth, heldGrowth / 4) << "held: " << heldGrowth << " bytes, idle: " << idleGrowth;
  // The file still reads whole, with every record at its new version.
  std::uint32_t v = 0;
  ASSERT_EQ(readVersion(f, kRecords - 1, v), 0);
  EXPECT_EQ(v, 4u);
}

TEST(Concurrency, WritesWaitForAnotherProcessTransactionThenGet85ReadsDoNot) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  makeFile(path, 2);
  int release[2];
  const pid_t pid = holdTransaction(path, 50, release);
  ASSERT_GT(pid, 0);
  File f;
  ASSERT_EQ(f.open(path), 0);
  EXPECT_EQ(f.insert(versionedRecord(60, 0)), status::kFileLocked);
  EXPECT_EQ(f.beginTransaction(), status::kFileLocked);
  std::uint32_t v;
  EXPECT_EQ(readVersion(f, 0, v), 0);
  EXPECT_EQ(readVersion(f, 50, v), status::kKeyNotFound);  // not committed yet
  char c = 'c';
  writeAll(release[1], &c, 1);
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  EXPECT_EQ(readVersion(f, 50, v), 0);
  EXPECT_EQ(f.insert(versionedRecord(60, 0)), 0);
  for (int fd : release) close(fd);
}

// ---------------------------------------------------------------------------
// Exclusive opens (mode -4).


int openAndClose(const std::string& path, int mode) {
  File f;
  return f.open(path, mode);
}

TEST(Exclusive, AnExclusiveOpenStandsAloneOnItsFileHereAndInOtherProcesses) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6", otherFile = dir / "FRADB22.bt6";
  makeFile(path, 2);
  makeFile(otherFile, 1);
  {
    File alone;
    ASSERT_EQ(alone.open(path, kModeExclusive), 0);
    EXPECT_EQ(openAndClose(path, kModeNormal), status::kFileLocked);
    EXPECT_EQ(openAndClose(path, kModeReadOnly), status::kFileLocked);
    EXPECT_EQ(openAndClose(path, kModeExclusive), status::kFileLocked);
    // Another process: no open of that file, any other file of the base; the
    // file is still there for it.
    EXPECT_EQ(inAnotherProcess([&] {
                if (!FileExists(path)) return 100;
                if (int s = openAndClose(path, kModeNormal)) return s == status::kFileLocked ? 0 : s;
                return 101;
              }),
              0);
    EXPECT_EQ(inAnotherProcess([&] { return openAndClose(path, kModeExclusive); }), status::kFileLocked);
    EXPECT_EQ(inAnotherProcess([&] { return openAndClose(otherFile, kModeNormal); }), 0);
    EXPECT_EQ(createFile(path, testing::songFileDef(), true), status::kFileLocked);
    // The exclusive opener itself reads and writes as usual.
    EXPECT_EQ(alone.insert(versionedRecord(2, 0)), 0);
    std::uint32_t v;
    EXPECT_EQ(readVersion(alone, 2, v), 0);
  }
  // Once it is closed, normal opens share the file and keep exclusive opens
  // out, here and elsewhere.
  File shared;
  ASSERT_EQ(shared.open(path), 0);
  EXPECT_EQ(openAndClose(path, kModeExclusive), status::kFileLocked);
  EXPECT_EQ(inAnotherProcess([&] { return openAndClose(path, kModeExclusive); }), status::kFileLocked);
  EXPECT_EQ(inAnotherProcess([&] {
              File f;
              std::uint32_t v;
              if (int s = f.open(path)) return s;
              return readVersion(f, 2, v);
            }),
            0);
  EXPECT_EQ(inAnotherProcess([&] { return createFile(path, testing::songFileDef(), true); }), status::kFileLocked);
  ASSERT_EQ(shared.close(), 0);
  EXPECT_EQ(inAnotherProcess([&] { return openAndClose(path, kModeExclusive); }), 0);
  EXPECT_EQ(openAndClose(path, kModeExclusive), 0);
}

}  // namespace
}  // namespace sono::btr
