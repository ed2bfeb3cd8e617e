#include "ogg_encoder.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>

#include "temporary_target.h"

namespace sono::convert {

namespace {

constexpr long kAnalysisFrames = 1024;  // frames handed to the analysis at a time
constexpr int kSerial = 0x5307;         // one stream per file: any serial does

bool SetUp(vorbis_info& vi, int rate, int channels, double quality, int kbps) {
  vorbis_info_init(&vi);
  const int rc = quality >= -1 ? vorbis_encode_init_vbr(&vi, channels, rate, static_cast<float>(quality))
                               : vorbis_encode_init(&vi, channels, rate, -1, kbps * 1000L, -1);
  return rc == 0;
}

class OggEncoder final : public SoundEncoder {
 public:
  OggEncoder(double quality, int kbps) : quality_(quality), kbps_(kbps) {}
  ~OggEncoder() override { abandon(); }

  bool open(const std::string& target, int rate, int channels) override {
    if (!SetUp(info_, rate, channels, quality_, kbps_)) {
      vorbis_info_clear(&info_);
      return false;
    }
    vorbis_comment_init(&comment_);
    vorbis_analysis_init(&dsp_, &info_);
    vorbis_block_init(&dsp_, &block_);
    ogg_stream_init(&stream_, kSerial);
    ready_ = true;
    channels_ = channels;
    if (file_.open(target) < 0) return false;
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&dsp_, &comment_, &header, &comments, &codebooks);
    ogg_stream_packetin(&stream_, &header);
    ogg_stream_packetin(&stream_, &comments);
    ogg_stream_packetin(&stream_, &codebooks);
    // The headers on pages of their own, as players expect.
    ogg_page page;
    while (ogg_stream_flush(&stream_, &page))
      if (!writePage(page)) return false;
    return true;
  }

  bool write(const float* frames, long count) override {
    for (long done = 0; done < count;) {
      const long n = std::min(kAnalysisFrames, count - done);
      float** buffer = vorbis_analysis_buffer(&dsp_, static_cast<int>(n));
      for (long i = 0; i < n; ++i)
        for (int c = 0; c < channels_; ++c) buffer[c][i] = frames[(done + i) * channels_ + c];
      vorbis_analysis_wrote(&dsp_, static_cast<int>(n));
      if (!drain()) return false;
      done += n;
    }
    return true;
  }

  bool finish() override {
    vorbis_analysis_wrote(&dsp_, 0);  // the end of the stream
    bool ok = drain();
    ogg_page page;
    while (ok && ogg_stream_flush(&stream_, &page)) ok = writePage(page);
    release();
    if (!ok) {
      file_.discard();
      return false;
    }
    return file_.commit();
  }

  void abandon() override {
    release();
    file_.discard();
  }
  int errorNumber() const override { return file_.errorNumber(); }

 private:
  bool writePage(const ogg_page& page) {
    return file_.write(page.header, static_cast<size_t>(page.header_len)) &&
           file_.write(page.body, static_cast<size_t>(page.body_len));
  }

  bool drain() {
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&dsp_, &block_) == 1) {
      vorbis_analysis(&block_, nullptr);
      vorbis_bitrate_addblock(&block_);
      while (vorbis_bitrate_flushpacket(&dsp_, &packet)) {
        ogg_stream_packetin(&stream_, &packet);
        while (ogg_stream_pageout(&stream_, &page))
          if (!writePage(page)) return false;
      }
    }
    return true;
  }

  void release() {
    if (!ready_) return;
    ogg_stream_clear(&stream_);
    vorbis_block_clear(&block_);
    vorbis_dsp_clear(&dsp_);
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
    ready_ = false;
  }

  double quality_;
  int kbps_;
  int channels_ = 2;
  bool ready_ = false;
  vorbis_info info_{};
  vorbis_comment comment_{};
  vorbis_dsp_state dsp_{};
  vorbis_block block_{};
  ogg_stream_state stream_{};
  TemporaryTarget file_;
};

}  // namespace

std::string OggRefusal(int rate, int channels, double quality, int kbps) {
  if (rate == 0) return "";
  vorbis_info vi;
  const bool ok = SetUp(vi, rate, channels, quality, kbps);
  vorbis_info_clear(&vi);
  if (ok) return "";
  if (quality >= -1) return "Qualité Ogg Vorbis non prise en charge à " + std::to_string(rate) + " Hz";
  return "Débit non pris en charge en Ogg Vorbis à " + std::to_string(rate) + " Hz: " + std::to_string(kbps) +
         " kbit/s";
}

std::unique_ptr<SoundEncoder> MakeOggEncoder(double quality, int kbps) {
  return std::make_unique<OggEncoder>(quality, kbps);
}

}  // namespace sono::convert
