#include "ui/editor_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

editor::Modifiers modifiersOf(const QMouseEvent* e) {
  const auto m = e->modifiers();
  return {m.testFlag(Qt::ControlModifier), m.testFlag(Qt::AltModifier), m.testFlag(Qt::ShiftModifier)};
}

// The strip's context menu: the entries that turn the selection into a pointer.
struct MenuEntry {
  int entry;
  const char* label;
};
constexpr MenuEntry kStripMenu[] = {{0, "Fade In"},     {1, "Intro"},       {3, "Start Next"},
                                    {4, "Fade Out"},    {6, "Hook"},        {7, "Loop"},
                                    {8, "Send"},        {9, "Start Equi"}};
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

EditorPanel::EditorPanel(data::Library& lib, data::DurationStatistics& stats, TraceLogger& log,
                         const SiteConfig& config, QWidget* parent)
    : QWidget(parent),
      global_(kWidth, 60),
      working_(kWidth, 150),
      strip_(kWidth, 22),
      corrected_(kWidth, 22),
      view_(global_, working_, kWidth),
      envelopes_(log, meter_, editor::LoadEnvelopeSettings(config)),
      editor_({lib, stats, meter_, envelopes_, view_, working_, strip_, corrected_, nullptr}) {
  setObjectName("PanneauEditeur");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* top = new QHBoxLayout();
  title_ = new QLabel(this);
  title_->setObjectName("LabelTitre");
  save_ = new QPushButton(QString::fromUtf8("Enregistrer les pointeurs"), this);
  save_->setObjectName("SftButtonSavePTX");
  top->addWidget(title_, 1);
  top->addWidget(save_);
  layout->addLayout(top);
  globalLabel_ = new PictureLabel(this);
  globalLabel_->setObjectName("PictureGlobal");
  workingLabel_ = new PictureLabel(this);
  workingLabel_->setObjectName("PictureTravail");
  stripLabel_ = new PictureLabel(this);
  stripLabel_->setObjectName("PictureMP2");
  stripLabel_->setMouseTracking(false);
  for (QLabel* l : {static_cast<QLabel*>(globalLabel_), static_cast<QLabel*>(workingLabel_),
                    static_cast<QLabel*>(stripLabel_)})
    layout->addWidget(l);
  grid_ = new QTableWidget(2, 15, this);
  grid_->setObjectName("fpSpreadPointeurs");
  grid_->setVerticalHeaderLabels({QString::fromUtf8("Valeur"), QString::fromUtf8("Modifié")});
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setFixedHeight(112);  // the headers and both rows
  grid_->horizontalHeader()->setMinimumSectionSize(40);
  layout->addWidget(grid_);

  editor_.InitGeneralTableurPointeurs(true, {});

  globalLabel_->pressed = [this](QMouseEvent* e) {
    view_.GlobalMouseDown(static_cast<int>(e->position().x()));
    view_.GestionAffichageSpectre();
    refresh();
  };
  stripLabel_->pressed = [this](QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
      stripMenu(e->globalPosition().toPoint());
      return;
    }
    editor_.StripMouseDown(editor::MouseButton::Left, static_cast<int>(e->position().x()), modifiersOf(e));
    refresh();
  };
  stripLabel_->moved = [this](QMouseEvent* e) {
    editor_.StripMouseMove(e->buttons().testFlag(Qt::LeftButton), static_cast<int>(e->position().x()));
    refresh();
  };
  stripLabel_->released = [this](QMouseEvent*) {
    editor_.StripMouseUp();
    refresh();
  };
  connect(grid_, &QTableWidget::cellClicked, this, [this](int, int column) {
    editor_.GridClick(column + 1, 1);
    refresh();
  });
  connect(save_, &QPushButton::clicked, this, [this] {
    editor_.MnuFileSavePtxClick();
    refresh();
  });
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
  menu.exec(at);
}

bool EditorPanel::load(const editor::SongSelection& song) {
  const bool loaded = editor_.InitSoundPtx(-1, false, "Frm_Main:SelectLigneMusMaster", song);
  refresh();
  return loaded;
}

void EditorPanel::refresh() {
  title_->setText(q(editor_.codeLabel + "  " + editor_.titleLabel + "  " + editor_.durationLabel));
  globalLabel_->setPixmap(QPixmap::fromImage(global_.image()));
  workingLabel_->setPixmap(QPixmap::fromImage(working_.image()));
  stripLabel_->setPixmap(QPixmap::fromImage(strip_.image()));
  const data::PointerGrid& g = editor_.ptx.grid;
  QStringList headers;
  for (int c = 1; c <= 15; ++c) headers << q(g.cell(0, c));
  grid_->setHorizontalHeaderLabels(headers);
  for (int c = 1; c <= 15; ++c) {
    grid_->setItem(0, c - 1, new QTableWidgetItem(q(g.cell(1, c))));
    grid_->setItem(1, c - 1, new QTableWidgetItem(q(g.cell(3, c))));
  }
}

}  // namespace sono::ui
