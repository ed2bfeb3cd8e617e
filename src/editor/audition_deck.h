// The editor's audition deck: one player of the player control on the output
// the user chose, the play/stop of the strip selection (Space), the start and
// end keys (Home, End) and the 100 ms follow-up (TimerPtx) that moves the play
// head and reads the level meter.
//
// Decisions of this port:
//   - Play plays the strip selection when one is marked, else from the play
//     position to the end of the sound. A second press stops; the play
//     position stays where the play started, as a tape recorder's counter.
//   - The level is the sound's level correction (slot "Level"); the speed is
//     the sound's pitch as a percent, held within -20 to +20.
//   - Outputs: ALSA's `default` first (the desktop's shared mixer, when the
//     machine has a card), then each playback device of each card, then the
//     virtual device. The choice is kept by its system name in the program's
//     settings file, section "Ecoute", key "Sortie" ("default",
//     "plughw:CARD=PCH,DEV=0", "virtual:0"); without one, the first output.
//   - The output is opened at play and let go of 3 s after the play ends, so
//     that another program may use the card meanwhile. When the chosen one
//     is missing, busy or cannot be opened, the next outputs are tried in
//     order; the user is told in words (`message`, `onMessage`) and the log
//     says why. The chosen one is tried again at the next opening.
//   - A device that stops working under a play (a USB card unplugged) stops
//     the play at once, is told and logged, and is tried again at the next
//     play.
//   - Without a sound card the deck plays on the virtual device, which the
//     follow-up renders by the wall time gone since its last tick: what the
//     user sees (the head) moves as it would on a card. It renders in 10 ms
//     steps and reads the player's positions after each, so a fade or a
//     range-list item starts within one 10 ms period of its place.
//   - The tape-recorder bar (`BtnsPlay`): the audition slot here is the
//     player control's (the deck's own player), its level the slot level
//     (settings "Ecoute", key "Niveau", dB, default 0) plus the sound's level
//     correction; pre-roll and post-roll are keys "PreRoll" and "PostRoll"
//     of the same section, in seconds (default 2 and 2).
//   - PlayFadeOut's fade is the player's stop smoothing set to the selection's
//     length, started by a step trigger at the selection start; fades are held
//     to the player's 60 s smoothing. Stop fades the first stream out over
//     150 ms, the second at once.
//   - A sound replaced on disk since the player loaded it (an edit, another
//     workstation) is loaded again at the next play.
//   - The range list goes on from the follow-up: when an item ends the next
//     one plays (as PlayIn), until the list is exhausted or Stop.
//   - The sound without its steps (several ranges of a house-format sound)
//     is heard from a temporary sound of the kept frames, with hard joins, or
//     with smooth joins when "Jonctions douces" is on (`smoothJoins`): what
//     cutting the steps would give in either case.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ports.h"
#include "core/tracelog.h"
#include "editor/audition_mix.h"
#include "editor/audition_ranges.h"
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

  // --- outputs
  // The program's settings file, where the choice is kept; asked when the
  // choice is first needed (the file is known once the program started).
  std::function<std::string()> settingsFile;
  static constexpr const char* kSettingsSection = "Ecoute";
  static constexpr const char* kSettingsKey = "Sortie";
  static constexpr int kReleaseAfterMs = 3000;

  // Every output device pair of the player control, "MODEL (a/b)" (the list
  // the Send pointer's device is chosen from).
  std::vector<std::string> devices() const;
  // The audition's outputs.
  std::vector<std::string> outputs() const;  // the labels, in order
  std::string outputKey(int index) const;    // the system name kept in the settings
  int output();                              // the chosen one (-1: not on this machine)
  // The user's choice: kept in the settings file; nothing is opened.
  bool SelectOutput(int index);
  bool ready() const { return !outputs_.empty(); }
  // The output held now (-1 when none: nothing plays and the last play ended
  // more than kReleaseAfterMs ago).
  int outputInUse() const { return inUse_; }

  // What the user must be told (French); `message` keeps it until the chosen
  // output plays again or another is chosen.
  std::function<void(const std::string&)> onMessage;
  const std::string& message() const { return message_; }

  // --- Audition
  void PlayRange(const std::string& soundFile, int startMs, int endMs) override;
  // One range: through the range list, as PlayOut plays it. Several ranges
  // of a house-format sound (the sound without its steps) are heard back to
  // back with no gap: their frames (each range widened to whole frames) are
  // copied one after the other into a temporary sound, as a cut joins them,
  // and that sound is played whole (the play head then follows it, not the
  // loaded sound). A sound of another format goes through the range list.
  bool PlayRanges(const std::vector<std::pair<int, int>>& ranges) override;
  // "Jonctions douces", asked at each PlayRanges: when true the joins of the
  // temporary sound are smoothed as an edit smooths them (smooth_join.h).
  std::function<bool()> smoothJoins;
  // The temporary sound the last ranges were joined in ("" when none).
  const std::string& joinedRangesFile() const { return joined_; }
  void Stop() override;
  // Stops, empties the player and lets go of the output (the unload sequence).
  void Close();

  // --- the tape-recorder bar
  // Plays what `button` names (start and end of -1 are read from the strip
  // selection and given back as read; with `rangeList`, PlayOut plays the
  // list's next item). False when nothing was played or done.
  bool BtnsPlay(PlayButton button, const std::string& caller, int& startMs, int& endMs, bool rangeList = false);
  bool BtnsPlay(PlayButton button, const std::string& caller) {
    int start = -1, end = -1;
    return BtnsPlay(button, caller, start, end);
  }
  // Double click on the chronometer: from the play position to the end.
  void ChronometerDoubleClick();
  RangeList rangeList;
  bool rangeListRunning() const { return rangeListRunning_; }
  // The range list as the user fills it (the desktop's "Plages" menu, the
  // command line's "listen list"): the strip selection added at its end
  // (false, told, without a selection); the list replaced by `ranges` (the
  // steps, or the selection's stretches outside them), empty ones left out;
  // emptied. A list that plays is stopped before it is replaced or emptied.
  bool AddSelectionToRangeList();
  void FillRangeList(const std::vector<std::pair<int, int>>& ranges);
  void ClearRangeList();
  // Plays the list from its first item, one item after the other (PlayOut
  // with the range-list flag); false when it holds nothing to play.
  bool PlayRangeList();
  // "N: mm:ss.mmm – mm:ss.mmm" for each item, N from 1.
  std::vector<std::string> RangeListCaptions() const;
  // The range the first stream was last given (endMs resolved), its time
  // captions ("" after Stop).
  const AuditionRange& playedRange() const { return played_; }
  std::string rangeStartCaption, rangeEndCaption;
  std::string chronometer = kChronometerIdle;  // the head's time while playing
  static constexpr const char* kChronometerIdle = "00:00.00";
  bool paused() const;
  // The set-up's values (read from the settings with the output's choice).
  double slotLevelDb = 0, preRollS = 2, postRollS = 2;
  static constexpr const char* kLevelKey = "Niveau";
  static constexpr const char* kPreRollKey = "PreRoll";
  static constexpr const char* kPostRollKey = "PostRoll";
  // Kept in the settings; false when they could not be written (said).
  bool SetRolls(double preS, double postS);
  // The range rules' view of the current sound and selection.
  RangeInputs rangeInputs() const;

  // --- the mixing audition
  // The transition between the current sound and `other` (none: no song to
  // mix with): its start mix (`startOfSound`, the other song's end into the
  // current sound's start) or its end mix, the current sound on the first
  // stream and the other song on the second (see audition_mix.h). False,
  // told, when it cannot be heard.
  bool EcouteMixage(bool startOfSound, const std::optional<MixSong>& other);
  bool mixing() const { return mixing_; }
  const MixPlan& mixPlan() const { return mixPlan_; }

  // --- the pre-listen of any file (`PreEcouteSon`), on the first stream at
  // the slot's level: PreListen::Play loads and starts `preListenFile`,
  // PauseResume toggles, Stop stops. False (told and logged) when nothing
  // could be done.
  enum class PreListen : int { Stop = 0, Play = 1, PauseResume = 2 };
  bool PreEcouteSon(PreListen action);
  std::string preListenFile;
  bool preListening() const { return preListening_; }
  // The play image's tag: "ON" while a pre-listen plays.
  std::string playTag() const { return preListening_ && !paused() ? "ON" : ""; }
  int durationMs() const;  // of the sound loaded on the first stream

  // --- keys
  void PlayStop();  // Space
  void GotoBegin(); // Home
  void GotoEnd();   // End
  bool playing() const;

  // --- TimerPtx: true when the head or the meter changed.
  bool TimerPtx();
  static constexpr int kPollStepMs = 10;
  int headMs() const { return headMs_; }
  double levelLeftDb = -200, levelRightDb = -200;

  audio::Engine& engine() { return *engine_; }
  audio::PlayerControl& player() { return *player_; }

 private:
  struct Output {
    std::string label, key;
    int playerDevice = -1;
    bool isVirtual = false;
  };
  void readChoice();
  bool openOutput();
  void releaseOutput();
  void tell(const std::string& text);
  bool outputIsVirtual() const;
  struct FileStamp {
    uint64_t inode = 0;
    int64_t size = -1, modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp StampOf(const std::string& file);
  bool play(const std::string& soundFile, const AuditionRange& range);
  bool loadOn(int player, const std::string& soundFile, int attempt, bool& retry);
  void onTrigger(int player, int id);
  void render(int ms);
  void FinDeJeu();
  TraceLogger& log_;
  Clock& clock_;
  std::unique_ptr<audio::Engine> engine_;
  std::unique_ptr<audio::PlayerControl> player_;
  std::vector<Output> outputs_;
  PointerEditor* editor_ = nullptr;
  WaveformView* view_ = nullptr;
  bool choiceRead_ = false;
  int chosen_ = 0;            // -1: the chosen output is not on this machine now
  std::string missingKey_;    // its name then
  int inUse_ = -1;
  std::string lost_;          // why the device in use stopped, until handled
  std::string message_;
  bool wasPlaying_ = false;
  int headMs_ = 0;
  uint64_t lastTick_ = 0;
  uint64_t idleSince_ = 0;
  int tailMs_ = 0;  // a stop's fade still to render
  bool rangeListRunning_ = false;
  bool mixing_ = false;
  bool preListening_ = false;
  MixPlan mixPlan_;
  int mixFirst_ = 0;    // the player the mix starts with
  int mixSecond_ = -1;  // the player the mix starts at its join (-1: none waiting)
  AuditionRange played_;
  std::array<FileStamp, 2> stamps_{};  // each player's file as it was loaded
  std::string joined_;  // the temporary sound of joined ranges, removed with the deck
  int joinedCount_ = 0;
};

// Speed of the audition for a pitch in millionths of the nominal speed (0 is
// nominal): percent above nominal, within -20 to +20.
double PlaySoundInitSpeed(long long pitch);

}  // namespace sono::editor
