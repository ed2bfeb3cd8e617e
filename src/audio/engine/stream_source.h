// A sound queued on a stream: its reader, its play plan and the ring of
// decoded frames. The feeder (the decoding side) fills the ring ahead of the
// real-time thread, following the range and the loop, so the render callback
// only copies floats: it never decodes, allocates, blocks or takes a lock.
// Once a quarter of the ring is free the render side asks the feeder for
// data through its `FeedSignal`, once until the next feed.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/codec/sound_reader.h"

namespace sono::audio {

enum class FadeCurve { Linear = 1, Logarithmic = 2 };

// Everything in sample frames at the device rate.
struct PlayPlan {
  int64_t start = 0;      // first frame played
  int64_t end = 0;        // frame after the last one played
  int64_t loopStart = 0;  // where a loop goes back to
  bool loop = false;
  int64_t fadeIn = 0;
  int64_t fadeOut = 0;    // before the end of the range (ignored when looping)
  float gain = 1.0f;       // the stream's level as a factor
  FadeCurve curve = FadeCurve::Linear;
  // Frames of one pass, and of each later pass when looping.
  int64_t firstPass() const { return end - start; }
  int64_t loopPass() const { return end - loopStart; }
  // Position in the file after `consumed` frames were played.
  int64_t positionAfter(int64_t consumed) const;
  // Frames left to play after `consumed` (-1: a loop never ends).
  int64_t remainingAfter(int64_t consumed) const;
};

// How a render thread wakes the feeder without a lock: a counter raised and
// notified (no system call while nobody waits), which the feeder waits on
// to change from the value it read before it last looked at the rings.
class FeedSignal {
 public:
  void raise() noexcept {
    count_.fetch_add(1, std::memory_order_release);
    count_.notify_one();
  }
  uint32_t value() const noexcept { return count_.load(std::memory_order_acquire); }
  void waitForRaise(uint32_t seen) const noexcept { count_.wait(seen, std::memory_order_acquire); }

 private:
  std::atomic<uint32_t> count_{0};
};

// Gain of a fade at step `i` of `n` (0 = silent end, n = full level).
float FadeGain(FadeCurve curve, int64_t i, int64_t n);

class StreamSource {
 public:
  StreamSource(std::unique_ptr<SoundReader> reader, const PlayPlan& plan, size_t ringFrames);
  StreamSource(const StreamSource&) = delete;
  StreamSource& operator=(const StreamSource&) = delete;

  // --- feeder side: decodes until the ring is full or the range is done.
  void feed();
  // From now on the render side raises `signal` when the ring wants data
  // (set before the source reaches the render side).
  void askDataFrom(FeedSignal* signal) { signal_ = signal; }
  // --- real-time side
  size_t readable() const {
    return written_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed);
  }
  // Copies up to `frames` frames into `dst` (stereo interleaved).
  size_t read(float* dst, size_t frames);
  // The decoder has nothing more to give (end of range or decoding error).
  bool drained() const { return done_.load(std::memory_order_acquire) && readable() == 0; }
  bool failed() const { return failed_.load(std::memory_order_acquire); }

  const PlayPlan& plan() const { return plan_; }

 private:
  std::unique_ptr<SoundReader> reader_;
  const PlayPlan plan_;
  const size_t capacity_;  // frames, a power of two
  std::unique_ptr<float[]> ring_;
  int64_t filePos_;        // next frame the feeder reads
  alignas(64) std::atomic<size_t> written_{0};
  alignas(64) std::atomic<size_t> read_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> failed_{false};
  FeedSignal* signal_ = nullptr;
  std::atomic<bool> asked_{false};  // a request is pending since the last feed
};

}  // namespace sono::audio
