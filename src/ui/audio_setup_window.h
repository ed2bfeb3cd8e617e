// The audio set-up window (`FrmSetup`) over its model: the audition's output,
// the playback slot shown and the record slot with their nature, device,
// forced board, levels, digital input or output and clock, the pipes'
// formats and re-initialisation buttons, and every other audio key (effects,
// takes, DJ Studio buffer) in one grid. Each change goes to the model, which
// checks and stores it; the controls then show what the model holds.
#pragma once
#include <QDialog>

#include "audio/setup/setup_window.h"
#include "editor/audition_deck.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QSlider;
class QTableWidget;

namespace sono::ui {

class AudioSetupWindow : public QDialog {
 public:
  AudioSetupWindow(audio::SetupWindow& model, editor::AuditionDeck& deck, QWidget* parent = nullptr);

  // One side's controls (the playback slot shown, or the record slot).
  struct Side {
    QComboBox* nature;
    QComboBox* device;
    QComboBox* forcedBoard;
    QSlider* analog;
    QSlider* digital;
    QCheckBox* digitalActive;
    QComboBox* digitalChoice;  // output format, or input data source
    QComboBox* clock;
    QComboBox* clockInput;
    QComboBox* clockBoard;
    QListWidget* formats;
    QPushButton* reInit;
  };
  QComboBox* auditionOutput() const { return audition_; }
  QComboBox* slotShown() const { return slot_; }
  const Side& out() const { return out_; }
  const Side& in() const { return in_; }
  QTableWidget* grid() const { return grid_; }

 private:
  QWidget* buildSide(audio::SetupSide side, Side& controls);
  void fill();
  void fillSide(audio::SetupSide side, int slot, Side& controls);
  // The control changed: the model takes or refuses it, the controls show the result.
  void change(const std::string& section, const std::string& key, const std::string& value);
  int shownSlot() const;

  audio::SetupWindow& model_;
  editor::AuditionDeck& deck_;
  QComboBox* audition_;
  QComboBox* slot_;
  Side out_{}, in_{};
  QTableWidget* grid_;
  bool filling_ = false;
};

}  // namespace sono::ui
