#include "editor/steps.h"

#include <fmt/format.h>

#include <algorithm>

#include "core/datetime.h"
#include "core/text.h"
#include "data/pervasive.h"
#include "data/ptx.h"
#include "editor/frame_edit.h"
#include "editor/pointer_editor.h"
#include "editor/sound_edits.h"
#include "editor/waveform_view.h"

namespace sono::editor {

namespace {
constexpr char kStepType = '0' + kStepRecordType;
constexpr const char* kModule = "Lib_Pointeurs";
constexpr int kStepDigits = 10;

std::string Caller(const char* procedure) { return std::string(kModule) + ":" + procedure; }
}  // namespace

bool StepsSuppression(data::Library& lib, const std::string& code, const std::string& caller) {
  data::BaseTransaction txn(lib.db(), lib.base(), data::kPointers, caller);
  int failedStation = txn.begun() ? 0 : 1;
  for (int station = 1; failedStation == 0 && station <= lib.stationCount(); ++station)
    if (data::PtxDetruirePointeur(lib, station, code, kStepRecordType) != 0) failedStation = station;
  if (failedStation == 0 && txn.commit() == 0) {
    lib.log().TraceLog("StepsSuppression: Ok |Code: " + Trim(code) + " |Sub: " + caller);
    return true;
  }
  txn.abort();
  lib.log().TraceLog(fmt::format("Err: StepsSuppression: steps not deleted |Code: {} |Station: {} |Sub: {}", Trim(code),
                                 failedStation ? std::to_string(failedStation) : std::string("all"), caller));
  return false;
}

StepEditor::StepEditor(PointerEditor& editor, SoundEdits& edits, data::Library& lib, WaveformView& view,
                       Canvas& strip)
    : editor_(editor), edits_(edits), lib_(lib), view_(view), strip_(strip) {}

std::vector<std::string> StepEditor::ListeSteps() const {
  std::vector<std::string> out;
  for (const Step& s : steps) out.push_back(N2S(s.startMs, kStepDigits, '0') + N2S(s.endMs, kStepDigits, '0'));
  return out;
}

std::vector<std::string> StepEditor::VisibleSteps() const {
  std::vector<std::string> out;
  for (size_t i = 0; i < steps.size(); ++i)
    out.push_back(std::to_string(i + 1) + ":" + Tps2MinSecMil(static_cast<double>(steps[i].startMs)) + "  /  " +
                  Tps2MinSecMil(static_cast<double>(steps[i].endMs)));
  return out;
}

std::string StepEditor::CheckNewStep(long long a, long long b, int ignoredLine) const {
  if (a == b) return "Début et fin de la sélection identiques.";
  for (size_t i = 0; i < steps.size(); ++i) {
    if (static_cast<int>(i) == ignoredLine) continue;
    const long long s = steps[i].startMs, e = steps[i].endMs;
    const std::string n = std::to_string(i + 1);
    // Bounds are inclusive: a step may not even touch another.
    if (a <= s && b >= e) return "La sélection recouvre entièrement la sélection de la ligne " + n;
    const bool startIn = s <= a && a <= e, endIn = s <= b && b <= e;
    if (startIn && endIn) return "La sélection est déjà entièrement incluse dans la sélection de la ligne " + n;
    if (startIn) return "Le point de départ de la sélection est situé dans la sélection de la ligne " + n;
    if (endIn) return "Le point de fin de la sélection est situé dans la sélection de la ligne " + n;
  }
  return {};
}

bool StepEditor::refuse(const std::string& text, Icon icon) {
  lastMessage = text;
  lib_.prompt().message(text, icon, Buttons::Ok);
  return false;
}

bool StepEditor::GestionSteps(StepAction action) {
  if (editing) return false;
  lastMessage.clear();
  const StripSelection& sel = editor_.sound.selection;
  const long long a = std::min(sel.startMs, sel.endMs), b = std::max(sel.startMs, sel.endMs);
  const bool lineSelected = selectedLine >= 0 && selectedLine < static_cast<int>(steps.size());
  switch (action) {
    case StepAction::Add:
    case StepAction::Replace: {
      if (!sel.marked) return refuse("Vous devez sélectionner une portion de son.");
      if (action == StepAction::Replace && !lineSelected) return refuse("Vous devez sélectionner un step.");
      const std::string why = CheckNewStep(a, b, action == StepAction::Replace ? selectedLine : -1);
      if (!why.empty()) return refuse("Mémorisation impossible.\n" + why);
      if (action == StepAction::Add) {
        if (static_cast<int>(steps.size()) >= kMaxSteps)
          return refuse("Nombre maximum de steps atteint: " + std::to_string(kMaxSteps), Icon::Information);
        steps.push_back({a, b});
      } else {
        steps[static_cast<size_t>(selectedLine)] = {a, b};
      }
      changed = true;
      DrawSteps();
      return true;
    }
    case StepAction::Delete:
      if (!lineSelected) return refuse("Vous devez sélectionner un step.");
      steps.erase(steps.begin() + selectedLine);
      selectedLine = -1;
      changed = true;
      editor_.DrawStrip();
      DrawSteps();
      return true;
    case StepAction::PlayStep: {
      if (!lineSelected) return refuse("Vous devez sélectionner un step.");
      const Step& step = steps[static_cast<size_t>(selectedLine)];
      return play({{static_cast<int>(step.startMs), static_cast<int>(step.endMs)}});
    }
    case StepAction::PlayWithoutSteps: {
      const StripSelection& sel = editor_.sound.selection;
      const int from = std::min(sel.startMs, sel.endMs), to = std::max(sel.startMs, sel.endMs);
      if (!sel.marked || from == to)
        return refuse("Ecoute hors step impossible: Vous devez sélectionner une portion de son.");
      const long long frames = HouseFrameCount(editor_.sound.soundFile);
      return play(frames > 0 ? KeptFrameRanges(from, to, frames) : OutsideSteps(from, to));
    }
    case StepAction::CutAll:
      return cutAll();
  }
  return false;
}

std::vector<std::pair<int, int>> StepEditor::OutsideSteps(int from, int to) const {
  std::vector<Step> sorted = steps;
  std::sort(sorted.begin(), sorted.end(), [](const Step& a, const Step& b) { return a.startMs < b.startMs; });
  std::vector<std::pair<int, int>> kept;
  long long at = from;
  for (const Step& step : sorted) {
    if (step.endMs <= at) continue;
    if (step.startMs >= to) break;
    if (step.startMs > at) kept.emplace_back(static_cast<int>(at), static_cast<int>(step.startMs));
    at = step.endMs;
  }
  if (at < to) kept.emplace_back(static_cast<int>(at), to);
  return kept;
}

std::vector<std::pair<int, int>> StepEditor::SelectionOutsideSteps() const {
  const StripSelection& sel = editor_.sound.selection;
  const int from = std::min(sel.startMs, sel.endMs), to = std::max(sel.startMs, sel.endMs);
  if (!sel.marked || from == to) return {};
  return OutsideSteps(from, to);
}

std::vector<std::pair<int, int>> StepEditor::StepRanges() const {
  std::vector<std::pair<int, int>> ranges;
  for (const Step& step : steps) ranges.emplace_back(static_cast<int>(step.startMs), static_cast<int>(step.endMs));
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

std::vector<std::pair<int, int>> StepEditor::KeptFrameRanges(int from, int to, long long frameCount) const {
  const FrameSpan selection = SelectionFrames(from, to, frameCount);
  std::vector<FrameSpan> cuts{{1, selection.first - 1}, {selection.last + 1, frameCount}};
  for (const Step& step : steps) cuts.push_back(SelectionFrames(step.startMs, step.endMs, frameCount));
  std::vector<std::pair<int, int>> kept;
  if (selection.empty()) return kept;
  for (const FramePiece& piece : KeptPieces({}, frameCount, cuts))
    kept.emplace_back(static_cast<int>(piece.frames.startMs()), static_cast<int>(piece.frames.endMs()));
  return kept;
}

bool StepEditor::play(const std::vector<std::pair<int, int>>& ranges) {
  Audition* output = audition ? audition : editor_.auditionOutput();
  playedRanges = ranges;
  if (ranges.empty()) return refuse("Rien à écouter hors des steps dans la sélection.", Icon::Information);
  if (!output || !output->PlayRanges(ranges)) return refuse("Ecoute impossible: aucune sortie d'écoute.");
  return true;
}

bool StepEditor::cutAll() {
  if (steps.empty()) return refuse("Vous n'avez pas de pointeur de step.", Icon::Information);
  if (confirm && lib_.prompt().message("Voulez-vous couper définitivement tous les steps du son ?", Icon::Question,
                                       Buttons::YesNo) != Answer::Yes)
    return false;
  std::vector<std::pair<long long, long long>> ranges;
  for (const Step& s : steps) ranges.emplace_back(s.startMs, s.endMs);
  editing = true;
  const bool cut = edits_.CutRanges(ranges, Caller("GestionSteps"));
  editing = false;
  if (!cut) {
    lastMessage = edits_.lastMessage;
    return false;
  }
  // The steps pointed into music that is gone: the lists and their records go.
  steps.clear();
  selectedLine = -1;
  changed = true;
  StepsMemorisation(false, Caller("GestionSteps"));
  editor_.DrawStrip();
  lastMessage = "Tous les steps ont été supprimés.";
  lib_.prompt().message(lastMessage, Icon::Information, Buttons::Ok);
  return true;
}

bool StepEditor::StepsChargement(int station, const std::string& code) {
  Clear();
  const std::string padded = Calibre(code, 8);
  std::string key = data::Library::Key(data::ptx::Key(padded, kStepType, "00"));
  data::BtrieveOptions quiet;
  quiet.silent = true;
  int st = lib_.db().GetGreaterOrEqual(lib_.base(), data::kPointers, station, data::kPointerByCodeAndType, key,
                                       Caller("StepsChargement"), quiet);
  while (st == 0 && key.substr(0, 11) <= data::ptx::Key(padded, kStepType, "99")) {
    if (static_cast<int>(steps.size()) >= kMaxSteps) {
      refuse("Nombre maximum de steps atteint: " + std::to_string(kMaxSteps), Icon::Information);
      break;
    }
    const data::ptx::Record r = data::ptx::Decode(lib_.db().record(data::kPointers));
    steps.push_back({r.position, r.position + r.duration});
    st = lib_.db().GetNext(lib_.base(), data::kPointers, station, data::kPointerByCodeAndType, key,
                           Caller("StepsChargement"), quiet);
  }
  DrawSteps();
  // The end of the file ends the list; another status is a read error (logged by the layer).
  return st == 0 || st == 9;
}

bool StepEditor::StepsMemorisation(bool ask, const std::string& caller) {
  if (editing) return false;
  const std::string code = editor_.sound.code;
  if (Trim(code).empty()) return false;
  if (ask && lib_.prompt().message("Voulez-vous mémoriser les steps ?", Icon::Question, Buttons::YesNo) != Answer::Yes)
    return false;
  data::BaseTransaction txn(lib_.db(), lib_.base(), data::kPointers, caller);
  int failedStation = txn.begun() ? 0 : 1;
  for (int station = 1; failedStation == 0 && station <= lib_.stationCount(); ++station) {
    int st = data::PtxDetruirePointeur(lib_, station, code, kStepRecordType);
    for (size_t i = 0; st == 0 && i < steps.size(); ++i) {
      data::ptx::Record r;
      r.code = code;
      r.type = kStepType;
      r.order = static_cast<int>(i + 1);
      r.position = steps[i].startMs;
      r.duration = steps[i].endMs - steps[i].startMs;
      lib_.db().record(data::kPointers) = data::ptx::Encode(r);
      std::string key = data::Library::Key(std::string(11, ' '));
      st = lib_.db().Insert(lib_.base(), data::kPointers, station, data::kPointerByCodeAndType, key,
                            Caller("StepsMemorisation"));
    }
    if (st != 0) failedStation = station;
  }
  if (failedStation == 0 && txn.commit() == 0) {
    changed = false;
    lib_.log().TraceLog(fmt::format("StepsMemorisation: Ok |Code: {} |Steps: {} |Sub: {}", Trim(code), steps.size(), caller));
    return true;
  }
  txn.abort();
  lastMessage = "Steps non enregistrés (voir le journal).";
  lib_.log().TraceLog(fmt::format("Err: StepsMemorisation: steps not stored |Code: {} |Station: {} |Sub: {}", Trim(code),
                                  failedStation ? std::to_string(failedStation) : std::string("all"), caller));
  return false;
}

void StepEditor::ListeSteps_Click(int line) {
  if (line < 0 || line >= static_cast<int>(steps.size())) return;
  selectedLine = line;
  StripSelection& sel = editor_.sound.selection;
  sel.startMs = static_cast<int>(steps[static_cast<size_t>(line)].startMs);
  sel.endMs = static_cast<int>(steps[static_cast<size_t>(line)].endMs);
  sel.x1 = view_.TimingToPos(static_cast<double>(sel.startMs));
  sel.x2 = view_.TimingToPos(static_cast<double>(sel.endMs));
  sel.marked = true;
  editor_.DrawStrip();
  DrawSteps();
}

void StepEditor::DrawSelectionStep(long long startMs, long long endMs) {
  const int x1 = static_cast<int>(std::lround(view_.TimingToPos(static_cast<double>(startMs))));
  const int x2 = static_cast<int>(std::lround(view_.TimingToPos(static_cast<double>(endMs))));
  const int h = strip_.height();
  // A band along the strip's foot, closed at both ends.
  for (int y = std::max(0, h - 3); y < h; ++y) strip_.horizontalLine(y, x1, x2 + 1, kStepColour);
  strip_.verticalLine(x1, 0, h, kStepColour);
  strip_.verticalLine(x2, 0, h, kStepColour);
}

void StepEditor::DrawSteps() {
  for (const Step& s : steps) DrawSelectionStep(s.startMs, s.endMs);
}

void StepEditor::Clear() {
  steps.clear();
  selectedLine = -1;
  changed = false;
}

}  // namespace sono::editor
