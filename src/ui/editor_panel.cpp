#include "ui/editor_panel.h"

#include "core/text.h"
#include "ui/audition_bar.h"
#include "ui/elided_label.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

editor::Modifiers modifiersOf(const QInputEvent* e) {
  const auto m = e->modifiers();
  return {m.testFlag(Qt::ControlModifier), m.testFlag(Qt::AltModifier), m.testFlag(Qt::ShiftModifier)};
}

editor::MouseButton buttonOf(const QMouseEvent* e) {
  return e->button() == Qt::RightButton    ? editor::MouseButton::Right
         : e->button() == Qt::MiddleButton ? editor::MouseButton::Middle
                                           : editor::MouseButton::Left;
}

// The strip's context menu: the entries that turn the selection into a pointer.
struct MenuEntry {
  editor::StripMenuEntry entry;
  const char* label;
};
using Entry = editor::StripMenuEntry;
constexpr MenuEntry kStripMenu[] = {{Entry::FadeIn, "Fade &In"},   {Entry::Intro, "In&tro"},
                                    {Entry::StartNext, "&Start Next"}, {Entry::FadeOut, "Fade &Out"},
                                    {Entry::Hook, "&Hook"},         {Entry::Loop, "&Loop"},
                                    {Entry::Send, "S&end"},         {Entry::StartEqui, "Start E&qui"}};

constexpr int kHandleHalf = 5;   // half width of a selection handle, pixels
constexpr int kMeterFloorDb = -60;
const editor::Colour kPanelGrey{0xEFEFEF};
}  // namespace

void PictureLabel::mousePressEvent(QMouseEvent* e) {
  if (pressed) pressed(e);
}
void PictureLabel::mouseMoveEvent(QMouseEvent* e) {
  if (moved) moved(e);
}
void PictureLabel::mouseReleaseEvent(QMouseEvent* e) {
  if (released) released(e);
}
void PictureLabel::mouseDoubleClickEvent(QMouseEvent* e) {
  if (doubleClicked) doubleClicked(e);
  else QLabel::mouseDoubleClickEvent(e);
}
void PictureLabel::keyPressEvent(QKeyEvent* e) {
  if (keyed && keyed(e)) e->accept();
  else QLabel::keyPressEvent(e);
}
void PictureLabel::dragEnterEvent(QDragEnterEvent* e) {
  if (fileDropped && e->mimeData()->hasUrls() && e->mimeData()->urls().first().isLocalFile())
    e->acceptProposedAction();
}
void PictureLabel::dropEvent(QDropEvent* e) {
  if (!fileDropped || !e->mimeData()->hasUrls()) return;
  const QUrl url = e->mimeData()->urls().first();
  if (!url.isLocalFile()) return;
  e->acceptProposedAction();
  fileDropped(url.toLocalFile().toStdString());
}
void PictureLabel::wheelEvent(QWheelEvent* e) {
  if (wheeled) wheeled(e);
  else QLabel::wheelEvent(e);
}

EditorPanel::EditorPanel(data::Library& lib, data::DurationStatistics& stats, TraceLogger& log,
                         const SiteConfig& config, editor::AuditionDeck* deck, QWidget* parent)
    : QWidget(parent),
      global_(kWidth, 48),
      working_(kWidth, 110),
      strip_(kWidth, 22),
      corrected_(kWidth, 22),
      handles_(kWidth, 2 * kHandleHalf),
      view_(global_, working_, kWidth),
      envelopes_(log, meter_, editor::LoadEnvelopeSettings(config)),
      deck_(deck),
      editor_({lib, stats, meter_, envelopes_, view_, working_, strip_, corrected_, deck}),
      edits_(editor_, lib, stats) {
  setObjectName("PanneauEditeur");
  meter_.setLog(&log);  // a damaged sound is logged where it is measured
  setFocusPolicy(Qt::StrongFocus);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  auto* top = new QHBoxLayout();
  // Caption and message give way to the controls: a long title or path is
  // cut on screen (whole in the tooltip and the log), never widens the window.
  title_ = new ElidedLabel(this, Qt::ElideMiddle);
  title_->setObjectName("LabelTitre");
  message_ = new ElidedLabel(this);
  message_->setObjectName("LabelMessage");
  message_->setStyleSheet("color: #B00000;");
  endType_ = new QComboBox(this);
  endType_->setObjectName("ComboTypeDeFin");
  for (const char* item : data::kEndTypeItems) endType_->addItem(QString::fromUtf8(item));
  endType_->setToolTip(QString::fromUtf8("Type de fin"));
  pitch_ = new QSlider(Qt::Horizontal, this);
  pitch_->setObjectName("SliderPitch");
  // The pitch's range (what the audition plays): the value rules' own.
  pitch_->setRange(static_cast<int>(data::kPitchMin / 1000), static_cast<int>(data::kPitchMax / 1000));
  pitch_->setPageStep(10);
  pitch_->setFixedWidth(110);
  pitch_->setToolTip(QString::fromUtf8("Vitesse"));
  pitchLabel_ = new QLabel(this);
  pitchLabel_->setMinimumWidth(56);
  // The level correction, in dB within the value rules' range.
  level_ = new QDoubleSpinBox(this);
  level_->setObjectName("SpinLevel");
  level_->setToolTip(QString::fromUtf8("Correction de niveau"));
  level_->setDecimals(2);
  level_->setRange(-data::kLevelLimit / 100.0, data::kLevelLimit / 100.0);
  level_->setSingleStep(0.5);
  level_->setSuffix(QString::fromUtf8(" dB"));
  levelLeft_ = new QProgressBar(this);
  levelRight_ = new QProgressBar(this);
  for (QProgressBar* bar : {levelLeft_, levelRight_}) {
    bar->setRange(0, -kMeterFloorDb);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedSize(60, 8);
  }
  levelLeft_->setObjectName("NiveauGauche");
  levelRight_->setObjectName("NiveauDroit");
  auto* levels = new QVBoxLayout();
  levels->setSpacing(1);
  levels->addWidget(levelLeft_);
  levels->addWidget(levelRight_);
  // The audition's output: the choice is kept in the settings, the deck says
  // when it had to play elsewhere.
  output_ = new QComboBox(this);
  output_->setObjectName("ComboSortieEcoute");
  output_->setToolTip(QString::fromUtf8("Sortie d'écoute"));
  // A long device name is cut in the closed box, whole in the list.
  output_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  output_->setMinimumContentsLength(16);
  if (deck_) {
    deck_->settingsFile = [&config] { return config.settingsFile(); };
    for (const auto& name : deck_->outputs()) output_->addItem(q(name));
  }
  play_ = new QPushButton(QString::fromUtf8("Lecture"), this);
  play_->setObjectName("BtnPlay");
  editProgress_ = new QLabel(this);
  editProgress_->setObjectName("LabelProgression");
  editProgress_->setMinimumWidth(40);
  // Painted at once: no events run while frames are copied (no other
  // command may start on a sound being replaced).
  edits_.onProgress = [this] {
    editProgress_->setText(q(edits_.progressLabel));
    editProgress_->repaint();
  };
  save_ = new QPushButton(QString::fromUtf8("Enregistrer les pointeurs"), this);
  save_->setObjectName("SftButtonSavePTX");
  save_->setShortcut(QKeySequence::Save);
  save_->setToolTip(QString::fromUtf8("Enregistrer les pointeurs (%1)").arg(QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText)));
  autoStore_ = new QCheckBox(QString::fromUtf8("Automatique"), this);
  autoStore_->setObjectName("CheckEnregistrementAuto");
  autoStore_->setToolTip(QString::fromUtf8("Enregistrement automatique des pointeurs"));
  // The caption has its own row: the controls' row leaves no room for a title.
  caption_ = new QHBoxLayout();
  caption_->addWidget(title_, 3);
  caption_->addWidget(message_, 2);
  layout->addLayout(caption_);
  top->addStretch(1);
  top->addWidget(endType_);
  top->addWidget(pitch_);
  top->addWidget(pitchLabel_);
  top->addWidget(level_);
  top->addLayout(levels);
  top->addWidget(output_);
  top->addWidget(editProgress_);
  top->addWidget(play_);
  top->addWidget(autoStore_);
  top->addWidget(save_);
  layout->addLayout(top);
  bar_ = new AuditionBar(deck_, this);
  bar_->changed = [this] { refresh(); };
  bar_->findMixSong = [this, &lib](const std::string& code) {
    return editor::ReadMixSong(lib, editor_.sound.station, Utf8ToCp1252(code));
  };
  layout->addWidget(bar_);

  globalLabel_ = new PictureLabel(this);
  globalLabel_->setObjectName("PictureGlobal");
  workingLabel_ = new PictureLabel(this);
  workingLabel_->setObjectName("PictureTravail");
  // Before the first song the views show the panel's background and say what to do.
  noSongHint_ = new QLabel(QString::fromUtf8("Sélectionnez un morceau dans la liste"), workingLabel_);
  noSongHint_->setObjectName("LabelAucunMorceau");
  noSongHint_->setAlignment(Qt::AlignCenter);
  (new QVBoxLayout(workingLabel_))->addWidget(noSongHint_);
  for (ImageCanvas* canvas : {&global_, &working_, &strip_, &corrected_}) canvas->clear(kPanelGrey);
  zoom_ = new QScrollBar(Qt::Vertical, this);
  zoom_->setObjectName("VScrollZoom");
  zoom_->setToolTip(QString::fromUtf8("Zoom"));
  scroll_ = new QScrollBar(Qt::Horizontal, this);
  scroll_->setObjectName("HScrollESLateral");
  stripLabel_ = new PictureLabel(this);
  stripLabel_->setObjectName("PictureMP2");
  handlesLabel_ = new PictureLabel(this);
  handlesLabel_->setObjectName("ImageMarqueur");
  correctedLabel_ = new PictureLabel(this);
  correctedLabel_->setObjectName("PictureMP2Niveau");
  correctedLabel_->setToolTip(QString::fromUtf8("Enveloppe avec la correction de niveau"));
  // A sound file dropped on a picture of the sound is imported for the song.
  for (PictureLabel* picture : {globalLabel_, workingLabel_, stripLabel_, correctedLabel_}) {
    picture->setAcceptDrops(true);
    picture->fileDropped = [this](const std::string& file) {
      if (onFileDropped) onFileDropped(file);
    };
  }
  // The times under the mouse and of the selection.
  mouseTime_ = new QLabel(this);
  mouseTime_->setObjectName("LabelTempsSouris");
  selectionStart_ = new QLabel(this);
  selectionStart_->setObjectName("LabelDebutSelection");
  selectionEnd_ = new QLabel(this);
  selectionEnd_->setObjectName("LabelFinSelection");
  for (QLabel* label : {mouseTime_, selectionStart_, selectionEnd_}) label->setMinimumWidth(80);
  // The pictures keep their height and give way in width: a narrow window
  // clips the views instead of refusing to shrink.
  const std::pair<PictureLabel*, const ImageCanvas*> pictures[] = {
      {globalLabel_, &global_}, {workingLabel_, &working_}, {stripLabel_, &strip_}, {handlesLabel_, &handles_},
      {correctedLabel_, &corrected_}};
  for (auto [label, canvas] : pictures) {
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    label->setFixedHeight(canvas->height());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setMouseTracking(true);  // the time under the mouse, without a button down
  }
  auto* views = new QGridLayout();
  views->setSpacing(1);
  views->addWidget(globalLabel_, 0, 0);
  views->addWidget(workingLabel_, 1, 0);
  views->addWidget(zoom_, 1, 1);
  views->addWidget(scroll_, 2, 0);
  views->addWidget(stripLabel_, 3, 0);
  views->addWidget(handlesLabel_, 4, 0);
  views->addWidget(correctedLabel_, 5, 0);
  auto* times = new QHBoxLayout();
  times->addWidget(new QLabel(QString::fromUtf8("Souris :"), this));
  times->addWidget(mouseTime_);
  times->addWidget(new QLabel(QString::fromUtf8("Sélection :"), this));
  times->addWidget(selectionStart_);
  times->addWidget(selectionEnd_);
  times->addStretch(1);
  views->addLayout(times, 6, 0);
  views->setColumnStretch(0, 1);
  layout->addLayout(views);

  grid_ = new QTableWidget(2, data::kGridColumns, this);
  grid_->setObjectName("fpSpreadPointeurs");
  grid_->setVerticalHeaderLabels({QString::fromUtf8("Valeur"), QString::fromUtf8("Modifié")});
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->setFixedHeight(2 * 22 + 28 + 18);  // header, both rows, scroll bar
  grid_->horizontalHeader()->setMinimumSectionSize(40);
  grid_->horizontalHeader()->setDefaultSectionSize(78);
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < data::kGridColumns; ++c) grid_->setItem(r, c, new QTableWidgetItem());
  sendDevice_ = new QComboBox(grid_);
  sendDevice_->setObjectName("ComboPeripherique");
  const std::vector<std::string> devices = deck_ ? deck_->devices() : std::vector<std::string>{};
  for (const auto& d : devices) sendDevice_->addItem(q(d));
  grid_->setCellWidget(0, data::kGridSendDevice - 1, sendDevice_);  // the table counts columns from 0
  grid_->setColumnWidth(data::kGridSendDevice - 1, 150);
  layout->addWidget(grid_);

  editor_.InitGeneralTableurPointeurs(true, devices);
  if (deck_) {
    deck_->attach(editor_, view_);
    // The sound without its steps is heard with the joins the edits would make.
    deck_->smoothJoins = [this] { return edits_.smoothJoins; };
  }
  view_.auditionFrom = [this](int ms) {
    if (!deck_) return;
    deck_->Stop();
    int start = ms, end = 0;
    deck_->BtnsPlay(editor::PlayButton::PlayFrom, "PictureBMP:DblClick", start, end);
  };

  // --- mouse on the views
  globalLabel_->pressed = [this](QMouseEvent* e) {
    view_.GlobalMouseDown(static_cast<int>(e->position().x()));
    refresh();
  };
  globalLabel_->moved = [this](QMouseEvent* e) {
    view_.GlobalMouseMove(static_cast<int>(e->position().x()));
    mouseTime_->setText(q(view_.labelMouse));
  };
  // A double click plays from the time under the mouse (stopping a sound that plays).
  globalLabel_->doubleClicked = [this](QMouseEvent* e) {
    view_.GlobalMouseDown(static_cast<int>(e->position().x()));
    view_.GlobalDoubleClick();
    refresh();
  };
  workingLabel_->pressed = [this](QMouseEvent* e) {
    view_.WorkingMouseDown(buttonOf(e), static_cast<int>(e->position().x()), modifiersOf(e));
    if (e->button() == Qt::RightButton) workingMenu(e->globalPosition().toPoint());
    refresh();
  };
  workingLabel_->moved = [this](QMouseEvent* e) {
    view_.WorkingMouseMove(e->buttons().testFlag(Qt::LeftButton), static_cast<int>(e->position().x()));
    mouseTime_->setText(q(view_.labelMouse));
    refresh();
  };
  workingLabel_->released = [this](QMouseEvent*) {
    view_.WorkingMouseUp();
    refresh();
  };
  // A double click on the working view plays from the time under the mouse too.
  workingLabel_->doubleClicked = [this](QMouseEvent* e) {
    if (view_.auditionFrom) view_.auditionFrom(view_.Pos2Tps(e->position().x()));
    refresh();
  };
  workingLabel_->wheeled = [this](QWheelEvent* e) { Zoom(e->angleDelta().y() > 0 ? 1 : -1); };
  stripLabel_->pressed = [this](QMouseEvent* e) {
    setFocus();
    if (e->button() == Qt::RightButton) {
      stripMenu(e->globalPosition().toPoint());
      return;
    }
    editor_.StripMouseDown(editor::MouseButton::Left, static_cast<int>(e->position().x()), modifiersOf(e));
    refresh();
  };
  // The keyboard on the strip: arrows move the selection (Ctrl: by the
  // second, Shift: its end), the menu key or Shift+F10 opens its menu.
  stripLabel_->setFocusPolicy(Qt::StrongFocus);
  stripLabel_->keyed = [this](QKeyEvent* e) {
    const bool menuKey = e->key() == Qt::Key_Menu || (e->key() == Qt::Key_F10 && e->modifiers() & Qt::ShiftModifier);
    if (menuKey) {
      const auto x = static_cast<int>(editor_.sound.selection.x1);  // strip pixels
      stripMenu(stripLabel_->mapToGlobal(QPoint(x, stripLabel_->height() / 2)));
      stripLabel_->setFocus(Qt::PopupFocusReason);  // the keys go on where they were
      return true;
    }
    if (e->key() != Qt::Key_Left && e->key() != Qt::Key_Right) return false;
    const int step = (e->modifiers() & Qt::ControlModifier) ? 1000 : 100;
    editor_.StripKeyMove(e->key() == Qt::Key_Left ? -step : step, e->modifiers() & Qt::ShiftModifier);
    mouseTime_->setText(q(editor_.labelMouse));
    refresh();
    return true;
  };
  stripLabel_->moved = [this](QMouseEvent* e) {
    editor_.StripMouseMove(e->buttons().testFlag(Qt::LeftButton), static_cast<int>(e->position().x()));
    mouseTime_->setText(q(editor_.labelMouse));
    refresh();
  };
  stripLabel_->released = [this](QMouseEvent*) {
    editor_.StripMouseUp();
    refresh();
  };
  handlesLabel_->pressed = [this](QMouseEvent* e) { handlePressed(e); };
  handlesLabel_->moved = [this](QMouseEvent* e) {
    if (!draggedHandle_) return;
    editor_.HandleMove(*draggedHandle_, static_cast<int>(e->position().x()));
    refresh();
  };
  handlesLabel_->released = [this](QMouseEvent*) {
    if (!draggedHandle_) return;
    draggedHandle_.reset();
    editor_.HandleRelease();
    view_.EnergieAfficheLocal();
    refresh();
  };

  // --- scroll and zoom bars
  connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) {
    if (updating_) return;
    view_.SetScroll(value);
    refresh();
  });
  connect(zoom_, &QScrollBar::valueChanged, this, [this](int value) {
    if (updating_) return;
    view_.SetZoom(value);
    refresh();
  });

  // --- the grid, its menu and the device combo
  connect(grid_, &QTableWidget::cellClicked, this, [this](int, int column) {
    editor_.GridClick(column + 1, 1);
    refresh();
  });
  connect(grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const int column = grid_->columnAt(at.x()) + 1;
    if (column < 1) return;
    QMenu menu(this);
    menu.addAction(QString::fromUtf8("&Restaurer le pointeur"), this, [this, column] {
      editor_.GridRestore(column);
      refresh();
    });
    menu.addAction(QString::fromUtf8("&Effacer le pointeur"), this, [this, column] {
      editor_.GridClear(column);
      refresh();
    });
    menu.exec(grid_->viewport()->mapToGlobal(at));
  });
  connect(output_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    if (deck_) deck_->SelectOutput(index);
    refresh();
  });
  connect(sendDevice_, qOverload<int>(&QComboBox::activated), this, [this](int device) {
    editor_.SetSendDevice(device);
    refresh();
  });

  // --- other controls
  connect(endType_, qOverload<int>(&QComboBox::activated), this, [this](int item) {
    editor_.SetEndType(item);
    refresh();
  });
  connect(pitch_, &QSlider::valueChanged, this, [this](int value) {
    if (updating_) return;
    editor_.SetPitchSlider(value);
    refresh();
  });
  connect(level_, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [this](double db) {
    if (updating_) return;
    editor_.SetLevel(std::round(db * 100.0));
    refresh();
  });
  connect(autoStore_, &QCheckBox::clicked, this, [this](bool on) {
    editor_.autoStore = on;
    if (onAutoStoreChanged) onAutoStoreChanged(on);
  });
  connect(play_, &QPushButton::clicked, this, [this] { PlayStop(); });
  connect(save_, &QPushButton::clicked, this, [this] {
    editor_.StorePointers();
    refresh();
  });

  // --- keys, while the focus is in the panel
  const auto key = [this](QKeySequence sequence, void (EditorPanel::*action)()) {
    auto* shortcut = new QShortcut(sequence, this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, action);
  };
  key(Qt::Key_Space, &EditorPanel::PlayStop);
  key(Qt::Key_Home, &EditorPanel::GotoBegin);
  key(Qt::Key_End, &EditorPanel::GotoEnd);
  bar_->addKeys(this);
  refresh();
}

void EditorPanel::stripMenu(const QPoint& at) {
  QMenu menu(this);
  for (const auto& m : kStripMenu) {
    QAction* action = menu.addAction(QString::fromUtf8(m.label));
    connect(action, &QAction::triggered, this, [this, entry = m.entry] {
      editor_.StripMenu(entry);
      refresh();
    });
  }
  // The sound edits on the same menu.
  using Mode = editor::CopyCutPasteMode;
  menu.addSeparator();
  for (const auto& [label, mode] : {std::pair{"&Copier", Mode::Copy}, std::pair{"Co&uper", Mode::Cut},
                                    std::pair{"Colle&r", Mode::Paste}, std::pair{"Coller au &début", Mode::PasteAtBegin},
                                    std::pair{"Coller à la &fin", Mode::PasteAtEnd}}) {
    QAction* action = menu.addAction(QString::fromUtf8(label));
    const bool paste = mode != Mode::Copy && mode != Mode::Cut;
    action->setEnabled(paste ? edits_.canPaste() : editor_.sound.selection.marked);
    connect(action, &QAction::triggered, this, [this, mode] {
      soundEdit([mode](editor::SoundEdits& e) { return e.MnuCopyCutPaste(mode, "PictureMP2:MnuCopyCutPaste"); });
    });
  }
  menu.addAction(QString::fromUtf8("Supprimer le so&n"), this,
                 [this] { soundEdit([](editor::SoundEdits& e) { return e.SoundDelete("PictureMP2:SoundDelete"); }); });
  // Play from the selection's start (the point clicked) to the end.
  menu.addSeparator();
  QAction* listen = menu.addAction(QString::fromUtf8("&Écouter à partir de la sélection"), this,
                                   [this] { bar_->press(editor::PlayButton::PlayFrom); });
  listen->setEnabled(deck_ && editor_.songLoaded());
  menu.exec(at);
}

bool EditorPanel::soundEdit(const std::function<bool(editor::SoundEdits&)>& edit) {
  if (!editor_.songLoaded() || edits_.busy()) return false;
  if (deck_) deck_->Stop();
  const bool done = edit(edits_);
  editProgress_->clear();
  refresh();
  return done;
}

void EditorPanel::workingMenu(const QPoint& at) {
  QMenu menu(this);
  menu.addAction(QString::fromUtf8("&Marquer la sélection"), this, [this] {
    editor_.MarksMenu(editor::MarksMenuEntry::MarkSelection);
    if (onMarksChanged) onMarksChanged(editor_.statusMarks);
    refresh();
  });
  menu.addAction(QString::fromUtf8("&Afficher les marques"), this, [this] {
    editor_.MarksMenu(editor::MarksMenuEntry::ShowMarks);
    if (onMarksChanged) onMarksChanged(editor_.statusMarks);
  });
  menu.addSeparator();
  menu.addAction(QString::fromUtf8("Re&construire l'enveloppe"), this, [this] {
    editor_.RebuildEnvelope();
    refresh();
  });
  menu.exec(at);
}

void EditorPanel::handlePressed(QMouseEvent* e) {
  const editor::StripSelection& s = editor_.sound.selection;
  draggedHandle_.reset();
  if (!s.marked || e->button() != Qt::LeftButton) return;
  const double x = e->position().x();
  const double toStart = std::fabs(x - s.x1), toEnd = std::fabs(x - s.x2);
  if (std::min(toStart, toEnd) > kHandleHalf + 2) return;
  draggedHandle_ = toStart < toEnd ? editor::SelectionHandle::Start : editor::SelectionHandle::End;
}

void EditorPanel::drawHandles() {
  handles_.clear(kPanelGrey);
  const editor::StripSelection& s = editor_.sound.selection;
  if (!s.marked) return;
  // Two small triangles pointing at the strip, start in blue, end in red.
  const auto triangle = [this](float at, editor::Colour colour) {
    const int centre = static_cast<int>(std::lround(at));
    for (int dx = -kHandleHalf; dx <= kHandleHalf; ++dx) {
      const int x = centre + dx;
      if (x >= 0 && x < handles_.width()) handles_.verticalLine(x, std::abs(dx), handles_.height() - 1, colour);
    }
  };
  triangle(s.x1, editor::Colour{0x2040C0});
  triangle(s.x2, editor::Colour{0xC02020});
}

bool EditorPanel::load(const editor::SongSelection& song) {
  const bool loaded = editor_.InitSoundPtx(editor::SoundLoad::NewSelection, false, "Frm_Main:SelectLigneMusMaster", song);
  refresh();
  return loaded;
}

void EditorPanel::PlayStop() {
  if (!deck_) return;
  deck_->PlayStop();
  refresh();
}

void EditorPanel::GotoBegin() {
  if (!deck_) return;
  deck_->GotoBegin();
  refresh();
}

void EditorPanel::GotoEnd() {
  if (!deck_) return;
  deck_->GotoEnd();
  refresh();
}

void EditorPanel::Zoom(int steps) {
  // Each wheel step halves or doubles the values per column.
  int value = view_.VScrollZoom.value;
  for (int i = 0; i < std::abs(steps); ++i) value = steps > 0 ? value / 2 : value * 2;
  view_.SetZoom(std::max(1, value));
  refresh();
}

void EditorPanel::TimerPtx() {
  if (deck_ && deck_->TimerPtx()) refresh();
}

void EditorPanel::addCaptionWidget(QWidget* widget) { caption_->addWidget(widget); }

void EditorPanel::followChange() {
  if (editor_.FollowStoredPointers()) refresh();
}

void EditorPanel::refresh() {
  updating_ = true;
  // What cannot act before a song is loaded is disabled.
  const bool loaded = editor_.songLoaded();
  noSongHint_->setVisible(!loaded);
  for (QWidget* control : std::initializer_list<QWidget*>{endType_, pitch_, level_, save_, grid_, scroll_, zoom_})
    control->setEnabled(loaded);
  play_->setEnabled(loaded && deck_ && deck_->ready());
  title_->setText(q(editor_.codeLabel + "  " + editor_.titleLabel + "  " + editor_.durationLabel));
  message_->setText(q(!editor_.lastMessage.empty() || !deck_ ? editor_.lastMessage : deck_->message()));
  if (deck_) output_->setCurrentIndex(deck_->output());
  bar_->refresh(loaded);
  globalLabel_->setPixmap(QPixmap::fromImage(global_.image()));
  workingLabel_->setPixmap(QPixmap::fromImage(working_.image()));
  if (onStripShown) onStripShown();
  stripLabel_->setPixmap(QPixmap::fromImage(strip_.image()));
  correctedLabel_->setPixmap(QPixmap::fromImage(corrected_.image()));
  selectionStart_->setText(q(editor_.labelStart));
  selectionEnd_->setText(q(editor_.labelEnd));
  autoStore_->setChecked(editor_.autoStore);
  level_->setValue(static_cast<double>(editor_.ptx.position[data::kLevel]) / 100.0);
  drawHandles();
  handlesLabel_->setPixmap(QPixmap::fromImage(handles_.image()));

  const editor::ScrollBar& h = view_.HScrollESLateral;
  scroll_->setRange(h.min, std::max(h.min, h.max));
  scroll_->setPageStep(std::max(1, h.largeChange));
  scroll_->setValue(h.value);
  const editor::ScrollBar& z = view_.VScrollZoom;
  zoom_->setRange(z.min, std::max(z.min, z.max));
  zoom_->setValue(z.value);

  endType_->setCurrentIndex(std::clamp(editor_.ptx.endType, 0, 3));
  pitch_->setValue(editor_.ptx.pitchSlider);
  pitchLabel_->setText(q(editor_.pitchLabel));
  const bool playing = deck_ && deck_->playing();
  play_->setText(QString::fromUtf8(playing ? "Stop" : "Lecture"));
  const auto meter = [](double db) { return std::clamp(static_cast<int>(db) - kMeterFloorDb, 0, -kMeterFloorDb); };
  levelLeft_->setValue(deck_ ? meter(deck_->levelLeftDb) : 0);
  levelRight_->setValue(deck_ ? meter(deck_->levelRightDb) : 0);

  const data::PointerGrid& g = editor_.ptx.grid;
  QStringList headers;
  for (int c = 1; c <= data::kGridColumns; ++c) headers << q(g.cell(data::kGridHeaderRow, c));
  grid_->setHorizontalHeaderLabels(headers);
  for (int c = 1; c <= data::kGridColumns; ++c) {
    if (c != data::kGridSendDevice) grid_->item(0, c - 1)->setText(q(g.cell(data::kGridShownRow, c)));
    grid_->item(1, c - 1)->setText(q(g.cell(data::kGridChangedRow, c)));
  }
  // The song's own device, or none: never the one the previous song had.
  sendDevice_->setCurrentIndex(g.sendDevice >= 0 && g.sendDevice < sendDevice_->count() ? g.sendDevice : -1);
  updating_ = false;
}

}  // namespace sono::ui
