// Following another workstation's changes, on both engines: the other
// workstation is a process of its own on the same base (LMDB files of one
// machine, or one PostgreSQL database): sonoteka-cli saving song titles, or
// station_worker writing and deleting song records.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>

#include "../btr/pg_test_base.h"
#include "cli_site.h"
#include "library_fixture.h"
#include "process.h"
#include "log_lines.h"
#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/text.h"
#include "data/btr/base_engine.h"
#include "data/change_follower.h"
#include "data/library.h"
#include "data/records.h"
#include "data/search.h"
#include "data/songs.h"
#include "data/stats.h"
#include "test_support.h"

namespace sono::data {
namespace {

enum class Engine { Lmdb, Postgres };

constexpr int kSongCount = 60;

std::string CodeOf(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "%08d", i);
  return b;
}

// A one-station site whose base is held by `engine`, with kSongCount songs
// titled "Chanson NN".
class Follow : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Postgres) {
      SKIP_WITHOUT_POSTGRES();
      pg_ = std::make_unique<btr::testing::PgBaseForTest>("follow");
      ASSERT_EQ(pg_->error(), "");
    }
    std::string error;
    ASSERT_TRUE(CreateDemoSite(dir.path(), error)) << error;
    sono::test::WriteFile(dir / "drives/c/QZ_Data/FRAD000.bt6", "");
    ConfigEnvironment env;
    env.programFolder = dir.path();
    env.computerName = "poste";
    env.version = "1.2.3";
    log = std::make_unique<TraceLogger>(clock);
    config = std::make_unique<SiteConfig>(env, *log, prompt);
    config->InitGeneralPath(true);
    const std::string system = config->DetermineFichierSysteme(0);
    EcritureIni(system, "Base_01", "NbStation", "1");
    if (pg_) {
      EcritureIni(system, "Base_01", "Moteur_Data", "PostgreSQL");
      EcritureIni(system, "Base_01", "Connexion_PostgreSQL", pg_->connection());
    }
    config->InitGeneralSite();
    log->setFolders(config->current().logFolder, config->current().dataFolder);
    log->setSetupLoaded(true);
    if (pg_)
      btr::SetBaseEngine(config->current().dataFolder, btr::BaseEngine{btr::EngineKind::Postgres, pg_->connection(), ""});
    layer = std::make_unique<PervasiveLayer>(*config, *log, prompt, clock);
    for (int file : {kSongs, kArtists, kCodeTables, kRecorderSongs, kComplementKeys, kPointers, kTitles})
      layer->CreationStructureVide(layer->NomFichierBTR(0, file, 1), file);
    layer->PervasiveOuvertureFichiers(0, 1, 1);
    lib = std::make_unique<Library>(LibraryPorts{*layer, *config, *log, prompt, events, clock});
    stats = std::make_unique<DurationStatistics>(*lib);
    search = std::make_unique<SongSearch>(*lib, *stats);
    follower = std::make_unique<ChangeFollower>(*lib);
    for (int i = 1; i <= kSongCount; ++i) {
      std::string r = test::SongRecord(CodeOf(i), "Chanson " + std::to_string(100 + i), 180);  // title order is code order
      layer->record(kSongs) = r;
      std::string key = Library::Key("");
      ASSERT_EQ(layer->BTRieve(0, 2, key, 0, kSongs, 1, "Test:Insert"), 0);
    }
    SearchRequest all;
    all.kind = SearchKind::Music;
    search->RechercheDansLaBase_01_Morceau(all);
    ASSERT_EQ(search->grid.size(), size_t(kSongCount));
    prompt.shown.clear();
  }
  void TearDown() override {
    search.reset();
    if (layer) layer->PervasiveFermetureFichiers(0, 1, 1);
    if (config && pg_) btr::SetBaseEngine(config->current().dataFolder, btr::BaseEngine{});
  }

  // The other workstation saves a title.
  void SetTitleElsewhere(const std::string& code, const std::string& title) {
    const auto r = sono::test::RunCli(dir.path(), {"song", "set", code, "--title", title});
    ASSERT_TRUE(r.exited(0)) << r.out << r.err;
  }
  // The other workstation writes a song record (a new song, or over the
  // song of the same code) or deletes a song, in the station's song file.
  void PutElsewhere(const std::string& record) { Elsewhere({"put", songFile()}, record); }
  void DeleteElsewhere(const std::string& code) { Elsewhere({"delete", songFile(), code}, {}); }
  void Elsewhere(std::vector<std::string> args, const std::string& input) {
    args.insert(args.begin(), {STATION_WORKER, pg_ ? pg_->connection() : "lmdb"});
    const auto r = sono::test::RunProcess(args, {}, 60000, input);
    ASSERT_TRUE(r.exited(0)) << r.out << r.err;
    EXPECT_EQ(r.out, "0\n");
  }
  // The song file as the worker names it: its path, or its name on the server.
  std::string songFile() const {
    const std::string path = layer->NomFichierBTR(0, kSongs, 1);
    return pg_ ? path.substr(path.rfind('/') + 1) : path;
  }
  // Follows until the grid took the search run again, two seconds at most.
  bool followUntilSearched(GridFollower& grid, const SearchRequest& request) {
    for (int i = 0; i < 100; ++i) {
      if (i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (tick(0, 9).songFileChanged) grid.songsChanged();
      if (grid.follow(request, search->filters, search->grid)) return true;
    }
    return false;
  }
  std::vector<std::string> codesShown() {
    std::vector<std::string> codes;
    for (size_t i = 0; i < search->grid.size(); ++i) codes.push_back(search->grid.cell(i, kColCode));
    return codes;
  }
  std::string titleShown(size_t row) { return search->grid.cell(row, kColTitle); }
  FollowUp tick(size_t first, size_t last) { return follower->tick(*search, 1, TitleOption::Title, first, last); }
  // Ticks until the song file is said changed (a PostgreSQL notification
  // comes a moment after the other workstation's commit), two seconds at most.
  FollowUp tickUntilChanged(size_t first, size_t last) {
    FollowUp up;
    for (int i = 0; i < 100 && !up.songFileChanged; ++i) {
      if (i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      up = tick(first, last);
    }
    return up;
  }

  std::unique_ptr<btr::testing::PgBaseForTest> pg_;
  sono::test::TempDir dir;
  ManualClock clock;
  ScriptedPrompt prompt;
  ManualEventLoop events;
  std::unique_ptr<TraceLogger> log;
  std::unique_ptr<SiteConfig> config;
  std::unique_ptr<PervasiveLayer> layer;
  std::unique_ptr<Library> lib;
  std::unique_ptr<DurationStatistics> stats;
  std::unique_ptr<SongSearch> search;
  std::unique_ptr<ChangeFollower> follower;
};

TEST_P(Follow, TheRowsOnScreenAreReadAgainAtOnceAndTheOthersWhenShown) {
  // Nothing committed elsewhere: nothing is read.
  FollowUp up = tick(0, 9);
  EXPECT_FALSE(up.songFileChanged);
  EXPECT_TRUE(up.rowsRead.empty());
  // This workstation's own save is not another's change.
  SongForm mine = *LectureFicheMorceau(*lib, 1, CodeOf(3));
  mine.title = "Chanson 103 bis";
  ASSERT_TRUE(saveSongForm(*lib, *stats, 1, mine, false));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // time for a notification to come, if one did
  up = tick(0, 9);
  EXPECT_FALSE(up.songFileChanged);
  EXPECT_TRUE(up.rowsRead.empty());

  SetTitleElsewhere(CodeOf(7), "Septième, changée ailleurs");
  SetTitleElsewhere(CodeOf(45), "Quarante-cinquième");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // both heard before the first tick
  up = tickUntilChanged(0, 9);  // rows 0 to 9 on screen
  EXPECT_TRUE(up.songFileChanged);
  EXPECT_EQ(up.rowsRead.size(), 10u);
  EXPECT_EQ(titleShown(6), "Septième, changée ailleurs");
  EXPECT_EQ(search->grid.cell(6, kColCode), CodeOf(7));  // in its place
  EXPECT_EQ(titleShown(44), "Chanson 145");  // off screen: not read yet
  EXPECT_EQ(follower->rowsDue(), size_t(kSongCount - 10));
  // Scrolled down: the rows now on screen are read, once.
  up = tick(40, 49);
  EXPECT_FALSE(up.songFileChanged);
  EXPECT_EQ(up.rowsRead.size(), 10u);
  EXPECT_EQ(titleShown(44), "Quarante-cinquième");
  EXPECT_TRUE(tick(40, 49).rowsRead.empty());
  // A new search starts from rows that are all still due.
  SearchRequest all;
  all.kind = SearchKind::Music;
  search->RechercheDansLaBase_01_Morceau(all);
  EXPECT_EQ(tick(0, 4).rowsRead.size(), 5u);
  EXPECT_EQ(follower->rowsDue(), size_t(kSongCount - 5));
}

TEST_P(Follow, ASaveOverASongChangedElsewhereKeepsTheOtherChangeAndAsksWhenBothChangedOneField) {
  const SongForm loaded = *LectureFicheMorceau(*lib, 1, CodeOf(12));
  // The other workstation changes the title; this one only the short title:
  // both changes are kept, without a question.
  SetTitleElsewhere(CodeOf(12), "Titre de l'autre poste");
  SongForm edited = loaded;
  edited.shortTitle = "Mon titre court";
  ASSERT_TRUE(saveSongForm(*lib, *stats, 1, edited, false, &loaded));
  EXPECT_TRUE(prompt.shown.empty());
  SongForm now = *LectureFicheMorceau(*lib, 1, CodeOf(12));
  EXPECT_EQ(now.title, "Titre de l'autre poste");
  EXPECT_EQ(now.shortTitle, "Mon titre court");

  // Both change the title: the save asks; No writes nothing.
  const SongForm reloaded = now;
  SetTitleElsewhere(CodeOf(12), "Encore l'autre poste");
  edited = reloaded;
  edited.title = "Le mien";
  edited.playable = "N";
  prompt.answers = {Answer::No};
  EXPECT_FALSE(saveSongForm(*lib, *stats, 1, edited, false, &reloaded));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, ChangedElsewhereQuestion(CodeOf(12)));
  now = *LectureFicheMorceau(*lib, 1, CodeOf(12));
  EXPECT_EQ(now.title, "Encore l'autre poste");
  EXPECT_EQ(now.playable, "O");
  const auto lines = sono::test::LogMessages(*log);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Err: Sauvegarder: song changed on another workstation since shown |Code: " + CodeOf(12)),
            lines.end());
  // Yes writes the user's values.
  prompt.answers = {Answer::Yes};
  EXPECT_TRUE(saveSongForm(*lib, *stats, 1, edited, false, &reloaded));
  EXPECT_EQ(prompt.shown.size(), 2u);
  now = *LectureFicheMorceau(*lib, 1, CodeOf(12));
  EXPECT_EQ(now.title, "Le mien");
  EXPECT_EQ(now.playable, "N");
  EXPECT_EQ(now.shortTitle, "Mon titre court");
}

TEST_P(Follow, TheSearchRunAgainAddsRemovesAndFiltersRowsAndTheRowsStillListedKeepTheirPlaces) {
  // The grid lists sound type 0 only, in title order.
  search->filters.soundTypes = "0";
  SearchRequest all;
  all.kind = SearchKind::Music;
  search->RechercheDansLaBase_01_Morceau(all);
  GridFollower grid(*lib, *stats);
  EXPECT_FALSE(grid.follow(all, search->filters, search->grid));  // nothing changed: nothing run

  PutElsewhere(test::SongRecord(CodeOf(kSongCount + 5), "Chanson 130 bis", 200));  // added
  DeleteElsewhere(CodeOf(10));                                                      // deleted
  std::string filtered = test::SongRecord(CodeOf(20), "Chanson 120", 180);
  SetRaw(filtered, song::kSoundType, "5");
  PutElsewhere(filtered);  // no longer passes the filter
  PutElsewhere(test::SongRecord(CodeOf(30), "Chanson 100 avant", 180));  // would sort first now
  ASSERT_TRUE(followUntilSearched(grid, all));
  EXPECT_FALSE(grid.due());
  // "Chanson 130 bis" follows "Chanson 129" in title order; song 30 keeps
  // its place with its new title.
  std::vector<std::string> expected;
  for (int i = 1; i <= kSongCount; ++i) {
    if (i == 10 || i == 20) continue;
    if (i == 30) expected.push_back(CodeOf(kSongCount + 5));
    expected.push_back(CodeOf(i));
  }
  EXPECT_EQ(codesShown(), expected);
  EXPECT_EQ(titleShown(*search->grid.rowOfCode(CodeOf(30))), "Chanson 100 avant");
  EXPECT_EQ(titleShown(*search->grid.rowOfCode(CodeOf(kSongCount + 5))), "Chanson 130 bis");
  // Read only: the new song got no companion record from it, and nothing was asked.
  EXPECT_FALSE(HasRecorderRecord(*lib, 1, CodeOf(kSongCount + 5)));
  EXPECT_TRUE(prompt.shown.empty());

  // Sorted by code, last first: a new song comes where that sort puts it.
  search->grid.sortBy(kColCode, false);
  PutElsewhere(test::SongRecord(CodeOf(kSongCount + 9), "Chanson 101", 200));
  PutElsewhere(test::SongRecord(CodeOf(kSongCount + 1), "Chanson 999", 200));
  ASSERT_TRUE(followUntilSearched(grid, all));
  expected = {CodeOf(kSongCount + 9), CodeOf(kSongCount + 5), CodeOf(kSongCount + 1)};
  for (int i = kSongCount; i >= 1; --i)
    if (i != 10 && i != 20) expected.push_back(CodeOf(i));
  EXPECT_EQ(codesShown(), expected);
  EXPECT_EQ(search->grid.sortColumn, kColCode);
  EXPECT_FALSE(search->grid.sortAscending);
}

TEST_P(Follow, ASearchRunAgainIsGivenUpWhenTheWindowUsedTheDatabaseAndRunsOnceMoreAfterAChangeHeardMeanwhile) {
  SearchRequest all;
  all.kind = SearchKind::Music;
  GridFollower grid(*lib, *stats);
  DeleteElsewhere(CodeOf(2));
  ASSERT_TRUE(tickUntilChanged(0, 9).songFileChanged);
  grid.songsChanged();
  // The window's events, run during the search, read a song (another
  // search, a save): the positions the search reads from moved.
  bool readDuringSearch = false;
  events.onPump.push_back([&] {
    if (readDuringSearch) return;
    readDuringSearch = true;
    std::string key = Library::Key(CodeOf(50));
    EXPECT_EQ(layer->BTRieve(0, 5, key, 0, kSongs, 1, "Test:Read"), 0);
  });
  const uint64_t generation = search->grid.generation();
  EXPECT_FALSE(grid.follow(all, search->filters, search->grid));
  EXPECT_TRUE(readDuringSearch);
  EXPECT_EQ(grid.givenUp(), 1u);
  EXPECT_TRUE(grid.due());
  EXPECT_EQ(search->grid.generation(), generation);  // the grid as it was
  EXPECT_TRUE(search->grid.rowOfCode(CodeOf(2)));
  // The record manager answers again once the search is over.
  std::string key = Library::Key(CodeOf(3));
  ASSERT_EQ(layer->BTRieve(0, 5, key, 0, kSongs, 1, "Test:Read"), 0);
  EXPECT_EQ(GetRaw(layer->record(kSongs), song::kCode), CodeOf(3));

  // Run again: it goes through. A change heard while it runs makes one more due.
  events.onPump.clear();
  events.onPump.push_back([&] { grid.songsChanged(); });
  EXPECT_TRUE(grid.follow(all, search->filters, search->grid));
  EXPECT_EQ(search->grid.rowOfCode(CodeOf(2)), std::nullopt);
  EXPECT_EQ(search->grid.size(), size_t(kSongCount - 1));
  EXPECT_TRUE(grid.due());
  events.onPump.clear();
  EXPECT_TRUE(grid.follow(all, search->filters, search->grid));
  EXPECT_FALSE(grid.due());
  EXPECT_EQ(grid.givenUp(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Engines, Follow, ::testing::Values(Engine::Lmdb, Engine::Postgres),
                         [](const auto& info) { return info.param == Engine::Lmdb ? "Lmdb" : "Postgres"; });

}  // namespace
}  // namespace sono::data
