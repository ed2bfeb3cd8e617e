#include "audio/codec/house_writer.h"

#include <fcntl.h>
#include <twolame.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/codec/house_format.h"
#include "audio/codec/resampler.h"
#include "audio/codec/sound_reader.h"

namespace sono::audio {

twolame_options_struct* OpenHouseEncoder(std::string* error) {
  twolame_options* o = twolame_init();
  if (!o) {
    if (error) *error = "twolame_init";
    return nullptr;
  }
  twolame_set_verbosity(o, 0);
  twolame_set_num_channels(o, kHouseChannels);
  twolame_set_in_samplerate(o, kHouseRate);
  twolame_set_out_samplerate(o, kHouseRate);
  twolame_set_version(o, TWOLAME_MPEG1);
  twolame_set_mode(o, TWOLAME_STEREO);
  twolame_set_bitrate(o, kHouseBitrateKbps);
  twolame_set_energy_levels(o, 1);
  if (twolame_init_params(o) != 0) {
    if (error) *error = "twolame_init_params";
    twolame_close(&o);
    return nullptr;
  }
  return o;
}

HouseWriter::~HouseWriter() { abandon(); }

void HouseWriter::CloseOptions() {
  if (options_) twolame_close(&options_);
  options_ = nullptr;  // the library does not always clear it
}

bool HouseWriter::open(const std::string& path) { return openFile(path, false); }

bool HouseWriter::openInPlace(const std::string& path) { return openFile(path, true); }

bool HouseWriter::sync() {
  if (fd_ < 0) return false;
  if (::fdatasync(fd_) == 0) return true;
  errno_ = errno;
  error_ = "fsync error on " + temp_;
  return false;
}

bool HouseWriter::openFile(const std::string& path, bool inPlace) {
  abandon();
  path_ = path;
  inPlace_ = inPlace;
  bytesOut_ = 0;
  framesIn_ = 0;
  temp_ = inPlace ? path : path + ".part" + std::to_string(::getpid());
  options_ = OpenHouseEncoder(&error_);
  if (!options_) return false;
  errno_ = 0;
  fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    errno_ = errno;
    error_ = "cannot create " + temp_;
    CloseOptions();
    return false;
  }
  return true;
}

bool HouseWriter::flushBuffer(int bytes) {
  if (bytes < 0) {
    error_ = "twolame encoding error";
    return false;
  }
  const unsigned char* p = mp2_.data();
  size_t left = static_cast<size_t>(bytes);
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      errno_ = n < 0 ? errno : EIO;
      error_ = "write error on " + temp_;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
    bytesOut_ += n;
  }
  return true;
}

bool HouseWriter::write(const int16_t* stereo, int frames) {
  if (fd_ < 0) return false;
  // Worst case from the library's documentation: 1.25 x samples + 7200 bytes.
  mp2_.resize(static_cast<size_t>(frames) * 5 / 4 + 7200);
  const int bytes = twolame_encode_buffer_interleaved(options_, stereo, frames, mp2_.data(),
                                                      static_cast<int>(mp2_.size()));
  framesIn_ += frames;
  return flushBuffer(bytes);
}

bool HouseWriter::writeFloat(const float* stereo, int frames) {
  pcm_.resize(static_cast<size_t>(frames) * 2);
  for (size_t i = 0; i < pcm_.size(); ++i) {
    const float v = std::clamp(stereo[i], -1.0f, 1.0f) * 32767.0f;
    pcm_[i] = static_cast<int16_t>(std::lrint(v));
  }
  return write(pcm_.data(), frames);
}

bool HouseWriter::finish() {
  if (fd_ < 0) return false;
  mp2_.resize(16384);
  bool ok = flushBuffer(twolame_encode_flush(options_, mp2_.data(), static_cast<int>(mp2_.size())));
  if (ok && ::fsync(fd_) != 0) {
    errno_ = errno;
    error_ = "fsync error on " + temp_;
    ok = false;
  }
  if (::close(fd_) != 0 && ok) {
    errno_ = errno;
    error_ = "close error on " + temp_;
    ok = false;
  }
  fd_ = -1;
  CloseOptions();
  if (inPlace_) return ok;  // a take keeps what was written, even after a failure
  if (ok && std::rename(temp_.c_str(), path_.c_str()) != 0) {
    errno_ = errno;
    error_ = "cannot rename " + temp_;
    ok = false;
  }
  if (!ok) std::remove(temp_.c_str());
  return ok;
}

void HouseWriter::abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    if (!inPlace_) std::remove(temp_.c_str());
  }
  CloseOptions();
}

EncodeResult EncodeToHouse(const std::string& input, const std::string& output) {
  EncodeResult result;
  OpenedSound src = OpenSound(input);
  if (!src.reader) {
    switch (src.error) {
      case OpenError::NotFound: result.error = "fichier introuvable: " + input; break;
      case OpenError::TooSmall: result.error = "fichier trop petit: " + input; break;
      default: result.error = "format non reconnu: " + input;
    }
    return result;
  }
  HouseWriter writer;
  if (!writer.open(output)) {
    result.error = writer.error();
    return result;
  }
  const int rate = src.reader->format().sampleRate;
  Resampler resampler(rate, kHouseRate);
  constexpr long kBlock = 8192;
  std::vector<float> in(kBlock * 2), out;
  while (true) {
    const long got = src.reader->readStereo(in.data(), kBlock);
    if (got < 0) {
      result.error = "erreur de décodage: " + input;
      return result;
    }
    const bool last = got == 0;
    const float* data = in.data();
    long frames = got;
    if (rate != kHouseRate) {
      resampler.process(in.data(), got, out, last);
      data = out.data();
      frames = static_cast<long>(out.size() / 2);
    }
    result.inputFrames += got;
    if (frames > 0 && !writer.writeFloat(data, static_cast<int>(frames))) {
      result.error = writer.error();
      return result;
    }
    if (last) break;
  }
  const int64_t written = writer.framesWritten();
  if (!writer.finish()) {
    result.error = writer.error();
    return result;
  }
  result.outputFrames = (written + kHouseFrameSamples - 1) / kHouseFrameSamples;
  result.ok = true;
  return result;
}

}  // namespace sono::audio
