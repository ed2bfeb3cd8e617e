// ALSA: the machine's cards and their PCM devices, and an output device that
// renders one stereo pair on its own real-time thread.
#pragma once
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine/device.h"
#include "audio/engine/device_provider.h"

namespace sono::audio {

struct AlsaPcm {
  int device = 0;
  std::string name;    // the PCM's own name
  bool playback = false;
  bool capture = false;
};

struct AlsaCard {
  int index = 0;
  std::string id;      // short name, "PCH"
  std::string name;    // model, "HDA Intel PCH"
  std::vector<AlsaPcm> pcms;
};

// Every card with its PCM devices; empty on a machine without a card.
std::vector<AlsaCard> ListAlsaCards();
// True when ALSA knows a PCM of that name (for example "null").
bool AlsaPcmExists(const std::string& name);

class AlsaDevice : public Device {
 public:
  // `pcm`: the ALSA name to open ("plughw:0,0", "null").
  AlsaDevice(std::string pcm, int rate = 48000);
  ~AlsaDevice() override;

  bool start(std::string& error, bool& busy) override;
  void stop() override;
  bool running() const override { return running_.load(); }
  bool isVirtual() const override { return false; }
  std::string systemName() const override { return pcm_; }
  const std::string& pcmName() const { return pcm_; }
  // Frames handed to ALSA since the start (for the tests of the real-time path).
  int64_t framesWritten() const { return written_.load(std::memory_order_relaxed); }

 private:
  void run();
  int renderLoop();  // 0 when asked to quit, else the error that ended it
  std::string pcm_;
  int rate_;
  void* handle_ = nullptr;  // snd_pcm_t
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> quit_{false};
  std::atomic<int64_t> written_{0};
  std::vector<float> buffer_;
};

// The machine's ALSA boards: ALSA's `default` PCM (as `defaultPcm` says),
// every card (one output pair per playback PCM device, opened as
// "plughw:CARD=<id>,DEV=<n>"), then the named PCMs of `extraPcms`.
class AlsaDeviceProvider : public DeviceProvider {
 public:
  AlsaDeviceProvider(bool listCards, DefaultPcm defaultPcm, std::vector<std::string> extraPcms)
      : listCards_(listCards), defaultPcm_(defaultPcm), extraPcms_(std::move(extraPcms)) {}
  std::vector<ProvidedBoard> boards() override;

 private:
  bool listCards_;
  DefaultPcm defaultPcm_;
  std::vector<std::string> extraPcms_;
};

}  // namespace sono::audio
