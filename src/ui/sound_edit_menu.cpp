#include "ui/sound_edit_menu.h"

#include <QAction>
#include <QMenuBar>
#include <QMessageBox>
#include <functional>
#include <string>

#include "ui/editor_panel.h"
#include "ui/main_window.h"

namespace sono::ui {

QMenu* AddSoundEditMenu(MainWindow& window, EditorPanel& panel, std::function<std::string()> settingsFile) {
  auto* menu = new QMenu(QString::fromUtf8("&Edition"), &window);
  menu->setObjectName("MnuEdition");
  window.menuBar()->insertMenu(window.menu(MenuId::View)->menuAction(), menu);
  using Mode = editor::CopyCutPasteMode;
  struct Entry {
    const char* name;
    const char* label;
    QKeySequence keys;
    std::function<bool(editor::SoundEdits&)> run;
  };
  const auto copyCutPaste = [](Mode mode) {
    return [mode](editor::SoundEdits& e) { return e.MnuCopyCutPaste(mode, "Frm_Main:MnuCopyDelPaste_Click"); };
  };
  const Entry entries[] = {
      {"MnuCopier", "&Copier", QKeySequence(Qt::CTRL | Qt::Key_C), copyCutPaste(Mode::Copy)},
      {"MnuCouper", "C&ouper", QKeySequence(Qt::CTRL | Qt::Key_X), copyCutPaste(Mode::Cut)},
      {"MnuColler", "Colle&r", QKeySequence(Qt::CTRL | Qt::Key_V), copyCutPaste(Mode::Paste)},
      {"MnuCollerDebut", "Coller au &début", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Home),
       copyCutPaste(Mode::PasteAtBegin)},
      {"MnuCollerFin", "Coller à la &fin", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_End),
       copyCutPaste(Mode::PasteAtEnd)},
      {"MnuTrim", "&Garder la sélection (trim)", QKeySequence(Qt::CTRL | Qt::Key_T),
       [](editor::SoundEdits& e) { return e.SoundTrim("Frm_Main:MnuEdition_Click"); }},
      {"MnuUndo", "&Undo: 0", QKeySequence(Qt::CTRL | Qt::Key_Z),
       [](editor::SoundEdits& e) { return e.Undo("Frm_Main:MnuEdition_Click"); }},
      {"MnuSupprimerSon", "&Supprimer le son", QKeySequence(Qt::CTRL | Qt::Key_Delete),
       [](editor::SoundEdits& e) { return e.SoundDelete("Frm_Main:MnuEdition_Click"); }},
  };
  QAction* undo = nullptr;
  for (const Entry& entry : entries) {
    QAction* action = menu->addAction(QString::fromUtf8(entry.label));
    action->setObjectName(entry.name);
    action->setShortcut(entry.keys);
    if (std::string(entry.name) == "MnuUndo") undo = action;
    QObject::connect(action, &QAction::triggered, &panel, [&panel, run = entry.run, menu] {
      panel.soundEdit(run);
      menu->findChild<QAction*>("MnuUndo")->setText("&" + QString::fromStdString(panel.soundEdits().UndoMenuText()));
    });
    if (std::string(entry.name) == "MnuTrim") menu->addSeparator();
  }
  // Smooth joins: cut, paste and the steps' cut cross-fade every join they make.
  menu->addSeparator();
  QAction* smooth = menu->addAction(QString::fromUtf8("&Jonctions douces (fondu de 10 ms)"));
  smooth->setObjectName("MnuJonctionsDouces");
  smooth->setCheckable(true);
  const std::string file = settingsFile ? settingsFile() : std::string();
  panel.soundEdits().smoothJoins = editor::SoundEdits::LoadSmoothJoins(file);
  smooth->setChecked(panel.soundEdits().smoothJoins);
  QObject::connect(smooth, &QAction::toggled, &panel, [&panel, &window, settingsFile](bool on) {
    editor::SoundEdits& edits = panel.soundEdits();
    if (!edits.SetSmoothJoins(settingsFile ? settingsFile() : std::string(), on))
      QMessageBox::warning(&window, QString::fromUtf8("Jonctions douces"), QString::fromStdString(edits.lastMessage));
  });
  // "Undo: N" with the levels kept; each entry enabled when it can act.
  const auto update = [menu, undo, &panel] {
    editor::SoundEdits& edits = panel.soundEdits();
    const bool loaded = panel.editor().songLoaded() && !edits.busy();
    const bool selection = panel.editor().sound.selection.marked;
    undo->setText("&" + QString::fromStdString(edits.UndoMenuText()));
    for (QAction* a : menu->actions()) {
      const QString n = a->objectName();
      if (n == "MnuJonctionsDouces") a->setEnabled(true);
      else if (n == "MnuUndo") a->setEnabled(loaded && panel.editor().undoEnabled);
      else if (n.startsWith("MnuColler")) a->setEnabled(loaded && edits.canPaste());
      else if (!n.isEmpty()) a->setEnabled(loaded && (selection || n == "MnuSupprimerSon"));
    }
  };
  QObject::connect(menu, &QMenu::aboutToShow, menu, update);
  // Keys act with the menu closed: the edits refuse, and say why, what they cannot do.
  QObject::connect(menu, &QMenu::aboutToHide, menu, [menu] {
    for (QAction* a : menu->actions()) a->setEnabled(true);
  });
  return menu;
}

}  // namespace sono::ui
