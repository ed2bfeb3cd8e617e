#include "conversion.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "core/files.h"
#include "effects.h"
#include "core/system_error_text.h"
#include "sound_encoder.h"
#include "source_decoder.h"

namespace sono::convert {

namespace {

// A whole, undamaged MPEG-1 Layer II stream at 48000 Hz, 256 kbit/s, stereo.
bool IsHouseFormatFile(const std::string& path) {
  const audio::FrameScan scan = audio::ScanMpegFile(path);
  return scan.status == audio::ScanStatus::Ok && scan.first.version == 1 && scan.first.layer == 2 &&
         scan.first.sampleRate == audio::kHouseRate && scan.first.bitrateKbps == audio::kHouseBitrateKbps &&
         scan.first.channels == audio::kHouseChannels && scan.uniform && scan.damagedFrames == 0 &&
         !scan.truncated && scan.frames > 0;
}

std::string WriteFailure(const std::string& target, int errorNumber) {
  return "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errorNumber ? errorNumber : EIO) + ")";
}

ConversionResult CopyHouseFile(const ConverterOptions& o) {
  ConversionResult r;
  int readError = 0;
  const auto content = ReadWholeFile(o.input, &readError);
  if (!content) {
    r.error = "Impossible de lire le fichier source: " + o.input + " (" + SystemErrorText(readError) + ")";
    return r;
  }
  errno = 0;
  if (!WriteFileAtomic(o.output, *content)) {
    r.error = WriteFailure(o.output, errno);
    return r;
  }
  r.ok = true;
  r.copied = true;
  return r;
}

bool HasEffects(const ConverterOptions& o) { return o.trim.on || o.normalize.on; }

}  // namespace

ConversionResult Convert(const ConverterOptions& o, const std::function<void(int)>& progress) {
  const bool house = o.format == OutputFormat::House;
  if (house && !HasEffects(o) && IsHouseFormatFile(o.input)) return CopyHouseFile(o);
  ConversionResult r;
  const int rate = OutputRate(o);
  const int channels = house ? audio::kHouseChannels : o.channels;
  const int passes = HasEffects(o) ? 2 : 1;
  int pass = 0;
  const auto passProgress = [&](int percent) {
    if (progress) progress((pass * 100 + percent) / passes);
  };

  // First pass, for the effects: where the sound starts and ends, its levels.
  std::unique_ptr<EffectAnalysis> analysis;
  if (passes == 2) {
    SourceDecoder measure;
    if (!measure.open(o.input, rate, channels, r.error)) return r;
    analysis = std::make_unique<EffectAnalysis>(o, measure.outRate(), channels);
    const SourceDecoder::Sink add = [&](const float* frames, long count) {
      analysis->add(frames, count);
      return true;
    };
    if (!measure.run(add, passProgress, r.error)) return r;
    pass = 1;
  }

  SourceDecoder decoder;
  if (!decoder.open(o.input, rate, channels, r.error)) return r;
  r.rate = decoder.outRate();
  r.channels = channels;
  r.title = decoder.info().title;
  r.artist = decoder.info().artist;
  if (analysis) r.trimmedFrames = analysis->keepFirst();
  // Cue points follow the sound when its start is trimmed away.
  ConverterOptions encoded = o;
  if (analysis && o.cues.any()) {
    const long long cutMs = analysis->keepFirst() * 1000 / std::max(1, r.rate);
    for (long long* cue : {&encoded.cues.intro, &encoded.cues.startNext, &encoded.cues.fadeOut, &encoded.cues.hook})
      if (*cue >= 0) *cue = std::max(0LL, *cue - cutMs);
  }
  std::unique_ptr<SoundEncoder> encoder = MakeEncoder(encoded);
  if (!encoder) {
    r.error = std::string("Format de sortie non pris en charge: ") + FormatName(o.format);
    return r;
  }
  if (!encoder->open(o.output, r.rate, channels)) {
    // No errno: the encoder itself refused the rate or the channels.
    r.error = encoder->errorNumber()
                  ? "Impossible de créer le fichier: " + o.output + " (" + SystemErrorText(encoder->errorNumber()) + ")"
                  : std::string("L'encodeur ") + FormatName(o.format) + " refuse " + std::to_string(r.rate) +
                        " Hz, " + std::to_string(channels) + " canal(aux)";
    return r;
  }
  std::unique_ptr<EffectApplier> applier;
  if (analysis)
    applier = std::make_unique<EffectApplier>(analysis->keepFirst(), analysis->keepEnd(), analysis->gain(), channels);
  std::vector<float> kept;
  bool writeFailed = false;
  const SourceDecoder::Sink sink = [&](const float* frames, long count) {
    if (applier) {
      count = applier->apply(frames, count, kept);
      frames = kept.data();
    }
    if (count == 0) return true;
    r.frames += count;
    if (encoder->write(frames, count)) return true;
    writeFailed = true;
    return false;
  };
  std::string error;
  if (!decoder.run(sink, passProgress, error)) {
    r.error = writeFailed ? WriteFailure(o.output, encoder->errorNumber()) : error;
    encoder->abandon();
    return r;
  }
  if (!encoder->finish()) {
    r.error = WriteFailure(o.output, encoder->errorNumber());
    return r;
  }
  r.ok = true;
  return r;
}

}  // namespace sono::convert
