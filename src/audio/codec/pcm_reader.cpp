#include "audio/codec/pcm_reader.h"

#include <sndfile.h>

#include <algorithm>

namespace sono::audio {

PcmReader::~PcmReader() {
  if (file_) sf_close(file_);
}

std::unique_ptr<PcmReader> PcmReader::Open(const std::string& path, std::string& message) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    message = sf_strerror(nullptr);
    return nullptr;
  }
  std::unique_ptr<PcmReader> reader(new PcmReader());
  reader->file_ = f;
  // Integer samples are scaled so that full scale is exactly 1.0.
  sf_command(f, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
  SoundFormat& fmt = reader->format_;
  fmt.kind = SoundKind::Pcm;
  fmt.sampleRate = info.samplerate;
  fmt.channels = info.channels;
  fmt.lengthFrames = info.frames;
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: fmt.bitsPerSample = 8; break;
    case SF_FORMAT_PCM_16: fmt.bitsPerSample = 16; break;
    case SF_FORMAT_PCM_24: fmt.bitsPerSample = 24; break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: fmt.bitsPerSample = 32; break;
    default: fmt.bitsPerSample = 0;
  }
  if (info.channels < 1 || info.samplerate <= 0) {
    message = "no audio channel";
    return nullptr;
  }
  return reader;
}

bool PcmReader::seekFrame(int64_t frame) {
  frame = std::clamp<int64_t>(frame, 0, format_.lengthFrames);
  return sf_seek(file_, frame, SEEK_SET) == frame;
}

long PcmReader::readStereo(float* out, long frames) {
  const int ch = format_.channels;
  if (ch == 2) return static_cast<long>(sf_readf_float(file_, out, frames));
  if (ch == 1) {
    // Read mono into the first half, then spread from the end backwards.
    const long got = static_cast<long>(sf_readf_float(file_, out, frames));
    for (long i = got - 1; i >= 0; --i) out[2 * i] = out[2 * i + 1] = out[i];
    return got;
  }
  // More than two channels: the first two are the stereo pair.
  wide_.resize(static_cast<size_t>(frames) * ch);
  const long got = static_cast<long>(sf_readf_float(file_, wide_.data(), frames));
  for (long i = 0; i < got; ++i) {
    out[2 * i] = wide_[static_cast<size_t>(i) * ch];
    out[2 * i + 1] = wide_[static_cast<size_t>(i) * ch + 1];
  }
  return got;
}

}  // namespace sono::audio
