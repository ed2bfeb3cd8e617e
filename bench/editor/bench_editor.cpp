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
#include "../common/editor_bench_site.h"

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
  constexpr int kStations = 10;
  EditorBenchSite site("bench_editor", kStations, 300);
  if (!site.ok) {
    std::fprintf(stderr, "bench_editor: %s\n", site.error.c_str());
    return 1;
  }
  const std::string& code = site.code;
  const std::string& sound = site.sound;
  PointerEditor& editor = *site.editor;
  const int known = static_cast<int>(data::HouseFormatDurationMs(sound).value_or(300000));

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
  return 0;
}
