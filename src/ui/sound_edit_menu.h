// The main window's "Edition" menu: the sound edits of the editor's sound
// (copy, cut, paste at the play position, at the beginning, at the end,
// trim, "Undo: N", delete) with their usual keys. It only binds actions to
// the editor panel's sound edits.
#pragma once
#include <QMenu>

namespace sono::ui {

class MainWindow;
class EditorPanel;

// Adds the menu after "Fichier"; returns it.
QMenu* AddSoundEditMenu(MainWindow& window, EditorPanel& panel);

}  // namespace sono::ui
