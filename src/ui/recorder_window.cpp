#include "ui/recorder_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

RecorderWindow::RecorderWindow(recorder::RecorderModel& model, const SiteConfig& config,
                               std::function<recorder::RecordTarget()> target, QWidget* parent)
    : QDialog(parent), model_(model), config_(config), target_(std::move(target)) {
  setObjectName("Frm_Main_Recorder");
  setWindowTitle(QString::fromUtf8("Enregistreur"));
  auto* layout = new QVBoxLayout(this);
  status_ = new QLabel(this);
  status_->setObjectName("LabelStatusRecorder");
  position_ = new QLabel(this);
  position_->setObjectName("LabelPositionRecorder");
  level_ = new QProgressBar(this);
  level_->setObjectName("VuMeterRecorder");
  level_->setRange(0, 100);
  level_->setTextVisible(false);
  record_ = new QPushButton(QString::fromUtf8("Enregistrer"), this);
  record_->setObjectName("BtnRecorderRecord");
  stop_ = new QPushButton(QString::fromUtf8("Arrêter"), this);
  stop_->setObjectName("BtnRecorderStop");
  pause_ = new QCheckBox(QString::fromUtf8("Pause"), this);
  pause_->setObjectName("CheckRecorderPause");
  auto* options = new QPushButton(QString::fromUtf8("Options…"), this);
  options->setObjectName("BtnRecorderSetup");
  auto* row = new QHBoxLayout();
  row->addWidget(status_, 1);
  row->addWidget(position_);
  layout->addLayout(row);
  layout->addWidget(level_);
  auto* buttons = new QHBoxLayout();
  for (QWidget* w : std::initializer_list<QWidget*>{record_, stop_, pause_, options}) buttons->addWidget(w);
  layout->addLayout(buttons);
  connect(record_, &QPushButton::clicked, this, [this] { model_.BtnsRecord(recorder::kRecordStart, target_()); refresh(); });
  connect(stop_, &QPushButton::clicked, this, [this] { model_.BtnsRecord(recorder::kRecordStop, target_()); });
  connect(pause_, &QCheckBox::toggled, this, [this](bool on) { model_.Pause(on); });
  connect(options, &QPushButton::clicked, this, [this] {
    RecorderSetup setup(config_, this);
    if (setup.exec() == QDialog::Accepted) setup.save();
  });
  refresh();
}

void RecorderWindow::refresh() {
  status_->setText(q(model_.statusText()));
  position_->setText(q(model_.positionText()));
  level_->setValue(model_.levelPercent());
  record_->setEnabled(!model_.recording());
  stop_->setEnabled(model_.recording());
  pause_->setEnabled(model_.recording());
  if (!model_.recording() && pause_->isChecked()) {
    const QSignalBlocker quiet(pause_);
    pause_->setChecked(false);
  }
}

RecorderSetup::RecorderSetup(const SiteConfig& config, QWidget* parent)
    : QDialog(parent), config_(config), settings_(recorder::LoadRecorderSettings(config)) {
  setObjectName("FrmRecorderSetup");
  setWindowTitle(QString::fromUtf8("Options de l'enregistreur"));
  auto* form = new QFormLayout(this);
  const recorder::RecorderSettings& s = settings_;
  input_ = new QComboBox(this);
  input_->setObjectName("ComboInputDevices");
  for (const auto& input : recorder::CaptureInputs()) input_->addItem(q(input.name));
  input_->setCurrentIndex(std::min(s.inputDeviceIndex, input_->count() - 1));
  virtualFile_ = new QLineEdit(q(s.virtualInputFile), this);
  virtualFile_->setObjectName("TexteEntreeVirtuelle");
  startCondition_ = new QComboBox(this);
  startCondition_->setObjectName("OptionRecorderDirectXStartCondition");
  startCondition_->addItems({QString::fromUtf8("Dès que possible"), QString::fromUtf8("Déclenchement automatique")});
  startCondition_->setCurrentIndex(s.startCondition);
  startThreshold_ = new QComboBox(this);
  startThreshold_->setObjectName("ComboRecorderDirectXStartConditionSeuilStart");
  for (int db : recorder::kStartThresholdsDb) startThreshold_->addItem(QString::number(db));
  startThreshold_->setCurrentIndex(s.startThresholdIndex);
  auto spin = [this](const char* name, int min, int max, int value, const char* suffix) {
    auto* box = new QSpinBox(this);
    box->setObjectName(name);
    box->setRange(min, max);
    box->setValue(value);
    box->setSuffix(QString::fromUtf8(suffix));
    return box;
  };
  startDuration_ = spin("TexteRecorderDirectXStartConditionStartDuration", 0, 60000, s.startThresholdDurationMs, " ms");
  stopDuration_ = spin("TexteRecorderDirectXStopConditionStopDuration", 0, 600000, s.stopThresholdDurationMs, " ms");
  threshold_ = spin("TextThreshold", -90, 0, s.thresholdDb, " dB");
  preroll_ = spin("TextePreRoll", recorder::kMinPrerollMs, 10000, std::max(s.prerollMs, recorder::kMinPrerollMs), " ms");
  tail_ = spin("TexteSilenceTail", 0, 60000, s.tailMs, " ms");
  folder_ = new QLineEdit(q(s.folder), this);
  folder_->setObjectName("TexteDossierRecord");
  form->addRow(QString::fromUtf8("Entrée"), input_);
  form->addRow(QString::fromUtf8("Fichier de l'entrée virtuelle"), virtualFile_);
  form->addRow(QString::fromUtf8("Départ"), startCondition_);
  form->addRow(QString::fromUtf8("Seuil de déclenchement"), startThreshold_);
  form->addRow(QString::fromUtf8("Durée associée au seuil"), startDuration_);
  form->addRow(QString::fromUtf8("Durée associée au stop automatique"), stopDuration_);
  form->addRow(QString::fromUtf8("Seuil du silence"), threshold_);
  form->addRow(QString::fromUtf8("Pré-enregistrement"), preroll_);
  form->addRow(QString::fromUtf8("Fin après le silence"), tail_);
  form->addRow(QString::fromUtf8("Dossier des prises"), folder_);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(box);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool RecorderSetup::save() {
  recorder::RecorderSettings s = settings_;
  s.inputDeviceIndex = input_->currentIndex();
  s.virtualInputFile = virtualFile_->text().toStdString();
  s.startCondition = startCondition_->currentIndex();
  s.startThresholdIndex = startThreshold_->currentIndex();
  s.startThresholdDurationMs = startDuration_->value();
  s.stopThresholdDurationMs = stopDuration_->value();
  s.thresholdDb = threshold_->value();
  s.prerollMs = preroll_->value();
  s.tailMs = tail_->value();
  s.folder = folder_->text().toStdString();
  if (!s.folder.empty() && s.folder.back() != '/') s.folder += '/';
  return recorder::SaveRecorderSettings(config_, s);
}

RecordBar::RecordBar(recorder::RecorderModel& model, std::function<recorder::RecordButtons*()> buttons,
                     std::function<bool()> ensureLoaded, std::function<recorder::RecordTarget()> target,
                     QWidget* parent)
    : QWidget(parent), model_(model), buttons_(std::move(buttons)) {
  setObjectName("BtnsRecord");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  newTake_ = new QPushButton(QString::fromUtf8("Nouv. prise"), this);
  newTake_->setObjectName("BtnRecordNew");
  newTake_->setToolTip(QString::fromUtf8("Préparer une nouvelle prise (pointeurs remis à 0 sur demande)"));
  record_ = new QPushButton(QString::fromUtf8("Enr."), this);
  record_->setObjectName("BtnRecord");
  record_->setToolTip(QString::fromUtf8("Enregistrer une prise pour le morceau"));
  stop_ = new QPushButton(QString::fromUtf8("Stop enr."), this);
  stop_->setObjectName("BtnRecordStop");
  pause_ = new QCheckBox(QString::fromUtf8("Pause enr."), this);
  pause_->setObjectName("CheckRecordPause");
  for (QWidget* w : std::initializer_list<QWidget*>{newTake_, record_, stop_, pause_}) row->addWidget(w);
  // BtnsRecord sends each button to the recorder window (loaded at the first
  // take) or to the boards' record pipe.
  auto press = [this, ensureLoaded, target](int button) {
    if (recorder::RecordButtons* b = buttons_ ? buttons_() : nullptr) {
      b->BtnsRecord(button);
    } else if (button != recorder::kRecordStart || ensureLoaded()) {
      model_.BtnsRecord(button, target());
    }
    refresh();
  };
  connect(newTake_, &QPushButton::clicked, this, [press] { press(recorder::kRecordNewTake); });
  connect(record_, &QPushButton::clicked, this, [press] { press(recorder::kRecordStart); });
  connect(stop_, &QPushButton::clicked, this, [press] { press(recorder::kRecordStop); });
  connect(pause_, &QCheckBox::toggled, this, [this, press](bool on) {
    recorder::RecordButtons* b = buttons_ ? buttons_() : nullptr;
    if (!on) press(recorder::kRecordPauseOff);
    else if (b && !b->RecorderPath()) b->Pause();
    else model_.Pause(true);
  });
  refresh();
}

bool RecordBar::recording() const {
  const recorder::RecordButtons* b = buttons_ ? buttons_() : nullptr;
  return b ? b->recording() : model_.recording();
}

void RecordBar::refresh() {
  const bool on = recording();
  newTake_->setEnabled(!on);
  record_->setEnabled(!on);
  stop_->setEnabled(on);
  pause_->setEnabled(on);
  if (!on && pause_->isChecked()) {
    const QSignalBlocker quiet(pause_);
    pause_->setChecked(false);
  }
}

}  // namespace sono::ui
