// The editor's normalisation: `SoundNormalize` proposes a level correction
// from the sound's stored level measurements, and `FrmNormalisation` (the
// model here; the window binds to it) shows it on a slider in hundredths of
// a dB, redraws the envelope with it as the slider moves, and writes it into
// the pointer grid's level. Nothing touches the sound file.
//
// Two proposals stand side by side:
// - the suite's own: the valid values of the sound's level data averaged,
//   level = (average + 0.5) / 2, correction = −level. The level data it
//   averages are the stored peaks (sample peak and true peak, dBFS): the
//   values of the level measurements that are levels of the signal itself
//   (loudness and range are another scale). All −99999: no proposal.
// - the station's loudness target: target − integrated loudness, held down
//   so that the true peak stays at or under the ceiling (linear gain only).
#pragma once
#include <optional>
#include <span>
#include <string>

#include "core/tracelog.h"
#include "editor/canvas.h"
#include "editor/level_measurements.h"
#include "editor/waveform_view.h"

namespace sono::editor {

class PointerEditor;

// The station's loudness target, in the program's settings file, section
// "Normalisation": "CibleLUFS" (default −23) and "PlafondCreteVraie" (the
// true-peak ceiling, default −1 dBTP). A value that is no number, or out of
// reason (target −70..0 LUFS, ceiling −20..0 dBTP), takes the default.
struct LoudnessTarget {
  static constexpr double kDefaultTargetLufs = -23.0;
  static constexpr double kDefaultCeilingDbtp = -1.0;
  double targetLufs = kDefaultTargetLufs;
  double ceilingDbtp = kDefaultCeilingDbtp;
  // Mass normalisation in loudness mode writes the gain of a house-format
  // sound into its scale factors instead of re-encoding it ("0" turns it off).
  bool withoutReencoding = true;
};
inline constexpr const char* kNormalisationSection = "Normalisation";
inline constexpr const char* kTargetKey = "CibleLUFS";
inline constexpr const char* kCeilingKey = "PlafondCreteVraie";
inline constexpr const char* kWithoutReencodingKey = "SansReencodage";
LoudnessTarget LoadLoudnessTarget(const std::string& settingsFile);
// "" when the target is within reason, else the French refusal.
std::string CheckLoudnessTarget(const LoudnessTarget& target);
// Writes both keys (each write atomic); false with `error` when refused or not written.
bool SaveLoudnessTarget(const std::string& settingsFile, const LoudnessTarget& target, std::string& error);

// The suite's proposal from level values (−99999 skipped): nothing when none is valid.
std::optional<double> SoundNormalizeCorrection(std::span<const double> values);

struct TargetProposal {
  double correctionDb = 0;
  bool heldByCeiling = false;  // the target alone would push the true peak over the ceiling
};
// Nothing without an integrated loudness.
std::optional<TargetProposal> TargetCorrection(const LevelMeasurements& levels, const LoudnessTarget& target);

// The slider's value for a correction (× 100, halves to even), within the
// level's range (±30 dB); its label, slider / 100 + " dB" ("-2.31 dB", "0 dB").
int SliderForCorrection(double correctionDb);
std::string SliderLabel(int slider);

// FrmNormalisation.
class NormalisationWindow {
 public:
  static constexpr int kSliderMin = -3000, kSliderMax = 3000;

  NormalisationWindow(PointerEditor& editor, TraceLogger& log, Canvas& envelopeCanvas, LoudnessTarget target,
                      ViewLook look = {})
      : editor_(editor), log_(log), canvas_(envelopeCanvas), target_(target), look_(look) {}

  // SoundNormalize: reads the editor's sound's measurements (measured now
  // when missing or stale), sets the proposals and the slider (the suite's
  // proposal; the current correction when there is none). False, with
  // `message`, when the editor has no sound to measure: the window is not shown.
  bool SoundNormalize();
  // The current correction from the pointer grid.
  void InitData();
  // The texts of the measurements and proposals.
  void InitGeneral();
  void SliderLevel_Scroll(int value) { SliderLevelChange(value); }
  void SliderLevel_Change(int value) { SliderLevelChange(value); }
  // A new station target, written to the settings; the target's proposal
  // follows. False (with `message`) when refused or not written.
  bool ChangeTarget(const LoudnessTarget& target, const std::string& settingsFile);
  const LoudnessTarget& target() const { return target_; }
  // The slider set to the station target's proposal (when there is one).
  bool UseTargetProposal();
  // Writes the slider's value into the pointer grid's level; false (with
  // `message`) when the grid refused it.
  bool CommandNormalisation_Click();

  // --- what the window shows
  int slider = 0;
  std::string label;            // SliderLabel(slider)
  std::string measuresText;     // the stored measurements, one line
  std::string proposalText;     // the suite's proposal, or why there is none
  std::string targetText;       // the station target's proposal, or why there is none
  std::string message;          // the last refusal or failure
  std::optional<double> proposal;
  std::optional<TargetProposal> targetProposal;
  LevelMeasurements levels;
  bool measuredNow = false;     // the measurement ran at this opening

 private:
  void SliderLevelChange(int value);
  PointerEditor& editor_;
  TraceLogger& log_;
  Canvas& canvas_;
  LoudnessTarget target_;
  ViewLook look_;
};

}  // namespace sono::editor
