// FrmPlayer: the small pre-listen window. A file (chosen, or dropped on the
// window), the three images "Play", "Pause" and "Stop" calling the deck's
// `PreEcouteSon` with their numbers, and the position in the file. Closing
// it writes "0" to key "Actif" of section "FrmPlayer" in the library
// settings file (showing it writes "1").
#pragma once
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>

#include "editor/audition_deck.h"

namespace sono::ui {

class PlayerWindow : public QWidget {
 public:
  static constexpr const char* kSection = "FrmPlayer";
  static constexpr const char* kKey = "Actif";
  PlayerWindow(editor::AuditionDeck& deck, std::function<std::string()> settingsFile, QWidget* parent);
  void setFile(const std::string& file);
  // Shows the deck's state (the position, the play image's tag).
  void refresh();
  QPushButton* play() const { return play_; }
  QPushButton* pause() const { return pause_; }
  QPushButton* stop() const { return stop_; }
  QLabel* position() const { return position_; }
  QLabel* file() const { return file_; }
  QLabel* message() const { return message_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void act(editor::AuditionDeck::PreListen action);
  void writeShown(bool shown);
  editor::AuditionDeck& deck_;
  std::function<std::string()> settingsFile_;
  QPushButton* play_;
  QPushButton* pause_;
  QPushButton* stop_;
  QLabel* file_;
  QLabel* position_;
  QLabel* message_;
};

}  // namespace sono::ui
