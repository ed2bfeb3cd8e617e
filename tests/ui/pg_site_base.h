// A workstation's base held by a database of the private PostgreSQL server.
// Built before the workstation fixture: its `onPostgres` hook writes the
// base's setting (which the workstation and sonoteka-cli read) before the
// fixture makes the base's files.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "../data/btr/pg_test_base.h"
#include "core/ini.h"
#include "core/config.h"
#include "data/btr/base_engine.h"
#include "pg_cluster.h"
#include "test_support.h"

namespace sono {

struct PgSiteBase {
  std::unique_ptr<btr::testing::PgBaseForTest> pg;  // empty without the server's binaries: the test skips
  std::string dataFolder;

  // The hook for the workstation fixture: the base on a fresh database `name`.
  std::function<void(SiteConfig&)> onPostgres(const std::string& name) {
    return [this, name](SiteConfig& config) {
      if (test::PgCluster::FindBinaries().empty()) return;
      pg = std::make_unique<btr::testing::PgBaseForTest>(name);
      if (!pg->error().empty()) return;
      const std::string system = config.DetermineFichierSysteme(0);
      EcritureIni(system, "Base_01", "Moteur_Data", "PostgreSQL");
      EcritureIni(system, "Base_01", "Connexion_PostgreSQL", pg->connection());
      dataFolder = config.current().dataFolder;
      btr::SetBaseEngine(dataFolder, btr::BaseEngine{btr::EngineKind::Postgres, pg->connection(), ""});
      test::WriteFile(dataFolder + "FRAD000.bt6", "");  // what the site check looks for in the folder
    };
  }
};

}  // namespace sono
