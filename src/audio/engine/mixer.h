// The mixer of one device: pipes of up to 24 streams, each pipe mixed onto one
// stereo output pair of the device. The logic thread posts commands and reads
// what the real-time thread publishes (stream states, consumed frames, pipe
// meters); the real-time thread renders. Everything the render path touches is
// allocated up front; streams that leave the render path go back to the logic
// thread through a second queue to be freed there.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/engine/spsc_queue.h"
#include "audio/engine/stream_source.h"

namespace sono::audio {

inline constexpr int kMaxStreams = 24;
inline constexpr int kMaxPipesPerMixer = 8;
inline constexpr int kRenderBlock = 512;  // frames rendered per inner step

// Stream states as the board tools report them.
enum class StreamState : int { Idle = 0, Loaded = 1, Playing = 2, Paused = 3, Underrun = 4 };

// A pipe's four gains as factors (1 = 0 dB).
struct PipeGainFactors {
  float digitalLeft = 1, digitalRight = 1, analogLeft = 1, analogRight = 1;
};

// One command through the lock-free queue to the render side. It stays a
// plain struct (no allocation, no variant) because the real-time callback
// copies it; each type reads only the fields named beside it.
struct MixerCommand {
  enum Type : uint8_t {
    Attach,      // source: queued, waits for Start
    Start,
    Pause,       // paused: true pauses, false resumes
    Stop,        // fadeFrames: fade-out length (0 = at once)
    StreamGain,  // gain: factor
    PipeOpen,    // output: stereo pair
    PipeGains,   // gains
    PipeClose,   // drops every stream of the pipe
  };
  MixerCommand() = default;
  explicit MixerCommand(Type t) : type(t) {}

  Type type = Start;
  uint8_t pipe = 0;
  uint8_t stream = 0;
  int output = 0;
  StreamSource* source = nullptr;
  int64_t fadeFrames = 0;
  bool paused = false;
  float gain = 1;
  PipeGainFactors gains;
};

struct StreamReport {
  StreamState state = StreamState::Idle;
  int64_t consumed = 0;   // frames played since the start
  uint64_t acked = 0;     // commands of this stream the render side has applied
};

struct MeterReport {
  float peak = 0;  // linear, since the last read of the channel
  float rms = 0;   // highest block RMS since the last read
};

class Mixer {
 public:
  Mixer(int outputPairs, int rate);
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  int outputPairs() const { return outputPairs_; }
  int rate() const { return rate_; }

  // --- logic thread
  // False when the command queue is full (the device is not rendering).
  bool post(const MixerCommand& command);
  // Stream commands posted to a stream so far, over every pipe that used its
  // slot: the render side acknowledges each (StreamReport::acked), so
  // acked < posted means commands are still on their way.
  uint64_t posted(int pipe, int stream) const { return posted_[pipe][stream]; }
  // Sources the render side let go of since the last call.
  template <typename F>
  void collectReleased(F&& onReleased) {
    StreamSource* s = nullptr;
    while (released_.pop(s)) onReleased(s);
  }
  StreamReport report(int pipe, int stream) const;
  // Meters read after the digital level, before the analog level.
  MeterReport takeMeter(int pipe, int channel);

  // Only while no thread renders (the device stopped): drops the queued
  // commands, closes every pipe and hands every source back.
  void resetStopped();

  // --- real-time thread: `pairs[k]` receives `frames` interleaved stereo
  // frames of output pair k (overwritten).
  void render(float* const* pairs, int frames);

 private:
  struct StreamRt {
    StreamSource* source = nullptr;
    StreamState state = StreamState::Idle;
    int64_t consumed = 0;
    float gain = 1.0f;
    int64_t stopTotal = 0, stopDone = 0;  // a stop with fade in progress
    bool stopping = false;
  };
  struct StreamPub {
    std::atomic<int> state{0};
    std::atomic<int64_t> consumed{0};
    std::atomic<uint64_t> acked{0};
  };
  struct PipeRt {
    bool open = false;
    int output = 0;
    float digitalLeft = 1.0f, digitalRight = 1.0f;  // metered
    float analogLeft = 1.0f, analogRight = 1.0f;    // after the meter
    std::array<StreamRt, kMaxStreams> streams{};
  };
  struct PipePub {
    std::atomic<float> peakLeft{0}, peakRight{0}, rmsLeft{0}, rmsRight{0};
    std::array<StreamPub, kMaxStreams> streams{};
  };

  void apply(const MixerCommand& c);
  void release(StreamRt& s);
  void renderBlock(float* const* pairs, int offset, int frames);
  // Mixes one stream's `frames` into the pipe buffer; false when it ended.
  void mixStream(StreamRt& s, float* out, int frames);
  void publish(int pipe, int stream);

  const int outputPairs_, rate_;
  static bool IsStreamCommand(MixerCommand::Type t) {
    return t != MixerCommand::PipeOpen && t != MixerCommand::PipeGains && t != MixerCommand::PipeClose;
  }
  void acknowledge(int pipe, int stream);

  SpscQueue<MixerCommand> commands_;
  std::array<std::array<uint64_t, kMaxStreams>, kMaxPipesPerMixer> posted_{};  // logic thread
  SpscQueue<StreamSource*> released_;
  std::array<PipeRt, kMaxPipesPerMixer> pipes_{};
  std::array<PipePub, kMaxPipesPerMixer> pub_{};
  std::vector<float> pipeBuf_, streamBuf_;
};

}  // namespace sono::audio
