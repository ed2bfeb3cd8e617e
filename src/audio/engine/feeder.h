// The feeder: the thread that decodes ahead of the render threads. It owns the
// sources of the loaded streams (each with its ring of decoded frames) and
// sleeps until a render thread asks for data (`FeedSignal`): a ring with a
// quarter of its room free asks once, and the feeder fills every ring it
// feeds. It never polls.
//
// Locks: `mutex_` guards the list of thread-fed sources only; the logic
// thread holds it to add or remove one, the feeder thread to copy the list,
// and nobody decodes under it. A source removed while it is being decoded is
// freed by the feeder thread once that decode ends. The render threads take
// no lock: they read the rings and raise the signal, both lock-free.
//
// Sources of a device that renders on request (the virtual device) are fed
// by the caller before each rendered block instead (`feedCallerSide`), so that
// its renders stay deterministic; they never reach the thread.
#pragma once
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/engine/stream_source.h"

namespace sono::audio {

enum class FeedSide { Caller, Thread };

class Feeder {
 public:
  Feeder() = default;
  ~Feeder() { stopThread(); }
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;

  // --- logic thread
  // Takes a primed source; a thread-fed one asks this feeder for data.
  StreamSource* add(std::unique_ptr<StreamSource> source, FeedSide side);
  // Lets go of a source the render side no longer reads.
  void remove(StreamSource* source);
  // Decodes ahead for every caller-fed source, on the calling thread.
  void feedCallerSide();
  // The thread starts with the first device that renders on its own and
  // stays until stopThread (the destructor stops it too).
  void startThread();
  void stopThread();
  bool threadRunning() const { return thread_.joinable(); }

 private:
  void run();

  std::vector<std::unique_ptr<StreamSource>> callerFed_;  // logic thread only
  std::mutex mutex_;
  std::vector<std::shared_ptr<StreamSource>> threadFed_;  // guarded by mutex_
  bool quit_ = false;                                     // guarded by mutex_
  FeedSignal signal_;
  std::thread thread_;
};

}  // namespace sono::audio
