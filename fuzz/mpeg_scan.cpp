// The MPEG frame scanner and the decoder path behind it (libmpg123 for MPEG,
// libsndfile for the rest), on any bytes. What the scanner accepts it must
// account for within the file: frames, data range, damage and duration; what
// the reader decodes never exceeds the length it announced, and is finite.
#include <cmath>
#include <vector>

#include "audio/codec/mpeg_frames.h"
#include "audio/codec/sound_reader.h"
#include "audio/player/sound_duration.h"
#include "core/house_format.h"
#include "fuzz_target.h"

using namespace sono::audio;

namespace {

void CheckScan(const FrameScan& scan, int64_t size) {
  FUZZ_CHECK(scan.status != ScanStatus::NotFound);
  FUZZ_CHECK(scan.fileBytes == size);
  if (scan.status != ScanStatus::Ok) return;
  FUZZ_CHECK(scan.frames >= 0 && scan.samples >= 0 && scan.durationMs >= 0);
  // The shortest frame of any layer and rate is 24 bytes (MPEG-2 Layer III at 8 kbit/s).
  FUZZ_CHECK(scan.frames * 24 <= scan.fileBytes);
  FUZZ_CHECK(scan.samples <= scan.frames * scan.first.samplesPerFrame);
  FUZZ_CHECK(scan.first.sampleRate > 0);
  FUZZ_CHECK(scan.durationMs == scan.samples * 1000 / scan.first.sampleRate);
  FUZZ_CHECK(0 <= scan.dataOffset);
  FUZZ_CHECK(scan.dataEnd <= scan.fileBytes);
  FUZZ_CHECK(scan.trailingBytes >= 0 && scan.trailingBytes <= scan.fileBytes);
  int64_t damaged = 0, previousEnd = 0;
  for (const DamagedStretch& d : scan.damage) {
    FUZZ_CHECK(d.bytes > 0 && d.offset >= previousEnd && d.offset + d.bytes <= scan.fileBytes);
    previousEnd = d.offset + d.bytes;
    damaged += d.bytes;
  }
  FUZZ_CHECK(damaged == scan.damagedBytes);
  FUZZ_CHECK(scan.damagedFrames >= static_cast<int64_t>(scan.damage.size()));
  FUZZ_CHECK(DescribeDamage(scan).empty() == scan.damage.empty());
}

// A file of whole house frames, nothing else: the size-based measures give
// what the scan counted.
void CheckDurationsAgree(const FrameScan& scan, const std::string& path) {
  const bool houseFrames = scan.status == ScanStatus::Ok && scan.first.layer == 2 &&
                           scan.first.sampleRate == sono::kHouseRate && scan.first.frameBytes == sono::kHouseFrameBytes &&
                           scan.frames * sono::kHouseFrameBytes == scan.fileBytes && !scan.infoFrame;
  if (!houseFrames) return;
  FUZZ_CHECK(sono::HouseFormatDurationMs(path) == scan.durationMs);
  FUZZ_CHECK(SoundFileDuration(path).ms == scan.durationMs);
}

void CheckDecode(const std::string& path) {
  OpenedSound opened = OpenSound(path);
  if (!opened.reader) return;
  SoundReader& reader = *opened.reader;
  const int64_t length = reader.format().lengthFrames;
  FUZZ_CHECK(length >= 0);
  std::vector<float> block(2 * 4096);
  int64_t decoded = 0;
  for (long n; (n = reader.readStereo(block.data(), 4096)) > 0;) {
    decoded += n;
    FUZZ_CHECK(decoded <= length);
    for (long i = 0; i < 2 * n; ++i) FUZZ_CHECK(std::isfinite(block[static_cast<size_t>(i)]));
  }
  // A seek inside the sound then a read: never past the announced length.
  if (length > 0 && reader.seekFrame(length / 2)) {
    const long n = reader.readStereo(block.data(), 4096);
    FUZZ_CHECK(n <= 4096 && length / 2 + std::max(0L, n) <= length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (InitDecoders(), true);
  (void)ready;
  const sono::fuzz::MemoryFile file(sono::fuzz::Bytes(data, size));
  const FrameScan scan = ScanMpegFile(file.path());
  CheckScan(scan, static_cast<int64_t>(size));
  CheckDurationsAgree(scan, file.path());
  CheckDecode(file.path());
  return 0;
}
