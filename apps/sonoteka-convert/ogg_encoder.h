// Ogg Vorbis through libvorbisenc: variable bit rate at a quality (-0.1 to
// 1.0), or an average bit rate when only a bit rate is asked for.
#pragma once
#include "sound_encoder.h"

namespace sono::convert {

std::unique_ptr<SoundEncoder> MakeOggEncoder(double quality, int bitrateKbps);

// "" when libvorbis encodes these channels and rate at this quality or bit
// rate, else the French refusal. A rate of 0 (the source's) is not checked.
std::string OggRefusal(int rate, int channels, double quality, int bitrateKbps);

}  // namespace sono::convert
