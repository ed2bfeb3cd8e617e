// The conversion queue's tab (fpSpreadConversion): its three sheets as
// tables, filled from the core's ConversionQueue each time it changes. The
// "Send UDP" cell of a row still to convert is a check box.
#pragma once
#include <QTabWidget>
#include <QTableWidget>
#include <array>
#include <functional>

#include "convert/conversion_queue.h"

namespace sono::ui {

class ConversionPanel : public QTabWidget {
 public:
  explicit ConversionPanel(QWidget* parent = nullptr);
  void refresh(const convert::ConversionQueue& queue);
  QTableWidget* sheet(convert::QueueSheet s) const { return sheets_[static_cast<size_t>(s)]; }
  // The user switched a waiting row's "Send UDP" (row of the first sheet).
  std::function<void(int row, bool on)> onSendUdpSwitched;

 private:
  bool filling_ = false;
  std::array<QTableWidget*, convert::kQueueSheets> sheets_{};
};

}  // namespace sono::ui
