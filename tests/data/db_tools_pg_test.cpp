// The Tools menu's check and repair on a base kept on PostgreSQL: the files
// are read along their keys (the server keeps the pages), a record cut short
// on the server is said with what to do, and no repair is attempted.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include "data/catalogue.h"
#include "data/db_tools.h"
#include "pg_site.h"

namespace sono::data::test {
namespace {

class DatabaseToolsOnServer : public PgSite {};

TEST_F(DatabaseToolsOnServer, CheckReadsAlongTheKeysAndRepairIsLeftToTheServer) {
  SKIP_WITHOUT_POSTGRES_SERVER();
  MakeSite("tools", 2);
  ASSERT_EQ(config->currentBase(), 1);
  layer->PervasiveOuvertureFichiers(1, 1, 2);
  ASSERT_TRUE(prompt.shown.empty()) << prompt.shown[0].text;
  for (int station : {1, 2}) ASSERT_EQ(layer->CreationStructureVide(Path(1, 22, station), 22), 0);
  layer->FichierPervasiveOuvrir(1, 1, 2, 22);
  for (const char* code : {"00000001", "00000002", "00000003"}) {
    std::string key(8, ' ');
    layer->record(22) = std::string(900, ' ');
    layer->record(22).replace(0, 8, code);
    ASSERT_EQ(layer->Insert(1, FileNumber{22}, 1, kPrimaryKey, key, "T"), 0);
  }
  layer->PervasiveFermetureFichiers(1, 1, 2);

  DatabaseTools tools(*layer, *config, log);
  bool whole = false;
  std::string report = tools.VerifierBase(whole);
  EXPECT_TRUE(whole) << report;
  EXPECT_EQ(report.rfind(kServerCheckNote, 0), 0u) << report;
  EXPECT_NE(report.find("FRADA22.bt6 (Morceaux, station 1): intact, 3 enregistrement(s)"), std::string::npos)
      << report;
  EXPECT_NE(report.find("FRADB22.bt6 (Morceaux, station 2): intact, 0 enregistrement(s)"), std::string::npos);

  // A record cut short on the server.
  PGconn* c = PQconnectdb(connection.c_str());
  ASSERT_EQ(PQstatus(c), CONNECTION_OK);
  PGresult* q = PQexec(c, "UPDATE \"FRADA22.bt6\" SET rec = substr(rec, 1, 10) WHERE pos = 2");
  EXPECT_EQ(PQresultStatus(q), PGRES_COMMAND_OK) << PQerrorMessage(c);
  PQclear(q);
  PQfinish(c);
  report = tools.VerifierBase(whole);
  EXPECT_FALSE(whole);
  EXPECT_NE(report.find("FRADA22.bt6 (Morceaux, station 1): ENDOMMAGÉ\n    clé 0: lecture arrêtée après 1 "
                        "enregistrement(s): Err: 2: The application encountered an I/O error\n    À faire: "),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("restaurer ce fichier depuis la sauvegarde du serveur PostgreSQL"), std::string::npos);
  bool repaired = true;
  report = tools.ReparerFichiersEndommages(repaired);
  EXPECT_FALSE(repaired);
  EXPECT_NE(report.find("FRADA22.bt6 (Morceaux, station 1): non réparé: la réparation de fichiers est pour les "
                        "bases LMDB"),
            std::string::npos)
      << report;
  EXPECT_TRUE(btr::FileExists(Path(1, 22)));  // left as it was
}

}  // namespace
}  // namespace sono::data::test
