#include "ui/main_window.h"

#include "ui/elided_label.h"

#include <QCloseEvent>
#include <algorithm>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}

MainWindow::MainWindow(Application& app, data::Library& lib, data::MusicTab& tab, QWidget* parent)
    : QMainWindow(parent), app_(app), lib_(lib), tab_(tab) {
  setObjectName("Frm_Main");
  setWindowTitle(kAppTitle);
  tabs_ = new QTabWidget(this);
  setCentralWidget(tabs_);
  menus_ = {menuBar()->addMenu(QString::fromUtf8("&Fichier")),
            menuBar()->addMenu(QString::fromUtf8("&Affichage")),
            menuBar()->addMenu(QString::fromUtf8("&Outils"))};
  QAction* quit = menu(MenuId::File)->addAction(QString::fromUtf8("&Quitter"));
  quit->setObjectName("MnuQuitter");
  quit->setShortcut(QKeySequence::Quit);
  connect(quit, &QAction::triggered, this, [this] { close(); });

  auto* music = new QWidget(tabs_);
  auto* layout = new QVBoxLayout(music);
  auto* bar = new QHBoxLayout();
  stations_ = new QComboBox(music);
  stations_->setObjectName("ComboStation");
  stations_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  stations_->setMinimumContentsLength(12);  // a long station name is cut, not the window widened
  kinds_ = new QComboBox(music);
  kinds_->setObjectName("ComboGenre");
  kinds_->addItem(QString::fromUtf8("Recherche"));
  for (const auto& k : data::MusicTab::Kinds()) kinds_->addItem(q(k));
  kinds_->setCurrentIndex(1);
  mode_ = new QComboBox(music);
  mode_->setObjectName("ComboRecherche");
  titles_ = new QComboBox(music);
  titles_->setObjectName("ComboTitres");
  titles_->setToolTip(QString::fromUtf8("Titres comparés au texte et titre affiché"));
  for (const char* option : {"Titre", "Titre court", "Les deux"}) titles_->addItem(QString::fromUtf8(option));
  text_ = new QLineEdit(music);
  text_->setObjectName("TexteRecherche");
  text_->setPlaceholderText(QString::fromUtf8("Texte à rechercher"));
  button_ = new QPushButton(QString::fromUtf8("Afficher"), music);
  button_->setObjectName("CommandRecherche");
  bar->addWidget(stations_);
  bar->addWidget(kinds_);
  bar->addWidget(mode_);
  bar->addWidget(titles_);
  bar->addWidget(text_, 1);
  bar->addWidget(button_);
  layout->addLayout(bar);

  auto* split = new QSplitter(music);
  tree_ = new QTreeWidget(split);
  tree_->setObjectName("TVCategories");
  tree_->setHeaderLabel(QString::fromUtf8("Catégories"));
  gridAndEditor_ = new QSplitter(Qt::Vertical, split);
  grid_ = new QTableView(gridAndEditor_);
  grid_->setObjectName("TableurMorceaux");
  model_ = new SongTableModel(const_cast<data::SongGrid&>(tab_.grid()), grid_);
  grid_->setModel(model_);
  grid_->setSortingEnabled(true);
  // Songs come in title order: no column is sorted until the user asks.
  grid_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  tab_.search().grid.sortColumn = -1;
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setTabKeyNavigation(false);  // Tab leaves the grid for the editor
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->horizontalHeader()->setStretchLastSection(true);
  split->setStretchFactor(1, 4);
  const int widths[] = {80, 260, 40, 40, 200, 150, 150, 100, 90, 110, 90, 120, 110, 120, 90, 90, 90};
  for (int c = 0; c < static_cast<int>(std::size(widths)); ++c) grid_->setColumnWidth(c, widths[c]);
  // An empty grid says what to do (at start) or that nothing was found.
  gridHint_ = new QLabel(QString::fromUtf8("Choisissez une catégorie à gauche, ou tapez un texte et appuyez sur Entrée."),
                         grid_->viewport());
  gridHint_->setObjectName("LabelGrilleVide");
  gridHint_->setAlignment(Qt::AlignCenter);
  gridHint_->setWordWrap(true);
  (new QVBoxLayout(grid_->viewport()))->addWidget(gridHint_);
  layout->addWidget(split, 1);
  // The keyboard's path: station, kind, mode, title option, text, then the grid.
  QWidget::setTabOrder(stations_, kinds_);
  QWidget::setTabOrder(kinds_, mode_);
  QWidget::setTabOrder(mode_, titles_);
  QWidget::setTabOrder(titles_, text_);
  QWidget::setTabOrder(text_, grid_);
  tabs_->addTab(music, QString::fromUtf8("Musique"));

  incidents_ = new QListWidget(tabs_);
  incidents_->setObjectName("ListeIncidents");
  tabs_->addTab(incidents_, QString::fromUtf8("Incidents"));

  status_ = new ElidedLabel(this);
  status_->setObjectName("StatusMorceaux");
  statusBar()->addWidget(status_, 1);
  marks_ = new QLabel(this);
  marks_->setObjectName("StatusMarqueurs");
  marks_->setToolTip(QString::fromUtf8("Marqueurs"));
  statusBar()->addPermanentWidget(marks_);
  auto* space = new QShortcut(Qt::Key_Space, grid_);
  space->setContext(Qt::WidgetShortcut);
  connect(space, &QShortcut::activated, this, [this] {
    if (onPlayStopKey) onPlayStopKey();
  });

  connect(button_, &QPushButton::clicked, this, [this] { RechercheDansLaBase(); });
  connect(text_, &QLineEdit::returnPressed, this, [this] {
    if (kinds_->currentIndex() != 0) kinds_->setCurrentIndex(0);  // Enter searches the text
    RechercheDansLaBase();
  });
  connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    tab_.category = item->data(0, Qt::UserRole).toString().toStdString();
    RechercheDansLaBase();
  });
  connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (!current.isValid() || !onSongSelected || keepingSelection_) return;
            onSongSelected(model_->index(current.row(), 0).data().toString().toStdString());
          });
  connect(stations_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    app_.window().currentStation = index;
    tab_.category.clear();
    InitGeneralTVCategories();
    if (onStationChanged) onStationChanged();
  });
}

void MainWindow::addBottomTab(QWidget* panel, const QString& label) {
  if (!bottomTabs_) {
    bottomTabs_ = new QTabWidget(gridAndEditor_);
    bottomTabs_->setObjectName("OngletsMorceau");
    bottomTabs_->setDocumentMode(true);
    gridAndEditor_->addWidget(bottomTabs_);
    gridAndEditor_->setStretchFactor(0, 1);
  }
  bottomTabs_->addTab(panel, label);
}

std::string MainWindow::selectedSongCode() const {
  const QModelIndex current = grid_->currentIndex();
  if (!current.isValid()) return {};
  return model_->index(current.row(), 0).data().toString().toStdString();
}

void MainWindow::showEditorPanel(bool shown) {
  if (bottomTabs_) bottomTabs_->setVisible(shown);
}

void MainWindow::selectMusicTab(int index) {
  const int musicTabs = static_cast<int>(app_.window().musicTabs.size());
  tabs_->setCurrentIndex(index >= 0 && index < musicTabs ? index : 0);
}

void MainWindow::songSaved(const std::string& code) {
  const int row = grid_->currentIndex().row();
  if (row >= 0 && model_->index(row, 0).data().toString().toStdString() == code &&
      tab_.search().RafraichirLigne(static_cast<size_t>(row), tab_.station, tab_.titles))
    model_->rowChanged(row);
  status_->setText(QString::fromUtf8("Morceau %1 enregistré").arg(q(code)));
}

data::FollowUp MainWindow::followChanges(data::ChangeFollower& follower) {
  const int rows = model_->rowCount();
  int first = grid_->rowAt(0), last = grid_->rowAt(grid_->viewport()->height() - 1);
  if (last < 0) last = rows - 1;
  const bool onScreen = first >= 0 && last >= first;
  data::FollowUp up = follower.tick(tab_.search(), tab_.station, tab_.titles, onScreen ? size_t(first) : 1,
                                    onScreen ? size_t(last) : 0);
  for (size_t row : up.rowsRead) model_->rowChanged(static_cast<int>(row));
  return up;
}

bool MainWindow::followSearch(data::GridFollower& follower) {
  if (!tab_.searched() || !follower.due() || follower.running()) return false;
  data::SongGrid& grid = tab_.search().grid;
  const std::string selected = selectedSongCode();
  const int top = grid_->rowAt(0);
  const std::string topCode = top >= 0 ? model_->index(top, 0).data().toString().toStdString() : std::string();
  const int scroll = grid_->verticalScrollBar()->value();
  if (!follower.follow(tab_.request(), tab_.search().filters, grid)) return false;
  model_->reload();
  keepingSelection_ = true;
  if (const auto row = grid.rowOfCode(selected))
    grid_->selectionModel()->setCurrentIndex(model_->index(static_cast<int>(*row), 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  keepingSelection_ = false;
  if (const auto row = grid.rowOfCode(topCode))
    grid_->scrollTo(model_->index(static_cast<int>(*row), 0), QAbstractItemView::PositionAtTop);
  else
    grid_->verticalScrollBar()->setValue(scroll);
  gridHint_->setVisible(model_->rowCount() == 0);
  if (!selected.empty() && !grid.rowOfCode(selected))
    status_->setText(QString::fromUtf8("Le morceau %1 n'est plus dans la liste: supprimé ou changé sur un autre poste.").arg(q(selected)));
  else
    status_->setText(QString::fromUtf8("%1 morceau(x)").arg(grid.size()));
  return true;
}

void MainWindow::fillStations() {
  stations_->clear();
  for (const auto& s : app_.window().stations) stations_->addItem(q(s));
  stations_->setCurrentIndex(app_.window().currentStation);
  mode_->clear();
  for (const auto& m : app_.window().searchModes) mode_->addItem(q(m));
}

void MainWindow::InitGeneralTVCategories() {
  tree_->clear();
  auto* all = new QTreeWidgetItem(tree_, QStringList(QString::fromUtf8("Toutes les catégories")));
  all->setData(0, Qt::UserRole, QString());
  for (const auto& node : data::InitGeneralTVCategories(lib_, app_.window().currentStation + 1)) {
    auto* item = new QTreeWidgetItem(all, QStringList(q(node.label)));
    item->setData(0, Qt::UserRole, q(node.code));
    if (!node.active || !node.activeOnStation) {
      item->setForeground(0, Qt::gray);
      item->setToolTip(0, QString::fromUtf8("Catégorie non active"));
    }
  }
  tree_->expandAll();
}

void MainWindow::readControls() {
  tab_.station = app_.window().currentStation + 1;
  tab_.kind = static_cast<data::SearchKind>(kinds_->currentIndex());
  tab_.mode = data::SearchModeNamed(mode_->currentText().toStdString()).value_or(data::SearchMode::Libelle);
  tab_.text = text_->text().toStdString();
  static constexpr data::TitleOption kTitleOptions[] = {data::TitleOption::Title, data::TitleOption::ShortTitle,
                                                        data::TitleOption::Both};
  tab_.titles = kTitleOptions[std::clamp(titles_->currentIndex(), 0, 2)];
}

void MainWindow::RechercheDansLaBase(bool again) {
  if (tab_.searching()) {
    // "Stopper" pressed while the search pumps events: the question and the
    // stop request; the running search shows its rows when it ends.
    tab_.RechercheDansLaBase();
    return;
  }
  if (!again) readControls();
  button_->setText(QString::fromUtf8("Stopper"));
  tab_.RechercheDansLaBase();
  button_->setText(q(tab_.caption()));
  model_->reload();
  // SelectLigneMusMaster with the first row: it goes into the editor and the form.
  if (model_->rowCount() > 0) grid_->selectRow(0);
  gridHint_->setText(QString::fromUtf8("Aucun morceau trouvé."));
  gridHint_->setVisible(model_->rowCount() == 0);
  status_->setText(QString::fromUtf8("%1 morceau(x)").arg(tab_.grid().size()));
  refreshIncidents();
  if (onSearched) onSearched();
}

void MainWindow::showMarks(const std::string& marks) { marks_->setText(q(marks)); }

void MainWindow::refreshIncidents() {
  const auto& lines = app_.log().incidents();
  if (lines.size() < incidentsShown_) {  // the list was emptied past its limit
    incidents_->clear();
    incidentsShown_ = 0;
  }
  for (; incidentsShown_ < lines.size(); ++incidentsShown_) incidents_->addItem(q(lines[incidentsShown_]));
  if (app_.log().checkIncidents()) {
    tabs_->setTabText(1, QString::fromUtf8("Incidents *"));
    app_.log().clearCheckIncidents();
  }
}

void MainWindow::keepGeometry() {
  MainWindowModel& model = app_.window();
  model.windowState = isMinimized() ? 1 : isMaximized() ? 2 : 0;
  // A maximised or minimised window keeps its normal place for the next start.
  if (model.windowState != 0) return;
  model.left = x();
  model.top = y();
  model.width = width();
  model.height = height();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  keepGeometry();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  keepGeometry();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) keepGeometry();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (app_.ended() || app_.Form_QueryUnload()) event->accept();
  else event->ignore();
}

}  // namespace sono::ui
