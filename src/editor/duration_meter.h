// How envelope creation measures a sound: load it in a player, ask its
// duration, close it. The player control implements this interface; until it
// does, the house-format frame scanner stands behind it.
#pragma once
#include <string>

namespace sono::editor {

class SoundDurationMeter {
 public:
  virtual ~SoundDurationMeter() = default;
  virtual bool LoadSoundFast(const std::string& soundFile) = 0;
  virtual int GetSoundDuration() = 0;  // ms of the loaded sound, 0 when none
  virtual void CloseSound() = 0;
};

// Exact duration of an MPEG audio file from its frame headers (no decoding);
// refuses files that are no MPEG audio stream.
class MpegScanDurationMeter : public SoundDurationMeter {
 public:
  bool LoadSoundFast(const std::string& soundFile) override;
  int GetSoundDuration() override { return loaded_ ? durationMs_ : 0; }
  void CloseSound() override { loaded_ = false; durationMs_ = 0; }

 private:
  bool loaded_ = false;
  int durationMs_ = 0;
};

}  // namespace sono::editor
