// Sound-edit benchmarks on the demo site's two stations: a ten-second cut in
// a four-minute house-format sound and its undo, and a cut in an hour-long
// sound against a plain flushed copy of the same file made in the same run.
// Each cut is the whole edit: frames written and flushed, the undo level
// kept, the rename, pointers and durations stored on every station, the
// sound reloaded with its envelope. A smooth join: the time it adds to an
// edit (its frames decoded, cross-faded, encoded again and written in place,
// the file flushed), per join, and the whole cut with it. One JSON object
// per line.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "../common/editor_bench_site.h"
#include "core/files.h"
#include "editor/smooth_join.h"
#include "editor/sound_edits.h"

using namespace sono;
using namespace sono::editor;
using namespace sono::bench;
namespace fs = std::filesystem;

int main() {
  EditorBenchSite site("bench_edit", 2, 240);
  if (!site.ok) {
    std::fprintf(stderr, "bench_edit: %s\n", site.error.c_str());
    return 1;
  }
  const std::string& code = site.code;
  const std::string& sound = site.sound;
  PointerEditor& editor = *site.editor;
  ScriptedPrompt& prompt = site.prompt;
  // The hour-long sound: the four minutes fifteen times over (frames stand alone).
  const std::string fourMinutes = ReadWholeFile(sound).value_or("");
  std::string hour;
  for (int i = 0; i < 15; ++i) hour += fourMinutes;
  const std::string hourSound = (fs::path(sound).parent_path() / "hour.s48").string();
  WriteFileAtomic(hourSound, hour);

  SoundEdits edits(editor, *site.lib, *site.stats);
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

  // Smooth joins: what one join adds to the edit (the step the edit runs
  // after writing its frames), and the whole cut with smoothing on.
  {
    const long long frames = HouseFrameCount(sound);
    const std::vector<FramePiece> kept = KeptPieces(sound, frames, {{frames / 2, frames / 2 + 416}});
    const std::string joined = sound + ".joined";
    std::vector<double> joins;
    for (int i = 0; i < 9; ++i) {
      if (!WriteFramePieces(joined, kept).empty()) std::fprintf(stderr, "bench_edit: frames not written\n");
      const double start = NowMs();
      const SmoothJoinsResult r = SmoothJoins(joined, kept);
      joins.push_back(NowMs() - start);
      if (!r.error.empty() || r.smoothed != 1) std::fprintf(stderr, "bench_edit: join not smoothed: %s\n", r.error.c_str());
    }
    fs::remove(joined);
    const double joinMs = Median(joins);
    Report("edit.smooth_join", joinMs, "ms", "<= 20", joinMs / 20.0, "target");
    edits.smoothJoins = true;
    const Times smooth = cutAndUndo(sound, 9);
    edits.smoothJoins = false;
    Report("edit.cut_4min_smooth", smooth.cutMs, "ms", "<= 120", smooth.cutMs / four.cutMs, "the same cut with hard joins");
  }

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
  return 0;
}
