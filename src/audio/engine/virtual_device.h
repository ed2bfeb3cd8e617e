// The virtual device: renders into memory when the program asks, faster than
// real time, in step with the manual clock when one is attached. It streams
// what an output pair plays to a WAV file as it renders (memory stays flat
// for any length); short renders can also be kept in memory to be examined.
// Its capture side gives what a generator or a sound file produces. It can
// be made to fail as a real card does when it is unplugged.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/codec/sound_reader.h"
#include "audio/codec/wav_writer.h"
#include "audio/engine/device.h"
#include "audio/engine/device_provider.h"
#include "core/manual_ports.h"

namespace sono::audio {

class VirtualDevice : public Device {
 public:
  explicit VirtualDevice(int outputPairs, int rate = 48000);

  bool start(std::string& error, bool& busy) override;
  void stop() override { running_ = false; }
  bool running() const override { return running_; }
  bool isVirtual() const override { return true; }
  std::string systemName() const override { return "virtual"; }

  // Runs before each rendered block: the decoding side fills the streams.
  void setFeeder(std::function<void()> feeder) { feeder_ = std::move(feeder); }
  // The manual clock advances with the rendered time.
  void attachClock(ManualClock* clock) { clock_ = clock; }

  void renderFrames(int64_t frames);
  void renderMs(int64_t ms);  // whole milliseconds of sound
  int64_t framesRendered() const { return rendered_; }

  // Streams what output pair `pair` plays from now on to the WAV file
  // `path`, which appears (whole) at finishFile().
  bool recordToFile(int pair, const std::string& path, std::string* error = nullptr);
  bool finishFile(std::string* error = nullptr);
  void abandonFile() { file_.abandon(); }
  int64_t fileFrames() const { return file_.frames(); }
  bool fileFailed() const { return file_.failed(); }

  // Keeps in memory everything each output pair plays from now on (short
  // renders that a test examines: it grows with the rendered time).
  void setRecording(bool on) { recording_ = on; }
  const std::vector<float>& recorded(int pair) const { return recordings_[pair]; }
  void clearRecordings();
  bool writeWav(int pair, const std::string& path, std::string* error = nullptr) const;

  // --- failures as a real card has them: from fail() on nothing renders and
  // failure() reports `error` (-ENODEV for an unplugged card), until the
  // device is started again; refuseStart() makes every start fail with
  // `error` (-EBUSY: held by another program) until refuseStart(0).
  void fail(int error) { failure_.store(error); }
  void refuseStart(int error) { refusal_ = error; }

  // --- capture side
  // A sine of `hz` at `levelDb` on both channels, or the frames of a sound file.
  void setCaptureSine(double hz, double levelDb);
  bool setCaptureFile(const std::string& path);
  // Gives the next `frames` captured frames (silence after a file's end).
  void capture(float* stereo, long frames);

 private:
  int rate_;
  bool running_ = false;
  std::function<void()> feeder_;
  ManualClock* clock_ = nullptr;
  int64_t rendered_ = 0;
  int64_t msRemainder_ = 0;  // frames rendered beyond whole milliseconds
  bool recording_ = false;
  int filePair_ = 0;
  WavStreamWriter file_;
  int refusal_ = 0;
  std::vector<std::vector<float>> buffers_, recordings_;
  std::vector<float*> pairs_;
  double sineHz_ = 0, sineGain_ = 0;
  int64_t capturePos_ = 0;
  std::unique_ptr<SoundReader> captureFile_;
};

// The virtual board: one VirtualDevice with `outputPairs` stereo output
// pairs and `inputPairs` stereo inputs, model "VIRTUAL".
class VirtualDeviceProvider : public DeviceProvider {
 public:
  VirtualDeviceProvider(int outputPairs, int inputPairs) : outputPairs_(outputPairs), inputPairs_(inputPairs) {}
  std::vector<ProvidedBoard> boards() override;

 private:
  int outputPairs_, inputPairs_;
};

}  // namespace sono::audio
