// The editor's copy menu ("Copie locale", MnuPtxCopy): the four copy entries
// with their questions, enabled as the sound is local or not, and the four
// behaviour options ("Comportement") as check boxes with their captions; the
// task dialogs of local copies as message boxes with two command buttons;
// the selection of a song through the local-copy rules. It binds the core's
// LocalCopies to the window and holds no rule of its own.
#pragma once
#include <QMenu>
#include <QObject>
#include <memory>
#include <optional>

#include "editor/local_copies.h"
#include "editor/pointer_editor.h"

namespace sono {
class Prompt;
class Clock;
class TraceLogger;
class SiteConfig;
}  // namespace sono

namespace sono::ui {

class MainWindow;
class EditorPanel;

// A task dialog as a message box: the instruction, the content below it and
// one button per command; the chosen button's id, nothing when closed.
std::optional<int> ShowTaskDialog(QWidget* parent, const editor::TaskDialog& dialog);

class LocalCopyMenu : public QObject {
 public:
  LocalCopyMenu(MainWindow& window, EditorPanel& panel, Prompt& prompt, Clock& clock, TraceLogger& log,
                const SiteConfig& config);
  ~LocalCopyMenu() override;

  // A song row was selected: the local sound is left as the rules say (false:
  // the current song stays), the local candidate looked at, then the editor
  // loads the chosen file.
  bool load(editor::SongSelection song);

  // The settings read again once the site is loaded: built with the window,
  // before the site, the local folder would be relative to the working
  // directory (shared by every program started there).
  void reloadSettings();
  editor::LocalCopies& copies() { return *copies_; }
  QMenu* menu() const { return menu_; }
  QAction* entry(editor::CopyMenuEntry e) const;
  QAction* option(editor::LocalCopyOption o) const;

 private:
  void update();
  void showWorkingFile();
  MainWindow& window_;
  EditorPanel& panel_;
  const SiteConfig& config_;
  std::unique_ptr<editor::LocalCopies> copies_;
  QMenu* menu_;
  std::vector<QAction*> entries_, options_;
};

}  // namespace sono::ui
