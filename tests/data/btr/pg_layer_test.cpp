// The file layer on a base whose system file sets it on PostgreSQL: the
// catalogue's files are tables of the base's database, created once, never
// files of the data folder, and kept from one opening to the next.
#include <gtest/gtest.h>

#include <string>

#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "data/pervasive.h"
#include "pg_test_base.h"
#include "test_support.h"

namespace sono::data {
namespace {

TEST(PgLayer, ABaseSetToPostgresKeepsItsFilesInTheDatabase) {
  SKIP_WITHOUT_POSTGRES();
  std::string why;
  test::PgCluster* cluster = test::PgCluster::Shared(&why);
  ASSERT_NE(cluster, nullptr) << why;
  const std::string connection = cluster->freshDatabase("layer");
  ASSERT_NE(connection, "");

  test::TempDir dir;
  std::string error;
  ASSERT_TRUE(CreateDemoSite(dir.path(), error)) << error;
  ManualClock clock;
  ScriptedPrompt prompt;
  TraceLogger log(clock);
  ConfigEnvironment env;
  env.programFolder = dir.path();
  env.computerName = "poste";
  env.version = "1.2.3";
  SiteConfig config(env, log, prompt);
  ASSERT_TRUE(config.InitGeneralPath(true));
  const std::string systemFile = config.base(0).systemFile;
  ASSERT_TRUE(EcritureIni(systemFile, BaseSection(0), "Moteur_Data", "PostgreSQL"));
  ASSERT_TRUE(EcritureIni(systemFile, BaseSection(0), "Connexion_PostgreSQL", connection));
  // No FRAD000 in the data folder: the site check does not ask for one.
  ASSERT_TRUE(config.InitGeneralSite());
  EXPECT_TRUE(prompt.shown.empty()) << prompt.shown[0].text;
  const std::string folder = config.base(0).dataFolder;
  struct Forget {
    std::string folder;
    ~Forget() { btr::SetBaseEngine(folder, btr::BaseEngine{}); }
  } forget{folder};

  PervasiveLayer layer(config, log, prompt, clock);
  layer.PervasiveOuvertureFichiers(0, 1, 2);
  EXPECT_TRUE(layer.isOpen(0, 37, 1));
  EXPECT_TRUE(layer.isOpen(0, 46, 1));
  EXPECT_TRUE(layer.isOpen(0, 48, 2));
  EXPECT_FALSE(test::Exists(folder + "FRAD046.bt6"));  // a table, not a file
  EXPECT_FALSE(test::Exists(folder + "FRAD037.bt6"));
  EXPECT_TRUE(prompt.shown.empty()) << prompt.shown[0].text;  // FRAD037 is there: no message

  // The songs of a station, created as the data tools would.
  ASSERT_EQ(layer.CreationStructureVide(layer.NomFichierBTR(0, 22, 1), 22), 0);
  layer.FichierPervasiveOuvrir(0, 1, 1, 22);
  ASSERT_TRUE(layer.isOpen(0, 22, 1));
  std::string key(255, ' ');
  layer.record(22) = std::string(900, ' ');
  layer.record(22).replace(0, 8, "00000007");
  layer.record(22).replace(23, 7, "R\xE9veil");
  ASSERT_EQ(layer.Insert(0, FileNumber{22}, 1, kPrimaryKey, key, "T:Ins"), 0);
  layer.record(46) = std::string(512, ' ');
  layer.record(46).replace(0, 5, "00042");
  ASSERT_EQ(layer.Insert(0, FileNumber{46}, 1, kPrimaryKey, key, "T:Ins"), 0);

  // Opening the set again finds the files: nothing is created again (which
  // would empty them).
  layer.PervasiveFermetureFichiers(0, 1, 2);
  layer.PervasiveOuvertureFichiers(0, 1, 2);
  key = "00042";
  ASSERT_EQ(layer.GetEqual(0, FileNumber{46}, 1, kPrimaryKey, key, "T:Get"), 0);
  key = "00000007";
  ASSERT_EQ(layer.GetEqual(0, FileNumber{22}, 1, kPrimaryKey, key, "T:Get"), 0);
  EXPECT_EQ(layer.record(22).substr(23, 6), "R\xE9veil");
  layer.PervasiveFermetureFichiers(0, 1, 2);
}

}  // namespace
}  // namespace sono::data
