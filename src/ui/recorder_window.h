// The recorder window (Frm_Main_Recorder) and its options (FrmRecorderSetup),
// over recorder::RecorderModel: status, position, level meter, record, stop
// and pause. The editor's record buttons (RecordBar) drive the same model.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <functional>

#include "recorder/record_buttons.h"
#include "recorder/recorder_model.h"

namespace sono::ui {

class RecorderWindow : public QDialog {
 public:
  // `target`: the editor's song when a button is pressed.
  RecorderWindow(recorder::RecorderModel& model, const SiteConfig& config,
                 std::function<recorder::RecordTarget()> target, QWidget* parent);
  // The model's status, position and level shown.
  void refresh();

 private:
  recorder::RecorderModel& model_;
  const SiteConfig& config_;
  std::function<recorder::RecordTarget()> target_;
  QLabel* status_;
  QLabel* position_;
  QProgressBar* level_;
  QPushButton* record_;
  QPushButton* stop_;
  QCheckBox* pause_;
};

// FrmRecorderSetup: the recorder's settings and its start and stop
// conditions; OK writes them (they apply to the next take).
class RecorderSetup : public QDialog {
 public:
  RecorderSetup(const SiteConfig& config, QWidget* parent);
  // The controls' values written to the settings files.
  bool save();

 private:
  const SiteConfig& config_;
  recorder::RecorderSettings settings_;
  QComboBox* input_;
  QLineEdit* virtualFile_;
  QComboBox* startCondition_;
  QComboBox* startThreshold_;
  QSpinBox* startDuration_;
  QSpinBox* stopDuration_;
  QSpinBox* threshold_;
  QSpinBox* preroll_;
  QSpinBox* tail_;
  QLineEdit* folder_;
};

// The editor's record buttons (BtnsRecord 10, 0, and the pause with 12).
class RecordBar : public QWidget {
 public:
  // `buttons` (BtnsRecord) once the audio set-up exists; before that the
  // recorder window's model takes the clicks.
  RecordBar(recorder::RecorderModel& model, std::function<recorder::RecordButtons*()> buttons,
            std::function<bool()> ensureLoaded, std::function<recorder::RecordTarget()> target, QWidget* parent);
  void refresh();

 private:
  bool recording() const;
  recorder::RecorderModel& model_;
  std::function<recorder::RecordButtons*()> buttons_;
  QPushButton* newTake_;
  QPushButton* record_;
  QPushButton* stop_;
  QCheckBox* pause_;
};

}  // namespace sono::ui
