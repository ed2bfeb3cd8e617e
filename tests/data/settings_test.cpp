// The program's settings: one reader for the desktop and the command line,
// values a hand-edited file may hold, writes by name, a failed write; and
// sonoteka-cli's settings, search filters and cart commands on a demo site.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/ini.h"
#include "core/program_settings.h"
#include "library_fixture.h"
#include "process.h"

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

namespace {
sono::test::ProcessResult Cli(const std::string& home, std::vector<std::string> args) {
  args.insert(args.begin(), SONOTEKA_CLI);
  args.push_back("--home");
  args.push_back(home);
  return sono::test::RunProcess(args);
}
size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }
}  // namespace

TEST(CliSettings, FiltersAndCartsFromTheSettingsFile) {
  sono::test::TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(Cli(home, {"site", "init-demo"}).exited(0));
  ASSERT_TRUE(Cli(home, {"demo", "build", "--songs", "300"}).exited(0));

  auto r = Cli(home, {"settings", "show"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Filtres/Sons=1\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Menus/MnuES=1\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Filtre des types de son appliqué: 0123456789\n"), std::string::npos) << r.out;

  // The music of the demo has sound types 0 to 2: the three filters split it.
  const size_t music = Lines(Cli(home, {"search", "--kind", "music"}).out);
  size_t split = 0;
  for (const char* type : {"0", "1", "2"}) split += Lines(Cli(home, {"search", "--kind", "music", "--types", type}).out) - 1;
  EXPECT_EQ(split, music - 1);
  EXPECT_TRUE(Cli(home, {"search", "--kind", "music", "--types", "1a"}).exited(2));

  r = Cli(home, {"settings", "set", "Filtres/TypesSons", "1"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out, "Enregistré: Filtres/TypesSons=1\t(types de son cochés (aucun = tous))\n");
  const size_t typeOne = Lines(Cli(home, {"search", "--kind", "music"}).out);
  EXPECT_LT(typeOne, music);
  EXPECT_EQ(Lines(Cli(home, {"search", "--kind", "music", "--types", "all"}).out), music);
  ASSERT_TRUE(Cli(home, {"settings", "set", "Filtres/Sons", "0"}).exited(0));
  EXPECT_EQ(Lines(Cli(home, {"search", "--kind", "music"}).out), music);

  // Jazz is not active on the second station: hidden there once asked for.
  EXPECT_NE(Cli(home, {"search", "--kind", "music", "--station", "2"}).out.find("\tJazz\t"), std::string::npos);
  ASSERT_TRUE(Cli(home, {"settings", "set", "Filtres/MasquerMorceauxCategorieNonActiveSurStation", "1"}).exited(0));
  r = Cli(home, {"search", "--kind", "music", "--station", "2"});
  EXPECT_GT(Lines(r.out), 1u);
  EXPECT_EQ(r.out.find("\tJazz\t"), std::string::npos);

  EXPECT_TRUE(Cli(home, {"settings", "set", "Filtres/Sons", "oui"}).exited(2));
  EXPECT_TRUE(Cli(home, {"settings", "set", "Ptx/Save", "1"}).exited(2));
  EXPECT_TRUE(Cli(home, {"settings", "set", "Inconnu/Cle", "1"}).exited(2));

  // Carts: a song of the library goes in, an unknown code is refused.
  r = Cli(home, {"cart", "load", "3", "00000002"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  ASSERT_EQ(r.out.rfind("3\t00000002\t", 0), 0u) << r.out;
  EXPECT_GT(r.out.size(), std::string("3\t00000002\t\n").size());  // with its title
  r = Cli(home, {"cart", "load", "4", "ZZZ00001"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("Morceau non trouvé: ZZZ00001"), std::string::npos) << r.err;
  EXPECT_TRUE(Cli(home, {"cart", "load", "9", "00000002"}).exited(2));
  r = Cli(home, {"settings", "show"});
  EXPECT_NE(r.out.find("Cartouchier/SongId_2=00000002\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Cartouchier/SongId_3=*\t"), std::string::npos) << r.out;
  ASSERT_TRUE(Cli(home, {"cart", "eject", "3"}).exited(0));
  r = Cli(home, {"cart", "show"});
  EXPECT_EQ(r.out.rfind("Cartouchier: masqué\n1\t*\t\n2\t*\t\n3\t*\t\n", 0), 0u) << r.out;
}

}  // namespace sono::data
