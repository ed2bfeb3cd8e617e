// An output device: a mixer and whatever makes it render. The virtual device
// renders when asked (tests, machines without a card); an ALSA device renders
// on its own real-time thread.
#pragma once
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "audio/engine/mixer.h"

namespace sono::audio {

class Device {
 public:
  virtual ~Device() = default;
  Mixer& mixer() { return *mixer_; }
  // Begins rendering; false with the system's reason when the device cannot
  // be opened (`busy` when another program holds it).
  virtual bool start(std::string& error, bool& busy) = 0;
  virtual void stop() = 0;
  virtual bool running() const = 0;
  virtual bool isVirtual() const = 0;
  // The system's name of the device: the ALSA PCM ("default",
  // "plughw:CARD=PCH,DEV=0"), "virtual" for the virtual device.
  virtual std::string systemName() const = 0;
  // The system's error that stopped the device on its own (a card unplugged:
  // -ENODEV, -EBADFD; a render thread that died), 0 while it works. Cleared
  // by the next successful start.
  int failure() const { return failure_.load(); }
  std::string failureText() const {
    const int e = failure();
    return e == 0 ? std::string() : std::string(std::strerror(-e));
  }

 protected:
  std::unique_ptr<Mixer> mixer_;
  std::atomic<int> failure_{0};
};

}  // namespace sono::audio
