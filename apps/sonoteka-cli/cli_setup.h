// setup show / set for the audio set-up's keys (the sections of `FrmSetup`);
// the UDP section stays with the notifications (cli_notify.cpp).
#pragma once
#include <string>

namespace sono::cli {

class Session;

// Prints every audio key as "[Section]" and "Key=value" lines, then the
// devices of this computer by number.
void ShowAudioSetup(Session& session);
// Checks and stores one audio key; 0 stored, 1 not written, 2 refused.
int SetAudioSetup(Session& session, const std::string& section, const std::string& key, const std::string& value);
// True when `section` holds keys of the audio set-up.
bool IsAudioSetupSection(const std::string& section);

}  // namespace sono::cli
