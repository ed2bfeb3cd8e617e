// The stores that write several stations, run by sonoteka-cli under the I/O
// fault injector: killed, or failing, at every write and every sync of the
// data folder in turn. Afterwards every station holds the old or the new
// values, all alike, and what the command said (and its exit status) is true.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <map>

#include "btr.h"
#include "cli_site.h"

namespace sono::test {
namespace {

constexpr int kStations = 2;

class StoreFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "home";
    data = home + "/drives/c/QZ_Data";
    ASSERT_TRUE(Cli({"site", "init-demo"}).exited(0));
  }
  ProcessResult Cli(const std::vector<std::string>& args, const std::string& rules = "") {
    return RunCli(home, args, FaultEnvironment(rules, data, dir / "counts"), 60000);
  }
  long Count(const std::string& op) { return FaultCount(dir / "counts", op); }
  std::string File(int number, int station) const {
    char name[32];
    std::snprintf(name, sizeof name, "/FRAD%c%02d.bt6", 'A' + station - 1, number % 100);
    return data + name;
  }
  // The record of key 0 `key` in a station file ("" when absent).
  std::string Read(int number, int station, const std::string& key) {
    btr::File f;
    if (f.open(File(number, station)) != 0) return "?open";
    std::string k = key, rec;
    const int s = f.get(btr::kGetEqual, 0, k, rec);
    return s == 0 ? rec : s == btr::status::kKeyNotFound ? "" : "?" + std::to_string(s);
  }
  // Every record of a station file, by key 0.
  std::map<std::string, std::string> All(int number, int station, std::size_t keyLength) {
    std::map<std::string, std::string> out;
    btr::File f;
    if (f.open(File(number, station)) != 0) return {{"?", "open"}};
    std::string k, rec;
    for (int s = f.get(btr::kGetFirst, 0, k, rec); s == 0; s = f.get(btr::kGetNext, 0, k, rec))
      out[rec.substr(0, keyLength)] = rec;
    return out;
  }
  // Runs `command` with every fault of every write and sync in turn; `check`
  // sees the outcome and returns the state now held ("" when the stations
  // disagree). The state before each run is `prepare`'s.
  void EveryFault(const std::function<std::vector<std::string>(int run)>& command,
                  const std::function<void(int run)>& prepare,
                  const std::function<void(int run, const ProcessResult&, const std::string& rules)>& check) {
    int run = 0;
    prepare(run);
    const ProcessResult clean = Cli(command(run));
    ASSERT_TRUE(clean.exited(0)) << clean.out << clean.err;
    check(run, clean, "");
    const long writes = Count("write"), syncs = Count("fsync"), renames = Count("rename");
    ASSERT_GT(writes, 0);
    ASSERT_GT(syncs, 0);
    int faults = 0;
    for (const auto& [op, total] : {std::pair<std::string, long>{"write", writes}, {"fsync", syncs}, {"rename", renames}})
      for (long n = 1; n <= total; ++n)
        for (const char* action : {"kill", "fail"}) {
          ++run;
          prepare(run);
          const std::string rules = op + ":" + std::to_string(n) + ":" + action;
          const ProcessResult r = Cli(command(run), rules);
          ASSERT_FALSE(r.timedOut) << rules;
          ASSERT_TRUE(r.signal == 0 || r.signal == SIGKILL) << rules << " died of signal " << r.signal;
          if (std::string(action) == "fail") {
            ASSERT_GE(Count(op), n) << rules << ": fault not met";
          }
          ++faults;
          check(run, r, rules);
          if (HasFatalFailure()) return;
        }
    EXPECT_GT(faults, 10);
  }

  TempDir dir;
  std::string home, data;
};

// ptx set, and edit … store through the pointer editor: the intro of one
// song on every station, and the song's durations. Whole seconds apart, so
// that every run changes the song's intro too (a record left as it was is
// not written).
class IntroStore : public StoreFaults {
 protected:
  void EveryStationOldOrNew(const std::function<std::vector<std::string>(int value)>& command, int first,
                            const std::string& saidStored, const std::string& saidNotStored) {
    ASSERT_TRUE(Cli({"demo", "build", "--songs", "6", "--stations", std::to_string(kStations)}).exited(0));
    const auto value = [first](int run) { return first + run % 100 * 1000; };
    std::string held;  // the intro all stations held before the run
    auto intro = [&](int station) {
      const std::string rec = Read(31, station, kCode + "401");
      return rec.empty() ? std::string("none") : rec.substr(11, 10);
    };
    EveryFault([&](int run) { return command(value(run)); }, [&](int) { held = intro(1); },
               [&](int run, const ProcessResult& r, const std::string& rules) {
                 const std::string now = intro(1);
                 for (int s = 2; s <= kStations; ++s) ASSERT_EQ(intro(s), now) << rules << ": stations disagree";
                 ASSERT_EQ(Read(22, 1, kCode), Read(22, 2, kCode)) << rules << ": song records disagree";
                 char expected[16];
                 std::snprintf(expected, sizeof expected, "%010d", value(run));
                 ASSERT_TRUE(now == held || now == expected) << rules << ": " << now;
                 if (!saidStored.empty() && r.out.find(saidStored + std::to_string(value(run))) != std::string::npos) {
                   EXPECT_EQ(now, expected) << rules << ": said stored";
                 }
                 if (r.err.find(saidNotStored) != std::string::npos) {
                   EXPECT_EQ(now, held) << rules << ": said not stored";
                 }
                 if (r.exited(0)) {
                   EXPECT_EQ(now, expected) << rules;
                 }
                 if (r.signal == 0) {
                   EXPECT_TRUE(r.exited(0) || r.exited(1)) << rules << r.err;
                 }
                 if (r.exited(1)) {
                   EXPECT_FALSE(r.err.empty()) << rules;
                 }
               });
  }
  const std::string kCode = "00000001";
};

TEST_F(IntroStore, PtxSet) {
  EveryStationOldOrNew([&](int at) { return std::vector<std::string>{"ptx", "set", kCode, "2", std::to_string(at)}; },
                       20000, "Enregistré: " + kCode + " Intro = ", "Non enregistré");
}

TEST_F(IntroStore, EditStore) {
  EveryStationOldOrNew(
      [&](int at) {
        return std::vector<std::string>{
            "edit", kCode, "select " + std::to_string(at) + " " + std::to_string(at + 500) + "; menu intro; store"};
      },
      5000, "", "Pointeurs non enregistrés");
}

// stats recount: every artist's count, from a count all stations hold wrong.
TEST_F(StoreFaults, StatsRecount) {
  ASSERT_TRUE(Cli({"demo", "build", "--songs", "6", "--stations", std::to_string(kStations)}).exited(0));
  const auto correct = All(20, 1, 5);
  ASSERT_GE(correct.size(), 20u);
  EveryFault([&](int) { return std::vector<std::string>{"stats", "recount"}; },
             [&](int) {
               // A count no song gives, on every station.
               for (int s = 1; s <= kStations; ++s) {
                 btr::File f;
                 ASSERT_EQ(f.open(File(20, s)), 0);
                 std::string k, rec;
                 for (int st = f.get(btr::kGetFirst, 0, k, rec); st == 0; st = f.get(btr::kGetNext, 0, k, rec)) {
                   rec.replace(46, 4, "9999");
                   ASSERT_EQ(f.update(rec), 0);
                 }
               }
             },
             [&](int, const ProcessResult& r, const std::string& rules) {
               const auto one = All(20, 1, 5);
               for (int s = 2; s <= kStations; ++s) ASSERT_EQ(All(20, s, 5), one) << rules << ": stations disagree";
               int recounted = 0;
               for (const auto& [key, rec] : one) {
                 ASSERT_TRUE(rec == correct.at(key) || rec.substr(46, 4) == "9999") << rules << " " << key;
                 recounted += rec == correct.at(key);
               }
               if (r.exited(0)) {
                 EXPECT_EQ(recounted, static_cast<int>(one.size())) << rules;
               }
               if (r.exited(1)) {
                 EXPECT_NE(r.err.find("Recomptage incomplet"), std::string::npos) << rules << r.err;
               }
             });
}

// demo build: from empty files, songs and their companions and pointers on
// every station or on none; a build said complete is complete.
TEST_F(StoreFaults, DemoBuild) {
  const std::string empty = dir / "empty";
  // Two stations, then the empty files kept aside to start every run from.
  ASSERT_TRUE(Cli({"demo", "build", "--songs", "1", "--stations", std::to_string(kStations)}).exited(0));
  ASSERT_EQ(std::system(("rm -rf '" + data + "' && mkdir -p '" + data + "'").c_str()), 0);
  ASSERT_TRUE(Cli({"db", "create-missing"}).exited(0));
  ASSERT_EQ(std::system(("cp -a '" + data + "' '" + empty + "'").c_str()), 0);
  constexpr int kSongs = 8;
  EveryFault([&](int) { return std::vector<std::string>{"demo", "build", "--songs", std::to_string(kSongs)}; },
             [&](int) {
               ASSERT_EQ(std::system(("rm -rf '" + data + "' && cp -a '" + empty + "' '" + data + "'").c_str()), 0);
             },
             [&](int, const ProcessResult& r, const std::string& rules) {
               const auto songs = All(22, 1, 8);
               for (int s = 2; s <= kStations; ++s) {
                 ASSERT_EQ(All(22, s, 8).size(), songs.size()) << rules << ": stations disagree";
                 ASSERT_EQ(All(31, s, 11), All(31, 1, 11)) << rules << ": pointers disagree";
               }
               for (int s = 1; s <= kStations; ++s) {
                 const auto titles = All(48, s, 8), recorder = All(26, s, 8);
                 for (const auto& [code, rec] : songs) {
                   ASSERT_EQ(Read(22, s, code), rec) << rules << " station " << s;
                   ASSERT_TRUE(titles.count(code) && recorder.count(code)) << rules << ": " << code << " without companions";
                 }
                 ASSERT_EQ(titles.size(), songs.size()) << rules;
               }
               if (r.exited(0)) {
                 EXPECT_EQ(songs.size(), static_cast<std::size_t>(kSongs)) << rules;
               }
               if (r.exited(1) && songs.size() < kSongs) {
                 EXPECT_NE(r.err.find("incomplète"), std::string::npos) << rules << r.err;
               }
             });
  // A stopped build is completed by running it again.
  ASSERT_EQ(std::system(("rm -rf '" + data + "' && cp -a '" + empty + "' '" + data + "'").c_str()), 0);
  ASSERT_EQ(Cli({"demo", "build", "--songs", std::to_string(kSongs)}, "write:12:kill").signal, SIGKILL);
  const ProcessResult again = Cli({"demo", "build", "--songs", std::to_string(kSongs)});
  ASSERT_TRUE(again.exited(0)) << again.err;
  for (int s = 1; s <= kStations; ++s) {
    EXPECT_EQ(All(22, s, 8).size(), static_cast<std::size_t>(kSongs));
    EXPECT_EQ(All(48, s, 8).size(), static_cast<std::size_t>(kSongs));
  }
}

}  // namespace
}  // namespace sono::test
