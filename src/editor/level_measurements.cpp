#include "editor/level_measurements.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "core/files.h"
#include "core/text.h"

namespace sono::editor {

namespace {

constexpr const char* kIntegratedKey = "integrated_lufs";
constexpr const char* kRangeKey = "range_lu";
constexpr const char* kSamplePeakKey = "sample_peak_dbfs";
constexpr const char* kTruePeakKey = "true_peak_dbtp";
constexpr const char* kSoundBytesKey = "sound_bytes";

std::string Number(double value) {
  if (!IsMeasured(value)) return "-99999";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

// A value as stored: a number, or -99999; anything else is damage.
std::optional<double> ParseValue(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
  return IsMeasured(v) ? v : kNotMeasured;
}

}  // namespace

bool IsMeasured(double value) { return std::isfinite(value) && value > kNotMeasured + 0.5; }

bool LevelMeasurements::anyMeasured() const {
  return IsMeasured(integratedLufs) || IsMeasured(rangeLu) || IsMeasured(samplePeakDbfs) || IsMeasured(truePeakDbtp);
}

std::string LevelPathFor(const std::string& soundFile) {
  const PathParts p = EclateRepFicExt(soundFile);
  return p.folder + p.name + ".lvl";
}

std::string FormatLevelFile(const LevelMeasurements& levels) {
  std::string text = std::string(kLevelFileHeader) + " " + std::to_string(kLevelFileVersion) + "\n";
  text += std::string(kIntegratedKey) + "=" + Number(levels.integratedLufs) + "\n";
  text += std::string(kRangeKey) + "=" + Number(levels.rangeLu) + "\n";
  text += std::string(kSamplePeakKey) + "=" + Number(levels.samplePeakDbfs) + "\n";
  text += std::string(kTruePeakKey) + "=" + Number(levels.truePeakDbtp) + "\n";
  text += std::string(kSoundBytesKey) + "=" + std::to_string(levels.soundBytes) + "\n";
  return text;
}

std::optional<LevelMeasurements> ParseLevelFile(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != std::string(kLevelFileHeader) + " " + std::to_string(kLevelFileVersion))
    return std::nullopt;
  LevelMeasurements levels;
  int found = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == kSoundBytesKey) {
      char* end = nullptr;
      const long long bytes = std::strtoll(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || bytes < 0) return std::nullopt;
      levels.soundBytes = bytes;
      ++found;
      continue;
    }
    const auto v = ParseValue(value);
    if (!v) return std::nullopt;
    if (key == kIntegratedKey) levels.integratedLufs = *v;
    else if (key == kRangeKey) levels.rangeLu = *v;
    else if (key == kSamplePeakKey) levels.samplePeakDbfs = *v;
    else if (key == kTruePeakKey) levels.truePeakDbtp = *v;
    else continue;  // a later version's key: ignored
    ++found;
  }
  if (found != 5) return std::nullopt;  // a file cut short
  return levels;
}

bool WriteLevelFile(const std::string& soundFile, const LevelMeasurements& levels, std::string* error) {
  return WriteFileAtomic(LevelPathFor(soundFile), FormatLevelFile(levels), error);
}

std::optional<LevelMeasurements> ReadLevelFile(const std::string& soundFile, std::string* why) {
  auto say = [&](const std::string& text) {
    if (why) *why = text;
    return std::nullopt;
  };
  const std::string path = LevelPathFor(soundFile);
  struct stat levelStat {}, soundStat {};
  if (::stat(path.c_str(), &levelStat) != 0) return say("pas de mesures");
  if (::stat(soundFile.c_str(), &soundStat) != 0) return say("son introuvable");
  const auto text = ReadWholeFile(path);
  if (!text) return say("mesures illisibles");
  auto levels = ParseLevelFile(*text);
  if (!levels) return say("fichier de mesures endommagé");
  if (levels->soundBytes != static_cast<int64_t>(soundStat.st_size)) return say("mesures d'un autre son");
  const auto mtime = [](const struct stat& s) { return s.st_mtim.tv_sec * 1000000000LL + s.st_mtim.tv_nsec; };
  if (mtime(levelStat) < mtime(soundStat)) return say("mesures plus anciennes que le son");
  return levels;
}

std::string FormatLevel(double value, const char* unit) {
  if (!IsMeasured(value)) return "non mesuré";
  char text[48];
  std::snprintf(text, sizeof text, "%.2f %s", value, unit);
  return text;
}

}  // namespace sono::editor
