// MPEG audio frame headers and the frame scanner: walks a file frame by frame
// without decoding, to give its exact duration (frames x samples per frame)
// and to tell a valid stream from a file that only carries the extension.
//
// Damage: where a header is bad (a damaged frame, a run of garbage), the
// scanner resynchronises on the next valid header as decoders do. A candidate
// counts only when another valid header of the same stream follows it where
// its frame length says (or the file ends there), so that a sync pattern
// inside audio data is not taken for a frame. The bytes skipped are reported
// as damaged stretches; the duration counts the whole frames found, which is
// what a decoder plays.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sono::audio {

struct MpegHeader {
  int version = 1;          // 1, 2, or 25 for MPEG-2.5
  int layer = 2;            // 1, 2, 3
  int bitrateKbps = 0;
  int sampleRate = 0;
  int channels = 2;
  bool padding = false;
  int frameBytes = 0;
  int samplesPerFrame = 0;
};

// Decodes the four header bytes at `p`; nothing for a bad sync, a free-format
// or reserved bit rate, or a reserved rate or layer.
std::optional<MpegHeader> ParseMpegHeader(const uint8_t* p);

enum class ScanStatus {
  Ok,
  NotFound,   // no such file, or unreadable
  TooSmall,   // empty, or shorter than one whole frame
  Invalid,    // not an MPEG audio stream
};

// Bytes the scanner skipped to find the next frame.
struct DamagedStretch {
  int64_t offset = 0;
  int64_t bytes = 0;
};

struct FrameScan {
  ScanStatus status = ScanStatus::NotFound;
  MpegHeader first;          // header of the first frame
  int64_t frames = 0;        // whole audio frames (an encoder's info frame is not one)
  int64_t samples = 0;       // what a decoder gives: frames x samples per frame,
                             // less the encoder delay and padding an info frame announces
  int64_t durationMs = 0;    // samples at the stream's rate, rounded down
  int64_t fileBytes = 0;
  int64_t dataOffset = 0;    // where the first frame starts (after an ID3v2 tag)
  int64_t dataEnd = 0;       // end of the last whole frame
  int64_t trailingBytes = 0; // bytes after the last whole frame (cut frame, junk; not a tag)
  bool truncated = false;    // the last frame is cut short
  bool uniform = true;       // every frame has the first frame's channel mode
  // A Xing/Info frame of an MP3 encoder, with the LAME delay and padding in
  // samples (0 without one); the decoder plays the sound without them.
  bool infoFrame = false;
  int encoderDelay = 0, encoderPadding = 0;
  // Damage: frames lost (each stretch counts its bytes in frames of the
  // stream's length, at least one), every stretch skipped, junk at the end
  // included (a cut last frame or a tag is not damage).
  int64_t damagedFrames = 0;
  int64_t damagedBytes = 0;
  std::vector<DamagedStretch> damage;
  // Milliseconds the damaged frames stood for.
  int64_t damagedMs() const;
};

FrameScan ScanMpegFile(const std::string& path);

// The log text of a scan's damage ("" when there is none): the count, the
// bytes skipped and where (the first stretches).
std::string DescribeDamage(const FrameScan& scan);

}  // namespace sono::audio
