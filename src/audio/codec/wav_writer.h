// Writes interleaved float stereo to a 16-bit WAV file atomically (temporary
// file beside the target, then rename).
#pragma once
#include <string>
#include <vector>

namespace sono::audio {

bool WriteWavAtomic(const std::string& path, const float* stereo, size_t frames, int rate,
                    std::string* error = nullptr);

}  // namespace sono::audio
