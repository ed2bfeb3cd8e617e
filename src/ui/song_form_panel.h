// The song detail form under the song grid: title, short title, the two
// artists, the category, the duration, the forced duration and the playable
// flag of the selected song, with its save button. The save and its four
// refusals belong to the core (saveSongForm); the
// form only reads and fills its widgets.
//
// The combos hold codes as UTF-8 (what a QString carries); the record's
// Windows-1252 bytes are converted at load and back at save, so a code with
// an accented letter survives the trip unchanged.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>
#include <functional>
#include <optional>

#include "data/songs.h"
#include "data/stats.h"

namespace sono::ui {

class SongFormPanel : public QWidget {
 public:
  SongFormPanel(data::Library& lib, data::DurationStatistics& stats, QWidget* parent = nullptr);
  // Fills the form with the song; clears and disables it when the song is
  // not in the station's song file. Unsaved edits of the song shown are
  // offered for saving first.
  void load(int station, const std::string& code);
  // The artists and categories are read again at the next load (after a
  // search: another workstation may have added some).
  void invalidateChoices() { choicesStation_ = 0; }
  // Shows the title and first artist of `offered` in the form of its song
  // (loaded first when another song is shown), not saved: the user saves.
  void showOffered(int station, const data::SongForm& offered);
  // Saves what the form shows (the fields the user edited; the others keep
  // what is stored, see saveSongForm), then shows the song as stored:
  // false when refused or failed.
  bool save();
  // Edits not saved yet are offered for saving (Yes saves, No keeps them unsaved).
  void offerToSave();
  // The form shows something else than the loaded song (not saved yet).
  bool modified() const;
  // Another workstation changed the station's songs: without edits the form
  // shows the song as stored now; with edits it keeps them, and the save
  // asks before writing over the other workstation's change.
  void followChange();
  // Called after a successful save with the song's code.
  std::function<void(const std::string& code)> onSaved;

  QLineEdit* title() const { return title_; }
  QLineEdit* shortTitle() const { return shortTitle_; }
  QComboBox* artist1() const { return artist1_; }
  QComboBox* artist2() const { return artist2_; }
  QComboBox* category() const { return category_; }
  QSpinBox* duration() const { return duration_; }
  QLabel* durationText() const { return durationText_; }
  QCheckBox* forced() const { return forced_; }
  QSpinBox* forcedSeconds() const { return forcedSeconds_; }
  QCheckBox* playable() const { return playable_; }
  QLabel* code() const { return code_; }
  QCheckBox* allStations() const { return allStations_; }
  QPushButton* saveButton() const { return save_; }

 private:
  void fillChoices(int station);
  data::SongForm shown() const;  // the loaded song with what the widgets show
  void clear();
  // `known`: the entries the lists gave; any entry past them was added for
  // the previous song's unknown code and goes.
  static void selectCode(QComboBox* combo, int known, const std::string& code);
  static std::string codeOf(const QComboBox* combo);
  data::Library& lib_;
  data::DurationStatistics& stats_;
  std::optional<data::SongForm> loaded_;  // what the record held at load: fields the form does not show, and what edits are measured against
  int station_ = 0;
  int choicesStation_ = 0;  // the station whose artists and categories the combos hold
  int artistChoices_ = 0, categoryChoices_ = 0;  // entries from the lists, the empty one included
  QLabel* code_;
  QLineEdit* title_;
  QLineEdit* shortTitle_;
  QComboBox* artist1_;
  QComboBox* artist2_;
  QComboBox* category_;
  QSpinBox* duration_;
  QLabel* durationText_;
  QCheckBox* forced_;
  QSpinBox* forcedSeconds_;
  QCheckBox* playable_;
  QCheckBox* allStations_;
  QPushButton* save_;
};

}  // namespace sono::ui
