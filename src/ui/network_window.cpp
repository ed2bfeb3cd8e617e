#include "ui/network_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/text.h"

namespace sono::ui {

namespace {
constexpr const char* kColumnTitles[notify::kTargetFields] = {"IP", "Port A", "Port B", "Port C", "Port D"};
}

NetworkWindow::NetworkWindow(notify::NetworkSetup& setup, QWidget* parent) : QDialog(parent), setup_(setup) {
  setObjectName("FrmSetupReseau");
  setWindowTitle(QString::fromUtf8(notify::kNetworkWindowTitle));
  table_ = new QTableWidget(notify::kTargetRows, notify::kTargetFields, this);
  table_->setObjectName("TableauUDP");
  QStringList titles;
  for (const char* t : kColumnTitles) titles << QString::fromUtf8(t);
  table_->setHorizontalHeaderLabels(titles);
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  save_ = new QPushButton(QString::fromUtf8("&Enregistrer"), this);
  save_->setObjectName("BtnEnregistrer");
  auto* close = new QPushButton(QString::fromUtf8("&Fermer"), this);
  close->setObjectName("BtnFermer");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addLayout(buttons);
  resize(640, 330);

  setup_.Open();
  fill();
  connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_) return;
    const auto field = static_cast<notify::TargetField>(item->column());
    setup_.SetCell(item->row(), field, item->text().toStdString());
    // The cell shows what the model holds: the value as kept (trimmed) or the old one.
    filling_ = true;
    item->setText(QString::fromStdString(setup_.cell(item->row(), field)));
    filling_ = false;
  });
  connect(save_, &QPushButton::clicked, this, [this] { setup_.Save(); });
  connect(close, &QPushButton::clicked, this, &NetworkWindow::reject);
}

void NetworkWindow::fill() {
  filling_ = true;
  for (int row = 0; row < notify::kTargetRows; ++row)
    for (int f = 0; f < notify::kTargetFields; ++f)
      table_->setItem(row, f,
                      new QTableWidgetItem(QString::fromStdString(setup_.cell(row, static_cast<notify::TargetField>(f)))));
  filling_ = false;
}

void NetworkWindow::reject() {
  if (setup_.Close()) QDialog::reject();
}

PendingNotificationsDock::PendingNotificationsDock(notify::Notifier& notifier, QWidget* parent)
    : QDockWidget(QString::fromUtf8("Notifications UDP en attente"), parent), notifier_(notifier) {
  setObjectName("DockListeUDP");
  setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  auto* lists = new QWidget(this);
  times_ = new QListWidget(lists);
  times_->setObjectName("ListeUDPHeure");
  codes_ = new QListWidget(lists);
  codes_->setObjectName("ListeUDPCode");
  auto* layout = new QHBoxLayout(lists);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(times_);
  layout->addWidget(codes_);
  setWidget(lists);
  hide();
}

void PendingNotificationsDock::refresh() {
  times_->clear();
  codes_->clear();
  for (const auto& [time, code] : notifier_.DisplayRows()) {
    times_->addItem(QString::fromStdString(time));
    codes_->addItem(QString::fromStdString(Cp1252ToUtf8(code)));
  }
  setVisible(notifier_.DisplayVisible());
}

}  // namespace sono::ui
