// Two workstation processes on one PostgreSQL base: concurrent updates of
// the same songs that follow the retry rules lose nothing, a save of a copy
// changed elsewhere since it was read is refused with 80, and a connection
// ended by the server inside a transaction leaves the file as it was while
// the workstation goes on.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../btr/pg_test_base.h"
#include "btr.h"

namespace sono::btr::testing {
namespace {

constexpr const char* kDatabase = "twostations";
constexpr int kConnectionLost = 3111;

FileDef CounterDef() {
  FileDef d;
  d.recordLength = 20;
  d.pageSize = 512;
  d.keys = {KeyDef{{KeySegment{1, 4, kKeyModifiable}}},
            KeyDef{{KeySegment{13, 8, kKeyModifiable | kKeyDuplicates | kKeyCaseInsensitive}}}};
  return d;
}

std::string Song(const std::string& code, long counter, const std::string& name = "chanson ") {
  char b[32];
  std::snprintf(b, sizeof b, "%-4s%08ld%-8s", code.c_str(), counter, name.c_str());
  return std::string(b, 20);
}

long CounterOf(const std::string& record) { return std::stol(record.substr(4, 8)); }

// A workstation process (station_worker) with its standard input and
// output on pipes, so the test can step it.
class Workstation {
 public:
  explicit Workstation(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> all = {STATION_WORKER};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }
  ~Workstation() {
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
    if (pid_ > 0 && exitCode_ < 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }

  // The next line it prints; "" after `timeoutMs` or at its end.
  std::string readLine(int timeoutMs = 60000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const std::size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      pollfd p{fromChild_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, left) <= 0) return "";
      char chunk[256];
      const ssize_t n = ::read(fromChild_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  void go() { ASSERT_EQ(::write(toChild_, "go\n", 3), 3); }
  int wait() {
    int st = 0;
    while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
    }
    exitCode_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return exitCode_;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1, fromChild_ = -1;
  int exitCode_ = -1;
  std::string buffer_;
};

class TwoStations : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    base_ = std::make_unique<PgBaseForTest>(kDatabase);
    ASSERT_EQ(base_->error(), "");
    ASSERT_EQ(createFile(base_->path("FRADA22.bt6"), CounterDef()), 0);
    ASSERT_EQ(file_.open(base_->path("FRADA22.bt6")), 0);
  }
  void TearDown() override { file_.close(); }

  long counter(const std::string& code) {
    std::string key = code, rec;
    EXPECT_EQ(file_.get(kGetEqual, 0, key, rec), 0) << code;
    return rec.empty() ? -1 : CounterOf(rec);
  }
  std::vector<std::string> allCodes() {
    std::vector<std::string> codes;
    std::string key, rec;
    for (int st = file_.get(kGetFirst, 0, key, rec); st == 0; st = file_.get(kGetNext, 0, key, rec))
      codes.push_back(key);
    return codes;
  }

  std::unique_ptr<PgBaseForTest> base_;
  File file_;
};

TEST_F(TwoStations, ConcurrentUpdatesThatFollowTheRetryRulesLoseNothing) {
  constexpr int kSongs = 3, kRounds = 120;
  for (int s = 0; s < kSongs; ++s) ASSERT_EQ(file_.insert(Song("000" + std::to_string(s + 1), 0)), 0);
  Workstation a({base_->connection(), "count", std::to_string(kRounds), std::to_string(kSongs)});
  Workstation b({base_->connection(), "count", std::to_string(kRounds), std::to_string(kSongs)});
  long retries = 0;
  for (Workstation* w : {&a, &b}) {
    std::istringstream line(w->readLine(240000));
    std::string word;
    long conflict = -1, recordLocked = -1, fileLocked = -1;
    line >> word >> conflict >> recordLocked >> fileLocked;
    ASSERT_EQ(word, "retries") << line.str();
    retries += conflict + recordLocked + fileLocked;
    EXPECT_EQ(w->wait(), 0);
  }
  // Each round adds one per song, and every third round one more (the
  // transaction adds to two songs): nothing lost, nothing doubled.
  const long perSong = 2 * (kRounds + kRounds / 3);
  for (int s = 0; s < kSongs; ++s) EXPECT_EQ(counter("000" + std::to_string(s + 1)), perSong) << s;
  // The two really met: at least one write had to be retried.
  EXPECT_GT(retries, 0);
}

TEST_F(TwoStations, TheSaveOfACopyChangedElsewhereIs80AndNothingIsOverwritten) {
  ASSERT_EQ(file_.insert(Song("0001", 5)), 0);
  Workstation other({base_->connection(), "stale"});
  ASSERT_EQ(other.readLine(), "read");
  std::string key = "0001", rec;
  ASSERT_EQ(file_.get(kGetEqual, 0, key, rec), 0);
  ASSERT_EQ(file_.update(Song("0001", 6, "ici")), 0);
  other.go();
  EXPECT_EQ(other.readLine(), "80");  // its copy (5) is stale
  EXPECT_EQ(other.readLine(), "0");   // read again (6), then saved
  EXPECT_EQ(other.wait(), 0);
  key = "0001";
  ASSERT_EQ(file_.get(kGetEqual, 0, key, rec), 0);
  EXPECT_EQ(CounterOf(rec), 106);
  EXPECT_EQ(rec.substr(12), "ici     ");  // this station's change kept
}

// Ends the connection of the workstation that holds a transaction open.
int TerminateTransactionHolder() {
  PGconn* c = PQconnectdb(sono::test::PgCluster::Shared()->connection().c_str());
  const std::string sql = std::string("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = '") +
                          kDatabase + "' AND state = 'idle in transaction'";
  PGresult* r = PQexec(c, sql.c_str());
  const int ended = PQresultStatus(r) == PGRES_TUPLES_OK ? std::atoi(PQgetvalue(r, 0, 0)) : -1;
  PQclear(r);
  PQfinish(c);
  return ended;
}

TEST_F(TwoStations, AConnectionEndedInsideATransactionLeavesTheFileAsBeforeAndTheStationGoesOn) {
  for (const char* code : {"0001", "0002", "0003"}) ASSERT_EQ(file_.insert(Song(code, 1)), 0);
  const std::vector<std::string> before = allCodes();
  Workstation other({base_->connection(), "hold"});
  ASSERT_EQ(other.readLine(), "held");
  ASSERT_EQ(TerminateTransactionHolder(), 1);
  other.go();
  // The change inside the lost transaction: the lost connection. Then the
  // station reconnects: the read sees the record as before the
  // transaction, the transaction is gone (36), and a new write works.
  EXPECT_EQ(other.readLine(), std::to_string(kConnectionLost) + " 0 1 " +
                                  std::to_string(status::kTransactionError) + " 0");
  EXPECT_EQ(other.wait(), 0);
  EXPECT_EQ(counter("0001"), 1);
  std::vector<std::string> after = before;
  after.push_back("0010");
  EXPECT_EQ(allCodes(), after);  // 0009 of the transaction is not there
}

}  // namespace
}  // namespace sono::btr::testing
