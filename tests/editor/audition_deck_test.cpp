// The editor's audition deck on the virtual device: what Space, Home and End
// do to a loaded sound, what the 100 ms follow-up shows, and what is heard.
#include "editor/audition_deck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "../data/library_fixture.h"
#include "audio/engine/engine.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/raster_canvas.h"

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
    EXPECT_TRUE(editor->InitSoundPtx(-1, false, "Test", {kCode, 1, duration, soundFile, {}, {}}));
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
  EXPECT_NE(deck.devices().at(static_cast<size_t>(deck.device())).find("VIRTUAL"), std::string::npos)
      << deck.devices().at(static_cast<size_t>(deck.device()));
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

TEST_F(AuditionDeckTest, SecondSpaceStopsAndHomeEndMoveThePlayPosition) {
  deck.PlayStop();  // no selection: from the play position to the end
  ASSERT_TRUE(deck.playing());
  Run(300);
  deck.PlayStop();
  EXPECT_FALSE(deck.playing());
  const size_t heard = HeardMs();
  Run(1000);
  EXPECT_LT(HeardMs() - heard, 200u);  // at most the stop's fade after the stop

  deck.GotoEnd();
  EXPECT_EQ(editor->playPosition, duration);
  deck.PlayStop();  // nothing is left to play after the end
  EXPECT_FALSE(deck.playing());
  deck.GotoBegin();
  EXPECT_EQ(editor->playPosition, 0);
  EXPECT_TRUE(view->globalHeadShown);
  EXPECT_EQ(view->XTeteGlobal, 0);
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
  EXPECT_FALSE(deck.SelectDevice(99));
  EXPECT_FALSE(deck.ready());
  Select(1000, 2000);
  deck.PlayStop();
  EXPECT_FALSE(deck.playing());
}

}  // namespace
}  // namespace sono::editor
