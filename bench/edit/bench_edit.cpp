// Sound-edit benchmarks on the demo site's two stations: a ten-second cut in
// a four-minute house-format sound and its undo, and a cut in an hour-long
// sound against a plain flushed copy of the same file made in the same run.
// Each cut is the whole edit: frames written and flushed, the undo level
// kept, the rename, pointers and durations stored on every station, the
// sound reloaded with its envelope. One JSON object per line.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "core/config.h"
#include "core/demo_site.h"
#include "core/files.h"
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
#include "editor/sound_edits.h"

using namespace sono;
using namespace sono::editor;
using namespace sono::bench;
namespace fs = std::filesystem;

int main() {
  const fs::path root = fs::temp_directory_path() / ("bench_edit_" + std::to_string(::getpid()));
  fs::create_directories(root);
  std::string error;
  if (!CreateDemoSite(root.string(), error)) {
    std::fprintf(stderr, "bench_edit: %s\n", error.c_str());
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
  constexpr int kStations = 2;  // the demo site's
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
  if (lib.stationCount() != kStations) std::fprintf(stderr, "bench_edit: %d stations\n", lib.stationCount());

  const std::string code = "00000001";
  std::string song(data::song::kLength, ' ');
  data::song::PrepareNew(song, code, 240);
  for (int s = 1; s <= kStations; ++s) {
    layer.record(data::kSongs) = song;
    std::string key = data::Library::Key("");
    layer.BTRieve(0, 2, key, 0, data::kSongs, s, "bench");
  }
  const std::string sound = data::SoundFilePath(lib, 1, code);
  if (!demo::WriteDemoSound(sound, 240, false, 11, error)) {
    std::fprintf(stderr, "bench_edit: %s\n", error.c_str());
    return 1;
  }
  // The hour-long sound: the four minutes fifteen times over (frames stand alone).
  const std::string fourMinutes = ReadWholeFile(sound).value_or("");
  std::string hour;
  for (int i = 0; i < 15; ++i) hour += fourMinutes;
  const std::string hourSound = (fs::path(sound).parent_path() / "hour.s48").string();
  WriteFileAtomic(hourSound, hour);

  RasterCanvas global(1920, 120), working(1920, 240), strip(1200, 60), corrected(1200, 60);
  WaveformView view(global, working, 1200);
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes(log, meter);
  PointerEditor editor({lib, stats, meter, envelopes, view, working, strip, corrected, nullptr});
  SoundEdits edits(editor, lib, stats);
  editor.InitGeneralTableurPointeurs(true, {});

  // A cut of ten seconds in the middle (the whole edit: frames written and
  // flushed, undo level, rename, pointers and durations on every station, the
  // sound reloaded with its envelope), then its undo; `runs` of each.
  struct Times {
    double cutMs = 0, undoMs = 0;
  };
  auto cutAndUndo = [&](const std::string& file, int runs) {
    const int length = static_cast<int>(data::HouseFormatDurationMs(file).value_or(0));
    prompt.answers = {Answer::No};  // the previous sound's edits: nothing more to store
    if (!editor.InitSoundPtx(SoundLoad::NewSelection, false, "bench", {code, 1, length, file, {}, {}}))
      std::fprintf(stderr, "bench_edit: load failed\n");
    std::vector<double> cuts, undos;
    for (int i = 0; i < runs; ++i) {
      StripSelection& s = editor.sound.selection;
      s.startMs = length / 2;
      s.endMs = length / 2 + 10000;
      s.marked = true;
      double start = NowMs();
      if (!edits.MnuCopyCutPaste(CopyCutPasteMode::Cut, "bench")) std::fprintf(stderr, "bench_edit: cut failed\n");
      cuts.push_back(NowMs() - start);
      start = NowMs();
      if (!edits.Undo("bench")) std::fprintf(stderr, "bench_edit: undo failed\n");
      undos.push_back(NowMs() - start);
    }
    return Times{Median(cuts), Median(undos)};
  };

  const Times four = cutAndUndo(sound, 9);
  Report("edit.cut_4min", four.cutMs, "ms", "<= 100", four.cutMs / 100.0, "target");
  Report("edit.undo_4min", four.undoMs, "ms", "<= 50", four.undoMs / 50.0, "target");

  // The reference: a plain copy of the hour-long file, flushed, in this run.
  std::vector<double> copies;
  const std::string copyTarget = hourSound + ".copy";
  for (int i = 0; i < 3; ++i) {
    const double start = NowMs();
    if (!File_Copy(hourSound, copyTarget)) std::fprintf(stderr, "bench_edit: copy failed\n");
    copies.push_back(NowMs() - start);
    fs::remove(copyTarget);
  }
  const double copyMs = Median(copies);
  Report("edit.copy_file_60min", copyMs, "ms");
  const Times hourTimes = cutAndUndo(hourSound, 3);
  Report("edit.cut_60min", hourTimes.cutMs, "ms", "<= 1000", hourTimes.cutMs / copyMs, "plain copy of the file", "<= 1.5");
  Report("edit.undo_60min", hourTimes.undoMs, "ms");

  layer.PervasiveFermetureFichiers(0, 1, kStations);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
