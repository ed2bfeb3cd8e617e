// The program's settings: one reader for the desktop and the command line,
// values a hand-edited file may hold, writes by name, a failed write.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/ini.h"
#include "core/program_settings.h"
#include "library_fixture.h"

namespace sono::data {

class SettingsTest : public test::LibraryFixture {
 protected:
  SettingsTest() : settings(values, config, log, prompt) { config.NomDossierSettings(); }
  StartupSettings values;
  ProgramSettings settings;
};

TEST_F(SettingsTest, HandEditedValuesReadAsTheProgramUsesThem) {
  const std::string file = config.settingsFile();
  settings.Load();  // a fresh file: the editor panel shown, nothing filtered
  EXPECT_TRUE(values.editorPanel);
  EXPECT_EQ(values.SoundTypeFilter(), "0123456789");
  EXPECT_EQ(values.cartridgeSongs[7], "*");
  EcritureIni(file, "GrilleMorceaux", "CurrentTab", "deux");
  EcritureIni(file, "Filtres", "TypesSons", "9x3 3");
  EcritureIni(file, "Cartouchier", "SongId_1", "   ");
  EcritureIni(file, "Cartouchier", "SongId_2", " 00000001 ");
  EcritureIni(file, "Menus", "MnuES", "0");
  EcritureIni(config.current().systemFile, "Ptx", "Save", "1");
  settings.Load();
  EXPECT_EQ(values.currentTab, 1);
  EXPECT_EQ(values.soundTypes, "39");
  EXPECT_EQ(values.cartridgeSongs[1], "*");
  EXPECT_EQ(values.cartridgeSongs[2], "00000001");
  EXPECT_FALSE(values.editorPanel);
  EXPECT_TRUE(values.ptxSave);
  EXPECT_EQ(values.MusicTabAtStart(1), 0);
  values.currentTab = 3;
  EXPECT_EQ(values.MusicTabAtStart(3), 2);
  EXPECT_EQ(values.MusicTabAtStart(2), 0);
  // A number past int's range never wraps onto a tab that exists.
  EcritureIni(file, "GrilleMorceaux", "CurrentTab", "4294967297");
  settings.Load();
  EXPECT_EQ(values.MusicTabAtStart(1), 0);
  EXPECT_GT(values.currentTab, 1);
}

TEST_F(SettingsTest, SetByNameChecksTheValueAndWritesOneKey) {
  const std::string file = config.settingsFile();
  bool usage = false;
  EXPECT_EQ(settings.Set("filtres/sons", "0", usage), "");
  EXPECT_EQ(LectureIni(file, "Filtres", "Sons", ""), "0");
  EXPECT_FALSE(values.soundFilter);
  EXPECT_EQ(settings.Set("Filtres/TypesSons", "7 1", usage), "Filtres/TypesSons prend des chiffres de 0 à 9 (rien: tous les types)");
  EXPECT_TRUE(usage);
  EXPECT_EQ(settings.Set("Filtres/TypesSons", "717", usage), "");
  EXPECT_EQ(LectureIni(file, "Filtres", "TypesSons", ""), "17");
  EXPECT_NE(settings.Set("Filtres/Sons", "2", usage), "");
  EXPECT_NE(settings.Set("GrilleMorceaux/CurrentTab", "0", usage), "");
  EXPECT_NE(settings.Set("Cartouchier/SongId_8", "00000001", usage), "");
  EXPECT_NE(settings.Set("Cartouchier/SongId_7", "123456789", usage), "");
  EXPECT_TRUE(usage);
  EXPECT_EQ(settings.Set("Cartouchier/SongId_7", "00000001", usage), "");
  EXPECT_EQ(LectureIni(file, "Cartouchier", "SongId_7", ""), "00000001");
  // The base's default of automatic storing is not this workstation's to change.
  EXPECT_NE(settings.Set("Ptx/Save", "1", usage), "");
  EXPECT_TRUE(usage);
  EXPECT_EQ(LectureIni(config.current().systemFile, "Ptx", "Save", "absent"), "absent");
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(SettingsTest, AFailedWriteKeepsTheValueForTheSessionAndSaysSo) {
  const std::string file = config.settingsFile();
  std::filesystem::remove(file);
  std::filesystem::create_directories(file);  // the rename onto it fails, even for root
  EXPECT_FALSE(settings.SetFlag(SettingId::HideInactiveCategories, true));
  EXPECT_TRUE(values.hideInactiveCategorySongs);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_NE(prompt.shown[0].text.find("MasquerMorceauxCategorieNonActiveSurStation n'a pas pu être enregistré"),
            std::string::npos)
      << prompt.shown[0].text;
  const auto lines = Logged();
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& l) { return l.rfind("Err: Settings not written: ", 0) == 0; }),
            lines.end());
  bool usage = true;
  EXPECT_NE(settings.Set("Menus/MnuES", "0", usage), "");
  EXPECT_FALSE(usage);  // a failure, not a bad usage
}

}  // namespace sono::data
