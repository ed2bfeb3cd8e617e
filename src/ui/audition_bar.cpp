#include "ui/audition_bar.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QKeySequence>
#include <QShortcut>

#include "ui/editor_panel.h"

namespace sono::ui {

namespace {
using editor::PlayButton;

struct BarButton {
  PlayButton button;
  const char* text;
  const char* tip;
  QKeySequence keys[2];
};

// Keys: Space stays the panel's play/stop of the selection.
const BarButton kBar[] = {
    {PlayButton::Stop, "■", "Stop", {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::Key_MediaStop)}},
    {PlayButton::Play, "▶", "Lecture du son entier", {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::Key_MediaPlay)}},
    {PlayButton::PlayIn, "[▶]", "Lecture de la sélection", {QKeySequence(Qt::Key_Return), {}}},
    {PlayButton::PlayOut, "‹[▶]›", "Lecture de la sélection avec pré-roll et post-roll",
     {QKeySequence(Qt::SHIFT | Qt::Key_Return), {}}},
    {PlayButton::Pause, "❚❚", "Pause", {QKeySequence(Qt::Key_Pause), QKeySequence(Qt::Key_MediaTogglePlayPause)}},
    {PlayButton::PlayFadeIn, "◢▶", "Lecture avec fondu d'entrée sur la sélection", {QKeySequence(Qt::Key_F7), {}}},
    {PlayButton::PlayFadeOut, "▶◣", "Lecture avec fondu de sortie sur la sélection", {QKeySequence(Qt::Key_F8), {}}},
    {PlayButton::PlayFrom, "▶|", "Lecture depuis le début de la sélection", {QKeySequence(Qt::Key_F9), {}}},
};

QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

AuditionBar::AuditionBar(editor::AuditionDeck* deck, QWidget* parent) : QWidget(parent), deck_(deck) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(1);
  for (const BarButton& b : kBar) {
    auto* button = new QToolButton(this);
    button->setText(QString::fromUtf8(b.text));
    button->setObjectName(QString("BtnsPlay_") + editor::PlayButtonName(b.button));
    button->setToolTip(QString::fromUtf8(b.tip) + " (" + b.keys[0].toString(QKeySequence::NativeText) + ")");
    button->setAutoRaise(true);
    if (b.button == PlayButton::Pause) button->setCheckable(true);
    connect(button, &QToolButton::clicked, this, [this, which = b.button] { press(which); });
    buttons_[static_cast<size_t>(b.button)] = button;
    row->addWidget(button);
  }
  const auto seconds = [this](const char* name, const char* tip) {
    auto* spin = new QDoubleSpinBox(this);
    spin->setObjectName(name);
    spin->setToolTip(QString::fromUtf8(tip));
    spin->setRange(0, 60);
    spin->setDecimals(1);
    spin->setSingleStep(0.5);
    spin->setSuffix(" s");
    connect(spin, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [this] {
      if (updating_ || !deck_) return;
      deck_->SetRolls(preRoll_->value(), postRoll_->value());
      if (changed) changed();
    });
    return spin;
  };
  preRoll_ = seconds("TextePreRoll", "Pré-roll (secondes avant la sélection)");
  postRoll_ = seconds("TextePostRoll", "Post-roll (secondes après la sélection)");
  row->addWidget(preRoll_);
  row->addWidget(postRoll_);
  chrono_ = new PictureLabel(this);
  chrono_->setObjectName("LabelChrono");
  chrono_->setToolTip(QString::fromUtf8("Double-clic : lecture depuis la position de lecture"));
  chrono_->setMinimumWidth(64);
  chrono_->doubleClicked = [this](QMouseEvent*) {
    if (!deck_) return;
    deck_->ChronometerDoubleClick();
    if (changed) changed();
  };
  range_ = new QLabel(this);
  range_->setObjectName("LabelPlage");
  range_->setMinimumWidth(120);
  // The mixing audition: a drop-down beside the play buttons.
  mix_ = new QToolButton(this);
  mix_->setObjectName("BtnMixage");
  mix_->setText(QString::fromUtf8("Mixage"));
  mix_->setToolTip(QString::fromUtf8("Écoute de l'enchaînement avec le morceau dont le code est à côté"));
  mix_->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(mix_);
  // The keys are the bar's shortcuts (addKeys); the menu shows them.
  menu->addAction(QString::fromUtf8("Écouter le mixage de &début\tShift+F7"), this, [this] { mix(true); });
  menu->addAction(QString::fromUtf8("Écouter le mixage de &fin\tShift+F8"), this, [this] { mix(false); });
  mix_->setMenu(menu);
  mixCode_ = new QLineEdit(this);
  mixCode_->setObjectName("TexteMorceauMixage");
  mixCode_->setPlaceholderText(QString::fromUtf8("Code à enchaîner"));
  mixCode_->setMaxLength(8);
  mixCode_->setFixedWidth(110);
  // The range list: a drop-down whose entries fill and play it, its items below.
  list_ = new QToolButton(this);
  list_->setObjectName("BtnPlages");
  list_->setToolTip(QString::fromUtf8("Liste de plages lues l'une après l'autre"));
  list_->setPopupMode(QToolButton::InstantPopup);
  listMenu_ = new QMenu(list_);
  listMenu_->setObjectName("MnuPlages");
  const struct {
    ListEntry entry;
    const char* text;
    QKeySequence key;
  } kList[] = {
      {ListEntry::AddSelection, "&Ajouter la sélection", QKeySequence(Qt::Key_Insert)},
      {ListEntry::Steps, "Remplir avec les &steps", {}},
      {ListEntry::OutsideSteps, "Remplir avec la sélection &hors steps", {}},
      {ListEntry::Clear, "&Vider la liste", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete)},
      {ListEntry::Play, "&Lire la liste", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L)},
  };
  for (const auto& e : kList) {
    QAction* a = listMenu_->addAction(QString::fromUtf8(e.text), this, [this, which = e.entry] { listCommand(which); });
    if (!e.key.isEmpty()) a->setShortcut(e.key);
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    listActions_[static_cast<size_t>(e.entry)] = a;
  }
  listMenu_->addSeparator();
  list_->setMenu(listMenu_);
  connect(listMenu_, &QMenu::aboutToShow, this, [this] { showList(); });
  row->addWidget(mix_);
  row->addWidget(mixCode_);
  row->addWidget(list_);
  row->addWidget(chrono_);
  row->addWidget(range_);
}

void AuditionBar::mix(bool startOfSound) {
  if (!deck_) return;
  const std::string code = mixCode_->text().trimmed().toStdString();
  std::optional<editor::MixSong> other;
  if (!code.empty() && findMixSong) other = findMixSong(code);
  deck_->EcouteMixage(startOfSound, other);
  if (changed) changed();
}

void AuditionBar::listCommand(ListEntry entry) {
  if (!deck_) return;
  switch (entry) {
    case ListEntry::AddSelection:
      deck_->AddSelectionToRangeList();
      break;
    case ListEntry::Steps:
    case ListEntry::OutsideSteps:
      deck_->FillRangeList(stepRanges ? stepRanges(entry == ListEntry::OutsideSteps)
                                      : std::vector<std::pair<int, int>>{});
      break;
    case ListEntry::Clear:
      deck_->ClearRangeList();
      break;
    case ListEntry::Play:
      deck_->PlayRangeList();
      break;
  }
  showList();
  if (changed) changed();
}

void AuditionBar::showList() {
  if (!deck_) return;
  for (QAction* a : listItems_) {
    listMenu_->removeAction(a);
    a->deleteLater();
  }
  listItems_.clear();
  for (const std::string& caption : deck_->RangeListCaptions()) {
    QAction* a = listMenu_->addAction(q(caption));
    a->setEnabled(false);
    listItems_.push_back(a);
  }
  list_->setText(QString::fromUtf8("Plages (%1)").arg(deck_->rangeList.items.size()));
}

void AuditionBar::addKeys(QWidget* keys) {
  // The list's entries carry their keys; they act wherever the focus is in the panel.
  for (QAction* a : listActions_) keys->addAction(a);
  for (auto [key, start] : {std::pair{Qt::Key_F7, true}, std::pair{Qt::Key_F8, false}}) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::SHIFT | key), keys);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, start = start] { mix(start); });
  }
  for (const BarButton& b : kBar)
    for (const QKeySequence& k : b.keys) {
      if (k.isEmpty()) continue;
      auto* shortcut = new QShortcut(k, keys);
      shortcut->setContext(Qt::WidgetWithChildrenShortcut);
      connect(shortcut, &QShortcut::activated, this, [this, which = b.button] { press(which); });
    }
}

QToolButton* AuditionBar::button(editor::PlayButton b) const { return buttons_[static_cast<size_t>(b)]; }
QLabel* AuditionBar::chronometer() const { return chrono_; }

void AuditionBar::press(editor::PlayButton b) {
  if (!deck_) return;
  // A new play replaces what plays (the range list too).
  if (b != PlayButton::Pause && b != PlayButton::Stop && (deck_->playing() || deck_->paused())) deck_->Stop();
  deck_->BtnsPlay(b, std::string("BtnsPlay_") + editor::PlayButtonName(b));
  if (changed) changed();
}

void AuditionBar::refresh(bool soundLoaded) {
  updating_ = true;
  const bool ready = soundLoaded && deck_ && deck_->ready();
  for (QToolButton* button : buttons_)
    if (button) button->setEnabled(ready);
  mix_->setEnabled(ready);
  list_->setEnabled(ready);
  showList();
  if (deck_) {
    button(PlayButton::Pause)->setChecked(deck_->paused());
    preRoll_->setValue(deck_->preRollS);
    postRoll_->setValue(deck_->postRollS);
    chrono_->setText(q(deck_->chronometer));
    range_->setText(deck_->rangeStartCaption.empty()
                        ? QString()
                        : q(deck_->rangeStartCaption + " – " + deck_->rangeEndCaption));
  }
  updating_ = false;
}

}  // namespace sono::ui
