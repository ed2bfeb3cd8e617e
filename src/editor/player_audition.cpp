#include "editor/player_audition.h"

#include "audio/player/player_control.h"

namespace sono::editor {

void PlayerAudition::PlayRange(const std::string& soundFile, int startMs, int endMs) {
  if (player_.GetSoundFile(index_) != soundFile && player_.LoadSoundFast(index_, soundFile) != 0) return;
  const int64_t end = endMs > 0 ? endMs : player_.GetSoundDuration(index_);
  player_.PlaySoundRange(index_, startMs, end);
}

void PlayerAudition::Stop() {
  if (!player_.GetSoundFile(index_).empty()) player_.StopSound(index_);
}

}  // namespace sono::editor
