#include "ui/audio_setup_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

#include "core/config.h"

namespace sono::ui {

namespace {
using audio::SetupSide;

QString Text(const std::string& s) { return QString::fromStdString(s); }

template <size_t N>
void AddItems(QComboBox* combo, const std::array<const char*, N>& items) {
  for (const char* item : items) combo->addItem(QString::fromUtf8(item));
}

QComboBox* Combo(const char* name, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  return combo;
}

// Controls hold positions; a device or board combo starts with "none" at -1.
int Position(const QComboBox* combo, bool withNone) { return combo->currentIndex() - (withNone ? 1 : 0); }
}  // namespace

AudioSetupWindow::AudioSetupWindow(audio::SetupWindow& model, editor::AuditionDeck& deck, QWidget* parent)
    : QDialog(parent), model_(model), deck_(deck) {
  setObjectName("FrmSetup");
  setWindowTitle(QString::fromUtf8(audio::kSetupWindowTitle));
  auto* tabs = new QTabWidget(this);

  auto* listening = new QWidget(tabs);
  auto* listeningForm = new QFormLayout(listening);
  audition_ = Combo("ComboSortieEcoute", listening);
  for (const std::string& o : deck_.outputs()) audition_->addItem(Text(o));
  listeningForm->addRow(QString::fromUtf8("Sortie de l'écoute"), audition_);
  tabs->addTab(listening, QString::fromUtf8("Écoute"));

  auto* playback = new QWidget(tabs);
  auto* playbackLayout = new QVBoxLayout(playback);
  slot_ = Combo("ComboTrancheOut", playback);
  for (int s = 0; s < audio::kPlaybackSlots; ++s) slot_->addItem(QString::fromUtf8("Tranche ") + Text(NN(s)));
  playbackLayout->addWidget(slot_);
  playbackLayout->addWidget(buildSide(SetupSide::Out, out_));
  tabs->addTab(playback, QString::fromUtf8("Lecture"));
  tabs->addTab(buildSide(SetupSide::In, in_), QString::fromUtf8("Enregistrement"));

  grid_ = new QTableWidget(static_cast<int>(audio::AudioSetupKeys().size()), 3, tabs);
  grid_->setObjectName("GrilleReglages");
  grid_->setHorizontalHeaderLabels({QString::fromUtf8("Section"), QString::fromUtf8("Clé"), QString::fromUtf8("Valeur")});
  grid_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  tabs->addTab(grid_, QString::fromUtf8("Tous les réglages"));

  auto* close = new QPushButton(QString::fromUtf8("&Fermer"), this);
  close->setObjectName("BtnFermer");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(close);
  layout->addLayout(buttons);
  resize(720, 560);
  fill();

  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(audition_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    deck_.SelectOutput(index);
    fill();
  });
  connect(slot_, qOverload<int>(&QComboBox::activated), this, [this](int) { fill(); });
  connect(grid_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || item->column() != 2) return;
    const audio::SetupKey& k = audio::AudioSetupKeys()[static_cast<size_t>(item->row())];
    change(k.section, k.key, item->text().toStdString());
  });
}

int AudioSetupWindow::shownSlot() const { return std::max(0, slot_->currentIndex()); }

QWidget* AudioSetupWindow::buildSide(SetupSide side, Side& c) {
  const bool out = side == SetupSide::Out;
  auto* page = new QWidget(this);
  auto* form = new QFormLayout(page);
  c.nature = Combo(out ? "ComboNatureTrancheOut" : "ComboNatureTrancheIn", page);
  AddItems(c.nature, audio::kNatureNames);
  c.device = Combo(out ? "ListePeripheriqueOut" : "ListePeripheriqueIn", page);
  c.forcedBoard = Combo(out ? "ComboForcerCarteOut" : "ComboForcerCarteIn", page);
  c.analog = new QSlider(Qt::Horizontal, page);
  c.analog->setObjectName(out ? "SliderAnalogLevelOut" : "SliderAnalogLevelIn");
  c.analog->setRange(-220, 0);
  c.digital = new QSlider(Qt::Horizontal, page);
  c.digital->setObjectName(out ? "SliderDigitalLevelOut" : "SliderDigitalLevelIn");
  c.digital->setRange(-220, 18);
  c.digitalActive = new QCheckBox(QString::fromUtf8(out ? "Sortie numérique" : "Entrée numérique"), page);
  c.digitalActive->setObjectName(out ? "CheckSortieNumerique" : "CheckNumeriqueIn");
  c.digitalChoice = Combo(out ? "ComboSortieNumeriqueFormat" : "ComboDigitalInputSource", page);
  if (out)
    AddItems(c.digitalChoice, audio::kDigitalOutputFormats);
  else
    AddItems(c.digitalChoice, audio::kDigitalInputSources);
  c.clock = Combo(out ? "ComboSortieNumeriqueClock" : "ComboEntreeeNumeriqueClock", page);
  AddItems(c.clock, audio::kClockNames);
  c.clockInput = Combo(out ? "ComboClockUEROut" : "ComboClockUERIn", page);
  for (int i = 1; i <= 10; ++i) c.clockInput->addItem(QString::number(i));
  c.clockBoard = Combo(out ? "ComboClockNoBoardOut" : "ComboClockNoBoardIn", page);
  c.formats = new QListWidget(page);
  c.formats->setObjectName(out ? "ListeFormatsOut" : "ListeFormatsIn");
  c.formats->setSelectionMode(QAbstractItemView::MultiSelection);
  for (const char* f : audio::kFormatNames) c.formats->addItem(QString::fromUtf8(f));
  c.formats->setMaximumHeight(120);
  c.reInit = new QPushButton(QString::fromUtf8("Réinitialiser le pipe"), page);
  c.reInit->setObjectName(out ? "CommandReInitPipeOut" : "CommandReInitPipeIn");

  form->addRow(QString::fromUtf8("Nature"), c.nature);
  form->addRow(QString::fromUtf8("Périphérique"), c.device);
  form->addRow(QString::fromUtf8("Carte forcée"), c.forcedBoard);
  form->addRow(QString::fromUtf8("Niveau analogique (dB)"), c.analog);
  form->addRow(QString::fromUtf8("Niveau numérique (dB)"), c.digital);
  form->addRow(c.digitalActive);
  form->addRow(QString::fromUtf8(out ? "Format" : "Source"), c.digitalChoice);
  form->addRow(QString::fromUtf8("Horloge"), c.clock);
  form->addRow(QString::fromUtf8("Entrée de l'horloge"), c.clockInput);
  form->addRow(QString::fromUtf8("Carte de l'horloge"), c.clockBoard);
  form->addRow(QString::fromUtf8("Formats"), c.formats);
  form->addRow(c.reInit);

  // The section and key a control of this side writes, for the slot shown.
  const auto slot = [this, out] { return out ? shownSlot() : 0; };
  const auto nature = [this, side, slot] { return model_.setup().nature(side, slot()); };
  const auto natureSection = [out] { return std::string(out ? audio::kGeneralOut : audio::kGeneralIn); };
  const auto digitalSection = [out] { return std::string(out ? audio::kDigitalOutSection : audio::kDigitalInSection); };
  const auto deviceSection = [side, slot, nature] {
    return audio::DeviceSection(nature() == audio::kNatureDirectX ? audio::kNatureDirectX : audio::kNaturePcxTools,
                                side, slot());
  };
  const auto onCombo = [this](QComboBox* combo, auto write) {
    connect(combo, qOverload<int>(&QComboBox::activated), this, [this, write](int) {
      if (!filling_) write();
    });
  };
  onCombo(c.nature, [=, this, &c] { change(natureSection(), audio::NatureKey(slot()), std::to_string(c.nature->currentIndex())); });
  onCombo(c.device, [=, this, &c] {
    change(deviceSection(), "Device", std::to_string(Position(c.device, nature() != audio::kNatureDirectX)));
  });
  onCombo(c.forcedBoard, [=, this, &c] {
    change(deviceSection(), "ForcerCarte", std::to_string(Position(c.forcedBoard, true)));
  });
  onCombo(c.digitalChoice, [=, this, &c] {
    change(digitalSection(), audio::SlotKey(out ? "Format_" : "Value_", slot()), std::to_string(c.digitalChoice->currentIndex()));
  });
  onCombo(c.clock, [=, this, &c] {
    change(digitalSection(), audio::SlotKey("Clock_", slot()), std::to_string(c.clock->currentIndex()));
  });
  onCombo(c.clockInput, [=, this, &c] {
    change(digitalSection(), audio::SlotKey("NoInput_", slot()), std::to_string(c.clockInput->currentIndex() + 1));
  });
  onCombo(c.clockBoard, [=, this, &c] {
    change(digitalSection(), audio::SlotKey("NoBoard_", slot()), std::to_string(c.clockBoard->currentIndex()));
  });
  connect(c.digitalActive, &QCheckBox::clicked, this, [=, this, &c](bool on) {
    if (!filling_) change(digitalSection(), audio::SlotKey("Active_", slot()), on ? "1" : "0");
    (void)c;
  });
  for (auto [slider, key] : {std::pair{c.analog, "Analog"}, std::pair{c.digital, "Digital"}}) {
    connect(slider, &QSlider::valueChanged, this, [=, this](int value) {
      if (!filling_) change(audio::LevelSection(side, slot()), key, std::to_string(value));
    });
  }
  connect(c.formats, &QListWidget::itemSelectionChanged, this, [=, this, &c] {
    if (filling_) return;
    std::string flags;
    for (int f = 0; f < c.formats->count(); ++f) flags += c.formats->item(f)->isSelected() ? '1' : '0';
    change(audio::kFormatsSection, out ? "Out" : "In", flags);
  });
  connect(c.reInit, &QPushButton::clicked, this, [=, this, &c] {
    const int board = Position(c.forcedBoard, true);
    if (out)
      model_.CommandReInitPipeOut(slot(), board);
    else
      model_.CommandReInitPipeIn(board);
    fill();
  });
  return page;
}

void AudioSetupWindow::change(const std::string& section, const std::string& key, const std::string& value) {
  model_.Change(section, key, value);
  fill();  // what the model holds: the new value, or the old one kept
}

void AudioSetupWindow::fillSide(SetupSide side, int slot, Side& c) {
  const audio::AudioSetup& s = model_.setup();
  const bool out = side == SetupSide::Out;
  const int nature = s.nature(side, slot);
  c.nature->setCurrentIndex(nature);
  const bool directX = nature == audio::kNatureDirectX;
  const std::string deviceSection =
      audio::DeviceSection(directX ? audio::kNatureDirectX : audio::kNaturePcxTools, side, slot);
  // A PCX slot may have no device (its own pair); a DirectX slot always has one.
  c.device->clear();
  if (!directX) c.device->addItem(QString::fromUtf8("(aucun)"));
  for (const audio::SetupDevice& d : out ? s.devices().outputs : s.devices().inputs) c.device->addItem(Text(d.name));
  const int device = s.device(directX ? audio::kNatureDirectX : audio::kNaturePcxTools, side, slot);
  c.device->setCurrentIndex(directX ? device : device + 1);
  c.forcedBoard->clear();
  c.forcedBoard->addItem(QString::fromUtf8("(aucune)"));
  c.clockBoard->clear();
  for (const std::string& b : s.devices().boards) {
    c.forcedBoard->addItem(Text(b));
    c.clockBoard->addItem(Text(b));
  }
  c.forcedBoard->setCurrentIndex(static_cast<int>(s.number(deviceSection, "ForcerCarte")) + 1);
  c.forcedBoard->setEnabled(!directX || out);
  const std::string level = audio::LevelSection(side, slot);
  c.analog->setValue(static_cast<int>(std::lround(s.decibels(level, "Analog"))));
  c.digital->setValue(static_cast<int>(std::lround(s.decibels(level, "Digital"))));
  const char* digital = out ? audio::kDigitalOutSection : audio::kDigitalInSection;
  c.digitalActive->setChecked(s.number(digital, audio::SlotKey("Active_", slot)) == 1);
  c.digitalChoice->setCurrentIndex(static_cast<int>(s.number(digital, audio::SlotKey(out ? "Format_" : "Value_", slot))));
  c.clock->setCurrentIndex(static_cast<int>(s.number(digital, audio::SlotKey("Clock_", slot))));
  c.clockInput->setCurrentIndex(static_cast<int>(s.number(digital, audio::SlotKey("NoInput_", slot))) - 1);
  c.clockBoard->setCurrentIndex(static_cast<int>(s.number(digital, audio::SlotKey("NoBoard_", slot))));
  const auto formats = s.formats(side);
  for (int f = 0; f < c.formats->count(); ++f) c.formats->item(f)->setSelected(formats[static_cast<size_t>(f)]);
  c.reInit->setEnabled(nature == audio::kNaturePcxTools);
}

void AudioSetupWindow::fill() {
  filling_ = true;
  audition_->setCurrentIndex(deck_.output());
  fillSide(SetupSide::Out, shownSlot(), out_);
  fillSide(SetupSide::In, 0, in_);
  const auto& keys = audio::AudioSetupKeys();
  for (size_t i = 0; i < keys.size(); ++i) {
    const int row = static_cast<int>(i);
    for (int column = 0; column < 3; ++column) {
      const std::string& text = column == 0 ? keys[i].section : column == 1 ? keys[i].key
                                                                            : model_.setup().value(keys[i].section, keys[i].key);
      // Items are kept: fill() runs inside an item's own change signal.
      QTableWidgetItem* item = grid_->item(row, column);
      if (!item) {
        item = new QTableWidgetItem;
        if (column < 2) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        grid_->setItem(row, column, item);
      }
      item->setText(Text(text));
    }
  }
  filling_ = false;
}

}  // namespace sono::ui
