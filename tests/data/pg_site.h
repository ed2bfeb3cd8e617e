// A demo site with two bases for the tests on the private PostgreSQL server:
// base 01 on LMDB (the demo's data folder), base 02 on PostgreSQL (its own
// data folder, a fresh database of the server).
#pragma once
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>
#include <string>

#include "core/config.h"
#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "data/btr/base_engine.h"
#include "data/engine_setting.h"
#include "data/pervasive.h"
#include "pg_cluster.h"
#include "log_lines.h"
#include "test_support.h"

namespace sono::data::test {

#define SKIP_WITHOUT_POSTGRES_SERVER()                                  \
  do {                                                                  \
    if (sono::test::PgCluster::FindBinaries().empty()) {                \
      std::string whyNot_;                                              \
      sono::test::PgCluster::Shared(&whyNot_);                          \
      GTEST_SKIP() << whyNot_;                                          \
    }                                                                   \
  } while (0)

class PgSite : public ::testing::Test {
 protected:
  PgSite() : log(clock) {}
  // The site, with base 02 on database `database` (made afresh); `current`
  // is the base in use (from 1).
  void MakeSite(const std::string& database, int current = 1) {
    std::string why;
    cluster = sono::test::PgCluster::Shared(&why);
    ASSERT_NE(cluster, nullptr) << why;
    connection = cluster->freshDatabase(database);
    ASSERT_NE(connection, "");
    this->database = database;
    std::string error;
    ASSERT_TRUE(CreateDemoSite(dir.path(), error)) << error;
    ASSERT_TRUE(EcritureIni(dir / "Settings/Vexa_Config.ini", "Site", "NbBase", "2"));
    ASSERT_TRUE(EcritureIni(dir / "Settings/Vexa_Config.ini", "Site", "NoBase", std::to_string(current)));
    ConfigEnvironment env;
    env.programFolder = dir.path();
    env.computerName = "poste";
    env.version = "1.2.3";
    config = std::make_unique<SiteConfig>(env, log, prompt);
    ASSERT_TRUE(config->InitGeneralPath(true));
    systemFile = config->base(0).systemFile;
    for (const auto& [key, value] : std::initializer_list<std::pair<const char*, std::string>>{
             {"Lib", "Réseau"}, {"Actif", "1"}, {"NbStation", "2"}, {"Dossier_Data", "C:\\QZ_Reseau\\"},
             {kEngineKey, "PostgreSQL"}, {kConnectionKey, connection}})
      ASSERT_TRUE(EcritureIni(systemFile, BaseSection(1), key, value));
    sono::test::WriteFile(dir / "drives/c/QZ_Data/FRAD000.bt6", "");
    ASSERT_TRUE(config->InitGeneralSite());
    log.setFolders(config->current().logFolder, config->current().dataFolder);
    log.setSetupLoaded(true);
    prompt.shown.clear();
    layer = std::make_unique<PervasiveLayer>(*config, log, prompt, clock);
    for (int b = 0; b < 2; ++b) ApplyEngineSetting(config->base(b), b);
    // FRAD000 of the demo is an empty stand-in, not a record-manager file.
    std::filesystem::remove(dir / "drives/c/QZ_Data/FRAD000.bt6");
  }
  ~PgSite() override {
    if (config)
      for (int b = 0; b < 2; ++b) btr::SetBaseEngine(config->base(b).dataFolder, btr::BaseEngine{});
  }
  // Everything logged: the lines written to the log folder's files (forced
  // lines go there at once) and those still waiting.
  std::string LogText() const {
    std::string text;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(log.logFolder(), ec))
      if (entry.is_regular_file()) text += sono::test::ReadFile(entry.path().string());
    for (const std::string& line : log.fileBuffer()) text += line + "\n";
    return text;
  }
  std::string Path(int base, int file, int station = 1) const { return layer->NomFichierBTR(base, file, station); }

  // Ends the server side of every connection of the program to `db`: its
  // next call finds the connection lost.
  void TerminateConnections(const std::string& db) {
    PGconn* c = PQconnectdb(cluster->connection().c_str());
    ASSERT_EQ(PQstatus(c), CONNECTION_OK);
    const std::string sql = "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + db +
                            "' AND application_name = 'sonoteka'";
    PGresult* r = PQexec(c, sql.c_str());
    EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK) << PQerrorMessage(c);
    EXPECT_GE(PQntuples(r), 1);
    PQclear(r);
    PQfinish(c);
  }

  sono::test::TempDir dir;
  ManualClock clock;
  ScriptedPrompt prompt;
  TraceLogger log;
  std::unique_ptr<SiteConfig> config;
  std::unique_ptr<PervasiveLayer> layer;
  sono::test::PgCluster* cluster = nullptr;
  std::string connection, database, systemFile;
};

}  // namespace sono::data::test
