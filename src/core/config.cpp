#include "core/config.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fmt/format.h>
#include <limits>

#include "core/files.h"
#include "core/system_error_text.h"
#include "core/text.h"

namespace sono {

namespace {
constexpr const char* kSiteFileName = "Vexa_Config.ini";
constexpr const char* kSystemFileName = "Vexa_Systeme.ini";
constexpr const char* kOlderBaseFile = "KM_SYS.ini";
constexpr const char* kProgramName = "Vexa_Library";
constexpr const char* kDamagedSitePrefix = "Vexa_Config_endommage_";
constexpr const char* kSiteFileTitle = "Configuration du site";
constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr int kIntMax = std::numeric_limits<int>::max();

// Why an existing site file cannot be used: French for the box, English for
// the log; nothing when it can be.
struct SiteDamage {
  std::string reason, logReason;
};
std::optional<SiteDamage> diagnoseSiteFile(const std::optional<std::string>& content,
                                           int readError) {
  if (!content)
    return SiteDamage{"ne peut pas être lu (" + SystemErrorText(readError) + ")",
                      std::string("unreadable: ") + std::strerror(readError)};
  const IniDocument doc = IniDocument::parse(*content);
  if (doc.isBlank()) return SiteDamage{"est vide", "empty"};
  if (doc.holdsBinary())
    return SiteDamage{"est endommagé (il contient des octets binaires)", "binary bytes"};
  if (!doc.hasSection("Site"))
    return SiteDamage{"est endommagé (il n'a pas de section [Site])", "no [Site] section"};
  return std::nullopt;
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
  checkSiteFile();
  return siteFile_;
}

void SiteConfig::checkSiteFile() {
  if (siteChecked_) return;
  siteChecked_ = true;
  int readError = 0;
  const auto content = ReadWholeFile(siteFile_, &readError);
  if (!content && readError == ENOENT) {
    createSiteFromOlderConfig();
    return;
  }
  const auto damage = diagnoseSiteFile(content, readError);
  if (!damage) return;

  siteUsable_ = false;
  std::string copy = content ? keepDamagedCopy(*content) : std::string();
  log_.TraceLog("Err: Site file unusable (" + damage->logReason + "): " + siteFile_ +
                (copy.empty() ? std::string() : " |Copy kept: " + copy));
  std::string text =
      "Le fichier de configuration du site " + damage->reason + ":\n" + siteFile_ + "\n\n";
  if (!copy.empty())
    text += "Une copie en a été gardée: " + copy + "\n\n";
  else if (content)
    text += "Aucune copie n'a pu en être faite.\n\n";
  text +=
      "Le programme ne peut pas démarrer sans lui: il décrit les bases et les dossiers du site. "
      "Réparez-le ou remettez à sa place une copie saine, puis relancez le programme.";
  prompt_.message(text, Icon::Critical, Buttons::Ok, kSiteFileTitle);
}

std::string SiteConfig::keepDamagedCopy(const std::string& content) {
  // One copy per distinct content: a site left damaged for days does not
  // fill its folder with copies at every start.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(siteFolder_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kDamagedSitePrefix, 0) != 0) continue;
    if (ReadWholeFile(entry.path().string()) == content) return entry.path().string();
  }
  // File names carry the system clock's time, as the file system's stamps do.
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  const std::string copy =
      siteFolder_ + fmt::format("{}{:04}{:02}{:02}_{:02}{:02}{:02}.ini", kDamagedSitePrefix,
                                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min, local.tm_sec);
  std::string error;
  if (WriteFileAtomic(copy, content, &error)) return copy;
  log_.TraceLog("Err: Site file copy failed: " + error);
  return {};
}

void SiteConfig::removeStaleTempFiles(const std::string& folder) {
  for (const auto& path : RemoveStaleTempFiles(folder))
    log_.TraceLog("Temporary file removed: " + path);
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
  const int nbBase = ParseIntClamped(LectureIni(winIni, "Brevalon", "Nb_Base", "0"), 0, kMaxBases, 0);
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

    const int stations = ParseIntClamped(nbStation, 1, kMaxStations, 1);
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
  if (base >= 0 && base < kMaxBases) bases_[base].configFolderSetting = folder;
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

bool SiteConfig::InitGeneralPath(bool allBases, int base) {
  DetermineDossierConfig();
  if (!siteUsable_) return false;
  baseCount_ = ParseIntClamped(LectureIni(siteFile_, "Site", "NbBase", "1"), 1, kMaxBases, 1);
  const int first = allBases ? 0 : base;
  const int last = allBases ? baseCount_ - 1 : base;
  for (int b = first; b <= last && b < kMaxBases; ++b) {
    bases_[b].configFolder = DetermineDossierConfig_Bases_Dossier(siteFile_, b);
    bases_[b].systemFile = DetermineDossierConfig_Fichier(siteFile_, b);
  }
  return true;
}

std::string SiteConfig::DetermineFichierSysteme(int base) {
  if (base < 0 || base >= kMaxBases) return {};
  if (bases_[base].systemFile.empty()) InitGeneralPath(false, base);
  return bases_[base].systemFile;
}

void SiteConfig::NomDossierSettings() {
  VerificationEtCreationRepertoire(settingsFolder_);
  VerificationEtCreationRepertoire(historyFolder_);
  for (const std::string& folder : {siteFolder_, settingsFolder_, historyFolder_})
    removeStaleTempFiles(folder);
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

bool SiteConfig::InitGeneralSite() {
  if (bases_[0].systemFile.empty()) InitGeneralPath(true);
  if (!siteUsable_) return false;
  baseCount_ = ParseIntClamped(LectureIni(siteFile_, "Site", "NbBase", "1"), 1, kMaxBases, 1);
  for (int b = 0; b < baseCount_; ++b)
    if (bases_[b].systemFile.empty()) InitGeneralPath(false, b);

  currentBase_ = 0;
  if (baseCount_ >= 2) {
    std::vector<std::string> names;
    for (int b = 0; b < baseCount_; ++b) names.push_back(sysValue(b, "Lib", "Base " + NN(b + 1)));
    const int stored = ParseIntClamped(LectureIni(siteFile_, "Site", "NoBase", "1"), 1, baseCount_, 1);
    prompt_.showStepWindow(false);
    const auto chosen = prompt_.chooseItem("Choix de la base", names, stored - 1);
    prompt_.showStepWindow(true);
    currentBase_ = chosen && *chosen >= 0 && *chosen < baseCount_ ? *chosen : stored - 1;
    EcritureIni(siteFile_, "Site", "Dossier_Config_Global",
                bases_[currentBase_].configFolderSetting);
    EcritureIni(siteFile_, "Site", "NoBase", std::to_string(currentBase_ + 1));
  }

  const std::string localDefault = "C:\\Brevalon\\Ondavia\\Settings\\_Local\\";
  localSettingsFolder_ = folderValue(LectureIni(siteFile_, "Site", "Settings_Local_Folder", localDefault));
  if (localSettingsFolder_.empty()) localSettingsFolder_ = folderValue(localDefault);
  VerificationEtCreationRepertoire(localSettingsFolder_);
  removeStaleTempFiles(localSettingsFolder_);
  for (int b = 0; b < baseCount_; ++b) {
    fillBase(b);
    const BaseInfo& base = bases_[b];
    if (!base.systemFile.empty()) removeStaleTempFiles(ParentFolder(base.systemFile));
    removeStaleTempFiles(base.localIniFolder);
    removeStaleTempFiles(base.redistFolder);
  }
  return true;
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
  base.stationCount = ParseIntClamped(sysValue(i, "NbStation", "1"), 1, kMaxStations, 1);

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
  if (base.backupFolder.empty()) base.backupFolder = folderValue("C:\\QZ_Data\\_Bkp\\");
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
  std::vector<std::string> refused;  // "[section] key=value" of flags without a folder
  for (int s = 1; s <= base.stationCount; ++s) {
    for (int k = 0; k < kSoundKinds; ++k) {
      std::string section = soundSection;
      std::string key = std::string(kSoundKindKeys[k]) + NN(s);
      std::string value = Trim(LectureIni(base.systemFile, section, key, ""));
      if (value.empty()) {
        section = StationSection(i, s);
        key = kStationSoundKeys[k];
        value = Trim(LectureIni(base.systemFile, section, key, ""));
      }
      const std::string configured = value;
      if (value.empty()) value = defaultSoundFolder(k);
      SoundFolder& sf = base.sounds[s - 1][k];
      sf.flag = 0;
      if (value.rfind("0:", 0) == 0 || value.rfind("1:", 0) == 0) {
        sf.flag = value[0] - '0';
        value = Trim(value.substr(2));
      }
      sf.folder = folderValue(value);
      if (sf.folder.empty()) {
        sf.flag = 0;
        sf.folder = folderValue(defaultSoundFolder(k));
        refused.push_back("[" + section + "] " + key + "=" + configured);
        log_.TraceLog(i, -1, -1, "Err: Sound folder without a folder: [" + section + "] " + key +
                                     "=" + configured + " |Default used: " + sf.folder);
      }
      VerificationEtCreationRepertoire(sf.folder);
    }
  }
  if (!refused.empty()) {
    std::string text = "Dossiers des sons refusés pour la base " + base.name + ":\n";
    for (const auto& r : refused) text += "  " + r + "\n";
    text +=
        "\nUn indicateur \"0:\" ou \"1:\" doit être suivi d'un dossier. Le dossier par défaut "
        "est utilisé pour ces sons.";
    prompt_.message(text, Icon::Exclamation, Buttons::Ok, kSiteFileTitle);
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
  // A base on PostgreSQL keeps its files in its database, not in the data
  // folder: the file layer looks for them there.
  if (ToUpperAscii(sysValue(i, "Moteur_Data", "LMDB")) == "POSTGRESQL") return;
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
  left = ParseIntClamped(LectureIni(file, "FrmPos", name + "_Left", "0"), kIntMin, kIntMax, 0);
  top = ParseIntClamped(LectureIni(file, "FrmPos", name + "_Top", "0"), kIntMin, kIntMax, 0);
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
  // A missing or unusable site file names no log folder: its defaults would
  // make folders in the wrong places.
  int readError = 0;
  const auto content = siteUsable_ ? ReadWholeFile(siteFile_, &readError) : std::nullopt;
  if (!content || diagnoseSiteFile(content, readError)) return {};
  const int count = ParseIntClamped(LectureIni(siteFile_, "Site", "NbBase", "1"), 1, kMaxBases, 1);
  const int base = ParseIntClamped(LectureIni(siteFile_, "Site", "NoBase", "1"), 1, count, 1) - 1;
  const std::string systemFile = DetermineDossierConfig_Fichier(siteFile_, base);
  return folderValue(LectureIni(systemFile, BaseSection(base), "Dossier_Log", "C:\\AudioLog\\")) +
         "Histo_Vexa_Sonoteka/";
}

}  // namespace sono
