// A demo site with its database open, for the library tests.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "test_support.h"
#include "core/demo_site.h"
#include "core/manual_ports.h"
#include "log_lines.h"
#include "data/library.h"
#include "data/records.h"
#include "data/stats.h"

namespace sono::data::test {

// A song record with the given fields (text in UTF-8): on every station,
// sound type 0, playable, with its sound.
inline std::string SongRecord(const std::string& code, const std::string& title, long long seconds,
                              const std::string& artist = "A0001", const std::string& category = "POP") {
  std::string r(song::kLength, ' ');
  song::PrepareNew(r, code, seconds);
  SetText(r, song::kTitle, title);
  SetText(r, song::kShortTitle, title.substr(0, 20));
  SetRaw(r, song::kArtist1, artist);
  SetRaw(r, song::kCategory, category);
  SetRaw(r, song::kStations, "22222");
  SetRaw(r, song::kSoundType, "0");
  SetRaw(r, song::kPlayable, "O");
  SetRaw(r, song::kSound, "O");
  return r;
}

class LibraryFixture : public ::testing::Test {
 protected:
  LibraryFixture() : log(clock), config(environment(), log, prompt) {
    std::string error;
    EXPECT_TRUE(CreateDemoSite(dir.path(), error)) << error;
    sono::test::WriteFile(dir / "drives/c/QZ_Data/FRAD000.bt6", "");
    config.InitGeneralPath(true);
    config.InitGeneralSite();
    log.setFolders(config.current().logFolder, config.current().dataFolder);
    log.setSetupLoaded(true);
    layer = std::make_unique<PervasiveLayer>(config, log, prompt, clock);
    for (int file : {kSongs, kArtists, kCodeTables, kRecorderSongs, kComplementKeys, kPointers, kTitles})
      for (int station : {1, 2})
        layer->CreationStructureVide(layer->NomFichierBTR(0, file, station), file);
    layer->PervasiveOuvertureFichiers(0, 1, 2);
    lib = std::make_unique<Library>(LibraryPorts{*layer, config, log, prompt, events, clock});
    stats = std::make_unique<DurationStatistics>(*lib);
    prompt.shown.clear();
  }
  ConfigEnvironment environment() {
    ConfigEnvironment env;
    env.programFolder = dir.path();
    env.computerName = "poste";
    env.version = "1.2.3";
    return env;
  }
  static std::string Song(const std::string& code, const std::string& title, long long seconds,
                          const std::string& artist = "A0001", const std::string& category = "POP") {
    return SongRecord(code, title, seconds, artist, category);
  }
  int Insert(int file, int station, const std::string& record) {
    layer->record(file) = record;
    std::string key = Library::Key("");
    return layer->BTRieve(0, 2, key, 0, file, station, "Test:Insert");
  }
  void InsertEverywhere(int file, const std::string& record) {
    for (int station : {1, 2}) ASSERT_EQ(Insert(file, station, record), 0);
  }
  std::string Artist(const std::string& code, const std::string& name) {
    std::string r(artist::kLength, ' ');
    SetRaw(r, artist::kCode, code);
    SetText(r, artist::kName, name);
    return r;
  }
  std::string Category(const std::string& type, const std::string& code, const std::string& label) {
    std::string r(codes::kLength, ' ');
    SetRaw(r, codes::kType, type);
    SetRaw(r, codes::kCode, code);
    SetText(r, codes::kLabel, label);
    SetRaw(r, codes::kCategActive, "O");
    return r;
  }
  // Reads a record by key 0; empty when absent.
  std::string Read(int file, int station, const std::string& key0) {
    std::string key = Library::Key(key0);
    BtrieveOptions quiet;
    quiet.silent = true;
    if (layer->BTRieve(0, 5, key, 0, file, station, "Test:Read", quiet) != 0) return {};
    return layer->record(file);
  }
  std::vector<std::string> Logged() const { return sono::test::LogMessages(log); }

  sono::test::TempDir dir;
  ManualClock clock;
  ScriptedPrompt prompt;
  ManualEventLoop events;
  TraceLogger log;
  SiteConfig config;
  std::unique_ptr<PervasiveLayer> layer;
  std::unique_ptr<Library> lib;
  std::unique_ptr<DurationStatistics> stats;
};

}  // namespace sono::data::test
