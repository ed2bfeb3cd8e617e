// Steps of a sound: the rules a new step must meet, the two lists' texts,
// the 50-step limit, the records stored on every station and read back, and
// all steps cut out in one edit that one undo takes back.
#include "editor/steps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "frame_stamps.h"
#include "library_fixture.h"
#include "test_support.h"
#include "core/files.h"
#include "core/house_format.h"
#include "data/ptx.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"
#include "editor/sound_edits.h"

namespace sono::editor {
namespace {

// The numbers of the frames of `file`, stamped at the start.
std::vector<uint32_t> FrameNumbers(const std::string& file) {
  std::vector<uint32_t> out;
  for (const test::Origin& o : test::Origins(file)) out.push_back(o.frame);
  return out;
}

// What the editor asked its audition to play.
struct RangesHeard : Audition {
  void PlayRange(const std::string&, int, int) override {}
  bool PlayRanges(const std::vector<std::pair<int, int>>& ranges) override {
    played.push_back(ranges);
    return true;
  }
  void Stop() override {}
  std::vector<std::vector<std::pair<int, int>>> played;
};

class StepsTest : public data::test::LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000101";
  StepsTest()
      : strip(20000, 8), corrected(20000, 8), view(global, working, 20000), envelopes(log, meter),
        editor(PointerEditor::Ports{*lib, *stats, meter, envelopes, view, working, strip, corrected, &heard}),
        edits(editor, *lib, *stats), steps(editor, edits, *lib, view, strip) {
    InsertEverywhere(data::kSongs, Song(kCode, "Premier", 20));
    sound = data::SoundFilePath(*lib, 1, kCode);
    std::string error;
    EXPECT_TRUE(demo::WriteDemoSound(sound, 20, false, 7, error)) << error;
    test::StampFrames(sound, 1);
    EXPECT_TRUE(editor.InitSoundPtx(SoundLoad::NewSelection, false, "Test", {kCode, 1, 20000, sound, {}, {}}));
  }
  void Select(int from, int to) {
    editor.sound.selection.startMs = from;
    editor.sound.selection.endMs = to;
    editor.sound.selection.marked = true;
  }
  bool Add(int from, int to) {
    Select(from, to);
    return steps.GestionSteps(StepAction::Add);
  }
  // The raw step records of a station, in key order.
  std::vector<std::string> Records(int station) {
    std::vector<std::string> out;
    std::string key = data::Library::Key(data::ptx::Key(kCode, '3', "00"));
    int st = layer->GetGreaterOrEqual(0, data::kPointers, station, data::kPointerByCodeAndType, key, "Test");
    while (st == 0 && key.substr(0, 11) <= data::ptx::Key(kCode, '3', "99")) {
      out.push_back(layer->record(data::kPointers));
      st = layer->GetNext(0, data::kPointers, station, data::kPointerByCodeAndType, key, "Test");
    }
    return out;
  }

  RasterCanvas global{200, 20}, working{300, 30};
  RasterCanvas strip, corrected;
  WaveformView view;
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes;
  RangesHeard heard;
  PointerEditor editor;
  SoundEdits edits;
  StepEditor steps;
  std::string sound;
};

TEST_F(StepsTest, NewStepsMeetTheRulesInOrderAndTheListsShowThem) {
  ASSERT_TRUE(Add(1000, 2000));
  ASSERT_TRUE(Add(5000, 4000));  // dragged backwards
  EXPECT_EQ(steps.ListeSteps(), (std::vector<std::string>{"00000010000000002000", "00000040000000005000"}));
  EXPECT_EQ(steps.VisibleSteps(), (std::vector<std::string>{"1:" + Tps2MinSecMil(1000) + "  /  " + Tps2MinSecMil(2000),
                                                            "2:" + Tps2MinSecMil(4000) + "  /  " + Tps2MinSecMil(5000)}));
  EXPECT_TRUE(steps.changed);

  struct Refusal {
    int from, to;
    std::string text;
  };
  const Refusal refusals[] = {
      {3000, 3000, "Début et fin de la sélection identiques."},
      {2000, 3000, "Le point de départ de la sélection est situé dans la sélection de la ligne 1"},  // touches the end
      {500, 1000, "Le point de fin de la sélection est situé dans la sélection de la ligne 1"},
      {1200, 1800, "La sélection est déjà entièrement incluse dans la sélection de la ligne 1"},
      {3000, 6000, "La sélection recouvre entièrement la sélection de la ligne 2"},
      {500, 4500, "La sélection recouvre entièrement la sélection de la ligne 1"},  // before line 2's rules
  };
  for (const Refusal& r : refusals) {
    prompt.shown.clear();
    EXPECT_FALSE(Add(r.from, r.to)) << r.from;
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, "Mémorisation impossible.\n" + r.text);
    EXPECT_EQ(prompt.shown[0].icon, Icon::Exclamation);
  }
  EXPECT_EQ(steps.steps.size(), 2u);

  // Replace line 1 (its own place does not refuse it), then delete it.
  steps.ListeSteps_Click(0);
  EXPECT_EQ(editor.sound.selection.startMs, 1000);
  Select(1500, 3500);
  ASSERT_TRUE(steps.GestionSteps(StepAction::Replace));
  EXPECT_EQ(steps.steps[0], (Step{1500, 3500}));
  ASSERT_TRUE(steps.GestionSteps(StepAction::Delete));
  EXPECT_EQ(steps.steps, (std::vector<Step>{{4000, 5000}}));
  EXPECT_FALSE(steps.GestionSteps(StepAction::Delete));  // nothing selected now

  // Fifty steps at most.
  steps.Clear();
  for (int i = 0; i < kMaxSteps; ++i) ASSERT_TRUE(Add(i * 300, i * 300 + 100)) << i;
  prompt.shown.clear();
  EXPECT_FALSE(Add(19000, 19100));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Nombre maximum de steps atteint: 50");
  EXPECT_EQ(steps.steps.size(), 50u);

  // Drawn on the strip in the steps' colour.
  editor.DrawStrip();
  steps.DrawSteps();
  const int x = static_cast<int>(std::lround(view.TimingToPos(300)));
  EXPECT_EQ(strip.pixel(x, strip.height() - 1), kStepColour);
}

TEST_F(StepsTest, AStepOrTheSelectionOutsideTheStepsIsPlayedInTimeOrder) {
  ASSERT_TRUE(Add(8000, 9000));
  ASSERT_TRUE(Add(2000, 3000));
  ASSERT_TRUE(Add(5000, 6000));
  steps.ListeSteps_Click(1);
  ASSERT_TRUE(steps.GestionSteps(StepAction::PlayStep));
  // Without steps: the selection's stretches around them, a step cut by the
  // selection's end included, nothing before the selection; in whole frames,
  // the frames cutting the steps would keep (a step from 5000 ms takes frame
  // 208, from 4968 ms on).
  Select(2500, 8500);
  ASSERT_TRUE(steps.GestionSteps(StepAction::PlayWithoutSteps));
  Select(0, 20000);
  ASSERT_TRUE(steps.GestionSteps(StepAction::PlayWithoutSteps));
  EXPECT_EQ(heard.played, (std::vector<std::vector<std::pair<int, int>>>{
                              {{2000, 3000}},
                              {{3000, 4968}, {6000, 7968}},
                              {{0, 1968}, {3000, 4968}, {6000, 7968}, {9000, 19992}}}));
  // A selection inside a step leaves nothing; no selection is said.
  Select(5200, 5800);
  EXPECT_FALSE(steps.GestionSteps(StepAction::PlayWithoutSteps));
  editor.sound.selection.marked = false;
  prompt.shown.clear();
  EXPECT_FALSE(steps.GestionSteps(StepAction::PlayWithoutSteps));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Ecoute hors step impossible: Vous devez sélectionner une portion de son.");
  EXPECT_EQ(heard.played.size(), 3u);
}

TEST_F(StepsTest, StoredOneRecordPerStepOnEveryStationAndReadBack) {
  EXPECT_TRUE(steps.StepsChargement(1, kCode));
  EXPECT_TRUE(steps.steps.empty());  // no step records: empty lists
  ASSERT_TRUE(Add(1000, 2000));
  ASSERT_TRUE(Add(7000, 9500));
  ASSERT_TRUE(Add(3000, 3024));
  ASSERT_TRUE(steps.StepsMemorisation(false, "Test"));
  EXPECT_FALSE(steps.changed);
  const std::vector<std::string> expected = {
      std::string(kCode) + "3" + "01" + "0000001000" + "0000001000" + std::string(19, ' '),
      std::string(kCode) + "3" + "02" + "0000007000" + "0000002500" + std::string(19, ' '),
      std::string(kCode) + "3" + "03" + "0000003000" + "0000000024" + std::string(19, ' '),
  };
  for (int station : {1, 2}) {
    const auto records = Records(station);
    ASSERT_EQ(records.size(), 3u) << station;
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i], expected[i]) << station << " " << i;
    }
  }
  StepEditor again(editor, edits, *lib, view, strip);
  ASSERT_TRUE(again.StepsChargement(2, kCode));
  EXPECT_EQ(again.steps, steps.steps);

  // Fewer steps stored leave no old record behind; the question's No stores nothing.
  steps.steps.pop_back();
  prompt.answers = {Answer::No};
  EXPECT_FALSE(steps.StepsMemorisation(true, "Test"));
  EXPECT_EQ(Records(1).size(), 3u);
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(steps.StepsMemorisation(true, "Test"));
  for (int station : {1, 2}) EXPECT_EQ(Records(station).size(), 2u);
}

TEST_F(StepsTest, CuttingAllStepsKeepsTheOtherFramesInOrderAndOneUndoRestores) {
  const std::string original = ReadWholeFile(sound).value();
  const auto numbers = FrameNumbers(sound);
  prompt.shown.clear();
  EXPECT_FALSE(steps.GestionSteps(StepAction::CutAll));
  EXPECT_EQ(prompt.shown.at(0).text, "Vous n'avez pas de pointeur de step.");

  // A step names frames round(start / 24) to round(end / 24).
  ASSERT_TRUE(Add(4800, 7200));    // frames 200..300
  ASSERT_TRUE(Add(960, 1200));     // frames 40..50
  ASSERT_TRUE(Add(19000, 19999));  // frames 792..833
  ASSERT_TRUE(steps.StepsMemorisation(false, "Test"));
  prompt.answers = {Answer::No};
  EXPECT_FALSE(steps.GestionSteps(StepAction::CutAll));
  EXPECT_EQ(ReadWholeFile(sound).value(), original);

  prompt.answers = {Answer::Yes};
  prompt.shown.clear();
  ASSERT_TRUE(steps.GestionSteps(StepAction::CutAll)) << steps.lastMessage;
  EXPECT_EQ(prompt.shown.at(0).text, "Voulez-vous couper définitivement tous les steps du son ?");
  EXPECT_EQ(prompt.shown.back().text, "Tous les steps ont été supprimés.");
  std::vector<uint32_t> kept;
  for (uint32_t n : numbers) {
    const bool inStep = (n >= 40 && n <= 50) || (n >= 200 && n <= 300) || (n >= 792 && n <= 833);
    if (!inStep) kept.push_back(n);
  }
  EXPECT_EQ(FrameNumbers(sound), kept);
  EXPECT_TRUE(steps.steps.empty());
  for (int station : {1, 2}) EXPECT_TRUE(Records(station).empty());
  EXPECT_EQ(edits.UndoMenuText(), "Undo: 1");
  // The song's data about its sound follow the cut on every station: the
  // duration of the kept frames, the fade-out pulled back before the new end.
  const long long keptMs = static_cast<long long>(kept.size()) * 24;
  for (int station : {1, 2}) {
    SCOPED_TRACE(station);
    EXPECT_EQ(data::song::DurationSeconds(Read(data::kSongs, station, kCode)), (keptMs + 500) / 1000);
    long long fadeOut = -1, second = 0;
    ASSERT_TRUE(data::PtxChargerPointeur(*lib, station, kCode, '1', fadeOut, second));
    EXPECT_EQ(fadeOut, keptMs - data::kDeltaFadeSecurite);
  }

  ASSERT_TRUE(edits.Undo("Test"));
  EXPECT_EQ(ReadWholeFile(sound).value(), original);
  EXPECT_EQ(edits.UndoMenuText(), "Undo: 0");
  for (int station : {1, 2}) EXPECT_EQ(data::song::DurationSeconds(Read(data::kSongs, station, kCode)), 20) << station;
}

}  // namespace
}  // namespace sono::editor
