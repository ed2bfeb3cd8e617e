// The devices the audio set-up offers: one entry per stereo pair of every
// board the engine found, "MODEL (a/b)", in the engine's board order (ALSA's
// `default` first when the machine has a card, then each card, then the
// virtual board). A slot's "Device" setting is a position in these lists,
// the numbering the player control and Lib_PCX_QZ use.
#pragma once
#include <string>
#include <vector>

namespace sono::audio {

class Engine;

struct SetupDevice {
  std::string name;    // "MODEL (a/b)"
  int board = 0;       // the board's number in the engine
  int firstMono = 1;   // mono channel a
  int playFormats = 0; // format flags the board plays (output) or records (input)
};

struct SetupDevices {
  std::vector<SetupDevice> outputs, inputs;
  std::vector<std::string> boards;  // board models, by board number
};

// The lists of a running engine (the desktop's or the command line's).
SetupDevices DevicesOfEngine(const Engine& engine);

}  // namespace sono::audio
