// MP3 through LAME at a constant bit rate; the LAME tag in the first frame
// carries the encoder delay and padding, so a decoder gives back the exact
// length.
#pragma once
#include "sound_encoder.h"

namespace sono::convert {

std::unique_ptr<SoundEncoder> MakeMp3Encoder(int bitrateKbps);

// "" when LAME writes this rate and bit rate, else the French refusal.
std::string Mp3Refusal(int rate, int bitrateKbps);

}  // namespace sono::convert
