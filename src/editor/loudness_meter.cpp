#include "editor/loudness_meter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <vector>

#include "audio/codec/sound_reader.h"
#include "editor/loudness_analyser.h"

namespace sono::editor {

namespace {

constexpr int kChannels = 2;           // the readers always give stereo
constexpr long kBlockFrames = 48000;   // one second per read

double PeakToDb(double linear) { return linear > 0 ? 20.0 * std::log10(linear) : kNotMeasured; }
double LoudnessOrMissing(double lufs) { return std::isfinite(lufs) ? lufs : kNotMeasured; }

std::string Summary(const LevelMeasurements& l) {
  return "I: " + FormatLevel(l.integratedLufs, "LUFS") + " |LRA: " + FormatLevel(l.rangeLu, "LU") +
         " |Peak: " + FormatLevel(l.samplePeakDbfs, "dBFS") + " |True peak: " + FormatLevel(l.truePeakDbtp, "dBTP");
}

}  // namespace

LevelMeasureResult MeasureLevels(const std::string& soundFile) {
  LevelMeasureResult result;
  struct stat st {};
  if (::stat(soundFile.c_str(), &st) != 0) {
    result.error = "Fichier son non trouvé: " + soundFile;
    return result;
  }
  audio::InitDecoders();
  audio::OpenedSound opened = audio::OpenSound(soundFile);
  if (!opened.reader) {
    result.error = "Son illisible: " + soundFile + (opened.message.empty() ? "" : " (" + opened.message + ")");
    return result;
  }
  audio::SoundReader& reader = *opened.reader;
  const int rate = reader.format().sampleRate;
  if (rate <= 0) {
    result.error = "Mesure impossible (fréquence " + std::to_string(rate) + " Hz): " + soundFile;
    return result;
  }
  LoudnessAnalyser analyser(rate);
  std::vector<float> block(static_cast<size_t>(kBlockFrames) * kChannels);
  for (;;) {
    const long got = reader.readStereo(block.data(), kBlockFrames);
    if (got < 0) {
      result.error = "Erreur de décodage du son: " + soundFile;
      return result;
    }
    if (got == 0) break;
    analyser.add(block.data(), got);
  }
  LevelMeasurements& l = result.levels;
  l.integratedLufs = LoudnessOrMissing(analyser.integratedLufs());
  l.rangeLu = analyser.rangeLu();
  const double samplePeak = analyser.samplePeak(), truePeak = analyser.truePeak();
  l.samplePeakDbfs = PeakToDb(samplePeak);
  // The oversampled peak is never under the sample peak it contains.
  l.truePeakDbtp = PeakToDb(std::max(truePeak, samplePeak));
  if (!IsMeasured(l.integratedLufs)) l.rangeLu = kNotMeasured;  // no loudness, no range
  // Kept to the thousandth, as the file stores them: a value measured now and
  // the same value read back give the same proposals.
  for (double* v : {&l.integratedLufs, &l.rangeLu, &l.samplePeakDbfs, &l.truePeakDbtp})
    if (IsMeasured(*v)) *v = std::round(*v * 1000) / 1000;
  l.soundBytes = static_cast<int64_t>(st.st_size);
  result.ok = true;
  return result;
}

LevelMeasureResult MeasureAndStoreLevels(const std::string& soundFile, TraceLogger& log, const std::string& caller) {
  LevelMeasureResult result = MeasureLevels(soundFile);
  if (!result.ok) {
    // Measures of the sound that was there before would be taken for this one's.
    if (::unlink(LevelPathFor(soundFile).c_str()) != 0 && errno != ENOENT)
      log.TraceLog("Err: Levels: Unable to delete " + LevelPathFor(soundFile));
    log.TraceLog("Err: Levels: " + result.error + " |Sub: " + caller);
    return result;
  }
  std::string error;
  if (!WriteLevelFile(soundFile, result.levels, &error)) {
    const bool diskFull = errno == ENOSPC || errno == EFBIG || errno == EDQUOT;
    result.ok = false;
    result.error = "Impossible d'écrire les mesures: " + LevelPathFor(soundFile) + (diskFull ? " (disque plein)" : "");
    log.TraceLog("Err: Levels: " + error + " |Sub: " + caller);
    return result;
  }
  log.TraceLog("Levels: " + Summary(result.levels) + " |File: " + soundFile + " |Sub: " + caller);
  return result;
}

}  // namespace sono::editor
