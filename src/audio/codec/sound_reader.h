// Reading a sound file as 32-bit float stereo: MPEG audio through libmpg123,
// WAV/AIFF/FLAC/Ogg through libsndfile. Lengths are exact (MPEG lengths come
// from the frame scanner) and seeks are sample-accurate. Sources with more
// than two channels are mixed down to stereo with the standard coefficients.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "audio/codec/mpeg_frames.h"

namespace sono::audio {

enum class SoundKind { Mpeg, Pcm };

struct SoundFormat {
  SoundKind kind = SoundKind::Mpeg;
  int sampleRate = 0;
  int channels = 0;     // of the file; reading always gives stereo
  int layer = 0;        // MPEG layer, 0 for PCM
  int bitrateKbps = 0;  // MPEG bit rate, 0 for PCM
  int bitsPerSample = 0;  // PCM sample width (0 for MPEG and compressed PCM)
  int64_t lengthFrames = 0;
  int64_t damagedFrames = 0;  // MPEG frames the scanner skipped as damaged
  int64_t durationMs() const;
};

class SoundReader {
 public:
  virtual ~SoundReader() = default;
  const SoundFormat& format() const { return format_; }
  // Positions the next read at sample frame `frame` (0 .. lengthFrames).
  virtual bool seekFrame(int64_t frame) = 0;
  // Reads up to `frames` stereo frames, interleaved, full scale at ±1. A loud
  // or damaged MPEG stream decodes beyond ±1 (libmpg123's float output is not
  // clipped): whoever turns samples into integers clamps, and a peak meter
  // sees the overs. Returns the frames read: 0 at the end of the file, -1 on
  // a decoding error.
  virtual long readStereo(float* out, long frames) = 0;

 protected:
  SoundFormat format_;
};

enum class OpenError { None, NotFound, TooSmall, Invalid };

struct OpenedSound {
  std::unique_ptr<SoundReader> reader;
  OpenError error = OpenError::None;
  std::string message;  // the library's own words, for the log
};

// Opens by content, not by extension: a stream of MPEG frames goes to
// libmpg123, anything libsndfile recognises to libsndfile.
OpenedSound OpenSound(const std::string& path);

// Library set-up shared by every reader (libmpg123 before 1.27 needs it once).
void InitDecoders();

}  // namespace sono::audio
