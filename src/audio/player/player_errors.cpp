#include "audio/player/player_errors.h"

#include <array>

namespace sono::audio::dj {

namespace {

// Index 0 is code -1.
constexpr std::array<const char*, 35> kTexts = {
    "The call was made to an invalid player (probably the InitSoundSystem method was not called)",
    "Not enough memory",
    "The value of one of the parameters passed to the method was out of the available range of values",
    "The chosen output device has no valid driver or cannot be opened",
    "The output device is held by another program",
    "The sound file was not found",
    "The file is not a sound file the player can read",
    "The sound file is too small (shorter than one frame)",
    "The sound format is not supported by the output",
    "No sound is loaded on the player",
    "The player is not playing",
    "The player is not paused",
    "The position is beyond the end of the sound",
    "The range to play is empty",
    "The tempo change is outside the available range",
    "The output device does not exist",
    "The sound system is not started",
    "The tempo stage could not be created",
    "The output device has no room for another player",
    "The volume is outside the available range",
    "The smoothing length is outside the available range",
    "The buffer length is outside the available range",
    "The sound could not be decoded",
    "No file name was given",
    "The input device does not exist",
    "The input device gives no usable format",
    "The sound system is already started",
    "The trigger identifier is outside the available range",
    "The trigger position is beyond the end of the sound",
    "The player holds too many triggers",
    "The level meter is not available",
    "The function is not available on this output",
    "The trigger already exists",
    "The trigger does not exist",
    "Playlist is not set to work in automation mode",
};
static_assert(kTexts.size() == static_cast<size_t>(-kLastCode));

}  // namespace

std::string ErrorText(int code) {
  if (code == 0) return {};
  if (code < 0 && code >= kLastCode) return kTexts[static_cast<size_t>(-code - 1)];
  return "Unknown error " + std::to_string(code);
}

}  // namespace sono::audio::dj
