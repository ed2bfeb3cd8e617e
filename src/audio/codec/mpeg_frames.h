// MPEG audio frame headers and the frame scanner: walks a file frame by frame
// without decoding, to give its exact duration (frames x samples per frame)
// and to tell a valid stream from a file that only carries the extension.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

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

struct FrameScan {
  ScanStatus status = ScanStatus::NotFound;
  MpegHeader first;          // header of the first frame
  int64_t frames = 0;        // whole frames
  int64_t samples = 0;       // frames x samples per frame
  int64_t durationMs = 0;    // samples at the stream's rate, rounded down
  int64_t fileBytes = 0;
  int64_t dataOffset = 0;    // where the first frame starts (after an ID3v2 tag)
  int64_t trailingBytes = 0; // bytes after the last whole frame (cut frame, junk)
  bool truncated = false;    // the last frame is cut short
  bool uniform = true;       // every frame has the first frame's layer, rate and mode
};

FrameScan ScanMpegFile(const std::string& path);

}  // namespace sono::audio
