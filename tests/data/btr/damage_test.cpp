// Damaged pages. Every page of a small song file is damaged in turn (zeros,
// random bytes, a few flipped bits), once while the file is closed and once
// while it is open, and every kind of read runs in a child process with a
// time limit: it must not crash nor hang, and never return a record that is
// not one of the file's own. Damaged at rest, a read must also never come
// back shorter than the file: it gives everything or status 2.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <set>
#include <random>

#include "pages.h"
#include "test_util.h"

namespace sono::btr {
namespace {

using testing::TempDir;

constexpr int kSongs = 48;
constexpr int kKeys = 6;
constexpr int kTimeLimitMs = 20000;

std::string codeOf(int id) {
  char code[9];
  std::snprintf(code, sizeof code, "R%07d", id);
  return code;
}

// Every byte follows from the id; titles and artists repeat, so that keys
// with duplicates have runs of equal values.
std::string songRecord(int id) {
  testing::Record r;
  char buf[64];
  r.set(1, codeOf(id));
  std::snprintf(buf, sizeof buf, "A%04d", id % 7);
  r.set(9, buf);
  std::snprintf(buf, sizeof buf, "Title %02d", id % 13);
  r.set(24, buf);
  std::snprintf(buf, sizeof buf, "C%04d", id % 5);
  r.set(69, buf);
  std::string& b = r.bytes();
  for (std::size_t j = 120; j < 900; ++j) b[j] = static_cast<char>('a' + (id * 7 + j) % 26);
  return b;
}

// One read: how it ended, how many records it gave, whether each was one of
// the file's own, and a fingerprint of the order.
struct Scan {
  int status = -1;
  int count = 0;
  bool genuine = true;
  std::uint64_t order = 0;
};

constexpr int kScans = kKeys + 2;  // every key, the physical order, the lookups
struct Outcome {
  int openStatus = -1;
  Scan scans[kScans];
};

void add(Scan& s, const std::string& rec) {
  ++s.count;
  if (rec.size() != 900 || rec[0] != 'R') {
    s.genuine = false;
    return;
  }
  const int id = std::atoi(rec.substr(1, 7).c_str());
  if (rec != songRecord(id)) s.genuine = false;
  s.order = s.order * 1000003u + static_cast<std::uint64_t>(id) + 1;
}

void runReads(File& f, Outcome& out) {
  for (int k = 0; k < kKeys; ++k) {
    Scan& s = out.scans[k];
    std::string key, rec;
    int st = f.get(kGetFirst, k, key, rec);
    while (st == 0 && s.count <= kSongs) {
      add(s, rec);
      st = f.get(kGetNext, k, key, rec);
    }
    s.status = st;
  }
  Scan& steps = out.scans[kKeys];
  std::string rec;
  int st = f.step(kStepFirst, rec);
  while (st == 0 && steps.count <= kSongs) {
    add(steps, rec);
    st = f.step(kStepNext, rec);
  }
  steps.status = st;
  Scan& lookups = out.scans[kKeys + 1];
  lookups.status = status::kEndOfFile;
  for (int id = 0; id < kSongs; ++id) {
    std::string key = codeOf(id);
    st = f.get(kGetEqual, 0, key, rec);
    if (st != 0) {
      lookups.status = st;
      break;
    }
    add(lookups, rec);
  }
  FileDef def;
  std::uint64_t records = 0;
  f.stat(def, records);
}

enum class Damage { Zeros, Random, FlippedBits };

void damagePage(int fd, std::size_t page, std::size_t pageSize, Damage kind, unsigned seed) {
  std::vector<char> bytes(pageSize);
  ASSERT_EQ(pread(fd, bytes.data(), pageSize, static_cast<off_t>(page * pageSize)), ssize_t(pageSize));
  std::mt19937 rng(seed);
  switch (kind) {
    case Damage::Zeros: std::fill(bytes.begin(), bytes.end(), 0); break;
    case Damage::Random:
      for (char& c : bytes) c = static_cast<char>(rng());
      break;
    case Damage::FlippedBits:
      for (int i = 0; i < 3; ++i) bytes[rng() % pageSize] ^= static_cast<char>(1u << (rng() % 8));
      break;
  }
  ASSERT_EQ(pwrite(fd, bytes.data(), pageSize, static_cast<off_t>(page * pageSize)), ssize_t(pageSize));
}

// A song file of kSongs records, written in one transaction; with
// `updated`, every fifth record rewritten, so that the file holds free pages.
void makeSongFile(const std::string& path, bool updated) {
  ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
  File f;
  ASSERT_EQ(f.open(path), 0);
  ASSERT_EQ(f.beginTransaction(), 0);
  for (int i = 0; i < kSongs; ++i) ASSERT_EQ(f.insert(songRecord(i)), 0);
  ASSERT_EQ(f.endTransaction(), 0);
  for (int i = 0; updated && i < kSongs; i += 5) {
    std::string key = codeOf(i), rec;
    ASSERT_EQ(f.get(kGetEqual, 0, key, rec), 0);
    ASSERT_EQ(f.update(rec), 0);
  }
}

// Which pages of the whole file `path` (`size` bytes) hold something.
std::vector<bool> pagesInUse(const std::string& path, std::size_t size, std::size_t pageSize) {
  std::vector<bool> inUse(size / pageSize);
  const int fd = ::open(path.c_str(), O_RDONLY);
  pages::PageWalker walker(fd, size);
  EXPECT_TRUE(walker.readMeta());
  walker.checkAll();
  EXPECT_TRUE(walker.whole());
  for (std::size_t p = 0; p < inUse.size(); ++p) inUse[p] = walker.pageInUse(p);
  ::close(fd);
  return inUse;
}

void overwrite(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDWR | O_TRUNC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::close(fd);
}

// Runs the reads in a child; false (with `what`) when it crashed or hung.
bool readInChild(const std::string& path, bool whileOpen, std::size_t page, std::size_t pageSize, Damage kind,
                 unsigned seed, Outcome& out, std::string& what) {
  int pipeFd[2];
  if (pipe(pipeFd) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    ::close(pipeFd[0]);
    Outcome o;
    File f;
    if (whileOpen) {
      o.openStatus = f.open(path);
      const int fd = ::open(path.c_str(), O_RDWR);
      damagePage(fd, page, pageSize, kind, seed);
      ::close(fd);
    } else {
      o.openStatus = f.open(path);
    }
    if (o.openStatus == 0) runReads(f, o);
    if (write(pipeFd[1], &o, sizeof o) != ssize_t(sizeof o)) _exit(3);
    _exit(0);
  }
  ::close(pipeFd[1]);
  pollfd p{pipeFd[0], POLLIN, 0};
  const bool ready = poll(&p, 1, kTimeLimitMs) > 0;
  bool done = ready && read(pipeFd[0], &out, sizeof out) == ssize_t(sizeof out);
  ::close(pipeFd[0]);
  if (!ready) kill(pid, SIGKILL);
  int st = 0;
  waitpid(pid, &st, 0);
  if (!ready) what = "hung";
  else if (WIFSIGNALED(st)) what = std::string("died of ") + strsignal(WTERMSIG(st));
  else if (!done) what = "gave no answer";
  return done && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

TEST(DamagedPages, NoCrashNoHangNoForeignRecordAndAtRestNothingSilentlyShort) {
  TempDir dir;
  const std::string path = dir / "FRADA22.bt6";
  ASSERT_NO_FATAL_FAILURE(makeSongFile(path, true));
  const std::string intact = sono::test::ReadFile(path);
  const std::size_t pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t pages = intact.size() / pageSize;
  ASSERT_GE(pages, 20u);

  Outcome baseline;
  {
    File f;
    ASSERT_EQ(f.open(path), 0);
    runReads(f, baseline);
  }
  for (const Scan& s : baseline.scans) {
    ASSERT_EQ(s.status, status::kEndOfFile);
    ASSERT_EQ(s.count, kSongs);
    ASSERT_TRUE(s.genuine);
  }

  // Which pages hold something: damage to those cannot go unseen at rest.
  const std::vector<bool> inUse = pagesInUse(path, intact.size(), pageSize);
  int detectedAtRest = 0, cases = 0;
  std::map<std::string, int> runtimeStatuses;
  for (bool whileOpen : {false, true}) {
    for (std::size_t page = 0; page < pages; ++page) {
      for (Damage kind : {Damage::Zeros, Damage::Random, Damage::FlippedBits}) {
        const unsigned seed = static_cast<unsigned>(page * 31 + static_cast<unsigned>(kind));
        ASSERT_NO_FATAL_FAILURE(overwrite(path, intact));
        if (!whileOpen) {
          const int fd = ::open(path.c_str(), O_RDWR);
          damagePage(fd, page, pageSize, kind, seed);
          ::close(fd);
        }
        const std::string label = std::string(whileOpen ? "open" : "at rest") + ", page " + std::to_string(page) +
                                  ", damage " + std::to_string(static_cast<int>(kind));
        Outcome o;
        std::string what;
        ++cases;
        ASSERT_TRUE(readInChild(path, whileOpen, page, pageSize, kind, seed, o, what)) << label << ": " << what;
        ASSERT_TRUE(o.openStatus == 0 || o.openStatus == status::kIoError) << label << ": open " << o.openStatus;
        bool sawDamage = o.openStatus == status::kIoError;
        for (int i = 0; o.openStatus == 0 && i < kScans; ++i) {
          const Scan& s = o.scans[i];
          EXPECT_TRUE(s.genuine) << label << ", read " << i;
          EXPECT_TRUE(s.status == status::kEndOfFile || s.status == status::kIoError ||
                      (whileOpen && s.status == status::kKeyNotFound))
              << label << ", read " << i << ": status " << s.status;
          sawDamage = sawDamage || s.status == status::kIoError;
          if (!whileOpen && s.status == status::kEndOfFile) {
            EXPECT_EQ(s.count, baseline.scans[i].count) << label << ", read " << i << " silently short";
            EXPECT_EQ(s.order, baseline.scans[i].order) << label << ", read " << i << " out of order";
          }
        }
        if (!whileOpen && sawDamage) ++detectedAtRest;
        if (!whileOpen && inUse[page] && kind != Damage::FlippedBits) {
          EXPECT_TRUE(sawDamage) << label << ": a page in use overwritten without a status 2";
        }
        if (whileOpen) ++runtimeStatuses[sawDamage ? "status 2" : "read through"];
      }
    }
  }
  EXPECT_GT(runtimeStatuses["status 2"], 0);
  std::printf("%d cases, %d damaged files at rest seen damaged; while open: %d gave status 2\n", cases,
              detectedAtRest, runtimeStatuses["status 2"]);
}

}  // namespace
}  // namespace sono::btr

namespace sono::btr {
namespace {

// Every page in use of a small file zeroed in turn: the check reports it, and
// the repair gives back every record whose bytes were not on that page,
// keeps the damaged file beside the new one, and leaves a whole file.
TEST(DamagedPages, CheckSeesEveryDamagedPageAndRepairGivesBackEveryRecordOfTheOthers) {
  TempDir dir;
  const std::string path = dir / "FRADA22.bt6";
  const FileDef def = testing::songFileDef();
  ASSERT_NO_FATAL_FAILURE(makeSongFile(path, false));
  const std::string intact = sono::test::ReadFile(path);
  const std::size_t pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<std::size_t> used;
  const std::vector<bool> inUse = pagesInUse(path, intact.size(), pageSize);
  for (std::size_t p = 0; p < inUse.size(); ++p)
    if (inUse[p]) used.push_back(p);
  ASSERT_GE(used.size(), 12u);
  int lostSomething = 0;
  for (std::size_t page : used) {
    const std::string label = "page " + std::to_string(page);
    std::string damaged = intact;
    std::fill(damaged.begin() + static_cast<long>(page * pageSize), damaged.begin() + static_cast<long>((page + 1) * pageSize), '\0');
    ASSERT_NO_FATAL_FAILURE(overwrite(path, damaged));
    const IntegrityReport check = checkIntegrity(path);
    EXPECT_FALSE(check.ok()) << label;
    EXPECT_EQ(check.status, status::kIoError) << label;
    // The songs whose code appears on the damaged page are the only ones
    // that may be lost.
    const std::string before = intact.substr(page * pageSize, pageSize);
    std::set<int> mayLose;
    for (int id = 0; id < kSongs; ++id)
      if (before.find(codeOf(id)) != std::string::npos) mayLose.insert(id);

    const RepairReport repair = repairFile(path, &def);
    ASSERT_EQ(repair.status, 0) << label;
    ASSERT_FALSE(repair.keptAs.empty()) << label;
    EXPECT_EQ(sono::test::ReadFile(repair.keptAs), damaged) << label;
    EXPECT_TRUE(checkIntegrity(path).ok()) << label;
    std::set<int> found;
    {
      File f;
      ASSERT_EQ(f.open(path), 0) << label;
      std::string key, rec;
      for (int s = f.get(kGetFirst, 0, key, rec); s == 0; s = f.get(kGetNext, 0, key, rec)) {
        const int id = std::atoi(rec.substr(1, 7).c_str());
        EXPECT_EQ(rec, songRecord(id)) << label;
        found.insert(id);
      }
      // The rebuilt file takes new records after the old ones.
      EXPECT_EQ(f.insert(songRecord(kSongs)), 0) << label;
    }
    EXPECT_EQ(repair.recovered, found.size()) << label;
    for (int id = 0; id < kSongs; ++id) {
      if (!found.count(id)) {
        EXPECT_TRUE(mayLose.count(id)) << label << ": song " << id << " lost from a whole page";
      }
    }
    lostSomething += found.size() < static_cast<std::size_t>(kSongs);
    ::unlink(repair.keptAs.c_str());
  }
  EXPECT_GT(lostSomething, 0);  // some pages did hold records
}

TEST(DamagedPages, RepairRefusesAFileInUseAndLeavesAWholeOneAlone) {
  TempDir dir;
  const std::string path = dir / "FRADA22.bt6";
  ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
  File f;
  ASSERT_EQ(f.open(path), 0);
  ASSERT_EQ(f.insert(songRecord(1)), 0);
  EXPECT_EQ(repairFile(path).status, status::kFileLocked);
  f.close();
  const std::string before = sono::test::ReadFile(path);
  const RepairReport whole = repairFile(path);
  EXPECT_EQ(whole.status, 0);
  EXPECT_TRUE(whole.keptAs.empty());
  EXPECT_EQ(whole.recovered, 1u);
  EXPECT_EQ(sono::test::ReadFile(path), before);
}

}  // namespace
}  // namespace sono::btr
