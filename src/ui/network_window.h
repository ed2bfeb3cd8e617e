// The network window (`FrmSetupReseau`) over its model, and the main window's
// two lists of pending notifications (due time and song code).
#pragma once
#include <QDialog>
#include <QDockWidget>

#include "notify/network_setup.h"

class QListWidget;
class QPushButton;
class QTableWidget;

namespace sono::ui {

class NetworkWindow : public QDialog {
 public:
  NetworkWindow(notify::NetworkSetup& setup, QWidget* parent = nullptr);
  QTableWidget* table() const { return table_; }
  QPushButton* saveButton() const { return save_; }
  // The window asks before closing with unsaved edits (Cancel keeps it open).
  void reject() override;

 private:
  void fill();
  notify::NetworkSetup& setup_;
  QTableWidget* table_;
  QPushButton* save_;
  bool filling_ = false;
};

class PendingNotificationsDock : public QDockWidget {
 public:
  PendingNotificationsDock(notify::Notifier& notifier, QWidget* parent = nullptr);
  // Shows the queue as it is now; hidden when it is empty.
  void refresh();
  QListWidget* times() const { return times_; }
  QListWidget* codes() const { return codes_; }

 private:
  notify::Notifier& notifier_;
  QListWidget* times_;
  QListWidget* codes_;
};

}  // namespace sono::ui
