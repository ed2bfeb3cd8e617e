// The audition of `edit`'s script: `listen BUTTON [FROM TO]` plays what the
// editor's tape-recorder bar would on the virtual device, as fast as it
// renders, and prints the range, its fades, the level and speed, and what
// was heard; `listen list FROM TO ...` plays a range list; `listen mix
// start|end CODE` the mixing audition with another song; `rolls PRE POST`
// keeps the pre-roll and post-roll (seconds) in the settings.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/manual_ports.h"
#include "editor/audition_deck.h"

namespace sono::cli {

class ScriptAudition {
 public:
  ScriptAudition(TraceLogger& log, std::string settingsFile, editor::PointerEditor& editor,
                 editor::WaveformView& view);
  // The action's words; 0 done, 1 nothing could be played, 2 bad usage.
  int Run(const std::vector<std::string>& words);
  // What plays now rendered to its end; prints the time heard and the peak.
  void RenderAndReport();
  editor::AuditionDeck& deck() { return deck_; }
  // The song a code names (the mixing audition's other song).
  std::function<std::optional<editor::MixSong>(const std::string& code)> findMixSong;

 private:
  int mixAndReport(bool startOfSound, const std::string& code);
  int playAndReport(editor::PlayButton button, int start, int end, bool rangeList);
  ManualClock clock_;
  std::string settingsFile_;
  editor::PointerEditor& editor_;
  editor::AuditionDeck deck_;
};

}  // namespace sono::cli
