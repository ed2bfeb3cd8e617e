#include "audio/engine/stream_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sono::audio {

int64_t PlayPlan::positionAfter(int64_t consumed) const {
  if (consumed < firstPass()) return start + consumed;
  if (!loop || loopPass() <= 0) return end;
  return loopStart + (consumed - firstPass()) % loopPass();
}

int64_t PlayPlan::remainingAfter(int64_t consumed) const {
  if (loop) return -1;
  return std::max<int64_t>(0, firstPass() - consumed);
}

float FadeGain(FadeCurve curve, int64_t i, int64_t n) {
  if (n <= 0 || i >= n) return 1.0f;
  if (i <= 0) return 0.0f;
  const float x = static_cast<float>(i) / static_cast<float>(n);
  if (curve == FadeCurve::Logarithmic) {
    // Straight in decibels from -60 dB to 0 dB.
    return std::pow(10.0f, (x - 1.0f) * 3.0f);
  }
  return x;
}

static size_t RoundUpPow2(size_t n) {
  size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

StreamSource::StreamSource(std::unique_ptr<SoundReader> reader, const PlayPlan& plan,
                           size_t ringFrames)
    : reader_(std::move(reader)),
      plan_(plan),
      capacity_(RoundUpPow2(ringFrames)),
      ring_(std::make_unique<float[]>(capacity_ * 2)),
      filePos_(plan.start) {
  if (!reader_->seekFrame(plan_.start)) {
    failed_.store(true);
    done_.store(true);
  }
}

void StreamSource::feed() {
  // Cleared before the ring is looked at: what the render side takes from
  // here on asks again.
  asked_.store(false, std::memory_order_seq_cst);
  if (done_.load(std::memory_order_relaxed)) return;
  while (true) {
    const size_t w = written_.load(std::memory_order_relaxed);
    const size_t space = capacity_ - (w - read_.load(std::memory_order_acquire));
    if (space == 0) return;
    if (filePos_ >= plan_.end) {
      if (!plan_.loop || plan_.loopPass() <= 0) {
        done_.store(true, std::memory_order_release);
        return;
      }
      if (!reader_->seekFrame(plan_.loopStart)) {
        failed_.store(true);
        done_.store(true, std::memory_order_release);
        return;
      }
      filePos_ = plan_.loopStart;
    }
    // Contiguous room up to the ring's wrap, the range's end and the space.
    const size_t at = w & (capacity_ - 1);
    size_t n = std::min(space, capacity_ - at);
    n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), plan_.end - filePos_));
    const long got = reader_->readStereo(ring_.get() + at * 2, static_cast<long>(n));
    if (got <= 0) {
      // The file ends early or cannot be decoded: what was read still plays.
      if (got < 0) failed_.store(true);
      done_.store(true, std::memory_order_release);
      return;
    }
    filePos_ += got;
    written_.store(w + static_cast<size_t>(got), std::memory_order_release);
  }
}

size_t StreamSource::read(float* dst, size_t frames) {
  const size_t r = read_.load(std::memory_order_relaxed);
  const size_t avail = written_.load(std::memory_order_acquire) - r;
  const size_t n = std::min(frames, avail);
  const size_t at = r & (capacity_ - 1);
  const size_t first = std::min(n, capacity_ - at);
  std::memcpy(dst, ring_.get() + at * 2, first * 2 * sizeof(float));
  if (n > first) std::memcpy(dst + first * 2, ring_.get(), (n - first) * 2 * sizeof(float));
  read_.store(r + n, std::memory_order_release);
  if (signal_ && avail - n + capacity_ / 4 <= capacity_ && !done_.load(std::memory_order_acquire) &&
      !asked_.exchange(true, std::memory_order_seq_cst))
    signal_->raise();
  return n;
}

}  // namespace sono::audio
