#include <gtest/gtest.h>

#include "core/config.h"
#include "core/manual_ports.h"
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
  std::vector<std::string> logged() const {
    std::vector<std::string> out;
    for (const auto& l : log.pending()) out.push_back(l.substr(25));
    return out;
  }

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

TEST_F(ConfigTest, GivingUpTheDatabaseSearchGoesOn) {
  site();
  system("[Base_01]\nLib=FM\n");
  prompt.answers = {Answer::No};
  SiteConfig config = make();
  config.InitGeneralSite();
  EXPECT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(config.current().dataFolder, drive("QZ_Data/"));
  EXPECT_TRUE(Exists(config.current().dataFolder + "Podcast/Resume/"));
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

}  // namespace sono
