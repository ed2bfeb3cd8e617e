#include "audio/engine/feeder.h"

#include <algorithm>

namespace sono::audio {

StreamSource* Feeder::add(std::unique_ptr<StreamSource> source, FeedSide side) {
  StreamSource* raw = source.get();
  if (side == FeedSide::Caller) {
    callerFed_.push_back(std::move(source));
    return raw;
  }
  raw->askDataFrom(&signal_);
  {
    std::lock_guard lock(mutex_);
    threadFed_.push_back(std::shared_ptr<StreamSource>(std::move(source)));
  }
  return raw;
}

void Feeder::remove(StreamSource* source) {
  auto owned = std::find_if(callerFed_.begin(), callerFed_.end(),
                            [source](const auto& s) { return s.get() == source; });
  if (owned != callerFed_.end()) {
    callerFed_.erase(owned);
    return;
  }
  std::shared_ptr<StreamSource> last;  // freed here, after the lock, unless a decode holds it
  std::lock_guard lock(mutex_);
  auto shared = std::find_if(threadFed_.begin(), threadFed_.end(),
                             [source](const auto& s) { return s.get() == source; });
  if (shared == threadFed_.end()) return;
  last = std::move(*shared);
  threadFed_.erase(shared);
}

void Feeder::feedCallerSide() {
  for (auto& s : callerFed_) s->feed();
}

void Feeder::startThread() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = false;
  }
  thread_ = std::thread([this] { run(); });
}

void Feeder::stopThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  signal_.raise();
  thread_.join();
}

void Feeder::run() {
  std::vector<std::shared_ptr<StreamSource>> batch;
  while (true) {
    // Read before the rings are looked at: a request raised from here on
    // ends the wait below at once.
    const uint32_t seen = signal_.value();
    {
      std::lock_guard lock(mutex_);
      if (quit_) return;
      batch = threadFed_;
    }
    for (auto& s : batch) s->feed();
    batch.clear();  // a source removed meanwhile is freed here
    signal_.waitForRaise(seen);
  }
}

}  // namespace sono::audio
