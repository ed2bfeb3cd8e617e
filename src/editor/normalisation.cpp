#include "editor/normalisation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/ini.h"
#include "core/text.h"
#include "data/ptx.h"
#include "editor/envelope_draw.h"
#include "editor/loudness_meter.h"
#include "editor/pointer_editor.h"
#include "editor/rounding.h"

namespace sono::editor {

namespace {

constexpr double kTargetLow = -70, kTargetHigh = 0, kCeilingLow = -20, kCeilingHigh = 0;

double SettingOr(const std::string& file, const char* key, double fallback, double low, double high) {
  const std::string text = Trim(LectureIni(file, kNormalisationSection, key, ""));
  if (text.empty()) return fallback;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v < low || v > high) return fallback;
  return v;
}

}  // namespace

LoudnessTarget LoadLoudnessTarget(const std::string& settingsFile) {
  LoudnessTarget t;
  t.targetLufs = SettingOr(settingsFile, kTargetKey, LoudnessTarget::kDefaultTargetLufs, kTargetLow, kTargetHigh);
  t.ceilingDbtp =
      SettingOr(settingsFile, kCeilingKey, LoudnessTarget::kDefaultCeilingDbtp, kCeilingLow, kCeilingHigh);
  t.withoutReencoding = Trim(LectureIni(settingsFile, kNormalisationSection, kWithoutReencodingKey, "")) != "0";
  return t;
}

std::string CheckLoudnessTarget(const LoudnessTarget& t) {
  if (!std::isfinite(t.targetLufs) || t.targetLufs < kTargetLow || t.targetLufs > kTargetHigh)
    return "Cible de sonie hors limites (de -70 à 0 LUFS).";
  if (!std::isfinite(t.ceilingDbtp) || t.ceilingDbtp < kCeilingLow || t.ceilingDbtp > kCeilingHigh)
    return "Plafond de crête vraie hors limites (de -20 à 0 dBTP).";
  return {};
}

bool SaveLoudnessTarget(const std::string& settingsFile, const LoudnessTarget& t, std::string& error) {
  error = CheckLoudnessTarget(t);
  if (!error.empty()) return false;
  char target[32], ceiling[32];
  std::snprintf(target, sizeof target, "%.1f", t.targetLufs);
  std::snprintf(ceiling, sizeof ceiling, "%.1f", t.ceilingDbtp);
  if (!EcritureIni(settingsFile, kNormalisationSection, kTargetKey, target) ||
      !EcritureIni(settingsFile, kNormalisationSection, kCeilingKey, ceiling)) {
    error = "Impossible d'enregistrer la cible de sonie dans " + settingsFile + ".";
    return false;
  }
  return true;
}

std::optional<double> SoundNormalizeCorrection(std::span<const double> values) {
  double sum = 0;
  int valid = 0;
  for (double v : values)
    if (IsMeasured(v)) sum += v, ++valid;
  if (valid == 0) return std::nullopt;
  const double level = (sum / valid + 0.5) / 2;
  return -level;
}

std::optional<TargetProposal> TargetCorrection(const LevelMeasurements& levels, const LoudnessTarget& target) {
  if (!IsMeasured(levels.integratedLufs)) return std::nullopt;
  TargetProposal p;
  p.correctionDb = target.targetLufs - levels.integratedLufs;
  if (IsMeasured(levels.truePeakDbtp) && levels.truePeakDbtp + p.correctionDb > target.ceilingDbtp) {
    p.correctionDb = target.ceilingDbtp - levels.truePeakDbtp;
    p.heldByCeiling = true;
  }
  return p;
}

int SliderForCorrection(double correctionDb) {
  return std::clamp(RoundEvenInt(correctionDb * 100), NormalisationWindow::kSliderMin, NormalisationWindow::kSliderMax);
}

std::string SliderLabel(int slider) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", slider / 100.0);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s + " dB";
}

bool NormalisationWindow::SoundNormalize() {
  message.clear();
  if (Trim(editor_.sound.code).empty() || !editor_.lengthMeasured()) {
    message = "Pas de son à normaliser dans l'éditeur.";
    return false;
  }
  const std::string& sound = editor_.sound.soundFile;
  measuredNow = false;
  std::string why;
  if (auto stored = ReadLevelFile(sound, &why)) {
    levels = *stored;
  } else {
    log_.TraceLog("SoundNormalize: Measuring |Why: " + why + " |File: " + sound);
    const LevelMeasureResult r = MeasureAndStoreLevels(sound, log_, "SoundNormalize");
    // A measurement that could not be stored still serves this window.
    if (!r.levels.anyMeasured() && !r.ok) {
      message = r.error;
      levels = {};
    } else {
      levels = r.levels;
      if (!r.ok) message = r.error;
    }
    measuredNow = true;
  }
  const auto values = levels.peakValues();
  proposal = SoundNormalizeCorrection(values);
  targetProposal = TargetCorrection(levels, target_);
  InitData();
  InitGeneral();
  if (proposal) SliderLevelChange(SliderForCorrection(*proposal));
  log_.TraceLog("SoundNormalize: " + Trim(editor_.sound.code) + " |Proposal: " +
                (proposal ? std::to_string(SliderForCorrection(*proposal)) : std::string("none")) + " |Target: " +
                (targetProposal ? std::to_string(SliderForCorrection(targetProposal->correctionDb)) : std::string("none")));
  return true;
}

void NormalisationWindow::InitData() { SliderLevelChange(SliderForCorrection(editor_.ptx.level)); }

void NormalisationWindow::InitGeneral() {
  measuresText = "Sonie intégrée " + FormatLevel(levels.integratedLufs, "LUFS") + ", plage " +
                 FormatLevel(levels.rangeLu, "LU") + ", crête " + FormatLevel(levels.samplePeakDbfs, "dBFS") +
                 ", crête vraie " + FormatLevel(levels.truePeakDbtp, "dBTP");
  proposalText = proposal ? "Proposition: " + SliderLabel(SliderForCorrection(*proposal))
                          : std::string("Pas de proposition: aucune mesure de niveau du son.");
  if (!targetProposal) {
    targetText = "Cible de la station: pas de sonie mesurée.";
  } else {
    char target[64];
    std::snprintf(target, sizeof target, "%.1f LUFS", target_.targetLufs);
    targetText = "Cible de la station (" + std::string(target) + "): " +
                 SliderLabel(SliderForCorrection(targetProposal->correctionDb));
    if (targetProposal->heldByCeiling) {
      char ceiling[64];
      std::snprintf(ceiling, sizeof ceiling, "%.1f dBTP", target_.ceilingDbtp);
      targetText += " (limitée par le plafond de crête vraie " + std::string(ceiling) + ")";
    }
  }
}

void NormalisationWindow::SliderLevelChange(int value) {
  slider = std::clamp(value, kSliderMin, kSliderMax);
  label = SliderLabel(slider);
  canvas_.clear(look_.background);
  if (editor_.envelopeCount > 0)
    EnergieAffiche(canvas_, editor_.envelopeCount, editor_.envelope, 0, look_.envelope, slider / 100.0,
                   look_.background);
}

bool NormalisationWindow::ChangeTarget(const LoudnessTarget& target, const std::string& settingsFile) {
  message.clear();
  if (!SaveLoudnessTarget(settingsFile, target, message)) return false;
  target_ = target;
  targetProposal = TargetCorrection(levels, target_);
  InitGeneral();
  log_.TraceLog("FrmNormalisation: Station target " + std::to_string(target.targetLufs) + " LUFS |Ceiling: " +
                std::to_string(target.ceilingDbtp) + " dBTP");
  return true;
}

bool NormalisationWindow::UseTargetProposal() {
  if (!targetProposal) return false;
  SliderLevelChange(SliderForCorrection(targetProposal->correctionDb));
  return true;
}

bool NormalisationWindow::CommandNormalisation_Click() {
  message.clear();
  if (!editor_.SetLevel(slider)) {
    message = editor_.lastMessage;
    return false;
  }
  log_.TraceLog("FrmNormalisation: Level " + std::to_string(slider) + " |Code: " + Trim(editor_.sound.code) +
                " |Integrated: " + FormatLevel(levels.integratedLufs, "LUFS"));
  return true;
}

}  // namespace sono::editor
