// The editor's steps on the desktop: the "Steps" menu (MnuStepsAdd: add,
// replace, delete, play the step, play the selection without the steps, cut
// all), the same six as buttons beside the editor panel's caption
// (CommandSteps), the visible step list in a dock (a click
// selects a step: its times become the strip's selection; shown while the
// sound has steps, so the window keeps its smallest size), the steps drawn
// over the pointer strip, loaded with a sound and stored (after the
// question) when the user leaves it. It binds the core's StepEditor to the
// window and holds no rule of its own.
#pragma once
#include <QDockWidget>
#include <QListWidget>
#include <QMenu>
#include <QObject>
#include <QPushButton>
#include <memory>

#include "editor/steps.h"

namespace sono::data {
class Library;
}

namespace sono::ui {

class MainWindow;
class EditorPanel;

class StepMenu : public QObject {
 public:
  StepMenu(MainWindow& window, EditorPanel& panel, data::Library& lib);
  ~StepMenu() override;

  // The sound is about to be left: changed steps are offered for storing.
  void leave();
  // A sound was loaded: its steps are read.
  void loaded();

  editor::StepEditor& steps() { return *steps_; }
  QMenu* menu() const { return menu_; }
  QAction* action(editor::StepAction a) const;
  QPushButton* button(editor::StepAction a) const;
  QListWidget* list() const { return list_; }

 private:
  void run(editor::StepAction a);
  void show();
  EditorPanel& panel_;
  std::unique_ptr<editor::StepEditor> steps_;
  QMenu* menu_;
  QDockWidget* dock_;
  QListWidget* list_;
  std::vector<std::pair<editor::StepAction, QAction*>> actions_;
  std::vector<std::pair<editor::StepAction, QPushButton*>> buttons_;
  bool showing_ = false;
};

}  // namespace sono::ui
