// Records one take from a capture input into a house-format file that is a
// valid sound after every frame written (a kill or a power cut leaves what
// was recorded up to the last second). Two threads: the capture thread reads
// the input (real-time priority when granted) into a ring; the writer thread
// watches the levels, keeps the pre-roll, encodes and writes. The logic
// thread only asks (pause, resume, stop) and reads states and events.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/codec/house_writer.h"
#include "audio/engine/capture_source.h"
#include "audio/engine/spsc_queue.h"
#include "recorder/capture_ring.h"

namespace sono::recorder {

// How a take starts: at once ("Dès que possible") or when the level has held
// above the start threshold for the start duration ("Déclenchement").
enum class StartCondition { AtOnce = 0, OnLevel = 1 };

struct TakeSettings {
  StartCondition start = StartCondition::AtOnce;
  float startDb = -50;
  int startDurationMs = 0;
  // Stop after a silence below stopDb lasting stopDurationMs; only for a take
  // started on level, and never when stopDurationMs is 0.
  float stopDb = -50;
  int stopDurationMs = 0;
  // The take ends this long after the silence's onset.
  int tailMs = 500;
  // Kept before the first audible frame of a level-triggered take.
  int prerollMs = 500;
  // The take ends once this much is recorded (0: until stopped).
  int64_t lengthMs = 0;
};

inline constexpr int kMinPrerollMs = 400;

enum class TakeState { Idle, Armed, Recording, Paused, Finished, Failed };

enum class StopReason { Manual, Silence, Length, InputEnded, Failure };

struct TakeEvent {
  enum class Kind { Armed, Started, Paused, Resumed, Overrun, Stopped, Failed };
  Kind kind;
  int64_t frame = 0;  // capture frame (from the start of the capture) where it happened
  int64_t value = 0;  // Started: the level's onset (-1 at once); Overrun: frames lost in all
  std::string text;   // Failed: the error
};

struct TakeResult {
  StopReason reason = StopReason::Manual;
  int64_t frames = 0;       // sample frames of the take (before the last frame's padding)
  int64_t mpegFrames = 0;   // house frames in the file
  int64_t startFrame = -1;  // capture frame of the take's first frame
  int64_t overrunFrames = 0;
  std::string error;        // a failure's cause; the file keeps what was written
};

class TakeRecorder {
 public:
  // `ringMs`: how far the writer may fall behind the capture before a live
  // input loses frames.
  explicit TakeRecorder(int ringMs = 10000) : ringMs_(ringMs) {}
  ~TakeRecorder();
  TakeRecorder(const TakeRecorder&) = delete;
  TakeRecorder& operator=(const TakeRecorder&) = delete;

  // Opens the input and the take file (created or emptied) and starts both
  // threads. False with `error` when either cannot be opened.
  bool start(std::unique_ptr<audio::CaptureSource> source, const std::string& takePath,
             const TakeSettings& settings, std::string& error);
  // A pause holds back everything captured after the capture thread sees it
  // (within one 10 ms period of a card); resume takes the take up again.
  void pause() { paused_.store(true); }
  void resume() { paused_.store(false); }
  // Ends the take with everything captured until now.
  void stop();
  // Waits for the take to end (by a stop, its rules, the input's end or a failure).
  void join();

  TakeState state() const { return state_.load(); }
  bool done() const { return state() == TakeState::Finished || state() == TakeState::Failed; }
  // Frames written into the take so far (the writer's progress).
  int64_t framesRecorded() const { return fed_.load(); }
  // Peak of the last block seen (the level meter), 0..1.
  float peak() const { return peak_.load(); }
  std::vector<TakeEvent> takeEvents();
  // Valid once done().
  const TakeResult& result() const { return result_; }

  // The effective pre-roll and ring sizes of `s`, in frames.
  static int64_t PrerollFrames(const TakeSettings& s);

 private:
  void captureLoop();
  void writerLoop();
  bool encode(const float* stereo, int64_t frames);
  void finish(StopReason reason, int64_t keepFrames);
  void fail(const std::string& error);
  void post(TakeEvent::Kind kind, int64_t frame, int64_t value = 0, std::string text = {});

  int ringMs_;
  std::unique_ptr<audio::CaptureSource> source_;
  std::unique_ptr<CaptureRing> ring_;
  std::string path_;
  TakeSettings settings_;
  audio::HouseWriter writer_;
  std::thread captureThread_, writerThread_;
  std::atomic<bool> quitCapture_{false}, captureEnded_{false}, paused_{false};
  std::atomic<int> captureError_{0};
  // Where the capture thread saw the pause change, in capture frames.
  struct PauseMark {
    int64_t frame;
    bool paused;
  };
  audio::SpscQueue<PauseMark> pauseMarks_{64};
  std::atomic<int64_t> ringLost_{0}, fed_{0};
  std::atomic<float> peak_{0};
  std::atomic<TakeState> state_{TakeState::Idle};
  std::mutex eventsLock_;
  std::vector<TakeEvent> events_;
  TakeResult result_;
};

const char* TakeStateName(TakeState state);

}  // namespace sono::recorder
