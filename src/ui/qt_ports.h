// The ports bound to Qt: message boxes, pickers and the step window (FrmMsg),
// and the event loop.
#pragma once
#include <QDialog>
#include <QLabel>
#include <memory>

#include "core/ports.h"

namespace sono::ui {

class QtPrompt : public Prompt {
 public:
  explicit QtPrompt(QWidget* parent = nullptr);
  ~QtPrompt() override;
  Answer message(const std::string& text, Icon icon, Buttons buttons,
                 const std::string& title = {}) override;
  std::optional<std::string> pickFolder(const std::string& start, const std::string& title = {}) override;
  std::optional<std::string> pickFile(const std::string& folder, const std::string& filter,
                                      const std::string& proposedName) override;
  std::optional<std::string> pickSaveFile(const std::string& folder, const std::string& filter,
                                          const std::string& proposedName) override;
  std::optional<int> chooseItem(const std::string& title, const std::vector<std::string>& items,
                                int current) override;
  void showStepWindow(bool show) override;
  void setStepLabel(const std::string& text) override;
  void setParent(QWidget* parent) { parent_ = parent; }

 private:
  QWidget* parent_;
  std::unique_ptr<QDialog> step_;
  QLabel* label_ = nullptr;
};

class QtEventLoop : public EventLoop {
 public:
  void processEvents() override;
  // True while some work of the program lets window events run (a search,
  // a recount, a wait): a timer that fires then runs in the middle of it.
  static bool pumping() { return depth_ > 0; }

 private:
  static inline int depth_ = 0;
};

}  // namespace sono::ui
