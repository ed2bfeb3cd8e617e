// The workstation's audio slots and their natures, shared by the boards'
// layer and the audio set-up's model.
#pragma once

namespace sono::audio {

inline constexpr int kPlaybackSlots = 5;
inline constexpr int kMaxMonoChannels = 10;
inline constexpr int kNatureNone = 0, kNatureDirectX = 1, kNaturePcxTools = 2;

}  // namespace sono::audio
