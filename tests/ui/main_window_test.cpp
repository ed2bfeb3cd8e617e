// The main window on a generated site, driven as a librarian would: start,
// browse, type a search, pick a category, close with and without answering Yes.
#include <QTest>

#include <QHeaderView>
#include <QScreen>
#include <cstdio>

#include "core/ini.h"
#include "core/text.h"
#include "data/collation.h"
#include "data/records.h"
#include "data/ptx.h"
#include "data/songs.h"
#include "editor/song_selection.h"
#include "ui/desktop_program.h"
#include "ui/elided_label.h"
#include "workstation_fixture.h"

namespace sono::ui {

namespace {
class MainWindowTest : public test::WorkstationFixture {};
}  // namespace

TEST_F(MainWindowTest, StartsBrowsesSearchesAndFiltersByCategory) {
  ASSERT_TRUE(ws->start());
  EXPECT_TRUE(ws->window.isVisible());
  EXPECT_EQ(ws->window.windowTitle(), "Ondavia: Sonoteka");
  ASSERT_EQ(ws->window.searchMode()->count(), 4);
  for (int i = 0; i < 4; ++i)  // each mode the box offers is the search's mode of that rank
    EXPECT_EQ(data::SearchModeNamed(ws->window.searchMode()->itemText(i).toStdString()), data::SearchMode(i)) << i;
  EXPECT_GT(ws->window.categories()->topLevelItem(0)->childCount(), 5);

  QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);  // music is the kind shown
  const int music = rows();
  ASSERT_GT(music, 50);
  for (int r = 0; r < music; ++r) ASSERT_TRUE(cell(r, 0).at(0).isDigit()) << cell(r, 0).toStdString();
  EXPECT_EQ(ws->window.searchButton()->text(), "Afficher");

  ws->window.searchMode()->setCurrentText("Contient");
  QTest::keyClicks(ws->window.searchText(), "amour");
  QTest::keyClick(ws->window.searchText(), Qt::Key_Return);  // Enter searches the text
  ASSERT_GT(rows(), 0);
  for (int r = 0; r < rows(); ++r)
    EXPECT_TRUE(cell(r, 1).contains("amour", Qt::CaseInsensitive)) << cell(r, 1).toStdString();

  // A category of the tree restricts the grid.
  QTreeWidgetItem* first = ws->window.categories()->topLevelItem(0)->child(0);
  ws->window.kinds()->setCurrentIndex(1);
  emit ws->window.categories()->itemClicked(first, 0);
  ASSERT_GT(rows(), 0);
  for (int r = 0; r < rows(); ++r) EXPECT_EQ(cell(r, 5), first->text(0));

  // Sorting by a column goes through the core grid.
  ws->window.grid()->sortByColumn(7, Qt::DescendingOrder);
  EXPECT_GE(cell(0, 7), cell(rows() - 1, 7));
}

TEST_F(MainWindowTest, SelectingASongLoadsItsWaveformAndPointers) {
  ASSERT_TRUE(ws->start());
  ws->window.kinds()->setCurrentIndex(0);
  ws->window.searchMode()->setCurrentText("Code");
  QTest::keyClicks(ws->window.searchText(), "00000001");
  QTest::keyClick(ws->window.searchText(), Qt::Key_Return);
  ASSERT_EQ(rows(), 1);
  ws->window.grid()->selectRow(0);
  const editor::PointerEditor& ed = ws->editorPanel->editor();
  EXPECT_EQ(ed.sound.code, "00000001");
  EXPECT_GT(ed.envelopeCount, 0);
  // The caption: code, title with its artists, and the measured length.
  const QString caption = ws->editorPanel->findChild<QLabel*>("LabelTitre")->text();
  EXPECT_TRUE(caption.startsWith("00000001  " + cell(0, 1) + " - " + cell(0, 4).section(" / ", 0, 0)))
      << caption.toStdString();
  EXPECT_TRUE(caption.endsWith(QString::fromStdString(Tps2MinSecCen(ed.soundLength())))) << caption.toStdString();
  // The demo sound's fade-out is shown in the grid (column 5).
  EXPECT_FALSE(ws->editorPanel->pointerGrid()->item(0, 4)->text().isEmpty());
  EXPECT_EQ(ws->editorPanel->pointerGrid()->horizontalHeaderItem(4)->text(), "Fade Out");
  // A pointer changed on the strip makes the quit question list the pointers.
  ws->editorPanel->editor().StripMouseDown(editor::MouseButton::Left, 100, {});
  ws->editorPanel->editor().StripMouseUp();
  ws->editorPanel->editor().StripMenu(editor::StripMenuEntry::Intro);
  prompt.answers = {Answer::Cancel};
  EXPECT_FALSE(ws->window.close());
  EXPECT_NE(prompt.shown.back().text.find("Pointeurs"), std::string::npos);
}

// --search and --screenshot: the grid's first song with a sound goes into the
// editor (songs without one are passed over), the window is saved as a PNG.
TEST_F(MainWindowTest, TheDemonstrationShowsTheFirstSoundedSongAndSavesTheWindow) {
  ASSERT_TRUE(ws->start());
  ASSERT_TRUE(ws->showFirstSoundedSong());
  const QModelIndexList selected = ws->window.grid()->selectionModel()->selectedRows();
  ASSERT_EQ(selected.size(), 1);
  const int row = selected[0].row();
  const std::string code = cell(row, data::kColCode).toStdString();
  EXPECT_EQ(ws->editorPanel->editor().sound.code, code);
  for (int r = 0; r < row; ++r) {
    const auto song = editor::SelectionForSong(ws->lib, 1, cell(r, data::kColCode).toStdString());
    ASSERT_TRUE(song);
    EXPECT_FALSE(data::HouseFormatDurationMs(song->soundFile)) << r;
  }

  const std::string png = dir / "ecran.png";
  ASSERT_TRUE(ws->saveScreenshot(png));
  const QImage image(QString::fromStdString(png));
  EXPECT_EQ(image.size(), ws->window.size());
  EXPECT_FALSE(ws->saveScreenshot(dir / "absent/ecran.png"));

  // Without its sound the song is passed over: no song of the grid has one now.
  const auto song = editor::SelectionForSong(ws->lib, 1, code);
  ASSERT_TRUE(song);
  ASSERT_EQ(std::remove(song->soundFile.c_str()), 0);
  EXPECT_FALSE(ws->showFirstSoundedSong());
}

TEST(DesktopArgumentsTest, TheProgramsOwnOptionsAreTakenOutOfTheCommandLine) {
  const char* argv[] = {"sonoteka", "/Station=2", "--home", "/srv/sono", "--search", "-q",
                        "--screenshot", "e.png", "--home"};
  const DesktopArguments parsed = DesktopArguments::Parse(9, argv);
  EXPECT_EQ(parsed.home, "/srv/sono");
  EXPECT_EQ(parsed.screenshot, "e.png");
  EXPECT_TRUE(parsed.search);
  EXPECT_EQ(parsed.commandLine, "/Station=2 -q --home");  // a --home without its folder stays
  EXPECT_FALSE(DesktopArguments::Parse(1, argv).search);
}

TEST_F(MainWindowTest, PlaceAndSizeOfTheWindowAreKeptAcrossARestart) {
  ASSERT_TRUE(ws->start());
  // The first start: 1366x768, or the whole of a smaller screen.
  const QRect screen = ws->window.screen()->geometry();
  EXPECT_EQ(ws->window.size(), QSize(std::min(1366, screen.width()), std::min(768, screen.height())));
  ws->window.resize(1100, 700);
  ws->window.move(40, 30);
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(ws->window.close());
  const std::string positions = ws->app.config().positionsFile();
  EXPECT_EQ(LectureIni(positions, "FrmPos", "Frm_Main_Width", ""), "1100");
  EXPECT_EQ(LectureIni(positions, "FrmPos", "Frm_Main_Height", ""), "700");
  EXPECT_EQ(LectureIni(positions, "FrmPos", "Frm_Main_WindowState", ""), "0");
  Restart();
  EXPECT_EQ(ws->window.size(), QSize(1100, 700));
  // Maximised: the state is kept, the normal size too.
  ws->window.showMaximized();
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(ws->window.close());
  EXPECT_EQ(LectureIni(positions, "FrmPos", "Frm_Main_WindowState", ""), "2");
  EXPECT_EQ(LectureIni(positions, "FrmPos", "Frm_Main_Width", ""), "1100");
  Restart();
  EXPECT_TRUE(ws->window.isMaximized());
}

TEST_F(MainWindowTest, SongFormSavesTheSelectedSongAndItsRowShowsIt) {
  ASSERT_TRUE(ws->start());
  ShowSong("00000002");
  SongFormPanel& form = *ws->songForm;
  ws->window.bottomTabs()->setCurrentWidget(&form);
  ASSERT_TRUE(form.isEnabled());
  EXPECT_EQ(form.title()->text(), cell(0, 1));
  EXPECT_EQ(form.artist1()->currentText(), cell(0, 4).section(" / ", 0, 0));
  EXPECT_EQ(form.category()->currentText(), cell(0, 5));
  EXPECT_FALSE(form.modified());  // a song just loaded is not an edit

  form.title()->setText(QString::fromUtf8("Titre révisé à l'aube"));
  QTest::mouseClick(form.saveButton(), Qt::LeftButton);
  EXPECT_EQ(cell(0, 1), QString::fromUtf8("Titre révisé à l'aube"));  // the row shows it at once
  EXPECT_EQ(ws->window.status()->text(), QString::fromUtf8("Morceau 00000002 enregistré"));
  EXPECT_EQ(prompt.stepLabels.back(), "Sauvegarde du morceau 00000002: 10/10");
  const auto saved = data::LectureFicheMorceau(ws->lib, 1, "00000002");
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->title, "Titre révisé à l'aube");

  EXPECT_FALSE(form.modified());
  // Quitting with the form edited and not saved names it; Cancel keeps the window.
  form.title()->clear();
  EXPECT_TRUE(form.modified());
  prompt.answers = {Answer::Cancel};
  EXPECT_FALSE(ws->window.close());
  EXPECT_FALSE(ws->app.ended());
  EXPECT_NE(prompt.shown.back().text.find("  - Fiche morceau\n"), std::string::npos) << prompt.shown.back().text;
}

// A search ends as SelectLigneMusMaster with the first row: selected and
// loaded. The title option has its combo; a sorted column keeps its
// direction for the next searches.
TEST_F(MainWindowTest, SearchLoadsTheFirstRowAndKeepsTitleOptionAndSort) {
  ASSERT_TRUE(ws->start());
  QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
  ASSERT_GT(rows(), 2);
  EXPECT_EQ(ws->window.grid()->currentIndex().row(), 0);
  EXPECT_EQ(ws->editorPanel->editor().sound.code, cell(0, 0).toStdString());
  EXPECT_EQ(ws->songForm->title()->text(), cell(0, 1));

  QComboBox* titles = ws->window.titleOption();
  ASSERT_EQ(titles, ws->window.findChild<QComboBox*>("ComboTitres"));
  ASSERT_EQ(titles->count(), 3);
  EXPECT_EQ(titles->itemText(1), QString::fromUtf8("Titre court"));
  titles->setCurrentIndex(1);
  QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
  ASSERT_GT(rows(), 2);
  for (int r = 0; r < 3; ++r) {
    const auto song = data::LectureFicheMorceau(ws->lib, 1, cell(r, 0).toStdString());
    ASSERT_TRUE(song.has_value());
    EXPECT_EQ(cell(r, 1).toStdString(), song->shortTitle);
  }

  ws->window.grid()->sortByColumn(data::kColTitle, Qt::DescendingOrder);
  const auto descending = [this] {
    for (int r = 0; r + 1 < rows(); ++r)
      if (data::CollatesBefore(Utf8ToCp1252(cell(r, 1).toStdString()), Utf8ToCp1252(cell(r + 1, 1).toStdString())))
        return false;
    return true;
  };
  EXPECT_TRUE(descending());
  QTest::mouseClick(ws->window.searchButton(), Qt::LeftButton);
  EXPECT_TRUE(descending());
  EXPECT_EQ(ws->window.grid()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(ws->editorPanel->editor().sound.code, cell(0, 0).toStdString());  // the first row as shown
}

// The device of "Send" is the song's own, or none.
TEST_F(MainWindowTest, DeviceBoxShowsTheSelectedSongsOwnDevice) {
  ASSERT_TRUE(ws->start());
  ASSERT_EQ(data::PtxSauvegarderPointeur(ws->lib, 1, "00000001", '6', 5000, 0, 0, 0, true), 0);
  SearchCode("0000000");
  auto* device = ws->editorPanel->findChild<QComboBox*>("ComboPeripherique");
  ASSERT_NE(device, nullptr);
  ASSERT_GT(device->count(), 0);
  const auto select = [this](const QString& code) {
    for (int r = 0; r < rows(); ++r)
      if (cell(r, 0) == code) ws->window.grid()->selectRow(r);
    ASSERT_EQ(ws->editorPanel->editor().sound.code, code.toStdString());
  };
  select("00000001");
  EXPECT_EQ(device->currentIndex(), 0);
  select("00000002");
  EXPECT_EQ(device->currentIndex(), -1);
  EXPECT_TRUE(device->currentText().isEmpty());
}

// What stores queue for the average durations is recounted once the work is
// over, and what is still queued at exit is recounted before the database
// closes.
TEST_F(MainWindowTest, QueuedAverageDurationsAreRecountedAndNotLostAtExit) {
  ASSERT_TRUE(ws->start());
  const auto field = [this](int file, const std::string& key0, data::Field f) {
    std::string key = data::Library::Key(key0);
    if (ws->layer.BTRieve(0, 5, key, 0, file, 1, "Test") != 0) return std::string("?");
    return data::GetRaw(ws->layer.record(file), f);
  };
  // Counts no recount would give (the library has 150 songs).
  const auto spoil = [this](int file, const std::string& key0, data::Field f) {
    std::string key = data::Library::Key(key0);
    ASSERT_EQ(ws->layer.BTRieve(0, 5, key, 0, file, 1, "Test"), 0);
    data::SetRaw(ws->layer.record(file), f, "9999");
    ASSERT_EQ(ws->layer.BTRieve(0, 3, key, 0, file, 1, "Test"), 0);
  };
  spoil(data::kArtists, "A0001", data::artist::kCount);
  spoil(data::kCodeTables, "CATEGPOP  ", data::codes::kCategCount);
  ws->stats.queueArtist("A0001");
  ws->tick();
  EXPECT_TRUE(ws->stats.artistQueue().empty());
  EXPECT_LT(ParseInt(field(data::kArtists, "A0001", data::artist::kCount)).value_or(9999), 150);

  ws->stats.queueCategory("POP  ");
  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(ws->window.close());
  EXPECT_TRUE(ws->stats.categoryQueue().empty());
  Restart();
  EXPECT_LT(ParseInt(field(data::kCodeTables, "CATEGPOP  ", data::codes::kCategCount)).value_or(9999), 150);
}

// A long title and a missing sound's whole path are cut on screen, never
// widen the window: on a 1280x720 desk every button stays whole. Before a
// song, the grid and the editor say what to do and what cannot act is off.
TEST_F(MainWindowTest, LongTextsNeverWidenTheWindowAndEmptyViewsSayWhatToDo) {
  ASSERT_TRUE(ws->start());
  MainWindow& window = ws->window;
  window.resize(1280, 720);
  QApplication::processEvents();
  EditorPanel& panel = *ws->editorPanel;
  auto* save = panel.findChild<QPushButton*>("SftButtonSavePTX");
  ASSERT_NE(save, nullptr);
  ASSERT_EQ(rows(), 0);
  EXPECT_TRUE(window.gridHint()->isVisibleTo(&window));
  EXPECT_TRUE(panel.noSongHint()->isVisibleTo(&window));
  EXPECT_FALSE(save->isEnabled());
  EXPECT_FALSE(panel.playButton()->isEnabled());
  EXPECT_FALSE(panel.pointerGrid()->isEnabled());

  // Song 2 has no sound file: the editor says so with the file's whole path.
  SearchCode("00000002");
  ASSERT_EQ(rows(), 1);
  SongFormPanel& form = *ws->songForm;
  form.title()->setText(QString(40, 'W'));
  QTest::mouseClick(form.saveButton(), Qt::LeftButton);
  window.bottomTabs()->setCurrentWidget(&panel);
  SearchCode("00000002");
  QApplication::processEvents();
  EXPECT_FALSE(window.gridHint()->isVisibleTo(&window));
  EXPECT_FALSE(panel.noSongHint()->isVisibleTo(&window));
  EXPECT_TRUE(save->isEnabled());
  const QString path = QString::fromStdString(data::SoundFilePath(ws->lib, 1, "00000002"));
  EXPECT_EQ(panel.message()->text(), QString::fromUtf8("Fichier son non trouvé: ") + path);
  EXPECT_TRUE(panel.title()->text().contains(QString(40, 'W')));

  const QRect screen = window.screen()->availableGeometry();
  EXPECT_LE(window.width(), 1280);
  EXPECT_LE(window.minimumSizeHint().width(), 1280);
  EXPECT_TRUE(screen.contains(window.frameGeometry())) << window.frameGeometry().width();
  for (QWidget* button : std::initializer_list<QWidget*>{save, panel.playButton(), window.findChild<QWidget*>("CommandRecherche")}) {
    const QRect inWindow(button->mapTo(&window, QPoint(0, 0)), button->size());
    EXPECT_TRUE(window.rect().contains(inWindow)) << button->objectName().toStdString();
    EXPECT_GE(button->width(), button->sizeHint().width()) << button->objectName().toStdString();
  }
  // Cut on screen, whole in the label's text (and its tooltip).
  const auto* message = static_cast<const ElidedLabel*>(panel.message());
  EXPECT_NE(message->shownText(), message->text());

  SearchCode("99999999");
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(window.gridHint()->isVisibleTo(&window));
  EXPECT_EQ(window.gridHint()->text(), QString::fromUtf8("Aucun morceau trouvé."));
}

TEST_F(MainWindowTest, NewIncidentsShowInTheirTab) {
  ASSERT_TRUE(ws->start());
  ws->app.log().TraceLog("Un incident à voir");
  ws->tick();
  const QListWidget* list = ws->window.incidents();
  ASSERT_GT(list->count(), 0);
  EXPECT_TRUE(list->item(list->count() - 1)->text().endsWith(QString::fromUtf8("Un incident à voir")));
  EXPECT_EQ(ws->window.tabs()->tabText(1), "Incidents *");
}

}  // namespace sono::ui
