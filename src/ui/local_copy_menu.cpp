#include "ui/local_copy_menu.h"

#include <QAbstractButton>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <map>

#include "core/config.h"
#include "ui/editor_panel.h"
#include "ui/main_window.h"

namespace sono::ui {

namespace {
// The caption with its accelerator mark before `letterAt`'s first occurrence
// (the captions stay the system's own; only the mark is added).
QString WithAccelerator(const char* caption, const char* letterAt) {
  std::string text = caption;
  const size_t at = text.find(letterAt);
  if (at != std::string::npos) text.insert(at, "&");
  return QString::fromStdString(text);
}
constexpr const char* kEntryAccelerators[] = {"local", "serveur", "Reprendre", "et le laisser"};
constexpr const char* kOptionAccelerators[] = {"Partir", "automatiquement", "Vérifier", "N à"};
}  // namespace

std::optional<int> ShowTaskDialog(QWidget* parent, const editor::TaskDialog& dialog) {
  QMessageBox box(QMessageBox::Question, QString::fromUtf8("Sonoteka"), QString::fromStdString(dialog.instruction),
                  QMessageBox::NoButton, parent);
  box.setInformativeText(QString::fromStdString(dialog.content));
  std::map<QAbstractButton*, int> ids;
  for (const auto& [id, caption] : dialog.buttons)
    ids[box.addButton(QString::fromStdString(caption), QMessageBox::AcceptRole)] = id;
  box.addButton(QMessageBox::Cancel)->hide();  // Escape and the close box: no command
  box.exec();
  const auto it = ids.find(box.clickedButton());
  if (it == ids.end()) return std::nullopt;
  return it->second;
}

LocalCopyMenu::LocalCopyMenu(MainWindow& window, EditorPanel& panel, Prompt& prompt, Clock& clock, TraceLogger& log,
                             const SiteConfig& config)
    : QObject(&window), window_(window), panel_(panel), config_(config) {
  copies_ = std::make_unique<editor::LocalCopies>(
      editor::LocalCopies::Ports{log, prompt, clock, panel.editor(), &panel.soundEdits()},
      editor::LoadLocalCopySettings(config));
  copies_->taskDialog = [this](const editor::TaskDialog& d) { return ShowTaskDialog(&window_, d); };

  menu_ = new QMenu(QString::fromUtf8("Copie &locale"), &window);
  menu_->setObjectName("MnuPtxCopy");
  window.menuBar()->insertMenu(window.menu(MenuId::View)->menuAction(), menu_);
  for (const auto& t : editor::CopyMenuTexts()) {
    QAction* action = menu_->addAction(WithAccelerator(t.caption, kEntryAccelerators[static_cast<int>(t.entry)]));
    action->setObjectName(QString("MnuPtxCopy_%1").arg(static_cast<int>(t.entry)));
    connect(action, &QAction::triggered, this, [this, e = t.entry] {
      copies_->MnuPtxCopy(e);
      panel_.refresh();
      showWorkingFile();
    });
    entries_.push_back(action);
  }
  QMenu* behaviour = menu_->addMenu(QString::fromUtf8("&Comportement"));
  for (const auto& t : editor::LocalCopyOptionTexts()) {
    QAction* action = behaviour->addAction(WithAccelerator(t.caption, kOptionAccelerators[static_cast<int>(t.option)]));
    action->setObjectName(QString::fromUtf8(t.key));
    action->setCheckable(true);
    action->setChecked(copies_->settings.on(t.option));
    connect(action, &QAction::toggled, this, [this, o = t.option](bool on) {
      copies_->settings.set(o, on);
      if (!editor::SaveLocalCopyOption(config_, o, on))
        QMessageBox::critical(&window_, QString::fromUtf8("Sonoteka"),
                              QString::fromUtf8("Réglage non enregistré: ") + QString::fromStdString(config_.settingsFile()));
    });
    options_.push_back(action);
  }
  connect(menu_, &QMenu::aboutToShow, this, [this] { update(); });
  update();
}

LocalCopyMenu::~LocalCopyMenu() = default;

QAction* LocalCopyMenu::entry(editor::CopyMenuEntry e) const { return entries_.at(static_cast<size_t>(e)); }
QAction* LocalCopyMenu::option(editor::LocalCopyOption o) const { return options_.at(static_cast<size_t>(o)); }

void LocalCopyMenu::reloadSettings() {
  copies_->settings = editor::LoadLocalCopySettings(config_);
  for (const auto& t : editor::LocalCopyOptionTexts()) {
    QAction* action = option(t.option);
    const QSignalBlocker quiet(action);  // shown as read, not written back
    action->setChecked(copies_->settings.on(t.option));
  }
  update();
}

void LocalCopyMenu::update() {
  for (const auto& t : editor::CopyMenuTexts()) entry(t.entry)->setEnabled(copies_->entryEnabled(t.entry));
}

void LocalCopyMenu::showWorkingFile() {
  if (!copies_->statusText.empty()) window_.statusBar()->showMessage(QString::fromStdString(copies_->statusText));
}

bool LocalCopyMenu::load(editor::SongSelection song) {
  if (!copies_->LeaveSound()) return false;
  const std::string server = song.soundFile;
  song.soundFile = copies_->SelectionLigne(song.code, server);
  if (!panel_.load(song)) return false;
  copies_->Opened(server, song.soundFile);
  showWorkingFile();
  update();
  return true;
}

}  // namespace sono::ui
