// Lib_PCX_QZ's record procedures: the record pipe's digital input
// (`DigitalRecordActivation`), its stream's record format
// (`PCXToolsInSetRecordFormat`), the start of a take with its record mode and
// start condition (`PCXToolsInRecordFile`), pause and resume
// (`RecordPauseOff`). The set-up window's recording controls are read at
// each take, so a change applies to the next one.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "audio/pcx/pcx_qz.h"

namespace sono::audio {

class AudioSetup;

// The set-up window's recording controls, as list indexes and texts in ms.
struct PcxRecordSettings {
  int compression = 0;     // "Compression": 0 "MPEG", 1 "Linéaire"
  int layer = 0;           // "Layer": 0 "Layer 2", 1 "Layer 3"
  int bitRate = 0;         // "BitRate": index in kRecordBitRates
  int frequency = 0;       // "Frequency": index in kRecordFrequencies
  int condition = 0;       // start condition: 0 ASAP, 1 ONSTART, 2 ASAEOF
  int declenchement = 0;   // 0 "Manuel", 1 "Automatique" (threshold recording)
  int startThreshold = 1;  // index in kRecordThresholdsDb
  int endThreshold = 1;
  int startDurationMs = 0, endDurationMs = 0;
  int overWrite = 0;       // record mode, `OptionRecorderOverWrite`
  int startPosMs = 0, endPosMs = 0, startPosCutMs = 0;
};

inline constexpr std::array<int, 4> kRecordThresholdsDb = {-40, -50, -60, -70};
inline constexpr std::array<int, 1> kRecordBitRates = {256};
inline constexpr std::array<int, 2> kRecordFrequencies = {48000, 44100};

PcxRecordSettings ReadPcxRecordSettings(const AudioSetup& setup);

// The start conditions' log names, by value.
const char* StartConditionName(int condition);

class PcxRecord {
 public:
  explicit PcxRecord(PcxQz& qz);

  // The recording controls (default: the settings file as the set-up window saved it).
  std::function<PcxRecordSettings()> settings;
  // The editor's side of the existing-file question: the sound-changed flag
  // set, its waveform pictures cleared, the song's steps deleted, the
  // current sound's duration.
  std::function<void()> soundChanged, clearPictures, deleteSteps;
  std::function<int64_t()> currentDurationMs;
  // The program is stopping: no take starts.
  bool programStopping = false;

  bool PCXToolsInSetRecordFormat(int slot, int stream);
  // Starts the take on `file`; `cancelled` when the user cancelled the
  // existing-file question.
  bool PCXToolsInRecordFile(int slot, int stream, const std::string& file, bool& cancelled);
  bool DigitalRecordActivation(int slot, int board, int input, bool activate);
  bool PCXToolsInStreamStart(int stream);
  // Pause on the board path: the monitoring muted and the pipe paused.
  bool RecordPause();
  bool RecordPauseOff();

  // Engine state: the handle of the last record call (0: failed), the
  // record pipe's take flags, the append base (ms).
  uint32_t recordHandle = 0;
  bool recording = false, paused = false;
  int64_t appendBase = 0;
  int recordStream = 0;

 private:
  void logLine(const std::string& text);
  bool inputAvailable() const;
  PcxQz& qz_;
};

}  // namespace sono::audio
