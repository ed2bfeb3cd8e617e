// The main window: the music tab (station, kind browser, search mode, title
// option and text, the "Afficher"/"Stopper" button, the category tree and the
// song grid) and the "Incidents" tab. A search ends with its first row
// selected, which loads that song (SelectLigneMusMaster). It shows the core's models and forwards the
// user's actions to them; closing goes through the quit procedure. The
// music tabs are the first pages of the main tabs (one today: "Musique").
#pragma once
#include "data/change_follower.h"
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QSplitter>
#include <functional>
#include <QPushButton>
#include <QTableView>
#include <QTabWidget>
#include <QTreeWidget>

#include "core/app.h"
#include "data/music_tab.h"
#include "ui/song_table_model.h"

namespace sono::ui {

// The menus of the menu bar; each module adds its entries to one of them.
enum class MenuId { File, View, Tools };

class MainWindow : public QMainWindow {
 public:
  MainWindow(Application& app, data::Library& lib, data::MusicTab& tab, QWidget* parent = nullptr);

  // Start-up steps that belong to the window.
  void fillStations();
  void InitGeneralTVCategories();
  // Runs the search button's action and shows the result; `again` repeats
  // the last search as it was asked (a filter changed), whatever the
  // controls show now.
  void RechercheDansLaBase(bool again = false);
  // The panels under the song grid (the editor, the song form), as tabs.
  void addBottomTab(QWidget* panel, const QString& label);
  // The song form saved the selected song: its row is shown again.
  void songSaved(const std::string& code);
  // Other workstations' changes: the rows on screen the follower reads
  // again are redrawn in place.
  data::FollowUp followChanges(data::ChangeFollower& follower);
  // The grid's search run again after another workstation changed the
  // songs (change_follower.h): the selected song stays selected, the song
  // at the top stays at the top; true when the grid took new rows.
  bool followSearch(data::GridFollower& follower);
  // A search ended.
  std::function<void()> onSearched;
  // A song row was selected (its code).
  std::function<void(const std::string& code)> onSongSelected;
  // The user chose another station.
  std::function<void()> onStationChanged;
  // The code of the song row selected in the grid (empty when none).
  std::string selectedSongCode() const;
  // Shows or hides the panels under the song grid (the "MnuES" command).
  void showEditorPanel(bool shown);
  bool editorPanelShown() const { return bottomTabs_ && !bottomTabs_->isHidden(); }
  // Selects the music tab `index` (from 0), the first when out of range.
  void selectMusicTab(int index);
  // Moves new incidents of the log into the "Incidents" tab (TimerMain).
  void refreshIncidents();
  // Space in the song grid plays or stops the sound in the editor.
  std::function<void()> onPlayStopKey;
  // The two marks of the editor, on the status bar.
  void showMarks(const std::string& marks);
  QLabel* marks() const { return marks_; }
  QLabel* gridHint() const { return gridHint_; }
  QMenu* menu(MenuId id) const { return menus_.at(static_cast<size_t>(id)); }
  QLabel* status() const { return status_; }

  QTableView* grid() const { return grid_; }
  QLineEdit* searchText() const { return text_; }
  QComboBox* searchMode() const { return mode_; }
  QComboBox* kinds() const { return kinds_; }
  // The title option: "Titre", "Titre court" or "Les deux".
  QComboBox* titleOption() const { return titles_; }
  QPushButton* searchButton() const { return button_; }
  QTreeWidget* categories() const { return tree_; }
  QListWidget* incidents() const { return incidents_; }
  QTabWidget* tabs() const { return tabs_; }
  QTabWidget* bottomTabs() const { return bottomTabs_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The window's place, size and state go to the application's window model,
  // which the unload sequence saves ("FrmPos").
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void readControls();
  void keepGeometry();
  Application& app_;
  data::Library& lib_;
  data::MusicTab& tab_;
  SongTableModel* model_;
  QTabWidget* tabs_;
  QComboBox* stations_;
  QComboBox* kinds_;
  QComboBox* mode_;
  QComboBox* titles_;
  QLineEdit* text_;
  QPushButton* button_;
  QTreeWidget* tree_;
  QTableView* grid_;
  QSplitter* gridAndEditor_;
  QTabWidget* bottomTabs_ = nullptr;
  QListWidget* incidents_;
  QLabel* status_;
  QLabel* marks_;
  QLabel* gridHint_;  // over the empty song grid
  size_t incidentsShown_ = 0;
  bool keepingSelection_ = false;  // the selection put back after a follow: no song loaded again
  std::array<QMenu*, 3> menus_{};
};

}  // namespace sono::ui
