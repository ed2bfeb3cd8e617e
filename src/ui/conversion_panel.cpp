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
  connect(sheets_[0], &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || item->column() != convert::kSendUdpColumn || !onSendUdpSwitched) return;
    onSendUdpSwitched(item->row(), item->checkState() == Qt::Checked);
  });
}

void ConversionPanel::refresh(const convert::ConversionQueue& queue) {
  filling_ = true;
  for (int i = 0; i < convert::kQueueSheets; ++i) {
    const auto sheet = static_cast<convert::QueueSheet>(i);
    QTableWidget* table = sheets_[static_cast<size_t>(i)];
    const auto& rows = queue.sheet(sheet);
    table->setRowCount(static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
      const auto cells = rows[r].cells(sheet);
      for (int c = 0; c < convert::kQueueColumns; ++c) {
        // Items are updated in place: a switched check box is the item whose
        // signal is being handled when the queue asks for this refresh.
        QTableWidgetItem* item = table->item(static_cast<int>(r), c);
        if (!item) table->setItem(static_cast<int>(r), c, item = new QTableWidgetItem);
        item->setText(QString::fromStdString(cells[static_cast<size_t>(c)]));
        const bool checkable =
            sheet == convert::QueueSheet::ToConvert && c == convert::kSendUdpColumn && !rows[r].isExport;
        item->setFlags(checkable ? item->flags() | Qt::ItemIsUserCheckable : item->flags() & ~Qt::ItemIsUserCheckable);
        if (checkable) item->setCheckState(rows[r].sendUdp ? Qt::Checked : Qt::Unchecked);
        else item->setData(Qt::CheckStateRole, QVariant());
      }
    }
  }
  filling_ = false;
}

}  // namespace sono::ui
