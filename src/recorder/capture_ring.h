// The hand-over from the capture thread to the take's writer thread: a
// single-producer, single-consumer ring of interleaved stereo floats. The
// producer never blocks on it: what does not fit is refused (a live input
// counts it as lost, a file input waits for room). Both sides wait on
// counters that the other side bumps (C++20 atomic wait: a futex, no lock).
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace sono::recorder {

class CaptureRing {
 public:
  explicit CaptureRing(int64_t capacityFrames)
      : capacity_(capacityFrames), data_(static_cast<size_t>(capacityFrames) * 2) {}

  int64_t capacity() const { return capacity_; }
  int64_t readable() const { return written_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed); }
  int64_t writable() const { return capacity_ - (written_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire)); }

  // Producer: copies in as many of `frames` as fit; returns how many did.
  int64_t push(const float* stereo, int64_t frames) {
    const int64_t n = std::min(frames, writable());
    const int64_t w = written_.load(std::memory_order_relaxed);
    for (int64_t i = 0; i < n; ++i) {
      const size_t at = static_cast<size_t>((w + i) % capacity_) * 2;
      data_[at] = stereo[2 * i];
      data_[at + 1] = stereo[2 * i + 1];
    }
    written_.store(w + n, std::memory_order_release);
    wake(dataSignal_);
    return n;
  }

  // Consumer: copies out up to `frames`; returns how many.
  int64_t pop(float* stereo, int64_t frames) {
    const int64_t n = std::min(frames, readable());
    const int64_t r = read_.load(std::memory_order_relaxed);
    for (int64_t i = 0; i < n; ++i) {
      const size_t at = static_cast<size_t>((r + i) % capacity_) * 2;
      stereo[2 * i] = data_[at];
      stereo[2 * i + 1] = data_[at + 1];
    }
    read_.store(r + n, std::memory_order_release);
    wake(spaceSignal_);
    return n;
  }

  // Waits for the other side; `seen` is the signal's value read before
  // checking the condition, so a wake-up in between is not missed.
  uint32_t dataSignal() const { return dataSignal_.load(std::memory_order_acquire); }
  uint32_t spaceSignal() const { return spaceSignal_.load(std::memory_order_acquire); }
  void waitData(uint32_t seen) const { dataSignal_.wait(seen, std::memory_order_acquire); }
  void waitSpace(uint32_t seen) const { spaceSignal_.wait(seen, std::memory_order_acquire); }
  // Wakes both sides (the input ended, or a stop was asked).
  void wakeAll() {
    wake(dataSignal_);
    wake(spaceSignal_);
  }

 private:
  static void wake(std::atomic<uint32_t>& s) {
    s.fetch_add(1, std::memory_order_release);
    s.notify_all();
  }
  const int64_t capacity_;
  std::vector<float> data_;
  std::atomic<int64_t> written_{0}, read_{0};
  std::atomic<uint32_t> dataSignal_{0}, spaceSignal_{0};
};

}  // namespace sono::recorder
