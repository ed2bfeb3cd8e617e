// What a kind of output device offers the engine: its boards, each with the
// devices of its stereo output pairs. The engine numbers the boards' mono
// channels across providers, in the order it receives them, and owns the
// devices from then on.
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/engine/device.h"

namespace sono::audio {

// Board type codes of our own boards (outside the board maker's model list).
inline constexpr int kBoardTypeVirtual = 300;
inline constexpr int kBoardTypeAlsa = 301;
inline constexpr int kBusVirtual = 0;
inline constexpr int kBusPci = 2;

struct BoardDesc {
  std::string model;
  int type = kBoardTypeVirtual;
  int bus = kBusVirtual;
  int firstOutput = 0, outputs = 0;  // mono, numbered across boards from 1
  int firstInput = 0, inputs = 0;
  int rate = 48000;
  bool isVirtual = true;
  std::string alsaName;  // card id, or the PCM name of a named board
  // One entry per stereo output pair: the device and its pair number.
  std::vector<std::pair<Device*, int>> outputPairs;
};

// ALSA's `default` PCM (the desktop's mixer: shared, never exclusive) as the
// first board.
enum class DefaultPcm { WhenCardsFound, Always, Never };

struct ProvidedBoard {
  BoardDesc desc;  // firstOutput and firstInput are the engine's to set
  std::vector<std::unique_ptr<Device>> devices;  // those of desc.outputPairs
  bool isCard = false;  // a sound card of the machine (not a named PCM)
};

class DeviceProvider {
 public:
  virtual ~DeviceProvider() = default;
  virtual std::vector<ProvidedBoard> boards() = 0;
};

using DeviceProviders = std::vector<std::unique_ptr<DeviceProvider>>;

}  // namespace sono::audio
