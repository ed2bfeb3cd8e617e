#include "mp3_encoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <vector>

#include "temporary_target.h"

namespace sono::convert {

namespace {

constexpr int kQuality = 2;  // LAME's "high quality" (0 best .. 9 fastest)
constexpr int kMpeg1Rates[] = {32000, 44100, 48000};
constexpr int kMpeg2Rates[] = {8000, 11025, 12000, 16000, 22050, 24000};
constexpr int kMpeg1Bitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2Bitrates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

template <size_t N>
bool In(const int (&list)[N], int v) {
  return std::find(std::begin(list), std::end(list), v) != std::end(list);
}

class Mp3Encoder final : public SoundEncoder {
 public:
  explicit Mp3Encoder(int bitrateKbps) : bitrate_(bitrateKbps) {}
  ~Mp3Encoder() override { abandon(); }

  bool open(const std::string& target, int rate, int channels) override {
    lame_ = lame_init();
    if (!lame_) return false;
    lame_set_in_samplerate(lame_, rate);
    lame_set_out_samplerate(lame_, rate);
    lame_set_num_channels(lame_, channels);
    lame_set_mode(lame_, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame_, bitrate_);
    lame_set_VBR(lame_, vbr_off);
    lame_set_quality(lame_, kQuality);
    lame_set_bWriteVbrTag(lame_, 1);
    if (lame_init_params(lame_) < 0) {
      lame_close(lame_);
      lame_ = nullptr;
      return false;
    }
    channels_ = channels;
    return file_.open(target) >= 0;
  }

  bool write(const float* frames, long count) override {
    left_.resize(static_cast<size_t>(count));
    right_.resize(static_cast<size_t>(count));
    for (long i = 0; i < count; ++i) {
      left_[i] = frames[i * channels_];
      right_[i] = frames[i * channels_ + channels_ - 1];
    }
    out_.resize(static_cast<size_t>(count) * 5 / 4 + 7200);
    const int bytes = lame_encode_buffer_ieee_float(lame_, left_.data(), right_.data(), static_cast<int>(count),
                                                    out_.data(), static_cast<int>(out_.size()));
    return bytes >= 0 && file_.write(out_.data(), static_cast<size_t>(bytes));
  }

  bool finish() override {
    out_.resize(7200);
    const int bytes = lame_encode_flush(lame_, out_.data(), static_cast<int>(out_.size()));
    bool ok = bytes >= 0 && file_.write(out_.data(), static_cast<size_t>(bytes));
    // The LAME tag goes over the first frame, which the encoder kept for it.
    std::vector<unsigned char> tag(2880);
    const size_t tagBytes = lame_get_lametag_frame(lame_, tag.data(), tag.size());
    if (ok && tagBytes > 0 && tagBytes <= tag.size()) ok = file_.writeAt(0, tag.data(), tagBytes);
    lame_close(lame_);
    lame_ = nullptr;
    if (!ok) {
      file_.discard();
      return false;
    }
    return file_.commit();
  }

  void abandon() override {
    if (lame_) lame_close(lame_);
    lame_ = nullptr;
    file_.discard();
  }
  int errorNumber() const override { return file_.errorNumber(); }

 private:
  int bitrate_;
  int channels_ = 2;
  lame_global_flags* lame_ = nullptr;
  std::vector<float> left_, right_;
  std::vector<unsigned char> out_;
  TemporaryTarget file_;
};

}  // namespace

std::string Mp3Refusal(int rate, int bitrateKbps) {
  const bool mpeg1 = In(kMpeg1Rates, rate);
  if (!mpeg1 && !In(kMpeg2Rates, rate)) return "Fréquence non prise en charge en mp3: " + std::to_string(rate) + " Hz";
  if (mpeg1 ? !In(kMpeg1Bitrates, bitrateKbps) : !In(kMpeg2Bitrates, bitrateKbps))
    return "Débit non pris en charge en mp3 à " + std::to_string(rate) + " Hz: " + std::to_string(bitrateKbps) +
           " kbit/s";
  return "";
}

std::unique_ptr<SoundEncoder> MakeMp3Encoder(int bitrateKbps) { return std::make_unique<Mp3Encoder>(bitrateKbps); }

}  // namespace sono::convert
