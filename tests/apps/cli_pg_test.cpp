// The db commands on a base kept on the private PostgreSQL server: the
// engine set and tried from the command line, a base copied there and back,
// create-missing, stat, check and repair on the server, and a server out of
// reach said as such.
#include <gtest/gtest.h>

#include "cli_site.h"
#include "core/ini.h"
#include "pg_cluster.h"

namespace sono::test {
namespace {

class CliPg : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PgCluster::FindBinaries().empty()) GTEST_SKIP() << "no PostgreSQL server binaries";
    std::string why;
    cluster = PgCluster::Shared(&why);
    ASSERT_NE(cluster, nullptr) << why;
    ASSERT_TRUE(MakeDemoSite(home, {"--songs", "20", "--sounds", "0"}));
    // A second base, with a data folder of its own.
    ASSERT_TRUE(EcritureIni(home + "/Settings/Vexa_Config.ini", "Site", "NbBase", "2"));
    for (const auto& [key, value] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Lib", "Réseau"}, {"Actif", "1"}, {"NbStation", "2"}, {"Dossier_Data", "C:\\QZ_Reseau\\"}})
      ASSERT_TRUE(EcritureIni(systemFile, "Base_02", key, value));
  }
  void UseBase(int number) {
    ASSERT_TRUE(EcritureIni(home + "/Settings/Vexa_Config.ini", "Site", "NoBase", std::to_string(number)));
  }
  ProcessResult Cli(const std::vector<std::string>& args) { return RunCli(home, args); }

  TempDir dir;
  std::string home = dir / "home";
  std::string systemFile = home + "/drives/c/Brevalon/Ondavia/Config/Vexa_Systeme.ini";
  PgCluster* cluster = nullptr;
};

TEST_F(CliPg, ABaseSetOnTheServerIsCopiedCheckedAndCopiedAgainOnlyWhenTold) {
  const std::string connection = cluster->freshDatabase("cli_copy");
  ASSERT_NE(connection, "");
  ProcessResult r = Cli({"db", "stat", "22"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  ASSERT_NE(r.out.find("Enregistrements: 20\n"), std::string::npos) << r.out;

  r = Cli({"db", "engine", "set", "postgresql", connection + " password=Zq9hidden", "--base", "2"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Moteur_Data=PostgreSQL\nConnexion_PostgreSQL=" + connection + "\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Zq9hidden"), std::string::npos);
  EXPECT_EQ(LectureIni(systemFile, "Base_02", "Moteur_Data", ""), "PostgreSQL");
  EXPECT_EQ(LectureIni(systemFile, "Base_02", "Connexion_PostgreSQL", ""), connection + " password=Zq9hidden");
  EXPECT_EQ(LectureIni(systemFile, "Base_01", "Moteur_Data", "absent"), "absent");
  r = Cli({"db", "engine", "test", "--base", "02"});
  EXPECT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Connexion réussie."), std::string::npos) << r.out;

  r = Cli({"db", "copy", "--from", "01", "--to", "Réseau"});
  ASSERT_TRUE(r.exited(0)) << r.out << r.err;
  EXPECT_NE(r.out.find("Copie de la base 01 (LMDB) vers la base 02 (PostgreSQL)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("FRADA22.bt6: 20/20\n"), std::string::npos) << r.out;  // progress
  EXPECT_NE(r.out.find("FRADA22.bt6 (Morceaux, station 1): 20 enregistrement(s) copié(s), vérifié(s) sur 6 clé(s)"),
            std::string::npos)
      << r.out;

  // The second base answers from the server.
  UseBase(2);
  r = Cli({"db", "stat", "22"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Enregistrements: 20\n"), std::string::npos) << r.out;
  const std::string dump1 = Cli({"db", "dump", "22", "--key", "5"}).out;
  UseBase(1);
  EXPECT_EQ(Cli({"db", "dump", "22", "--key", "5"}).out, dump1);
  UseBase(2);
  // create-missing leaves the tables there alone (making them again would
  // empty them) and makes the others.
  r = Cli({"db", "create-missing"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out.find("FRADA22.bt6"), std::string::npos) << r.out;
  EXPECT_NE(Cli({"db", "stat", "22"}).out.find("Enregistrements: 20\n"), std::string::npos);
  r = Cli({"db", "check"});
  EXPECT_TRUE(r.exited(0)) << r.out << r.err;
  EXPECT_NE(r.out.find("le contrôle des pages est pour les fichiers LMDB"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("FRADA22.bt6 (Morceaux, station 1): intact, 20 enregistrement(s)"), std::string::npos)
      << r.out;
  r = Cli({"db", "repair", "FRADA22"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("non réparé: la réparation de fichiers est pour les bases LMDB"), std::string::npos) << r.err;

  // Copying again over records: refused, naming the flag, until it is given.
  UseBase(1);
  r = Cli({"db", "copy", "--from", "1", "--to", "2"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("Rien n'a été copié."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--replace"), std::string::npos) << r.err;
  r = Cli({"db", "copy", "--from", "1", "--to", "2", "--replace"});
  EXPECT_TRUE(r.exited(0)) << r.err;
  r = Cli({"db", "copy", "--from", "1", "--to", "9"});
  EXPECT_TRUE(r.exited(2));
}

TEST_F(CliPg, AServerOutOfReachIsSaidAsSuchNeverAsAMissingFile) {
  TempDir nowhere;  // a socket folder with no server in it
  ProcessResult r =
      Cli({"db", "engine", "set", "postgresql", "host=" + nowhere.path() + " dbname=radio", "--base", "2"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  r = Cli({"db", "engine", "test", "--base", "2"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("ne peut pas être joint"), std::string::npos) << r.err;
  UseBase(2);
  r = Cli({"db", "stat", "22"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("Le serveur PostgreSQL de la base « Réseau » ne peut pas être joint.\nConnexion: host=" +
                       nowhere.path() + " dbname=radio"),
            std::string::npos)
      << r.err;
  r = Cli({"db", "create-missing"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("ne peut pas être joint"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Créé"), std::string::npos) << r.out;
  r = Cli({"app", "start"});
  EXPECT_TRUE(r.exited(1)) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find("ne peut pas être joint"), std::string::npos) << r.out << r.err;
  EXPECT_EQ((r.out + r.err).find("n'existe pas"), std::string::npos) << r.out << r.err;
  // The log says it too.
  r = Cli({"log", "show"});
  EXPECT_NE(r.out.find("Err: PostgreSQL server unreachable: host=" + nowhere.path()), std::string::npos) << r.out;
}

}  // namespace
}  // namespace sono::test
