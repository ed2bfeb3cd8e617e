// sonoteka-cli import / export / purge-temp: sounds into and out of the library.
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

int ConvertCommand(const Options& options, const std::vector<std::string>& words);
// The closing update after a take (MAJDataFinRecordOuConvert): the
// house-format `take` becomes the song's sound (copied over it atomically,
// or appended), then the envelope, the pointers and the durations on every
// station, as after an import; prints what was stored. 0, or 1 on failure
// (the song's sound is then as it was).
int HandOverTake(const Options& options, int station, const std::string& code, const std::string& take, bool append);
// The closing update after a take the boards recorded into the song's
// sound file itself: envelope, pointers and durations on every station;
// prints what was stored. 0, or 1 on failure.
int CloseRecordedSound(const Options& options, int station, const std::string& code);

}  // namespace sono::cli
