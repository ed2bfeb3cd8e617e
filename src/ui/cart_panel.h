// The cart panel: the slots of the core's Cartouchier, one row each with the
// song's code and title, and two buttons: "Charger" puts the song selected in
// the grid into the selected slot (the first empty one when no slot is
// selected), "Éjecter" empties the selected slot. The panel shows and
// forwards; the slots and their settings belong to the core.
#pragma once
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "data/cartridges.h"

namespace sono::ui {

class CartPanel : public QWidget {
 public:
  explicit CartPanel(data::Cartouchier& carts, QWidget* parent = nullptr);
  // Shows what the slots hold now.
  void refresh();
  // The code of the song selected in the grid (empty when none).
  std::function<std::string()> selectedSong;
  // "Charger" and "Éjecter" on the selected slot.
  void Charger();
  void Ejecter();

  QTableWidget* slotTable() const { return table_; }
  QPushButton* loadButton() const { return load_; }
  QPushButton* ejectButton() const { return eject_; }

 private:
  data::Cartouchier& carts_;
  QTableWidget* table_;
  QPushButton* load_;
  QPushButton* eject_;
};

}  // namespace sono::ui
