#include "core/scheduler.h"

#include <vector>

namespace sono {

void ClockScheduler::add(const std::string& name, int intervalMs, bool enabled,
                         std::function<void()> work) {
  timers_[name] = Timer{intervalMs, enabled, clock_.tickMs(), std::move(work)};
}

void ClockScheduler::setInterval(const std::string& name, int intervalMs) {
  auto it = timers_.find(name);
  if (it == timers_.end()) return;
  it->second.intervalMs = intervalMs;
  it->second.lastFired = clock_.tickMs();  // a new interval counts from now, as a timer does
}

void ClockScheduler::setEnabled(const std::string& name, bool enabled) {
  auto it = timers_.find(name);
  if (it == timers_.end()) return;
  if (enabled && !it->second.enabled) it->second.lastFired = clock_.tickMs();
  it->second.enabled = enabled;
}

bool ClockScheduler::isEnabled(const std::string& name) const {
  auto it = timers_.find(name);
  return it != timers_.end() && it->second.enabled;
}

int ClockScheduler::interval(const std::string& name) const {
  auto it = timers_.find(name);
  return it == timers_.end() ? 0 : it->second.intervalMs;
}

int ClockScheduler::runDue() {
  int fired = 0;
  const uint64_t now = clock_.tickMs();
  // Copy the names first: a timer's work may add, enable or disable timers.
  std::vector<std::string> due;
  for (auto& [name, t] : timers_)
    if (t.enabled && t.intervalMs > 0 && now - t.lastFired >= static_cast<uint64_t>(t.intervalMs))
      due.push_back(name);
  for (const auto& name : due) {
    auto it = timers_.find(name);
    if (it == timers_.end() || !it->second.enabled) continue;
    it->second.lastFired = now;
    if (it->second.work) {
      auto work = it->second.work;
      work();
    }
    ++fired;
  }
  return fired;
}

}  // namespace sono
