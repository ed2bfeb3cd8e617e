#include "house_output.h"

#include <unistd.h>

#include <cerrno>

#include "audio/codec/house_format.h"
#include "audio/codec/house_writer.h"
#include "audio/codec/mpeg_frames.h"
#include "core/files.h"
#include "io_messages.h"
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
  return "Impossible d'écrire le fichier: " + target + " (" + SystemErrorText(errorNumber) + ")";
}

OutputResult CopyHouseFile(const ConverterOptions& o) {
  OutputResult r;
  int readError = 0;
  const auto content = ReadWholeFile(o.input, &readError);
  if (!content) {
    r.error = "Impossible de lire le fichier source: " + o.input + " (" + SystemErrorText(readError) + ")";
    return r;
  }
  errno = 0;
  if (!WriteFileAtomic(o.output, *content)) {
    r.error = WriteFailure(o.output, errno ? errno : EIO);
    return r;
  }
  const audio::FrameScan scan = audio::ScanMpegFile(o.output);
  r.ok = true;
  r.copied = true;
  r.mpegFrames = scan.frames;
  r.frames = scan.samples;
  return r;
}

}  // namespace

bool AsksForHouseFormat(const ConverterOptions& o) {
  return (o.rate == 0 || o.rate == audio::kHouseRate) &&
         (o.bitrateKbps == 0 || o.bitrateKbps == audio::kHouseBitrateKbps) &&
         o.channels == audio::kHouseChannels;
}

std::string HouseTemporaryName(const std::string& target) {
  return target + ".part" + std::to_string(::getpid());
}

OutputResult WriteHouseOutput(const ConverterOptions& o, const std::function<void(int)>& progress) {
  if (IsHouseFormatFile(o.input)) return CopyHouseFile(o);
  OutputResult r;
  SourceDecoder decoder;
  if (!decoder.open(o.input, audio::kHouseRate, audio::kHouseChannels, r.error)) return r;
  audio::HouseWriter writer;
  if (!writer.open(o.output)) {
    r.error = "Impossible de créer le fichier: " + o.output + " (" +
              SystemErrorText(writer.errorNumber() ? writer.errorNumber() : EIO) + ")";
    return r;
  }
  bool writeFailed = false;
  const SourceDecoder::Sink sink = [&](const float* frames, long count) {
    if (writer.writeFloat(frames, static_cast<int>(count))) return true;
    writeFailed = true;
    return false;
  };
  std::string error;
  if (!decoder.run(sink, progress, error)) {
    r.error = writeFailed ? WriteFailure(o.output, writer.errorNumber() ? writer.errorNumber() : EIO) : error;
    writer.abandon();
    return r;
  }
  if (!writer.finish()) {
    r.error = WriteFailure(o.output, writer.errorNumber() ? writer.errorNumber() : EIO);
    return r;
  }
  // What was really stored, as a reader of the house format sees it.
  const audio::FrameScan stored = audio::ScanMpegFile(o.output);
  r.mpegFrames = stored.frames;
  r.frames = stored.samples;
  r.ok = true;
  return r;
}

}  // namespace sono::convert
