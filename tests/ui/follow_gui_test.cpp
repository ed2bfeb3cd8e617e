// The desktop follows another workstation: sonoteka-cli, its own process on
// the same site, saves a song's title while the window shows the music grid.
// On both engines: the site's LMDB files, or its base in a database of a
// private PostgreSQL server.
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>
#include <filesystem>

#include "../data/btr/pg_test_base.h"
#include "cli_site.h"
#include "core/ini.h"
#include "data/btr/base_engine.h"
#include "data/songs.h"
#include "workstation_fixture.h"

namespace sono::ui::test {
namespace {

enum class Engine { Lmdb, Postgres };

// The base put on PostgreSQL (the setting the workstation and sonoteka-cli
// read) before its files are made.
std::function<void(SiteConfig&)> OnEngine(Engine engine, std::unique_ptr<btr::testing::PgBaseForTest>& pg,
                                          std::string& dataFolder) {
  if (engine == Engine::Lmdb) return {};
  return [&pg, &dataFolder](SiteConfig& config) {
    if (sono::test::PgCluster::FindBinaries().empty()) return;
    pg = std::make_unique<btr::testing::PgBaseForTest>("followgui");
    if (!pg->error().empty()) return;
    const std::string system = config.DetermineFichierSysteme(0);
    EcritureIni(system, "Base_01", "Moteur_Data", "PostgreSQL");
    EcritureIni(system, "Base_01", "Connexion_PostgreSQL", pg->connection());
    dataFolder = config.current().dataFolder;
    btr::SetBaseEngine(dataFolder, btr::BaseEngine{btr::EngineKind::Postgres, pg->connection(), ""});
    sono::test::WriteFile(dataFolder + "FRAD000.bt6", "");  // what the site check looks for in the folder
  };
}

// Built before the workstation fixture, whose constructor fills it.
struct PgHolder {
  std::unique_ptr<btr::testing::PgBaseForTest> pg;
  std::string dataFolder;
};

class FollowGuiTest : public PgHolder, public WorkstationFixture, public ::testing::WithParamInterface<Engine> {
 protected:
  FollowGuiTest() : WorkstationFixture(150, OnEngine(GetParam(), pg, dataFolder)) {}
  void SetUp() override {
    if (GetParam() == Engine::Postgres && !pg) GTEST_SKIP() << "no PostgreSQL server binaries";
    if (pg) {
      ASSERT_EQ(pg->error(), "");
    }
  }
  void TearDown() override {
    if (pg) {
      if (!ws->app.ended()) ws->app.Form_Unload();
      ws.reset();
      btr::SetBaseEngine(dataFolder, btr::BaseEngine{});
    }
  }

  // The music browsed, the window scrolled down a little and `row`
  // selected (its song goes into the form).
  void BrowseAndSelect(int row) {
    ASSERT_TRUE(ws->start());
    ws->window.kinds()->setCurrentIndex(static_cast<int>(data::SearchKind::Music));
    ws->window.RechercheDansLaBase();
    ASSERT_GT(rows(), row + 20);
    ws->window.grid()->selectRow(row);
    ws->window.grid()->verticalScrollBar()->setValue(row - 1);
    scroll = ws->window.grid()->verticalScrollBar()->value();
    ASSERT_GT(scroll, 0);
    code = cell(row, data::kColCode).toStdString();
    ASSERT_EQ(ws->songForm->code()->text().toStdString(), code);
    // On PostgreSQL the songs are no file of the folder.
    if (pg) {
      EXPECT_FALSE(std::filesystem::exists(dataFolder + "FRADA22.bt6"));
    }
    prompt.shown.clear();
  }
  void SetTitleElsewhere(const std::string& title) {
    const auto r = sono::test::RunCli(dir.path(), {"song", "set", code, "--title", title});
    ASSERT_TRUE(r.exited(0)) << r.out << r.err;
  }
  // Milliseconds until row `row` shows `title` (-1 after three seconds).
  qint64 MsUntilShown(int row, const QString& title) {
    QElapsedTimer t;
    t.start();
    if (!QTest::qWaitFor([&] { return cell(row, data::kColTitle) == title; }, 3000)) return -1;
    return t.elapsed();
  }
  std::string code;
  int scroll = 0;
};

TEST_P(FollowGuiTest, ATitleSavedOnAnotherWorkstationShowsInTheGridWithinASecond) {
  const int row = 12;
  BrowseAndSelect(row);
  const QString before = cell(row + 1, data::kColTitle);
  SetTitleElsewhere("Venu d'un autre poste");
  const qint64 ms = MsUntilShown(row, QString::fromUtf8("Venu d'un autre poste"));
  EXPECT_GE(ms, 0);
  EXPECT_LT(ms, 1000);
  // In place: the same row selected, the same scroll, the neighbours as they were.
  EXPECT_EQ(ws->window.grid()->currentIndex().row(), row);
  EXPECT_EQ(ws->window.grid()->verticalScrollBar()->value(), scroll);
  EXPECT_EQ(cell(row, data::kColCode).toStdString(), code);
  EXPECT_EQ(cell(row + 1, data::kColTitle), before);
  // The form held no edit: it shows the song as stored now.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return ws->songForm->title()->text() == QString::fromUtf8("Venu d'un autre poste"); }, 1000));
  EXPECT_FALSE(ws->songForm->modified());
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_P(FollowGuiTest, EditsInTheFormAreKeptAndTheirSaveAsksBeforeWritingOverTheOtherChange) {
  const int row = 5;
  BrowseAndSelect(row);
  const QString myTitle = QString::fromUtf8("Mon titre à moi");
  ws->songForm->title()->setText(myTitle);
  ASSERT_TRUE(ws->songForm->modified());
  SetTitleElsewhere("Titre de l'autre poste");
  EXPECT_GE(MsUntilShown(row, QString::fromUtf8("Titre de l'autre poste")), 0);
  QTest::qWait(300);  // a few more ticks
  EXPECT_EQ(ws->songForm->title()->text(), myTitle);  // the edit is still there
  prompt.shown.clear();
  prompt.answers = {Answer::No};
  QTest::mouseClick(ws->songForm->saveButton(), Qt::LeftButton);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, data::ChangedElsewhereQuestion(code));
  EXPECT_EQ(data::LectureFicheMorceau(ws->lib, 1, code)->title, "Titre de l'autre poste");
  EXPECT_TRUE(ws->songForm->modified());  // still there to save
  prompt.answers = {Answer::Yes};
  QTest::mouseClick(ws->songForm->saveButton(), Qt::LeftButton);
  EXPECT_EQ(data::LectureFicheMorceau(ws->lib, 1, code)->title, myTitle.toStdString());
  EXPECT_EQ(cell(row, data::kColTitle), myTitle);
  EXPECT_FALSE(ws->songForm->modified());
}

INSTANTIATE_TEST_SUITE_P(Engines, FollowGuiTest, ::testing::Values(Engine::Lmdb, Engine::Postgres),
                         [](const auto& info) { return info.param == Engine::Lmdb ? "Lmdb" : "Postgres"; });

}  // namespace
}  // namespace sono::ui::test
