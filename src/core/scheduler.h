// Timers driven by a Clock: `runDue` fires every enabled timer whose interval
// has elapsed since it last fired (or since it was enabled). The command line
// calls it from its loop; tests call it after advancing a manual clock.
#pragma once
#include <map>

#include "core/ports.h"

namespace sono {

class ClockScheduler : public Scheduler {
 public:
  explicit ClockScheduler(Clock& clock) : clock_(clock) {}
  void add(const std::string& name, int intervalMs, bool enabled,
           std::function<void()> work) override;
  void setInterval(const std::string& name, int intervalMs) override;
  void setEnabled(const std::string& name, bool enabled) override;
  bool isEnabled(const std::string& name) const override;
  int interval(const std::string& name) const override;
  // Fires each due timer once; returns how many fired.
  int runDue();

 private:
  struct Timer {
    int intervalMs = 0;
    bool enabled = false;
    uint64_t lastFired = 0;
    std::function<void()> work;
  };
  Clock& clock_;
  std::map<std::string, Timer> timers_;
};

}  // namespace sono
