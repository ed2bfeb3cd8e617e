#include "ui/normalisation_dialog.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "editor/pointer_editor.h"
#include "ui/workstation.h"

namespace sono::ui {

namespace {
QString Text(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

NormalisationDialog::NormalisationDialog(QWidget* parent, editor::PointerEditor& editor, TraceLogger& log,
                                         std::string settingsFile)
    : QDialog(parent),
      model_(editor, log, canvas_, editor::LoadLoudnessTarget(settingsFile)),
      settingsFile_(std::move(settingsFile)) {
  setObjectName("FrmNormalisation");
  setWindowTitle(QString::fromUtf8("Normalisation"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  measures_ = new QLabel(this);
  measures_->setWordWrap(true);
  proposal_ = new QLabel(this);
  proposal_->setObjectName("LabelProposition");
  target_ = new QLabel(this);
  target_->setObjectName("LabelCible");
  target_->setWordWrap(true);
  picture_ = new QLabel(this);
  picture_->setObjectName("PictureEnveloppe");
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName("SliderLevel");
  slider_->setRange(editor::NormalisationWindow::kSliderMin, editor::NormalisationWindow::kSliderMax);
  slider_->setSingleStep(1);
  slider_->setPageStep(100);
  label_ = new QLabel(this);
  label_->setObjectName("LabelLevel");
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  auto spin = [this](const char* name, double low, double high, double value, const char* suffix) {
    auto* box = new QDoubleSpinBox(this);
    box->setObjectName(name);
    box->setRange(low, high);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    box->setValue(value);
    box->setSuffix(QString::fromUtf8(suffix));
    return box;
  };
  targetLufs_ = spin("TexteCibleLUFS", -70, 0, model_.target().targetLufs, " LUFS");
  ceilingDbtp_ = spin("TextePlafondDBTP", -20, 0, model_.target().ceilingDbtp, " dBTP");
  auto* saveTarget = new QPushButton(QString::fromUtf8("&Enregistrer la cible"), this);
  saveTarget->setObjectName("CommandEnregistrerCible");
  auto* targetRow = new QHBoxLayout;
  targetRow->addWidget(new QLabel(QString::fromUtf8("Cible:"), this));
  targetRow->addWidget(targetLufs_);
  targetRow->addWidget(new QLabel(QString::fromUtf8("Plafond:"), this));
  targetRow->addWidget(ceilingDbtp_);
  targetRow->addWidget(saveTarget);
  targetRow->addStretch(1);
  auto* sliderRow = new QHBoxLayout;
  sliderRow->addWidget(slider_, 1);
  sliderRow->addWidget(label_);
  auto* buttons = new QHBoxLayout;
  auto* useTarget = new QPushButton(QString::fromUtf8("&Cible de la station"), this);
  useTarget->setObjectName("CommandCible");
  auto* store = new QPushButton(QString::fromUtf8("&Normaliser"), this);
  store->setObjectName("CommandNormalisation");
  auto* close = new QPushButton(QString::fromUtf8("&Fermer"), this);
  buttons->addStretch(1);
  for (QPushButton* b : {useTarget, store, close}) buttons->addWidget(b);
  for (QWidget* w : std::initializer_list<QWidget*>{measures_, proposal_, target_}) layout->addWidget(w);
  layout->addLayout(targetRow);
  layout->addWidget(picture_);
  layout->addLayout(sliderRow);
  layout->addWidget(message_);
  layout->addLayout(buttons);

  connect(slider_, &QSlider::sliderMoved, this, [this](int v) {
    model_.SliderLevel_Scroll(v);
    showModel();
  });
  connect(slider_, &QSlider::valueChanged, this, [this](int v) {
    model_.SliderLevel_Change(v);
    showModel();
  });
  connect(useTarget, &QPushButton::clicked, this, [this] {
    model_.UseTargetProposal();
    showModel();
  });
  connect(store, &QPushButton::clicked, this, [this] {
    const bool stored = model_.CommandNormalisation_Click();
    showModel();
    if (stored) {
      if (onStored) onStored();
      accept();
    }
  });
  connect(saveTarget, &QPushButton::clicked, this, [this] {
    model_.ChangeTarget({targetLufs_->value(), ceilingDbtp_->value()}, settingsFile_);
    showModel();
  });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

bool NormalisationDialog::start() {
  if (!model_.SoundNormalize()) return false;
  showModel();
  show();
  return true;
}

void NormalisationDialog::showModel() {
  const QSignalBlocker quiet(slider_);
  slider_->setValue(model_.slider);
  label_->setText(Text(model_.label));
  measures_->setText(Text(model_.measuresText));
  proposal_->setText(Text(model_.proposalText));
  target_->setText(Text(model_.targetText));
  message_->setText(Text(model_.message));
  picture_->setPixmap(QPixmap::fromImage(canvas_.image()));
}

void AddNormalisationMenu(Workstation& ws, Prompt& prompt) {
  QMenu* tools = ws.window.menu(MenuId::Tools);
  QAction* normalise = tools->addAction(QString::fromUtf8("&Normaliser le son…"));
  normalise->setObjectName("MnuNormaliserSon");
  normalise->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
  QObject::connect(normalise, &QAction::triggered, &ws.window, [&ws, &prompt] {
    auto* dialog =
        new NormalisationDialog(&ws.window, ws.editorPanel->editor(), ws.app.log(), ws.app.config().settingsFile());
    dialog->onStored = [&ws] { ws.editorPanel->refresh(); };
    if (!dialog->start()) {
      prompt.message(dialog->model().message, Icon::Exclamation, Buttons::Ok);
      delete dialog;
    }
  });
}

}  // namespace sono::ui
