// How envelope creation measures a sound: load it, ask its duration, close
// it. The house-format frame scanner stands behind it.
#pragma once
#include <cstdint>
#include <string>

#include "core/tracelog.h"

namespace sono::editor {

class SoundDurationMeter {
 public:
  virtual ~SoundDurationMeter() = default;
  virtual bool LoadSoundFast(const std::string& soundFile) = 0;
  virtual int GetSoundDuration() = 0;  // ms of the loaded sound, 0 when none
  virtual void CloseSound() = 0;
  // Frames of the loaded sound skipped as damaged, and the milliseconds they
  // stood for: GetSoundDuration() counts only the frames that play, so a
  // caller must not take it for the sound's length while this is above 0.
  virtual int64_t GetDamagedFrames() const { return 0; }
  virtual int64_t GetDamagedMs() const { return 0; }
};

// Exact duration of an MPEG audio file from its frame headers (no decoding);
// refuses files that are no MPEG audio stream. Damage is logged (when a log
// is given) as "Err: Damaged sound: FILE |Damaged frames: …".
class MpegScanDurationMeter : public SoundDurationMeter {
 public:
  explicit MpegScanDurationMeter(TraceLogger* log = nullptr) : log_(log) {}
  void setLog(TraceLogger* log) { log_ = log; }
  bool LoadSoundFast(const std::string& soundFile) override;
  int GetSoundDuration() override { return loaded_ ? durationMs_ : 0; }
  void CloseSound() override;
  int64_t GetDamagedFrames() const override { return loaded_ ? damagedFrames_ : 0; }
  int64_t GetDamagedMs() const override { return loaded_ ? damagedMs_ : 0; }

 private:
  TraceLogger* log_;
  bool loaded_ = false;
  int durationMs_ = 0;
  int64_t damagedFrames_ = 0, damagedMs_ = 0;
};

}  // namespace sono::editor
