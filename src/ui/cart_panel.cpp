#include "ui/cart_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}

CartPanel::CartPanel(data::Cartouchier& carts, QWidget* parent) : QWidget(parent), carts_(carts) {
  setObjectName("Cartouchier");
  auto* layout = new QVBoxLayout(this);
  table_ = new QTableWidget(data::Cartouchier::size(), 2, this);
  table_->setObjectName("TableCartouches");
  table_->setHorizontalHeaderLabels({QString::fromUtf8("Code"), QString::fromUtf8("Titre")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setColumnWidth(0, 80);
  for (int row = 0; row < data::Cartouchier::size(); ++row) {
    table_->setVerticalHeaderItem(row, new QTableWidgetItem(QString::number(row + 1)));
    table_->setItem(row, 0, new QTableWidgetItem());
    table_->setItem(row, 1, new QTableWidgetItem());
  }
  load_ = new QPushButton(QString::fromUtf8("Charger"), this);
  load_->setObjectName("BtnCartCharger");
  load_->setToolTip(QString::fromUtf8("Met le morceau sélectionné dans la cartouche sélectionnée"));
  eject_ = new QPushButton(QString::fromUtf8("Éjecter"), this);
  eject_->setObjectName("BtnCartEjecter");
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(load_);
  buttons->addWidget(eject_);
  buttons->addStretch(1);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  connect(load_, &QPushButton::clicked, this, [this] { Charger(); });
  connect(eject_, &QPushButton::clicked, this, [this] { Ejecter(); });
}

void CartPanel::refresh() {
  for (int row = 0; row < data::Cartouchier::size(); ++row) {
    const data::Cartouchier::Slot& s = carts_.slot(row);
    table_->item(row, 0)->setText(q(s.code));
    QTableWidgetItem* title = table_->item(row, 1);
    title->setText(s.empty() ? QString() : s.found ? q(s.title) : QString::fromUtf8("(morceau non trouvé)"));
    title->setForeground(s.empty() || s.found ? palette().text() : QBrush(Qt::gray));
  }
}

void CartPanel::Charger() {
  const std::string code = selectedSong ? selectedSong() : std::string();
  if (code.empty()) return;
  carts_.Charger(carts_.SlotFor(table_->currentRow()), code);
  refresh();
}

void CartPanel::Ejecter() {
  const int slot = table_->currentRow();
  if (slot < 0) return;
  carts_.Ejecter(slot);
  refresh();
}

}  // namespace sono::ui
