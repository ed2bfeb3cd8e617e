#include "audio/player/tempo_reader.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>

namespace sono::audio {

namespace {

constexpr long kChunk = 1024;  // frames handed to the stretcher at a time

}  // namespace

// --- TempoState

void TempoState::addSegment(int64_t out, double inPerOut) {
  std::lock_guard lock(mutex_);
  const double in = segments_.empty() ? 0.0 : inputAt(out);
  segments_.push_back({out, in, inPerOut});
}

double TempoState::inputAt(int64_t out) const {
  if (segments_.empty()) return static_cast<double>(out);
  auto it = std::upper_bound(segments_.begin(), segments_.end(), out,
                             [](int64_t o, const Segment& s) { return o < s.out0; });
  const Segment& s = it == segments_.begin() ? segments_.front() : *(it - 1);
  return s.in0 + static_cast<double>(out - s.out0) * s.inPerOut;
}

int64_t TempoState::filePositionAt(int64_t played) const {
  double v;
  {
    std::lock_guard lock(mutex_);
    v = inputAt(played);
  }
  // Never ahead of what the reader took from the file.
  v = std::clamp(v, 0.0, static_cast<double>(read_.load(std::memory_order_acquire)));
  const int64_t len = end_ - start_;
  if (len <= 0) return start_;
  if (loop_) return start_ + static_cast<int64_t>(std::fmod(v, static_cast<double>(len)));
  return std::min(end_, start_ + static_cast<int64_t>(v));
}

// --- TempoReader

TempoReader::TempoReader(std::unique_ptr<SoundReader> file, int64_t start, int64_t end, bool loop,
                         int outRate, std::shared_ptr<TempoState> state)
    : file_(std::move(file)),
      state_(std::move(state)),
      start_(start),
      end_(end),
      loop_(loop),
      fileRate_(file_->format().sampleRate),
      outRate_(outRate),
      pos_(start) {
  format_ = file_->format();
  format_.sampleRate = outRate;
  format_.lengthFrames = kEndless;
  inter_.resize(kChunk * 2);
  left_.resize(kChunk);
  right_.resize(kChunk);
  ok_ = end_ > start_ && fileRate_ > 0 && file_->seekFrame(start_);
  applied_ = state_->tempo();
  if (ok_ && (applied_ != 0 || fileRate_ != outRate_)) ok_ = startStretcher();
  state_->addSegment(0, inPerOut(applied_));
}

TempoReader::~TempoReader() = default;

double TempoReader::inPerOut(double tempo) const {
  return (100.0 + tempo) / 100.0 * fileRate_ / outRate_;
}

bool TempoReader::startStretcher() {
  using RB = RubberBand::RubberBandStretcher;
  // Real-time mode so the tempo can change while playing; the faster engine
  // and no threads of its own: the decoding side has one thread for everything.
  const RB::Options options = RB::OptionProcessRealTime | RB::OptionEngineFaster |
                              RB::OptionThreadingNever | RB::OptionPitchHighQuality;
  const double pitch = static_cast<double>(fileRate_) / outRate_;
  stretcher_ = std::make_unique<RB>(static_cast<size_t>(fileRate_), 2, options,
                                    1.0 / inPerOut(applied_), pitch);
  stretcher_->setMaxProcessSize(kChunk);
  // Silence ahead of the sound, then drop the delay, so that output frame 0
  // is the range's first frame.
  std::fill(left_.begin(), left_.end(), 0.0f);
  std::fill(right_.begin(), right_.end(), 0.0f);
  float* ptrs[2] = {left_.data(), right_.data()};
  for (size_t pad = stretcher_->getPreferredStartPad(); pad > 0;) {
    const size_t n = std::min<size_t>(pad, kChunk);
    stretcher_->process(ptrs, n, false);
    pad -= n;
  }
  toDrop_ = static_cast<int64_t>(stretcher_->getStartDelay());
  return true;
}

long TempoReader::readRange(float* out, long frames) {
  long total = 0;
  while (total < frames && !rangeDone_) {
    if (pos_ >= end_) {
      if (!loop_ || end_ <= start_ || !file_->seekFrame(start_)) {
        rangeDone_ = true;
        break;
      }
      pos_ = start_;
    }
    const long want = static_cast<long>(std::min<int64_t>(frames - total, end_ - pos_));
    const long got = file_->readStereo(out + total * 2, want);
    if (got < 0) return total > 0 ? total : -1;
    if (got == 0) {
      // The file is shorter than its header said: its end is the range's end.
      if (pos_ == start_) rangeDone_ = true;
      end_ = pos_;
      continue;
    }
    pos_ += got;
    total += got;
  }
  taken_ += total;
  return total;
}

long TempoReader::readStretched(float* out, long frames) {
  float* ptrs[2] = {left_.data(), right_.data()};
  long done = 0;
  while (done < frames) {
    const int avail = stretcher_->available();
    if (avail < 0) break;  // everything given
    if (avail > 0) {
      size_t n = std::min<size_t>(static_cast<size_t>(avail), kChunk);
      if (toDrop_ > 0) {
        n = std::min<size_t>(n, static_cast<size_t>(toDrop_));
        stretcher_->retrieve(ptrs, n);
        toDrop_ -= static_cast<int64_t>(n);
        continue;
      }
      n = std::min<size_t>(n, static_cast<size_t>(frames - done));
      const size_t got = stretcher_->retrieve(ptrs, n);
      for (size_t i = 0; i < got; ++i) {
        out[(done + i) * 2] = left_[i];
        out[(done + i) * 2 + 1] = right_[i];
      }
      done += static_cast<long>(got);
      if (got == 0) break;
      continue;
    }
    if (finalSent_) break;
    size_t need = stretcher_->getSamplesRequired();
    need = std::clamp<size_t>(need, 64, kChunk);
    const long got = readRange(inter_.data(), static_cast<long>(need));
    if (got < 0) return done > 0 ? done : -1;
    for (long i = 0; i < got; ++i) {
      left_[i] = inter_[2 * i];
      right_[i] = inter_[2 * i + 1];
    }
    finalSent_ = got == 0;
    stretcher_->process(ptrs, static_cast<size_t>(got), finalSent_);
  }
  return done;
}

long TempoReader::readStereo(float* out, long frames) {
  if (!ok_) return -1;
  const double tempo = state_->tempo();
  if (tempo != applied_) {
    applied_ = tempo;
    if (!stretcher_) {
      if (!startStretcher()) return -1;
    } else {
      stretcher_->setTimeRatio(1.0 / inPerOut(tempo));
    }
    state_->addSegment(produced_, inPerOut(tempo));
  }
  const long got = stretcher_ ? readStretched(out, frames) : readRange(out, frames);
  if (got > 0) produced_ += got;
  state_->setRead(taken_);
  return got;
}

}  // namespace sono::audio
