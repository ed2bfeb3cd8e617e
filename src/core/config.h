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
//   - With an empty "Dossier_Redist" no program backup is made.
//   - The theme advice of Windows workstations does not apply here.
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
  std::string DetermineDossierConfig();
  std::string DetermineDossierConfig_Bases_Dossier(const std::string& configFile, int base);
  std::string DetermineDossierConfig_Fichier(const std::string& configFile, int base);
  std::string DetermineFichierSysteme(int base);
  void InitGeneralPath(bool allBases, int base = 0);
  void NomDossierSettings();
  std::string NomFichierSettings(const std::string& suffix, const std::string& extension,
                                 const std::string& name = "Vexa_Library") const;
  std::string settingsFile() const { return NomFichierSettings("", ".Ini"); }
  std::string positionsFile() const { return NomFichierSettings("_Positions", ".Ini"); }
  Registry registry() const { return Registry(settingsFolder_ + "Registry.ini"); }

  // --- the base table
  void InitGeneralSite();
  int baseCount() const { return baseCount_; }
  int currentBase() const { return currentBase_; }
  const BaseInfo& base(int index) const { return bases_.at(static_cast<size_t>(index)); }
  const BaseInfo& current() const { return base(currentBase_); }
  std::string DetermineDossierSon(int base, SoundKind kind, int station);
  // The log folder of the site's base, read from the configuration files
  // alone (nothing created); empty when there is no site file.
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
  std::array<BaseInfo, kMaxBases> bases_{};
};

}  // namespace sono
