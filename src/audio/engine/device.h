// An output device: a mixer and whatever makes it render. The virtual device
// renders when asked (tests, machines without a card); an ALSA device renders
// on its own real-time thread.
#pragma once
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

 protected:
  std::unique_ptr<Mixer> mixer_;
};

}  // namespace sono::audio
