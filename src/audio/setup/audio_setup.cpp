#include "audio/setup/audio_setup.h"

#include <fmt/format.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "audio/engine/engine.h"
#include "core/config.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"

namespace sono::audio {

namespace {

constexpr double kLongest = std::numeric_limits<int32_t>::max();
constexpr int kMonoInputs = 10;
// Format flags in the order of kFormatNames.
constexpr std::array<int, kSetupFormats> kFormatFlags = {kFormatMpegL1, kFormatMpegL2, kFormatMpegL3,
                                                          kFormatPcm8,   kFormatPcm16,  kFormatPcm24};

SetupKey Key(std::string section, std::string key, std::string fallback, SetupKind kind, double low = 0,
             double high = 0, SetupSide side = SetupSide::Out, int slot = 0) {
  return {std::move(section), std::move(key), std::move(fallback), kind, side, slot, low, high};
}

SetupKey Choice(std::string section, std::string key, std::string fallback, size_t count) {
  return Key(std::move(section), std::move(key), std::move(fallback), SetupKind::Integer, 0,
             static_cast<double>(count) - 1);
}

std::vector<SetupKey> BuildKeys() {
  std::vector<SetupKey> k;
  const auto slotKeys = [&](SetupSide side, int slot) {
    const bool out = side == SetupSide::Out;
    k.push_back(Key(out ? kGeneralOut : kGeneralIn, NatureKey(slot), "0", SetupKind::Nature, 0, 2, side, slot));
    for (int nature : {kNaturePcxTools, kNatureDirectX}) {
      const std::string section = DeviceSection(nature, side, slot);
      const bool pcx = nature == kNaturePcxTools;
      k.push_back(Key(section, "Device", pcx ? "-1" : "0", pcx ? SetupKind::PcxDevice : SetupKind::DirectXDevice, 0,
                      0, side, slot));
      // The DJ Studio recorder has no pipe to force a board on.
      if (pcx || out) k.push_back(Key(section, "ForcerCarte", "-1", SetupKind::ForcedBoard, 0, 0, side, slot));
    }
    const std::string level = LevelSection(side, slot);
    k.push_back(Key(level, "Digital", "0", SetupKind::Decibels, -220, 18, side, slot));
    k.push_back(Key(level, "Analog", "-24", SetupKind::Decibels, -220, 0, side, slot));
    const char* digital = out ? kDigitalOutSection : kDigitalInSection;
    k.push_back(Key(digital, SlotKey("Active_", slot), "0", SetupKind::Flag, 0, 1, side, slot));
    if (out)
      k.push_back(Choice(digital, SlotKey("Format_", slot), "0", kDigitalOutputFormats.size()));
    else
      k.push_back(Choice(digital, SlotKey("Value_", slot), "0", kDigitalInputSources.size()));
    k.push_back(Choice(digital, SlotKey("Clock_", slot), "4", kClockNames.size()));
    k.push_back(Key(digital, SlotKey("NoBoard_", slot), "0", SetupKind::ClockBoard, 0, 0, side, slot));
    k.push_back(Key(digital, SlotKey("NoInput_", slot), "1", SetupKind::Integer, 1, kMonoInputs, side, slot));
  };
  for (int slot = 0; slot < kPlaybackSlots; ++slot) slotKeys(SetupSide::Out, slot);
  for (int slot = 0; slot < kRecordSlots; ++slot) slotKeys(SetupSide::In, slot);
  k.push_back(Key(kFormatsSection, "Out", "010000", SetupKind::Formats, 0, 0, SetupSide::Out));
  k.push_back(Key(kFormatsSection, "In", "010000", SetupKind::Formats, 0, 0, SetupSide::In));
  // The player control keeps buffers of 50 to 5000 ms.
  k.push_back(Key(kDirectXSection, "BufferSize", "500", SetupKind::Integer, 50, 5000));

  // Effects of the conversion, read at each conversion.
  const char* convert = "Convert";
  k.push_back(Key(convert, "CheckEffectActif0", "0", SetupKind::Flag));
  k.push_back(Key(convert, "CheckEffetCutDebut", "1", SetupKind::Flag));
  k.push_back(Key(convert, "CheckEffetCutFin", "1", SetupKind::Flag));
  k.push_back(Key(convert, "OptionEffetTrim0", "0", SetupKind::Flag));
  k.push_back(Key(convert, "TexteEffetCutSeuil0", "-90", SetupKind::Decibels, -144, 0));
  k.push_back(Key(convert, "TexteEffetCutSeuil1", "100", SetupKind::Integer, 0, 60000));
  k.push_back(Key(convert, "CheckEffectActif1", "0", SetupKind::Flag));
  // "peak", "rg", "adapt", "fixed", and the station's loudness target.
  k.push_back(Key(convert, "OptionEffetNormalise", "0", SetupKind::Integer, 0, 4));
  k.push_back(Key(convert, "TexteEffetNormalisationMax", "98", SetupKind::Decibels, 1, 100));
  k.push_back(Key(convert, "SliderEffetNormalisation0", "-16", SetupKind::Decibels, -60, 0));
  k.push_back(Key(convert, "SliderEffetNormalisation1", "0", SetupKind::Decibels, -30, 30));
  k.push_back(Key(convert, "CheckConvertAfficherProgression", "0", SetupKind::Flag));

  // Takes on the record pipe, read when a take starts.
  const char* format = "Recorder_PCXTools_RecordFormat";
  k.push_back(Choice(format, "Compression", "0", 2));  // "MPEG", "Linéaire"
  k.push_back(Choice(format, "Layer", "0", 2));        // "Layer 2", "Layer 3"
  k.push_back(Choice(format, "BitRate", "0", 1));      // "256"
  k.push_back(Choice(format, "Frequency", "0", 2));    // "48000", "44100"
  const char* start = "Recorder_PCXTools_StartCondition";
  k.push_back(Choice(start, "Condition", "0", 3));
  k.push_back(Choice(start, "Declenchement", "0", 2));
  k.push_back(Choice(start, "StartThreshold", "1", 4));  // -40, -50, -60, -70 dB
  k.push_back(Choice(start, "EndThreshold", "1", 4));
  k.push_back(Key(start, "StartDuration", "0", SetupKind::Integer, 0, kLongest));
  k.push_back(Key(start, "EndDuration", "0", SetupKind::Integer, 0, kLongest));
  k.push_back(Choice("Recorder_PCXTools_OverWrite", "Condition", "0", 5));
  k.push_back(Key(start, "StartPos", "0", SetupKind::Integer, 0, kLongest));
  k.push_back(Key(start, "EndPos", "0", SetupKind::Integer, 0, kLongest));
  k.push_back(Key(start, "StartPosCut", "0", SetupKind::Integer, 0, kLongest));
  // Takes of the recorder window (the computer's own card).
  k.push_back(Choice("Recorder_DirectX_StartCondition", "Condition", "0", 2));
  k.push_back(Choice("Recorder_DirectX_StartCondition", "StartThreshold", "0", 4));
  k.push_back(Key("Recorder_DirectX_StartCondition", "StartThresholdDuration", "0", SetupKind::Integer, 0, kLongest));
  k.push_back(Key("Recorder_DirectX_StopCondition", "StopThresholdDuration", "0", SetupKind::Integer, 0, kLongest));
  return k;
}

// A number with at most one decimal, written without trailing zeros.
std::optional<double> ParseDecibels(const std::string& text) {
  const std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  size_t i = 0;
  if (t[i] == '-' || t[i] == '+') ++i;
  size_t digits = 0, decimals = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') {
      (point ? decimals : digits)++;
    } else if ((t[i] == '.' || t[i] == ',') && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || digits > 6 || (point && decimals == 0) || decimals > 1) return std::nullopt;
  std::string c = t;
  for (char& ch : c)
    if (ch == ',') ch = '.';
  return std::strtod(c.c_str(), nullptr);
}

std::string WriteDecibels(double v) {
  const double tenths = std::round(v * 10);
  if (tenths == 0) return "0";
  return std::fmod(tenths, 10) == 0 ? fmt::format("{}", static_cast<long long>(tenths / 10))
                                    : fmt::format("{:.1f}", tenths / 10);
}

std::string Range(double low, double high) {
  return fmt::format("entre {} et {}", WriteDecibels(low), WriteDecibels(high));
}

}  // namespace

std::string NatureKey(int slot) { return "Pipe_" + NN(slot) + "_Nature"; }

std::string DeviceSection(int nature, SetupSide side, int slot) {
  const bool out = side == SetupSide::Out;
  if (nature == kNatureDirectX) return (out ? "DirectX_Player_" : "DirectX_Recorder_") + NN(slot);
  return (out ? "PCXTools_Player_" : "PCXTools_Recorder_") + NN(slot);
}

std::string LevelSection(SetupSide side, int slot) {
  return (side == SetupSide::Out ? "LevelOut_" : "LevelIn_") + NN(slot);
}

std::string SlotKey(const char* name, int slot) { return name + NN(slot); }

const std::vector<SetupKey>& AudioSetupKeys() {
  static const std::vector<SetupKey> keys = BuildKeys();
  return keys;
}

const SetupKey* FindSetupKey(std::string_view section, std::string_view key) {
  for (const SetupKey& k : AudioSetupKeys())
    if (EqualsNoCase(k.section, section) && EqualsNoCase(k.key, key)) return &k;
  return nullptr;
}

int AudioSetup::indexOf(std::string_view section, std::string_view key) const {
  const auto& keys = AudioSetupKeys();
  for (size_t i = 0; i < keys.size(); ++i)
    if (EqualsNoCase(keys[i].section, section) && EqualsNoCase(keys[i].key, key)) return static_cast<int>(i);
  return -1;
}

bool AudioSetup::deviceThere(const SetupKey& k, long long n) const {
  const auto& list = k.side == SetupSide::Out ? devices_.outputs : devices_.inputs;
  return n >= 0 && n < static_cast<long long>(list.size());
}

std::string AudioSetup::check(const SetupKey& k, const std::string& typed, std::string& stored) const {
  const std::string name = k.section + "/" + k.key;
  const std::string t = Trim(typed);
  switch (k.kind) {
    case SetupKind::Formats: {
      if (t.size() != kSetupFormats || t.find_first_not_of("01") != std::string::npos)
        return "Formats " + name + " : six caractères 0 ou 1 attendus (" + t + ").";
      // Every PCX slot of the side must play (record) each format chosen.
      const std::vector<SetupDevice>& list = k.side == SetupSide::Out ? devices_.outputs : devices_.inputs;
      const int slots = k.side == SetupSide::Out ? kPlaybackSlots : kRecordSlots;
      for (int slot = 0; slot < slots; ++slot) {
        if (nature(k.side, slot) != kNaturePcxTools) continue;
        const int d = device(kNaturePcxTools, k.side, slot);
        if (d < 0) continue;
        const SetupDevice& dev = list[static_cast<size_t>(d)];
        for (int f = 0; f < kSetupFormats; ++f)
          if (t[static_cast<size_t>(f)] == '1' && !(dev.playFormats & kFormatFlags[static_cast<size_t>(f)]))
            return fmt::format("Le périphérique « {} » n'accepte pas le format « {} ».", dev.name,
                               kFormatNames[static_cast<size_t>(f)]);
      }
      stored = t;
      return {};
    }
    case SetupKind::Decibels: {
      const auto v = ParseDecibels(t);
      if (!v || *v < k.low || *v > k.high)
        return "Valeur refusée pour " + name + " : " + t + " (un nombre " + Range(k.low, k.high) + ").";
      stored = WriteDecibels(*v);
      return {};
    }
    default: break;
  }
  const auto n = ParseInt(t);
  switch (k.kind) {
    case SetupKind::Nature:
    case SetupKind::Flag:
    case SetupKind::Integer: {
      const double high = k.kind == SetupKind::Nature ? 2 : k.kind == SetupKind::Flag ? 1 : k.high;
      if (!n || static_cast<double>(*n) < k.low || static_cast<double>(*n) > high)
        return "Valeur refusée pour " + name + " : " + t + " (un nombre entier " + Range(k.low, high) + ").";
      break;
    }
    case SetupKind::PcxDevice:
    case SetupKind::DirectXDevice:
      if (!n) return "Valeur refusée pour " + name + " : " + t + " (numéro de périphérique attendu).";
      if (!(k.kind == SetupKind::PcxDevice && *n == -1) && !deviceThere(k, *n))
        return fmt::format("Le périphérique n° {} n'est pas sur cet ordinateur ({} périphérique(s) {}).", *n,
                           (k.side == SetupSide::Out ? devices_.outputs : devices_.inputs).size(),
                           k.side == SetupSide::Out ? "de sortie" : "d'entrée");
      if (k.kind == SetupKind::PcxDevice && *n >= 0 && nature(k.side, k.slot) == kNaturePcxTools) {
        // The board taking the slot must play the formats chosen for the pipes.
        const SetupDevice& dev = (k.side == SetupSide::Out ? devices_.outputs : devices_.inputs)[static_cast<size_t>(*n)];
        const auto chosen = formats(k.side);
        for (int f = 0; f < kSetupFormats; ++f)
          if (chosen[static_cast<size_t>(f)] && !(dev.playFormats & kFormatFlags[static_cast<size_t>(f)]))
            return fmt::format("Le périphérique « {} » n'accepte pas le format « {} ».", dev.name,
                               kFormatNames[static_cast<size_t>(f)]);
      }
      break;
    case SetupKind::ForcedBoard:
    case SetupKind::ClockBoard:
      if (!n || (*n == -1 && k.kind == SetupKind::ClockBoard) || *n < -1 ||
          *n >= static_cast<long long>(devices_.boards.size()))
        return fmt::format("La carte n° {} n'est pas sur cet ordinateur ({} carte(s)).", t, devices_.boards.size());
      break;
    default: break;
  }
  stored = std::to_string(*n);
  return {};
}

void AudioSetup::Load(const std::string& settingsFile, SetupDevices devices) {
  LoadDocument(IniDocument::load(settingsFile), std::move(devices));
  file_ = settingsFile;
}

void AudioSetup::LoadDocument(const IniDocument& doc, SetupDevices devices) {
  file_.clear();
  devices_ = std::move(devices);
  const auto& keys = AudioSetupKeys();
  values_.assign(keys.size(), std::string());
  changed_.assign(keys.size(), false);
  warnings_.clear();
  // Natures and devices first: the formats' check reads them.
  const auto order = [&](bool devicesPass) {
    for (size_t i = 0; i < keys.size(); ++i) {
      const SetupKey& k = keys[i];
      const bool isDevice = k.kind == SetupKind::Nature || k.kind == SetupKind::PcxDevice ||
                            k.kind == SetupKind::DirectXDevice;
      if (isDevice != devicesPass) continue;
      values_[i] = k.fallback;
      const auto stored = doc.get(k.section, k.key);
      if (!stored || Trim(*stored).empty()) continue;
      std::string value;
      const std::string refusal = check(k, *stored, value);
      if (refusal.empty()) {
        values_[i] = value;
      } else if ((k.kind == SetupKind::PcxDevice || k.kind == SetupKind::DirectXDevice) && ParseInt(*stored)) {
        // A card gone: kept as stored, read as none until it is back.
        values_[i] = Trim(*stored);
        warnings_.push_back(fmt::format("Le périphérique n° {} de {} n'est plus sur cet ordinateur.",
                                        values_[i], k.section));
      } else {
        warnings_.push_back(refusal + " Valeur par défaut : " + k.fallback + ".");
      }
    }
  };
  order(true);
  order(false);
}

const std::string& AudioSetup::value(std::string_view section, std::string_view key) const {
  static const std::string none;
  const int i = indexOf(section, key);
  return i >= 0 && static_cast<size_t>(i) < values_.size() ? values_[static_cast<size_t>(i)] : none;
}

long long AudioSetup::number(std::string_view section, std::string_view key) const {
  return ParseInt(value(section, key)).value_or(0);
}

double AudioSetup::decibels(std::string_view section, std::string_view key) const {
  return ParseDecibels(value(section, key)).value_or(0);
}

std::string AudioSetup::Set(std::string_view section, std::string_view key, const std::string& typed) {
  const int i = indexOf(section, key);
  if (i < 0 || values_.empty())
    return "Réglage audio inconnu : " + std::string(section) + "/" + std::string(key) + ".";
  const SetupKey& k = AudioSetupKeys()[static_cast<size_t>(i)];
  std::string stored;
  if (std::string refusal = check(k, typed, stored); !refusal.empty()) return refusal;
  if (stored != values_[static_cast<size_t>(i)]) {
    values_[static_cast<size_t>(i)] = stored;
    changed_[static_cast<size_t>(i)] = true;
  }
  return {};
}

bool AudioSetup::modified() const {
  for (bool c : changed_)
    if (c) return true;
  return false;
}

bool AudioSetup::Save(std::string* error) {
  if (!modified()) return true;
  int readError = 0;
  const auto content = ReadWholeFile(file_, &readError);
  if (!content && readError != ENOENT) {
    // Never replace a file we could not read with one holding only our keys.
    if (error) *error = "lecture impossible de " + file_ + " : " + std::strerror(readError);
    return false;
  }
  IniDocument doc = IniDocument::parse(content.value_or(""));
  const auto& keys = AudioSetupKeys();
  for (size_t i = 0; i < keys.size(); ++i)
    if (changed_[i]) doc.set(keys[i].section, keys[i].key, values_[i]);
  std::string failure;
  if (!CreateFolders(ParentFolder(file_), &failure)) {
    if (error) *error = "dossier impossible à créer : " + failure;
    return false;
  }
  if (!WriteFileAtomic(file_, doc.serialize(), &failure)) {
    if (error) *error = failure;
    return false;
  }
  changed_.assign(keys.size(), false);
  return true;
}

int AudioSetup::nature(SetupSide side, int slot) const {
  return static_cast<int>(number(side == SetupSide::Out ? kGeneralOut : kGeneralIn, NatureKey(slot)));
}

int AudioSetup::device(int nature, SetupSide side, int slot) const {
  const int i = indexOf(DeviceSection(nature, side, slot), "Device");
  if (i < 0) return -1;
  const long long n = ParseInt(values_[static_cast<size_t>(i)]).value_or(-1);
  return deviceThere(AudioSetupKeys()[static_cast<size_t>(i)], n) ? static_cast<int>(n) : -1;
}

std::array<bool, kSetupFormats> AudioSetup::formats(SetupSide side) const {
  const std::string& v = value(kFormatsSection, side == SetupSide::Out ? "Out" : "In");
  std::array<bool, kSetupFormats> f{};
  for (size_t i = 0; i < f.size() && i < v.size(); ++i) f[i] = v[i] == '1';
  return f;
}

}  // namespace sono::audio
