// What each button of the editor's tape-recorder bar plays: the range in the
// file, its fades, and the range list the audition plays one item after the
// other. Pure rules, no audio: the audition deck sends the result to its
// player.
//
// Decisions of this port:
//   - A range never starts before the sound: PlayOut's pre-roll and
//     PlayFadeOut's 2000 ms lead stop at 0.
//   - The desktop's audition slot has the player-control nature (the deck's
//     player); the end rule of that nature applies when an end of -1 is read
//     from the selection.
//   - A range list item is "start" in characters 1 to 10 and "end" in
//     characters 11 to 20, right-aligned milliseconds; an item whose fields do
//     not read as numbers is skipped.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sono::editor {

// The bar's buttons, numbered as the recorder's log names them.
enum class PlayButton : int {
  Stop = 0,
  Play = 1,
  PlayIn = 2,
  PlayOut = 3,
  Pause = 4,
  GotoBegin = 5,
  GotoEnd = 6,
  PlayFadeIn = 7,
  PlayFadeOut = 8,
  PlayFrom = 9,
};
const char* PlayButtonName(PlayButton button);
std::optional<PlayButton> PlayButtonNamed(std::string_view name);  // case-insensitive

// How the audition slot plays: board streams or a player control.
enum class AuditionNature { PcxTools, DirectX };

// What the range rules read besides the caller's start and end.
struct RangeInputs {
  int selectionStartMs = 0, selectionEndMs = 0;  // the waveform selection (0, 0: none)
  int durationMs = 0;                            // the sound's length
  double preRollS = 0, postRollS = 0;            // the set-up's pre-roll and post-roll, seconds
  AuditionNature nature = AuditionNature::DirectX;
};

// A range to play: [startMs, endMs) in the file; endMs 0 plays to the end.
// A fade-in counts from the start; a fade-out ends at endMs.
struct AuditionRange {
  int startMs = 0, endMs = 0;
  int fadeInMs = 0, fadeOutMs = 0;
  bool operator==(const AuditionRange&) const = default;
};

inline constexpr int kFadeLeadMs = 2000;  // what PlayFadeIn plays after, PlayFadeOut before, the selection
inline constexpr int kStopFadeMs = 150;   // Stop's fade-out of the first stream

// The caller's range as BtnsPlay reads it: -1 takes the selection's side.
void ReadPlayRange(int& startMs, int& endMs, const RangeInputs& in);

// The range a play button plays (start and end already read); none for the
// buttons that play nothing (Stop, Pause, GotoBegin, GotoEnd) and for a
// range that holds no sound. PlayOut here is the one with the range-list
// flag off.
std::optional<AuditionRange> RangeOfButton(PlayButton button, int startMs, int endMs, const RangeInputs& in);

// The range list: items played one after the other, with a running index.
class RangeList {
 public:
  static std::string Item(int startMs, int endMs);  // "%10d%10d"
  void clear();
  void add(int startMs, int endMs) { items.push_back(Item(startMs, endMs)); }
  // The next item's range (start, end), the index moved past it; none when
  // the list is exhausted.
  std::optional<std::pair<int, int>> Next();
  // Item `i`'s range; none when its fields do not read as numbers.
  std::optional<std::pair<int, int>> At(size_t i) const;
  bool exhausted() const { return index >= static_cast<int>(items.size()); }
  std::vector<std::string> items;
  int index = 0;
};

}  // namespace sono::editor
