// The engine's usual devices: the machine's ALSA boards, then the virtual one.
#include "audio/engine/alsa_device.h"
#include "audio/engine/engine.h"
#include "audio/engine/virtual_device.h"

namespace sono::audio {

DeviceProviders StandardDeviceProviders(const EngineOptions& options) {
  DeviceProviders providers;
  providers.push_back(
      std::make_unique<AlsaDeviceProvider>(options.useAlsaCards, options.defaultPcm, options.extraPcms));
  providers.push_back(std::make_unique<VirtualDeviceProvider>(options.virtualOutputPairs, options.virtualInputPairs));
  return providers;
}

}  // namespace sono::audio
