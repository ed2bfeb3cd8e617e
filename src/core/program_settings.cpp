#include "core/program_settings.h"

#include <algorithm>

#include "core/config.h"
#include "core/ini.h"
#include "core/ports.h"
#include "core/text.h"
#include "core/tracelog.h"

namespace sono {

namespace {
using Kind = SettingEntry::Kind;
constexpr int kMaxMusicTab = 999;  // a larger "CurrentTab" is damage, read as out of range

// The digits of `text` in order, each once.
std::string SortedDigits(const std::string& text) {
  std::string out;
  for (char d = '0'; d <= '9'; ++d)
    if (text.find(d) != std::string::npos) out += d;
  return out;
}

bool AllDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string CartridgeValue(const std::string& code) {
  const std::string trimmed = Trim(code);
  return trimmed.empty() ? kEmptyCartridge : trimmed;
}
}  // namespace

const std::vector<SettingEntry>& SettingsTable() {
  static const std::vector<SettingEntry> table = {
      {SettingId::EditorPanel, "Menus", "MnuES", "1", Kind::Flag, false,
       "panneau d'édition sous la grille des morceaux"},
      {SettingId::CartridgeActive, "Cartouchier", "Actif", "0", Kind::Flag, false, "cartouchier affiché"},
      {SettingId::CartridgeSong, "Cartouchier", "SongId_", kEmptyCartridge, Kind::SongCode, false,
       "morceau de la cartouche (* = vide)"},
      {SettingId::PlayerWindow, "FrmPlayer", "Actif", "1", Kind::Flag, false, "lecteur ouvert au démarrage"},
      {SettingId::MultiSearchWindow, "FrmMusRechercheMC", "Chargee", "0", Kind::Flag, false,
       "recherche multicritère ouverte au démarrage"},
      {SettingId::CurrentTab, "GrilleMorceaux", "CurrentTab", "1", Kind::Number, false,
       "onglet musique sélectionné au démarrage"},
      {SettingId::SongForAllStations, "Morceau", "StationsAll", "0", Kind::Flag, false,
       "fiche morceau enregistrée sur toutes les stations"},
      {SettingId::PtxSave, "Ptx", "Save", "0", Kind::Flag, true,
       "enregistrement automatique des pointeurs (fichier système de la base)"},
      {SettingId::SoundFilter, "Filtres", "Sons", "1", Kind::Flag, false, "filtre des types de son actif"},
      {SettingId::SoundTypes, "Filtres", "TypesSons", "", Kind::Digits, false,
       "types de son cochés (aucun = tous)"},
      {SettingId::SongFilter, "Filtres", "Morceaux", "0", Kind::Flag, false, "masquer les morceaux non diffusables"},
      {SettingId::HideInactiveStations, "Filtres", "MasquerMorceauxStationNonActive", "0", Kind::Flag, false,
       "masquer les morceaux non actifs sur la station"},
      {SettingId::HideInactiveCategories, "Filtres", "MasquerMorceauxCategorieNonActiveSurStation", "0",
       Kind::Flag, false, "masquer les morceaux des catégories non actives sur la station"},
  };
  return table;
}

namespace {
const SettingEntry& EntryOf(SettingId id) {
  for (const auto& s : SettingsTable())
    if (s.id == id) return s;
  return SettingsTable().front();  // every id is in the table
}

bool* FlagOf(StartupSettings& v, SettingId id) {
  switch (id) {
    case SettingId::EditorPanel: return &v.editorPanel;
    case SettingId::CartridgeActive: return &v.cartridgeActive;
    case SettingId::PlayerWindow: return &v.playerWindow;
    case SettingId::MultiSearchWindow: return &v.multiSearchWindow;
    case SettingId::SongForAllStations: return &v.songForAllStations;
    case SettingId::PtxSave: return &v.ptxSave;
    case SettingId::SoundFilter: return &v.soundFilter;
    case SettingId::SongFilter: return &v.songFilter;
    case SettingId::HideInactiveStations: return &v.hideInactiveStationSongs;
    case SettingId::HideInactiveCategories: return &v.hideInactiveCategorySongs;
    default: return nullptr;
  }
}
}  // namespace

std::string StartupSettings::SoundTypeFilter() const {
  const std::string ticked = SortedDigits(soundTypes);
  return soundFilter && !ticked.empty() ? ticked : kAllSoundTypes;
}

bool StartupSettings::soundTypeTicked(int type) const {
  return type >= 0 && type <= 9 && soundTypes.find(static_cast<char>('0' + type)) != std::string::npos;
}

int StartupSettings::MusicTabAtStart(int tabCount) const {
  return currentTab >= 1 && currentTab <= tabCount ? currentTab - 1 : 0;
}

std::string ProgramSettings::Name(const SettingEntry& entry, int slot) {
  std::string name = std::string(entry.section) + "/" + entry.key;
  if (entry.kind == Kind::SongCode && slot >= 0) name += std::to_string(slot);
  return name;
}

void ProgramSettings::Load() {
  const std::string settings = config_.settingsFile();
  const std::string system = config_.current().systemFile;
  for (const auto& entry : SettingsTable()) {
    const std::string& file = entry.inSystemFile ? system : settings;
    const auto read = [&](const std::string& key) { return LectureIni(file, entry.section, key, entry.defaultValue); };
    if (bool* flag = FlagOf(values_, entry.id)) {
      *flag = read(entry.key) == "1";
    } else if (entry.id == SettingId::CurrentTab) {
      values_.currentTab = ParseIntClamped(read(entry.key), 0, kMaxMusicTab, 1);
    } else if (entry.id == SettingId::SoundTypes) {
      values_.soundTypes = SortedDigits(read(entry.key));
    } else if (entry.id == SettingId::CartridgeSong) {
      for (int slot = 0; slot < kCartridgeSlots; ++slot)
        values_.cartridgeSongs[slot] = CartridgeValue(read(entry.key + std::to_string(slot)));
    }
  }
}

bool ProgramSettings::write(const SettingEntry& entry, const std::string& key, const std::string& value) {
  const std::string file = config_.settingsFile();
  if (EcritureIni(file, entry.section, key, value)) return true;
  log_.TraceLog("Err: Settings not written: " + file + ": [" + entry.section + "] " + key + "=" + value);
  prompt_.message("Le réglage [" + std::string(entry.section) + "] " + key + " n'a pas pu être enregistré dans '" +
                      file + "'.\n\nIl vaut pour cette session seulement.",
                  Icon::Exclamation, Buttons::Ok, "Ondavia: Sonoteka");
  return false;
}

bool ProgramSettings::SetFlag(SettingId id, bool on) {
  bool* flag = FlagOf(values_, id);
  const SettingEntry& entry = EntryOf(id);
  if (!flag || entry.inSystemFile) return false;
  *flag = on;
  return write(entry, entry.key, on ? "1" : "0");
}

bool ProgramSettings::SetSoundTypes(const std::string& digits) {
  values_.soundTypes = SortedDigits(digits);
  const SettingEntry& entry = EntryOf(SettingId::SoundTypes);
  return write(entry, entry.key, values_.soundTypes);
}

bool ProgramSettings::SetSoundTypeTicked(int type, bool ticked) {
  if (type < 0 || type > 9) return false;
  std::string digits = values_.soundTypes;
  const char d = static_cast<char>('0' + type);
  if (ticked) digits += d;
  else digits.erase(std::remove(digits.begin(), digits.end(), d), digits.end());
  return SetSoundTypes(digits);
}

bool ProgramSettings::SetCartridgeSong(int slot, const std::string& code) {
  if (slot < 0 || slot >= kCartridgeSlots) return false;
  values_.cartridgeSongs[slot] = CartridgeValue(code);
  const SettingEntry& entry = EntryOf(SettingId::CartridgeSong);
  return write(entry, entry.key + std::to_string(slot), values_.cartridgeSongs[slot]);
}

std::string ProgramSettings::text(const SettingEntry& entry, int slot) const {
  StartupSettings& v = values_;
  if (bool* flag = FlagOf(v, entry.id)) return *flag ? "1" : "0";
  switch (entry.id) {
    case SettingId::CurrentTab: return std::to_string(v.currentTab);
    case SettingId::SoundTypes: return v.soundTypes;
    case SettingId::CartridgeSong: return v.cartridgeSongs[static_cast<size_t>(slot)];
    default: return {};
  }
}

std::vector<std::pair<std::string, std::string>> ProgramSettings::List() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& entry : SettingsTable()) {
    if (entry.kind != Kind::SongCode) {
      out.emplace_back(Name(entry), text(entry, -1));
      continue;
    }
    for (int slot = 0; slot < kCartridgeSlots; ++slot) out.emplace_back(Name(entry, slot), text(entry, slot));
  }
  return out;
}

std::string ProgramSettings::Set(const std::string& name, const std::string& value, bool& usage) {
  usage = true;
  for (const auto& entry : SettingsTable()) {
    const int slots = entry.kind == Kind::SongCode ? kCartridgeSlots : 1;
    for (int slot = 0; slot < slots; ++slot) {
      if (!EqualsNoCase(name, Name(entry, entry.kind == Kind::SongCode ? slot : -1))) continue;
      if (entry.inSystemFile)
        return Name(entry) + " se règle dans le fichier système de la base (" + config_.current().systemFile + ")";
      const std::string v = Trim(value);
      bool stored = false;
      switch (entry.kind) {
        case Kind::Flag:
          if (v != "0" && v != "1") return Name(entry) + " vaut 0 ou 1";
          usage = false;
          stored = SetFlag(entry.id, v == "1");
          break;
        case Kind::Digits:
          if (!AllDigits(v)) return Name(entry) + " prend des chiffres de 0 à 9 (rien: tous les types)";
          usage = false;
          stored = SetSoundTypes(v);
          break;
        case Kind::Number: {
          const auto n = ParseInt(v);
          if (!n || *n < 1 || *n > kMaxMusicTab) return Name(entry) + " prend un numéro d'onglet à partir de 1";
          usage = false;
          values_.currentTab = static_cast<int>(*n);
          stored = write(entry, entry.key, std::to_string(*n));
          break;
        }
        case Kind::SongCode:
          if (v.size() > 8) return Name(entry, slot) + " prend un code de morceau (8 caractères) ou *";
          usage = false;
          stored = SetCartridgeSong(slot, v);
          break;
      }
      return stored ? std::string() : "Réglage non enregistré: " + Name(entry, slot) + " (" + config_.settingsFile() + ")";
    }
  }
  return "réglage inconnu: " + name + " (voir settings show)";
}

}  // namespace sono
