// The editor's normalisation: the suite's proposal and the station target's
// from the stored measurements, the slider and its label, the envelope drawn
// with the correction, and the value written into the pointer grid.
#include "editor/normalisation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "audio/codec/house_writer.h"
#include "core/ini.h"
#include "data/ptx.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"
#include "library_fixture.h"

namespace sono::editor {
namespace {

TEST(NormalisationProposals, SuiteFormulaTargetCeilingSliderAndLabel) {
  // level = (average of the valid values + 0.5) / 2, the correction its opposite.
  const std::vector<double> peaks = {-1.0, -0.5};
  EXPECT_DOUBLE_EQ(*SoundNormalizeCorrection(peaks), 0.125);
  const std::vector<double> oneMissing = {kNotMeasured, -3.0};
  EXPECT_DOUBLE_EQ(*SoundNormalizeCorrection(oneMissing), 1.25);
  const std::vector<double> none = {kNotMeasured, kNotMeasured};
  EXPECT_FALSE(SoundNormalizeCorrection(none));
  EXPECT_FALSE(SoundNormalizeCorrection({}));

  const LoudnessTarget target;  // -23 LUFS, -1 dBTP
  LevelMeasurements loud;
  loud.integratedLufs = -14.5, loud.truePeakDbtp = -0.3;
  EXPECT_DOUBLE_EQ(TargetCorrection(loud, target)->correctionDb, -8.5);
  EXPECT_FALSE(TargetCorrection(loud, target)->heldByCeiling);
  LevelMeasurements quietWithPeaks;
  quietWithPeaks.integratedLufs = -30, quietWithPeaks.truePeakDbtp = -4;
  const auto held = TargetCorrection(quietWithPeaks, target);
  EXPECT_DOUBLE_EQ(held->correctionDb, 3.0);  // +7 would put the true peak at +3 dBTP
  EXPECT_TRUE(held->heldByCeiling);
  EXPECT_FALSE(TargetCorrection(LevelMeasurements{}, target));

  EXPECT_EQ(SliderForCorrection(0.125), 12);  // 12.5: halves to even
  EXPECT_EQ(SliderForCorrection(-2.31), -231);
  EXPECT_EQ(SliderForCorrection(45), NormalisationWindow::kSliderMax);
  EXPECT_EQ(SliderLabel(-231), "-2.31 dB");
  EXPECT_EQ(SliderLabel(150), "1.5 dB");
  EXPECT_EQ(SliderLabel(0), "0 dB");
  EXPECT_EQ(SliderLabel(-5), "-0.05 dB");

  // The envelope's scale for a correction.
  EXPECT_DOUBLE_EQ(data::EnergieCoefCorrectionLevel(-30.31), 0.01);
  EXPECT_NEAR(data::EnergieCoefCorrectionLevel(-30.30), 0.0001, 1e-9);
}

class NormalisationWindowTest : public data::test::LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000101";
  NormalisationWindowTest() {
    InsertEverywhere(data::kSongs, Song(kCode, "Premier", 20));
    soundFile = data::SoundFilePath(*lib, 1, kCode);
    std::string error;
    EXPECT_TRUE(demo::WriteDemoSound(soundFile, 20, false, 7, error)) << error;
  }
  bool Load() {
    const int ms = static_cast<int>(data::HouseFormatDurationMs(soundFile).value_or(0));
    return ed.InitSoundPtx(SoundLoad::NewSelection, false, "Test", {kCode, 1, ms, soundFile, {}, {}});
  }
  // Envelope pixels of the window's picture.
  long Drawn() const {
    const auto& p = picture.pixels();
    return std::count(p.begin(), p.end(), ViewLook{}.envelope.rgb);
  }

  std::string soundFile;
  RasterCanvas global{400, 30}, working{600, 60}, strip{400, 20}, corrected{400, 20}, picture{400, 60};
  WaveformView view{global, working, 400};
  MpegScanDurationMeter meter;
  EnvelopeReader envelopes{log, meter};
  PointerEditor ed{PointerEditor::Ports{*lib, *stats, meter, envelopes, view, working, strip, corrected, nullptr}};
};

TEST_F(NormalisationWindowTest, ProposalFromStoredMeasuresSliderRedrawsAndButtonWritesTheGrid) {
  ASSERT_TRUE(Load());
  NormalisationWindow w(ed, log, picture, LoadLoudnessTarget(config.settingsFile()));
  ASSERT_TRUE(w.SoundNormalize()) << w.message;
  EXPECT_TRUE(w.measuredNow);  // nothing stored yet: measured at this opening
  ASSERT_TRUE(w.proposal);
  const auto peaks = w.levels.peakValues();
  EXPECT_DOUBLE_EQ(*w.proposal, -((peaks[0] + peaks[1]) / 2 + 0.5) / 2);
  EXPECT_EQ(w.slider, SliderForCorrection(*w.proposal));
  EXPECT_EQ(w.label, SliderLabel(w.slider));
  ASSERT_TRUE(w.targetProposal);
  EXPECT_NEAR(w.targetProposal->correctionDb, -23.0 - w.levels.integratedLufs, 1e-9);
  EXPECT_NE(w.targetText.find("-23.0 LUFS"), std::string::npos) << w.targetText;

  // The envelope follows the slider: smaller bars for a lower level.
  w.SliderLevel_Scroll(0);
  const long flat = Drawn();
  w.SliderLevel_Change(-2000);
  EXPECT_LT(Drawn(), flat / 2);
  EXPECT_EQ(w.label, "-20 dB");

  ASSERT_TRUE(w.UseTargetProposal());
  EXPECT_EQ(w.slider, SliderForCorrection(w.targetProposal->correctionDb));
  ASSERT_TRUE(w.CommandNormalisation_Click()) << w.message;
  EXPECT_FLOAT_EQ(ed.ptx.level, static_cast<float>(w.slider) / 100.0f);
  EXPECT_TRUE(ed.ptx.pointersChanged);

  // Opened again: the stored measures are read, and the current correction
  // is where the slider starts before the proposal.
  NormalisationWindow again(ed, log, picture, {});
  again.InitData();
  EXPECT_EQ(again.slider, w.slider);
  ASSERT_TRUE(again.SoundNormalize());
  EXPECT_FALSE(again.measuredNow);
  EXPECT_DOUBLE_EQ(*again.proposal, *w.proposal);
}

TEST_F(NormalisationWindowTest, SilentSoundGivesNoProposalAndKeepsTheCurrentCorrection) {
  {
    audio::HouseWriter writer;
    const std::vector<float> silence(48000 * 2 * 3, 0.0f);
    ASSERT_TRUE(writer.open(soundFile));
    ASSERT_TRUE(writer.writeFloat(silence.data(), 48000 * 3));
    ASSERT_TRUE(writer.finish());
  }
  ASSERT_TRUE(Load());
  ASSERT_TRUE(ed.SetLevel(-350));
  // A station target set in the settings, the ceiling left out of reason.
  EcritureIni(config.settingsFile(), kNormalisationSection, kTargetKey, "-18");
  EcritureIni(config.settingsFile(), kNormalisationSection, kCeilingKey, "12");
  const LoudnessTarget target = LoadLoudnessTarget(config.settingsFile());
  EXPECT_DOUBLE_EQ(target.targetLufs, -18);
  EXPECT_DOUBLE_EQ(target.ceilingDbtp, LoudnessTarget::kDefaultCeilingDbtp);

  NormalisationWindow w(ed, log, picture, target);
  ASSERT_TRUE(w.SoundNormalize()) << w.message;
  EXPECT_FALSE(w.levels.anyMeasured());
  EXPECT_FALSE(w.proposal);
  EXPECT_FALSE(w.targetProposal);
  EXPECT_EQ(w.slider, -350);
  EXPECT_EQ(w.proposalText, "Pas de proposition: aucune mesure de niveau du son.");
  EXPECT_FALSE(w.UseTargetProposal());
}

TEST_F(NormalisationWindowTest, NewStationTargetIsStoredAndMovesTheTargetProposal) {
  ASSERT_TRUE(Load());
  NormalisationWindow w(ed, log, picture, LoadLoudnessTarget(config.settingsFile()));
  ASSERT_TRUE(w.SoundNormalize());
  const double before = w.targetProposal->correctionDb;
  EXPECT_FALSE(w.ChangeTarget({-80, -1}, config.settingsFile()));
  EXPECT_EQ(w.message, "Cible de sonie hors limites (de -70 à 0 LUFS).");
  EXPECT_FALSE(w.ChangeTarget({-23, 3}, config.settingsFile()));
  EXPECT_DOUBLE_EQ(LoadLoudnessTarget(config.settingsFile()).targetLufs, -23);  // nothing written
  ASSERT_TRUE(w.ChangeTarget({-24.5, -20}, config.settingsFile())) << w.message;
  EXPECT_DOUBLE_EQ(LoadLoudnessTarget(config.settingsFile()).targetLufs, -24.5);
  EXPECT_DOUBLE_EQ(LoadLoudnessTarget(config.settingsFile()).ceilingDbtp, -20);
  // A -20 dBTP ceiling holds the correction under the target's.
  EXPECT_TRUE(w.targetProposal->heldByCeiling);
  EXPECT_DOUBLE_EQ(w.targetProposal->correctionDb, -20 - w.levels.truePeakDbtp);
  EXPECT_LT(w.targetProposal->correctionDb, before - 1.5);
  EXPECT_NE(w.targetText.find("limitée par le plafond de crête vraie -20.0 dBTP"), std::string::npos);
}

TEST_F(NormalisationWindowTest, NoSoundNoWindow) {
  NormalisationWindow w(ed, log, picture, {});
  EXPECT_FALSE(w.SoundNormalize());
  EXPECT_EQ(w.message, "Pas de son à normaliser dans l'éditeur.");
}

}  // namespace
}  // namespace sono::editor
