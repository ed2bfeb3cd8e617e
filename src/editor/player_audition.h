// The editor's audition through the player control: one player, loaded with
// the sound on demand.
#pragma once
#include <string>

#include "editor/pointer_editor.h"

namespace sono::audio {
class PlayerControl;
}

namespace sono::editor {

class PlayerAudition : public Audition {
 public:
  PlayerAudition(audio::PlayerControl& player, int index = 0) : player_(player), index_(index) {}
  void PlayRange(const std::string& soundFile, int startMs, int endMs) override;
  void Stop() override;

 private:
  audio::PlayerControl& player_;
  int index_;
};

}  // namespace sono::editor
