// The conversion queue's tab (fpSpreadConversion): its three sheets as
// tables, filled from the core's ConversionQueue each time it changes.
#pragma once
#include <QTabWidget>
#include <QTableWidget>
#include <array>

#include "convert/conversion_queue.h"

namespace sono::ui {

class ConversionPanel : public QTabWidget {
 public:
  explicit ConversionPanel(QWidget* parent = nullptr);
  void refresh(const convert::ConversionQueue& queue);
  QTableWidget* sheet(convert::QueueSheet s) const { return sheets_[static_cast<size_t>(s)]; }

 private:
  std::array<QTableWidget*, convert::kQueueSheets> sheets_{};
};

}  // namespace sono::ui
