// 16-bit stereo WAV files of what an output played. Both writers work under a
// temporary name beside the target ("<target>.part<pid>") and rename it over
// the target only once the file is whole and on disk, so a failed or
// abandoned write leaves the previous file as it was.
#pragma once
#include <cstdint>
#include <string>

struct sf_private_tag;

namespace sono::audio {

bool WriteWavAtomic(const std::string& path, const float* stereo, size_t frames, int rate,
                    std::string* error = nullptr);

// Streams interleaved float stereo to the file as it comes (memory stays
// flat for any length). The header is completed at finish(); a file that
// grows past 4 GB is written as RF64.
class WavStreamWriter {
 public:
  WavStreamWriter() = default;
  ~WavStreamWriter();
  WavStreamWriter(const WavStreamWriter&) = delete;
  WavStreamWriter& operator=(const WavStreamWriter&) = delete;

  bool open(const std::string& path, int rate);
  // False once a write failed (a full disk): what follows is not written.
  bool write(const float* stereo, size_t frames);
  // Completes the header, flushes to disk and renames over the target.
  bool finish();
  // Removes the temporary file; the target is left as it was.
  void abandon();

  bool isOpen() const { return file_ != nullptr; }
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  int64_t frames() const { return frames_; }

 private:
  sf_private_tag* file_ = nullptr;
  std::string path_, temp_, error_;
  bool failed_ = false;
  int64_t frames_ = 0;
};

}  // namespace sono::audio
