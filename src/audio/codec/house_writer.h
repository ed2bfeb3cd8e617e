// Writer of the house format through libtwolame: MPEG-1 Layer II, 48000 Hz,
// 256 kbit/s, stereo, energy levels on. The file is written under a temporary
// name beside the target and renamed over it by finish(), so a failed or
// abandoned encoding never leaves a half-written sound under the real name.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct twolame_options_struct;

namespace sono::audio {

class HouseWriter {
 public:
  HouseWriter() = default;
  ~HouseWriter();
  HouseWriter(const HouseWriter&) = delete;
  HouseWriter& operator=(const HouseWriter&) = delete;

  bool open(const std::string& path);
  // Writes straight into `path` (a take being recorded): every encoded frame
  // goes out whole in one write(2), so the file is a valid sound after each
  // one; finish() flushes and syncs without renaming, abandon() keeps what
  // was written.
  bool openInPlace(const std::string& path);
  // Pushes what was written to the disk (fdatasync).
  bool sync();
  // Interleaved stereo frames at 48000 Hz.
  bool write(const int16_t* stereo, int frames);
  bool writeFloat(const float* stereo, int frames);
  // Flushes the encoder (the last frame is padded with silence) and renames.
  bool finish();
  // Removes the temporary file; the target is left as it was (in place: the
  // file is closed with what it holds).
  void abandon();

  const std::string& error() const { return error_; }
  // The errno of the failed system call behind error() (0 for an encoder fault).
  int errorNumber() const { return errno_; }
  int64_t framesWritten() const { return framesIn_; }
  // Bytes of encoded frames written to the file so far.
  int64_t bytesWritten() const { return bytesOut_; }

 private:
  bool openFile(const std::string& path, bool inPlace);
  bool flushBuffer(int bytes);
  void CloseOptions();
  twolame_options_struct* options_ = nullptr;
  int fd_ = -1;  // written with write(2): every write is seen, none buffered away
  int errno_ = 0;
  std::string path_, temp_, error_;
  std::vector<unsigned char> mp2_;
  std::vector<int16_t> pcm_;
  int64_t framesIn_ = 0;
  int64_t bytesOut_ = 0;
  bool inPlace_ = false;
};

// A libtwolame encoder set up for the house format (MPEG-1 Layer II,
// 48000 Hz, 256 kbit/s, stereo, energy levels on), its parameters
// initialised: the one place those settings are written, for the writer and
// for the few frames a smooth join encodes again. Null when the library
// refuses (`error` says which call); the caller closes it (twolame_close).
twolame_options_struct* OpenHouseEncoder(std::string* error = nullptr);

struct EncodeResult {
  bool ok = false;
  std::string error;
  int64_t inputFrames = 0;   // sample frames read from the source
  int64_t outputFrames = 0;  // MPEG frames written
};

// Any sound file the readers open (WAV, AIFF, FLAC, Ogg, MPEG) to the house
// format; sources at another rate are resampled to 48000 Hz.
EncodeResult EncodeToHouse(const std::string& input, const std::string& output);

}  // namespace sono::audio
