#include "ui/conversion_panel.h"

#include <QHeaderView>

namespace sono::ui {

ConversionPanel::ConversionPanel(QWidget* parent) : QTabWidget(parent) {
  setObjectName("fpSpreadConversion");
  for (int i = 0; i < convert::kQueueSheets; ++i) {
    const auto sheet = static_cast<convert::QueueSheet>(i);
    auto* table = new QTableWidget(0, convert::kQueueColumns, this);
    table->setObjectName(QString("fpSpreadConversion%1").arg(i));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList headers;
    for (const auto& h : convert::QueueHeaders(sheet)) headers << QString::fromStdString(h);
    table->setHorizontalHeaderLabels(headers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    sheets_[static_cast<size_t>(i)] = table;
    addTab(table, QString::fromUtf8(convert::kQueueSheetNames[static_cast<size_t>(i)]));
  }
}

void ConversionPanel::refresh(const convert::ConversionQueue& queue) {
  for (int i = 0; i < convert::kQueueSheets; ++i) {
    const auto sheet = static_cast<convert::QueueSheet>(i);
    QTableWidget* table = sheets_[static_cast<size_t>(i)];
    const auto& rows = queue.sheet(sheet);
    table->setRowCount(static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
      const auto cells = rows[r].cells(sheet);
      for (int c = 0; c < convert::kQueueColumns; ++c)
        table->setItem(static_cast<int>(r), c, new QTableWidgetItem(QString::fromStdString(cells[static_cast<size_t>(c)])));
    }
  }
}

}  // namespace sono::ui
