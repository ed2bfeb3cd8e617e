// House-format sounds for the demo library: synthesised pieces that look and
// sound like a station's material on the waveform (a quiet intro, a body
// with a beat, an end that fades), written into the sound folders of the
// songs they belong to, with durations and cue points that fit them.
#pragma once
#include <cstdint>
#include <string>

#include "data/library.h"

namespace sono::demo {

// Writes one synthesised sound of `seconds` seconds; jingles are short
// arpeggios, songs have an intro, a body and a fade.
bool WriteDemoSound(const std::string& path, int seconds, bool jingle, uint32_t seed,
                    std::string& error);

struct DemoSoundsResult {
  int written = 0;
  std::string error;  // the first failure, if any
};

// Gives `count` sounds in the current base (every station's folder): a fifth
// (at least one) to the first jingles, the rest to the first music code and
// the music songs the window lists first (title order). Then sets each
// song's duration and cue points from its sound. Deterministic for a seed.
DemoSoundsResult AddDemoSounds(data::Library& lib, int count, uint32_t seed);

}  // namespace sono::demo
