#include "audio/codec/resampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace sono::audio {

Resampler::Resampler(int inRate, int outRate) : inRate_(inRate), outRate_(outRate) {
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

}  // namespace sono::audio
