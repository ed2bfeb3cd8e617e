#include "ui/settings_menus.h"

#include <QMenu>

namespace sono::ui {

SettingsMenus::SettingsMenus(MainWindow& window, Application& app, data::MusicTab& tab, EditorPanel& editor,
                             SongFormPanel& form, data::Cartouchier& carts)
    : window_(window), app_(app), tab_(tab), editor_(editor), form_(form), cartModel_(carts) {
  ProgramSettings& settings = app_.settings();
  QMenu* view = window_.menu(MenuId::View);
  QMenu* filters = view->addMenu(QString::fromUtf8("&Filtres"));
  filters->setObjectName("MnuFiltres");
  soundFilter_ = checkable(filters, "&Filtre des types de son", "MnuFiltreSons");
  QMenu* types = filters->addMenu(QString::fromUtf8("&Types de son"));
  types->setObjectName("MnuTypesSons");
  for (int type = 0; type < 10; ++type) {
    const std::string name = "MnuTypeSon_" + std::to_string(type);
    soundTypes_[static_cast<size_t>(type)] = checkable(types, ("Type &" + std::to_string(type)).c_str(), name.c_str());
  }
  filters->addSeparator();
  hideStations_ = checkable(filters, "&Masquer les morceaux non actifs sur la station",
                            "MnuMasquerMorceauxStationNonActive");
  hideCategories_ = checkable(filters, "Masquer les morceaux des &catégories non actives sur la station",
                              "MnuMasquerMorceauxCategorieNonActiveSurStation");
  playableOnly_ = checkable(filters, "Masquer les morceaux non &diffusables", "MnuFiltreMorceaux");
  view->addSeparator();
  editorPanel_ = checkable(view, "&Panneau d'édition (pointeurs, fiche morceau)", "MnuES");
  cartPanel_ = checkable(view, "Ca&rtouchier", "MnuCartouchier");
  QMenu* tools = window_.menu(MenuId::Tools);
  autoStore_ = checkable(tools, "&Enregistrement automatique des pointeurs", "MnuMorSavePtx");
  allStations_ = checkable(tools, "Fiche &morceau enregistrée sur toutes les stations", "MnuMorceauStationsAll");

  carts_ = new CartPanel(cartModel_);
  carts_->selectedSong = [this] { return window_.selectedSongCode(); };
  cartDock_ = new QDockWidget(QString::fromUtf8("Cartouchier"), &window_);
  cartDock_->setObjectName("DockCartouchier");
  // The menu is the one switch of the panel (its state is a setting).
  cartDock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  cartDock_->setWidget(carts_);
  window_.addDockWidget(Qt::RightDockWidgetArea, cartDock_);
  cartDock_->hide();

  // `triggered` comes from the user (or QAction::trigger), never from the
  // states shown at start: only the user's changes are written.
  const auto flag = [this, &settings](QAction* action, SettingId id, bool filter) {
    QObject::connect(action, &QAction::triggered, &window_, [this, &settings, id, filter](bool on) {
      settings.SetFlag(id, on);
      if (filter) filtersChanged();
    });
  };
  flag(soundFilter_, SettingId::SoundFilter, true);
  flag(hideStations_, SettingId::HideInactiveStations, true);
  flag(hideCategories_, SettingId::HideInactiveCategories, true);
  flag(playableOnly_, SettingId::SongFilter, true);
  for (int type = 0; type < 10; ++type)
    QObject::connect(soundTypes_[static_cast<size_t>(type)], &QAction::triggered, &window_,
                     [this, &settings, type](bool on) {
                       settings.SetSoundTypeTicked(type, on);
                       filtersChanged();
                     });
  QObject::connect(editorPanel_, &QAction::triggered, &window_, [this, &settings](bool on) {
    settings.SetFlag(SettingId::EditorPanel, on);
    window_.showEditorPanel(on);
  });
  QObject::connect(cartPanel_, &QAction::triggered, &window_, [this](bool on) {
    cartModel_.SetActive(on);
    cartDock_->setVisible(on);
  });
  QObject::connect(autoStore_, &QAction::triggered, &window_, [this](bool on) {
    editor_.editor().autoStore = on;
    editor_.refresh();
  });
  editor_.onAutoStoreChanged = [this](bool on) { autoStore_->setChecked(on); };
  QObject::connect(allStations_, &QAction::triggered, &window_, [this, &settings](bool on) {
    settings.SetFlag(SettingId::SongForAllStations, on);
    form_.allStations()->setChecked(on);
  });
  QObject::connect(form_.allStations(), &QCheckBox::clicked, &window_, [this, &settings](bool on) {
    settings.SetFlag(SettingId::SongForAllStations, on);
    allStations_->setChecked(on);
  });
  window_.onStationChanged = [this] {
    cartModel_.Refresh(app_.window().currentStation + 1);
    carts_->refresh();
  };
}

QAction* SettingsMenus::checkable(QMenu* menu, const char* text, const char* name) {
  QAction* action = menu->addAction(QString::fromUtf8(text));
  action->setObjectName(name);
  action->setCheckable(true);
  return action;
}

void SettingsMenus::showStates() {
  const StartupSettings& s = app_.startup();
  soundFilter_->setChecked(s.soundFilter);
  for (int type = 0; type < 10; ++type) {
    QAction* entry = soundTypes_[static_cast<size_t>(type)];
    entry->setChecked(s.soundTypeTicked(type));
    entry->setEnabled(s.soundFilter);  // the ticks apply only while the filter is on
  }
  hideStations_->setChecked(s.hideInactiveStationSongs);
  hideCategories_->setChecked(s.hideInactiveCategorySongs);
  playableOnly_->setChecked(s.songFilter);
  editorPanel_->setChecked(s.editorPanel);
  cartPanel_->setChecked(s.cartridgeActive);
  autoStore_->setChecked(editor_.editor().autoStore);
  allStations_->setChecked(s.songForAllStations);
}

void SettingsMenus::filtersChanged() {
  tab_.ApplyFilters(app_.startup());
  showStates();
  if (tab_.searched() && !tab_.searching()) window_.RechercheDansLaBase(true);
}

void SettingsMenus::apply() {
  const StartupSettings& s = app_.startup();
  tab_.ApplyFilters(s);
  editor_.editor().autoStore = s.ptxSave;
  editor_.refresh();
  form_.allStations()->setChecked(s.songForAllStations);
  window_.showEditorPanel(s.editorPanel);
  cartModel_.Refresh(app_.window().currentStation + 1);
  carts_->refresh();
  cartDock_->setVisible(s.cartridgeActive);
  const int tab = s.MusicTabAtStart(static_cast<int>(app_.window().musicTabs.size()));
  if (tab + 1 != s.currentTab)
    app_.log().TraceLog("GrilleMorceaux: CurrentTab: " + std::to_string(s.currentTab) + ": no such tab: tab " +
                        std::to_string(tab + 1) + " selected");
  window_.selectMusicTab(tab);
  showStates();
}

}  // namespace sono::ui
