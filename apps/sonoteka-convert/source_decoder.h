// Decoding any source the import filter accepts, through FFmpeg's libraries,
// to interleaved float frames at the output rate and channel count.
//
// Lengths. What comes out is the length the source stands for, not what a
// naive decode gives:
//   - MP4/M4A and ASF/WMA state their length in their header; AAC and WMA
//     decoders give the encoder's priming and frame padding besides (AAC in
//     MP4 decodes up to a frame long; FFmpeg's WMA decoder keeps one frame
//     back, 46 ms at 44.1 kHz). The stated length wins: the sound is cut to
//     it, or completed with silence when the decoder gave up to 100 ms less.
//   - Raw AAC (ADTS) carries no length: the 1024 priming samples every AAC
//     encoder puts first are left out; the last frame's padding stays.
//   - A sample rate within 0.05 % of a standard rate (44107 Hz in a VOC
//     file, whose header cannot say 44100) is taken as that rate, so a long
//     sound does not drift by tens of milliseconds.
//   - The output has exactly round(input frames x output rate / input rate)
//     frames.
// Damage. A source that decodes to nothing, whose packets fail to decode,
// or that holds less than its header states (by more than 100 ms), is
// refused with a French message: a station never gets a damaged sound
// through an import.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVCodecContext;
struct SwrContext;

namespace sono::convert {

struct SourceInfo {
  std::string container;   // FFmpeg's demuxer name ("mp3", "mov,mp4,…", "wav")
  std::string codec;       // FFmpeg's decoder name
  int rate = 0;            // as decoded, after the standard-rate rule
  int fileRate = 0;        // as the file says
  int channels = 0;
  int64_t statedFrames = -1;  // length the header states, at `rate`; -1 unknown
  std::string title, artist;
};

class SourceDecoder {
 public:
  SourceDecoder();
  ~SourceDecoder();
  SourceDecoder(const SourceDecoder&) = delete;
  SourceDecoder& operator=(const SourceDecoder&) = delete;

  // `outRate` 0 keeps the source's rate. False with a French message.
  bool open(const std::string& path, int outRate, int outChannels, std::string& error);
  const SourceInfo& info() const { return info_; }
  int outRate() const { return outRate_; }

  // Decodes the whole source into `sink` (interleaved frames at the output
  // rate); `progress` gets whole percents of the file read. False with a
  // French message on damage, or when the sink refuses (its own message).
  using Sink = std::function<bool(const float* frames, long count)>;
  bool run(const Sink& sink, const std::function<void(int)>& progress, std::string& error);
  int64_t framesOut() const { return framesOut_; }
  int64_t framesIn() const { return framesIn_; }

 private:
  bool feed(const float* in, long frames, bool last, std::string& error);
  bool deliver(const float* out, long frames);
  bool drainDecoder(std::string& error);
  std::string path_;
  SourceInfo info_;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  SwrContext* convert_ = nullptr;  // decoder's format -> float at the source rate and out channels
  SwrContext* resample_ = nullptr; // float -> output rate
  int stream_ = -1;
  int outRate_ = 0, outChannels_ = 2;
  int64_t skip_ = 0;          // priming samples still to drop
  int64_t framesIn_ = 0;      // source frames after priming and the stated-length cut
  int64_t framesOut_ = 0;     // frames given to the sink
  int64_t decodeErrors_ = 0;
  bool fitToStated_ = false;  // cut or complete to the header's length
  bool sinkFailed_ = false;
  std::vector<float> held_;   // the output's last frames, held back to set the exact length
  std::vector<float> work_, resampled_;
  const Sink* sink_ = nullptr;
};

}  // namespace sono::convert
