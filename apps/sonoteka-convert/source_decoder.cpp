#include "source_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sono::convert {

namespace {

constexpr int kAacPriming = 1024;       // samples every AAC encoder puts first
constexpr long kHeldFrames = 8192;      // output held back to set the exact length
constexpr double kStandardRateTolerance = 0.0005;

int StandardRate(int rate) {
  static const int kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
  for (int s : kRates)
    if (std::abs(rate - s) <= s * kStandardRateTolerance) return s;
  return rate;
}

std::string Tag(AVDictionary* a, AVDictionary* b, const char* key) {
  const AVDictionaryEntry* e = av_dict_get(a, key, nullptr, 0);
  if (!e) e = av_dict_get(b, key, nullptr, 0);
  return e && e->value ? e->value : "";
}

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint32_t Be32(const unsigned char* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The bytes a WAV or AIFF file lacks of what its sound chunk declares (0 when
// whole, unknown or streamed). FFmpeg fits the length to what is there, so a
// file cut on a sample boundary would pass for a shorter sound.
int64_t PcmBytesMissing(const std::string& path, const std::string& container) {
  const bool wav = container == "wav", aiff = container == "aiff";
  if (!wav && !aiff) return 0;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  unsigned char head[12];
  int64_t missing = 0;
  if (std::fread(head, 1, sizeof head, f) == sizeof head) {
    std::fseek(f, 0, SEEK_END);
    const int64_t size = std::ftell(f);
    int64_t at = sizeof head;
    unsigned char chunk[8];
    while (std::fseek(f, static_cast<long>(at), SEEK_SET) == 0 && std::fread(chunk, 1, sizeof chunk, f) == sizeof chunk) {
      const int64_t length = wav ? Le32(chunk + 4) : Be32(chunk + 4);
      if (std::memcmp(chunk, wav ? "data" : "SSND", 4) == 0) {
        const int64_t declared = length;
        const bool streamed = declared == 0 || declared == 0xFFFFFFFF || declared == 0x7FFFFFFF;
        if (!streamed) missing = std::max<int64_t>(0, at + 8 + declared - size);
        break;
      }
      at += 8 + length + (length & 1);
    }
  }
  std::fclose(f);
  return missing;
}

std::string Ms(int64_t frames, int rate) { return std::to_string(rate > 0 ? frames * 1000 / rate : 0) + " ms"; }

}  // namespace

SourceDecoder::SourceDecoder() = default;

SourceDecoder::~SourceDecoder() {
  swr_free(&convert_);
  swr_free(&resample_);
  avcodec_free_context(&codec_);
  avformat_close_input(&format_);
}

bool SourceDecoder::open(const std::string& path, int outRate, int outChannels, std::string& error) {
  path_ = path;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "Fichier source non trouvé: " + path;
    return false;
  }
  if (st.st_size == 0) {
    error = "Le fichier source est vide: " + path;
    return false;
  }
  const std::string unreadable = "Format du fichier source non reconnu: " + path;
  // "file:" keeps a name with a colon from being taken for a protocol.
  if (avformat_open_input(&format_, ("file:" + path).c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(format_, nullptr) < 0) {
    error = unreadable;
    return false;
  }
  const AVCodec* decoder = nullptr;
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (stream_ < 0 || !decoder) {
    error = unreadable;
    return false;
  }
  AVStream* s = format_->streams[stream_];
  codec_ = avcodec_alloc_context3(decoder);
  if (!codec_ || avcodec_parameters_to_context(codec_, s->codecpar) < 0) {
    error = unreadable;
    return false;
  }
  codec_->pkt_timebase = s->time_base;
  if (avcodec_open2(codec_, decoder, nullptr) < 0 || codec_->sample_rate <= 0 ||
      codec_->ch_layout.nb_channels <= 0) {
    error = unreadable;
    return false;
  }
  info_.container = format_->iformat->name;
  info_.codec = decoder->name;
  info_.fileRate = codec_->sample_rate;
  info_.rate = StandardRate(codec_->sample_rate);
  info_.channels = codec_->ch_layout.nb_channels;
  info_.title = Tag(format_->metadata, s->metadata, "title");
  info_.artist = Tag(format_->metadata, s->metadata, "artist");
  if (s->duration != AV_NOPTS_VALUE && s->duration > 0 &&
      format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
    info_.statedFrames = av_rescale_q(s->duration, s->time_base, AVRational{1, info_.fileRate});
  const bool mp4 = info_.container.rfind("mov,", 0) == 0;
  fitToStated_ = (mp4 || info_.container == "asf") && info_.statedFrames > 0;
  if (info_.container == "aac" && codec_->codec_id == AV_CODEC_ID_AAC) skip_ = kAacPriming;
  if (const int64_t missing = PcmBytesMissing(path, info_.container); missing > 0) {
    error = "Le fichier source est incomplet (il manque " + std::to_string(missing) + " octets): " + path;
    return false;
  }

  outRate_ = outRate > 0 ? outRate : info_.rate;
  outChannels_ = outChannels == 1 ? 1 : 2;
  AVChannelLayout in{};
  if (codec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&in, info_.channels);
  else av_channel_layout_copy(&in, &codec_->ch_layout);
  AVChannelLayout out{};
  av_channel_layout_default(&out, outChannels_);
  // Channels mixed down with the standard matrix (centre and surrounds at
  // -3 dB, LFE left out), without normalisation, as the library's readers do.
  int rc = swr_alloc_set_opts2(&convert_, &out, AV_SAMPLE_FMT_FLT, info_.rate, &in, codec_->sample_fmt,
                               info_.rate, 0, nullptr);
  if (rc >= 0) {
    av_opt_set_double(convert_, "rematrix_maxval", 0.0, 0);
    // A mono sound plays at its own level on both sides, as the library's
    // readers double it (the matrix would put it 3 dB down on each).
    if (info_.channels == 1 && outChannels_ == 2) {
      const double both[2] = {1.0, 1.0};  // [out][in], one input
      rc = swr_set_matrix(convert_, both, 1);
    }
    if (rc >= 0) rc = swr_init(convert_);
  }
  av_channel_layout_uninit(&in);
  if (rc >= 0 && outRate_ != info_.rate) {
    rc = swr_alloc_set_opts2(&resample_, &out, AV_SAMPLE_FMT_FLT, outRate_, &out, AV_SAMPLE_FMT_FLT,
                             info_.rate, 0, nullptr);
    if (rc >= 0) rc = swr_init(resample_);
  }
  av_channel_layout_uninit(&out);
  if (rc < 0) {
    error = "Conversion impossible des canaux ou de la fréquence de: " + path;
    return false;
  }
  return true;
}

bool SourceDecoder::deliver(const float* out, long frames) {
  const size_t ch = static_cast<size_t>(outChannels_);
  held_.insert(held_.end(), out, out + static_cast<size_t>(frames) * ch);
  const long excess = static_cast<long>(held_.size() / ch) - kHeldFrames;
  if (excess <= 0) return true;
  framesOut_ += excess;
  const bool ok = (*sink_)(held_.data(), excess);
  held_.erase(held_.begin(), held_.begin() + static_cast<long>(excess * static_cast<long>(ch)));
  if (!ok) sinkFailed_ = true;
  return ok;
}

bool SourceDecoder::feed(const float* in, long frames, bool last, std::string& error) {
  if (!resample_) return frames == 0 || deliver(in, frames);
  const int room = swr_get_out_samples(resample_, static_cast<int>(frames)) + 256;
  resampled_.resize(static_cast<size_t>(room) * static_cast<size_t>(outChannels_));
  uint8_t* dst = reinterpret_cast<uint8_t*>(resampled_.data());
  const uint8_t* src = reinterpret_cast<const uint8_t*>(in);
  int got = swr_convert(resample_, &dst, room, frames > 0 ? &src : nullptr, static_cast<int>(frames));
  if (got < 0) {
    error = "Erreur de conversion de fréquence: " + path_;
    return false;
  }
  if (got > 0 && !deliver(resampled_.data(), got)) return false;
  while (last) {
    got = swr_convert(resample_, &dst, room, nullptr, 0);
    if (got <= 0) break;
    if (!deliver(resampled_.data(), got)) return false;
  }
  return true;
}

bool SourceDecoder::drainDecoder(std::string& error) {
  AVFrame* frame = av_frame_alloc();
  bool ok = true;
  while (ok) {
    const int rc = avcodec_receive_frame(codec_, frame);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
    if (rc < 0) {
      ++decodeErrors_;
      break;
    }
    if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) ++decodeErrors_;
    const int room = swr_get_out_samples(convert_, frame->nb_samples) + 64;
    work_.resize(static_cast<size_t>(room) * static_cast<size_t>(outChannels_));
    uint8_t* dst = reinterpret_cast<uint8_t*>(work_.data());
    const int got = swr_convert(convert_, &dst, room, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    av_frame_unref(frame);
    if (got < 0) {
      error = "Erreur de conversion des canaux: " + path_;
      ok = false;
      break;
    }
    long frames = got;
    const float* data = work_.data();
    const int64_t drop = std::min<int64_t>(skip_, frames);
    skip_ -= drop;
    frames -= static_cast<long>(drop);
    data += drop * outChannels_;
    if (fitToStated_) frames = static_cast<long>(std::clamp<int64_t>(info_.statedFrames - framesIn_, 0, frames));
    framesIn_ += frames;
    if (frames > 0) ok = feed(data, frames, false, error);
  }
  av_frame_free(&frame);
  return ok;
}

bool SourceDecoder::run(const Sink& sink, const std::function<void(int)>& progress, std::string& error) {
  sink_ = &sink;
  AVPacket* packet = av_packet_alloc();
  const int64_t size = format_->pb ? avio_size(format_->pb) : -1;
  int shown = -1;
  bool ok = true;
  while (ok) {
    const int rc = av_read_frame(format_, packet);
    if (rc < 0) break;  // the end, or a read error counted as damage below through the length
    if (packet->stream_index == stream_) {
      if (avcodec_send_packet(codec_, packet) < 0) ++decodeErrors_;
      ok = drainDecoder(error);
    }
    av_packet_unref(packet);
    if (progress && size > 0) {
      const int percent = static_cast<int>(std::min<int64_t>(100, avio_tell(format_->pb) * 100 / size));
      if (percent != shown) progress(shown = percent);
    }
  }
  av_packet_free(&packet);
  if (ok) {
    avcodec_send_packet(codec_, nullptr);
    ok = drainDecoder(error);
  }
  if (!ok) {
    if (sinkFailed_) error.clear();  // the sink says why
    return false;
  }
  if (framesIn_ == 0) {
    error = "Le fichier source ne contient aucun son lisible: " + path_;
    return false;
  }
  // A cut file says so first: its last block fails to decode too.
  const int64_t tolerance = info_.rate / 10;
  if (info_.statedFrames > 0 && framesIn_ + tolerance < info_.statedFrames) {
    error = "Le fichier source est incomplet (" + Ms(framesIn_, info_.rate) + " lues sur " +
            Ms(info_.statedFrames, info_.rate) + " annoncées): " + path_;
    return false;
  }
  if (decodeErrors_ > 0) {
    error = "Le fichier source est endommagé (" + std::to_string(decodeErrors_) +
            " bloc(s) illisible(s)): " + path_;
    return false;
  }
  if (fitToStated_ && framesIn_ < info_.statedFrames) {
    const std::vector<float> silence(static_cast<size_t>(info_.statedFrames - framesIn_) * outChannels_, 0.0f);
    const long frames = static_cast<long>(info_.statedFrames - framesIn_);
    framesIn_ = info_.statedFrames;
    if (!feed(silence.data(), frames, false, error)) return false;
  }
  if (!feed(nullptr, 0, true, error)) {
    if (sinkFailed_) error.clear();
    return false;
  }
  // The exact length: the held-back tail is cut or completed.
  const int64_t expected = (framesIn_ * outRate_ + info_.rate / 2) / info_.rate;
  const int64_t tail = expected - framesOut_;
  held_.resize(static_cast<size_t>(std::max<int64_t>(0, tail)) * static_cast<size_t>(outChannels_), 0.0f);
  if (tail > 0) {
    framesOut_ += tail;
    if (!sink(held_.data(), static_cast<long>(tail))) return false;
  }
  if (progress && shown != 100) progress(100);
  return true;
}

}  // namespace sono::convert
