#include <gtest/gtest.h>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <regex>
#include <sys/stat.h>

#include "core/config.h"
#include "core/manual_ports.h"
#include "log_lines.h"
#include "core/text.h"
#include "test_support.h"

namespace sono {
using test::Exists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace {
class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() : log(clock) {}
  SiteConfig make() {
    ConfigEnvironment env;
    env.programFolder = dir.path();
    env.computerName = "poste";
    env.version = "1.2.3";
    env.exePath = dir / "programme";
    WriteFile(env.exePath, "binaire");
    return SiteConfig(env, log, prompt);
  }
  std::string drive(const std::string& rel) const { return dir / ("drives/c/" + rel); }
  void site(const std::string& nbBase = "1", const std::string& extra = "") {
    WriteFile(dir / "Settings/Vexa_Config.ini",
              "[Site]\nLib=Radio\nNbBase=" + nbBase + "\nDossier_Config_Global=C:\\Cfg\\\n" + extra);
  }
  void system(const std::string& content) { WriteFile(drive("Cfg/Vexa_Systeme.ini"), content); }
  void database(const std::string& folder) { WriteFile(folder + "FRAD000.bt6", "db"); }
  std::vector<std::string> logged() const { return test::LogMessages(log.pending()); }

  TempDir dir;
  ManualClock clock;
  TraceLogger log;
  ScriptedPrompt prompt;
};
}  // namespace

TEST_F(ConfigTest, BaseTableFromTheSystemFile) {
  site();
  system(
      "[Base_01]\nLib=Base FM\nActif=1\nNbStation=2\n"
      "Dossier_Log=C:\\Logs\nDossier_Data=  \"C:\\Mes Données\\\"  \nDossier_Redist=C:\\Redist\\\n"
      "[Base_01_Settings_Folders]\nBackup=C:\\Bkp\n"
      "[Base_01_Sounds_Folders]\nMus_01=1:C:\\Sons\\FM\\\nJin_02=0:\\\\poste\\Sons\\Jingles\n"
      "[Base_01_Station_01]\nLib=FM\nActif=1\n[Base_01_Station_02]\nLib=Classique\n");
  WriteFile(dir / "Settings/Vexa_Config.ini",
            "[Site]\nNbBase=1\nDossier_Config_Global=C:\\Cfg\\\n[Shares]\nSons=" + dir.path() +
                "partage/\n");
  database(drive("Mes Données/"));
  SiteConfig config = make();
  config.InitGeneralPath(true);
  config.InitGeneralSite();

  ASSERT_EQ(config.baseCount(), 1);
  const BaseInfo& b = config.current();
  EXPECT_EQ(b.name, "Base FM");
  EXPECT_TRUE(b.active);
  EXPECT_EQ(b.stationCount, 2);
  EXPECT_EQ(b.systemFile, drive("Cfg/Vexa_Systeme.ini"));
  EXPECT_EQ(b.logRoot, drive("Logs/"));  // trailing separator added
  EXPECT_EQ(b.logFolder, drive("Logs/Histo_Vexa_Sonoteka/"));
  EXPECT_EQ(b.dataFolder, drive("Mes Données/"));  // quotes and blanks around removed
  EXPECT_EQ(b.backupFolder, drive("Bkp/"));
  EXPECT_EQ(b.advertLogFolder, drive("AudioLog/Pub/"));
  EXPECT_EQ(b.localIniFolder, drive("Brevalon/Ondavia/Settings/_Local/Serveur_Ini/Library/01/"));
  EXPECT_EQ(b.notesFolder, drive("Brevalon/Ondavia/Notes/"));
  EXPECT_EQ(b.sounds[0][0].folder, drive("Sons/FM/"));
  EXPECT_EQ(b.sounds[0][0].flag, 1);
  EXPECT_EQ(b.sounds[1][1].folder, dir / "partage/Jingles/");
  EXPECT_EQ(b.sounds[1][1].flag, 0);
  EXPECT_EQ(b.sounds[1][0].folder, drive("QZ_Sons/Musique/"));
  EXPECT_EQ(b.sounds[0][7].folder, drive("QZ_Sons/Autre/"));
  ASSERT_EQ(b.stations.size(), 2u);
  EXPECT_EQ(b.stations[0].name, "FM");
  EXPECT_TRUE(b.stations[0].active);
  EXPECT_EQ(b.stations[1].name, "Classique");
  EXPECT_FALSE(b.stations[1].active);
  for (const std::string& f :
       {b.logFolder, b.advertLogFolder, b.localIniFolder, b.imageFolder + "Artiste/",
        b.imageFolder + "Message/", b.dataFolder + "Podcast/Resume/",
        b.dataFolder + "Podcast/Description/", b.notesFolder + "Disque/", b.scheduleNotesFolder,
        b.sounds[1][1].folder, b.backupFolder})
    EXPECT_TRUE(Exists(f)) << f;
  EXPECT_EQ(ReadFile(drive("Redist/QZ/Backup/Programmes/1.2.3 Vexa_Library.exe")), "binaire");
  EXPECT_TRUE(prompt.shown.empty());        // database found: no question
  EXPECT_TRUE(prompt.offeredLists.empty());  // one base: no selection window
  EXPECT_EQ(config.DetermineDossierSon(0, SoundKind::Jin, 2), dir / "partage/Jingles/");
  EXPECT_EQ(config.DetermineDossierSon(0, SoundKind::Mus, 3), "");  // no third station
  const auto lines = logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Data_Folder: " + drive("Mes Données/")),
            lines.end());
}

TEST_F(ConfigTest, MissingOrGarbageValuesTakeDefaults) {
  site("beaucoup");
  system("[Base_01]\nNbStation=-4\n\x01\x02garbage\xff\n");
  database(drive("QZ_Data/"));
  SiteConfig config = make();
  config.InitGeneralPath(true);
  config.InitGeneralSite();
  ASSERT_EQ(config.baseCount(), 1);
  const BaseInfo& b = config.current();
  EXPECT_EQ(b.name, "Base 01");
  EXPECT_FALSE(b.active);
  EXPECT_EQ(b.stationCount, 1);
  EXPECT_EQ(b.logFolder, drive("AudioLog/Histo_Vexa_Sonoteka/"));
  EXPECT_EQ(b.dataFolder, drive("QZ_Data/"));
  EXPECT_EQ(b.stations[0].name, "Station 1");
  EXPECT_EQ(b.redistFolder, "");  // no program backup without "Dossier_Redist"
}

TEST_F(ConfigTest, MissingDatabaseAsksAndThePickedFolderIsKept) {
  site();
  system("[Base_01]\nLib=FM\n");
  // "No": the search is given up and the start goes on with the default folder.
  prompt.answers = {Answer::No};
  SiteConfig givenUp = make();
  givenUp.InitGeneralSite();
  EXPECT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(givenUp.current().dataFolder, drive("QZ_Data/"));
  EXPECT_TRUE(Exists(givenUp.current().dataFolder + "Podcast/Resume/"));

  prompt.shown.clear();
  database(dir / "ailleurs/");
  prompt.answers = {Answer::Yes, Answer::Yes};
  prompt.folders = {dir / "vide", dir / "ailleurs"};  // a wrong folder first, then the right one
  SiteConfig config = make();
  config.InitGeneralSite();
  ASSERT_EQ(prompt.shown.size(), 2u);
  EXPECT_EQ(prompt.shown[0].text,
            "Impossible de trouver la base de données pour la base: FM\n\nFichier '" +
                drive("QZ_Data/FRAD000.bt6") +
                "' non trouvé\n\nVoulez-vous rechercher manuellement la localisation de la base "
                "de données Ondavia ?");
  EXPECT_EQ(prompt.shown[0].icon, Icon::Question);
  EXPECT_EQ(prompt.shown[0].buttons, Buttons::YesNoCancel);
  EXPECT_EQ(config.current().dataFolder, dir / "ailleurs/");
  EXPECT_EQ(LectureIni(drive("Cfg/Vexa_Systeme.ini"), "Base_01", "Dossier_Data", ""),
            dir / "ailleurs/");
}

TEST_F(ConfigTest, SeveralBasesOfferTheSelectionAndStoreTheChoice) {
  site("3", "NoBase=2\n");
  system("[Base_01]\nLib=Nord\n[Base_02]\nLib=Sud\n[Base_03]\nLib=Est\nDossier_Data=C:\\Est\\\n");
  database(drive("QZ_Data/"));
  database(drive("Est/"));
  prompt.choices = {2};
  SiteConfig config = make();
  config.InitGeneralSite();
  ASSERT_EQ(prompt.offeredLists.size(), 1u);
  EXPECT_EQ(prompt.offeredLists[0], (std::vector<std::string>{"Nord", "Sud", "Est"}));
  EXPECT_EQ(config.baseCount(), 3);
  EXPECT_EQ(config.currentBase(), 2);
  EXPECT_EQ(config.current().dataFolder, drive("Est/"));
  EXPECT_EQ(LectureIni(dir / "Settings/Vexa_Config.ini", "Site", "NoBase", ""), "3");
  EXPECT_TRUE(prompt.stepWindowVisible);  // shown again after the choice
}

TEST_F(ConfigTest, FreshSiteIsBuiltFromTheOlderConfiguration) {
  WriteFile(dir / "Windows/Win.ini",
            "[Brevalon]\nUNC_Actif=0FF\nINI_ONDAVIA=C:\\Ancien\\\nINI_ONDAVIA_UNC=\\\\srv\\x\\\n"
            "Nb_Base=1\n");
  WriteFile(drive("Ancien/KM_SYS.ini"),
            "[Div_radio]\nNom_Radio=Radio Vieille\nStation_002=Deuxième\n"
            "[Stations]\nNb_Max=2\n"
            "[UNC_Actif]\nREPBTR=ON\n"
            "[Repertoires]\nREPLOG=C:\\VieuxLogs\\\nREPBTR=C:\\Local\\Data\\\n"
            "[Repertoires_UNC]\nREPBTR=\\\\srv\\data\\\n"
            "[Repertoire_Station]\n000_001=C:\\Sons\\Un\\\nJIN_002=C:\\Sons\\Jin2\\\n");
  SiteConfig config = make();
  EXPECT_EQ(config.DetermineDossierConfig(), dir / "Settings/Vexa_Config.ini");
  const std::string siteFile = dir / "Settings/Vexa_Config.ini";
  EXPECT_EQ(LectureIni(siteFile, "Site", "Lib", ""), "Radio Vieille");
  EXPECT_EQ(LectureIni(siteFile, "Site", "NbBase", ""), "1");
  EXPECT_EQ(LectureIni(siteFile, "Site", "NoBase", ""), "1");
  EXPECT_EQ(LectureIni(siteFile, "Site", "Dossier_Config_Global", ""), "C:\\Ancien\\");
  const std::string sys = drive("Ancien/Vexa_Systeme.ini");
  EXPECT_EQ(LectureIni(sys, "Base_01", "Lib", ""), "Radio Vieille");
  EXPECT_EQ(LectureIni(sys, "Base_01", "NbStation", ""), "2");
  EXPECT_EQ(LectureIni(sys, "Base_01", "Dossier_Log", ""), "C:\\VieuxLogs\\");
  EXPECT_EQ(LectureIni(sys, "Base_01", "Dossier_Data", ""), "\\\\srv\\data\\");  // per-key UNC
  EXPECT_EQ(LectureIni(sys, "Base_01", "Dossier_Log_Pub", ""), "C:\\AudioLog\\Pub\\");
  EXPECT_EQ(LectureIni(sys, "Base_01", "Dossier_Data_Backup", ""), "C:\\BTRieve\\Data\\");
  EXPECT_EQ(LectureIni(sys, "Base_01_Station_01", "Lib", ""), "Station 01");
  EXPECT_EQ(LectureIni(sys, "Base_01_Station_02", "Lib", ""), "Deuxième");
  EXPECT_EQ(LectureIni(sys, "Base_01_Station_02", "Actif", ""), "1");
  EXPECT_EQ(LectureIni(sys, "Base_01_Station_01", "Dossiers_Sons_Mus", ""), "C:\\Sons\\Un\\");

  // The migrated sound folders are used by the base table.
  database(dir / "unc/srv/data/");
  config.InitGeneralSite();
  EXPECT_EQ(config.current().sounds[0][0].folder, drive("Sons/Un/"));
  EXPECT_EQ(config.current().sounds[1][1].folder, drive("Sons/Jin2/"));
  EXPECT_EQ(config.current().dataFolder, dir / "unc/srv/data/");
  // An existing site file is never rebuilt.
  WriteFile(dir / "Windows/Win.ini", "[Brevalon]\nNb_Base=3\n");
  config.DetermineDossierConfig();
  EXPECT_EQ(LectureIni(siteFile, "Site", "NbBase", ""), "1");
}

TEST_F(ConfigTest, OlderConfigurationWithUncOnUsesTheUncFolder) {
  WriteFile(dir / "Windows/Win.ini",
            "[Brevalon]\nUNC_Actif=ON\nINI_ONDAVIA=C:\\Local\\\nINI_ONDAVIA_UNC=C:\\Reseau\\\n"
            "Nb_Base=1\n");
  WriteFile(drive("Reseau/KM_SYS.ini"), "[Div_radio]\nNom_Radio=Par le réseau\n");
  SiteConfig config = make();
  config.DetermineDossierConfig();
  EXPECT_EQ(LectureIni(dir / "Settings/Vexa_Config.ini", "Site", "Lib", ""), "Par le réseau");
  EXPECT_TRUE(Exists(drive("Reseau/Vexa_Systeme.ini")));
}

TEST_F(ConfigTest, NotesFolderComesFromTheOlderFileAndIsWrittenBack) {
  site();
  system("[Base_01]\nLib=FM\n");
  WriteFile(drive("Cfg/KM_SYS.ini"), "[Repertoires]\nREPBLOCNOTES=C:\\Vieux\\Notes\n");
  database(drive("QZ_Data/"));
  SiteConfig config = make();
  config.InitGeneralSite();
  EXPECT_EQ(config.current().notesFolder, drive("Vieux/Notes/"));
  EXPECT_EQ(config.current().scheduleNotesFolder, drive("Vieux/Notes/Conducteur/"));
  EXPECT_EQ(LectureIni(drive("Cfg/Vexa_Systeme.ini"), "Base_01", "Dossier_Notes", ""),
            "C:\\Vieux\\Notes\\");
}

TEST_F(ConfigTest, SettingsFilesAndWindowPositions) {
  SiteConfig config = make();
  WriteFile(dir / "Windows/Vexa_Library_2.Ini", "[Stations]\nLast=1\n");
  config.NomDossierSettings();
  EXPECT_TRUE(Exists(dir / "Settings/Vexa_Library/Histo/"));
  EXPECT_EQ(config.settingsFile(), dir / "Settings/Vexa_Library/Vexa_Library.Ini");
  EXPECT_EQ(LectureIni(config.settingsFile(), "Stations", "Last", ""), "1");  // older copy brought over
  EXPECT_EQ(config.positionsFile(), dir / "Settings/Vexa_Library/Vexa_Library_Positions.Ini");
  EXPECT_EQ(config.NomFichierSettings("_X", ".Ini", "Vexa_Menu"),
            dir / "Settings/Vexa_Menu/Vexa_Menu_X.Ini");

  int left = -1, top = -1;
  config.PositionFeuille("FrmSetup", "", 1000, left, top);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(top, 0);
  config.PositionFeuilleSauvegarde("FrmSetup", "Audio", 120, 1000);
  config.PositionFeuille("FrmSetup", "Audio", 1000, left, top);
  EXPECT_EQ(left, 120);
  EXPECT_EQ(top, 500);  // at the screen's bottom: brought back to half its height
  EXPECT_EQ(LectureIni(config.positionsFile(), "FrmPos", "FrmSetup_Audio_Top", ""), "1000");
}

TEST_F(ConfigTest, UncFolderOfThisComputerBecomesLocalWhenItExists) {
  WriteFile(dir / "Settings/Vexa_Config.ini", "[Shares]\nSons=" + dir.path() + "partage\n");
  std::filesystem::create_directories(dir / "partage/Mus");
  SiteConfig config = make();
  EXPECT_EQ(config.ChangeUNCFolder2LocalFolder(0, "\\\\POSTE\\Sons\\Mus\\"), dir / "partage/Mus/");
  EXPECT_EQ(config.ChangeUNCFolder2LocalFolder(0, "\\\\poste\\Sons\\Absent\\"),
            "\\\\poste\\Sons\\Absent\\");
  EXPECT_EQ(config.ChangeUNCFolder2LocalFolder(0, "\\\\autre\\Sons\\Mus\\"),
            "\\\\autre\\Sons\\Mus\\");
  const auto lines = logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "01: UNC: Path change from: \\\\POSTE\\Sons\\Mus\\ to: " + dir.path() +
                          "partage/Mus/"),
            lines.end());
}

TEST_F(ConfigTest, UncreatableFolderIsLoggedAndToldWhenAsked) {
  WriteFile(dir / "fichier", "x");
  SiteConfig config = make();
  EXPECT_FALSE(config.VerificationEtCreationRepertoire(dir / "fichier/sous/", true));
  const auto lines = logged();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Err: Folder not found: " + dir / "fichier/sous/");
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Folder '" + dir / "fichier/sous/" + "' not found");
}

TEST_F(ConfigTest, OverflowingNumbersAreClampedNotWrappedOrReset) {
  site();
  system("[Base_01]\nLib=FM\nNbStation=99999999999999999999\n");
  database(drive("QZ_Data/"));
  SiteConfig config = make();
  config.InitGeneralSite();
  EXPECT_EQ(config.current().stationCount, kMaxStations);
  EXPECT_EQ(config.current().stations.size(), static_cast<size_t>(kMaxStations));

  system("[Base_01]\nLib=FM\nNbStation=-99999999999999999999\n");
  SiteConfig again = make();
  again.InitGeneralSite();
  EXPECT_EQ(again.current().stationCount, 1);

  // 2^32 + 1 would wrap to 1; clamped, it is far below the screen and brought back.
  WriteFile(again.positionsFile(), "[FrmPos]\nFrm_Main_Left=-4294967297\nFrm_Main_Top=4294967297\n");
  int left = 0, top = 0;
  again.PositionFeuille("Frm_Main", "", 1000, left, top);
  EXPECT_EQ(left, std::numeric_limits<int>::min());
  EXPECT_EQ(top, 500);
}

TEST_F(ConfigTest, ASoundFolderFlagWithoutAFolderIsRefusedAndTheDefaultUsed) {
  site();
  system("[Base_01]\nLib=FM\nNbStation=2\n"
         "[Base_01_Sounds_Folders]\nMus_01=1:\nJin_01=  0:   \nLin_01=1:C:\\Sons\\Lin\\\n"
         "[Base_01_Station_02]\nDossiers_Sons_Pub=1:\n");
  database(drive("QZ_Data/"));
  SiteConfig config = make();
  config.InitGeneralSite();
  const BaseInfo& b = config.current();
  EXPECT_EQ(b.sounds[0][0].folder, drive("QZ_Sons/Musique/"));
  EXPECT_EQ(b.sounds[0][0].flag, 0);
  EXPECT_EQ(b.sounds[0][1].folder, drive("QZ_Sons/Autre/"));
  EXPECT_EQ(b.sounds[0][2].folder, drive("Sons/Lin/"));  // a flag with its folder is fine
  EXPECT_EQ(b.sounds[0][2].flag, 1);
  EXPECT_EQ(b.sounds[1][static_cast<int>(SoundKind::Pub)].folder, drive("QZ_Sons/Autre/"));
  for (int s = 0; s < b.stationCount; ++s)
    for (int k = 0; k < kSoundKinds; ++k)
      EXPECT_EQ(b.sounds[s][k].folder.rfind(dir.path(), 0), 0u) << s << " " << k;

  ASSERT_EQ(prompt.shown.size(), 1u);  // one box for the base
  EXPECT_EQ(prompt.shown[0].text,
            "Dossiers des sons refusés pour la base FM:\n"
            "  [Base_01_Sounds_Folders] Mus_01=1:\n"
            "  [Base_01_Sounds_Folders] Jin_01=0:\n"
            "  [Base_01_Station_02] Dossiers_Sons_Pub=1:\n"
            "\nUn indicateur \"0:\" ou \"1:\" doit être suivi d'un dossier. Le dossier par défaut "
            "est utilisé pour ces sons.");
  const auto lines = logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Err: Sound folder without a folder: [Base_01_Sounds_Folders] Mus_01=1: "
                      "|Default used: " + drive("QZ_Sons/Musique/")),
            lines.end());
}

TEST_F(ConfigTest, TheBaseChoiceKeepsTheConfiguredFormOfTheConfigFolder) {
  // Each base names its configuration folder; the chosen one is written to
  // [Site] as configured, never as the folder it maps to here.
  WriteFile(dir / "Settings/Vexa_Config.ini",
            "[Site]\nLib=Radio D\xE9mo\nNbBase=2\nNoBase=1\nDossier_Config_Global=\n"
            "[Base_01]\nDossier_Config_Global=C:\\Nord\\\n"
            "[Base_02]\nDossier_Config_Global=\\\\srv\\Sud\\\n");
  WriteFile(drive("Nord/Vexa_Systeme.ini"), "[Base_01]\nLib=Nord\n");
  WriteFile(dir / "unc/srv/Sud/Vexa_Systeme.ini", "[Base_02]\nLib=Sud\n");
  database(drive("QZ_Data/"));
  prompt.choices = {1};
  SiteConfig config = make();
  config.InitGeneralSite();
  EXPECT_EQ(config.currentBase(), 1);
  EXPECT_EQ(config.current().configFolder, dir / "unc/srv/Sud/");
  EXPECT_EQ(config.current().configFolderSetting, "\\\\srv\\Sud\\");
  EXPECT_EQ(ReadFile(dir / "Settings/Vexa_Config.ini"),
            "[Site]\nLib=Radio D\xE9mo\nNbBase=2\nNoBase=2\nDossier_Config_Global=\\\\srv\\Sud\\\n"
            "[Base_01]\nDossier_Config_Global=C:\\Nord\\\n"
            "[Base_02]\nDossier_Config_Global=\\\\srv\\Sud\\\n");
}

TEST_F(ConfigTest, AnUnusableSiteFileIsReportedKeptAsideAndNeverReplaced) {
  struct Case {
    const char* what;
    std::string content;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"binary junk", std::string("[Site]\nNbBase=1\n\0\0\0\0\x01\x02\xff", 22),
       "est endommagé (il contient des octets binaires)"},
      {"empty", "", "est vide"},
      {"blank", "  \r\n\t\n", "est vide"},
      {"UTF-16 without its mark", std::string("[\0S\0i\0t\0e\0]\0\r\0\n\0", 16),
       "est endommagé (il contient des octets binaires)"},
      {"text without [Site]", "Lib=Radio\nNbBase=2\n", "est endommagé (il n'a pas de section [Site])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir home;
    const std::string siteFile = home / "Settings/Vexa_Config.ini";
    WriteFile(siteFile, c.content);
    WriteFile(home / "Windows/Win.ini", "[Brevalon]\nNb_Base=1\n");  // never used to rebuild it
    ScriptedPrompt boxes;
    ConfigEnvironment env;
    env.programFolder = home.path();
    // Asked before the start-up read it (a refusal on missing components).
    EXPECT_EQ(SiteConfig(env, log, boxes).logFolderFromSite(), "");
    for (int start = 0; start < 2; ++start) {
      SiteConfig config(env, log, boxes);
      EXPECT_FALSE(config.InitGeneralPath(true));
      EXPECT_FALSE(config.InitGeneralSite());
      EXPECT_FALSE(config.siteUsable());
      EXPECT_EQ(config.logFolderFromSite(), "");  // no default log folder for the refusal
    }
    EXPECT_EQ(ReadFile(siteFile), c.content);  // left in place, untouched
    EXPECT_FALSE(Exists(home / "drives"));      // no default folder made anywhere
    EXPECT_FALSE(Exists(home / "Config"));
    // One dated copy beside it, however many starts.
    std::vector<std::string> copies;
    for (const auto& name : test::FolderEntries(home / "Settings"))
      if (name != "Vexa_Config.ini") copies.push_back(name);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(std::regex_match(copies[0], std::regex(R"(Vexa_Config_endommage_\d{8}_\d{6}\.ini)")))
        << copies[0];
    EXPECT_EQ(ReadFile(home / ("Settings/" + copies[0])), c.content);
    ASSERT_EQ(boxes.shown.size(), 2u);  // once per start
    EXPECT_EQ(boxes.shown[0].icon, Icon::Critical);
    EXPECT_EQ(boxes.shown[0].text,
              std::string("Le fichier de configuration du site ") + c.reason + ":\n" + siteFile +
                  "\n\nUne copie en a été gardée: " + home / ("Settings/" + copies[0]) +
                  "\n\nLe programme ne peut pas démarrer sans lui: il décrit les bases et les "
                  "dossiers du site. Réparez-le ou remettez à sa place une copie saine, puis "
                  "relancez le programme.");
    EXPECT_EQ(log.pending().back().substr(25).rfind("Err: Site file unusable (", 0), 0u)
        << log.pending().back();
  }
}

TEST_F(ConfigTest, AnUnreadableSiteFileStopsTheStartWithoutACopy) {
  std::filesystem::create_directories(dir / "Settings/Vexa_Config.ini");  // a folder: EISDIR
  SiteConfig config = make();
  EXPECT_FALSE(config.InitGeneralPath(true));
  EXPECT_FALSE(config.siteUsable());
  EXPECT_FALSE(Exists(dir / "drives"));
  EXPECT_EQ(test::FolderEntries(dir / "Settings").size(), 1u);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text.rfind("Le fichier de configuration du site ne peut pas être lu (", 0),
            0u)
      << prompt.shown[0].text;
  EXPECT_EQ(logged().back(), "Err: Site file unusable (unreadable: Is a directory): " +
                                 dir / "Settings/Vexa_Config.ini");
}

TEST_F(ConfigTest, AUtf16SiteFileWithItsMarkIsReadAndStaysUtf16) {
  const std::string siteFile = dir / "Settings/Vexa_Config.ini";
  const std::string text =
      "[Site]\r\nLib=Radio Démo\r\nNbBase=2\r\nNoBase=1\r\nDossier_Config_Global=C:\\Cfg\\\r\n";
  WriteFile(siteFile, "\xFF\xFE" + Utf8ToUtf16(text, false));
  system("[Base_01]\nLib=Nord\n[Base_02]\nLib=Sud\n");
  database(drive("QZ_Data/"));
  prompt.choices = {1};
  SiteConfig config = make();
  EXPECT_TRUE(config.InitGeneralSite());
  EXPECT_EQ(config.baseCount(), 2);
  EXPECT_EQ(config.current().name, "Sud");
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_EQ(ReadFile(siteFile), "\xFF\xFE" + Utf8ToUtf16(ReplaceAll(text, "NoBase=1", "NoBase=2"), false));
}

TEST_F(ConfigTest, TemporaryFilesOfAKilledRunAreRemovedFromTheConfigurationFolders) {
  site();
  system("[Base_01]\nLib=FM\nDossier_Redist=C:\\Redist\\\n");
  database(drive("QZ_Data/"));
  const std::vector<std::string> stale = {
      dir / "Settings/Vexa_Config.ini.tmp.a1B2c3",
      dir / "Settings/Vexa_Library/Vexa_Library.Ini.tmp.a1B2c3",
      dir / "Settings/Vexa_Library/Histo/x.tmp.a1B2c3",
      drive("Cfg/Vexa_Systeme.ini.tmp.a1B2c3"),
      drive("Brevalon/Ondavia/Settings/_Local/Serveur_Ini/Library/01/k.ini.tmp.a1B2c3"),
      drive("Redist/QZ/Backup/Programmes/1.2.3 Vexa_Library.exe.tmp.a1B2c3")};
  const std::vector<std::string> kept = {
      dir / "Settings/Vexa_Config.ini.tmp.fresh1",         // too recent: maybe being written
      drive("QZ_Sons/Musique/chanson.s48.part4242"),       // sound folders are not walked
      drive("Cfg/notes.tmp")};                             // not a name of ours
  for (const auto& f : stale) WriteFile(f, "x");
  for (const auto& f : kept) WriteFile(f, "x");
  const time_t old = ::time(nullptr) - 2 * 3600;
  for (const auto& f : stale) {
    const timespec t[2] = {{old, 0}, {old, 0}};
    ::utimensat(AT_FDCWD, f.c_str(), t, 0);
  }
  for (size_t i = 1; i < kept.size(); ++i) {
    const timespec t[2] = {{old, 0}, {old, 0}};
    ::utimensat(AT_FDCWD, kept[i].c_str(), t, 0);
  }
  SiteConfig config = make();
  config.NomDossierSettings();
  config.InitGeneralPath(true);
  config.InitGeneralSite();
  for (const auto& f : stale) EXPECT_FALSE(Exists(f)) << f;
  for (const auto& f : kept) EXPECT_TRUE(Exists(f)) << f;
  const auto lines = logged();
  for (const auto& f : stale)
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Temporary file removed: " + f), lines.end()) << f;
}

}  // namespace sono
