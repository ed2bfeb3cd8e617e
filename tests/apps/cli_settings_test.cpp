// sonoteka-cli's settings, search filters and cart commands on a demo site.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli_site.h"

namespace sono::data {

namespace {
using sono::test::RunCli;
size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }
}  // namespace

TEST(CliSettings, FiltersAndCartsFromTheSettingsFile) {
  sono::test::TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(sono::test::MakeDemoSite(home, {"--songs", "300"}));

  auto r = RunCli(home, {"settings", "show"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Filtres/Sons=1\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Menus/MnuES=1\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Filtre des types de son appliqué: 0123456789\n"), std::string::npos) << r.out;

  // The music of the demo has sound types 0 to 2: the three filters split it.
  const size_t music = Lines(RunCli(home, {"search", "--kind", "music"}).out);
  size_t split = 0;
  for (const char* type : {"0", "1", "2"}) split += Lines(RunCli(home, {"search", "--kind", "music", "--types", type}).out) - 1;
  EXPECT_EQ(split, music - 1);
  EXPECT_TRUE(RunCli(home, {"search", "--kind", "music", "--types", "1a"}).exited(2));

  r = RunCli(home, {"settings", "set", "Filtres/TypesSons", "1"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out, "Enregistré: Filtres/TypesSons=1\t(types de son cochés (aucun = tous))\n");
  const size_t typeOne = Lines(RunCli(home, {"search", "--kind", "music"}).out);
  EXPECT_LT(typeOne, music);
  EXPECT_EQ(Lines(RunCli(home, {"search", "--kind", "music", "--types", "all"}).out), music);
  ASSERT_TRUE(RunCli(home, {"settings", "set", "Filtres/Sons", "0"}).exited(0));
  EXPECT_EQ(Lines(RunCli(home, {"search", "--kind", "music"}).out), music);

  // Jazz is not active on the second station: hidden there once asked for.
  EXPECT_NE(RunCli(home, {"search", "--kind", "music", "--station", "2"}).out.find("\tJazz\t"), std::string::npos);
  ASSERT_TRUE(RunCli(home, {"settings", "set", "Filtres/MasquerMorceauxCategorieNonActiveSurStation", "1"}).exited(0));
  r = RunCli(home, {"search", "--kind", "music", "--station", "2"});
  EXPECT_GT(Lines(r.out), 1u);
  EXPECT_EQ(r.out.find("\tJazz\t"), std::string::npos);

  EXPECT_TRUE(RunCli(home, {"settings", "set", "Filtres/Sons", "oui"}).exited(2));
  EXPECT_TRUE(RunCli(home, {"settings", "set", "Ptx/Save", "1"}).exited(2));
  EXPECT_TRUE(RunCli(home, {"settings", "set", "Inconnu/Cle", "1"}).exited(2));

  // Carts: a song of the library goes in, an unknown code is refused.
  r = RunCli(home, {"cart", "load", "3", "00000002"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  ASSERT_EQ(r.out.rfind("3\t00000002\t", 0), 0u) << r.out;
  EXPECT_GT(r.out.size(), std::string("3\t00000002\t\n").size());  // with its title
  r = RunCli(home, {"cart", "load", "4", "ZZZ00001"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("Morceau non trouvé: ZZZ00001"), std::string::npos) << r.err;
  EXPECT_TRUE(RunCli(home, {"cart", "load", "9", "00000002"}).exited(2));
  r = RunCli(home, {"settings", "show"});
  EXPECT_NE(r.out.find("Cartouchier/SongId_2=00000002\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Cartouchier/SongId_3=*\t"), std::string::npos) << r.out;
  ASSERT_TRUE(RunCli(home, {"cart", "eject", "3"}).exited(0));
  r = RunCli(home, {"cart", "show"});
  EXPECT_EQ(r.out.rfind("Cartouchier: masqué\n1\t*\t\n2\t*\t\n3\t*\t\n", 0), 0u) << r.out;
}

}  // namespace sono::data
