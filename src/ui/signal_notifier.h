// Turns the process's end signals (SIGTERM at shutdown or from a session
// that ends, SIGINT, SIGHUP) into a call on the window thread, so that the
// program closes through its unload sequence rather than dying with its log
// buffer and settings unwritten. The handler only writes the signal's number
// to a socket pair; a notifier reads it in the event loop.
#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

namespace sono::ui {

class SignalNotifier : public QObject {
 public:
  explicit SignalNotifier(std::function<void(const std::string& signalName)> onSignal,
                          QObject* parent = nullptr);
  ~SignalNotifier() override;  // the previous handlers come back

 private:
  void readSignal();
  std::function<void(const std::string&)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace sono::ui
