// The editor's tape-recorder bar: one button per play button of the
// audition deck (Stop, Play, PlayIn, PlayOut, Pause, PlayFadeIn,
// PlayFadeOut, PlayFrom) with their keys, the pre-roll and post-roll, the
// chronometer (a double click plays from the play position) and the
// captions of the range played; the mixing audition's drop-down (start mix
// Shift+F7, end mix Shift+F8) with the code of the song to mix with; the
// range list's drop-down "Plages (N)": add the strip selection (Insert),
// fill it with the steps or with the selection outside them, empty it
// (Ctrl+Shift+Delete), play it item after item (Ctrl+Shift+L), its items
// listed below. Every action is the deck's.
#pragma once
#include <QAction>
#include <QDoubleSpinBox>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "editor/audition_deck.h"

namespace sono::ui {

class PictureLabel;

class AuditionBar : public QWidget {
 public:
  AuditionBar(editor::AuditionDeck* deck, QWidget* parent);
  // Puts the bar's keys on `keys` (the panel, so that they work wherever
  // the focus is inside it).
  void addKeys(QWidget* keys);
  // Shows the deck's state.
  void refresh(bool soundLoaded);
  // Told after every action (the panel shows its views again).
  std::function<void()> changed;
  // The song a code names, for the mixing audition (the panel reads the library).
  std::function<std::optional<editor::MixSong>(const std::string& code)> findMixSong;
  // The mixing audition: the start mix or the end mix against the song in the code box.
  void mix(bool startOfSound);
  QLineEdit* mixCode() const { return mixCode_; }
  // The steps' ranges for the range list (the panel's steps): the steps
  // themselves, or (`outside`) the strip selection's stretches outside them.
  std::function<std::vector<std::pair<int, int>>(bool outside)> stepRanges;
  enum class ListEntry { AddSelection, Steps, OutsideSteps, Clear, Play };
  QAction* listAction(ListEntry entry) const { return listActions_[static_cast<size_t>(entry)]; }
  QToolButton* listButton() const { return list_; }
  void listCommand(ListEntry entry);
  QToolButton* mixButton() const { return mix_; }

  QToolButton* button(editor::PlayButton b) const;
  QDoubleSpinBox* preRoll() const { return preRoll_; }
  QDoubleSpinBox* postRoll() const { return postRoll_; }
  QLabel* chronometer() const;
  QLabel* rangeCaption() const { return range_; }
  PictureLabel* chronometerLabel() const { return chrono_; }
  void press(editor::PlayButton b);

 private:
  editor::AuditionDeck* deck_;
  std::array<QToolButton*, 10> buttons_{};
  QDoubleSpinBox* preRoll_;
  QDoubleSpinBox* postRoll_;
  PictureLabel* chrono_;
  QLabel* range_;
  QToolButton* mix_;
  QLineEdit* mixCode_;
  QToolButton* list_;
  QMenu* listMenu_;
  std::array<QAction*, 5> listActions_{};
  std::vector<QAction*> listItems_;  // the items shown under the entries
  void showList();
  bool updating_ = false;
};

}  // namespace sono::ui
