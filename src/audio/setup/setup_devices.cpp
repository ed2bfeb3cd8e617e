#include "audio/setup/setup_devices.h"

#include "audio/engine/engine.h"

namespace sono::audio {

namespace {
// Every board of the engine decodes on the host: it plays and records every
// format of the set-up's list (as `TOOLGetBoardFeaturesInfo` says).
constexpr int kEngineFormats = kFormatMpegL1 | kFormatMpegL2 | kFormatMpegL3 | kFormatPcm8 | kFormatPcm16 |
                               kFormatPcm24;

std::string PairName(const std::string& model, int mono) {
  return model + " (" + std::to_string(mono) + "/" + std::to_string(mono + 1) + ")";
}
}  // namespace

SetupDevices DevicesOfEngine(const Engine& engine) {
  SetupDevices d;
  const auto& boards = engine.boards();
  for (size_t b = 0; b < boards.size(); ++b) {
    const BoardDesc& desc = boards[b];
    d.boards.push_back(desc.model);
    for (int m = desc.firstOutput; m + 1 < desc.firstOutput + desc.outputs; m += 2)
      d.outputs.push_back({PairName(desc.model, m), static_cast<int>(b), m, kEngineFormats});
    for (int m = desc.firstInput; m + 1 < desc.firstInput + desc.inputs; m += 2)
      d.inputs.push_back({PairName(desc.model, m), static_cast<int>(b), m, kEngineFormats});
  }
  return d;
}

}  // namespace sono::audio
