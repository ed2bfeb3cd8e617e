// The reader a player queues on its engine stream: one range of a sound file
// (looped or not), sped up or slowed down with the pitch kept, at the device
// rate. While the tempo is nominal and the file is at the device rate the
// frames pass through untouched (a range plays exactly its samples); from the
// first tempo change on, they go through Rubber Band. A file at another rate
// always goes through it (duration and pitch kept, rate converted).
//
// The reader runs on the decoding side (the feeder), ahead of what is heard.
// The tempo and the map from played frames back to file positions live in a
// `TempoState` shared with the player on the logic thread, which outlives the
// reader (the engine frees the reader when the stream lets go of it).
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/codec/sound_reader.h"

namespace RubberBand {
class RubberBandStretcher;
}

namespace sono::audio {

class TempoState {
 public:
  TempoState(int64_t start, int64_t end, bool loop) : start_(start), end_(end), loop_(loop) {}
  // Logic thread: the tempo in percent (0 = nominal), applied at the next read.
  void setTempo(double percent) { tempo_.store(percent, std::memory_order_release); }
  double tempo() const { return tempo_.load(std::memory_order_acquire); }
  // File frame heard after `played` output frames of this range.
  int64_t filePositionAt(int64_t played) const;

  // --- reader side
  // From output frame `out` on, one output frame stands for `inPerOut` file frames.
  void addSegment(int64_t out, double inPerOut);
  void setRead(int64_t fileFrames) { read_.store(fileFrames, std::memory_order_release); }

 private:
  struct Segment {
    int64_t out0;
    double in0;
    double inPerOut;
  };
  double inputAt(int64_t out) const;  // mutex held

  const int64_t start_, end_;
  const bool loop_;
  std::atomic<double> tempo_{0.0};
  std::atomic<int64_t> read_{0};  // file frames taken from the range so far (loops counted)
  mutable std::mutex mutex_;
  std::vector<Segment> segments_;
};

class TempoReader : public SoundReader {
 public:
  // Plays file frames [start, end) of `file`; the output is at `outRate`.
  TempoReader(std::unique_ptr<SoundReader> file, int64_t start, int64_t end, bool loop,
              int outRate, std::shared_ptr<TempoState> state);
  ~TempoReader() override;

  // False when the file could not be positioned at the range's start.
  bool ok() const { return ok_; }
  // The stream starts at frame 0 of the range and never seeks.
  bool seekFrame(int64_t frame) override { return frame == 0 && ok_; }
  long readStereo(float* out, long frames) override;

  static constexpr int64_t kEndless = int64_t{1} << 40;  // the plan's end: the reader ends itself

 private:
  long readRange(float* out, long frames);  // the file's frames, range and loop applied
  bool startStretcher();
  double inPerOut(double tempo) const;
  long readStretched(float* out, long frames);

  std::unique_ptr<SoundReader> file_;
  std::shared_ptr<TempoState> state_;
  const int64_t start_;
  int64_t end_;
  const bool loop_;
  const int fileRate_, outRate_;
  bool ok_ = true;
  int64_t pos_;            // next file frame
  int64_t taken_ = 0;      // file frames taken, loops counted
  int64_t produced_ = 0;   // output frames given
  bool rangeDone_ = false;
  double applied_ = 0;     // tempo in force
  std::unique_ptr<RubberBand::RubberBandStretcher> stretcher_;
  int64_t toDrop_ = 0;     // the stretcher's start delay, not heard
  bool finalSent_ = false;
  std::vector<float> inter_, left_, right_;
};

}  // namespace sono::audio
