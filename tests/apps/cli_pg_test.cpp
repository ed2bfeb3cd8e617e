// The db commands on a base kept on the private PostgreSQL server: the
// engine set and tried from the command line, a base copied there and back,
// create-missing, stat, check and repair on the server, a server out of
// reach and a refused password said as such, and a data folder this account
// cannot write, which says nothing about a base kept on the server.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

// A wrong password, in the connection string or in the password file: said
// in French as a refused password (never as a missing file or an unreachable
// server), the password shown nowhere, and every command exits 1.
TEST_F(CliPg, AWrongPasswordIsRefusedWithoutShowingIt) {
  const std::string owned = cluster->freshDatabase("cli_pw", "studio", "Juste1");
  ASSERT_NE(owned, "");
  const std::string passwordFile = dir / "pw";
  WriteFile(passwordFile, "Faux2file\n");
  ASSERT_EQ(::chmod(passwordFile.c_str(), 0600), 0);
  for (const std::vector<std::string>& set :
       {std::vector<std::string>{owned + " password=Faux1inline"}, {owned, "--password-file", passwordFile}}) {
    std::vector<std::string> args = {"db", "engine", "set", "postgresql"};
    args.insert(args.end(), set.begin(), set.end());
    args.insert(args.end(), {"--base", "2"});
    ProcessResult r = Cli(args);
    ASSERT_TRUE(r.exited(0)) << r.err;
    UseBase(1);
    std::string said;
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"db", "engine", "test", "--base", "2"}, {"db", "stat", "22"}, {"app", "start"}}) {
      r = Cli(command);
      EXPECT_TRUE(r.exited(1)) << command[1] << ": " << r.out << r.err;
      said += r.out + r.err;
      UseBase(2);
    }
    said += Cli({"log", "show"}).out;
    EXPECT_NE(said.find("Le serveur PostgreSQL de la base « Réseau » a refusé la connexion: mot de passe refusé."),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("Err: PostgreSQL password refused: " + owned + " |"), std::string::npos) << said;
    EXPECT_EQ(said.find("ne peut pas être joint"), std::string::npos) << said;
    EXPECT_EQ(said.find("n'existe pas"), std::string::npos) << said;
    EXPECT_EQ(said.find("Faux"), std::string::npos) << said;
  }
}

// A base on the server keeps nothing in its data folder: a folder this
// account cannot write does not make it read-only. Run as the server's
// account (root writes anywhere), which may reach the server's socket.
TEST_F(CliPg, ADataFolderThisAccountCannotWriteLeavesAServerBaseWritable) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another account";
  const std::string connection = cluster->freshDatabase("cli_ro");
  ASSERT_NE(connection, "");
  ASSERT_TRUE(Cli({"db", "engine", "set", "postgresql", connection, "--base", "2"}).exited(0));
  ASSERT_TRUE(Cli({"db", "copy", "--from", "1", "--to", "2"}).exited(0));
  UseBase(2);
  struct stat server {};
  ASSERT_EQ(::stat(cluster->folder().c_str(), &server), 0);
  const std::string data = home + "/drives/c/QZ_Reseau";
  const std::string account = std::to_string(server.st_uid) + ":" + std::to_string(server.st_gid);
  ASSERT_EQ(std::system(("chmod 755 '" + dir.path() + "' && chown -R " + account + " '" + home + "' && mkdir -p '" +
                         data + "' && chown root:root '" + data + "' && chmod 555 '" + data + "'")
                            .c_str()),
            0);
  auto asServerAccount = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"setpriv", "--reuid=" + std::to_string(server.st_uid),
                               "--regid=" + std::to_string(server.st_gid), "--clear-groups", "--", SONOTEKA_CLI});
    args.insert(args.end(), {"--home", home});
    return RunProcess(args, {}, 60000);
  };
  ProcessResult r = asServerAccount({"song", "set", "00000002", "--title", "Titre du poste"});
  EXPECT_TRUE(r.exited(0)) << r.out << r.err;
  EXPECT_EQ(r.err.find("lecture seule"), std::string::npos) << r.err;
  r = Cli({"song", "show", "00000002"});
  EXPECT_NE(r.out.find("Titre du poste"), std::string::npos) << r.out << r.err;
  ::chmod(data.c_str(), 0755);
}

}  // namespace
}  // namespace sono::test
