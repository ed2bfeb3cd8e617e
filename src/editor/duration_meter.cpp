#include "editor/duration_meter.h"

#include <algorithm>
#include <climits>

#include "audio/codec/mpeg_frames.h"

namespace sono::editor {

bool MpegScanDurationMeter::LoadSoundFast(const std::string& soundFile) {
  const audio::FrameScan scan = audio::ScanMpegFile(soundFile);
  loaded_ = scan.status == audio::ScanStatus::Ok;
  durationMs_ = loaded_ ? static_cast<int>(std::min<int64_t>(scan.durationMs, INT_MAX)) : 0;
  return loaded_;
}

}  // namespace sono::editor
