// Pointer-editor benchmarks on a site of ten stations and a five-minute
// house-format song: selecting the song with its envelope cached (grid
// filled, envelope strips, global and working views drawn), the first
// selection that builds the envelope, and storing all ten slots for the ten
// stations. One JSON object per line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../common/bench_report.h"
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

using namespace sono;
using namespace sono::editor;
using namespace sono::bench;
namespace fs = std::filesystem;

namespace {

double MedianMs(int runs, const std::function<void()>& before, const std::function<void()>& work) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    before();
    const double start = NowMs();
    work();
    t.push_back(NowMs() - start);
  }
  return Median(t);
}

}  // namespace

int main() {
  const fs::path root = fs::temp_directory_path() / ("bench_editor_" + std::to_string(::getpid()));
  fs::create_directories(root);
  std::string error;
  if (!CreateDemoSite(root.string(), error)) {
    std::fprintf(stderr, "bench_editor: %s\n", error.c_str());
    return 1;
  }
  ManualClock clock;
  ScriptedPrompt prompt;
  ManualEventLoop events;
  TraceLogger log(clock);
  ConfigEnvironment env;
  env.programFolder = root.string();
  env.computerName = "poste";
  env.version = "1.0";
  constexpr int kStations = 10;
  {
    SiteConfig first(env, log, prompt);
    first.InitGeneralPath(true);
    first.InitGeneralSite();
    const std::string system = first.current().systemFile;
    EcritureIni(system, BaseSection(0), "NbStation", std::to_string(kStations));
    for (int s = 1; s <= kStations; ++s) {
      EcritureIni(system, StationSection(0, s), "Lib", "Station " + NN(s));
      EcritureIni(system, StationSection(0, s), "Actif", "1");
    }
  }
  SiteConfig config(env, log, prompt);
  config.InitGeneralPath(true);
  config.InitGeneralSite();
  log.setFolders(config.current().logFolder, config.current().dataFolder);
  log.setSetupLoaded(true);
  data::PervasiveLayer layer(config, log, prompt, clock);
  for (int file : {data::kSongs, data::kArtists, data::kCodeTables, data::kRecorderSongs, data::kComplementKeys,
                   data::kPointers, data::kTitles})
    for (int s = 1; s <= kStations; ++s) layer.CreationStructureVide(layer.NomFichierBTR(0, file, s), file);
  layer.PervasiveOuvertureFichiers(0, 1, kStations);
  data::Library lib({layer, config, log, prompt, events, clock});
  data::DurationStatistics stats(lib);
  stats.skipRecount = true;
  if (lib.stationCount() != kStations) std::fprintf(stderr, "bench_editor: %d stations\n", lib.stationCount());

  const std::string code = "00000001";
  std::string song(data::song::kLength, ' ');
  data::song::PrepareNew(song, code, 300);
  for (int s = 1; s <= kStations; ++s) {
    layer.record(data::kSongs) = song;
    std::string key = data::Library::Key("");
    layer.BTRieve(0, 2, key, 0, data::kSongs, s, "bench");
  }
  const std::string sound = data::SoundFilePath(lib, 1, code);
  if (!demo::WriteDemoSound(sound, 300, false, 11, error)) {
    std::fprintf(stderr, "bench_editor: %s\n", error.c_str());
    return 1;
  }
  const int known = static_cast<int>(data::HouseFormatDurationMs(sound).value_or(300000));

  RasterCanvas global(1920, 120), working(1920, 240), strip(1200, 60), corrected(1200, 60);
  WaveformView view(global, working, 1200);
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes(log, meter);
  PointerEditor editor({lib, stats, meter, envelopes, view, working, strip, corrected, nullptr});
  editor.InitGeneralTableurPointeurs(true, {"Sortie 1", "Sortie 2"});
  const SongSelection selection{code, 1, known, sound, {}, {}};
  const SongSelection none{"", 1, 0, "", {}, {}};
  const std::string gpx = GpxPathFor(sound);

  // Each run selects the song after another (blank) selection, as a click
  // on a new row does.
  auto select = [&] {
    if (!editor.InitSoundPtx(SoundLoad::NewSelection, false, "bench", selection) || editor.envelopeCount <= 0)
      std::fprintf(stderr, "bench_editor: load failed\n");
  };
  auto unload = [&] { editor.InitSoundPtx(SoundLoad::NewSelection, false, "bench", none); };
  const double firstMs = MedianMs(7, [&] { unload(); fs::remove(gpx); }, select);
  Report("editor.select_build_envelope_5min", firstMs, "ms", "<= 60", firstMs / 60.0, "target");
  const double cachedMs = MedianMs(15, unload, select);
  Report("editor.select_cached_5min", cachedMs, "ms", "<= 30", cachedMs / 30.0, "target");

  // All ten slots with values, stored for every station.
  select();
  editor.StripMouseDown(MouseButton::Left, 10, {});
  editor.StripMouseMove(true, 30);
  for (StripMenuEntry entry : {StripMenuEntry::FadeIn, StripMenuEntry::Intro, StripMenuEntry::StartNext,
                               StripMenuEntry::Hook, StripMenuEntry::Loop, StripMenuEntry::Send, StripMenuEntry::StartEqui})
    editor.StripMenu(entry);
  editor.SetPitchSlider(1020);
  editor.SetLevel(-250);
  const double storeMs = MedianMs(
      15, [] {}, [&] { editor.ptx.PointeurMemoriseDataBase(editor.sound.code, sound, -1, true, true); });
  Report("editor.store_10_slots_10_stations", storeMs, "ms", "<= 50", storeMs / 50.0, "target");
  auto hook = editor.ptx.onDurationsStored;
  editor.ptx.onDurationsStored = nullptr;
  const double ptxOnlyMs = MedianMs(
      15, [] {}, [&] { editor.ptx.PointeurMemoriseDataBase(editor.sound.code, sound, -1, true, true); });
  std::printf("{\"name\":\"editor.store_pointers_only\",\"value\":%.4g,\"unit\":\"ms\"}\n", ptxOnlyMs);
  editor.ptx.onDurationsStored = hook;

  layer.PervasiveFermetureFichiers(0, 1, kStations);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
