// The program's settings in the desktop: the filters of the search, the
// editor panel, the cart panel, automatic storing, the song form's save on
// every station and the music tab at start, each set from the settings file
// and from the menus, written when changed and found again after a restart.
#include <QTest>
#include <set>

#include "core/ini.h"
#include "data/records.h"
#include "data/songs.h"
#include "workstation_fixture.h"

namespace sono::ui {

namespace {

class SettingsGuiTest : public test::WorkstationFixture {
 protected:
  std::string settingsFile() const { return dir / "Settings/Vexa_Library/Vexa_Library.Ini"; }
  SettingsMenus& menus() { return ws->menus; }
  void Browse(int station) {
    auto* stations = ws->window.findChild<QComboBox*>("ComboStation");
    stations->setCurrentIndex(station - 1);
    emit stations->activated(station - 1);
    ws->window.kinds()->setCurrentIndex(1);
    ws->window.RechercheDansLaBase();
  }
  int RowsWith(int column, const QString& text) {
    int n = 0;
    for (int r = 0; r < rows(); ++r) n += cell(r, column) == text;
    return n;
  }
  std::set<int> SoundTypes(int station) {
    std::set<int> types;
    for (int r = 0; r < rows(); ++r)
      types.insert(data::LectureFicheMorceau(ws->lib, station, cell(r, 0).toStdString())->soundType);
    return types;
  }
  void CloseWithYes() {
    prompt.answers = {Answer::Yes};
    ASSERT_TRUE(ws->window.close());
  }
};

}  // namespace

TEST_F(SettingsGuiTest, AFreshSettingsFileHidesNothingAndWritesNothing) {
  ASSERT_TRUE(ws->start());
  EXPECT_TRUE(ws->window.editorPanelShown());
  EXPECT_TRUE(menus().editorPanel()->isChecked());
  EXPECT_TRUE(menus().cartDock()->isHidden());
  EXPECT_TRUE(menus().soundFilter()->isChecked());
  for (int type = 0; type < 10; ++type) {
    EXPECT_FALSE(menus().soundType(type)->isChecked());
    EXPECT_TRUE(menus().soundType(type)->isEnabled());
  }
  for (QAction* hide : {menus().hideInactiveStations(), menus().hideInactiveCategories(), menus().playableOnly()})
    EXPECT_FALSE(hide->isChecked()) << hide->objectName().toStdString();
  EXPECT_FALSE(ws->editorPanel->editor().autoStore);
  EXPECT_FALSE(ws->songForm->allStations()->isChecked());
  // The entries are in the window's menus.
  EXPECT_EQ(ws->window.menu(MenuId::View)->findChild<QAction*>("MnuTypeSon_7"), menus().soundType(7));
  EXPECT_EQ(ws->window.menu(MenuId::Tools)->findChild<QAction*>("MnuMorSavePtx"), menus().autoStore());
  Browse(2);
  EXPECT_GT(RowsWith(5, "Jazz"), 0);  // not active on station 2, shown as before
  CloseWithYes();
  for (const char* key : {"Sons", "TypesSons", "Morceaux", "MasquerMorceauxStationNonActive",
                          "MasquerMorceauxCategorieNonActiveSurStation"})
    EXPECT_EQ(LectureIni(settingsFile(), "Filtres", key, "absent"), "absent") << key;
  EXPECT_EQ(LectureIni(settingsFile(), "Menus", "MnuES", "absent"), "absent");
  EXPECT_EQ(LectureIni(settingsFile(), "Cartouchier", "Actif", "absent"), "absent");
}

TEST_F(SettingsGuiTest, StoredFiltersApplyAndTheMenusChangeThemAtOnce) {
  EcritureIni(settingsFile(), "Filtres", "MasquerMorceauxCategorieNonActiveSurStation", "1");
  EcritureIni(settingsFile(), "Filtres", "TypesSons", "1");
  ASSERT_TRUE(ws->start());
  Browse(2);
  const int typeOne = rows();
  ASSERT_GT(typeOne, 0);
  EXPECT_EQ(RowsWith(5, "Jazz"), 0);  // as the command line lists them
  EXPECT_EQ(SoundTypes(2), std::set<int>{1});
  EXPECT_TRUE(menus().hideInactiveCategories()->isChecked());
  EXPECT_TRUE(menus().soundType(1)->isChecked());

  // Unticking in the menu lists the category again at once, and is written.
  menus().hideInactiveCategories()->trigger();
  EXPECT_GT(RowsWith(5, "Jazz"), 0);
  EXPECT_EQ(LectureIni(settingsFile(), "Filtres", "MasquerMorceauxCategorieNonActiveSurStation", ""), "0");
  menus().soundType(2)->trigger();
  EXPECT_EQ(SoundTypes(2), (std::set<int>{1, 2}));
  EXPECT_EQ(LectureIni(settingsFile(), "Filtres", "TypesSons", ""), "12");
  // The filter switched off: every type, the ticks kept but greyed.
  menus().soundFilter()->trigger();
  EXPECT_EQ(SoundTypes(2), (std::set<int>{0, 1, 2}));
  EXPECT_FALSE(menus().soundType(1)->isEnabled());
  EXPECT_EQ(LectureIni(settingsFile(), "Filtres", "Sons", ""), "0");

  // A song that may not go on air disappears with "Masquer les morceaux non diffusables".
  const std::string code = cell(0, 0).toStdString();
  std::string key = data::Library::Key(code);
  ASSERT_EQ(ws->layer.BTRieve(0, 5, key, 0, data::kSongs, 2, "Test"), 0);
  data::SetRaw(ws->layer.record(data::kSongs), data::song::kPlayable, "N");
  ASSERT_EQ(ws->layer.BTRieve(0, 3, key, 0, data::kSongs, 2, "Test"), 0);
  const int before = rows();
  menus().playableOnly()->trigger();
  EXPECT_EQ(rows(), before - 1);
  EXPECT_NE(cell(0, 0).toStdString(), code);

  CloseWithYes();
  Restart();
  EXPECT_FALSE(menus().hideInactiveCategories()->isChecked());
  EXPECT_FALSE(menus().soundFilter()->isChecked());
  EXPECT_TRUE(menus().soundType(2)->isChecked());
  EXPECT_TRUE(menus().playableOnly()->isChecked());
  Browse(2);
  EXPECT_EQ(rows(), before - 1);
}

TEST_F(SettingsGuiTest, EditorPanelAndCartPanelFollowTheirMenusAcrossARestart) {
  EcritureIni(settingsFile(), "Menus", "MnuES", "0");
  ASSERT_TRUE(ws->start());
  EXPECT_FALSE(ws->window.editorPanelShown());
  EXPECT_FALSE(menus().editorPanel()->isChecked());
  menus().editorPanel()->trigger();
  EXPECT_TRUE(ws->window.editorPanelShown());
  EXPECT_EQ(LectureIni(settingsFile(), "Menus", "MnuES", ""), "1");

  menus().cartPanel()->trigger();
  EXPECT_TRUE(menus().cartDock()->isVisible());
  EXPECT_EQ(LectureIni(settingsFile(), "Cartouchier", "Actif", ""), "1");
  ShowSong("00000001");
  CartPanel& panel = *menus().carts();
  QTest::mouseClick(panel.loadButton(), Qt::LeftButton);  // no slot selected: the first empty one
  EXPECT_EQ(panel.slotTable()->item(0, 0)->text(), "00000001");
  EXPECT_EQ(panel.slotTable()->item(0, 1)->text(), cell(0, 1));
  EXPECT_EQ(LectureIni(settingsFile(), "Cartouchier", "SongId_0", ""), "00000001");
  panel.slotTable()->setCurrentCell(5, 0);
  QTest::mouseClick(panel.loadButton(), Qt::LeftButton);
  EXPECT_EQ(LectureIni(settingsFile(), "Cartouchier", "SongId_5", ""), "00000001");
  QTest::mouseClick(panel.ejectButton(), Qt::LeftButton);
  EXPECT_EQ(panel.slotTable()->item(5, 0)->text(), "");
  EXPECT_EQ(LectureIni(settingsFile(), "Cartouchier", "SongId_5", ""), "*");
  // A code the song file does not hold is refused.
  EXPECT_FALSE(ws->carts.Charger(2, "ZZZ00001"));
  EXPECT_EQ(prompt.shown.back().text, "Morceau non trouvé: ZZZ00001");
  EXPECT_EQ(LectureIni(settingsFile(), "Cartouchier", "SongId_2", "absent"), "absent");

  CloseWithYes();
  Restart();
  EXPECT_TRUE(ws->window.editorPanelShown());
  EXPECT_TRUE(menus().cartPanel()->isChecked());
  EXPECT_TRUE(menus().cartDock()->isVisible());
  EXPECT_EQ(menus().carts()->slotTable()->item(0, 0)->text(), "00000001");
  EXPECT_FALSE(menus().carts()->slotTable()->item(0, 1)->text().isEmpty());
  menus().cartPanel()->trigger();
  EXPECT_TRUE(menus().cartDock()->isHidden());
  EXPECT_EQ(LectureIni(settingsFile(), "Cartouchier", "Actif", ""), "0");
}

TEST_F(SettingsGuiTest, AutomaticStoringSaveOnEveryStationAndTheMusicTabAtStart) {
  const std::string systemFile = ws->app.config().current().systemFile;
  EcritureIni(systemFile, "Ptx", "Save", "1");
  EcritureIni(settingsFile(), "Morceau", "StationsAll", "1");
  EcritureIni(settingsFile(), "GrilleMorceaux", "CurrentTab", "2");  // there is one music tab
  ASSERT_TRUE(ws->start());
  EXPECT_EQ(ws->window.tabs()->currentIndex(), 0);
  EXPECT_EQ(ws->window.tabs()->tabText(0), "Musique");
  EXPECT_TRUE(ws->editorPanel->editor().autoStore);
  EXPECT_TRUE(menus().autoStore()->isChecked());
  menus().autoStore()->trigger();
  EXPECT_FALSE(ws->editorPanel->editor().autoStore);
  EXPECT_EQ(LectureIni(systemFile, "Ptx", "Save", ""), "1");  // the base's default stays

  QCheckBox* allStations = ws->songForm->allStations();
  EXPECT_TRUE(allStations->isChecked());
  EXPECT_TRUE(menus().allStations()->isChecked());
  ShowSong("00000002");
  ws->window.bottomTabs()->setCurrentWidget(ws->songForm);
  QTest::mouseClick(allStations, Qt::LeftButton);
  EXPECT_FALSE(menus().allStations()->isChecked());
  EXPECT_EQ(LectureIni(settingsFile(), "Morceau", "StationsAll", ""), "0");
  menus().allStations()->trigger();
  EXPECT_TRUE(allStations->isChecked());
  EXPECT_EQ(LectureIni(settingsFile(), "Morceau", "StationsAll", ""), "1");
  // The form saves on every station as the box says.
  ws->songForm->title()->setText(QString::fromUtf8("Sur toutes les stations"));
  QTest::mouseClick(ws->songForm->saveButton(), Qt::LeftButton);
  EXPECT_EQ(data::LectureFicheMorceau(ws->lib, 2, "00000002")->title, "Sur toutes les stations");
}

}  // namespace sono::ui
