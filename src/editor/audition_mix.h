// The mixing audition's plan: which stretch of each sound plays, and where
// the second one comes in, so that the transition between the current sound
// and another song is heard as it will air.
//
// Decisions of this port (the pairing is ours):
//   - A sound's join is its "Start Next" pointer, else its "Fade Out"
//     pointer, else its end.
//   - The end mix plays the current sound from 5 s before its join and
//     starts the other song from its beginning at that join; the start mix
//     plays the other song from 5 s before its join and starts the current
//     sound from its beginning there. Both stop 5 s after the join.
//   - Each sound plays with its own level correction and pitch.
#pragma once
#include <optional>
#include <string>

#include "data/library.h"

namespace sono::editor {

// What the mixing audition needs of a song.
struct MixSong {
  std::string code, soundFile;
  int durationMs = 0;               // the sound's length
  int startNextMs = 0, fadeOutMs = 0;  // pointers, 0 when unset
  double levelDb = 0;               // the song's level correction
  long long pitch = 0;              // millionths of nominal speed (0: nominal)
};

// The song `code` of `station` with its pointers and sound; none when the
// song is not in the song file. The sound may be missing (durationMs 0).
std::optional<MixSong> ReadMixSong(data::Library& lib, int station, const std::string& code);

inline constexpr int kMixLeadMs = 5000;   // heard before the join
inline constexpr int kMixAfterMs = 5000;  // heard after it

int MixJoinMs(const MixSong& s);

// One stretch of a sound: [startMs, endMs).
struct MixStretch {
  int startMs = 0, endMs = 0;
};
// The plan: `first` plays at once and `second` starts when the first reaches `joinMs`.
struct MixPlan {
  bool currentFirst = true;  // the end mix: the current sound first
  MixStretch first, second;
  int joinMs = 0;  // in the first sound
};
MixPlan PlanMix(bool startOfSound, const MixSong& current, const MixSong& other);

}  // namespace sono::editor
