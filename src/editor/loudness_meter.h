// Measures a sound's levels as broadcasters do (EBU R 128, through
// `LoudnessAnalyser`): integrated loudness, loudness range, sample peak and true
// peak, in one decode of the sound. The envelope (".gpx") is read from the
// house format's level bytes without decoding, so this decode is the only
// one a rebuild costs. `MeasureAndStoreLevels` is what the import, the
// reconversion, the editor's rebuild and `loudness` call.
#pragma once
#include <string>

#include "core/tracelog.h"
#include "editor/level_measurements.h"

namespace sono::editor {

struct LevelMeasureResult {
  bool ok = false;
  LevelMeasurements levels;
  std::string error;  // French, for the user and the log
};

// Decodes `soundFile` (any format the readers open; read as stereo) and
// measures it. A sound that cannot be opened or decoded fails; silence is
// measured (its loudness and peaks are -99999).
LevelMeasureResult MeasureLevels(const std::string& soundFile);

// Measures and writes "<sound>.lvl"; logs "Levels: …" or "Err: Levels: …".
// A measurement that fails leaves no file (an older one is removed: it was
// the measure of another sound); a write that fails keeps the previous file.
LevelMeasureResult MeasureAndStoreLevels(const std::string& soundFile, TraceLogger& log, const std::string& caller);

}  // namespace sono::editor
