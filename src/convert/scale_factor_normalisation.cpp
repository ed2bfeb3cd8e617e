#include "convert/scale_factor_normalisation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/codec/scale_factor_gain.h"
#include "core/files.h"
#include "core/system_error_text.h"
#include "data/pervasive.h"
#include "data/ptx.h"
#include "editor/normalisation.h"

namespace sono::convert {

namespace {

constexpr const char* kCaller = "NormalisationEnMasse_01_Action";

// The Level correction on every station at once: gone when it rounds to 0.
bool StoreLevelCorrection(data::Library& lib, const std::string& code, double levelDb) {
  const double hundredths = std::round(levelDb * 100.0);
  data::BaseTransaction txn(lib.db(), lib.base(), data::kPointers, kCaller);
  if (!txn.begun()) return false;
  for (int station = 1; station <= lib.stationCount(); ++station) {
    int status = data::PtxDetruirePointeur(lib, station, code, data::kLevel);
    if (status == 0 && hundredths != 0)
      status = data::PtxSauvegarderPointeurLevel(lib, station, code, static_cast<float>(hundredths / 100.0));
    if (status != 0) {
      txn.abort();
      return false;
    }
  }
  return txn.commit() == 0;
}

}  // namespace

ScaleFactorOutcome NormaliseByScaleFactors(MassNormalisationPorts& p, const std::string& code,
                                           const editor::LevelMeasurements& measured, NormalisedSound& out) {
  TraceLogger& log = p.converter.log;
  if (!editor::IsMeasured(measured.integratedLufs) || !editor::IsMeasured(measured.truePeakDbtp))
    return ScaleFactorOutcome::Unsuited;
  const editor::LoudnessTarget target = editor::LoadLoudnessTarget(p.lib.config().settingsFile());
  // The gain scales the true peak exactly (no encoder moves it): the whole
  // room under the ceiling may be used.
  const double wanted = target.targetLufs - measured.integratedLufs;
  const double gainDb = std::min(wanted, target.ceilingDbtp - measured.truePeakDbtp);
  // Whole steps towards zero: the remainder keeps the gain's sign and stays
  // under one step, so the Level correction never passes the ceiling either.
  const int steps = static_cast<int>(std::trunc(gainDb / audio::kScaleFactorStepDb));
  const double remainderDb = gainDb - steps * audio::kScaleFactorStepDb;
  out.heldByCeiling = gainDb < wanted - 0.005;
  if (out.heldByCeiling)
    log.TraceLog("Normalization: Held by the true-peak ceiling |File: " + out.sound + " |Integrated: " +
                 editor::FormatLevel(measured.integratedLufs + gainDb, "LUFS"));

  if (steps != 0) {
    int readError = 0;
    std::optional<std::string> stream = ReadWholeFile(out.sound, &readError);
    if (!stream) {
      out.message = "Impossible de lire le son: " + out.sound + " (" + SystemErrorText(readError) + ")";
      log.TraceLog("Err: Normalization: " + out.message);
      return ScaleFactorOutcome::Failed;
    }
    const audio::ScaleFactorGainResult r = audio::ApplyScaleFactorGain(*stream, steps);
    if (!r.ok) {
      log.TraceLog("Normalization: Scale factors refused (" + r.error + ") |File: " + out.sound);
      return ScaleFactorOutcome::Unsuited;
    }
    if (p.driver.onTargetInUse) p.driver.onTargetInUse(out.sound);
    std::string error;
    if (!WriteFileAtomic(out.sound, *stream, &error)) {
      out.message = "Normalisation impossible: " + error;
      log.TraceLog("Err: Normalization: " + out.message);
      return ScaleFactorOutcome::Failed;
    }
  }
  char levelText[32];
  std::snprintf(levelText, sizeof levelText, "%.2f", std::round(remainderDb * 100.0) / 100.0);
  log.TraceLog("Normalization: Scale factors |Steps: " + std::to_string(steps) + " |Level: " + levelText +
               " dB |File: " + out.sound);
  out.withoutReencoding = true;
  out.levelCorrectionDb = std::round(remainderDb * 100.0) / 100.0;
  if (!StoreLevelCorrection(p.lib, code, remainderDb)) {
    out.message = "Son normalisé, mais la correction de niveau du morceau n'a pas pu être enregistrée (voir le journal).";
    log.TraceLog("Err: Normalization: level pointer not stored |File: " + out.sound);
  }
  return ScaleFactorOutcome::Done;
}

}  // namespace sono::convert
