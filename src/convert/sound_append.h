// The append of a sound to the end of a song's sound: both in the house
// format, whole (every frame MPEG-1 Layer II, 48000 Hz, 256 kbit/s, stereo,
// none damaged or cut). Layer II frames stand alone, so the new sound is the
// old one's frames followed by the added ones, energy words included: no
// decoding, no new encoding. A tag after the old sound's last frame and a
// tag before the added sound's first frame are left out (a tag in the middle
// of a stream is damage to a player).
//
// The result is written to "<sound>.part<pid>" beside the sound, flushed,
// then renamed over it (and the folder flushed): a crash, a full disk or an
// I/O error leaves the old sound whole, and only a file RemoveStaleTempFiles
// recognises.
#pragma once
#include <string>

namespace sono::convert {

// "" when `addition` now ends `sound`; else why not, in French, and `sound`
// is as it was.
std::string AppendHouseSound(const std::string& sound, const std::string& addition);

// A whole house-format stream (the check of FautIlConvertirLeSon, whatever
// the extension); `durationMs` its length.
bool WholeHouseSound(const std::string& file, long long& durationMs);

}  // namespace sono::convert
