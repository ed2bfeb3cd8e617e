// The editor benchmarks' site: the demo site with `stations` active stations,
// the library files created and open on each, and one song (code 00000001)
// on every station with a synthesised house-format sound of `seconds`, and the
// pointer editor over it with its canvases. Clock and event loop are manual:
// the benchmarks time with their own clock.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "core/config.h"
#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/text.h"
#include "data/fields.h"
#include "data/library.h"
#include "data/records.h"
#include "data/songs.h"
#include "data/stats.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"

namespace sono::bench {

class EditorBenchSite {
 public:
  EditorBenchSite(const std::string& name, int stations, int seconds)
      : root(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()))),
        stations_(stations) {
    std::filesystem::create_directories(root);
    ok = CreateDemoSite(root.string(), error) && open(seconds);
  }
  ~EditorBenchSite() {
    if (layer) layer->PervasiveFermetureFichiers(0, 1, stations_);
    editor.reset();
    envelopes.reset();
    stats.reset();
    lib.reset();
    layer.reset();
    config.reset();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }

  const std::filesystem::path root;
  const int stations_;
  const std::string code = "00000001";
  bool ok = false;
  std::string error;
  std::string sound;  // the song's sound on station 1
  ManualClock clock;
  ScriptedPrompt prompt;
  ManualEventLoop events;
  TraceLogger log{clock};
  std::unique_ptr<SiteConfig> config;
  std::unique_ptr<data::PervasiveLayer> layer;
  std::unique_ptr<data::Library> lib;
  std::unique_ptr<data::DurationStatistics> stats;
  editor::RasterCanvas global{1920, 120}, working{1920, 240}, strip{1200, 60}, corrected{1200, 60};
  editor::WaveformView view{global, working, 1200};
  editor::MpegScanDurationMeter meter;
  std::unique_ptr<editor::EnvelopeReader> envelopes;
  std::unique_ptr<editor::PointerEditor> editor;

 private:
  bool open(int seconds) {
    ConfigEnvironment env;
    env.programFolder = root.string();
    env.computerName = "poste";
    env.version = "1.0";
    {
      SiteConfig first(env, log, prompt);
      first.InitGeneralPath(true);
      first.InitGeneralSite();
      const std::string system = first.current().systemFile;
      EcritureIni(system, BaseSection(0), "NbStation", std::to_string(stations_));
      for (int s = 1; s <= stations_; ++s) {
        EcritureIni(system, StationSection(0, s), "Lib", "Station " + NN(s));
        EcritureIni(system, StationSection(0, s), "Actif", "1");
      }
    }
    config = std::make_unique<SiteConfig>(env, log, prompt);
    config->InitGeneralPath(true);
    config->InitGeneralSite();
    log.setFolders(config->current().logFolder, config->current().dataFolder);
    log.setSetupLoaded(true);
    layer = std::make_unique<data::PervasiveLayer>(*config, log, prompt, clock);
    for (int file : {data::kSongs, data::kArtists, data::kCodeTables, data::kRecorderSongs, data::kComplementKeys,
                     data::kPointers, data::kTitles})
      for (int s = 1; s <= stations_; ++s) layer->CreationStructureVide(layer->NomFichierBTR(0, file, s), file);
    layer->PervasiveOuvertureFichiers(0, 1, stations_);
    lib = std::make_unique<data::Library>(data::LibraryPorts{*layer, *config, log, prompt, events, clock});
    stats = std::make_unique<data::DurationStatistics>(*lib);
    stats->skipRecount = true;
    if (lib->stationCount() != stations_) {
      error = std::to_string(lib->stationCount()) + " stations";
      return false;
    }
    std::string song(data::song::kLength, ' ');
    data::song::PrepareNew(song, code, seconds);
    for (int s = 1; s <= stations_; ++s) {
      layer->record(data::kSongs) = song;
      std::string key = data::Library::Key("");
      layer->BTRieve(0, 2, key, 0, data::kSongs, s, "bench");
    }
    sound = data::SoundFilePath(*lib, 1, code);
    if (!demo::WriteDemoSound(sound, seconds, false, 11, error)) return false;
    envelopes = std::make_unique<editor::EnvelopeReader>(log, meter);
    editor = std::make_unique<editor::PointerEditor>(
        editor::PointerEditor::Ports{*lib, *stats, meter, *envelopes, view, working, strip, corrected, nullptr});
    return true;
  }
};

}  // namespace sono::bench
