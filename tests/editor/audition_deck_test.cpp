// The editor's audition deck on the virtual device: what Space, Home and End
// do to a loaded sound, what the 100 ms follow-up shows, and what is heard.
#include "editor/audition_deck.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "library_fixture.h"
#include "audio/engine/engine.h"
#include "core/ini.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/raster_canvas.h"
#include "editor/smooth_join.h"

namespace sono::editor {
namespace {

audio::EngineOptions VirtualOnly() {
  audio::EngineOptions o;
  o.useAlsaCards = false;
  return o;
}

class AuditionDeckTest : public data::test::LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000101";

  AuditionDeckTest() {
    InsertEverywhere(data::kSongs, Song(kCode, "Premier", 20));
    soundFile = data::SoundFilePath(*lib, 1, kCode);
    std::string error;
    EXPECT_TRUE(demo::WriteDemoSound(soundFile, 20, false, 7, error)) << error;
    duration = static_cast<int>(data::HouseFormatDurationMs(soundFile).value_or(0));
    strip = std::make_unique<RasterCanvas>(duration, 20);  // one pixel per millisecond
    corrected = std::make_unique<RasterCanvas>(duration, 20);
    view = std::make_unique<WaveformView>(global, working, duration);
    editor = std::make_unique<PointerEditor>(
        PointerEditor::Ports{*lib, *stats, meter, envelopes, *view, working, *strip, *corrected, &deck});
    deck.attach(*editor, *view);
    deck.engine().virtualDevice().setRecording(true);
    EXPECT_TRUE(editor->InitSoundPtx(SoundLoad::NewSelection, false, "Test", {kCode, 1, duration, soundFile, {}, {}}));
  }
  void Select(int fromMs, int toMs) {
    editor->StripMouseDown(MouseButton::Left, fromMs, {});
    editor->StripMouseMove(true, toMs);
    editor->StripMouseUp();
  }
  // Wall time passes; the follow-up ticks every 100 ms.
  void Run(int ms) {
    for (int t = 0; t < ms; t += 100) {
      clock.advance(100);
      deck.TimerPtx();
    }
  }
  double HeardPeak() {
    double peak = 0;
    for (float s : deck.engine().virtualDevice().recorded(0)) peak = std::max(peak, std::fabs(static_cast<double>(s)));
    return peak;
  }
  size_t HeardMs() { return deck.engine().virtualDevice().recorded(0).size() / 2 / 48; }

  AuditionDeck deck{log, clock, VirtualOnly()};
  RasterCanvas global{400, 30}, working{600, 60};
  std::unique_ptr<RasterCanvas> strip, corrected;
  std::unique_ptr<WaveformView> view;
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes{log, meter};
  std::unique_ptr<PointerEditor> editor;
  std::string soundFile;
  int duration = 0;
};

TEST_F(AuditionDeckTest, SpacePlaysTheSelectionAndTheHeadFollowsUntilItsEnd) {
  ASSERT_TRUE(deck.ready());
  EXPECT_NE(deck.outputs().at(static_cast<size_t>(deck.output())).find("VIRTUAL"), std::string::npos)
      << deck.outputs().at(static_cast<size_t>(deck.output()));
  Select(1000, 3000);
  deck.PlayStop();
  ASSERT_TRUE(deck.playing());
  Run(500);
  EXPECT_NEAR(deck.headMs(), 1500, 60);
  EXPECT_TRUE(view->globalHeadShown);
  EXPECT_GT(deck.levelLeftDb, -60);  // the meter reads the demo tone
  Run(2000);
  EXPECT_FALSE(deck.playing());
  EXPECT_FALSE(view->globalHeadShown);  // the head goes at the end of the play
  EXPECT_EQ(deck.levelLeftDb, -200);
  EXPECT_NEAR(static_cast<double>(HeardMs()), 2000, 150);
  // The play position is where the play started, not where it ended.
  EXPECT_EQ(editor->playPosition, 0);
}

// A second Space stops (the window's keys are checked with the window: Home,
// End and the head).
TEST_F(AuditionDeckTest, SecondSpaceStopsAndNothingPlaysFromTheEnd) {
  deck.PlayStop();  // no selection: from the play position to the end
  ASSERT_TRUE(deck.playing());
  Run(300);
  deck.PlayStop();
  EXPECT_FALSE(deck.playing());
  const size_t heard = HeardMs();
  Run(1000);
  EXPECT_LT(HeardMs() - heard, 200u);  // at most the stop's fade after the stop
  deck.GotoEnd();
  deck.PlayStop();  // nothing is left to play after the end
  EXPECT_FALSE(deck.playing());
}

TEST_F(AuditionDeckTest, LevelCorrectionAndPitchApplyToWhatIsHeard) {
  Select(2000, 2600);
  deck.PlayStop();
  Run(800);
  const double nominal = HeardPeak();
  ASSERT_GT(nominal, 0.01);
  deck.engine().virtualDevice().clearRecordings();
  editor->SetLevel(-600);  // -6 dB
  deck.PlayStop();
  Run(800);
  EXPECT_NEAR(HeardPeak() / nominal, 0.501, 0.05);

  EXPECT_DOUBLE_EQ(PlaySoundInitSpeed(0), 0.0);
  EXPECT_DOUBLE_EQ(PlaySoundInitSpeed(1020000), 2.0);
  EXPECT_DOUBLE_EQ(PlaySoundInitSpeed(1300000), 20.0);  // held at +20 %
  EXPECT_DOUBLE_EQ(PlaySoundInitSpeed(700000), -20.0);
  // At +20 % a 600 ms stretch is heard in about 500 ms.
  deck.engine().virtualDevice().clearRecordings();
  editor->SetLevel(0);
  editor->SetPitchSlider(1200);
  deck.PlayStop();
  Run(1000);
  EXPECT_NEAR(static_cast<double>(HeardMs()), 500, 120);
}

TEST_F(AuditionDeckTest, NothingPlaysWithoutASoundAndAMissingFileIsLogged) {
  deck.PlayRange("/nonexistent/dossier/XX.s48", 0, 0);
  EXPECT_FALSE(deck.playing());
  bool logged = false;
  for (const auto& line : log.fileBuffer())
    logged |= line.find("Err: Listen: Sound not loaded |/nonexistent/dossier/XX.s48") != std::string::npos;
  EXPECT_TRUE(logged);
  EXPECT_FALSE(deck.SelectOutput(99));
  EXPECT_EQ(deck.output(), 0);  // the choice stays
}

bool InLog(const TraceLogger& log, const std::string& text) {
  for (const auto& line : log.fileBuffer())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// The sound without its steps (several ranges) is heard from a temporary
// sound of the frames a cut would keep, back to back: hard joins, or, with
// "Jonctions douces" on, the same frames smoothed as the cut smooths them.
TEST_F(AuditionDeckTest, RangesAreJoinedHardOrSmoothAsTheCutWouldJoinThem) {
  const std::vector<std::pair<int, int>> ranges{{0, 1968}, {3000, 4968}, {6000, 7968}};
  const std::vector<FramePiece> pieces{{soundFile, {1, 82}}, {soundFile, {126, 207}}, {soundFile, {251, 332}}};
  const std::string hard = dir / "hard.s48", smooth = dir / "smooth.s48";
  ASSERT_EQ(WriteFramePieces(hard, pieces), "");
  ASSERT_EQ(WriteFramePieces(smooth, pieces), "");
  ASSERT_EQ(SmoothJoins(smooth, pieces).smoothed, 2);
  const std::string hardBytes = test::ReadFile(hard), smoothBytes = test::ReadFile(smooth);
  ASSERT_NE(hardBytes, smoothBytes);

  ASSERT_TRUE(deck.PlayRanges(ranges));  // no setting given: hard
  EXPECT_EQ(test::ReadFile(deck.joinedRangesFile()), hardBytes);
  deck.Stop();
  bool on = false;
  deck.smoothJoins = [&on] { return on; };
  ASSERT_TRUE(deck.PlayRanges(ranges));
  EXPECT_EQ(test::ReadFile(deck.joinedRangesFile()), hardBytes);
  EXPECT_FALSE(InLog(log, "PlayRanges: Smooth joins"));
  deck.Stop();
  deck.engine().virtualDevice().clearRecordings();
  on = true;
  ASSERT_TRUE(deck.PlayRanges(ranges));
  EXPECT_EQ(test::ReadFile(deck.joinedRangesFile()), smoothBytes);
  EXPECT_TRUE(InLog(log, "PlayRanges: Smooth joins: 2 of 2"));
  ASSERT_TRUE(deck.playing());
  Run(6500);
  EXPECT_FALSE(deck.playing());
  EXPECT_NEAR(static_cast<double>(HeardMs()), 3 * 1968, 150);  // back to back, no gap
}

// A deck whose outputs are a PCM that cannot be opened, ALSA's null PCM and
// the virtual device (with ALSA's default first when asked: whether it opens
// depends on the machine), its choice kept in a settings file.
class AuditionOutputsTest : public AuditionDeckTest {
 protected:
  static audio::EngineOptions Outputs(bool withDefault = false) {
    audio::EngineOptions o;
    o.useAlsaCards = false;
    o.defaultPcm = withDefault ? audio::DefaultPcm::Always : audio::DefaultPcm::Never;
    o.extraPcms = {"hw:97,0", "null"};
    return o;
  }
  AuditionOutputsTest() {
    outputs.settingsFile = [this] { return settings; };
    outputs.onMessage = [this](const std::string& text) { told.push_back(text); };
    outputs.attach(*editor, *view);
    outputs.engine().virtualDevice().setRecording(true);
  }
  int Index(const std::string& key) {
    for (int i = 0; i < static_cast<int>(outputs.outputs().size()); ++i)
      if (outputs.outputKey(i) == key) return i;
    return -1;
  }
  void RunOutputs(int ms) {
    for (int t = 0; t < ms; t += 100) {
      clock.advance(100);
      outputs.TimerPtx();
    }
  }
  std::string settings = dir / "Settings/Vexa_Library/Vexa_Library.Ini";
  AuditionDeck outputs{log, clock, Outputs()};
  std::vector<std::string> told;
};

TEST_F(AuditionOutputsTest, DefaultComesFirstAndTheChoiceIsKeptInTheSettings) {
  AuditionDeck all{log, clock, Outputs(true)};
  all.settingsFile = [this] { return settings; };
  const auto names = all.outputs();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "Par défaut (default)");
  EXPECT_EQ(all.outputKey(0), "default");
  EXPECT_EQ(all.outputKey(1), "hw:97,0");
  EXPECT_EQ(all.outputKey(2), "null");
  EXPECT_EQ(all.outputKey(3), "virtual:0");
  EXPECT_NE(names[3].find("VIRTUAL"), std::string::npos);
  EXPECT_EQ(all.output(), 0);  // nothing chosen yet: the first
  ASSERT_TRUE(all.SelectOutput(2));
  EXPECT_EQ(LectureIni(settings, "Ecoute", "Sortie", ""), "null");
  EXPECT_EQ(all.outputInUse(), -1);  // a choice opens nothing
  AuditionDeck again{log, clock, Outputs(true)};
  again.settingsFile = [this] { return settings; };
  EXPECT_EQ(again.output(), 2);
}

// The chosen output is missing, cannot be opened or is busy: the next one in
// the list plays and the user is told why; the output is held while the play
// lasts and let go of three seconds after its end.
TEST_F(AuditionOutputsTest, AnUnusableChoiceFallsBackWithAMessageAndNothingIsHeldAfterThePlay) {
  const int virtualOutput = Index("virtual:0");
  EcritureIni(settings, "Ecoute", "Sortie", "plughw:CARD=USB,DEV=0");
  EXPECT_EQ(outputs.output(), -1);
  outputs.engine().virtualDevice().refuseStart(-EBUSY);
  Select(1000, 1400);
  outputs.PlayStop();
  // hw:97,0 cannot be opened, null can.
  ASSERT_TRUE(outputs.playing());
  EXPECT_EQ(outputs.outputInUse(), Index("null"));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "La sortie son choisie « plughw:CARD=USB,DEV=0 » n'est pas sur cet ordinateur "
                     "(débranchée ?) : l'écoute passe par « ALSA null (3/4) ».");
  EXPECT_TRUE(InLog(log, "Err: Audition output missing: plughw:CARD=USB,DEV=0 |Fallback: ALSA null (3/4)"));
  outputs.Stop();

  // The virtual device, chosen, is held by another program.
  ASSERT_TRUE(outputs.SelectOutput(virtualOutput));
  EXPECT_EQ(outputs.outputInUse(), -1);  // the new choice is opened at the next play
  outputs.PlayStop();
  EXPECT_EQ(outputs.outputInUse(), Index("null"));
  EXPECT_EQ(outputs.message(), "La sortie son choisie « VIRTUAL (5/6) » est occupée par un autre programme : "
                               "l'écoute passe par « ALSA null (3/4) ».");
  EXPECT_TRUE(InLog(log, "Err: Audition output busy: VIRTUAL (5/6) |Fallback: ALSA null (3/4)"));
  outputs.Stop();
  RunOutputs(3000);
  EXPECT_EQ(outputs.outputInUse(), -1);
  EXPECT_FALSE(outputs.engine().boards()[1].outputPairs[0].first->running());  // null let go of

  // Free again: the choice plays; three seconds after the end it is let go of.
  outputs.engine().virtualDevice().refuseStart(0);
  const size_t messages = told.size();
  outputs.PlayStop();
  ASSERT_TRUE(outputs.playing());
  EXPECT_EQ(outputs.outputInUse(), virtualOutput);
  EXPECT_EQ(told.size(), messages);  // nothing to tell
  RunOutputs(500);
  EXPECT_FALSE(outputs.playing());
  EXPECT_EQ(outputs.outputInUse(), virtualOutput);
  RunOutputs(2800);
  EXPECT_EQ(outputs.outputInUse(), virtualOutput);
  RunOutputs(300);
  EXPECT_EQ(outputs.outputInUse(), -1);

  // hw:97,0 cannot be opened.
  ASSERT_TRUE(outputs.SelectOutput(Index("hw:97,0")));
  outputs.PlayStop();
  EXPECT_EQ(outputs.outputInUse(), Index("null"));
  EXPECT_EQ(outputs.message(), "La sortie son choisie « ALSA hw:97,0 (1/2) » ne peut pas être ouverte : "
                               "l'écoute passe par « ALSA null (3/4) ».");
  outputs.Stop();
}

// The device stops under the play (a USB card unplugged): the play stops at
// once and the user is told; while it is away nothing can play; once it is
// back the next play uses it again.
TEST_F(AuditionDeckTest, ADeviceLostDuringAPlayStopsItAndTheNextPlayTriesAgain) {
  std::vector<std::string> told;
  deck.onMessage = [&](const std::string& text) { told.push_back(text); };
  audio::VirtualDevice& device = deck.engine().virtualDevice();
  Select(1000, 3000);
  deck.PlayStop();
  Run(300);
  ASSERT_TRUE(deck.playing());
  device.fail(-ENODEV);
  device.refuseStart(-ENODEV);
  Run(100);
  EXPECT_FALSE(deck.playing());
  EXPECT_FALSE(view->globalHeadShown);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], std::string("La sortie son « VIRTUAL (1/2) » a cessé de fonctionner (") +
                         std::strerror(ENODEV) +
                         ") : l'écoute est arrêtée. Elle sera essayée de nouveau à la prochaine écoute.");
  EXPECT_TRUE(InLog(log, std::string("Err: Audition output lost: VIRTUAL (1/2) |") + std::strerror(ENODEV)));
  EXPECT_EQ(deck.outputInUse(), -1);

  deck.PlayStop();  // still unplugged
  EXPECT_FALSE(deck.playing());
  EXPECT_EQ(deck.message(), "Aucune sortie son n'est disponible : l'écoute est impossible.");
  device.refuseStart(0);  // plugged back
  device.clearRecordings();
  deck.PlayStop();
  ASSERT_TRUE(deck.playing());
  Run(2100);
  EXPECT_FALSE(deck.playing());
  EXPECT_NEAR(static_cast<double>(HeardMs()), 2000, 150);
}

// A damaged sound: the meter counts only the frames that play, gives the
// damaged ones apart and logs them.
TEST_F(AuditionDeckTest, TheDurationMeterReportsDamagedFrames) {
  std::string bytes = sono::test::ReadFile(soundFile);
  bytes[static_cast<size_t>(10 * 768 + 1)] = 0;
  const std::string damaged = dir / "damaged.s48";
  sono::test::WriteFile(damaged, bytes);
  MpegScanDurationMeter logged(&log);
  ASSERT_TRUE(logged.LoadSoundFast(damaged));
  EXPECT_EQ(logged.GetSoundDuration(), duration - 24);
  EXPECT_EQ(logged.GetDamagedFrames(), 1);
  EXPECT_EQ(logged.GetDamagedMs(), 24);
  EXPECT_TRUE(InLog(log, "Err: Damaged sound: " + damaged + " |Damaged frames: 1 |Bytes skipped: 768 |At bytes: 7680 (768)"));
  logged.CloseSound();
  EXPECT_EQ(logged.GetDamagedFrames(), 0);
  ASSERT_TRUE(logged.LoadSoundFast(soundFile));
  EXPECT_EQ(logged.GetSoundDuration(), duration);
  EXPECT_EQ(logged.GetDamagedFrames(), 0);
}

}  // namespace
}  // namespace sono::editor
