// Error codes of the player control (0 = done, negative = error) and their
// texts. The first three carry the wording station staff know from the
// control this one stands in for; the rest are this implementation's own,
// in order down to the playlist code, which stays last.
#pragma once
#include <string>

namespace sono::audio::dj {

inline constexpr int kNone = 0;
inline constexpr int kInvalidPlayer = -1;
inline constexpr int kNoMemory = -2;
inline constexpr int kOutOfRange = -3;
inline constexpr int kNoValidDriver = -4;       // the device cannot be opened
inline constexpr int kDeviceBusy = -5;          // another program holds the device
inline constexpr int kFileNotFound = -6;
inline constexpr int kFileInvalid = -7;
inline constexpr int kFileTooSmall = -8;
inline constexpr int kFormatNotSupported = -9;
inline constexpr int kNoSound = -10;            // nothing loaded on the player
inline constexpr int kNotPlaying = -11;
inline constexpr int kNotPaused = -12;
inline constexpr int kPositionBeyondEnd = -13;
inline constexpr int kEmptyRange = -14;
inline constexpr int kTempoOutOfRange = -15;
inline constexpr int kNoSuchDevice = -16;
inline constexpr int kNotInitialized = -17;
inline constexpr int kStretcherFailed = -18;
inline constexpr int kNoOutputLeft = -19;       // the device has no room for another output
inline constexpr int kVolumeOutOfRange = -20;
inline constexpr int kSmoothingOutOfRange = -21;
inline constexpr int kBufferOutOfRange = -22;
inline constexpr int kDecodingFailed = -23;
inline constexpr int kEmptyFileName = -24;
inline constexpr int kNoInputDevice = -25;
inline constexpr int kNoInputFormat = -26;
inline constexpr int kAlreadyInitialized = -27;
inline constexpr int kTriggerIdOutOfRange = -28;
inline constexpr int kTriggerBeyondEnd = -29;
inline constexpr int kTooManyTriggers = -30;
inline constexpr int kMeterUnavailable = -31;
inline constexpr int kNotSupported = -32;
inline constexpr int kTriggerExists = -33;
inline constexpr int kTriggerNotFound = -34;
inline constexpr int kPlaylistNotAutomation = -35;
inline constexpr int kLastCode = kPlaylistNotAutomation;

// The text of a code; empty for 0, "Unknown error" + code outside the table.
std::string ErrorText(int code);

}  // namespace sono::audio::dj
