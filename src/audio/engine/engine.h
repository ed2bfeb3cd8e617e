// The audio engine as the board tools see it: boards (the machine's ALSA cards
// and the virtual board), their mono inputs and outputs numbered across all
// boards from 1, pipes allocated on them, and the streams of each pipe.
// Every call is made on the logic thread; results are the board tools' error
// codes (0 = done).
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/engine/device.h"
#include "audio/engine/device_provider.h"
#include "audio/engine/feeder.h"
#include "audio/engine/stream_source.h"
#include "audio/engine/virtual_device.h"

namespace sono::audio {

// Clock types of a pipe.
enum ClockType : int {
  kClockDigital = 0,
  kClockInternal = 1,  // the board's own clock at a given frequency
  kClockNone = 4,
  kClockDigitalSynchro = 5,
  kClockWordClock = 6,
  kClockCobranet = 7,
  kClockAudioOverIp = 10,
};

// Format flags of a pipe.
inline constexpr int kFormatMpegL1 = 32, kFormatMpegL2 = 64, kFormatMpegL3 = 2048;
inline constexpr int kFormatPcm8 = 128, kFormatPcm16 = 256, kFormatPcm24 = 512;

struct EngineOptions {
  bool useAlsaCards = true;            // list the machine's cards
  DefaultPcm defaultPcm = DefaultPcm::WhenCardsFound;
  std::vector<std::string> extraPcms;  // further ALSA PCMs shown as boards ("null")
  int virtualOutputPairs = 5;
  int virtualInputPairs = 2;
  // The virtual device's streams fed by the feeder thread, as a card's are,
  // instead of before each rendered block (the feeder's tests).
  bool virtualFedByThread = false;
};

struct LoadRequest {
  std::string file;
  int64_t startMs = 0;
  int64_t endMs = 0;        // 0: to the end of the file
  int64_t loopMs = 0;       // where the loop goes back to
  bool loop = false;
  int64_t fadeInMs = 0, fadeOutMs = 0;
  double levelDb = 0;
  int curve = 1;
};

struct StreamInfo {
  StreamState state = StreamState::Idle;
  int64_t positionMs = 0;   // in the file
  int64_t remainingMs = 0;  // to the end of the range; a loop reports INT32_MAX
  int64_t durationMs = 0;   // of the file
};

struct PipeClock {
  int type = kClockNone;
  int frequency = 48000;
};

// The providers of the options: ALSA's boards (`AlsaDeviceProvider`), then
// the virtual board, which is always there.
DeviceProviders StandardDeviceProviders(const EngineOptions& options);

class Engine {
 public:
  explicit Engine(const EngineOptions& options = {});
  // The boards of `providers`, numbered in their order; one of them must give
  // the virtual device.
  Engine(DeviceProviders providers, const EngineOptions& options);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const std::vector<BoardDesc>& boards() const { return boards_; }
  int monoOutputs() const;
  int monoInputs() const;
  // Board of a mono output or input (1-based); -1 when there is none.
  int boardOfOutput(int mono) const;
  int boardOfInput(int mono) const;
  bool alsaCardsFound() const { return alsaCards_ > 0; }
  VirtualDevice& virtualDevice() { return *virtual_; }

  // --- pipes (dir 0 playback, 1 record)
  int allocatePipe(int dir, int firstMono, int channels, int& maxStreams, int formats, int& pipe);
  int releasePipe(int pipe);
  bool pipeExists(int pipe, int dir) const;
  int pipeChannels(int pipe) const { return pipes_[pipe].channels; }
  int pipeBoard(int pipe) const { return pipes_[pipe].board; }
  int startPipe(int pipe);
  int stopPipe(int pipe);
  int pausePipe(int pipe, bool on);
  int setPipeLevel(int pipe, bool digital, double leftDb, double rightDb);
  int getPipeLevel(int pipe, bool digital, double& leftDb, double& rightDb) const;
  int setPipeClock(int pipe, int type, int frequency);
  PipeClock pipeClock(int pipe) const { return pipes_[pipe].clock; }
  // Peak and RMS in dB full scale since the last reading (-inf as -200).
  int readMeter(int pipe, int channel, double& peakDb, double& rmsDb);
  void setMonitoringMute(int pipe, bool mute) { pipes_[pipe].monitoringMute = mute; }
  void setDigitalOutputMode(int pipe, int mode) { pipes_[pipe].digitalMode = mode; }

  // --- streams of a playback pipe
  int loadStream(int pipe, int stream, const LoadRequest& request);
  int startStream(int pipe, int stream);
  int pauseStream(int pipe, int stream, bool on);
  int stopStream(int pipe, int stream, int64_t fadeMs);
  int setStreamLevel(int pipe, int stream, double levelDb);
  int streamInfo(int pipe, int stream, StreamInfo& info);

  // Queues a reader the caller built (the player's tempo and range stage) with
  // its plan; no format check: the reader gives frames at the device rate.
  // `fileMs` is what streamInfo reports as the duration.
  int loadStreamReader(int pipe, int stream, std::unique_ptr<SoundReader> reader,
                       const PlayPlan& plan, int64_t fileMs);
  // Frames the stream played since its start (0 until the start is applied).
  int64_t streamConsumedFrames(int pipe, int stream) const;
  int pipeRate(int pipe) const { return boards_[pipes_[pipe].board].rate; }

  // Frees what the render side let go of, and takes note of devices that
  // stopped on their own; the logic thread calls it often.
  void collect();
  // The error of the device a pipe played on when that device stopped
  // working under it (0 while it works): every call on the pipe then
  // answers kDeviceLost until it is released; a pipe allocated afterwards
  // opens the device again.
  int pipeFailure(int pipe) const;
  std::string pipeFailureText(int pipe) const;
  // Stops every device and drops every pipe.
  void shutdown();

  static constexpr int kMaxPipes = 16;
  static constexpr size_t kRingFrames = 16384;

 private:
  struct StreamSlot {
    bool loaded = false;
    PlayPlan plan;
    int64_t fileMs = 0;
    StreamState expected = StreamState::Idle;
  };
  struct PipeSlot {
    bool used = false;
    int dir = 0;
    int board = -1;
    int firstMono = 0, channels = 0, maxStreams = 0, formats = 0;
    Device* device = nullptr;
    int mixerPipe = -1;
    bool started = false, paused = false;
    double digital[2] = {0, 0}, analog[2] = {0, 0};
    PipeClock clock;
    bool monitoringMute = false;
    int digitalMode = 0;
    int failure = 0;  // the device's error once it stopped under the pipe
    std::array<StreamSlot, kMaxStreams> streams{};
  };

  int checkStream(int pipe, int stream) const;
  bool postStream(PipeSlot& p, int stream, MixerCommand c, StreamState expected);
  void postGains(PipeSlot& p);
  void checkDevices();

  std::vector<BoardDesc> boards_;
  std::vector<std::unique_ptr<Device>> devices_;
  VirtualDevice* virtual_ = nullptr;
  int alsaCards_ = 0;
  std::array<PipeSlot, kMaxPipes> pipes_{};
  bool virtualFedByThread_ = false;
  // Owns the loaded sources; declared last, so that its thread stops first.
  Feeder feeder_;
};

// Decibels to a gain factor; -220 dB and below is silence.
float DbToGain(double db);

}  // namespace sono::audio
