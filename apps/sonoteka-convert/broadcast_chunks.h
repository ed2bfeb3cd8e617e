// The broadcast chunks of an exported WAV: a BWF "bext" chunk (the title and
// artist as its description, this program as originator, the date and time
// of the export) and an AES46 "cart" chunk with the title, the artist and the
// cue points as post timers, in sample frames at the file's rate:
//   intro      "INTe"  (the end of the intro: where the voice comes in)
//   start next "SEGs"  (segue start: where the next sound starts)
//   fade out   "SEGe"  (segue end: where this sound fades out)
//   hook       "HOKs"  (user-defined: the start of the hook)
// Unset cue points take no timer.
#pragma once
#include <sndfile.h>

#include <ctime>

#include "command_line.h"

namespace sono::convert {

// Sets both chunks on a WAV opened for writing, before any audio. False when
// libsndfile refuses them.
bool SetBroadcastChunks(SNDFILE* sound, const ConverterOptions& options, int rate, std::time_t now);

}  // namespace sono::convert
