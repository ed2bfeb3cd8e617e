// Configuration of the site: where the configuration files are, the table of
// bases with their folders and stations, the program's own settings files,
// window positions, and the older configuration that a fresh site is built from.
//
// Folder values are read in the Windows form the suite's files hold and mapped
// to local folders (paths.h); every folder in the base table ends with "/".
//
// Decisions of this port:
//   - The program folder is $SONOTEKA_HOME; "the Windows folder" (Win.ini and
//     older copies of the settings file) is its "Windows/" sub-folder.
//   - The sound-folder flag ("0:"/"1:" before the folder) marks, with 1, a
//     folder reached over the network, whose sounds are worth a local copy.
//   - A station's sound folder missing from the base's sound-folder section
//     falls back to the "Dossiers_Sons_..." key of the station section (where a
//     site built from the older configuration keeps it), then to the default.
//   - A sound-folder value made of the flag alone ("1:" or "0:" with no folder
//     after it) is refused: logged "Err: ...", told in one box per base listing
//     the refused keys, and the kind's default folder (flag 0) is used. An empty
//     folder value never becomes a path relative to the current folder.
//   - With an empty "Dossier_Redist" no program backup is made.
//   - The theme advice of Windows workstations does not apply here.
//   - Numbers read from the files ("NbBase", "NbStation", "NoBase", window
//     positions) are clamped to their range, never wrapped: "NbStation=
//     99999999999999999999" gives 10 stations; text that is not a number
//     takes the default.
//   - The base choice writes the chosen base's "Dossier_Config_Global" as it is
//     configured (Windows form), never the folder it maps to on this machine.
//   - A site file ("Vexa_Config.ini") that exists but cannot be used (it cannot
//     be read, is empty or blank, holds binary bytes such as NULs, or has no
//     "[Site]" section) is never replaced by defaults: it is reported (a
//     critical box and an "Err: " log line), a dated copy is kept beside it
//     ("Vexa_Config_endommage_YYYYMMDD_HHMMSS.ini", once per distinct content),
//     the file itself is left in place, nothing else is read or created, and
//     siteUsable() turns false: the start-up stops. A UTF-16 file with its
//     byte-order mark (Notepad's "Unicode") is read as such (ini.h).
//   - Temporary files that a killed run left ("*.tmp.XXXXXX", "*.part<pid>")
//     are removed, when over an hour old, from the folders holding the
//     configuration and settings files: the site file's folder, the settings
//     and history folders, the local settings folder, and per base its
//     configuration, local INI and program-backup folders. Sound folders
//     (100,000 files) are not walked at start.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/ini.h"
#include "core/paths.h"
#include "core/ports.h"
#include "core/tracelog.h"

namespace sono {

inline constexpr int kMaxBases = 5;
inline constexpr int kMaxStations = 10;
inline constexpr int kSoundKinds = 8;

enum class SoundKind { Mus = 0, Jin, Lin, Rub, Inf, Pre, Pub, Tmp };
// Key prefixes of the sound-folder section, in SoundKind order.
inline constexpr std::array<const char*, kSoundKinds> kSoundKindKeys = {
    "Mus_", "Jin_", "Lin_", "Rub_", "Inf_", "Pre_", "Pub_", "Tmp_"};

struct SoundFolder {
  std::string folder;
  int flag = 0;
};

struct StationInfo {
  std::string name;
  bool active = false;
};

struct BaseInfo {
  std::string name;
  bool active = false;
  int stationCount = 1;
  std::string configFolder;  // holds the base's "Vexa_Systeme.ini"
  std::string configFolderSetting;  // "Dossier_Config_Global" as configured (Windows form)
  std::string systemFile;
  std::string logRoot, logFolder, advertLogFolder;
  std::string localFolder, localIniFolder;
  std::string sharedFolder, imageFolder;
  std::string dataFolder, backupFolder;
  std::string notesFolder, scheduleNotesFolder;
  std::string redistFolder;
  std::array<std::array<SoundFolder, kSoundKinds>, kMaxStations> sounds{};
  std::vector<StationInfo> stations;
};

struct ConfigEnvironment {
  std::string programFolder;  // with trailing "/"
  std::string windowsFolder;  // with trailing "/"; empty means programFolder + "Windows/"
  std::string computerName;
  std::string version;        // program version, for the program backup
  std::string exePath;        // the running program file
  // The program's installation data (with trailing "/": its "Composants/"
  // files) and its installation guide; empty: found from the program file.
  std::string installFolder;
  std::string installGuide;
};

// Two-digit base or station number from 1: base index 0 -> "01".
std::string NN(int number);
std::string BaseSection(int base);  // "Base_01" for base index 0
std::string StationSection(int base, int station);  // station from 1

class SiteConfig {
 public:
  SiteConfig(ConfigEnvironment env, TraceLogger& log, Prompt& prompt);

  // --- files and folders of the program
  // The site file's path; builds it from the older configuration when it is
  // missing, and checks it when it exists (siteUsable()).
  std::string DetermineDossierConfig();
  std::string DetermineDossierConfig_Bases_Dossier(const std::string& configFile, int base);
  std::string DetermineDossierConfig_Fichier(const std::string& configFile, int base);
  std::string DetermineFichierSysteme(int base);
  // Both return false when the site file cannot be used (reported; nothing done).
  bool InitGeneralPath(bool allBases, int base = 0);
  void NomDossierSettings();
  std::string NomFichierSettings(const std::string& suffix, const std::string& extension,
                                 const std::string& name = "Vexa_Library") const;
  std::string settingsFile() const { return NomFichierSettings("", ".Ini"); }
  std::string positionsFile() const { return NomFichierSettings("_Positions", ".Ini"); }
  Registry registry() const { return Registry(settingsFolder_ + "Registry.ini"); }

  // --- the base table
  bool InitGeneralSite();
  // False once the site file was found unusable: the start-up must stop.
  bool siteUsable() const { return siteUsable_; }
  int baseCount() const { return baseCount_; }
  int currentBase() const { return currentBase_; }
  const BaseInfo& base(int index) const { return bases_.at(static_cast<size_t>(index)); }
  const BaseInfo& current() const { return base(currentBase_); }
  std::string DetermineDossierSon(int base, SoundKind kind, int station);
  // The log folder of the site's base, read from the configuration files
  // alone (nothing created); empty when there is no usable site file.
  std::string logFolderFromSite();

  // --- helpers
  bool VerificationEtCreationRepertoire(const std::string& folder, bool tellUser = false);
  std::string ChangeUNCFolder2LocalFolder(int base, const std::string& uncPath);
  // Left and top of a window from the positions file; a top at or below the
  // screen's bottom is brought back to half the screen height.
  void PositionFeuille(const std::string& form, const std::string& variant, int screenHeight,
                       int& left, int& top) const;
  void PositionFeuilleSauvegarde(const std::string& form, const std::string& variant, int left,
                                 int top) const;

  const std::string& programFolder() const { return env_.programFolder; }
  const std::string& windowsFolder() const { return env_.windowsFolder; }
  const std::string& siteFile() const { return siteFile_; }
  const std::string& settingsFolder() const { return settingsFolder_; }
  const std::string& historyFolder() const { return historyFolder_; }
  const std::string& localSettingsFolder() const { return localSettingsFolder_; }
  const PathMapper& mapper() const { return mapper_; }
  // A configured folder value mapped to a local folder with a trailing "/".
  std::string folderValue(const std::string& value) const;

 private:
  void createSiteFromOlderConfig();
  void checkSiteFile();
  std::string keepDamagedCopy(const std::string& content);
  void removeStaleTempFiles(const std::string& folder);
  std::string olderFolderKey(const std::string& kmSys, const std::string& key,
                             const std::string& defaultValue) const;
  void fillBase(int index);
  void checkDatabase(int index);
  void backupProgram(int index);
  std::string notesFolder(int index, const std::string& key, const std::string& fallback,
                          const std::string& subFolder);
  std::string sysValue(int index, const std::string& key, const std::string& def) const;

  ConfigEnvironment env_;
  TraceLogger& log_;
  Prompt& prompt_;
  PathMapper mapper_;
  std::string siteFile_, siteFolder_;
  std::string settingsFolder_, historyFolder_, localSettingsFolder_;
  int baseCount_ = 1;
  int currentBase_ = 0;
  bool siteChecked_ = false;
  bool siteUsable_ = true;
  std::array<BaseInfo, kMaxBases> bases_{};
};

}  // namespace sono
