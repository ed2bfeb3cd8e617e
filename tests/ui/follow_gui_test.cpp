// The desktop follows another workstation: sonoteka-cli or station_worker,
// processes of their own on the same site, save a song's title or pointers,
// add and delete songs while the window shows the music grid.
// On both engines: the site's LMDB files, or its base in a database of a
// private PostgreSQL server.
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>
#include <filesystem>

#include "../data/btr/pg_test_base.h"
#include "cli_site.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/btr/base_engine.h"
#include "data/ptx.h"
#include "data/songs.h"
#include "library_fixture.h"
#include "process.h"
#include "pg_site_base.h"
#include "workstation_fixture.h"

namespace sono::ui::test {
namespace {

enum class Engine { Lmdb, Postgres };

// The base on PostgreSQL, or left on LMDB.
std::function<void(SiteConfig&)> OnEngine(Engine engine, PgSiteBase& base) {
  return engine == Engine::Lmdb ? std::function<void(SiteConfig&)>() : base.onPostgres("followgui");
}

class FollowGuiTest : public PgSiteBase, public WorkstationFixture, public ::testing::WithParamInterface<Engine> {
 protected:
  FollowGuiTest() : WorkstationFixture(150, OnEngine(GetParam(), *this)) {}
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
  // station_worker writes a song record (new, or over the song of its
  // code) or deletes a song in the station's song file.
  void Elsewhere(std::vector<std::string> args, const std::string& input = {}) {
    const std::string path = ws->layer.NomFichierBTR(0, data::kSongs, 1);
    args.insert(args.begin() + 1, pg ? path.substr(path.rfind('/') + 1) : path);
    args.insert(args.begin(), {STATION_WORKER, pg ? pg->connection() : "lmdb"});
    const auto r = sono::test::RunProcess(args, {}, 60000, input);
    ASSERT_TRUE(r.exited(0)) << r.out << r.err;
    EXPECT_EQ(r.out, "0\n");
  }
  std::optional<int> rowOf(const std::string& songCode) {
    for (int r = 0; r < rows(); ++r)
      if (cell(r, data::kColCode).toStdString() == songCode) return r;
    return std::nullopt;
  }
  std::string selectedCode() const { return ws->window.selectedSongCode(); }
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

TEST_P(FollowGuiTest, SongsAddedAndDeletedElsewhereShowAndGoWithinASecondWithTheSelectionKept) {
  const int row = 12;
  BrowseAndSelect(row);
  const int top = ws->window.grid()->rowAt(0);
  ASSERT_GT(top, 3);
  const std::string topCode = cell(top, data::kColCode).toStdString();
  // The new song has the title of row 14 and a code after every other: it
  // comes right after it. One song goes above the screen, one on it.
  const std::string before = cell(row + 2, data::kColCode).toStdString();
  const std::string newCode = "99999999";
  const std::string goneAbove = cell(2, data::kColCode).toStdString();
  const std::string goneOnScreen = cell(row + 4, data::kColCode).toStdString();
  const int count = rows();
  Elsewhere({"put"}, data::test::SongRecord(newCode, cell(row + 2, data::kColTitle).toStdString(), 200));
  Elsewhere({"delete", goneAbove});
  Elsewhere({"delete", goneOnScreen});
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf(newCode) && !rowOf(goneAbove) && !rowOf(goneOnScreen); }, 3000));
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(rows(), count - 1);
  EXPECT_EQ(rowOf(newCode), *rowOf(before) + 1);
  // The selected song is still selected, the song at the top still at the top.
  EXPECT_EQ(selectedCode(), code);
  EXPECT_EQ(ws->window.grid()->currentIndex().row(), row - 1);
  EXPECT_EQ(cell(ws->window.grid()->rowAt(0), data::kColCode).toStdString(), topCode);
  EXPECT_EQ(ws->songForm->code()->text().toStdString(), code);
  EXPECT_TRUE(prompt.shown.empty());

  // The selected song deleted elsewhere: its row goes, no other song is
  // selected nor loaded (the form, without edits, empties; the editor keeps
  // its sound) and the status bar says why.
  const int left = rows();
  const std::string editorCode = ws->editorPanel->editor().sound.code;
  Elsewhere({"delete", code});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !rowOf(code); }, 3000));
  EXPECT_EQ(rows(), left - 1);
  EXPECT_EQ(selectedCode(), "");
  EXPECT_EQ(ws->songForm->code()->text().toStdString(), "");
  EXPECT_EQ(ws->editorPanel->editor().sound.code, editorCode);
  EXPECT_TRUE(ws->window.status()->text().contains(QString::fromStdString(code)));
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_P(FollowGuiTest, TheCueEditorShowsPointersStoredElsewhereAndItsStoreAsksBeforeWritingOverThem) {
  ASSERT_TRUE(ws->start());
  ASSERT_TRUE(ws->showFirstSoundedSong());
  editor::PointerEditor& ed = ws->editorPanel->editor();
  ASSERT_TRUE(ed.songLoaded());
  code = Trim(Cp1252ToUtf8(ed.sound.code));
  const long long length = ed.soundLength();
  ASSERT_GT(length, 3000);
  QTableWidget* grid = ws->editorPanel->pointerGrid();
  const int introColumn = data::kGridIntro - 1;
  const auto setElsewhere = [&](long long intro) {
    const auto r = sono::test::RunCli(dir.path(), {"ptx", "set", code, std::to_string(data::kIntro), std::to_string(intro)});
    ASSERT_TRUE(r.exited(0)) << r.out << r.err;
  };
  const auto stored = [&] { return data::MorceauChargerPointeur(ws->lib, 1, Utf8ToCp1252(code), length).intro; };

  const long long theirs = length / 2;
  ASSERT_NE(ed.ptx.position[data::kIntro], theirs);
  setElsewhere(theirs);
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return ed.ptx.position[data::kIntro] == theirs; }, 3000));
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(grid->item(0, introColumn)->text().toStdString(), data::PointerGrid::Display(data::kGridIntro, theirs));
  EXPECT_FALSE(ed.anyMarked());

  // An intro of the user's, not stored: kept when the other workstation
  // stores another; the store asks, No writes nothing, Yes writes it.
  const long long mine = length / 4;
  ASSERT_EQ(ed.ptx.MemoriseUserValue(data::kIntro, static_cast<double>(mine), 0), "");
  ws->editorPanel->refresh();
  setElsewhere(theirs + 1000);
  QTest::qWait(600);  // a few follow ticks
  EXPECT_EQ(ed.ptx.position[data::kIntro], mine);
  EXPECT_TRUE(ed.anyMarked());
  prompt.shown.clear();
  prompt.answers = {Answer::No};
  QPushButton* store = ws->editorPanel->findChild<QPushButton*>("SftButtonSavePTX");
  ASSERT_NE(store, nullptr);
  QTest::mouseClick(store, Qt::LeftButton);
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text, data::ChangedElsewhereQuestion(code));
  EXPECT_EQ(stored(), theirs + 1000);
  EXPECT_TRUE(ed.anyMarked());
  prompt.shown.clear();
  prompt.answers = {Answer::Yes};
  QTest::mouseClick(store, Qt::LeftButton);
  EXPECT_EQ(stored(), mine);
  EXPECT_FALSE(ed.anyMarked());
}

INSTANTIATE_TEST_SUITE_P(Engines, FollowGuiTest, ::testing::Values(Engine::Lmdb, Engine::Postgres),
                         [](const auto& info) { return info.param == Engine::Lmdb ? "Lmdb" : "Postgres"; });

}  // namespace
}  // namespace sono::ui::test
