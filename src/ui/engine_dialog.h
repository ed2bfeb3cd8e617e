// The "Moteur de la base" window (Outils > "Moteur de la base…") over its
// model (data::EngineSettingForm): the engine, the PostgreSQL connection and
// password file, "Tester la connexion", and the save through the prompt.
#pragma once
#include <QDialog>

#include "core/ports.h"
#include "data/engine_setting.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace sono::ui {

class EngineDialog : public QDialog {
 public:
  EngineDialog(data::EngineSettingForm& form, Prompt& prompt, QWidget* parent = nullptr);
  QComboBox* engine() const { return engine_; }
  QLineEdit* connection() const { return connection_; }
  QLineEdit* passwordFile() const { return passwordFile_; }
  QPushButton* testButton() const { return test_; }
  QLabel* result() const { return result_; }
  // Saves (the prompt says how it went); the window closes once saved.
  void accept() override;

 private:
  void toForm();
  data::EngineSettingForm& form_;
  Prompt& prompt_;
  QComboBox* engine_;
  QLineEdit* connection_;
  QLineEdit* passwordFile_;
  QPushButton* test_;
  QLabel* result_;
};

}  // namespace sono::ui
