// The command line on the site's files: a relative program folder, and a
// site file that cannot be used.
#include <gtest/gtest.h>

#include "process.h"
#include "test_support.h"

namespace sono {
using test::Exists;
using test::ReadFile;
using test::RunProcess;
using test::TempDir;
using test::WriteFile;

namespace {
// sonoteka-cli run from `folder` as its current folder.
test::ProcessResult cliIn(const std::string& folder, std::vector<std::string> args,
                          const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), {"env", "-C", folder, SONOTEKA_CLI});
  return RunProcess(args, env);
}

std::string line(const std::string& out, const std::string& label) {
  const size_t at = out.find(label);
  return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}
}  // namespace

TEST(CliSite, ARelativeHomeIsTakenAgainstTheCurrentFolderOnce) {
  TempDir dir;
  std::filesystem::create_directories(dir / "ici");
  std::filesystem::create_directories(dir / "ailleurs");
  const auto init = cliIn(dir / "ici", {"site", "init-demo", "--home", "maison"});
  ASSERT_TRUE(init.exited(0)) << init.err;
  EXPECT_EQ(line(init.out, "Site de "), "Site de démonstration créé dans " + dir / "ici/maison/");
  ASSERT_TRUE(Exists(dir / "ici/maison/Settings/Vexa_Config.ini"));

  const std::string siteLine = "Fichier du site: " + dir / "ici/maison/Settings/Vexa_Config.ini";
  const std::string dataLine = "Données                    " + dir / "ici/maison/drives/c/QZ_Data/";
  // --home, $SONOTEKA_HOME, and a path climbing out of another folder: all
  // give the same absolute folders.
  const std::vector<test::ProcessResult> shows = {
      cliIn(dir / "ici", {"site", "show", "--home", "maison"}),
      cliIn(dir / "ici", {"site", "show"}, {{"SONOTEKA_HOME", "maison"}}),
      cliIn(dir / "ailleurs", {"site", "show", "--home", "../ici/./maison"})};
  for (const auto& show : shows) {
    ASSERT_TRUE(show.exited(0)) << show.err;
    EXPECT_EQ(line(show.out, "Fichier du site: "), siteLine);
    EXPECT_EQ(line(show.out, "Données "), dataLine);
  }
  EXPECT_EQ(test::FolderEntries(dir / "ailleurs").size(), 0u);  // nothing made where it ran

  const auto logged = cliIn(dir / "ailleurs", {"log", "write", "--home", "../ici/maison", "relatif"});
  ASSERT_TRUE(logged.exited(0)) << logged.err;
  EXPECT_EQ(logged.out.rfind(dir / "ici/maison/drives/c/AudioLog/Histo_Vexa_Sonoteka/", 0), 0u)
      << logged.out;
}

TEST(CliSite, ADamagedSiteFileStopsTheStartAndIsKept) {
  TempDir dir;
  const auto init = cliIn(dir.path(), {"site", "init-demo", "--home", dir / "maison"});
  ASSERT_TRUE(init.exited(0)) << init.err;
  const std::string siteFile = dir / "maison/Settings/Vexa_Config.ini";
  const std::string junk("\0\0\0\0\x7f" "ELF\x02\x01", 10);
  WriteFile(siteFile, junk);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"app", "start"}, std::vector<std::string>{"site", "show"}}) {
    std::vector<std::string> args = command;
    args.insert(args.end(), {"--home", dir / "maison"});
    const auto r = cliIn(dir.path(), args);
    EXPECT_TRUE(r.exited(1)) << command[0] << " " << r.status << " " << r.err;
    EXPECT_NE(r.err.find("[ERREUR] Configuration du site\nLe fichier de configuration du site est "
                         "endommagé (il contient des octets binaires):\n" + siteFile),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("Démarré"), std::string::npos);
  }
  EXPECT_EQ(ReadFile(siteFile), junk);
  int copies = 0;
  for (const auto& name : test::FolderEntries(dir / "maison/Settings"))
    copies += name.rfind("Vexa_Config_endommage_", 0) == 0;
  EXPECT_EQ(copies, 1);
}

}  // namespace sono
