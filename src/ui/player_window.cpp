#include "ui/player_window.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMimeData>
#include <QVBoxLayout>

#include "core/datetime.h"
#include "core/ini.h"

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

PlayerWindow::PlayerWindow(editor::AuditionDeck& deck, std::function<std::string()> settingsFile, QWidget* parent)
    : QWidget(parent, Qt::Tool), deck_(deck), settingsFile_(std::move(settingsFile)) {
  setObjectName("FrmPlayer");
  setWindowTitle(QString::fromUtf8("Pré-écoute"));
  setAcceptDrops(true);
  auto* layout = new QVBoxLayout(this);
  file_ = new QLabel(QString::fromUtf8("Aucun fichier (déposez-en un ici)"), this);
  file_->setObjectName("LabelFichier");
  auto* choose = new QPushButton(QString::fromUtf8("&Choisir…"), this);
  choose->setObjectName("BtnChoisir");
  connect(choose, &QPushButton::clicked, this, [this] {
    const QString file = QFileDialog::getOpenFileName(this, QString::fromUtf8("Fichier à pré-écouter"));
    if (!file.isEmpty()) setFile(file.toStdString());
  });
  auto* top = new QHBoxLayout();
  top->addWidget(file_, 1);
  top->addWidget(choose);
  layout->addLayout(top);
  auto* buttons = new QHBoxLayout();
  const auto image = [this, buttons](const char* name, const char* text, editor::AuditionDeck::PreListen action) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(name);
    connect(b, &QPushButton::clicked, this, [this, action] { act(action); });
    buttons->addWidget(b);
    return b;
  };
  using A = editor::AuditionDeck::PreListen;
  play_ = image("Play", "▶ &Lecture", A::Play);
  pause_ = image("Pause", "❚❚ &Pause", A::PauseResume);
  stop_ = image("Stop", "■ &Stop", A::Stop);
  position_ = new QLabel(this);
  position_->setObjectName("LabelPosition");
  buttons->addWidget(position_);
  layout->addLayout(buttons);
  message_ = new QLabel(this);
  message_->setObjectName("LabelMessage");
  message_->setStyleSheet("color: #B00000;");
  layout->addWidget(message_);
  refresh();
}

void PlayerWindow::setFile(const std::string& file) {
  deck_.preListenFile = file;
  file_->setText(q(file));
  message_->clear();
}

void PlayerWindow::act(editor::AuditionDeck::PreListen action) {
  message_->clear();
  if (!deck_.PreEcouteSon(action) && action == editor::AuditionDeck::PreListen::Play)
    message_->setText(q(deck_.message()));
  refresh();
}

void PlayerWindow::refresh() {
  const bool on = deck_.preListening();
  play_->setProperty("tag", q(deck_.playTag()));
  // The play image becomes the pause image while a pre-listen plays.
  play_->setText(QString::fromUtf8(deck_.playTag() == "ON" ? "❚❚ &Lecture" : "▶ &Lecture"));
  pause_->setEnabled(on);
  stop_->setEnabled(on);
  position_->setText(on ? q(Tps2MinSecCen(deck_.headMs()) + " / " + Tps2MinSecCen(deck_.durationMs()))
                        : QString());
}

void PlayerWindow::writeShown(bool shown) {
  const std::string file = settingsFile_ ? settingsFile_() : std::string();
  if (!file.empty()) EcritureIni(file, kSection, kKey, shown ? "1" : "0");
}

void PlayerWindow::showEvent(QShowEvent* e) {
  writeShown(true);
  QWidget::showEvent(e);
}

void PlayerWindow::closeEvent(QCloseEvent* e) {
  if (deck_.preListening()) deck_.PreEcouteSon(editor::AuditionDeck::PreListen::Stop);
  writeShown(false);
  QWidget::closeEvent(e);
}

void PlayerWindow::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls() && e->mimeData()->urls().first().isLocalFile()) e->acceptProposedAction();
}

void PlayerWindow::dropEvent(QDropEvent* e) {
  if (!e->mimeData()->hasUrls() || !e->mimeData()->urls().first().isLocalFile()) return;
  e->acceptProposedAction();
  setFile(e->mimeData()->urls().first().toLocalFile().toStdString());
}

}  // namespace sono::ui
