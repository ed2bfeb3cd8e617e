// The editor's audition deck: one player of the player control on a chosen
// output, the play/stop of the strip selection (Space), the start and end
// keys (Home, End) and the 100 ms follow-up (TimerPtx) that moves the play
// head and reads the level meter.
//
// Decisions of this port:
//   - Play plays the strip selection when one is marked, else from the play
//     position to the end of the sound. A second press stops; the play
//     position stays where the play started, as a tape recorder's counter.
//   - The level is the sound's level correction (slot "Level"); the speed is
//     the sound's pitch as a percent, held within -20 to +20.
//   - Without a sound card the deck plays on the virtual device, which the
//     follow-up renders by the wall time gone since its last tick: what the
//     user sees (the head) moves as it would on a card.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "core/ports.h"
#include "core/tracelog.h"
#include "editor/pointer_editor.h"

namespace sono::audio {
class Engine;
struct EngineOptions;
class PlayerControl;
}  // namespace sono::audio

namespace sono::editor {

class AuditionDeck : public Audition {
 public:
  AuditionDeck(TraceLogger& log, Clock& clock, const audio::EngineOptions& options);
  ~AuditionDeck() override;

  // The editor and view the keys and the follow-up act on.
  void attach(PointerEditor& editor, WaveformView& view);

  std::vector<std::string> devices() const;
  int device() const { return device_; }
  bool SelectDevice(int index);  // false (and logged) when the output cannot start
  bool ready() const { return ready_; }

  // --- Audition
  void PlayRange(const std::string& soundFile, int startMs, int endMs) override;
  void Stop() override;
  // Stops and empties the player (the unload sequence's sound resources).
  void Close();

  // --- keys
  void PlayStop();  // Space
  void GotoBegin(); // Home
  void GotoEnd();   // End
  bool playing() const;

  // --- TimerPtx: true when the head or the meter changed.
  bool TimerPtx();
  int headMs() const { return headMs_; }
  double levelLeftDb = -200, levelRightDb = -200;

  audio::Engine& engine() { return *engine_; }
  audio::PlayerControl& player() { return *player_; }

 private:
  bool outputIsVirtual() const;
  void FinDeJeu();
  TraceLogger& log_;
  Clock& clock_;
  std::unique_ptr<audio::Engine> engine_;
  std::unique_ptr<audio::PlayerControl> player_;
  PointerEditor* editor_ = nullptr;
  WaveformView* view_ = nullptr;
  int device_ = -1;
  bool ready_ = false;
  bool wasPlaying_ = false;
  int headMs_ = 0;
  uint64_t lastTick_ = 0;
};

// Speed of the audition for a pitch in millionths of the nominal speed (0 is
// nominal): percent above nominal, within -20 to +20.
double PlaySoundInitSpeed(long long pitch);

}  // namespace sono::editor
