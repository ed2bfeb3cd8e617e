#include "recorder/take_recorder.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "audio/codec/house_format.h"
#include "core/system_error_text.h"
#include "recorder/level_detector.h"

namespace sono::recorder {

namespace {
constexpr int kRate = audio::kHouseRate;
constexpr long kBlockFrames = kRate / 1000;        // the level rules look at 1 ms blocks
constexpr long kLivePeriodFrames = kRate / 100;    // a live input is read every 10 ms
constexpr long kFilePeriodFrames = kRate / 10;     // a file input in 100 ms reads
constexpr auto kSyncEvery = std::chrono::seconds(1);
// A house file decodes 481 frames late (the Layer II analysis and synthesis
// filter banks). The take starts and ends that much later in the input, so
// that the decoded take holds its pre-roll and its tail to the frame.
constexpr int64_t kCodecDelayFrames = 481;

int64_t MsFrames(int64_t ms) { return ms * kRate / 1000; }

// The frames before a level-triggered start, with the capture frame of the
// oldest one: the pre-roll, the start duration and the run's short dips.
class PrerollBuffer {
 public:
  explicit PrerollBuffer(int64_t capacity) : data_(static_cast<size_t>(capacity) * 2), capacity_(capacity) {}
  void push(int64_t frame, const float* stereo, int64_t frames) {
    for (int64_t i = 0; i < frames; ++i) {
      const size_t at = static_cast<size_t>((frame + i) % capacity_) * 2;
      data_[at] = stereo[2 * i];
      data_[at + 1] = stereo[2 * i + 1];
    }
    end_ = frame + frames;
    if (first_ < 0) first_ = frame;
    first_ = std::max(first_, end_ - capacity_);
  }
  int64_t first() const { return first_; }
  // Frames [from, end) in order into `out`.
  void copy(int64_t from, std::vector<float>& out) const {
    out.clear();
    for (int64_t f = std::max(from, first_); f < end_; ++f) {
      const size_t at = static_cast<size_t>(f % capacity_) * 2;
      out.push_back(data_[at]);
      out.push_back(data_[at + 1]);
    }
  }
  void clear() { first_ = -1; }

 private:
  std::vector<float> data_;
  int64_t capacity_;
  int64_t first_ = -1, end_ = 0;
};
}  // namespace

const char* TakeStateName(TakeState state) {
  switch (state) {
    case TakeState::Idle: return "Idle";
    case TakeState::Armed: return "Armed";
    case TakeState::Recording: return "Recording";
    case TakeState::Paused: return "Paused";
    case TakeState::Finished: return "Finished";
    case TakeState::Failed: return "Failed";
  }
  return "?";
}

int64_t TakeRecorder::PrerollFrames(const TakeSettings& s) {
  return MsFrames(std::max(s.prerollMs, kMinPrerollMs));
}

TakeRecorder::~TakeRecorder() {
  stop();
  join();
}

bool TakeRecorder::start(std::unique_ptr<audio::CaptureSource> source, const std::string& takePath,
                         const TakeSettings& settings, std::string& error) {
  if (state_.load() != TakeState::Idle) {
    error = "une prise est déjà en cours";
    return false;
  }
  source_ = std::move(source);
  settings_ = settings;
  path_ = takePath;
  if (!source_->open(error)) return false;
  if (!writer_.openInPlace(takePath)) {
    error = "impossible de créer la prise " + takePath + " (" + SystemErrorText(writer_.errorNumber()) + ")";
    source_->close();
    return false;
  }
  ring_ = std::make_unique<CaptureRing>(std::max<int64_t>(MsFrames(ringMs_), kFilePeriodFrames));
  state_.store(settings.start == StartCondition::OnLevel ? TakeState::Armed : TakeState::Recording);
  writerThread_ = std::thread([this] { writerLoop(); });
  captureThread_ = std::thread([this] { captureLoop(); });
  return true;
}

void TakeRecorder::stop() {
  quitCapture_.store(true);
  if (ring_) ring_->wakeAll();
}

void TakeRecorder::join() {
  if (captureThread_.joinable()) captureThread_.join();
  if (writerThread_.joinable()) writerThread_.join();
}

std::vector<TakeEvent> TakeRecorder::takeEvents() {
  std::lock_guard lock(eventsLock_);
  std::vector<TakeEvent> out;
  out.swap(events_);
  return out;
}

void TakeRecorder::post(TakeEvent::Kind kind, int64_t frame, int64_t value, std::string text) {
  std::lock_guard lock(eventsLock_);
  events_.push_back({kind, frame, value, std::move(text)});
}

void TakeRecorder::captureLoop() {
  const bool live = source_->live();
  if (live) {
    // Real-time priority when the system grants it; normal priority otherwise.
    sched_param param{};
    param.sched_priority = 60;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  }
  const long period = live ? kLivePeriodFrames : kFilePeriodFrames;
  std::vector<float> buffer(static_cast<size_t>(period) * 2);
  int64_t captured = 0;
  bool pausedSeen = false;
  while (!quitCapture_.load()) {
    // The pause is marked at the capture frame where this thread saw it.
    const bool paused = paused_.load();
    if (paused != pausedSeen && pauseMarks_.push({captured, paused})) pausedSeen = paused;
    const long got = source_->read(buffer.data(), period);
    if (got < 0) {
      captureError_.store(static_cast<int>(-got));
      break;
    }
    if (got == 0) break;
    captured += got;
    int64_t pushed = ring_->push(buffer.data(), got);
    if (live) {
      // A card does not wait: what the writer had no room for is lost.
      if (pushed < got) ringLost_.fetch_add(got - pushed);
      continue;
    }
    while (pushed < got && !quitCapture_.load()) {
      const uint32_t seen = ring_->spaceSignal();
      const int64_t n = ring_->push(buffer.data() + pushed * 2, got - pushed);
      pushed += n;
      if (n == 0) ring_->waitSpace(seen);
    }
  }
  captureEnded_.store(true);
  ring_->wakeAll();
}

bool TakeRecorder::encode(const float* stereo, int64_t frames) {
  if (frames <= 0) return true;
  if (!writer_.writeFloat(stereo, static_cast<int>(frames))) return false;
  fed_.fetch_add(frames);
  return true;
}

void TakeRecorder::fail(const std::string& error) {
  result_.reason = StopReason::Failure;
  result_.error = error;
  writer_.abandon();
  // A write cut short by a full disk may leave part of a frame: the take
  // keeps its whole frames only, so it stays a valid sound.
  const int64_t whole = writer_.bytesWritten() / audio::kHouseFrameBytes;
  if (::truncate(path_.c_str(), whole * audio::kHouseFrameBytes) != 0) {
    // Nothing more can be done; decoders skip a cut last frame anyway.
  }
  result_.mpegFrames = whole;
  result_.frames = std::min(fed_.load(), whole * audio::kHouseFrameSamples);
  post(TakeEvent::Kind::Failed, 0, 0, error);
  state_.store(TakeState::Failed);
}

void TakeRecorder::finish(StopReason reason, int64_t keepFrames) {
  result_.reason = reason;
  if (!writer_.finish()) {
    fail("écriture de la prise impossible: " + writer_.error() + " (" + SystemErrorText(writer_.errorNumber()) + ")");
    return;
  }
  int64_t mpegFrames = writer_.bytesWritten() / audio::kHouseFrameBytes;
  if (keepFrames < fed_.load()) {
    // The silence that ended the take was written while it was awaited: the
    // take is cut back to its onset plus the tail, on a frame boundary.
    const int64_t keep = (keepFrames + audio::kHouseFrameSamples / 2) / audio::kHouseFrameSamples;
    if (keep < mpegFrames) {
      if (::truncate(path_.c_str(), keep * audio::kHouseFrameBytes) != 0) {
        fail(std::string("raccourcissement de la prise impossible: ") + SystemErrorText(errno));
        return;
      }
      mpegFrames = keep;
    }
    keepFrames = std::min(keepFrames, mpegFrames * audio::kHouseFrameSamples);
  } else {
    keepFrames = fed_.load();
  }
  result_.frames = keepFrames;
  result_.mpegFrames = mpegFrames;
  post(TakeEvent::Kind::Stopped, 0, keepFrames);
  state_.store(TakeState::Finished);
}

void TakeRecorder::writerLoop() {
  const TakeSettings& s = settings_;
  const bool onLevel = s.start == StartCondition::OnLevel;
  const int64_t preroll = PrerollFrames(s);
  const int64_t startDuration = MsFrames(std::max(0, s.startDurationMs));
  StartDetector starter(s.startDb, startDuration);
  // Only a take started on level stops on silence, and never with a duration of 0.
  SilenceDetector silence(s.stopDb, onLevel ? MsFrames(std::max(0, s.stopDurationMs)) : 0);
  PrerollBuffer prerollBuffer(onLevel ? preroll + startDuration + StartDetector::kHoldGapFrames + kLivePeriodFrames : 1);
  const int64_t lengthFrames = MsFrames(std::max<int64_t>(0, s.lengthMs));

  std::vector<float> block(static_cast<size_t>(kBlockFrames) * 2), held;
  int64_t frame = 0;         // capture frame of the next block
  int64_t takeStart = onLevel ? -1 : 0;
  int64_t endFed = -1;       // the take ends when this many frames are written
  StopReason endReason = StopReason::Manual;
  int64_t overrunReported = 0;
  bool paused = false;
  PauseMark mark{0, false};
  bool marked = false;  // `mark` is a pause change not applied yet
  auto lastSync = std::chrono::steady_clock::now();
  result_.startFrame = takeStart;
  post(onLevel ? TakeEvent::Kind::Armed : TakeEvent::Kind::Started, 0, -1);

  while (true) {
    // A whole block, or what is left once the input has ended or a stop was asked.
    const uint32_t seen = ring_->dataSignal();
    const bool ended = captureEnded_.load();
    if (ring_->readable() < kBlockFrames && !ended) {
      ring_->waitData(seen);
      continue;
    }
    const int64_t got = ring_->pop(block.data(), kBlockFrames);
    const int64_t lost = ringLost_.load() + source_->deviceOverrunFrames();
    if (lost > overrunReported) {
      overrunReported = lost;
      result_.overrunFrames = lost;
      post(TakeEvent::Kind::Overrun, frame, lost);
    }
    if (got == 0) {
      // The capture is over: stopped by the user, at the input's end, or failed.
      const int err = captureError_.load();
      if (err != 0) {
        fail(std::string("l'entrée son a cessé de fonctionner (") + SystemErrorText(err) + ")");
        break;
      }
      if (takeStart < 0) {
        // Stopped before the level was reached: an empty take.
        result_.startFrame = -1;
      }
      finish(quitCapture_.load() ? StopReason::Manual : StopReason::InputEnded, fed_.load());
      break;
    }
    const float peak = StereoPeak(block.data(), got);
    peak_.store(peak);

    if (!marked) marked = pauseMarks_.pop(mark);
    if (marked && mark.frame < frame + got) {
      paused = mark.paused;
      marked = false;
      post(paused ? TakeEvent::Kind::Paused : TakeEvent::Kind::Resumed, frame);
      if (takeStart >= 0) state_.store(paused ? TakeState::Paused : TakeState::Recording);
      silence.reset();
    }
    if (paused) {
      // Nothing captured during a pause goes into the take.
      frame += got;
      continue;
    }

    if (takeStart < 0) {
      prerollBuffer.push(frame, block.data(), got);
      const int64_t onset = starter.feed(frame, static_cast<long>(got), peak);
      frame += got;
      if (onset < 0) continue;
      takeStart = std::max(onset - preroll + kCodecDelayFrames, prerollBuffer.first());
      result_.startFrame = takeStart;
      prerollBuffer.copy(takeStart, held);
      state_.store(TakeState::Recording);
      post(TakeEvent::Kind::Started, takeStart, onset);
      if (!encode(held.data(), static_cast<int64_t>(held.size() / 2))) {
        fail("écriture de la prise impossible: " + writer_.error() + " (" + SystemErrorText(writer_.errorNumber()) + ")");
        break;
      }
      prerollBuffer.clear();
    } else {
      int64_t n = got;
      if (endFed >= 0) n = std::min(n, endFed - fed_.load());
      if (!encode(block.data(), n)) {
        fail("écriture de la prise impossible: " + writer_.error() + " (" + SystemErrorText(writer_.errorNumber()) + ")");
        break;
      }
      if (endFed < 0 && silence.feed(frame, static_cast<long>(got), peak) == SilenceDetector::Change::Due) {
        // The frames written since the onset: the take ends at onset + tail.
        const int64_t sinceOnset = frame + got - silence.onset();
        endFed = fed_.load() - sinceOnset + MsFrames(std::max(0, s.tailMs)) + kCodecDelayFrames;
        endReason = StopReason::Silence;
      }
      frame += got;
    }

    if (lengthFrames > 0 && (endFed < 0 || lengthFrames < endFed)) {
      endFed = lengthFrames;
      endReason = StopReason::Length;
    }
    if (endFed >= 0 && fed_.load() >= endFed) {
      quitCapture_.store(true);
      ring_->wakeAll();
      finish(endReason, endFed);
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync >= kSyncEvery) {
      // What was written reaches the disk about every second: a power cut
      // loses at most that much of the take.
      lastSync = now;
      if (!writer_.sync()) {
        fail("écriture de la prise impossible: " + writer_.error() + " (" + SystemErrorText(writer_.errorNumber()) + ")");
        break;
      }
    }
  }
  // The capture thread may wait for room that will never come.
  quitCapture_.store(true);
  ring_->wakeAll();
}

}  // namespace sono::recorder
