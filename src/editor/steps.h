// The steps of a sound: stretches marked for removal, stored with the
// pointers as type "3" records of FRAD031 (one record per step and station,
// order "01"…, position = start, duration = end − start). `StepEditor` holds
// the step lists of the loaded sound (the hidden `ListeSteps` and the
// visible list), `GestionSteps`, `StepsChargement`, `StepsMemorisation` and
// `DrawSelectionStep`; `StepsSuppression` removes a song's steps (a song
// whose sound is replaced loses the steps of the old sound).
//
// Decisions:
//   - Storing is one transaction over every station: the old step records
//     removed and the lists written, or, on any failure, every station keeps
//     the steps it had (the lists stay, marked changed).
//   - `StepsMemorisation` asks "Voulez-vous mémoriser les steps ?" when its
//     caller says so: the editor asks when steps changed and a sound is left;
//     the command line stores at the end of its script without asking.
//   - Cutting all steps goes through the sound edits' cut of several ranges
//     (one undo level, pointers moved with the frames); overlapping or
//     touching steps cannot exist (they are refused when added).
//   - The two auditions go through the editor's audition as a list of
//     ranges played one after the other: the selected step, or the
//     stretches of the strip's selection outside every step, in time order.
//     On a house-format sound the stretches are whole frames, the very
//     frames cutting all steps (and trimming to the selection) would keep,
//     and the audition plays them back to back with no gap.
#pragma once
#include <string>
#include <vector>

#include "data/library.h"
#include "editor/canvas.h"

namespace sono::editor {

class Audition;
class PointerEditor;
class SoundEdits;
class WaveformView;

inline constexpr int kStepRecordType = 3;
inline constexpr int kMaxSteps = 50;
inline constexpr Colour kStepColour{0xE0A000};

// StepsSuppression: removes the step records of `code` on every station in
// one transaction. False when they could not all be removed (logged): every
// station then keeps its steps.
bool StepsSuppression(data::Library& lib, const std::string& code, const std::string& caller);

// GestionSteps's actions, as the step menu and buttons number them.
enum class StepAction : int { Add = 0, Replace = 1, Delete = 2, PlayStep = 3, PlayWithoutSteps = 4, CutAll = 5 };

struct Step {
  long long startMs = 0, endMs = 0;
  bool operator==(const Step&) const = default;
};

class StepEditor {
 public:
  StepEditor(PointerEditor& editor, SoundEdits& edits, data::Library& lib, WaveformView& view, Canvas& strip);

  std::vector<Step> steps;  // both lists, in their order
  int selectedLine = -1;    // the selected line (0-based), -1 none
  bool changed = false;     // not stored since loaded
  bool editing = false;     // another command is editing the lists
  std::string lastMessage;  // the last message shown
  bool confirm = true;      // cutting all steps asks first (the command line names it)
  // The ranges (ms) the last audition was given, in order.
  std::vector<std::pair<int, int>> playedRanges;
  // Plays through this audition when set, else through the editor's.
  Audition* audition = nullptr;

  // The hidden list: start and end as 10 digits each.
  std::vector<std::string> ListeSteps() const;
  // The visible list: "n:" start "  /  " end (minutes, seconds, milliseconds).
  std::vector<std::string> VisibleSteps() const;
  // Why [a, b] cannot be a step ("" when it can), `ignoredLine` left out (a replacement).
  std::string CheckNewStep(long long a, long long b, int ignoredLine = -1) const;

  // An action on the strip's selection or the selected line. False when
  // refused (a box and lastMessage say why).
  bool GestionSteps(StepAction action);
  // The lists from FRAD031 for the loaded sound.
  bool StepsChargement(int station, const std::string& code);
  // Stores the lists on every station; `ask` asks first. False when the
  // user said No or the store failed.
  bool StepsMemorisation(bool ask, const std::string& caller);
  // A line of the lists selected: its times become the strip's selection.
  void ListeSteps_Click(int line);
  // Draws one step on the strip; DrawSteps draws them all (after the strip).
  void DrawSelectionStep(long long startMs, long long endMs);
  void DrawSteps();
  // The stretches of [from, to] outside every step, in time order.
  std::vector<std::pair<int, int>> OutsideSteps(int from, int to) const;
  // The strip selection's stretches outside every step (none without a
  // selection), and the steps themselves in time order: what the range
  // list is filled with.
  std::vector<std::pair<int, int>> SelectionOutsideSteps() const;
  std::vector<std::pair<int, int>> StepRanges() const;
  // The same as whole frames of a `frameCount`-frame house sound, in ms
  // ([first frame's start, last frame's end]): the frames of the selection
  // [from, to] that no step's frames take.
  std::vector<std::pair<int, int>> KeptFrameRanges(int from, int to, long long frameCount) const;
  void Clear();
  PointerEditor& editor() { return editor_; }

 private:
  bool refuse(const std::string& text, Icon icon = Icon::Exclamation);
  bool cutAll();
  bool play(const std::vector<std::pair<int, int>>& ranges);
  PointerEditor& editor_;
  SoundEdits& edits_;
  data::Library& lib_;
  WaveformView& view_;
  Canvas& strip_;
};

}  // namespace sono::editor
