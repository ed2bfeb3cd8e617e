#include <gtest/gtest.h>
#include <fcntl.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>

#include "core/datetime.h"
#include "core/system_ports.h"
#include "process.h"
#include "test_support.h"

extern char** environ;

namespace sono {
using test::ReadFile;
using test::TempDir;

namespace {
struct CliRun {
  int status = -1;
  std::string out, err;
};

// Runs sonoteka-cli with an argument vector, standard streams sent to files.
CliRun cli(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), SONOTEKA_CLI);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out = dir / "stdout.txt", err = dir / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  CliRun r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}
}  // namespace

TEST(Cli, BadUsageSaysSoOnOneLineWithStatus2) {
  TempDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"site"}, {"site", "explode"}, {"log", "write"}, {"site", "show", "--home"},
           {"site", "show", "en-trop"}}) {
    const CliRun r = cli(dir, args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("sonoteka-cli: ", 0), 0u) << r.err;
  }
}

TEST(Cli, DemoSiteIsCreatedShownAndLoggedTo) {
  TempDir dir;
  const std::string home = dir / "maison avec 'espaces'";
  CliRun r = cli(dir, {"site", "show", "--home", home});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("site init-demo"), std::string::npos);

  r = cli(dir, {"site", "init-demo", "--home", home});
  ASSERT_EQ(r.status, 0) << r.err;
  r = cli(dir, {"site", "init-demo", "--home", home});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Un site existe déjà"), std::string::npos);

  r = cli(dir, {"site", "show", "--home=" + home});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Base 01: Base 01 [active]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("01 Radio Démo FM [active]"), std::string::npos);
  EXPECT_NE(r.out.find("02 Radio Démo Classique [active]"), std::string::npos);
  EXPECT_NE(r.out.find("Mus_02 0:" + home + "/drives/c/QZ_Sons/Station02/Musique/"), std::string::npos);
  EXPECT_TRUE(test::Exists(home + "/drives/c/QZ_Sons/Station02/Musique/"));

  r = cli(dir, {"log", "write", "--home", home, "Essai", "du", "journal"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string file = r.out.substr(0, r.out.find('\n'));
  EXPECT_EQ(file, home + "/drives/c/AudioLog/Histo_Vexa_Sonoteka/" + D2S(SystemClock().now()) + ".Log");
  const std::string content = ReadFile(file);
  EXPECT_EQ(content.rfind("==:==:==:====:=:=:=:====", 0), 0u);
  EXPECT_TRUE(std::regex_search(
      content, std::regex("\n[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} : : : :[ 0-9x]{4}:Essai du journal\n")))
      << content;

  r = cli(dir, {"db", "stat", "022", "--home", home, "--station", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("FRADB22.bt6 (Morceaux)\nEnregistrements: 0\nLongueur d'enregistrement: 900\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Clé 5: 24:20:1027 (doublons, modifiable, sans casse), 0 valeur(s)"),
            std::string::npos) << r.out;
  r = cli(dir, {"db", "dump", "22", "--home", home, "--key=5"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = cli(dir, {"db", "stat", "022", "--home", home, "--station", "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "N° station hors limite: 3\n");
  for (const char* badFile : {"999", "038", "abc"}) {
    r = cli(dir, {"db", "dump", badFile, "--home", home});
    EXPECT_EQ(r.status, 2) << badFile;
  }

  r = cli(dir, {"app", "start", "--home", home});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile(file).find("----- Sonoteka: Init: Fin -----"), std::string::npos);

  // The log as the viewer shows it: every run of the day in one file under
  // one header; another day's file or a bad date are said so.
  r = cli(dir, {"log", "show", "--home", home});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadFile(file));
  size_t headers = 0;
  for (size_t at = 0; (at = r.out.find("App.Version: ", at)) != std::string::npos; ++at) ++headers;
  EXPECT_EQ(headers, 1u);
  r = cli(dir, {"log", "show", "19991231", "--home", home});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Fichier non trouvé: " + home + "/drives/c/AudioLog/Histo_Vexa_Sonoteka/19991231.Log"),
            std::string::npos) << r.err;
  EXPECT_EQ(cli(dir, {"log", "show", "1999-12-31", "--home", home}).status, 2);
}

TEST(Cli, AFileSizeLimitIsAFailureWithAMessageNotAKill) {
  TempDir dir;
  ASSERT_EQ(cli(dir, {"site", "init-demo", "--home", dir.path()}).status, 0);
  test::ProcessResult r;
  {
    test::FileSizeLimit limit(200);  // inherited by the command, whose log needs more
    r = test::RunProcess({SONOTEKA_CLI, "log", "write", "--home", dir.path(), "Essai"});
  }
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Err: Journal impossible à écrire: "), std::string::npos) << r.err;
}

TEST(Cli, ASiteBuiltFromTheOlderConfigurationStartsWithItsDatabase) {
  TempDir dir;
  test::WriteOlderConfigurationSite(dir.path());
  // Without its database the start asks where it is (Cancel, as scripts
  // answer) and goes on; once the files are created it starts silently.
  CliRun r = cli(dir, {"app", "start", "--home", dir.path()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Démarré: base Radio Côte Sud, station Côte FM\nFermé.\n");
  EXPECT_NE(r.err.find("Impossible de trouver la base de données pour la base: Radio Côte Sud"),
            std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("composants"), std::string::npos) << r.err;
  r = cli(dir, {"db", "create-missing", "--home", dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = cli(dir, {"app", "start", "--home", dir.path()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(test::Exists(dir / "drives/c/Ondavia/Logs/Histo_Vexa_Sonoteka/"));
}

TEST(Cli, DemoLibrarySearchAndPointers) {
  TempDir dir;
  const std::string home = dir / "site";
  ASSERT_EQ(cli(dir, {"site", "init-demo", "--home", home}).status, 0);
  CliRun r = cli(dir, {"demo", "build", "--home", home, "--songs", "300"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Bibliothèque de démonstration: 300 morceaux", 0), 0u) << r.out;

  r = cli(dir, {"search", "--home", home, "--kind", "jingles"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = test::Lines(r.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Id\tTitre\tJeu\tSon\tArtiste(s)\tCatégorie\t", 0), 0u);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("JIN", 0), 0u) << lines[i];
    // The demo's songs carry their dates: "Date Modification" then "Date Création".
    EXPECT_TRUE(std::regex_search(lines[i], std::regex("\t\\d\\d/\\d\\d/20\\d\\d\t\\d\\d/\\d\\d/20\\d\\d\t")))
        << lines[i];
  }

  // A blank text is the whole range: every song of the library.
  r = cli(dir, {"search", "--home", home, "--mode", "Contient", "   "});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::Lines(r.out).size(), 301u);
  r = cli(dir, {"search", "--home", home, "--mode", "Partout", "x"});
  EXPECT_EQ(r.status, 2);

  r = cli(dir, {"ptx", "set", "JIN00001", "8", "-350", "--home", home});
  ASSERT_EQ(r.status, 0) << r.err;
  r = cli(dir, {"ptx", "show", "JIN00001", "--home", home, "--station", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("8\tLevel     \t-350\t0\t-3.50 dB"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Durée de passage: "), std::string::npos);

  r = cli(dir, {"song", "show", "JIN00001", "--home", home});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("JIN00001"), std::string::npos);
  r = cli(dir, {"song", "show", "NOPE0001", "--home", home});
  EXPECT_EQ(r.status, 1);

  r = cli(dir, {"stats", "recount", "--home", home});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Recompté: ", 0), 0u);

  // The same seed gives the same library.
  const std::string other = dir / "autre";
  ASSERT_EQ(cli(dir, {"site", "init-demo", "--home", other}).status, 0);
  ASSERT_EQ(cli(dir, {"demo", "build", "--home", other, "--songs", "300"}).status, 0);
  const std::string mine = cli(dir, {"db", "dump", "020", "--home", home}).out;
  EXPECT_EQ(cli(dir, {"db", "dump", "020", "--home", other}).out.size(), mine.size());
  const std::string songsA = cli(dir, {"search", "--home", home, "--kind", "infos"}).out;
  EXPECT_EQ(cli(dir, {"search", "--home", other, "--kind", "infos"}).out, songsA);
}

}  // namespace sono
