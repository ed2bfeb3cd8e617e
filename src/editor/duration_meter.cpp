#include "editor/duration_meter.h"

#include <algorithm>
#include <climits>

#include "audio/codec/mpeg_frames.h"

namespace sono::editor {

bool MpegScanDurationMeter::LoadSoundFast(const std::string& soundFile) {
  const audio::FrameScan scan = audio::ScanMpegFile(soundFile);
  loaded_ = scan.status == audio::ScanStatus::Ok;
  durationMs_ = loaded_ ? static_cast<int>(std::min<int64_t>(scan.durationMs, INT_MAX)) : 0;
  damagedFrames_ = loaded_ ? scan.damagedFrames : 0;
  damagedMs_ = loaded_ ? scan.damagedMs() : 0;
  if (loaded_ && damagedFrames_ > 0 && log_)
    log_->TraceLog("Err: Damaged sound: " + soundFile + " |" + audio::DescribeDamage(scan));
  return loaded_;
}

void MpegScanDurationMeter::CloseSound() {
  loaded_ = false;
  durationMs_ = 0;
  damagedFrames_ = damagedMs_ = 0;
}

}  // namespace sono::editor
