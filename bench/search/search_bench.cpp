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
}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::atoi(argv[1]) : 100000;
  namespace fs = std::filesystem;
  const std::string home = bench::TemporaryHome("search");
  bench::BenchSite site(home, {0, kSongs, kArtists, kCodeTables, kRecorderSongs, kComplementKeys, kPointers, kTitles});
  if (!site.ok) {
    std::fprintf(stderr, "%s\n", site.error.c_str());
    return 1;
  }
  PervasiveLayer& layer = site.layer;
  Library& lib = site.lib;
  DurationStatistics stats(lib);

  auto t = std::chrono::steady_clock::now();
  DemoLibraryOptions demo;
  demo.songs = songs;
  BuildDemoLibrary(lib, demo);
  std::fprintf(stderr, "library of %d songs built in %.1f s\n", songs, seconds(t));

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
  SearchRequest browse;
  browse.kind = SearchKind::Music;
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    t = std::chrono::steady_clock::now();
    search.RechercheDansLaBase_01_Morceau(browse);
    best = std::min(best, seconds(t));
  }
  std::fprintf(stderr, "browse: %zu rows\n", search.grid.size());
  print("search.browse_music", best, "<= 0.25", browseFloor, "<= 6");

  SearchRequest contains;
  contains.text = "amour";
  contains.mode = SearchMode::Contient;
  best = 1e9;
  for (int i = 0; i < 3; ++i) {
    t = std::chrono::steady_clock::now();
    search.RechercheDansLaBase_01_Morceau(contains);
    best = std::min(best, seconds(t));
  }
  std::fprintf(stderr, "contains: %zu rows\n", search.grid.size());
  print("search.contains_common_word", best, "<= 0.1", containsFloor, nullptr);

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
  stats.MAJDureeMoyenneArtistes();
  stats.MAJDureeMoyenneCategories();
  print("search.statistics_recount", seconds(t), "<= 0.3", statsFloor, nullptr);

  site.close();
  fs::remove_all(home);
  return sink == 0 ? 1 : 0;
}
