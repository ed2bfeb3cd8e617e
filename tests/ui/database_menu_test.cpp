// The Tools menu's database entries on a workstation whose first station's
// song file was damaged while the program was closed: the start says which
// file and what to do, "Vérifier la base" lists it, "Réparer les fichiers
// endommagés" rebuilds it and the grid shows every song again.
#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <libpq-fe.h>

#include "../data/btr/pg_test_base.h"
#include "core/ini.h"
#include "data/btr/base_engine.h"
#include "pages.h"
#include "pg_cluster.h"
#include "ui/engine_dialog.h"
#include "pg_site_base.h"
#include "workstation_fixture.h"

namespace sono::ui {

namespace {
class DatabaseMenuTest : public test::WorkstationFixture {
 protected:
  explicit DatabaseMenuTest(const std::function<void(SiteConfig&)>& beforeFiles = {})
      : WorkstationFixture(150, beforeFiles) {}
  QAction* entry(const char* name) { return ws->window.menu(MenuId::Tools)->findChild<QAction*>(name); }
  // Zeroes the last page the file uses.
  void damage(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const off_t size = lseek(fd, 0, SEEK_END);
    btr::pages::PageWalker walker(fd, static_cast<std::uint64_t>(size));
    ASSERT_TRUE(walker.readMeta());
    walker.checkAll();
    std::uint64_t page = walker.lastPage();
    while (page > 2 && !walker.pageInUse(page)) --page;
    const std::string zeros(walker.pageSize(), '\0');
    ASSERT_EQ(pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(page * walker.pageSize())),
              ssize_t(zeros.size()));
    ::close(fd);
  }
  bool shown(const std::string& text) const {
    for (const auto& m : prompt.shown)
      if (m.text.find(text) != std::string::npos) return true;
    return false;
  }
};

// The site's base held by a database of the private PostgreSQL server.
class DatabaseMenuPgTest : public PgSiteBase, public DatabaseMenuTest {
 protected:
  DatabaseMenuPgTest() : DatabaseMenuTest(onPostgres("checkmenu")) {}
  void SetUp() override {
    if (!pg) GTEST_SKIP() << "no PostgreSQL server binaries";
    ASSERT_EQ(pg->error(), "");
  }
  void TearDown() override {
    if (!pg) return;
    if (!ws->app.ended()) ws->app.Form_Unload();
    ws.reset();
    btr::SetBaseEngine(dataFolder, btr::BaseEngine{});
  }
  // Runs `sql` on the base's database, as another program could.
  void Sql(const std::string& sql) {
    PGconn* c = PQconnectdb(pg->connection().c_str());
    ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
    PGresult* r = PQexec(c, sql.c_str());
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(c);
  }
};
}  // namespace

TEST_F(DatabaseMenuTest, CheckListsTheDamagedFileAndRepairBringsItsSongsBack) {
  ASSERT_TRUE(ws->start());
  QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
  const int songs = rows();
  ASSERT_GT(songs, 50);
  ws->app.Form_Unload();
  ws.reset();

  ws = Open();
  ws->app.config().InitGeneralPath(true);
  ws->app.config().InitGeneralSite();
  const std::string path = ws->layer.NomFichierBTR(0, 22, 1);
  damage(path);
  prompt.shown.clear();
  ASSERT_TRUE(ws->start());
  EXPECT_TRUE(shown("Le fichier FRADA22.bt6 (Morceaux, station 1) est endommagé"));
  QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
  EXPECT_EQ(rows(), 0);  // refused, and said, rather than a shorter grid

  ASSERT_NE(entry("MnuVerifierBase"), nullptr);
  entry("MnuVerifierBase")->trigger();
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_NE(prompt.shown.back().text.find("FRADA22.bt6 (Morceaux, station 1): ENDOMMAGÉ"), std::string::npos)
      << prompt.shown.back().text;
  EXPECT_NE(prompt.shown.back().text.find("FRADB22.bt6 (Morceaux, station 2): intact"), std::string::npos);
  EXPECT_EQ(prompt.shown.back().icon, Icon::Exclamation);

  prompt.answers = {Answer::No};
  entry("MnuReparerBase")->trigger();
  EXPECT_NE(prompt.shown.back().text.find("Continuer ?"), std::string::npos);  // nothing done on No
  EXPECT_EQ(btr::checkIntegrity(path).status, btr::status::kIoError);

  prompt.answers = {Answer::Yes};
  entry("MnuReparerBase")->trigger();
  EXPECT_NE(prompt.shown.back().text.find("FRADA22.bt6 (Morceaux, station 1): reconstruit"), std::string::npos)
      << prompt.shown.back().text;
  EXPECT_NE(prompt.shown.back().text.find("Fichier endommagé gardé: " + path + ".endommage-"), std::string::npos);
  EXPECT_TRUE(btr::checkIntegrity(path).ok());
  QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
  EXPECT_EQ(rows(), songs);

  entry("MnuVerifierBase")->trigger();
  EXPECT_NE(prompt.shown.back().text.find("endommagés: 0"), std::string::npos);
  EXPECT_EQ(prompt.shown.back().icon, Icon::Information);
}

// Outils > "Moteur de la base…": the base's engine shown, the connection
// tried with "Tester la connexion" (a server out of reach, then the private
// server), and the setting written by OK, not by Cancel.
TEST_F(DatabaseMenuTest, TheEngineWindowTriesTheConnectionAndWritesTheSetting) {
  if (sono::test::PgCluster::FindBinaries().empty()) GTEST_SKIP() << "no PostgreSQL server binaries";
  std::string why;
  sono::test::PgCluster* cluster = sono::test::PgCluster::Shared(&why);
  ASSERT_NE(cluster, nullptr) << why;
  const std::string connection = cluster->freshDatabase("engine_window");
  ASSERT_NE(connection, "");
  ASSERT_TRUE(ws->start());
  const std::string systemFile = ws->app.config().current().systemFile;
  ASSERT_NE(entry("MnuMoteurBase"), nullptr);
  sono::test::TempDir nowhere;

  auto inWindow = [&](std::function<void(EngineDialog&)> work) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = ws->window.findChild<EngineDialog*>("FrmMoteurBase");
      ASSERT_NE(dialog, nullptr);
      work(*dialog);
      ran = true;
      if (dialog->isVisible()) dialog->reject();
    });
    entry("MnuMoteurBase")->trigger();
    EXPECT_TRUE(ran);
  };
  // Cancel writes nothing.
  inWindow([&](EngineDialog& d) {
    EXPECT_EQ(d.engine()->currentText(), "LMDB");
    d.engine()->setCurrentIndex(1);
    d.connection()->setText(QString::fromStdString(connection));
  });
  EXPECT_EQ(LectureIni(systemFile, "Base_01", "Moteur_Data", "absent"), "absent");

  inWindow([&](EngineDialog& d) {
    d.engine()->setCurrentIndex(d.engine()->findText("PostgreSQL"));
    d.connection()->setText(QString::fromStdString("host=" + nowhere.path() + " dbname=radio password=Zq9hidden"));
    QTest::mouseClick(d.testButton(), Qt::LeftButton);
    const std::string said = d.result()->text().toStdString();
    EXPECT_NE(said.find("ne peut pas être joint"), std::string::npos) << said;
    EXPECT_EQ(said.find("Zq9hidden"), std::string::npos) << said;
    d.connection()->setText(QString::fromStdString(connection));
    QTest::mouseClick(d.testButton(), Qt::LeftButton);
    EXPECT_EQ(d.result()->text().toStdString(), "Connexion réussie: " + connection);
    d.passwordFile()->setText("/home/studio/.pg_radio");
    d.accept();
    EXPECT_FALSE(d.isVisible());
  });
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_NE(prompt.shown.back().text.find("il s'applique au prochain démarrage"), std::string::npos)
      << prompt.shown.back().text;
  EXPECT_EQ(LectureIni(systemFile, "Base_01", "Moteur_Data", ""), "PostgreSQL");
  EXPECT_EQ(LectureIni(systemFile, "Base_01", "Connexion_PostgreSQL", ""), connection);
  EXPECT_EQ(LectureIni(systemFile, "Base_01", "Fichier_MotDePasse_PostgreSQL", ""), "/home/studio/.pg_radio");

  // The window opens on what is written; PostgreSQL without a connection is
  // refused and the window stays open.
  inWindow([&](EngineDialog& d) {
    EXPECT_EQ(d.engine()->currentText(), "PostgreSQL");
    EXPECT_EQ(d.connection()->text().toStdString(), connection);
    d.connection()->clear();
    d.accept();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(prompt.shown.back().icon, Icon::Exclamation);
  });
  EXPECT_EQ(LectureIni(systemFile, "Base_01", "Connexion_PostgreSQL", ""), connection);
  // Put back, or the fixture's end would look for the base on the server.
  ASSERT_TRUE(EcritureIni(systemFile, "Base_01", "Moteur_Data", "LMDB"));
}

// "Vérifier la base" on a base held by PostgreSQL: a song record cut short
// on the server (by another program) makes its file listed as damaged in
// the window, with what to do on that engine; the repair leaves it to the
// server's backups; once the record is whole again the check finds nothing.
TEST_F(DatabaseMenuPgTest, CheckListsAFileDamagedOnTheServer) {
  const std::string table = "\"FRADA22.bt6\"", first = "(SELECT min(pos) FROM \"FRADA22.bt6\")";
  Sql("CREATE TABLE kept AS SELECT pos, rec FROM " + table + " WHERE pos = " + first);
  Sql("UPDATE " + table + " SET rec = substring(rec from 1 for 10) WHERE pos = " + first);
  ASSERT_TRUE(ws->start());
  prompt.shown.clear();
  ASSERT_NE(entry("MnuVerifierBase"), nullptr);
  entry("MnuVerifierBase")->trigger();
  ASSERT_EQ(prompt.shown.size(), 1u);
  const std::string report = prompt.shown.back().text;
  EXPECT_EQ(prompt.shown.back().icon, Icon::Exclamation);
  EXPECT_EQ(report.rfind("Base sur PostgreSQL", 0), 0u) << report;
  // The short record stops the read along the first key there.
  EXPECT_NE(report.find("FRADA22.bt6 (Morceaux, station 1): ENDOMMAGÉ\n    clé 0: lecture arrêtée après "),
            std::string::npos) << report;
  EXPECT_NE(report.find("restaurer ce fichier depuis la sauvegarde du serveur PostgreSQL"), std::string::npos);
  EXPECT_NE(report.find("FRADB22.bt6 (Morceaux, station 2): intact"), std::string::npos) << report;
  EXPECT_NE(report.find("endommagés: 1"), std::string::npos) << report;

  prompt.answers = {Answer::Yes};
  entry("MnuReparerBase")->trigger();
  EXPECT_NE(prompt.shown.back().text.find("FRADA22.bt6 (Morceaux, station 1): non réparé: la réparation de "
                                          "fichiers est pour les bases LMDB"),
            std::string::npos) << prompt.shown.back().text;

  Sql("UPDATE " + table + " t SET rec = k.rec FROM kept k WHERE t.pos = k.pos");
  entry("MnuVerifierBase")->trigger();
  EXPECT_NE(prompt.shown.back().text.find("endommagés: 0"), std::string::npos) << prompt.shown.back().text;
  EXPECT_EQ(prompt.shown.back().icon, Icon::Information);
}

}  // namespace sono::ui
