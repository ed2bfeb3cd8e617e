#include "audio/codec/pcm_reader.h"

#include <sndfile.h>

#include <algorithm>

namespace sono::audio {

namespace {

int SpeakerOf(int sfChannel) {
  switch (sfChannel) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT: return kFrontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT: return kFrontRight;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER: return kFrontCenter;
    case SF_CHANNEL_MAP_LFE: return kLowFrequency;
    case SF_CHANNEL_MAP_REAR_LEFT: return kBackLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT: return kBackRight;
    case SF_CHANNEL_MAP_REAR_CENTER: return kBackCenter;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER: return kFrontLeftOfCenter;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER: return kFrontRightOfCenter;
    case SF_CHANNEL_MAP_SIDE_LEFT: return kSideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT: return kSideRight;
    case SF_CHANNEL_MAP_TOP_CENTER: return kTopCenter;
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT: return kTopFrontLeft;
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER: return kTopFrontCenter;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: return kTopFrontRight;
    case SF_CHANNEL_MAP_TOP_REAR_LEFT: return kTopBackLeft;
    case SF_CHANNEL_MAP_TOP_REAR_CENTER: return kTopBackCenter;
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return kTopBackRight;
    default: return kSpeakerUnknown;
  }
}

// The speakers the file names (WAVE channel mask, CAF layout...), else the
// usual ones of its format for that many channels.
std::vector<int> SpeakersOf(SNDFILE* f, const SF_INFO& info) {
  std::vector<int> map(static_cast<size_t>(info.channels), SF_CHANNEL_MAP_INVALID);
  if (sf_command(f, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                 static_cast<int>(map.size() * sizeof(int))) == SF_TRUE) {
    std::vector<int> speakers;
    for (int c : map) speakers.push_back(SpeakerOf(c));
    if (std::find(speakers.begin(), speakers.end(), kSpeakerUnknown) == speakers.end()) return speakers;
  }
  return DefaultSpeakers(info.channels, (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG);
}

}  // namespace

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
  if (info.channels > 2) {
    auto mix = std::make_unique<Downmixer>(SpeakersOf(f, info), info.samplerate);
    if (mix->ok()) reader->downmix_ = std::move(mix);
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
  // More than two channels: mixed down, or the first two as the stereo pair
  // when the speakers are unknown.
  wide_.resize(static_cast<size_t>(frames) * ch);
  const long got = static_cast<long>(sf_readf_float(file_, wide_.data(), frames));
  if (got <= 0) return got;
  if (downmix_) return downmix_->process(wide_.data(), got, out) ? got : -1;
  for (long i = 0; i < got; ++i) {
    out[2 * i] = wide_[static_cast<size_t>(i) * ch];
    out[2 * i + 1] = wide_[static_cast<size_t>(i) * ch + 1];
  }
  return got;
}

}  // namespace sono::audio
