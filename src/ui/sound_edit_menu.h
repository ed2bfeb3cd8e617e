// The main window's "Edition" menu: the sound edits of the editor's sound
// (copy, cut, paste at the play position, at the beginning, at the end,
// trim, "Undo: N", delete) with their usual keys, and the checkable
// "Jonctions douces" entry (smooth joins, kept in the settings file). It
// only binds actions to the editor panel's sound edits.
#pragma once
#include <QMenu>
#include <functional>
#include <string>

namespace sono::ui {

class MainWindow;
class EditorPanel;

// Adds the menu after "Fichier"; returns it. `settingsFile` names the
// program's settings file (the smooth-joins entry is read from it and kept there).
QMenu* AddSoundEditMenu(MainWindow& window, EditorPanel& panel, std::function<std::string()> settingsFile = {});

}  // namespace sono::ui
