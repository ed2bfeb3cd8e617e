// The cue-point editor driven like a user: songs of the demo site, a real
// house-format sound, the database of two stations.
#include "editor/pointer_editor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "library_fixture.h"
#include "core/datetime.h"
#include "core/text.h"
#include "data/fields.h"
#include "data/ptx.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/gpx_format.h"
#include "editor/raster_canvas.h"

namespace sono::editor {
namespace {

using data::GetNumber;
using data::GetRaw;
namespace song = data::song;

// Records audition calls.
struct FakeAudition : Audition {
  void PlayRange(const std::string& file, int startMs, int endMs) override {
    plays.push_back({file, startMs, endMs});
  }
  void Stop() override { ++stops; }
  struct Play {
    std::string file;
    int start, end;
  };
  std::vector<Play> plays;
  int stops = 0;
};

// One editor window: its views and strips over the fixture's database.
struct EditorWindow {
  EditorWindow(data::Library& lib, data::DurationStatistics& stats, int stripWidth)
      : strip(stripWidth, 20), corrected(stripWidth, 20), view(global, working, stripWidth),
        envelopes(lib.log(), meter),
        editor(PointerEditor::Ports{lib, stats, meter, envelopes, view, working, strip, corrected, &audition}) {}
  RasterCanvas global{400, 30};
  RasterCanvas working{600, 60};
  RasterCanvas strip, corrected;
  WaveformView view;
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes;
  FakeAudition audition;
  PointerEditor editor;
};

class PointerEditorTest : public data::test::LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000101";
  static constexpr const char* kOther = "00000102";

  PointerEditorTest() {
    InsertEverywhere(data::kSongs, Song(kCode, "Premier", 20));
    InsertEverywhere(data::kSongs, Song(kOther, "Second", 20));
    InsertEverywhere(data::kSongs, Song("LIN00001", "Liner", 5));
    soundFile = data::SoundFilePath(*lib, 1, kCode);
    otherFile = data::SoundFilePath(*lib, 1, kOther);
    std::string error;
    EXPECT_TRUE(demo::WriteDemoSound(soundFile, 20, false, 7, error)) << error;
    EXPECT_TRUE(demo::WriteDemoSound(otherFile, 20, false, 8, error)) << error;
    duration = static_cast<int>(data::HouseFormatDurationMs(soundFile).value_or(0));
    // One strip pixel per millisecond, so strip positions are exact times.
    window = std::make_unique<EditorWindow>(*lib, *stats, duration);
  }
  PointerEditor& ed() { return window->editor; }
  SongSelection Selection(const std::string& code, const std::string& file, int known = -1) {
    return {code, 1, known < 0 ? duration : known, file, {}, {}};
  }
  void Select(int fromMs, int toMs) {
    ed().StripMouseDown(MouseButton::Left, fromMs, {});
    ed().StripMouseMove(true, toMs);
    ed().StripMouseUp();
  }
  std::string SongRecord(int station, const std::string& code = kCode) {
    return Read(data::kSongs, station, Calibre(code, 8));
  }
  std::string PtxRecord(int station, char type, const std::string& code = kCode) {
    return Read(data::kPointers, station, data::ptx::Key(code, type, "01"));
  }
  // The song `code` selected in the editor, its sound beside it.
  bool Load(const std::string& code, SoundLoad how = SoundLoad::NewSelection, bool updateDuration = false) {
    return ed().InitSoundPtx(how, updateDuration, "Test", Selection(code, code == kCode ? soundFile : otherFile));
  }
  // The song record of `station` replaced by `r` (positioned on it first).
  void UpdateSong(int station, const std::string& code, const std::string& r) {
    ASSERT_FALSE(SongRecord(station, code).empty());
    layer->record(data::kSongs) = r;
    std::string key = data::Library::Key(code);
    ASSERT_EQ(layer->BTRieve(0, 3, key, 0, data::kSongs, station, "Test"), 0);
  }
  // Every record-manager call goes through `fails` first: true answers 18
  // (disk full) instead of doing it; Heal() takes it away.
  void FailWhen(std::function<bool(int op)> fails) {
    healthy = layer->call;
    layer->call = [this, fails](int op, void* pb, void* data, std::uint32_t& len, void* key, int keyLen, int keyNumber) {
      return fails(op) ? 18 : healthy(op, pb, data, len, key, keyLen, keyNumber);
    };
  }
  void Heal() { layer->call = healthy; }
  static bool IsWrite(int op) { return op == 2 || op == 3 || op == 4; }

  std::string soundFile, otherFile;
  int duration = 0;
  std::unique_ptr<EditorWindow> window;
  data::PervasiveLayer::CallFn healthy;
};

TEST_F(PointerEditorTest, GridHeadersFormatsAndDeviceCombo) {
  ed().InitGeneralTableurPointeurs(true, {"Carte 1 (1/2)", "Carte 1 (3/4)"});
  const auto& g = ed().ptx.grid;
  EXPECT_EQ(g.cell(0, 1), "Fade In");
  EXPECT_EQ(g.cell(0, 2), "Fade In");
  EXPECT_EQ(g.cell(0, 4), "Start Next");
  EXPECT_EQ(g.cell(0, 13), "Start Equi");
  EXPECT_EQ(g.cell(0, 15), "Périphérique");
  EXPECT_EQ(g.columnWidth(1), 7);
  EXPECT_EQ(g.columnWidth(15), 18);
  EXPECT_EQ(g.cell(1, 12), "1.000");  // pitch reset to 1000000
  EXPECT_EQ(g.cell(1, 11), "0.00 dB");

  EXPECT_EQ(data::FormatGrouped(1234567.5, 2), "1,234,567.50");
  EXPECT_EQ(data::FormatGrouped(-0.001, 2), "0.00");
  EXPECT_EQ(data::FormatGrouped(-3.5, 2), "-3.50");
  EXPECT_EQ(data::FormatGrouped(0.98, 3), "0.980");

  ASSERT_TRUE(Load(kCode));
  ed().SetLevel(-350);
  EXPECT_EQ(g.cell(1, 11), "-3.50 dB");
  EXPECT_EQ(g.cell(2, 11), "-350");
  EXPECT_EQ(g.cell(3, 11), "O");
  ed().SetPitchSlider(980);
  EXPECT_EQ(g.cell(1, 12), "0.980");
  EXPECT_EQ(ed().pitchLabel, "-2.0 %");
  Select(4000, 4000);
  ed().StripMenu(StripMenuEntry::Send);  // Send
  ed().SetSendDevice(1);
  EXPECT_EQ(g.cell(1, 15), "Carte 1 (3/4)");
  EXPECT_EQ(g.sendDevice, 1);
  EXPECT_EQ(g.cell(3, 14), "O");
}

// Load, select 1000-3000 ms, make it the intro, drag the fade-out, +2 %,
// end type, store; a fresh editor finds the same grid and the song record
// its durations and end type.
TEST_F(PointerEditorTest, ScenarioEditStoreAndReload) {
  ASSERT_GT(duration, 19000);
  ASSERT_TRUE(Load(kCode));
  EXPECT_GT(ed().envelopeCount, 0);
  EXPECT_TRUE(ed().lastMessage.empty()) << ed().lastMessage;
  // No records: the fade-out sits 96 ms before the end, start next there.
  EXPECT_EQ(ed().ptx.position[data::kFadeOut], duration - 96);
  EXPECT_EQ(ed().ptx.position[data::kStartNext], duration - 96);

  Select(1000, 3000);
  EXPECT_EQ(ed().sound.selection.startMs, 1000);
  EXPECT_EQ(ed().sound.selection.endMs, 3000);
  ed().StripMenu(StripMenuEntry::Intro);  // Intro
  EXPECT_EQ(ed().ptx.position[data::kIntro], 1000);
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "O");
  EXPECT_TRUE(ed().ptx.pointersChanged);

  Select(15000, 17000);
  ed().StripMenu(StripMenuEntry::FadeOut);  // Fade Out: start next pulled back to its start
  EXPECT_EQ(ed().ptx.position[data::kFadeOut], 15000);
  EXPECT_EQ(ed().ptx.second[data::kFadeOut], 2000);
  EXPECT_EQ(ed().ptx.position[data::kStartNext], 15000);
  // Select it from the grid and drag the start handle to 14000 ms.
  ed().GridClick(5, 1);
  EXPECT_EQ(ed().sound.selection.startMs, 15000);
  EXPECT_EQ(ed().sound.selection.endMs, 17000);
  ASSERT_EQ(window->audition.plays.size(), 1u);
  EXPECT_EQ(window->audition.plays[0].start, 15000);
  EXPECT_EQ(window->audition.plays[0].end, 17000);
  ed().HandleMove(SelectionHandle::Start, 14000);
  ed().HandleRelease();
  EXPECT_FLOAT_EQ(window->view.zone(kCaptureZone).t1, 14000.f);
  ed().StripMenu(StripMenuEntry::FadeOut);
  EXPECT_EQ(ed().ptx.position[data::kFadeOut], 14000);
  EXPECT_EQ(ed().ptx.second[data::kFadeOut], 3000);
  EXPECT_EQ(ed().ptx.position[data::kStartNext], 15000);  // inside the fade: stays

  ed().SetPitchSlider(1020);
  EXPECT_EQ(ed().ptx.grid.cell(1, 12), "1.020");
  ed().SetEndType(1);
  ASSERT_TRUE(ed().StorePointers());
  EXPECT_FALSE(ed().ptx.pointersChanged);
  for (int c = 1; c <= 15; ++c) EXPECT_EQ(ed().ptx.grid.cell(3, c), "") << c;

  for (int station : {1, 2}) {
    const std::string r = SongRecord(station);
    EXPECT_EQ(song::DurationSeconds(r), 15) << station;  // start next - fade in
    EXPECT_EQ(GetNumber(r, song::kIntroSeconds), 1) << station;
    EXPECT_EQ(GetRaw(r, song::kEndType), "F") << station;
    EXPECT_EQ(PtxRecord(station, 'D').substr(11, 10), "0000000200") << station;
    EXPECT_EQ(PtxRecord(station, '4').substr(11, 10), "0000001000") << station;
  }

  EditorWindow fresh(*lib, *stats, duration);
  ASSERT_TRUE(fresh.editor.InitSoundPtx(SoundLoad::NewSelection, false, "Test", Selection(kCode, soundFile)));
  for (int row = 1; row <= 2; ++row)
    for (int c = 1; c <= 15; ++c)
      EXPECT_EQ(fresh.editor.ptx.grid.cell(row, c), ed().ptx.grid.cell(row, c)) << row << "," << c;
  EXPECT_EQ(fresh.editor.ptx.endType, 1);
  EXPECT_EQ(fresh.editor.pitchLabel, "+2.0 %");
  EXPECT_FALSE(fresh.editor.ptx.pointersChanged);
}

TEST_F(PointerEditorTest, LeavingUnsavedPointersAsksYesNoCancel) {
  ASSERT_TRUE(Load(kCode));
  Select(2000, 2000);
  ed().StripMenu(StripMenuEntry::Intro);

  prompt.answers = {Answer::Cancel};
  EXPECT_FALSE(Load(kOther));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous enregistrer les changements sur les pointeurs ?");
  EXPECT_EQ(prompt.shown[0].icon, Icon::Question);
  EXPECT_EQ(Trim(ed().sound.code), kCode);  // still the same sound, change kept
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "O");

  prompt.answers = {Answer::No};
  ASSERT_TRUE(Load(kOther));
  EXPECT_EQ(Trim(ed().sound.code), kOther);
  EXPECT_EQ(PtxRecord(1, '4'), "");  // discarded

  // Back to the first, change again, leave with Yes: stored everywhere.
  ASSERT_TRUE(Load(kCode));
  EXPECT_EQ(ed().ptx.position[data::kIntro], 0);
  Select(2500, 2500);
  ed().StripMenu(StripMenuEntry::Intro);
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(Load(kOther));
  for (int station : {1, 2}) EXPECT_EQ(PtxRecord(station, '4').substr(11, 10), "0000002500");
  EXPECT_FALSE(ed().ptx.pointersChanged);

  // Sound changes pick their own question; no prompt without changes.
  prompt.shown.clear();
  ed().SoundEdited(true);
  int notices = 0;
  ed().onSoundChangedNotice = [&](int, const std::string& code, const std::string&) {
    ++notices;
    EXPECT_EQ(Trim(code), kOther);
  };
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(Load(kCode));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous enregistrer les changements sur le son ?");
  EXPECT_EQ(notices, 1);  // once per load
  prompt.shown.clear();
  ASSERT_TRUE(Load(kOther));
  EXPECT_TRUE(prompt.shown.empty());
}

// The record's duration is a play duration: the check at selection compares
// it with the play duration the measured sound and the pointers give, so a
// plain selection writes nothing, and a wrong one is corrected once.
TEST_F(PointerEditorTest, SelectionComparesPlayDurationsAndWritesOnlyAChange) {
  auto setSeconds = [&](long long s) {
    for (int station : {1, 2}) {
      std::string r = SongRecord(station);
      song::SetDurationSeconds(r, s);
      UpdateSong(station, kCode, r);
    }
  };
  int writes = 0;
  FailWhen([&](int op) { return IsWrite(op) && ++writes < 0; });  // counts, never fails
  const auto corrections = [&] {
    const auto lines = Logged();
    return std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("InitSoundPtx: Duration corrected", 0) == 0;
    });
  };
  // The song as stored: 20 s, the play duration of its sound (fade-out 96 ms
  // before the end). Selecting it, again and again, changes nothing.
  const std::string before1 = SongRecord(1), before2 = SongRecord(2);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Load(kCode));
    ASSERT_TRUE(Load(kOther));
  }
  ed().SetEndType(ed().ptx.endType);  // the end type it has
  EXPECT_EQ(writes, 0);
  EXPECT_EQ(corrections(), 0);
  EXPECT_EQ(SongRecord(1), before1);
  EXPECT_EQ(SongRecord(2), before2);

  // A duration far from the sound's is a question: No keeps it, through stores too.
  setSeconds(999);
  writes = 0;
  prompt.answers = {Answer::No};
  ASSERT_TRUE(Load(kCode));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text,
            "La durée de passage du son 00000101 (00:20) est très différente de celle du morceau (16:39).\n\n"
            "Voulez-vous enregistrer 00:20 sur toutes les stations ?");
  Select(3000, 3000);
  ed().StripMenu(StripMenuEntry::Intro);
  ASSERT_TRUE(ed().StorePointers());
  for (int station : {1, 2}) EXPECT_EQ(song::DurationSeconds(SongRecord(station)), 999);
  EXPECT_EQ(writes, 2 + 2);  // each station's intro record, and its song's intro
  // Yes corrects it once, on every station.
  ASSERT_TRUE(Load(kOther));
  for (int station : {1, 2}) data::PtxDetruirePointeur(*lib, station, kCode, 4);
  writes = 0;
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(Load(kCode));
  EXPECT_EQ(writes, 2);
  for (int station : {1, 2}) EXPECT_EQ(song::DurationSeconds(SongRecord(station)), 20);
  EXPECT_EQ(ed().sound.checkedDuration, duration);
  EXPECT_EQ(ed().sound.duration, 20000);
  EXPECT_EQ(ed().sound.previousDuration, 999000);
  const auto lines = Logged();
  const std::string expected = "InitSoundPtx: Duration corrected |Code: 00000101 |Database: 999000 ms |Play: " +
                               std::to_string(duration - 96) + " ms |Sound: " + std::to_string(duration) + " ms";
  EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end());

  // A fade-in shortens the play duration once; later selections leave it.
  for (int station : {1, 2}) data::PtxSauvegarderPointeur(*lib, station, kCode, '0', 1000, 2500, -1, 0, true);
  ASSERT_TRUE(Load(kOther));
  ASSERT_TRUE(Load(kCode));
  const long long seconds = (duration - 96 - 3500 + 500) / 1000;
  for (int station : {1, 2}) EXPECT_EQ(song::DurationSeconds(SongRecord(station)), seconds);
  writes = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Load(kOther));
    ASSERT_TRUE(Load(kCode));
  }
  EXPECT_EQ(writes, 0);
  EXPECT_EQ(song::DurationSeconds(SongRecord(1)), seconds);

  // updateDuration (after a sound edit) writes whatever the record holds.
  setSeconds(999);
  ASSERT_TRUE(Load(kCode, SoundLoad::Refresh, true));
  EXPECT_EQ(song::DurationSeconds(SongRecord(2)), seconds);
  Heal();
}

// A sound with damaged frames (their headers lost): its length counts them,
// as its envelope does, and the song's duration is never shortened from it,
// neither at the selection nor by a store.
TEST_F(PointerEditorTest, ADamagedSoundNeverShortensTheSongsDuration) {
  std::string bytes = sono::test::ReadFile(otherFile);
  std::fill(bytes.begin() + 768 * 300, bytes.begin() + 768 * 500, '\0');  // 200 frames, 4.8 s
  sono::test::WriteFile(otherFile, bytes);
  const std::string before = SongRecord(1, kOther);
  ASSERT_TRUE(Load(kOther));
  EXPECT_EQ(ed().soundLength(), duration);
  EXPECT_EQ(ed().sound.damagedFrames, 200);
  EXPECT_GT(ed().envelopeCount, 0);
  EXPECT_TRUE(prompt.shown.empty());
  const auto lines = Logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "InitSoundPtx: Duration kept: damaged sound |Code: 00000102 |Damaged frames: 200 |Database: "
                      "20000 ms"),
            lines.end());
  Select(3000, 3000);
  ed().StripMenu(StripMenuEntry::Intro);
  Select(9000, 9000);
  ed().StripMenu(StripMenuEntry::StartNext);  // start next at 9 s: the play duration would be 9 s
  ASSERT_TRUE(ed().StorePointers());
  for (int station : {1, 2}) {
    EXPECT_EQ(song::DurationSeconds(SongRecord(station, kOther)), 20) << station;
    EXPECT_EQ(GetNumber(SongRecord(station, kOther), song::kIntroSeconds), 3) << station;
    EXPECT_EQ(PtxRecord(station, '5', kOther).substr(11, 10), "0000009000") << station;
  }
  EXPECT_EQ(GetRaw(SongRecord(1, kOther), {466, 2}), GetRaw(before, {466, 2}));
}

// Without a sound there is no length to derive a play duration from: stores
// write the intro and the end type and leave the song's duration alone, on
// every station, however often they run (it used to lose the fade-in at each).
TEST_F(PointerEditorTest, ASongWithoutItsSoundKeepsItsDuration) {
  std::filesystem::remove(otherFile);
  for (int station : {1, 2}) {
    std::string r = SongRecord(station, kOther);
    song::SetDurationSeconds(r, 243);
    UpdateSong(station, kOther, r);
    data::PtxSauvegarderPointeur(*lib, station, kOther, '0', 0, 13000, -1, 0, true);
    data::PtxSauvegarderPointeur(*lib, station, kOther, '4', 20000, 0, -1, 0, true);
    data::PtxSauvegarderPointeur(*lib, station, kOther, '1', 240000, 1000, -1, 0, true);
  }
  const std::string before = SongRecord(1, kOther);
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(Load(kOther));
    EXPECT_FALSE(ed().lengthMeasured());
    EXPECT_EQ(ed().soundLength(), 243000);  // the record's duration stands in for the scale
    EXPECT_TRUE(ed().SetLevel(-100.0 * round));
    ed().SetEndType(round % 2 ? 2 : 1);
    ASSERT_TRUE(ed().StorePointers());
    // The fade-out past the stand-in is neither pulled back nor rewritten.
    EXPECT_EQ(PtxRecord(2, '1', kOther).substr(11, 10), "0000240000");
    ASSERT_TRUE(Load(kCode));
  }
  for (int station : {1, 2}) {
    const std::string r = SongRecord(station, kOther);
    EXPECT_EQ(song::DurationSeconds(r), 243) << station;
    EXPECT_EQ(GetNumber(r, song::kIntroSeconds), 20) << station;  // intro - fade-in position
    EXPECT_EQ(GetRaw(r, song::kEndType), "E") << station;
    EXPECT_EQ(PtxRecord(station, '8', kOther).substr(11, 10), "0000000300") << station;
  }
  EXPECT_EQ(GetRaw(SongRecord(1, kOther), {466, 2}) + GetRaw(SongRecord(1, kOther), {470, 1}),
            GetRaw(before, {466, 2}) + GetRaw(before, {470, 1}));
  EXPECT_TRUE(stats->artistQueue().empty());  // no duration changed: nothing to recount
}

TEST_F(PointerEditorTest, MissingOrUndecodableSoundStillShowsPointers) {
  for (int station : {1, 2}) {
    data::PtxSauvegarderPointeur(*lib, station, kOther, '4', 5000, 0, -1, 0, true);
    data::PtxSauvegarderPointeur(*lib, station, kOther, '1', 60000, 1000, -1, 0, true);
  }
  std::filesystem::remove(otherFile);
  ASSERT_TRUE(Load(kOther));
  EXPECT_EQ(ed().envelopeCount, 0);
  EXPECT_EQ(ed().lastMessage, "Fichier son non trouvé: " + otherFile);
  EXPECT_TRUE(prompt.shown.empty());  // shown in the pane, no box per row
  EXPECT_EQ(ed().ptx.position[data::kIntro], 5000);
  // Beyond the 20 s the record holds: pulled back by the load rules, for the view only.
  EXPECT_EQ(ed().ptx.position[data::kFadeOut], 20000 - 1000 - 96);
  EXPECT_EQ(ed().sound.duration, 20000);  // nothing measured, nothing rewritten
  EXPECT_EQ(ed().sound.checkedDuration, 0);

  sono::test::WriteFile(otherFile, std::string(5000, 'x'));
  ASSERT_TRUE(Load(kOther, SoundLoad::Refresh));
  EXPECT_EQ(ed().envelopeCount, 0);
  EXPECT_EQ(ed().lastMessage, "Format du fichier son '" + otherFile + "' non supporté.");
  EXPECT_EQ(prompt.shown.back().text, ed().lastMessage);
  EXPECT_EQ(ed().ptx.grid.cell(2, 3), "5000");
  // A readable sound clears the message.
  ASSERT_TRUE(Load(kCode));
  EXPECT_EQ(ed().lastMessage, "");
}

// The envelope beside a sound is the editor's cache: a damaged one is built
// again without a word to the user, and with envelopes turned off a good
// sound opens without a box.
TEST_F(PointerEditorTest, EnvelopesDamagedRebuiltOrTurnedOff) {
  const std::string gpx = GpxPathFor(soundFile);
  ASSERT_TRUE(Load(kCode));
  const int frames = ed().envelopeCount;
  ASSERT_GT(frames, 0);
  const std::string built = sono::test::ReadFile(gpx);
  sono::test::WriteFile(gpx, std::string(built.size(), '#'));
  ASSERT_TRUE(Load(kOther));
  ASSERT_TRUE(Load(kCode));
  EXPECT_EQ(ed().envelopeCount, frames);
  EXPECT_EQ(ed().lastMessage, "");
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_EQ(sono::test::ReadFile(gpx), built);

  // On request it is built whatever the file holds: the window's menu entry.

  // Envelopes off: no envelope, no box for a good sound; a bad one is still said.
  window->envelopes.settings().envelopesOff = true;
  ASSERT_TRUE(Load(kOther));
  EXPECT_EQ(ed().envelopeCount, 0);
  EXPECT_EQ(ed().lastMessage, "");
  EXPECT_TRUE(prompt.shown.empty());
  sono::test::WriteFile(otherFile, std::string(5000, 'x'));
  ASSERT_TRUE(Load(kOther, SoundLoad::Refresh));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Format du fichier son '" + otherFile + "' non supporté.");
  EXPECT_FALSE(ed().RebuildEnvelope());
}

TEST_F(PointerEditorTest, SelectionRulesAtTheEndAndOnTheStrip) {
  ASSERT_TRUE(Load(kCode));
  // A hook selected up to the end is pulled back to end the 48 ms margin early.
  Select(duration - 1000, duration + 5000);
  EXPECT_EQ(ed().sound.selection.endMs, duration);  // clamped to the sound
  ed().StripMenu(StripMenuEntry::Hook);
  EXPECT_EQ(ed().ptx.position[data::kHook], duration - 1000 - 48);
  EXPECT_EQ(ed().ptx.second[data::kHook], 1000);

  // Dragging back past the start swaps the dragged side.
  ed().StripMouseDown(MouseButton::Left, 5000, {});
  ed().StripMouseMove(true, 7000);
  ed().StripMouseMove(true, 3000);
  EXPECT_EQ(ed().sound.selection.startMs, 3000);
  EXPECT_EQ(ed().sound.selection.endMs, 5000);
  EXPECT_EQ(ed().labelMouse, "00:03.000");
  // Shift extends the nearer side; Ctrl only moves the single mark.
  ed().StripMouseDown(MouseButton::Left, 9000, {false, false, true});
  EXPECT_EQ(ed().sound.selection.endMs, 9000);
  ed().StripMouseDown(MouseButton::Left, 1000, {false, false, true});
  EXPECT_EQ(ed().sound.selection.startMs, 1000);
  ed().StripMouseDown(MouseButton::Left, 4000, {true, false, false});
  ed().StripMouseMove(true, 6000);
  EXPECT_EQ(ed().sound.selection.singleMarkMs, 4000);
  EXPECT_EQ(ed().sound.selection.startMs, 1000);
  EXPECT_EQ(ed().sound.selection.endMs, 9000);

  // A fade-in running into the fade-out moves left.
  Select(10000, 12500);
  ed().StripMenu(StripMenuEntry::FadeOut);
  Select(9000, 11000);
  ed().StripMenu(StripMenuEntry::FadeIn);
  EXPECT_EQ(ed().ptx.position[data::kFadeIn], 8000);
  EXPECT_EQ(ed().ptx.second[data::kFadeIn], 2000);

  // Marks drawn on the strip at the intro.
  Select(6000, 6000);
  ed().StripMenu(StripMenuEntry::Intro);
  EXPECT_EQ(window->strip.pixel(6000, 10), Colour{0x3060FF});  // the selection, on top
  EXPECT_EQ(window->strip.pixel(8000, 10), PointerEditor::MarkColour(data::kFadeIn));
  // Fade-out and start next share 10000 ms: start next is drawn over it.
  EXPECT_EQ(window->strip.pixel(10000, 10), PointerEditor::MarkColour(data::kStartNext));
  EXPECT_EQ(window->strip.pixel(10000 - 1, 10), window->strip.pixel(7000, 10));
}

TEST_F(PointerEditorTest, OverviewStripClickAndPlayCursor) {
  ASSERT_TRUE(Load(kCode));
  WaveformView& view = window->view;
  ASSERT_GT(view.NombreValeurs, 0);
  ed().OverviewStripClick(0);
  const int atStart = view.HScrollESLateral.value;
  // Past the middle of the strip: the working view moves on.
  ed().OverviewStripClick(window->strip.width() * 3 / 4);
  EXPECT_GT(view.HScrollESLateral.value, atStart);
  // One strip pixel per millisecond here: the cursor's centre is the time.
  ed().PlayCursorDrop(4321);
  EXPECT_EQ(ed().playPosition, 4321);
}

TEST_F(PointerEditorTest, GridClicksRestoreClearAndAutomaticStore) {
  ASSERT_TRUE(Load(kCode));
  Select(3000, 3000);
  ed().StripMenu(StripMenuEntry::Intro);
  ASSERT_TRUE(ed().StorePointers());
  Select(4000, 4000);
  ed().StripMenu(StripMenuEntry::Intro);
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "O");
  ed().GridRestore(3);  // back to the stored value, mark gone, database untouched
  EXPECT_EQ(ed().ptx.position[data::kIntro], 3000);
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "");
  EXPECT_EQ(PtxRecord(1, '4').substr(11, 10), "0000003000");

  // Column 12 (pitch) selects nothing and gives the focus to the strip.
  window->audition.plays.clear();
  ed().sound.selection.selectedSlot = -1;
  ed().GridClick(12, 1);
  EXPECT_EQ(ed().sound.selection.selectedSlot, -1);
  EXPECT_TRUE(ed().stripFocused);
  EXPECT_TRUE(window->audition.plays.empty());
  ed().GridClick(3, 1);
  EXPECT_EQ(ed().sound.selection.selectedSlot, data::kIntro);
  ASSERT_EQ(window->audition.plays.size(), 1u);
  EXPECT_EQ(window->audition.plays[0].start, 3000);
  EXPECT_EQ(window->audition.plays[0].end, 0);

  // Automatic storing: each change goes to every station at once.
  ed().ToggleAutoStore();
  ASSERT_TRUE(ed().autoStore);
  ed().GridClear(3);
  EXPECT_FALSE(ed().ptx.pointersChanged);
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "");
  for (int station : {1, 2}) EXPECT_EQ(PtxRecord(station, '4'), "");
  Select(7000, 9000);
  ed().StripMenu(StripMenuEntry::Loop);  // Loop
  for (int station : {1, 2}) EXPECT_EQ(PtxRecord(station, '9').substr(11, 20), "00000070000000002000");

  // Marks from the working view's capture zone, in time order.
  auto& capture = window->view.zone(kCaptureZone);
  capture.t1 = 8000;
  capture.t2 = 5000;
  ed().MarksMenu(MarksMenuEntry::MarkSelection);
  EXPECT_EQ(ed().marks[0], 5000);
  EXPECT_EQ(ed().marks[1], 8000);
  EXPECT_EQ(ed().statusMarks, "00:05.000 / 00:08.000");
  EXPECT_EQ(ed().sound.selection.startMs, 5000);

  // The end-type combo writes the song of every station at once.
  ed().SetEndType(3);
  for (int station : {1, 2}) EXPECT_EQ(GetRaw(SongRecord(station), song::kEndType), "D");
  ed().SetEndType(0);
  for (int station : {1, 2}) EXPECT_EQ(GetRaw(SongRecord(station), song::kEndType), " ");
}

TEST_F(PointerEditorTest, LinerCodesTitleAndUndoFiles) {
  ASSERT_TRUE(ed().InitSoundPtx(SoundLoad::NewSelection, false, "Test", {"LIN00001", 1, 5000, soundFile, {}, {}}));
  EXPECT_FALSE(ed().option6Enabled);
  ASSERT_TRUE(ed().InitSoundPtx(SoundLoad::NewSelection, false, "Test", {"lin00001", 1, 5000, soundFile, {}, {}}));
  EXPECT_TRUE(ed().option6Enabled);

  ed().AfficherTitreSelectionneDansPointeur("Titre", {{0, "Artiste"}, {1, "Autre"}, {2, "Trio"}}, true,
                                            "Printemps", "R2");
  EXPECT_EQ(ed().titleLabel, "Titre - Artiste & Autre && Trio | Campagne: Printemps | Rotation: R2");

  const std::string u1 = PointerEditor::UndoFileName(soundFile, 1);
  const std::string u2 = PointerEditor::UndoFileName(soundFile, 2);
  EXPECT_EQ(std::filesystem::path(u2).filename().string(), "00000101.002.s48");
  sono::test::WriteFile(u1, "a");
  sono::test::WriteFile(u2, "b");
  ed().undoLevels = 2;
  ed().undoEnabled = true;
  const std::string work = soundFile + "_20260101_120000.Tmp";
  sono::test::WriteFile(work, "w");
  ASSERT_TRUE(Load(kCode));
  ed().sound.temporaryFiles[0] = work;
  ed().undoLevels = 2;
  ASSERT_TRUE(Load(kOther));
  EXPECT_FALSE(std::filesystem::exists(u1));
  EXPECT_FALSE(std::filesystem::exists(u2));
  EXPECT_FALSE(std::filesystem::exists(work));
  EXPECT_EQ(ed().undoLevels, 0);
  EXPECT_FALSE(ed().undoEnabled);
  const auto lines = Logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "SoundChanged change to: False"), lines.end());
}

// Yes to "save the pointers?" whose store fails: said (box and log line with
// the values), the edits kept and marked, the song change called off; the
// next answer stores them.
TEST_F(PointerEditorTest, AFailedStoreWhenLeavingASoundIsSaidAndKeepsTheEdits) {
  ASSERT_TRUE(Load(kCode));
  Select(2500, 2500);
  ed().StripMenu(StripMenuEntry::Intro);
  FailWhen([](int op) { return op == 2; });
  prompt.answers = {Answer::Yes};
  EXPECT_FALSE(Load(kOther));
  Heal();
  EXPECT_EQ(Trim(ed().sound.code), kCode);
  EXPECT_EQ(ed().ptx.grid.cell(2, 3), "2500");
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "O");
  EXPECT_TRUE(ed().ptx.pointersChanged);
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().icon, Icon::Critical);
  EXPECT_EQ(prompt.shown.back().text,
            "Les pointeurs du morceau 00000101 n'ont pas été enregistrés (erreur de la base de données, voir le "
            "journal) : Intro 2500.\nLes modifications sont conservées.");
  const auto lines = Logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Err: Test: pointers not stored |Code: 00000101 |Not stored: Intro 2500"),
            lines.end());
  EXPECT_EQ(PtxRecord(1, '4'), "");
  // At the unload there is no going back: said all the same.
  FailWhen([](int op) { return op == 2; });
  prompt.answers = {Answer::Yes};
  EXPECT_EQ(ed().OfferToStoreChanges("Frm_Main:Form_Unload", Buttons::YesNo), Answer::Cancel);
  Heal();
  EXPECT_EQ(prompt.shown.back().icon, Icon::Critical);
  EXPECT_EQ(prompt.shown.back().text.find("Les modifications sont conservées"), std::string::npos);
  // Once the disk has room again, Yes stores and the change goes ahead.
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(Load(kOther));
  for (int station : {1, 2}) EXPECT_EQ(PtxRecord(station, '4').substr(11, 10), "0000002500");
}

// A new take's reset (RAZPtx): the audition stops, every slot goes back to
// 0 and that is stored on every station (the records removed, the song's
// play duration back to the whole sound); a store that fails halfway leaves
// every station with its pointers and the zeros marked unsaved.
TEST_F(PointerEditorTest, RAZPtxStoresTheEmptySetOnEveryStationOrNothing) {
  ASSERT_TRUE(Load(kCode));
  Select(2500, 2500);
  ed().StripMenu(StripMenuEntry::Intro);
  Select(15000, 17000);
  ed().StripMenu(StripMenuEntry::FadeOut);
  ed().SetPitchSlider(1020);
  ASSERT_TRUE(ed().StorePointers());
  ASSERT_NE(PtxRecord(2, '4'), "");
  ASSERT_EQ(song::DurationSeconds(SongRecord(2)), 15);

  // The store fails at its second delete: nothing changes anywhere.
  int deletes = 0;
  FailWhen([&](int op) { return op == 4 && ++deletes == 2; });
  const int stopsBefore = window->audition.stops;
  EXPECT_FALSE(ed().RAZPtx());
  Heal();
  EXPECT_GT(window->audition.stops, stopsBefore);
  for (int station : {1, 2}) {
    EXPECT_EQ(PtxRecord(station, '4').substr(11, 10), "0000002500") << station;
    EXPECT_NE(PtxRecord(station, '1'), "") << station;
    EXPECT_EQ(song::DurationSeconds(SongRecord(station)), 15) << station;
  }
  EXPECT_TRUE(ed().ptx.pointersChanged);
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "O");
  EXPECT_FALSE(ed().lastMessage.empty());

  // Stored: no pointer record is left for the song, on any station.
  ASSERT_TRUE(ed().RAZPtx());
  EXPECT_FALSE(ed().ptx.pointersChanged);
  EXPECT_EQ(ed().ptx.position[data::kIntro], 0);
  EXPECT_EQ(ed().pitchLabel, "0 %");
  const long long wholeSeconds = (duration + 500) / 1000;
  for (int station : {1, 2}) {
    for (char type : {'0', '1', '2', '4', '5', '6', '7', '8', '9', 'D'})
      EXPECT_EQ(PtxRecord(station, type), "") << station << " type " << type;
    EXPECT_EQ(song::DurationSeconds(SongRecord(station)), wholeSeconds) << station;
    EXPECT_EQ(GetNumber(SongRecord(station), song::kIntroSeconds), 0) << station;
  }
  EditorWindow fresh(*lib, *stats, duration);
  ASSERT_TRUE(fresh.editor.InitSoundPtx(SoundLoad::NewSelection, false, "Test", Selection(kCode, soundFile)));
  EXPECT_EQ(fresh.editor.ptx.position[data::kIntro], 0);
  EXPECT_EQ(fresh.editor.pitchLabel, "0 %");
}

// A record-manager error anywhere in a store: every station keeps its old
// records (one transaction for all), the slot stays marked.
TEST_F(PointerEditorTest, StoreFailingHalfwayKeepsOldOrNew) {
  ASSERT_TRUE(Load(kCode));
  for (int failingInsert : {1, 2}) {
    SCOPED_TRACE(failingInsert);
    Select(3000, 3000);
    ed().StripMenu(StripMenuEntry::Intro);
    ASSERT_TRUE(ed().StorePointers());
    Select(4000, 4000);
    ed().StripMenu(StripMenuEntry::Intro);
    int inserts = 0;
    FailWhen([&](int op) { return op == 2 && ++inserts == failingInsert; });
    EXPECT_FALSE(ed().StorePointers());
    Heal();
    for (int station : {1, 2}) EXPECT_EQ(PtxRecord(station, '4').substr(11, 10), "0000003000");
    EXPECT_EQ(ed().ptx.grid.cell(3, 3), "O");
    EXPECT_TRUE(ed().ptx.pointersChanged);
    const auto lines = Logged();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.find("Err: PointeurMemoriseDataBase: not stored |Code: 00000101 |Type: 4") != std::string::npos;
    }));
  }
  // A clean store afterwards brings every station to the new value.
  ASSERT_TRUE(ed().StorePointers());
  for (int station : {1, 2}) EXPECT_EQ(PtxRecord(station, '4').substr(11, 10), "0000004000");
  EXPECT_EQ(ed().ptx.grid.cell(3, 3), "");
}

// Random sequences of the editor's actions over four songs: one with its
// sound (hidden now and then, as a share out of reach), one with its sound,
// one without any, one whose sound is replaced by another length; stores
// fail now and then. Whatever happens: a song's duration only ever becomes
// the play duration of its sound as it is and of its pointers, never changes
// while its sound is missing, no byte outside the fields the duration update
// and the end type write changes, and every station holds the same song
// record and the same pointers.
TEST_F(PointerEditorTest, PropertyDurationsFollowTheSoundAndNoOtherByteChanges) {
  const std::string kMissing = "00000103", kReplaced = "00000104";
  const std::string replacedFile = data::SoundFilePath(*lib, 1, kReplaced);
  const std::string hiddenFile = soundFile + ".hidden";
  const std::vector<std::string> codes = {kCode, kOther, kMissing, kReplaced};
  std::string error;
  ASSERT_TRUE(demo::WriteDemoSound(replacedFile, 15, false, 9, error)) << error;
  // Bytes the duration update (466, 104, 470, 193, 208, 573) may change.
  const auto written = [](int pos) {
    return (pos >= 104 && pos <= 107) || pos == 466 || pos == 467 || pos == 470 || (pos >= 193 && pos <= 195) ||
           pos == 208 || pos == 573;
  };
  // Every song record full of other programs' bytes (any value), in the
  // fields this program does not interpret.
  const std::vector<std::pair<int, int>> foreign = {{74, 103}, {109, 192}, {196, 207}, {209, 229}, {237, 411},
                                                    {417, 433}, {437, 453}, {459, 465}, {468, 469}, {471, 536},
                                                    {540, 547}, {549, 572}, {574, 805}, {826, 856}, {858, 899}};
  std::mt19937 fill(17);
  std::map<std::string, std::string> original;
  for (const auto& code : codes) {
    std::string r = Song(code, "Titre " + code, code == kMissing ? 243 : 20);
    for (const auto& [from, to] : foreign)
      for (int pos = from; pos <= to; ++pos) r[static_cast<size_t>(pos - 1)] = static_cast<char>(fill() % 256);
    SetRaw(r, song::OtherEntry(1), "EXT00017");
    data::SetRaw(r, song::kFlag108, "N");  // values the corrections on read leave alone
    data::SetRaw(r, {230, 7}, "N000000");
    if (code == kCode || code == kOther) {
      for (int station : {1, 2}) UpdateSong(station, code, r);
    } else {
      InsertEverywhere(data::kSongs, r);
    }
    original[code] = r;
    ASSERT_EQ(SongRecord(1, code), r) << code;  // nothing to correct on read
  }
  for (int station : {1, 2})
    data::PtxSauvegarderPointeur(*lib, station, kMissing, '0', 0, 13000, -1, 0, true);

  const auto measure = [](const std::string& file) {
    MpegScanDurationMeter meter;
    const int ms = meter.LoadSoundFast(file) ? meter.GetSoundDuration() : 0;
    meter.CloseSound();
    return ms;
  };
  const auto pointers = [&](int station) {
    std::vector<std::string> all;
    std::string key = data::Library::Key(std::string(11, '\0'));
    data::BtrieveOptions quiet;
    quiet.silent = true;
    for (int st = layer->BTRieve(0, 9, key, 0, data::kPointers, station, "T", quiet); st == 0;
         st = layer->BTRieve(0, 6, key, 0, data::kPointers, station, "T", quiet))
      all.push_back(layer->record(data::kPointers));
    return all;
  };
  const auto fileOf = [&](const std::string& code) { return data::SoundFilePath(*lib, 1, code); };

  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::map<std::string, long long> held;
    for (const auto& code : codes) held[code] = song::DurationSeconds(SongRecord(1, code));
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    // Weighted towards edits and stores, which is where durations change.
    std::discrete_distribution<int> actions({10, 30, 5, 5, 10, 5, 15, 5, 5, 5, 5});
    for (int step = 0; step < 50; ++step) {
      const int action = step == 0 ? 0 : actions(rng);
      SCOPED_TRACE(::testing::Message() << "step " << step << " action " << action);
      prompt.answers.clear();
      switch (action) {
        case 0: {  // select a song, answering the save question any way
          const std::string& code = codes[static_cast<size_t>(pick(4))];
          prompt.answers = {std::array{Answer::Yes, Answer::No, Answer::Cancel}[static_cast<size_t>(pick(3))]};
          ed().InitSoundPtx(SoundLoad::NewSelection, false, "Test", Selection(code, fileOf(code), 20000));
          break;
        }
        case 1: {  // a pointer from a strip selection
          const int a = pick(duration + 1), b = pick(duration + 1);
          Select(std::min(a, b), std::max(a, b));
          ed().StripMenu(std::array{StripMenuEntry::FadeIn, StripMenuEntry::Intro, StripMenuEntry::StartNext,
                                    StripMenuEntry::FadeOut, StripMenuEntry::Hook, StripMenuEntry::Loop,
                                    StripMenuEntry::Send, StripMenuEntry::StartEqui}[static_cast<size_t>(pick(8))]);
          break;
        }
        case 2: ed().SetLevel(pick(10001) - 5000); break;  // some refused
        case 3: ed().SetPitchSlider(760 + pick(481)); break;
        case 4:
          if (pick(2)) ed().GridClear(1 + pick(14));
          else ed().GridRestore(1 + pick(14));
          break;
        case 5: ed().SetEndType(pick(4)); break;
        case 6: {  // store, the disk failing at some write now and then
          const int failAt = pick(3) == 0 ? 1 + pick(6) : 0;
          int writes = 0;
          FailWhen([&](int op) { return IsWrite(op) && ++writes == failAt; });
          ed().StorePointers();
          Heal();
          break;
        }
        case 7: ed().ToggleAutoStore(); break;
        case 8: ed().InitSoundPtx(SoundLoad::Refresh, pick(4) == 0, "Test", Selection(ed().sound.code, ed().sound.soundFile)); break;
        case 9:  // the first song's share goes away, or comes back
          if (std::filesystem::exists(soundFile)) std::filesystem::rename(soundFile, hiddenFile);
          else std::filesystem::rename(hiddenFile, soundFile);
          break;
        case 10:  // a new take of the last song, of another length
          ASSERT_TRUE(demo::WriteDemoSound(replacedFile, 8 + pick(20), false, rng(), error)) << error;
          break;
      }
      ASSERT_EQ(pointers(1), pointers(2));
      for (const auto& code : codes) {
        const std::string r = SongRecord(1, code);
        ASSERT_EQ(SongRecord(2, code), r) << code << ": the stations differ";
        for (int pos = 1; pos <= song::kLength; ++pos) {
          if (written(pos)) continue;
          ASSERT_EQ(r[static_cast<size_t>(pos - 1)], original[code][static_cast<size_t>(pos - 1)])
              << code << " position " << pos;
        }
        const long long seconds = song::DurationSeconds(r);
        if (seconds == held[code]) continue;
        // A change: only from the sound as it is now, and its pointers
        // (stored, or the editor's grid for the song being edited).
        const int length = measure(fileOf(code));
        ASSERT_GT(length, 0) << code << ": duration changed from " << held[code] << " to " << seconds
                             << " without a sound";
        std::set<long long> derived = {
            (data::MorceauChargerPointeur(*lib, 1, code, length).playEnd + 500) / 1000};
        if (Trim(ed().sound.code) == code && ed().lengthMeasured())
          derived.insert((ed().ptx.DeterminePlayDuration() + 500) / 1000);
        ASSERT_TRUE(derived.count(seconds)) << code << ": " << held[code] << " s became " << seconds << " s";
        held[code] = seconds;
      }
      if (HasFatalFailure()) return;
    }
    EXPECT_EQ(song::DurationSeconds(SongRecord(1, kMissing)), 243);
    if (!std::filesystem::exists(soundFile)) std::filesystem::rename(hiddenFile, soundFile);
  }
}

}  // namespace
}  // namespace sono::editor
