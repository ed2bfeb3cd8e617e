// Lib_PCXTools: sounds played on the streams of a playback pipe, with their
// range, loop, fades and level; the per-stream state the main window's timers
// watch; and the audition procedures of the cue-point editor built on them.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "audio/pcx/pcx_qz.h"

namespace sono::audio {

class PcxStreams {
 public:
  explicit PcxStreams(PcxQz& qz) : qz_(qz) {}

  // Removes the stream's triggers of kinds 0 to 8 (the triggers module sets it).
  std::function<void(int slot, int stream)> removeTriggers;
  // The main window's two meter controls, left then right (0..32767).
  std::function<void(int left, int right)> showLevels;
  // The auxiliary window's captions of the played range.
  std::function<void(int64_t start, int64_t end)> showPlayedRange;

  // Queues `file` on the stream. Start and end are milliseconds in the file;
  // `flag` is cleared; end, fade-out and the ranges may be rewritten.
  bool PCXToolsOutLoadSound(int slot, int stream, const std::string& code, const std::string& file,
                            int64_t start, int64_t fadeIn, double level, bool& flag, int64_t& end,
                            int64_t& fadeOut, int64_t& loopStart, int64_t& loopEnd,
                            int64_t& excerptStart, int64_t& excerptEnd);
  bool PCXToolsOutPlaySound(int slot, int stream);
  bool PCXToolsOutPause(int slot, int stream, bool on);
  bool PCXToolsOutStopSound(int slot, int stream, int64_t fadeOut);

  // --- audition of the current sound
  bool PCXToolsLancerSon(int64_t start, int64_t end);
  bool PCXToolsPauseSon(bool on);
  void AfficheNiveauPCXTools(double leftDb, double rightDb);

  std::string currentSoundFile;  // the sound under edit
  int auditionSlot = 0;
  int auditionStream = 0;
  bool auditionPaused = false;
  uint64_t lastLoadTick = 0;

  static constexpr int64_t kMinimumSelectionMs = 72;

 private:
  PcxQz& qz_;
};

}  // namespace sono::audio
