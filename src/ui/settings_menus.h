// The menu entries of the program's settings and what they act on:
//   Affichage > Filtres: the sound-type filter ("Filtre des types de son" and
//     the ten entries "Type 0" to "Type 9"), hiding the songs inactive on the
//     station, the songs of categories inactive on the station, and the songs
//     that may not go on air;
//   Affichage: the editor panel under the grid ("MnuES") and the cart panel;
//   Outils: automatic pointer storing ("MnuMorSavePtx", from the base's
//     "Ptx" "Save") and the song form's save on every station ("StationsAll",
//     the same state as the form's "Toutes les stations").
// Each entry shows the core's settings and changes them through
// ProgramSettings, which writes the key at once; a changed filter shows in
// the grid at once when a search has filled it.
#pragma once
#include <QAction>
#include <QDockWidget>
#include <array>

#include "core/app.h"
#include "data/cartridges.h"
#include "data/music_tab.h"
#include "ui/cart_panel.h"
#include "ui/editor_panel.h"
#include "ui/main_window.h"
#include "ui/song_form_panel.h"

namespace sono::ui {

class SettingsMenus {
 public:
  SettingsMenus(MainWindow& window, Application& app, data::MusicTab& tab, EditorPanel& editor,
                SongFormPanel& form, data::Cartouchier& carts);
  // The settings read at start-up shown by the menus and applied to the
  // panels, the editor and the search; the music tab of "CurrentTab" selected.
  void apply();

  QAction* soundFilter() const { return soundFilter_; }
  QAction* soundType(int type) const { return soundTypes_.at(static_cast<size_t>(type)); }
  QAction* hideInactiveStations() const { return hideStations_; }
  QAction* hideInactiveCategories() const { return hideCategories_; }
  QAction* playableOnly() const { return playableOnly_; }
  QAction* editorPanel() const { return editorPanel_; }
  QAction* cartPanel() const { return cartPanel_; }
  QAction* autoStore() const { return autoStore_; }
  QAction* allStations() const { return allStations_; }
  CartPanel* carts() const { return carts_; }
  QDockWidget* cartDock() const { return cartDock_; }

 private:
  QAction* checkable(QMenu* menu, const char* text, const char* name);
  void filtersChanged();
  void showStates();
  MainWindow& window_;
  Application& app_;
  data::MusicTab& tab_;
  EditorPanel& editor_;
  SongFormPanel& form_;
  data::Cartouchier& cartModel_;
  QAction* soundFilter_;
  std::array<QAction*, 10> soundTypes_{};
  QAction* hideStations_;
  QAction* hideCategories_;
  QAction* playableOnly_;
  QAction* editorPanel_;
  QAction* cartPanel_;
  QAction* autoStore_;
  QAction* allStations_;
  CartPanel* carts_;
  QDockWidget* cartDock_;
};

}  // namespace sono::ui
