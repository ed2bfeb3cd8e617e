#include "ui/song_form_panel.h"

#include <QGridLayout>
#include <QHBoxLayout>

#include "core/datetime.h"
#include "core/text.h"
#include "data/music_tab.h"

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
// Record codes are Windows-1252 bytes; the combos carry them as UTF-8.
QString qCode(const std::string& recordBytes) { return q(Cp1252ToUtf8(Trim(recordBytes))); }
QString MinSec(int seconds) { return q(Tps2MinSec(seconds * 1000.0)); }
}  // namespace

SongFormPanel::SongFormPanel(data::Library& lib, data::DurationStatistics& stats, QWidget* parent)
    : QWidget(parent), lib_(lib), stats_(stats) {
  setObjectName("FicheMorceau");
  auto* grid = new QGridLayout(this);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  const auto label = [this](const char* text) { return new QLabel(QString::fromUtf8(text), this); };

  code_ = new QLabel(this);
  code_->setObjectName("LabelCode");
  title_ = new QLineEdit(this);
  title_->setObjectName("TexteTitre");
  title_->setMaxLength(40);
  shortTitle_ = new QLineEdit(this);
  shortTitle_->setObjectName("TexteLibelleCourt");
  shortTitle_->setMaxLength(20);
  duration_ = new QSpinBox(this);
  duration_->setObjectName("TexteDuree");
  duration_->setRange(0, 999999);  // six digits of seconds
  duration_->setSuffix(" s");
  durationText_ = new QLabel(this);
  forced_ = new QCheckBox(QString::fromUtf8("Durée forcée"), this);
  forced_->setObjectName("CheckDureeForcee");
  forcedSeconds_ = new QSpinBox(this);
  forcedSeconds_->setObjectName("TexteDureeForcee");
  forcedSeconds_->setRange(0, 9999);  // four digits
  forcedSeconds_->setSuffix(" s");
  artist1_ = new QComboBox(this);
  artist1_->setObjectName("ComboArtiste1");
  artist2_ = new QComboBox(this);
  artist2_->setObjectName("ComboArtiste2");
  category_ = new QComboBox(this);
  category_->setObjectName("ComboCategorie");
  playable_ = new QCheckBox(QString::fromUtf8("Diffusable"), this);
  playable_->setObjectName("CheckDiffusable");
  allStations_ = new QCheckBox(QString::fromUtf8("Toutes les stations"), this);
  allStations_->setObjectName("StationsAll");
  save_ = new QPushButton(QString::fromUtf8("Sauvegarder"), this);
  save_->setObjectName("CommandButton_01_Sauvegarder");

  auto* durationRow = new QHBoxLayout();
  durationRow->addWidget(duration_);
  durationRow->addWidget(durationText_, 1);
  auto* forcedRow = new QHBoxLayout();
  forcedRow->addWidget(forced_);
  forcedRow->addWidget(forcedSeconds_);
  forcedRow->addStretch(1);
  auto* saveRow = new QHBoxLayout();
  saveRow->addWidget(playable_);
  saveRow->addWidget(allStations_);
  saveRow->addStretch(1);
  saveRow->addWidget(save_);

  grid->addWidget(label("Code"), 0, 0);
  grid->addWidget(code_, 0, 1);
  grid->addWidget(label("Titre"), 1, 0);
  grid->addWidget(title_, 1, 1);
  grid->addWidget(label("Libellé court"), 2, 0);
  grid->addWidget(shortTitle_, 2, 1);
  grid->addWidget(label("Durée"), 3, 0);
  grid->addLayout(durationRow, 3, 1);
  grid->addLayout(forcedRow, 4, 1);
  grid->addWidget(label("Artiste 1"), 0, 2);
  grid->addWidget(artist1_, 0, 3);
  grid->addWidget(label("Artiste 2"), 1, 2);
  grid->addWidget(artist2_, 1, 3);
  grid->addWidget(label("Catégorie"), 2, 2);
  grid->addWidget(category_, 2, 3);
  grid->addLayout(saveRow, 4, 3);
  grid->setRowStretch(5, 1);

  connect(duration_, qOverload<int>(&QSpinBox::valueChanged), this,
          [this](int seconds) { durationText_->setText(MinSec(seconds)); });
  connect(forced_, &QCheckBox::toggled, forcedSeconds_, &QWidget::setEnabled);
  connect(save_, &QPushButton::clicked, this, [this] { save(); });
  clear();
}

void SongFormPanel::fillChoices(int station) {
  if (choicesStation_ == station) return;
  choicesStation_ = station;
  for (QComboBox* combo : {artist1_, artist2_}) {
    combo->clear();
    combo->addItem(QString(), QString());
    for (const auto& a : data::ListeArtistes(lib_, station)) combo->addItem(q(a.name), qCode(a.code));
  }
  artistChoices_ = artist1_->count();
  category_->clear();
  category_->addItem(QString(), QString());
  // The category list already gives its codes in UTF-8.
  for (const auto& c : data::InitGeneralTVCategories(lib_, station)) category_->addItem(q(c.label), q(c.code));
  categoryChoices_ = category_->count();
}

void SongFormPanel::selectCode(QComboBox* combo, int known, const std::string& code) {
  while (combo->count() > known) combo->removeItem(combo->count() - 1);
  const QString wanted = qCode(code);
  int index = combo->findData(wanted);
  if (index < 0 && !wanted.isEmpty()) {
    // A code the lists do not know (deleted artist, foreign category) stays
    // visible and is saved back unchanged.
    combo->addItem(wanted, wanted);
    index = combo->count() - 1;
  }
  combo->setCurrentIndex(std::max(0, index));
}

std::string SongFormPanel::codeOf(const QComboBox* combo) {
  return Utf8ToCp1252(combo->currentData().toString().toStdString());
}

void SongFormPanel::clear() {
  loaded_.reset();
  code_->clear();
  title_->clear();
  shortTitle_->clear();
  for (QComboBox* combo : {artist1_, artist2_, category_}) combo->setCurrentIndex(combo->count() ? 0 : -1);
  duration_->setValue(0);
  durationText_->setText(MinSec(0));
  forced_->setChecked(false);
  forcedSeconds_->setValue(0);
  forcedSeconds_->setEnabled(false);
  playable_->setChecked(false);
  setEnabled(false);
}

void SongFormPanel::offerToSave() {
  if (modified() &&
      lib_.prompt().message("Voulez-vous enregistrer les modifications du morceau " + Cp1252ToUtf8(Trim(loaded_->code)) +
                                " ?",
                            Icon::Question, Buttons::YesNo, "Ondavia: Sonoteka") == Answer::Yes)
    save();
}

void SongFormPanel::load(int station, const std::string& code) {
  // Edits of the song being left are not dropped without asking.
  offerToSave();
  station_ = station;
  auto song = data::LectureFicheMorceau(lib_, station, Utf8ToCp1252(code));
  if (!song) {
    clear();
    return;
  }
  fillChoices(station);
  loaded_ = std::move(song);
  const data::SongForm& f = *loaded_;
  code_->setText(qCode(f.code));
  title_->setText(q(f.title));
  shortTitle_->setText(q(f.shortTitle));
  selectCode(artist1_, artistChoices_, f.artist1);
  selectCode(artist2_, artistChoices_, f.artist2);
  selectCode(category_, categoryChoices_, f.category);
  duration_->setValue(static_cast<int>(f.durationSeconds));
  durationText_->setText(MinSec(static_cast<int>(f.durationSeconds)));
  forced_->setChecked(f.forcedDuration);
  forcedSeconds_->setValue(static_cast<int>(f.forcedSeconds));
  forcedSeconds_->setEnabled(f.forcedDuration);
  playable_->setChecked(f.playable == "O");
  setEnabled(true);
}

void SongFormPanel::showOffered(int station, const data::SongForm& offered) {
  if (!loaded_ || station_ != station || Trim(loaded_->code) != Trim(offered.code))
    load(station, Cp1252ToUtf8(Trim(offered.code)));
  if (!loaded_) return;
  title_->setText(q(offered.title));
  selectCode(artist1_, artistChoices_, offered.artist1);
}

data::SongForm SongFormPanel::shown() const {
  data::SongForm f = *loaded_;
  f.title = title_->text().toStdString();
  f.shortTitle = shortTitle_->text().toStdString();
  f.artist1 = codeOf(artist1_);
  f.artist2 = codeOf(artist2_);
  f.category = codeOf(category_);
  f.durationSeconds = duration_->value();
  f.forcedDuration = forced_->isChecked();
  f.forcedSeconds = forcedSeconds_->value();
  // The check knows two states, the flag three: an "A" the librarian did not
  // touch is written back as it was.
  if (playable_->isChecked() != (loaded_->playable == "O")) f.playable = playable_->isChecked() ? "O" : "N";
  return f;
}

void SongFormPanel::followChange() {
  if (loaded_ && !modified()) load(station_, Cp1252ToUtf8(Trim(loaded_->code)));
}

bool SongFormPanel::modified() const { return loaded_ && !(shown() == *loaded_); }

bool SongFormPanel::save() {
  if (!loaded_) return false;
  const data::SongForm f = shown();
  if (!data::saveSongForm(lib_, stats_, station_, f, allStations_->isChecked(), &*loaded_))
    return false;
  // The form shows the song as stored: the fields the user left may hold
  // another workstation's values.
  loaded_.reset();
  load(station_, Cp1252ToUtf8(Trim(f.code)));
  if (onSaved) onSaved(Cp1252ToUtf8(Trim(f.code)));
  return true;
}

}  // namespace sono::ui
