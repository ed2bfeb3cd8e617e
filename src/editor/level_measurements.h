// The level measurements of a sound (integrated loudness, loudness range,
// sample peak, true peak) and the small file that keeps them beside the
// sound's ".gpx": "<sound name>.lvl". The file is text, versioned by its first
// line, written atomically; a value that could not be measured is -99999.
// A file older than the sound, of another sound size or of an unknown
// version is not used: the sound reads as not measured.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace sono::editor {

// Marks a value that could not be measured (silence has no loudness).
inline constexpr double kNotMeasured = -99999.0;
inline constexpr const char* kLevelFileHeader = "Sonoteka levels";
inline constexpr int kLevelFileVersion = 1;

struct LevelMeasurements {
  double integratedLufs = kNotMeasured;   // EBU R 128 integrated loudness
  double rangeLu = kNotMeasured;          // loudness range
  double samplePeakDbfs = kNotMeasured;   // highest sample, both channels
  double truePeakDbtp = kNotMeasured;     // highest inter-sample peak (4x oversampled)
  int64_t soundBytes = 0;                 // size of the sound measured

  // The peak values the editor's proposal averages (`SoundNormalize`).
  std::array<double, 2> peakValues() const { return {samplePeakDbfs, truePeakDbtp}; }
  bool anyMeasured() const;
};

bool IsMeasured(double value);

// "<folder><name>.lvl" beside the sound (and its ".gpx").
std::string LevelPathFor(const std::string& soundFile);

std::string FormatLevelFile(const LevelMeasurements& levels);
// Nothing when the text is not a level file of a known version.
std::optional<LevelMeasurements> ParseLevelFile(const std::string& text);

// Writes the file beside `soundFile` atomically; false (with `error`) leaves
// any previous file whole.
bool WriteLevelFile(const std::string& soundFile, const LevelMeasurements& levels, std::string* error = nullptr);
// The stored measurements of `soundFile`; nothing when the file is missing,
// damaged, of another version, or does not fit the sound (`why` says which).
std::optional<LevelMeasurements> ReadLevelFile(const std::string& soundFile, std::string* why = nullptr);

// "-23.05 LUFS" or "non mesuré".
std::string FormatLevel(double value, const char* unit);

}  // namespace sono::editor
