#include <sndfile.h>
#include <unistd.h>

#include <cerrno>

#include "audio/codec/house_format.h"
#include "audio/codec/house_writer.h"
#include "mp3_encoder.h"
#include "sound_encoder.h"
#include "temporary_target.h"

namespace sono::convert {

namespace {

constexpr int kDefaultBits = 16;
constexpr int kMp3DefaultRate = 44100;
constexpr int kMp3DefaultKbps = 128;
constexpr int kLowestRate = 8000, kHighestRate = 192000;

// The house format through the library's own writer (libtwolame, energy
// levels on); it keeps its temporary file under TemporaryNameFor's name.
class HouseEncoder final : public SoundEncoder {
 public:
  bool open(const std::string& target, int, int) override { return writer_.open(target); }
  bool write(const float* frames, long count) override {
    return writer_.writeFloat(frames, static_cast<int>(count));
  }
  bool finish() override { return writer_.finish(); }
  void abandon() override { writer_.abandon(); }
  int errorNumber() const override { return writer_.errorNumber(); }

 private:
  audio::HouseWriter writer_;
};

// WAV and AIFF through libsndfile, PCM at the asked width (8-bit WAV is
// unsigned, 8-bit AIFF signed, as the formats want).
int SndfileFormat(const ConverterOptions& o) {
  const bool wav = o.format == OutputFormat::Wav;
  const int container = wav ? SF_FORMAT_WAV : SF_FORMAT_AIFF;
  switch (o.bits ? o.bits : kDefaultBits) {
    case 8: return container | (wav ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8);
    case 16: return container | SF_FORMAT_PCM_16;
    case 24: return container | SF_FORMAT_PCM_24;
    case 32: return container | SF_FORMAT_PCM_32;
    default: return 0;
  }
}

class PcmEncoder final : public SoundEncoder {
 public:
  explicit PcmEncoder(int format) : format_(format) {}
  ~PcmEncoder() override { abandon(); }
  bool open(const std::string& target, int rate, int channels) override {
    if (file_.open(target) < 0) return false;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format_;
    sound_ = sf_open_fd(file_.fd(), SFM_WRITE, &info, SF_FALSE);
    if (!sound_) {
      file_.noteError(errno ? errno : EIO);
      file_.discard();
      return false;
    }
    sf_command(sound_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    channels_ = channels;
    return true;
  }
  bool write(const float* frames, long count) override {
    errno = 0;
    if (sf_writef_float(sound_, frames, count) == count) return true;
    file_.noteError(errno ? errno : EIO);
    return false;
  }
  bool finish() override {
    errno = 0;
    const int closed = sf_close(sound_);  // writes the final header
    sound_ = nullptr;
    if (closed != 0) file_.noteError(errno ? errno : EIO);
    return file_.commit();
  }
  void abandon() override {
    if (sound_) sf_close(sound_);
    sound_ = nullptr;
    file_.discard();
  }
  int errorNumber() const override { return file_.errorNumber(); }

 private:
  int format_;
  int channels_ = 2;
  SNDFILE* sound_ = nullptr;
  TemporaryTarget file_;
};

bool IsPcm(OutputFormat f) { return f == OutputFormat::Wav || f == OutputFormat::Aiff; }

}  // namespace

std::string TemporaryNameFor(const std::string& target) {
  return target + ".part" + std::to_string(::getpid());
}

int OutputRate(const ConverterOptions& o) {
  if (o.format == OutputFormat::House) return audio::kHouseRate;
  if (o.rate) return o.rate;
  return o.format == OutputFormat::Mp3 ? kMp3DefaultRate : 0;
}

std::string RefusalOf(const ConverterOptions& o) {
  switch (o.format) {
    case OutputFormat::House:
      if ((o.rate && o.rate != audio::kHouseRate) || (o.bitrateKbps && o.bitrateKbps != audio::kHouseBitrateKbps) ||
          o.channels != audio::kHouseChannels)
        return "Le format mp2 n'est produit qu'en 48000 Hz, 256 kbit/s, stéréo";
      return "";
    case OutputFormat::Wav:
    case OutputFormat::Aiff:
      if (!SndfileFormat(o)) return "Résolution non prise en charge: " + std::to_string(o.bits) + " bits";
      break;
    case OutputFormat::Mp3: return Mp3Refusal(OutputRate(o), o.bitrateKbps ? o.bitrateKbps : kMp3DefaultKbps);
    default: return std::string("Format de sortie non pris en charge: ") + FormatName(o.format);
  }
  if (o.rate && (o.rate < kLowestRate || o.rate > kHighestRate))
    return "Fréquence non prise en charge: " + std::to_string(o.rate) + " Hz";
  return "";
}

std::unique_ptr<SoundEncoder> MakeEncoder(const ConverterOptions& options) {
  if (!RefusalOf(options).empty()) return nullptr;
  if (options.format == OutputFormat::House) return std::make_unique<HouseEncoder>();
  if (IsPcm(options.format)) return std::make_unique<PcmEncoder>(SndfileFormat(options));
  if (options.format == OutputFormat::Mp3)
    return MakeMp3Encoder(options.bitrateKbps ? options.bitrateKbps : kMp3DefaultKbps);
  return nullptr;
}

}  // namespace sono::convert
