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
constexpr long long kLongestMs = 3600000;  // an hour: longer than any wait a take needs

// A leading-number parse: text that does not start with a number counts as
// 0 (`number` false); "250ms" is 250. Digits past the tenth are ignored.
long long Number(const std::string& text, bool& number) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const size_t start = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const size_t digits = i;
  while (i < text.size() && i - digits < 10 && text[i] >= '0' && text[i] <= '9') ++i;
  number = i > digits;
  return number ? std::stoll(text.substr(start, i - start)) : 0;
}

// The numeric keys: where they are, their default and their range.
enum class Where { Recorder, Library };
struct NumberKey {
  Where where;
  const char* section;
  const char* key;
  int fallback;
  long long low, high;
  int RecorderSettings::*field;
};
const NumberKey kNumberKeys[] = {
    {Where::Recorder, kSettings, "InputDeviceIndex", 0, 0, 999, &RecorderSettings::inputDeviceIndex},
    {Where::Recorder, kSettings, "Threshold", -50, -144, 0, &RecorderSettings::thresholdDb},
    {Where::Recorder, kSettings, "SilenceMinLength", 500, 0, kLongestMs, &RecorderSettings::silenceMinLengthMs},
    {Where::Recorder, kSettings, "PreRoll", 500, 0, 60000, &RecorderSettings::prerollMs},
    {Where::Recorder, kSettings, "SilenceTail", 500, 0, 60000, &RecorderSettings::tailMs},
    {Where::Library, kStart, "Condition", 0, 0, 1, &RecorderSettings::startCondition},
    {Where::Library, kStart, "StartThreshold", 0, 0, static_cast<long long>(kStartThresholdsDb.size()) - 1,
     &RecorderSettings::startThresholdIndex},
    {Where::Library, kStart, "StartThresholdDuration", 0, 0, kLongestMs, &RecorderSettings::startThresholdDurationMs},
    {Where::Library, kStop, "StopThresholdDuration", 0, 0, kLongestMs, &RecorderSettings::stopThresholdDurationMs},
};

std::string Quoted(const char* section, const char* key, const std::string& value) {
  return std::string("[") + section + "] " + key + " = «" + value + "»";
}

// A text value as the settings files can hold it: a line break inside it
// (a lone carriage return read from a damaged file) is a blank, and blanks
// at its ends go, as they do when it is written and read back.
std::string StorableText(const std::string& text) {
  return Trim(ReplaceAll(ReplaceAll(text, "\r", " "), "\n", " "));
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}
}  // namespace

std::string RecorderSettingsFile(const SiteConfig& config) { return config.NomFichierSettings("_Recorder", ".Ini"); }

RecorderSettingsRead ParseRecorderSettings(const IniDocument& recorderFile, const IniDocument& libraryFile,
                                           const std::string& defaultFolder) {
  RecorderSettingsRead r;
  RecorderSettings& s = r.settings;
  // The start and stop conditions are keys of the audio set-up: read through
  // its model, each with its one default and check (what its window shows).
  audio::AudioSetup setup;
  setup.LoadDocument(libraryFile, {});
  for (const NumberKey& k : kNumberKeys) {
    const auto text = (k.where == Where::Recorder ? recorderFile : libraryFile).get(k.section, k.key);
    if (k.where == Where::Library) {
      s.*k.field = static_cast<int>(setup.number(k.section, k.key));
      if (text && !Trim(*text).empty() && ParseInt(*text) != std::optional<long long>(s.*k.field))
        r.warnings.push_back(Quoted(k.section, k.key, *text) + ": refusé par les réglages audio, " +
                             std::to_string(s.*k.field) + " pris");
      continue;
    }
    if (!text) {
      s.*k.field = k.fallback;
      continue;
    }
    bool number = false;
    const long long n = Number(*text, number);
    const long long held = std::clamp(n, k.low, k.high);
    s.*k.field = static_cast<int>(held);
    if (!number)
      r.warnings.push_back(Quoted(k.section, k.key, *text) + ": pas un nombre, " + std::to_string(held) + " pris");
    else if (held != n)
      r.warnings.push_back(Quoted(k.section, k.key, *text) + ": hors de " + std::to_string(k.low) + " à " +
                           std::to_string(k.high) + ", " + std::to_string(held) + " pris");
  }
  if (const auto text = recorderFile.get(kSettings, "DiscardSilence")) {
    bool number = false;
    s.discardSilence = Number(*text, number) != 0;
    if (!number) r.warnings.push_back(Quoted(kSettings, "DiscardSilence", *text) + ": pas un nombre, 0 pris");
  }
  s.virtualInputFile = StorableText(recorderFile.get(kSettings, "VirtualInputFile").value_or(""));
  const std::string folder = StorableText(recorderFile.get(kFiles, "Dossier").value_or(""));
  s.folder = WithSlash(folder.empty() ? defaultFolder : folder);
  return r;
}

void StoreRecorderSettings(const RecorderSettings& s, IniDocument& recorderFile, IniDocument& libraryFile) {
  for (const NumberKey& k : kNumberKeys)
    (k.where == Where::Recorder ? recorderFile : libraryFile).set(k.section, k.key, std::to_string(s.*k.field));
  recorderFile.set(kSettings, "DiscardSilence", s.discardSilence ? "1" : "0");
  recorderFile.set(kSettings, "VirtualInputFile", s.virtualInputFile);
  recorderFile.set(kFiles, "Dossier", s.folder);
}

RecorderSettings LoadRecorderSettings(const SiteConfig& config, std::vector<std::string>* warnings) {
  RecorderSettingsRead r = ParseRecorderSettings(IniDocument::load(RecorderSettingsFile(config)),
                                                 IniDocument::load(config.settingsFile()),
                                                 config.programFolder() + "Library/Sons/");
  if (warnings) *warnings = std::move(r.warnings);
  return r.settings;
}

bool SaveRecorderSettings(const SiteConfig& config, const RecorderSettings& s) {
  // Each key through EcritureIni (which refuses to replace a file it cannot
  // read), with the values StoreRecorderSettings writes.
  IniDocument recorderKeys, libraryKeys;
  StoreRecorderSettings(s, recorderKeys, libraryKeys);
  bool ok = true;
  for (const auto& [doc, file] : {std::pair{&recorderKeys, RecorderSettingsFile(config)},
                                  std::pair{&libraryKeys, config.settingsFile()}})
    for (const char* section : {kSettings, kFiles, kStart, kStop})
      for (const std::string& key : doc->keys(section))
        ok = EcritureIni(file, section, key, doc->get(section, key).value_or("")) && ok;
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
