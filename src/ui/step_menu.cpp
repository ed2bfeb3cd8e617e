#include "ui/step_menu.h"

#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenuBar>

#include "ui/editor_panel.h"
#include "ui/main_window.h"

namespace sono::ui {

namespace {
constexpr const char* kCaller = "Frm_Main:MnuStepsAdd_Click";
}

StepMenu::StepMenu(MainWindow& window, EditorPanel& panel, data::Library& lib) : QObject(&window), panel_(panel) {
  steps_ = std::make_unique<editor::StepEditor>(panel.editor(), panel.soundEdits(), lib, panel.view(),
                                                panel.stripCanvas());
  menu_ = new QMenu(QString::fromUtf8("&Steps"), &window);
  menu_->setObjectName("MnuSteps");
  window.menuBar()->insertMenu(window.menu(MenuId::View)->menuAction(), menu_);
  using A = editor::StepAction;
  const std::pair<A, const char*> entries[] = {{A::Add, "&Ajouter la sélection comme step"},
                                               {A::Replace, "&Remplacer le step par la sélection"},
                                               {A::Delete, "&Supprimer le step"},
                                               {A::PlayStep, "&Ecouter le step"},
                                               {A::PlayWithoutSteps, "Ecouter la sélection sans les ste&ps"},
                                               {A::CutAll, "&Couper tous les steps du son..."}};
  for (const auto& [a, caption] : entries) {
    QAction* action = menu_->addAction(QString::fromUtf8(caption));
    action->setObjectName(QString("MnuStepsAdd_%1").arg(static_cast<int>(a)));
    connect(action, &QAction::triggered, this, [this, a = a] { run(a); });
    actions_.emplace_back(a, action);
  }
  // The step buttons beside the editor's caption, one per action, in the actions' order.
  struct Button {
    A action;
    const char* text;
    const char* tip;
  };
  const Button buttons[] = {{A::Add, "Step +", "Ajouter la sélection comme step"},
                            {A::Replace, "Remplacer", "Remplacer le step par la sélection"},
                            {A::Delete, "Step -", "Supprimer le step"},
                            {A::PlayStep, "Ecouter", "Ecouter le step"},
                            {A::PlayWithoutSteps, "Sans steps", "Ecouter la sélection sans les steps"},
                            {A::CutAll, "Couper", "Couper tous les steps du son"}};
  auto* box = new QWidget(&panel);
  box->setObjectName("CommandSteps");
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  for (const Button& b : buttons) {
    auto* button = new QPushButton(QString::fromUtf8(b.text), box);
    button->setObjectName(QString("CommandSteps_%1").arg(static_cast<int>(b.action)));
    button->setToolTip(QString::fromUtf8(b.tip));
    button->setFocusPolicy(Qt::NoFocus);  // the keys stay with the views
    connect(button, &QPushButton::clicked, this, [this, a = b.action] { run(a); });
    row->addWidget(button);
    buttons_.emplace_back(b.action, button);
  }
  panel.addCaptionWidget(box);
  dock_ = new QDockWidget(QString::fromUtf8("Steps"), &window);
  dock_->setObjectName("DockSteps");
  list_ = new QListWidget(dock_);
  list_->setObjectName("ListeSteps");
  dock_->setWidget(list_);
  window.addDockWidget(Qt::RightDockWidgetArea, dock_);
  dock_->hide();
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (showing_ || row < 0) return;
    steps_->ListeSteps_Click(row);
    panel_.refresh();
  });
  // The steps over the strip each time the panel shows it.
  panel.onStripShown = [this] { steps_->DrawSteps(); };
}

StepMenu::~StepMenu() = default;

QPushButton* StepMenu::button(editor::StepAction a) const {
  for (const auto& [which, button] : buttons_)
    if (which == a) return button;
  return nullptr;
}

QAction* StepMenu::action(editor::StepAction a) const {
  for (const auto& [which, action] : actions_)
    if (which == a) return action;
  return nullptr;
}

void StepMenu::run(editor::StepAction a) {
  steps_->GestionSteps(a);
  panel_.refresh();
  show();
}

void StepMenu::show() {
  showing_ = true;
  list_->clear();
  for (const auto& text : steps_->VisibleSteps()) list_->addItem(QString::fromStdString(text));
  list_->setCurrentRow(steps_->selectedLine);
  showing_ = false;
  dock_->setVisible(!steps_->steps.empty());
}

void StepMenu::leave() {
  if (steps_->changed) steps_->StepsMemorisation(true, kCaller);
}

void StepMenu::loaded() {
  const editor::PointerEditor& editor = panel_.editor();
  if (editor.songLoaded()) steps_->StepsChargement(editor.sound.station, editor.sound.code);
  else steps_->Clear();
  panel_.refresh();
  show();
}

}  // namespace sono::ui
