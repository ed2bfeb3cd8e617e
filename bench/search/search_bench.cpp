// The library on a 100,000-song station: browsing music into the grid, a
// "Contient" search for a common word, and a full recount of the duration
// statistics, each against a plain scan of the same records held in memory
// (the floor: what the work costs without the database).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>
#include <algorithm>

#include "../common/bench_report.h"
#include "../common/bench_site.h"
#include "data/collation.h"
#include "data/demo_library.h"
#include "data/records.h"
#include "data/search.h"
#include "data/stats.h"

using namespace sono;
using namespace sono::data;

namespace {
double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
// Each search against the same work done on the records already in memory.
void print(const char* name, double spent, const char* target, double floor, const char* ratioTarget) {
  bench::Report(name, spent, "s", target, floor > 0 ? spent / floor : 0.0, "plain in-memory scan", ratioTarget);
}

// The longest time the window would wait for its events during a piece of
// work: between two turns of the event loop, and from the last turn to the
// end of the work.
class EventGaps {
 public:
  explicit EventGaps(PollingEventLoop& events) {
    events.pollers.push_back([this] { turn(); });
  }
  template <class F>
  double longestMs(F&& work) {
    running_ = true;
    longest_ = 0;
    last_ = std::chrono::steady_clock::now();
    work();
    turn();
    running_ = false;
    return longest_;
  }

 private:
  void turn() {
    const auto now = std::chrono::steady_clock::now();
    if (running_) longest_ = std::max(longest_, std::chrono::duration<double, std::milli>(now - last_).count());
    last_ = now;
  }
  bool running_ = false;
  double longest_ = 0;
  std::chrono::steady_clock::time_point last_;
};

void reportGap(const char* name, double ms) { bench::Report(name, ms, "ms", "<= 50", ms / 50, "target"); }
}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::atoi(argv[1]) : 100000;
  namespace fs = std::filesystem;
  // SONOTEKA_BENCH_SITE names a folder kept between runs: its library is
  // built by the first run only (a large one takes minutes to build).
  const char* kept = std::getenv("SONOTEKA_BENCH_SITE");
  const std::string home = kept && *kept ? CheckRep(kept) : bench::TemporaryHome("search");
  bench::BenchSite site(home, {0, kSongs, kArtists, kCodeTables, kRecorderSongs, kComplementKeys, kPointers, kTitles},
                        kept && *kept);
  if (!site.ok) {
    std::fprintf(stderr, "%s\n", site.error.c_str());
    return 1;
  }
  PervasiveLayer& layer = site.layer;
  Library& lib = site.lib;
  DurationStatistics stats(lib);

  auto t = std::chrono::steady_clock::now();
  if (!site.reused) {
    fs::create_directories(home);
    DemoLibraryOptions demo;
    demo.songs = songs;
    BuildDemoLibrary(lib, demo);
    std::fprintf(stderr, "library of %d songs built in %.1f s\n", songs, seconds(t));
    if (kept && *kept) bench::BenchSite::MarkComplete(home);
  }

  // The floor: the same song records, already in memory.
  std::vector<std::string> records;
  {
    std::string key = Library::Key(std::string(8, '\0'));
    BtrieveOptions quiet;
    quiet.silent = true;
    int st = layer.GetGreaterOrEqual(0, kSongs, 1, kPrimaryKey, key, "bench", quiet);
    while (st == 0) {
      records.push_back(layer.record(kSongs));
      st = layer.GetNext(0, kSongs, 1, kPrimaryKey, key, "bench", quiet);
    }
  }
  auto floorOf = [&](auto&& work) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      work();
      best = std::min(best, seconds(t0));
    }
    return best;
  };
  size_t sink = 0;
  const double browseFloor = floorOf([&] {
    std::vector<std::string> titles;
    for (const auto& r : records)
      if (r[0] >= '0' && r[0] <= '9') titles.push_back(GetRaw(r, song::kTitle) + GetRaw(r, song::kCode));
    std::sort(titles.begin(), titles.end());
    sink += titles.size();
  });
  const std::string word = Utf8ToCp1252("amour");
  const double containsFloor = floorOf([&] {
    const std::string folded = FoldForSearch(word);
    std::string title;
    for (const auto& r : records) {
      FoldForSearch(std::string_view(r).substr(song::kTitle.position - 1, song::kTitle.length), title);
      sink += title.find(folded) != std::string::npos;
    }
  });
  const double statsFloor = floorOf([&] {
    std::unordered_map<std::string, std::pair<long long, long long>> perArtist, perCategory;
    for (const auto& r : records) {
      auto& a = perArtist[GetRaw(r, song::kArtist1)];
      ++a.first;
      a.second += song::StatisticsSeconds(r);
      auto& c = perCategory[GetRaw(r, song::kCategory)];
      ++c.first;
      c.second += song::StatisticsSeconds(r);
    }
    sink += perArtist.size() + perCategory.size();
  });

  SongSearch search(lib, stats);
  EventGaps gaps(site.events);
  SearchRequest browse;
  browse.kind = SearchKind::Music;
  double best = 1e9, bestCpu = 1e9;
  for (int i = 0; i < 3; ++i) {
    const double cpu0 = bench::CpuSeconds();
    t = std::chrono::steady_clock::now();
    search.RechercheDansLaBase_01_Morceau(browse);
    best = std::min(best, seconds(t));
    bestCpu = std::min(bestCpu, bench::CpuSeconds() - cpu0);
  }
  std::fprintf(stderr, "browse: %zu rows\n", search.grid.size());
  print("search.browse_music", best, "<= 0.25", browseFloor, "<= 6");
  // The CPU seconds of the same work: on a machine shared with builds, the
  // time above waits for the processor too.
  bench::Report("search.browse_music_cpu", bestCpu, "s");
  // CPU cost per song, to compare runs at 10,000, 100,000 and 1,000,000 songs
  // (`bench_search SONGS`): a hidden quadratic shows as a growing cost.
  bench::Report("search.browse_music_per_song", bestCpu / songs * 1e6, "us CPU");
  reportGap("search.browse_music_longest_event_gap", gaps.longestMs([&] { search.RechercheDansLaBase_01_Morceau(browse); }));
  // The whole library sorted by a text column, then by a number.
  t = std::chrono::steady_clock::now();
  double sortGap = gaps.longestMs([&] { search.grid.sortBy(kColTitle, false); });
  bench::Report("search.sort_by_title", seconds(t), "s");
  sortGap = std::max(sortGap, gaps.longestMs([&] { search.grid.sortBy(kColDuration); }));
  reportGap("search.sort_longest_event_gap", sortGap);

  SearchRequest contains;
  contains.text = "amour";
  contains.mode = SearchMode::Contient;
  best = 1e9;
  bestCpu = 1e9;
  for (int i = 0; i < 3; ++i) {
    const double cpu0 = bench::CpuSeconds();
    t = std::chrono::steady_clock::now();
    search.RechercheDansLaBase_01_Morceau(contains);
    best = std::min(best, seconds(t));
    bestCpu = std::min(bestCpu, bench::CpuSeconds() - cpu0);
  }
  std::fprintf(stderr, "contains: %zu rows\n", search.grid.size());
  print("search.contains_common_word", best, "<= 0.1", containsFloor, nullptr);
  bench::Report("search.contains_common_word_cpu", bestCpu, "s");
  bench::Report("search.contains_common_word_per_song", bestCpu / songs * 1e6, "us CPU");
  reportGap("search.contains_longest_event_gap", gaps.longestMs([&] { search.RechercheDansLaBase_01_Morceau(contains); }));

  double recountGap = 0;
  const double recountCpu0 = bench::CpuSeconds();
  t = std::chrono::steady_clock::now();
  {
    std::string key = Library::Key(std::string(5, '\0'));
    BtrieveOptions quiet;
    quiet.silent = true;
    int st = layer.GetGreaterOrEqual(0, kArtists, 1, kPrimaryKey, key, "bench", quiet);
    while (st == 0) {
      stats.queueArtist(key.substr(0, 5));
      st = layer.GetNext(0, kArtists, 1, kPrimaryKey, key, "bench", quiet);
    }
    key = Library::Key("CATEG");
    st = layer.GetGreaterOrEqual(0, kCodeTables, 1, kPrimaryKey, key, "bench", quiet);
    while (st == 0 && key.substr(0, 5) == "CATEG") {
      stats.queueCategory(key.substr(5, 5));
      st = layer.GetNext(0, kCodeTables, 1, kPrimaryKey, key, "bench", quiet);
    }
  }
  recountGap = gaps.longestMs([&] {
    stats.RecountArtistsAndCategories();
  });
  print("search.statistics_recount", seconds(t), "<= 0.3", statsFloor, nullptr);
  bench::Report("search.statistics_recount_cpu", bench::CpuSeconds() - recountCpu0, "s");
  // A recount stores its counts: the store's gap.
  reportGap("search.recount_store_longest_event_gap", recountGap);

  site.close();
  if (!kept || !*kept) fs::remove_all(home);
  return sink == 0 ? 1 : 0;
}
