#include "audio/codec/resampler.h"

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace sono::audio {

Resampler::Resampler(int inRate, int outRate) {
  if (inRate == outRate || inRate <= 0) return;
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  if (swr_alloc_set_opts2(&swr_, &stereo, AV_SAMPLE_FMT_FLT, outRate, &stereo, AV_SAMPLE_FMT_FLT,
                          inRate, 0, nullptr) < 0 ||
      swr_init(swr_) < 0) {
    swr_free(&swr_);
  }
}

Resampler::~Resampler() { swr_free(&swr_); }

bool Resampler::process(const float* in, long frames, std::vector<float>& out, bool last) {
  out.clear();
  if (!swr_) return false;
  const int room = swr_get_out_samples(swr_, static_cast<int>(frames)) + 64;
  out.resize(static_cast<size_t>(room) * 2);
  uint8_t* dst = reinterpret_cast<uint8_t*>(out.data());
  const uint8_t* src = reinterpret_cast<const uint8_t*>(in);
  int got = swr_convert(swr_, &dst, room, frames > 0 ? &src : nullptr, static_cast<int>(frames));
  if (got < 0) return false;
  size_t total = static_cast<size_t>(got);
  if (last) {
    // Drain what the filter still holds.
    while (true) {
      out.resize((total + 4096) * 2);
      uint8_t* tail = reinterpret_cast<uint8_t*>(out.data() + total * 2);
      const int more = swr_convert(swr_, &tail, 4096, nullptr, 0);
      if (more <= 0) break;
      total += static_cast<size_t>(more);
    }
  }
  out.resize(total * 2);
  return true;
}

std::vector<int> DefaultSpeakers(int channels, bool vorbisOrder) {
  const int FL = kFrontLeft, FR = kFrontRight, FC = kFrontCenter, LFE = kLowFrequency,
            BL = kBackLeft, BR = kBackRight, BC = kBackCenter, SL = kSideLeft, SR = kSideRight;
  if (vorbisOrder) {
    switch (channels) {
      case 3: return {FL, FC, FR};
      case 4: return {FL, FR, BL, BR};
      case 5: return {FL, FC, FR, BL, BR};
      case 6: return {FL, FC, FR, BL, BR, LFE};
      case 7: return {FL, FC, FR, SL, SR, BC, LFE};
      case 8: return {FL, FC, FR, SL, SR, BL, BR, LFE};
      default: return {};
    }
  }
  switch (channels) {
    case 3: return {FL, FR, FC};
    case 4: return {FL, FR, BL, BR};
    case 5: return {FL, FR, FC, BL, BR};
    case 6: return {FL, FR, FC, LFE, BL, BR};
    case 7: return {FL, FR, FC, LFE, BC, SL, SR};
    case 8: return {FL, FR, FC, LFE, BL, BR, SL, SR};
    default: return {};
  }
}

Downmixer::Downmixer(const std::vector<int>& speakers, int rate)
    : channels_(static_cast<int>(speakers.size())) {
  // libswresample takes the channels in mask order: the source's channels are
  // put in that order first.
  uint64_t mask = 0;
  for (int s : speakers) {
    if (s < 0 || s > kTopBackRight || (mask & (uint64_t{1} << s))) return;
    mask |= uint64_t{1} << s;
  }
  if (channels_ < 3) return;
  for (int bit = 0; bit <= kTopBackRight; ++bit)
    for (int c = 0; c < channels_; ++c)
      if (speakers[static_cast<size_t>(c)] == bit) sourceOf_.push_back(c);
  AVChannelLayout in{}, out = AV_CHANNEL_LAYOUT_STEREO;
  if (av_channel_layout_from_mask(&in, mask) < 0) return;
  if (swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_FLT, rate, &in, AV_SAMPLE_FMT_FLT, rate, 0,
                          nullptr) < 0 ||
      swr_init(swr_) < 0)
    swr_free(&swr_);
  av_channel_layout_uninit(&in);
}

Downmixer::~Downmixer() { swr_free(&swr_); }

bool Downmixer::process(const float* in, long frames, float* out) {
  if (!swr_ || frames <= 0) return frames == 0;
  sorted_.resize(static_cast<size_t>(frames) * static_cast<size_t>(channels_));
  for (long i = 0; i < frames; ++i)
    for (int k = 0; k < channels_; ++k)
      sorted_[static_cast<size_t>(i * channels_ + k)] =
          in[i * channels_ + sourceOf_[static_cast<size_t>(k)]];
  const uint8_t* src = reinterpret_cast<const uint8_t*>(sorted_.data());
  uint8_t* dst = reinterpret_cast<uint8_t*>(out);
  // At the same rate the mix has no delay: every frame comes out at once.
  return swr_convert(swr_, &dst, static_cast<int>(frames), &src, static_cast<int>(frames)) == frames;
}

}  // namespace sono::audio
