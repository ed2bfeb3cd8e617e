// Code-to-text functions of the boards' description: bus, board model, flag
// sets (decoded from the highest flag down), clock names.
#pragma once
#include <string>

namespace sono::audio {

std::string LibBus(int bus);
std::string LibCarte(int boardType);
std::string LibDSP(int flags);
std::string LibPlayEffect(int flags);
std::string LibRecordEffect(int flags);
std::string LibInputInfo(int flags);
std::string LibOutputInfo(int flags);
std::string LibPlayRecordFormat(int flags);
// "CLOCK_DIGITAL", ... for a clock type; "44100 Hz" for the internal clock.
std::string ClockName(int clockType, int frequency);

}  // namespace sono::audio
