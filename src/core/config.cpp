#include "core/config.h"

#include <algorithm>
#include <fmt/format.h>

#include "core/files.h"
#include "core/text.h"

namespace sono {

namespace {
constexpr const char* kSiteFileName = "Vexa_Config.ini";
constexpr const char* kSystemFileName = "Vexa_Systeme.ini";
constexpr const char* kOlderBaseFile = "KM_SYS.ini";
constexpr const char* kProgramName = "Vexa_Library";

int clampInt(const std::string& text, int def, int lo, int hi) {
  const auto v = ParseInt(text);
  if (!v) return def;
  return static_cast<int>(std::clamp<long long>(*v, lo, hi));
}

// Default sound folders: music has its own, the other kinds share one.
const char* defaultSoundFolder(int kind) {
  return kind == 0 ? "C:\\QZ_Sons\\Musique\\" : "C:\\QZ_Sons\\Autre\\";
}

// Keys of the station section where a site built from the older
// configuration keeps its sound folders, in SoundKind order.
constexpr std::array<const char*, kSoundKinds> kStationSoundKeys = {
    "Dossiers_Sons_Mus", "Dossiers_Sons_Jin", "Dossiers_Sons_Lin", "Dossiers_Sons_Rub",
    "Dossiers_Sons_Inf", "Dossiers_Sons_Pre", "Dossiers_Sons_Pub", "Dossiers_Sons_Tmp"};
// Older keys of the sound folders ("000_" for music), in SoundKind order.
constexpr std::array<const char*, kSoundKinds> kOlderSoundKeys = {
    "000_", "JIN_", "LIN_", "RUB_", "INF_", "PRE_", "PUB_", "TMP_"};
}  // namespace

std::string NN(int number) { return fmt::format("{:02}", number); }
std::string BaseSection(int base) { return "Base_" + NN(base + 1); }
std::string StationSection(int base, int station) {
  return BaseSection(base) + "_Station_" + NN(station);
}

SiteConfig::SiteConfig(ConfigEnvironment env, TraceLogger& log, Prompt& prompt)
    : env_(std::move(env)), log_(log), prompt_(prompt) {
  env_.programFolder = CheckRep(env_.programFolder);
  if (env_.windowsFolder.empty()) env_.windowsFolder = env_.programFolder + "Windows/";
  env_.windowsFolder = CheckRep(env_.windowsFolder);
  siteFolder_ = env_.programFolder + "Settings/";
  siteFile_ = siteFolder_ + kSiteFileName;
  mapper_ = PathMapper(env_.programFolder, siteFile_, env_.computerName);
  settingsFolder_ = env_.programFolder + "Settings/" + kProgramName + "/";
  historyFolder_ = settingsFolder_ + "Histo/";
}

std::string SiteConfig::folderValue(const std::string& value) const {
  return CheckRep(mapper_.toLocal(value));
}

bool SiteConfig::VerificationEtCreationRepertoire(const std::string& folder, bool tellUser) {
  std::string failed;
  if (CreateFolders(folder, &failed)) return true;
  log_.TraceLog("Err: Folder not found: " + folder);
  if (tellUser)
    prompt_.message("Folder '" + folder + "' not found", Icon::Exclamation, Buttons::Ok);
  return false;
}

// ---------------------------------------------------------------- site file

std::string SiteConfig::DetermineDossierConfig() {
  VerificationEtCreationRepertoire(siteFolder_);
  if (!File_Exist(siteFile_)) createSiteFromOlderConfig();
  return siteFile_;
}

std::string SiteConfig::olderFolderKey(const std::string& kmSys, const std::string& key,
                                       const std::string& defaultValue) const {
  const bool unc = LectureIni(kmSys, "UNC_Actif", key, "0FF") == "ON";
  return LectureIni(kmSys, unc ? "Repertoires_UNC" : "Repertoires", key, defaultValue);
}

void SiteConfig::createSiteFromOlderConfig() {
  const std::string winIni = env_.windowsFolder + "Win.ini";
  const bool unc = LectureIni(winIni, "Brevalon", "UNC_Actif", "0FF") == "ON";
  const std::string defaultOlder = env_.programFolder + "Config/";
  const std::string olderFolder =
      LectureIni(winIni, "Brevalon", unc ? "INI_ONDAVIA_UNC" : "INI_ONDAVIA", defaultOlder);
  const int nbBase = clampInt(LectureIni(winIni, "Brevalon", "Nb_Base", "0"), 0, 0, kMaxBases);
  const std::string siteKmSys = folderValue(olderFolder) + kOlderBaseFile;
  const std::string radioName = LectureIni(siteKmSys, "Div_radio", "Nom_Radio", "Nom de la radio");
  log_.TraceLog("Vexa_Config.ini: creation from Win.ini: " + winIni);

  EcritureIni(siteFile_, "Site", "Lib", radioName);
  EcritureIni(siteFile_, "Site", "Actif", "1");
  EcritureIni(siteFile_, "Site", "NbBase", std::to_string(nbBase));
  EcritureIni(siteFile_, "Site", "NoBase", "1");
  EcritureIni(siteFile_, "Site", "Dossier_Config_Global", olderFolder);
  const std::string systemFile = folderValue(olderFolder) + kSystemFileName;

  for (int b = 0; b < nbBase; ++b) {
    const std::string baseOlder =
        nbBase > 1 ? LectureIni(winIni, "Brevalon", "Ini_Base_" + NN(b + 1), olderFolder)
                   : olderFolder;
    const std::string kmSys = folderValue(baseOlder) + kOlderBaseFile;
    const std::string section = BaseSection(b);
    const std::string nbStation = LectureIni(kmSys, "Stations", "Nb_Max", "1");
    const std::string lib =
        nbBase == 1 ? radioName
                    : LectureIni(winIni, "Brevalon", "Base_" + NN(b + 1), "Base " + NN(b + 1));
    EcritureIni(systemFile, section, "Lib", lib);
    EcritureIni(systemFile, section, "Actif", "1");
    EcritureIni(systemFile, section, "NbStation", nbStation);
    EcritureIni(systemFile, section, "NoStation", "1");

    struct FolderKey { const char* older; const char* now; std::string def; };
    const FolderKey keys[] = {
        {"REPLOG", "Dossier_Log", "C:\\AudioLog\\"},
        {"REPLOGPUB", "Dossier_Log_Pub", "C:\\AudioLog\\Pub\\"},
        {"REPBLOCNOTES", "Dossier_Notes", "C:\\Brevalon\\Ondavia\\Notes\\"},
        {"REPLOCAL", "Dossier_Local",
         LectureIni(systemFile, section, "Dossier_Local", "C:\\Brevalon\\Ondavia\\Settings\\_Local\\")},
        {"REPPARTAGE", "Dossier_Shared",
         LectureIni(systemFile, section, "Dossier_Shared", "C:\\Brevalon\\Ondavia\\Shared\\")},
        {"REPBTR", "Dossier_Data", "C:\\BTRieve\\Data\\"},
        {"REPSAUVEGARDE", "Dossier_Data_Backup", "C:\\BTRieve\\Data\\"},
    };
    for (const auto& k : keys)
      EcritureIni(systemFile, section, k.now, olderFolderKey(kmSys, k.older, k.def));

    const int stations = clampInt(nbStation, 1, 1, kMaxStations);
    for (int s = 1; s <= stations; ++s) {
      const std::string stationSection = StationSection(b, s);
      EcritureIni(systemFile, stationSection, "Lib",
                  LectureIni(kmSys, "Div_Radio", "Station_" + N2S(s, 3), "Station " + NN(s)));
      EcritureIni(systemFile, stationSection, "Actif", "1");
      const bool stationUnc = LectureIni(kmSys, "UNC_Actif", "Repertoire_Station", "0FF") == "ON";
      const char* olderSection = stationUnc ? "Repertoire_Station_UNC" : "Repertoire_Station";
      for (int k = 0; k < kSoundKinds; ++k) {
        const std::string value =
            LectureIni(kmSys, olderSection, std::string(kOlderSoundKeys[k]) + N2S(s, 3), "");
        if (!value.empty()) EcritureIni(systemFile, stationSection, kStationSoundKeys[k], value);
      }
    }
  }
}

std::string SiteConfig::DetermineDossierConfig_Bases_Dossier(const std::string& configFile,
                                                             int base) {
  std::string folder = LectureIni(configFile, "Site", "Dossier_Config_Global", "");
  if (Trim(folder).empty())
    folder = LectureIni(configFile, BaseSection(base), "Dossier_Config_Global",
                        "C:\\Brevalon\\Ondavia\\Config\\");
  return folderValue(folder);
}

std::string SiteConfig::DetermineDossierConfig_Fichier(const std::string& configFile, int base) {
  std::string folder = LectureIni(configFile, "Site", "Dossier_Config_Global", "");
  log_.TraceLog("Dossier_Config_Global: " + folder + " /A");
  if (Trim(folder).empty()) {
    folder = LectureIni(configFile, BaseSection(base), "Dossier_Config_Global",
                        env_.programFolder + "Config/");
    log_.TraceLog("Dossier_Config_Global: " + folder + " /B");
  }
  return folderValue(folder) + kSystemFileName;
}

void SiteConfig::InitGeneralPath(bool allBases, int base) {
  DetermineDossierConfig();
  baseCount_ = clampInt(LectureIni(siteFile_, "Site", "NbBase", "1"), 1, 1, kMaxBases);
  const int first = allBases ? 0 : base;
  const int last = allBases ? baseCount_ - 1 : base;
  for (int b = first; b <= last && b < kMaxBases; ++b) {
    bases_[b].configFolder = DetermineDossierConfig_Bases_Dossier(siteFile_, b);
    bases_[b].systemFile = DetermineDossierConfig_Fichier(siteFile_, b);
  }
}

std::string SiteConfig::DetermineFichierSysteme(int base) {
  if (base < 0 || base >= kMaxBases) return {};
  if (bases_[base].systemFile.empty()) InitGeneralPath(false, base);
  return bases_[base].systemFile;
}

void SiteConfig::NomDossierSettings() {
  VerificationEtCreationRepertoire(settingsFolder_);
  VerificationEtCreationRepertoire(historyFolder_);
  const std::string settings = settingsFile();
  if (File_Exist(settings)) return;
  // An older copy kept in the Windows folder is brought over once.
  for (int n = 0; n <= 9; ++n) {
    const std::string older = env_.windowsFolder + kProgramName + "_" + std::to_string(n) + ".Ini";
    if (File_Exist(older)) {
      File_Copy(older, settings);
      return;
    }
  }
  const std::string older = env_.windowsFolder + kProgramName + ".Ini";
  if (File_Exist(older)) File_Copy(older, settings);
}

std::string SiteConfig::NomFichierSettings(const std::string& suffix,
                                           const std::string& extension,
                                           const std::string& name) const {
  std::string folder = settingsFolder_;
  if (name != kProgramName) folder = ReplaceAll(folder, kProgramName, name);
  return folder + name + suffix + extension;
}

// ---------------------------------------------------------------- base table

std::string SiteConfig::sysValue(int index, const std::string& key, const std::string& def) const {
  return LectureIni(bases_[index].systemFile, BaseSection(index), key, def);
}

void SiteConfig::InitGeneralSite() {
  if (bases_[0].systemFile.empty()) InitGeneralPath(true);
  baseCount_ = clampInt(LectureIni(siteFile_, "Site", "NbBase", "1"), 1, 1, kMaxBases);
  for (int b = 0; b < baseCount_; ++b)
    if (bases_[b].systemFile.empty()) InitGeneralPath(false, b);

  currentBase_ = 0;
  if (baseCount_ >= 2) {
    std::vector<std::string> names;
    for (int b = 0; b < baseCount_; ++b) names.push_back(sysValue(b, "Lib", "Base " + NN(b + 1)));
    const int stored = clampInt(LectureIni(siteFile_, "Site", "NoBase", "1"), 1, 1, baseCount_);
    prompt_.showStepWindow(false);
    const auto chosen = prompt_.chooseItem("Choix de la base", names, stored - 1);
    prompt_.showStepWindow(true);
    currentBase_ = chosen && *chosen >= 0 && *chosen < baseCount_ ? *chosen : stored - 1;
    EcritureIni(siteFile_, "Site", "Dossier_Config_Global", bases_[currentBase_].configFolder);
    EcritureIni(siteFile_, "Site", "NoBase", std::to_string(currentBase_ + 1));
  }

  localSettingsFolder_ = folderValue(LectureIni(siteFile_, "Site", "Settings_Local_Folder",
                                                "C:\\Brevalon\\Ondavia\\Settings\\_Local\\"));
  VerificationEtCreationRepertoire(localSettingsFolder_);
  for (int b = 0; b < baseCount_; ++b) fillBase(b);
}

void SiteConfig::fillBase(int i) {
  BaseInfo& base = bases_[i];
  auto folder = [&](const std::string& key, const std::string& def) {
    std::string f = folderValue(sysValue(i, key, def));
    if (f.empty()) f = folderValue(def);
    VerificationEtCreationRepertoire(f);
    return f;
  };
  base.name = sysValue(i, "Lib", "Base " + NN(i + 1));
  base.active = sysValue(i, "Actif", "0") == "1";
  base.stationCount = clampInt(sysValue(i, "NbStation", "1"), 1, 1, kMaxStations);

  base.logRoot = folder("Dossier_Log", "C:\\AudioLog\\");
  base.logFolder = base.logRoot + "Histo_Vexa_Sonoteka/";
  VerificationEtCreationRepertoire(base.logFolder);
  base.advertLogFolder = folder("Dossier_Log_Pub", "C:\\AudioLog\\Pub\\");

  base.localFolder = folder("Dossier_Local", "C:\\Brevalon\\Ondavia\\Settings\\_Local\\");
  log_.TraceLog(i, -1, -1, "Local_Folder: " + base.localFolder);
  base.localIniFolder = base.localFolder + "Serveur_Ini/Library/" + NN(i + 1) + "/";
  VerificationEtCreationRepertoire(base.localIniFolder);
  log_.TraceLog(i, -1, -1, "Local_INI_Folder: " + base.localIniFolder);

  base.sharedFolder = folder("Dossier_Shared", "C:\\Brevalon\\Ondavia\\Shared\\");
  base.imageFolder = base.sharedFolder + "Image/";
  for (const char* sub : {"Artiste/", "Morceau/", "Categorie/", "Podcast/", "Message/"})
    VerificationEtCreationRepertoire(base.imageFolder + sub);

  base.dataFolder = folder("Dossier_Data", "C:\\QZ_Data\\");
  log_.TraceLog(i, -1, -1, "Data_Folder: " + base.dataFolder);
  checkDatabase(i);
  VerificationEtCreationRepertoire(base.dataFolder + "Podcast/Resume/");
  VerificationEtCreationRepertoire(base.dataFolder + "Podcast/Description/");

  base.backupFolder = folderValue(LectureIni(base.systemFile, BaseSection(i) + "_Settings_Folders",
                                             "Backup", "C:\\QZ_Data\\_Bkp\\"));
  VerificationEtCreationRepertoire(base.backupFolder);
  backupProgram(i);

  base.notesFolder = notesFolder(i, "Dossier_Notes", "C:\\Brevalon\\Ondavia\\Notes\\", "");
  for (const char* sub : {"Artiste/", "Disque/"})
    VerificationEtCreationRepertoire(base.notesFolder + sub);
  log_.TraceLog(i, -1, -1, "Notes_Folder: " + base.notesFolder);
  base.scheduleNotesFolder = notesFolder(i, "Dossier_Notes_Schedule",
                                         "C:\\Brevalon\\Ondavia\\Notes\\Conducteur\\", "Conducteur");
  log_.TraceLog(i, -1, -1, "Schedule_Notes_Folder: " + base.scheduleNotesFolder);

  const std::string soundSection = BaseSection(i) + "_Sounds_Folders";
  for (int s = 1; s <= base.stationCount; ++s) {
    for (int k = 0; k < kSoundKinds; ++k) {
      std::string value = LectureIni(base.systemFile, soundSection,
                                     std::string(kSoundKindKeys[k]) + NN(s), "");
      if (Trim(value).empty())
        value = LectureIni(base.systemFile, StationSection(i, s), kStationSoundKeys[k], "");
      if (Trim(value).empty()) value = defaultSoundFolder(k);
      value = Trim(value);
      SoundFolder& sf = base.sounds[s - 1][k];
      sf.flag = 0;
      if (value.size() >= 2 && (value.rfind("0:", 0) == 0 || value.rfind("1:", 0) == 0)) {
        sf.flag = value[0] - '0';
        value.erase(0, 2);
      }
      sf.folder = folderValue(value);
      VerificationEtCreationRepertoire(sf.folder);
    }
  }

  base.stations.clear();
  for (int s = 1; s <= base.stationCount; ++s) {
    const std::string section = StationSection(i, s);
    base.stations.push_back(
        {LectureIni(base.systemFile, section, "Lib", "Station " + std::to_string(s)),
         LectureIni(base.systemFile, section, "Actif", "0") == "1"});
  }
}

void SiteConfig::checkDatabase(int i) {
  BaseInfo& base = bases_[i];
  const std::string fileName = std::string("FRAD000") + ".bt6";
  while (!File_Exist(base.dataFolder + fileName)) {
    const Answer a = prompt_.message(
        "Impossible de trouver la base de données pour la base: " + base.name + "\n\nFichier '" +
            base.dataFolder + fileName + "' non trouvé\n\n" +
            "Voulez-vous rechercher manuellement la localisation de la base de données Ondavia ?",
        Icon::Question, Buttons::YesNoCancel);
    if (a != Answer::Yes) return;
    const auto chosen = prompt_.pickFolder(base.dataFolder);
    if (!chosen) continue;
    const std::string folder = CheckRep(*chosen);
    if (File_Exist(folder + fileName)) {
      base.dataFolder = folder;
      EcritureIni(base.systemFile, BaseSection(i), "Dossier_Data", folder);
      log_.TraceLog(i, -1, -1, "Data_Folder: " + base.dataFolder);
    }
  }
}

void SiteConfig::backupProgram(int i) {
  BaseInfo& base = bases_[i];
  const std::string redist = Trim(sysValue(i, "Dossier_Redist", ""));
  if (redist.empty()) {
    base.redistFolder.clear();
    return;
  }
  base.redistFolder = folderValue(redist) + "QZ/Backup/Programmes/";
  log_.TraceLog(i, -1, -1, "Dossier_Redist: " + base.redistFolder);
  if (!VerificationEtCreationRepertoire(base.redistFolder)) return;
  const std::string target = base.redistFolder + env_.version + " " + kProgramName + ".exe";
  if (!File_Exist(target) && !env_.exePath.empty() && !File_Copy(env_.exePath, target))
    log_.TraceLog(i, -1, -1, "Err: Program backup failed: " + target);
}

std::string SiteConfig::notesFolder(int i, const std::string& key, const std::string& fallback,
                                    const std::string& subFolder) {
  std::string value = Trim(sysValue(i, key, ""));
  if (value.empty()) {
    const std::string kmSys = bases_[i].configFolder + kOlderBaseFile;
    std::string older = Trim(olderFolderKey(kmSys, "REPBLOCNOTES", ""));
    if (!older.empty()) {
      // The schedule notes live in a sub-folder of the older notes folder.
      const char sep = older.find('\\') != std::string::npos ? '\\' : '/';
      if (older.back() != sep) older += sep;
      if (!subFolder.empty()) older += subFolder + sep;
      value = older;
      EcritureIni(bases_[i].systemFile, BaseSection(i), key, value);
    } else {
      value = fallback;
    }
  }
  const std::string f = folderValue(value);
  VerificationEtCreationRepertoire(f);
  return f;
}

std::string SiteConfig::DetermineDossierSon(int base, SoundKind kind, int station) {
  if (base < 0 || base >= baseCount_ || station < 1 || station > bases_[base].stationCount)
    return {};
  const std::string& folder = bases_[base].sounds[station - 1][static_cast<int>(kind)].folder;
  VerificationEtCreationRepertoire(folder);
  return folder;
}

std::string SiteConfig::ChangeUNCFolder2LocalFolder(int base, const std::string& uncPath) {
  log_.TraceLogEncadre(-1, -1, -1, "Shared Paths List |UNC Path to Change: " + uncPath, '=');
  const IniDocument site = IniDocument::load(siteFile_);
  for (const auto& share : site.keys("Shares")) {
    if (share.rfind("\\\\", 0) == 0) continue;  // whole UNC prefixes are not shares of this computer
    const std::string prefix = "\\\\" + env_.computerName + "\\" + share + "\\";
    if (uncPath.size() < prefix.size() || !EqualsNoCase(uncPath.substr(0, prefix.size()), prefix))
      continue;
    const std::string local =
        mapper_.shareOfThisComputer(share) + BackslashesToSlashes(uncPath.substr(prefix.size()));
    log_.TraceLog(NN(base + 1) + ": UNC: Local Path found: " + local);
    if (Folder_Exist(local)) {
      log_.TraceLog(NN(base + 1) + ": UNC: Path change from: " + uncPath + " to: " + local);
      return local;
    }
  }
  return uncPath;
}

void SiteConfig::PositionFeuille(const std::string& form, const std::string& variant,
                                 int screenHeight, int& left, int& top) const {
  const std::string name = variant.empty() ? form : form + "_" + variant;
  const std::string file = positionsFile();
  left = static_cast<int>(ParseInt(LectureIni(file, "FrmPos", name + "_Left", "0")).value_or(0));
  top = static_cast<int>(ParseInt(LectureIni(file, "FrmPos", name + "_Top", "0")).value_or(0));
  if (top >= screenHeight) top = screenHeight / 2;
}

void SiteConfig::PositionFeuilleSauvegarde(const std::string& form, const std::string& variant,
                                           int left, int top) const {
  const std::string name = variant.empty() ? form : form + "_" + variant;
  const std::string file = positionsFile();
  EcritureIni(file, "FrmPos", name + "_Left", std::to_string(left));
  EcritureIni(file, "FrmPos", name + "_Top", std::to_string(top));
}

std::string SiteConfig::logFolderFromSite() {
  if (!File_Exist(siteFile_)) return {};
  const int count = clampInt(LectureIni(siteFile_, "Site", "NbBase", "1"), 1, 1, kMaxBases);
  const int base = clampInt(LectureIni(siteFile_, "Site", "NoBase", "1"), 1, 1, count) - 1;
  const std::string systemFile = DetermineDossierConfig_Fichier(siteFile_, base);
  return folderValue(LectureIni(systemFile, BaseSection(base), "Dossier_Log", "C:\\AudioLog\\")) +
         "Histo_Vexa_Sonoteka/";
}

}  // namespace sono
