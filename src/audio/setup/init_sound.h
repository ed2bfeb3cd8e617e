// The initialisation sound "Vexa_Init.s48": queued on every PCX playback
// pipe at start-up and the pipe started, so that the pipe, its clock and its
// levels are exercised before the first sound goes on air.
//
// Decisions of this port:
//   - Its folder is the program folder ($SONOTEKA_HOME), where the suite
//     kept it beside the program.
//   - A missing sound is made, not just reported: half a second of silence
//     in the house format (the station hears nothing, as with the suite's
//     own file), written under a temporary name and renamed. A workstation
//     installed without it would otherwise say "Fichier '…' non trouvé." at
//     every start and never warm its pipes. Only when it cannot be made (a
//     read-only or full disk) is it reported as the suite does: the log line
//     "Err: File '…' not found" and the message "Fichier '…' non trouvé.".
//   - A station's own file (a jingle of its choice) is played as it is.
#pragma once
#include <string>

namespace sono::audio {

inline constexpr const char* kInitSoundName = "Vexa_Init";
inline constexpr int kInitSoundMs = 480;  // 20 house frames of silence

// The initialisation sound's path in `programFolder` (ending with "/").
std::string InitSoundFile(const std::string& programFolder);

enum class InitSoundState { Found, Created, Missing };
// Makes the sound when it is missing; `error` says why it could not be.
InitSoundState EnsureInitSound(const std::string& file, std::string* error = nullptr);

}  // namespace sono::audio
