// A song's pointers against a sound file. The pointers of a song that gets a new sound: a cue point recorded for the
// old sound may lie past the new one's end (an intro at 7 s on a 4 s sound).
// After an import every time pointer must obey the value rules of every other
// entry path (data::CheckPointerValue against the measured length):
//   - a pointer that starts past the end is removed, as if it had never been
//     set: intro, hook, loop, send, start equi and fade-in are then none, and
//     the fade-out and start next take the places a sound without pointers
//     gets (96 ms before the end, start next at the fade-out);
//   - a pointer that starts within the sound but runs past its end (fade,
//     hook, loop) keeps its start and has its duration cut at the end.
// Pitch and level are no times and stay as they are. Every station's records
// are put right in one transaction (as a store of the editor writes them all
// alike): all or nothing.
#pragma once
#include <string>
#include <vector>

#include "convert/converter_command.h"
#include "data/library.h"

namespace sono::convert {

// One pointer put right on one station.
struct PointerFit {
  int station = 0;
  int slot = 0;  // data::Slot
  long long position = 0, second = 0;
  bool removed = false;       // else its duration was cut
  long long newSecond = 0;    // the duration it now has
};

struct PointerFitResult {
  bool ok = true;  // false: the records could not be written, none changed (logged)
  std::vector<PointerFit> changes;
};

// Puts the song's pointers within `soundMs` on every station; each change is
// logged ("ImporterUnSon: Pointer past the end of the sound |…").
PointerFitResult FitPointersToSound(data::Library& lib, const std::string& code, long long soundMs,
                                    const std::string& caller);

// The cue points an exported WAV carries: intro and hook when set, start
// next and fade-out as playout plays them (their load rules applied), all
// within `soundMs` (0: not measured, the record's values as they load).
BroadcastTags SongCuePoints(data::Library& lib, int station, const std::string& code, long long soundMs);

// A change as the user reads it: "Intro (7000 ms) effacé, le son dure 4000 ms".
std::string DescribeFit(const PointerFit& fit, long long soundMs);

}  // namespace sono::convert
