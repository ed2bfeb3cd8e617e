#include "recorder/recorder_settings.h"

#include <algorithm>

#include "audio/engine/alsa_device.h"
#include "audio/setup/audio_setup.h"
#include "core/ini.h"
#include "core/text.h"

namespace sono::recorder {

namespace {
constexpr const char* kSettings = "Settings";
constexpr const char* kFiles = "FichiersSon";
constexpr const char* kStart = "Recorder_DirectX_StartCondition";
constexpr const char* kStop = "Recorder_DirectX_StopCondition";

// A leading-number parse: text that does not start with a number counts as 0.
int Number(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const size_t start = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  while (i < text.size() && i - start < 10 && text[i] >= '0' && text[i] <= '9') ++i;
  try {
    return std::stoi(text.substr(start, i - start));
  } catch (...) {
    return 0;
  }
}
}  // namespace

std::string RecorderSettingsFile(const SiteConfig& config) { return config.NomFichierSettings("_Recorder", ".Ini"); }

RecorderSettings LoadRecorderSettings(const SiteConfig& config) {
  const std::string file = RecorderSettingsFile(config), lib = config.settingsFile();
  auto read = [](const std::string& f, const char* section, const char* key, const std::string& def) {
    return LectureIni(f, section, key, def);
  };
  RecorderSettings s;
  s.inputDeviceIndex = std::max(0, Number(read(file, kSettings, "InputDeviceIndex", "0")));
  s.discardSilence = Number(read(file, kSettings, "DiscardSilence", "0")) != 0;
  s.thresholdDb = Number(read(file, kSettings, "Threshold", "-50"));
  s.silenceMinLengthMs = Number(read(file, kSettings, "SilenceMinLength", "500"));
  s.prerollMs = Number(read(file, kSettings, "PreRoll", "500"));
  s.tailMs = std::max(0, Number(read(file, kSettings, "SilenceTail", "500")));
  s.virtualInputFile = read(file, kSettings, "VirtualInputFile", "");
  s.folder = read(file, kFiles, "Dossier", config.programFolder() + "Library/Sons/");
  if (!s.folder.empty() && s.folder.back() != '/') s.folder += '/';
  // The start and stop conditions are keys of the audio set-up: read through
  // its model, each with its one default and check (what the window shows).
  audio::AudioSetup setup;
  setup.Load(lib, {});
  const auto number = [&](const char* section, const char* key) { return static_cast<int>(setup.number(section, key)); };
  s.startCondition = number(kStart, "Condition");
  s.startThresholdIndex = number(kStart, "StartThreshold");
  s.startThresholdDurationMs = number(kStart, "StartThresholdDuration");
  s.stopThresholdDurationMs = number(kStop, "StopThresholdDuration");
  return s;
}

bool SaveRecorderSettings(const SiteConfig& config, const RecorderSettings& s) {
  const std::string file = RecorderSettingsFile(config), lib = config.settingsFile();
  const auto n = [](long long v) { return std::to_string(v); };
  bool ok = EcritureIni(file, kSettings, "InputDeviceIndex", n(s.inputDeviceIndex));
  ok = EcritureIni(file, kSettings, "DiscardSilence", s.discardSilence ? "1" : "0") && ok;
  ok = EcritureIni(file, kSettings, "Threshold", n(s.thresholdDb)) && ok;
  ok = EcritureIni(file, kSettings, "SilenceMinLength", n(s.silenceMinLengthMs)) && ok;
  ok = EcritureIni(file, kSettings, "PreRoll", n(s.prerollMs)) && ok;
  ok = EcritureIni(file, kSettings, "SilenceTail", n(s.tailMs)) && ok;
  ok = EcritureIni(file, kSettings, "VirtualInputFile", s.virtualInputFile) && ok;
  ok = EcritureIni(file, kFiles, "Dossier", s.folder) && ok;
  ok = EcritureIni(lib, kStart, "Condition", n(s.startCondition)) && ok;
  ok = EcritureIni(lib, kStart, "StartThreshold", n(s.startThresholdIndex)) && ok;
  ok = EcritureIni(lib, kStart, "StartThresholdDuration", n(s.startThresholdDurationMs)) && ok;
  ok = EcritureIni(lib, kStop, "StopThresholdDuration", n(s.stopThresholdDurationMs)) && ok;
  return ok;
}

TakeSettings TakeSettingsFrom(const RecorderSettings& s) {
  TakeSettings t;
  t.start = s.startCondition == 1 ? StartCondition::OnLevel : StartCondition::AtOnce;
  t.startDb = static_cast<float>(kStartThresholdsDb[static_cast<size_t>(s.startThresholdIndex)]);
  t.startDurationMs = s.startThresholdDurationMs;
  t.stopDb = static_cast<float>(s.thresholdDb);
  t.stopDurationMs = s.stopThresholdDurationMs;
  t.tailMs = s.tailMs;
  t.prerollMs = s.prerollMs;
  return t;
}

std::vector<CaptureInput> CaptureInputs(bool withCards) {
  std::vector<CaptureInput> inputs;
  if (withCards) {
    const auto cards = audio::ListAlsaCards();
    bool any = false;
    for (const auto& card : cards)
      for (const auto& pcm : card.pcms)
        if (pcm.capture) any = true;
    if (any) inputs.push_back({"default", "default"});
    for (const auto& card : cards)
      for (const auto& pcm : card.pcms)
        if (pcm.capture)
          inputs.push_back({(card.name.empty() ? card.id : card.name) + " (entrée " + std::to_string(pcm.device) + ")",
                            "plughw:CARD=" + card.id + ",DEV=" + std::to_string(pcm.device)});
  }
  inputs.push_back({"Entrée virtuelle", ""});
  return inputs;
}

}  // namespace sono::recorder
