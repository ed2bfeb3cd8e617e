// Error codes of the board tools (0 = none, negative = error, positive =
// warning). The codes the layer above tests have their fixed values; the
// parameter codes are this implementation's own.
#pragma once

namespace sono::audio::err {

inline constexpr int kNone = 0;
// Allocation: the layer retries these with one channel less.
inline constexpr int kNoPipeLeft = -15615;         // every pipe of the engine is in use
inline constexpr int kChannelsBusy = -15605;       // no free stereo pair at that output
inline constexpr int kTooManyChannels = -15586;    // more channels than the board has from there
inline constexpr int kTooManyStreams = -15488;     // more streams than a pipe can hold
inline constexpr int kDeviceBusy = -29437;         // the device is held by another program
inline constexpr int kDeviceOpen = -28662;         // the device cannot be opened
inline constexpr int kDeviceLost = -23804;         // the device stopped working (unplugged)
// Files.
inline constexpr int kFileTooSmall = -30195;       // empty, or shorter than one frame
inline constexpr int kFileInvalid = -30203;        // not found, or not a sound file
inline constexpr int kFormatNotSupported = -23290; // format or rate the pipe cannot play
inline constexpr int kFileInUse = -29937;          // a take is already recording into the file
inline constexpr int kClockInvalid = -23285;       // clock the board cannot follow
inline constexpr int kNotRegistered = -28671;      // the tools are not registered
inline constexpr int kNoStreams = -27386;          // zero or too many streams asked
// Parameters.
inline constexpr int kBadPipe = -15360;
inline constexpr int kBadStream = -15359;
inline constexpr int kBadFileName = -15358;
inline constexpr int kBadStart = -15357;
inline constexpr int kBadEnd = -15356;
inline constexpr int kBadTimeUnit = -15355;
inline constexpr int kBadLevel = -15354;
inline constexpr int kBadFadeIn = -15353;
inline constexpr int kBadFadeOut = -15352;
inline constexpr int kBadBoard = -15351;
inline constexpr int kBadChannel = -15350;
inline constexpr int kStreamNotReady = -15349;     // start or pause of a stream with no sound
inline constexpr int kFileExists = -15348;         // a safe record onto a file that exists
inline constexpr int kBadRecordMode = -15347;      // a record mode or start condition out of range
inline constexpr int kTooManyApps = -23807;        // registration refused
// Warning.
inline constexpr int kNotSupported = 9218;

}  // namespace sono::audio::err
