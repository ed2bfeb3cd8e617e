// The program's settings that the start-up reads and the menus change: one
// table of sections, keys and defaults, read in one place (`Load`, run by the
// start-up and by every command of sonoteka-cli) and written in one place.
//
// Decisions:
// - A setting the user changes (a menu entry, the song form's "Toutes les
//   stations", a cart slot) is written to the settings file at once, one key
//   per change, not at the unload: a crash or a kill loses nothing, and the
//   unload sequence has nothing of these to add. A failed write leaves the
//   value for this session, says so in a box and logs it.
// - A key never changed is never written: a fresh settings file keeps every
//   default, and a default changed in a later version reaches such a station.
// - [Menus] "MnuES" is the editor panel under the song grid, shown when "1";
//   absent means shown, as the workstation always showed it.
// - [Filtres] "Sons" switches the sound-type filter on ("1", default) or off;
//   the ticked entries of the sound-filter menu are the digits of
//   [Filtres] "TypesSons" ("037": types 0, 3 and 7). No entry ticked, or the
//   filter off, lists every type ("0123456789"), so a fresh file hides nothing.
// - [Filtres] "Morceaux" ("1") lists only the songs that may go on air: a song
//   whose playable flag ("Jeu") is "N" is hidden.
// - [Ptx] "Save" lives in the base's system file, shared by the base's
//   workstations: it is the default of automatic pointer storing at start.
//   Toggling automatic storing changes this session only; the base's default
//   stays as its administrator set it.
// - [GrilleMorceaux] "CurrentTab" names the music tab selected at start, from 1;
//   a value out of the tabs' range (or not a number) selects the first and is
//   logged. With one music tab there is no other to choose: the desktop does
//   not write it (the command line can).
#pragma once
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace sono {

class SiteConfig;
class TraceLogger;
class Prompt;

inline constexpr int kCartridgeSlots = 8;           // "SongId_0" to "SongId_7", "TimerCart0" to "TimerCart7"
inline constexpr const char* kEmptyCartridge = "*";
inline constexpr const char* kAllSoundTypes = "0123456789";

// Values of the program's settings file (and of the base's "Ptx" section).
struct StartupSettings {
  bool editorPanel = true;                  // [Menus] MnuES
  bool cartridgeActive = false;             // [Cartouchier] Actif
  std::array<std::string, kCartridgeSlots> cartridgeSongs{};  // [Cartouchier] SongId_N, "*" = empty
  bool playerWindow = true;                 // [FrmPlayer] Actif
  bool multiSearchWindow = false;           // [FrmMusRechercheMC] Chargee
  int currentTab = 1;                       // [GrilleMorceaux] CurrentTab
  int lastStation = 0;                      // set by the start-up from [Stations] Last
  bool songForAllStations = false;          // [Morceau] StationsAll
  bool ptxSave = false;                     // the base's [Ptx] Save
  bool soundFilter = true;                  // [Filtres] Sons
  std::string soundTypes;                   // [Filtres] TypesSons: digits of the ticked entries
  bool songFilter = false;                  // [Filtres] Morceaux: playable songs only
  bool hideInactiveStationSongs = false;    // [Filtres] MasquerMorceauxStationNonActive
  bool hideInactiveCategorySongs = false;   // [Filtres] MasquerMorceauxCategorieNonActiveSurStation

  StartupSettings() { cartridgeSongs.fill(kEmptyCartridge); }
  // The search's sound-type filter: the ticked digits in order, or every
  // type when the filter is off or nothing is ticked.
  std::string SoundTypeFilter() const;
  bool soundTypeTicked(int type) const;
  // Index (from 0) of the music tab to select at start among `tabCount`.
  int MusicTabAtStart(int tabCount) const;
};

enum class SettingId {
  EditorPanel, CartridgeActive, CartridgeSong, PlayerWindow, MultiSearchWindow, CurrentTab,
  SongForAllStations, PtxSave, SoundFilter, SoundTypes, SongFilter, HideInactiveStations,
  HideInactiveCategories
};

// One row of the table: where a setting lives and what it holds.
struct SettingEntry {
  SettingId id;
  const char* section;
  const char* key;          // "SongId_" is followed by the slot number
  const char* defaultValue;
  enum class Kind { Flag, Digits, Number, SongCode } kind;
  bool inSystemFile;        // the base's system file, never written by the program
  const char* meaning;      // French, for `sonoteka-cli settings show`
};
const std::vector<SettingEntry>& SettingsTable();

// The live settings: the values, read by `Load`, and their writers.
class ProgramSettings {
 public:
  ProgramSettings(StartupSettings& values, const SiteConfig& config, TraceLogger& log, Prompt& prompt)
      : values_(values), config_(config), log_(log), prompt_(prompt) {}

  // Reads every setting of the table (the settings folder and the current
  // base must be known).
  void Load();
  const StartupSettings& values() const { return values_; }

  // Each setter keeps the value and writes its key at once; false when the
  // write failed (a box and a log line said so; the value holds for this session).
  bool SetFlag(SettingId id, bool on);
  bool SetSoundTypes(const std::string& digits);   // any order; repeated digits count once
  bool SetSoundTypeTicked(int type, bool ticked);  // one entry of the sound-filter menu
  bool SetCartridgeSong(int slot, const std::string& code);  // "*" or "" empties the slot

  // By name, as the command line gives it: "Section/Key" of the table
  // ("Cartouchier/SongId_3" for a slot). Returns an error text (empty when
  // stored); `usage` tells a bad name or value from a failed write.
  std::string Set(const std::string& name, const std::string& value, bool& usage);
  // The value of every setting as the program holds it, with its name.
  std::vector<std::pair<std::string, std::string>> List() const;
  static std::string Name(const SettingEntry& entry, int slot = -1);

 private:
  bool write(const SettingEntry& entry, const std::string& key, const std::string& value);
  std::string text(const SettingEntry& entry, int slot) const;
  StartupSettings& values_;
  const SiteConfig& config_;
  TraceLogger& log_;
  Prompt& prompt_;
};

}  // namespace sono
