// The recorder's settings: its own file (the library settings name with
// "_Recorder", ".Ini") and the start and stop conditions that the audio
// set-up window writes into the library settings file. Read at each take, so
// a change applies to the next one.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/ini.h"
#include "recorder/take_recorder.h"

namespace sono::recorder {

// The start level list of the set-up window (index -> dB), the boards' list.
inline const std::vector<int> kStartThresholdsDb = {-40, -50, -60, -70};

struct RecorderSettings {
  // "Settings" of the recorder file.
  int inputDeviceIndex = 0;      // "InputDeviceIndex": index in CaptureInputs()
  bool discardSilence = false;   // "DiscardSilence"
  int thresholdDb = -50;         // "Threshold": the silence level (dB)
  int silenceMinLengthMs = 500;  // "SilenceMinLength"
  // Ours: the pre-roll kept before a level-triggered start, the tail kept
  // after the silence that stops a take, the virtual input's sound file.
  int prerollMs = 500;           // "PreRoll"
  int tailMs = 500;              // "SilenceTail"
  std::string virtualInputFile;  // "VirtualInputFile"
  // "FichiersSon"
  std::string folder;            // "Dossier": where takes are written
  // The library settings file: "Recorder_DirectX_StartCondition" and
  // "Recorder_DirectX_StopCondition".
  int startCondition = 0;             // "Condition": 0 "Dès que possible", 1 "Déclenchement automatique"
  int startThresholdIndex = 0;        // "StartThreshold": index in kStartThresholdsDb
  int startThresholdDurationMs = 0;   // "StartThresholdDuration"
  int stopThresholdDurationMs = 0;    // "StopThresholdDuration": 0 = no automatic stop

  bool operator==(const RecorderSettings&) const = default;
};

// What the two files say, and what in them could not be taken as written.
struct RecorderSettingsRead {
  RecorderSettings settings;
  // One line per value that is no number or lies outside its range (the
  // nearest allowed value is taken), in French.
  std::vector<std::string> warnings;
};

// The settings from the recorder settings file and the library settings
// file (their contents; empty for a missing file): defaults for what is
// missing, numbers read with a leading-number parse ("250ms" is 250, "deux"
// is 0), each held to its range. `defaultFolder` when "Dossier" is missing.
RecorderSettingsRead ParseRecorderSettings(const IniDocument& recorderFile, const IniDocument& libraryFile,
                                           const std::string& defaultFolder);
// Writes every key the recorder owns into the two documents, as
// ParseRecorderSettings reads them back.
void StoreRecorderSettings(const RecorderSettings& settings, IniDocument& recorderFile, IniDocument& libraryFile);

std::string RecorderSettingsFile(const SiteConfig& config);
// The settings as the files hold them now (defaults for what is missing;
// numbers read with a leading-number parse).
RecorderSettings LoadRecorderSettings(const SiteConfig& config, std::vector<std::string>* warnings = nullptr);
// FrmRecorderSetup's OK: every value written; false when a file could not be.
bool SaveRecorderSettings(const SiteConfig& config, const RecorderSettings& settings);
// What one take does with these settings.
TakeSettings TakeSettingsFrom(const RecorderSettings& settings);

// The capture inputs the recorder offers (ComboInputDevices): the ALSA
// capture devices of the machine's cards ("default" first when there is a
// card), then the virtual input.
struct CaptureInput {
  std::string name;  // shown in the list
  std::string pcm;   // ALSA PCM; empty for the virtual input
};
std::vector<CaptureInput> CaptureInputs(bool withCards = true);

}  // namespace sono::recorder
