#include "editor/pointer_editor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fmt/format.h>

#include "core/datetime.h"
#include "core/text.h"
#include "data/fields.h"
#include "data/records.h"
#include "data/songs.h"
#include "editor/envelope_draw.h"

namespace sono::editor {

namespace fs = std::filesystem;
using data::PointerSet;

namespace {
constexpr const char* kModule = "Lib_Pointeurs";
constexpr Colour kSelectionColour{0x3060FF};
constexpr const char* kNotStored = "Pointeurs non enregistrés (erreur de la base de données, voir le journal).";

std::string lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ".s48" to ".gpx", first occurrence, any case.
std::string envelopeNameOf(const std::string& soundFile) {
  const size_t at = lowered(soundFile).find(".s48");
  if (at == std::string::npos) return GpxPathFor(soundFile);
  std::string out = soundFile;
  out.replace(at, 4, ".gpx");
  return out;
}
}  // namespace

PointerEditor::PointerEditor(Ports ports)
    : ptx(ports.lib),
      lib_(ports.lib),
      stats_(ports.stats),
      meter_(ports.meter),
      envelopes_(ports.envelopes),
      view_(ports.view),
      working_(ports.working),
      strip_(ports.strip),
      stripCorrected_(ports.stripCorrected),
      audition_(ports.audition) {
  ptx.onDurationsStored = [this](const std::string& code, std::optional<long long> playMs, long long introMs,
                                 char endType) {
    bool failed = false;
    data::SoundUpdateDuration(lib_, stats_, code, playMs, introMs, endType, &failed);
    return !failed;
  };
  view_.drawPointerMark = [this](int type) { drawWorkingMark(type); };
  // A selection made in the working view is the strip's selection too.
  view_.drawStripSelection = [this](float, float) { mirrorCaptureZone(); };
  for (auto& table : markerTables) table.fill(-1);
  ptx.RAZValeursPtx();
  ShowPitch();
}

void PointerEditor::InitGeneralTableurPointeurs(bool wide, std::vector<std::string> devices) {
  ptx.grid.InitGeneralTableurPointeurs(wide, std::move(devices));
  ptx.RAZValeursPtx();
}

void PointerEditor::SoundEdited(bool written) {
  if (written) flags.soundWritten = true;
  else flags.soundUnsaved = true;
  noticeSent_ = false;
}

// ------------------------------------------------------------------ loading

bool PointerEditor::InitSoundPtx(SoundLoad load, bool updateDuration, const std::string& caller,
                                 const SongSelection& song) {
  TraceLogger& log = lib_.log();
  log.TraceLog("========================:");
  log.TraceLog("InitSoundPtx: Start |Sub: " + caller + " |SoundFile: " + song.soundFile);
  const int rememberedOption = playModeOption;
  if (load == SoundLoad::NewSelection) {
    if (OfferToStoreChanges(caller, Buttons::YesNoCancel) == Answer::Cancel) {
      log.TraceLog("InitSoundPtx: Cancelled |Sub: " + caller + " |Code: " + Trim(sound.code));
      return false;
    }
    if (!sound.soundFile.empty()) RAZUndoFichierSonQZ(sound.soundFile);
    RAZSonCharge();
    noticeSent_ = false;
    ptx.pointersChanged = false;
    sound = CurrentSound{};
    sound.code = Calibre(song.code, 8);
    sound.station = song.station;
    sound.duration = song.durationMs;
    sound.soundFile = song.soundFile;
    sound.envelopeFile = envelopeNameOf(song.soundFile);
    codeLabel = Trim(song.code);
    AfficherTitreSelectionneDansPointeur(song.title, song.artists);
    if (onSoundSelected) onSoundSelected();
  }
  // The song's end type and duration as its record holds them now: the
  // duration check compares with it, the write-back carries the end type.
  suppressEndTypeClick = true;
  readSongRecord(sound.code);
  suppressEndTypeClick = false;
  measureSound();
  durationLabel = Tps2MinSecCen(soundLength());
  if (audition_) audition_->Stop();
  ptx.Load(sound.station, sound.code, soundLength(), lengthMeasured());
  ptx.keepDuration = sound.damagedFrames > 0;
  ptx.pointersChanged = false;
  checkStoredDuration(updateDuration);
  ShowPitch();
  option6Enabled = sound.code.rfind("LIN", 0) != 0;
  clearSelection();
  InitSoundFile();
  if (rememberedOption >= 8 && rememberedOption <= 10) playModeOption = rememberedOption;
  log.TraceLog("InitSoundPtx: End |Sub: " + caller + " |SoundFile: " + sound.soundFile);
  log.TraceLog("======================:");
  return true;
}

Answer PointerEditor::OfferToStoreChanges(const std::string& caller, Buttons buttons) {
  const std::string current = sound.code;
  if (Trim(current).empty()) return Answer::No;
  const bool soundChanged = flags.soundUnsaved || flags.soundWritten;
  if (soundChanged && !noticeSent_ && onSoundChangedNotice) {
    onSoundChangedNotice(lib_.base(), current, caller);
    noticeSent_ = true;
  }
  if (!ptx.pointersChanged && !soundChanged) return Answer::No;
  const char* question =
      !ptx.pointersChanged ? "Voulez-vous enregistrer les changements sur le son ?"
      : soundChanged       ? "Voulez-vous enregistrer les changements sur les pointeurs et sur le son ?"
                           : "Voulez-vous enregistrer les changements sur les pointeurs ?";
  const Answer answer = lib_.prompt().message(question, Icon::Question, buttons);
  if (answer == Answer::Yes && ptx.pointersChanged) {
    while (saving) lib_.events().processEvents();
    const std::string values = changedSlotsText();
    if (!ptx.PointeurMemoriseDataBase(current, sound.soundFile, data::kAllSlots, false, false)) {
      const bool canKeep = buttons == Buttons::YesNoCancel;
      lastMessage = "Les pointeurs du morceau " + Cp1252ToUtf8(Trim(current)) +
                    " n'ont pas été enregistrés (erreur de la base de données, voir le journal) : " + values +
                    (canKeep ? ".\nLes modifications sont conservées." : ".");
      lib_.log().TraceLog("Err: " + caller + ": pointers not stored |Code: " + Trim(current) + " |Not stored: " +
                          values);
      lib_.prompt().message(lastMessage, Icon::Critical, Buttons::Ok);
      return Answer::Cancel;
    }
    if (onPointersStored) onPointersStored(current, caller);
  }
  return answer;
}

std::string PointerEditor::changedSlotsText() const {
  std::string text;
  for (int slot = 0; slot < data::kSlots; ++slot) {
    const data::SlotInfo& info = data::SlotDescription(slot);
    if (!ptx.grid.changed(info.firstColumn)) continue;
    text += (text.empty() ? "" : ", ") + std::string(info.label) + " " + ptx.grid.cell(data::kGridRawRow, info.firstColumn);
    if (info.secondColumn) text += "/" + ptx.grid.cell(data::kGridRawRow, info.secondColumn);
  }
  return text;
}

void PointerEditor::readSongRecord(const std::string& code) {
  std::string key = data::Library::Key(Calibre(code, 8));
  data::BtrieveOptions quiet;
  quiet.silent = true;
  ptx.endType = 0;
  if (lib_.db().GetEqual(lib_.base(), data::kSongs, sound.station, data::kSongByCode, key,
                        std::string(kModule) + ":InitSoundPtx", quiet) != 0)
    return;  // not found: the duration handed in with the row stays
  const std::string& r = lib_.db().record(data::kSongs);
  const std::string t = data::GetRaw(r, data::song::kEndType);
  ptx.endType = t == "F" ? 1 : t == "E" ? 2 : t == "D" ? 3 : 0;
  sound.duration = static_cast<int>(std::min<long long>(data::song::DurationSeconds(r) * 1000, INT_MAX));
}

void PointerEditor::measureSound() {
  int measured = 0;
  long long damagedFrames = 0, damagedMs = 0;
  if (meter_.LoadSoundFast(sound.soundFile)) {
    measured = meter_.GetSoundDuration();
    damagedFrames = meter_.GetDamagedFrames();
    damagedMs = meter_.GetDamagedMs();
  }
  meter_.CloseSound();
  // A sound that cannot be measured has no known length (see ptx.h). The
  // frames of a damaged one are all in the file: its length counts them.
  sound.checkedDuration = measured > 0 ? static_cast<int>(std::min<long long>(measured + damagedMs, INT_MAX)) : 0;
  sound.damagedFrames = measured > 0 ? damagedFrames : 0;
}

void PointerEditor::checkStoredDuration(bool updateDuration) {
  // Without the sound's length nothing is written: the record keeps its duration.
  if (!lengthMeasured()) return;
  const std::string code = Trim(sound.code);
  // Nor from a damaged sound: its duration would be a guess, mostly too short.
  if (sound.damagedFrames > 0) {
    lib_.log().TraceLog(fmt::format("InitSoundPtx: Duration kept: damaged sound |Code: {} |Damaged frames: {} "
                                    "|Database: {} ms",
                                    code, sound.damagedFrames, sound.duration));
    return;
  }
  // Like with like: the play duration the record would get from the sound's
  // length and the pointers as they load, against the one it holds. The
  // record holds whole seconds, so only a different second is a difference.
  const long long play = ptx.DeterminePlayDuration();
  const long long playSeconds = (play + 500) / 1000;
  const bool differs = playSeconds * 1000 != sound.duration;
  if (!updateDuration && !differs) return;
  if (differs)
    lib_.log().TraceLog(fmt::format("InitSoundPtx: Duration corrected |Code: {} |Database: {} ms |Play: {} ms "
                                    "|Sound: {} ms",
                                    code, sound.duration, play, sound.checkedDuration));
  // A duration far from the song's is a question: the sound may be another
  // take, or cut, and the song's the right one.
  if (!updateDuration && data::DurationFar(playSeconds * 1000, sound.duration)) {
    const std::string question = fmt::format(
        "La durée de passage du son {} ({}) est très différente de celle du morceau ({}).\n\n"
        "Voulez-vous enregistrer {} sur toutes les stations ?",
        Cp1252ToUtf8(code), Trim(Tps2MinSec(static_cast<double>(playSeconds * 1000))),
        Trim(Tps2MinSec(static_cast<double>(sound.duration))), Trim(Tps2MinSec(static_cast<double>(playSeconds * 1000))));
    if (lib_.prompt().message(question, Icon::Question, Buttons::YesNo) != Answer::Yes) {
      lib_.log().TraceLog("InitSoundPtx: Duration kept by the user |Code: " + code);
      ptx.keepDuration = true;
      return;
    }
  }
  bool failed = false;
  data::SoundUpdateDuration(lib_, stats_, sound.code, play, ptx.DetermineDureeIntro(),
                            data::DetermineTypeDeFin(ptx.endType), &failed);
  if (failed) return;  // logged by the update; the record keeps what it had
  sound.previousDuration = sound.duration;
  sound.duration = static_cast<int>(playSeconds * 1000);
}

void PointerEditor::InitSoundFile() {
  envelope.assign(1, 0);
  envelopeCount = 0;
  const bool exists = !sound.soundFile.empty() && fs::exists(sound.soundFile);
  // A sound the meter reads has its envelope; one it cannot read is
  // "not supported", whatever its envelope file holds.
  if (exists && lengthMeasured())
    envelopes_.EnergieLit(envelopeCount, sound.soundFile, soundLength(), envelope, "InitSoundFile");
  lastMessage.clear();
  if (!Trim(sound.code).empty()) {
    if (!exists) {
      // Many songs of a library have no sound yet: browsing them row by row
      // must not stop on a box each time, the editor pane shows the message.
      lastMessage = "Fichier son non trouvé: " + sound.soundFile;
      lib_.log().TraceLog("InitSoundFile: " + lastMessage);
    } else if (!lengthMeasured()) {
      lastMessage = "Format du fichier son '" + sound.soundFile + "' non supporté.";
      lib_.prompt().message(lastMessage, Icon::Exclamation, Buttons::Ok);
    } else if (envelopeCount <= 0 && !envelopes_.settings().envelopesOff) {
      lastMessage = "Enveloppe indisponible: " + envelopes_.report().gpxPath;
      lib_.log().TraceLog("InitSoundFile: " + lastMessage);
    }
  }
  showEnvelope();
}

void PointerEditor::showEnvelope() {
  if (envelopeCount <= 0) {
    envelopeCount = 0;
    envelope.assign(1, 0);
  }
  view_.InitDataAffichage(view_.look);
  view_.SetUpAfterLoad(envelope, envelopeCount, soundLength());
  if (envelopeCount > 0) {
    view_.DessineVueGlobale();
    view_.EnergieAfficheLocal();
  }
  DrawStrip();
}

bool PointerEditor::RebuildEnvelope() {
  if (Trim(sound.code).empty()) return false;
  if (!lengthMeasured()) {
    lastMessage = "Enveloppe non reconstruite: le son " + sound.soundFile + " est introuvable ou illisible.";
    lib_.prompt().message(lastMessage, Icon::Exclamation, Buttons::Ok);
    return false;
  }
  int count = 0;
  std::vector<uint8_t> values;
  const bool built = envelopes_.Rebuild(count, sound.soundFile, soundLength(), values, "MnuReconstruireEnveloppe");
  if (!built) {
    lastMessage = "Enveloppe non reconstruite: " + sound.soundFile + " (voir le journal).";
    lib_.prompt().message(lastMessage, Icon::Exclamation, Buttons::Ok);
    return false;
  }
  lastMessage = envelopes_.report().cached ? "" : "Enveloppe reconstruite sans pouvoir l'enregistrer (dossier en lecture seule ?).";
  if (!envelopes_.settings().envelopesOff) {
    envelope = std::move(values);
    envelopeCount = count;
  }
  showEnvelope();
  return true;
}

void PointerEditor::RAZSonCharge() {
  if (audition_) audition_->Stop();
  for (auto& table : markerTables) table.fill(-1);
  ptx.RAZValeursPtx();
  marks = {0, 0};
  DeleteTemporaryFiles();
  flags = {};
  lib_.log().TraceLog("SoundChanged change to: False");
}

void PointerEditor::DeleteTemporaryFiles() {
  for (std::string& f : sound.temporaryFiles) {
    std::error_code ec;
    if (!f.empty() && fs::exists(f, ec)) fs::remove(f, ec);
    f.clear();
  }
}

std::string PointerEditor::UndoFileName(const std::string& file, int level) {
  const fs::path p(file);
  return (p.parent_path() / (p.stem().string() + "." + N2S(level, 3, '0') + ".s48")).string();
}

void PointerEditor::RAZUndoFichierSonQZ(const std::string& file) {
  for (int level = undoLevels; level >= 1; --level) {
    std::error_code ec;
    const std::string name = UndoFileName(file, level);
    if (fs::exists(name, ec)) fs::remove(name, ec);
  }
  undoLevels = 0;
  undoEnabled = false;
}

void PointerEditor::AfficherTitreSelectionneDansPointeur(
    const std::string& title, const std::vector<std::pair<int, std::string>>& artists, bool advert,
    const std::string& campaign, const std::string& rotation) {
  std::string text = Trim(title);
  for (const auto& [kind, name] : artists) {
    if (Trim(name).empty()) continue;
    text += kind == 1 ? " & " : kind == 2 ? " && " : " - ";
    text += Trim(name);
  }
  if (advert) text += " | Campagne: " + Trim(campaign) + " | Rotation: " + Trim(rotation);
  titleLabel = text;
}

// -------------------------------------------------------------- the strip

void PointerEditor::clearSelection() {
  sound.selection.startMs = sound.selection.endMs = 0;
  sound.selection.x1 = sound.selection.x2 = 0;
  sound.selection.marked = false;
  DrawStrip();
}

void PointerEditor::StripMouseDown(MouseButton button, int x, Modifiers modifiers) {
  if (button != MouseButton::Left) return;
  StripSelection& s = sound.selection;
  const int tw = strip_.twipsPerPixel();
  const int t = std::clamp(view_.PosToTiming(static_cast<double>(std::max(0, x)) * tw), 0, soundLength());
  s.marked = false;  // erased, drawn again below
  view_.zone(kCaptureZone).marked = false;
  lastModifiers_ = modifiers;
  if (modifiers.ctrl) {
    s.singleMarkMs = t;
  } else if (modifiers.shift) {
    if (x < s.x1) s.startMs = t;
    else s.endMs = t;
  } else {
    s.startMs = s.endMs = t;
    s.draggingEnd = true;
  }
  s.marked = true;
  s.x1 = view_.TimingToPos(s.startMs);
  s.x2 = view_.TimingToPos(s.endMs);
  DrawStrip();
}

void PointerEditor::StripMouseMove(bool leftDown, int x) {
  const int tw = strip_.twipsPerPixel();
  const int t = view_.PosToTiming(static_cast<double>(std::max(0, x)) * tw);
  labelMouse = Tps2MinSecMil(t);
  if (!leftDown || lastModifiers_.ctrl) return;
  StripSelection& s = sound.selection;
  if (s.draggingEnd && t < s.startMs) {
    s.endMs = s.startMs;
    s.draggingEnd = false;
  } else if (!s.draggingEnd && t > s.endMs) {
    s.startMs = s.endMs;
    s.draggingEnd = true;
  }
  const int clamped = std::clamp(t, 0, std::max(0, soundLength()));
  (s.draggingEnd ? s.endMs : s.startMs) = clamped;
  s.x1 = view_.TimingToPos(s.startMs);
  s.x2 = view_.TimingToPos(s.endMs);
  DrawStrip();
}

void PointerEditor::StripMouseUp() { HandleRelease(); }

void PointerEditor::StripKeyMove(int stepMs, bool extend) {
  StripSelection& s = sound.selection;
  const int length = std::max(0, soundLength());
  if (!s.marked) s.startMs = s.endMs = 0;
  if (extend) {
    s.endMs = std::clamp(s.endMs + stepMs, 0, length);
    if (s.endMs < s.startMs) std::swap(s.startMs, s.endMs);
  } else {
    s.startMs = s.endMs = std::clamp(s.startMs + stepMs, 0, length);
  }
  s.marked = true;
  s.x1 = view_.TimingToPos(s.startMs);
  s.x2 = view_.TimingToPos(s.endMs);
  labelMouse = Tps2MinSecMil(s.endMs);
  DrawStrip();
  HandleRelease();
}

void PointerEditor::HandleMove(SelectionHandle handle, int centreX) {
  StripSelection& s = sound.selection;
  const int x = std::clamp(centreX, 0, strip_.width());
  const int t = std::clamp(view_.PosToTiming(static_cast<double>(x) * strip_.twipsPerPixel()), 0,
                           std::max(0, soundLength()));
  (handle == SelectionHandle::Start ? s.startMs : s.endMs) = t;
  s.marked = true;
  s.x1 = view_.TimingToPos(s.startMs);
  s.x2 = view_.TimingToPos(s.endMs);
  DrawStrip();
}

void PointerEditor::HandleRelease() {
  if (!editorPaneShown || !sound.selection.marked) return;
  Zone& capture = view_.zone(kCaptureZone);
  capture.t1 = static_cast<float>(std::min(sound.selection.startMs, sound.selection.endMs));
  capture.t2 = static_cast<float>(std::max(sound.selection.startMs, sound.selection.endMs));
  capture.x1 = static_cast<float>(view_.Tps2Pos(capture.t1));
  capture.x2 = static_cast<float>(view_.Tps2Pos(capture.t2));
  capture.marked = true;
}

bool PointerEditor::memoriseUserChange(int slot, double pos, double sec, int device) {
  const bool before = ptx.pointersChanged;
  const std::string refusal = ptx.MemoriseUserValue(slot, pos, sec, device);
  if (!refusal.empty()) {
    lastMessage = refusal;
    lib_.log().TraceLog("Value refused |Code: " + Trim(sound.code) + " |" + refusal);
    lib_.prompt().message(refusal, Icon::Exclamation, Buttons::Ok);
    return false;
  }
  if (autoStore) {
    while (saving) lib_.events().processEvents();
    if (!ptx.PointeurMemoriseDataBase(sound.code, sound.soundFile, slot, true, false))
      lastMessage = kNotStored;
    else if (onPointersStored)
      onPointersStored(sound.code, "Lib_Pointeurs:PointeurMemoriseDataBase");
    ptx.pointersChanged = before && anyMarked();
  }
  return true;
}

bool PointerEditor::songLoaded() const { return !Trim(sound.code).empty(); }

bool PointerEditor::anyMarked() const {
  for (int c = 1; c <= data::kGridColumns; ++c)
    if (ptx.grid.changed(c)) return true;
  return false;
}

bool PointerEditor::StripMenu(StripMenuEntry entry) {
  const StripSelection s = sound.selection;
  const long long start = std::min(s.startMs, s.endMs);
  const long long length = std::abs(s.endMs - s.startMs);
  int slot = -1;
  bool done = true;
  switch (entry) {
    using enum StripMenuEntry;
    case FadeIn: slot = data::kFadeIn; done = memoriseUserChange(slot, start, length); break;
    case Intro: slot = data::kIntro; done = memoriseUserChange(slot, start, 0); break;
    case StartNext: slot = data::kStartNext; done = memoriseUserChange(slot, start, 0); break;
    case FadeOut: {
      slot = data::kFadeOut;
      done = memoriseUserChange(slot, start, length);
      const long long next = ptx.position[data::kStartNext];
      if (done && ((next > 0 && next > start + length) || next == 0))
        done = memoriseUserChange(data::kStartNext, start, 0);
      break;
    }
    case Hook: slot = data::kHook; done = memoriseUserChange(slot, start, length); break;
    case Loop: slot = data::kLoop; done = memoriseUserChange(slot, start, length); break;
    case Send: slot = data::kSend; done = memoriseUserChange(slot, start, 0); break;
    case StartEqui: slot = data::kStartEqui; done = memoriseUserChange(slot, start, 0); break;
    default: return false;
  }
  DrawStrip();
  SelectionPointeur(slot, true);
  return done;
}

// ------------------------------------------------------------------ the grid

int PointerEditor::SlotOfColumn(int column) {
  using namespace data;
  switch (column) {
    case kGridFadeIn: case kGridFadeInLength: return kFadeIn;
    case kGridIntro: return kIntro;
    case kGridStartNext: return kStartNext;
    case kGridFadeOut: case kGridFadeOutLength: return kFadeOut;
    case kGridHook: case kGridHookLength: return kHook;
    case kGridLoop: case kGridLoopLength: return kLoop;
    case kGridStartEqui: return kStartEqui;
    case kGridSend: return kSend;
    default: return -1;  // level, pitch and the device are not selected on the strip
  }
}

void PointerEditor::SelectionPointeur(int slot, bool select) {
  if (!select || slot < 0 || slot >= data::kSlots) return;
  const long long pos = ptx.position[static_cast<size_t>(slot)];
  const long long sec = ptx.second[static_cast<size_t>(slot)];
  if (pos == 0 && sec == 0) return;
  StripSelection& s = sound.selection;
  s.marked = false;
  if (soundLength() > 0) {
    s.startMs = static_cast<int>(pos);
    s.endMs = static_cast<int>(pos + sec);
    s.x1 = view_.TimingToPos(s.startMs);
    s.x2 = view_.TimingToPos(s.endMs);
    s.marked = true;
  }
  playPosition = static_cast<int>(pos);
  s.selectedSlot = slot;
  if (editorPaneShown) {
    HandleRelease();
    if (envelopeCount > 0) view_.AffichePositionTeteLecture(playPosition);
  }
  DrawStrip();
}

void PointerEditor::GridClick(int column, int row) {
  (void)row;
  const int slot = SlotOfColumn(column);
  if (slot >= 0) {
    SelectionPointeur(slot, true);
    const long long pos = ptx.position[static_cast<size_t>(slot)];
    const long long sec = ptx.second[static_cast<size_t>(slot)];
    if (audition_ && (pos != 0 || sec != 0))
      audition_->PlayRange(sound.soundFile, static_cast<int>(pos), sec > 0 ? static_cast<int>(pos + sec) : 0);
  }
  if (column != data::kGridSendDevice) stripFocused = true;
}

void PointerEditor::GridRestore(int column) {
  const int slot = SlotOfColumn(column) >= 0 ? SlotOfColumn(column)
                   : column == data::kGridLevel ? data::kLevel
                   : column == data::kGridPitch ? data::kPitch
                                                : -1;
  if (slot < 0) return;
  const data::SlotInfo& info = data::SlotDescription(slot);
  const auto stored = [&](int column) { return ParseInt(Trim(ptx.grid.cell(data::kGridStoredRow, column))); };
  const long long pos = stored(info.firstColumn).value_or(0);
  const long long sec = info.secondColumn ? stored(info.secondColumn).value_or(0) : 0;
  const int device = slot == data::kSend
                         ? static_cast<int>(stored(data::kGridSendDevice).value_or(data::kNoSendDevice))
                         : data::kSendDeviceKept;
  ptx.PointeurMemoriseDansTableur(slot, pos, sec, true, device);
  ptx.pointersChanged = ptx.pointersChanged && anyMarked();
  if (slot == data::kPitch) ShowPitch();
  DrawStrip();
  SelectionPointeur(slot, true);
}

void PointerEditor::GridClear(int column) {
  const int slot = SlotOfColumn(column) >= 0 ? SlotOfColumn(column)
                   : column == data::kGridLevel ? data::kLevel
                   : column == data::kGridPitch ? data::kPitch
                                                : -1;
  if (slot < 0) return;
  memoriseUserChange(slot, slot == data::kPitch ? data::kPitchNeutral : 0, 0);
  if (slot == data::kPitch) ShowPitch();
  DrawStrip();
  SelectionPointeur(slot, true);
}

bool PointerEditor::SetSendDevice(int device) {
  return memoriseUserChange(data::kSend, static_cast<double>(ptx.position[data::kSend]), 0, device);
}

// ----------------------------------------------------------- other controls

bool PointerEditor::SetPitchSlider(int value) { return SetPitch(static_cast<double>(value) * 1000); }

bool PointerEditor::SetPitch(double millionths) {
  const bool done = memoriseUserChange(data::kPitch, millionths, 0);
  ShowPitch();
  return done;
}

void PointerEditor::ShowPitch() {
  const long long pitch = ptx.position[data::kPitch] == 0 ? data::kPitchNeutral : ptx.position[data::kPitch];
  ptx.pitchSlider = static_cast<int>(pitch / 1000);
  pitchLabel = pitch == data::kPitchNeutral
                   ? std::string("0 %")
                   : fmt::format("{:+.1f} %", static_cast<double>(pitch) / 10000.0 - 100.0);
}

bool PointerEditor::SetLevel(double hundredthsDb) {
  const bool done = memoriseUserChange(data::kLevel, hundredthsDb, 0);
  DrawStrip();
  return done;
}

void PointerEditor::SetEndType(int item) {
  ptx.endType = std::clamp(item, 0, 3);
  if (suppressEndTypeClick || Trim(sound.code).empty()) return;
  if (!WriteEndType(sound.code, data::DetermineTypeDeFin(ptx.endType), "Frm_Main:ComboTypeDeFin_Click"))
    lastMessage = "Type de fin non enregistré (erreur de la base de données, voir le journal).";
}

bool PointerEditor::WriteEndType(const std::string& songCode, char endType, const std::string& me) {
  const std::string code(1, endType);
  // Every station in one transaction; a record that holds the code already is left alone.
  data::BaseTransaction txn(lib_.db(), lib_.base(), data::kSongs, me);
  bool ok = txn.begun();
  for (int station = 1; ok && station <= lib_.stationCount(); ++station) {
    std::string key = data::Library::Key(Calibre(songCode, 8));
    data::BtrieveOptions quiet;
    quiet.silent = true;
    if (lib_.db().GetEqual(lib_.base(), data::kSongs, station, data::kSongByCode, key, me, quiet) != 0) {
      ok = lib_.db().status() == btr::status::kKeyNotFound;
      continue;
    }
    std::string& r = lib_.db().record(data::kSongs);
    if (data::GetRaw(r, data::song::kEndType) == code) continue;
    data::SetRaw(r, data::song::kEndType, code);
    key = data::Library::Key(Calibre(songCode, 8));
    ok = lib_.db().Update(lib_.base(), data::kSongs, station, data::kSongByCode, key, me) == 0;
  }
  if (ok && txn.commit() != 0) ok = false;
  if (!ok) {
    txn.abort();
    // The caller's name first, as the combo's line always read.
    const std::string name = me.substr(me.rfind(':') + 1);
    lib_.log().TraceLog("Err: " + name + ": not stored |Code: " + Trim(songCode));
  }
  return ok;
}

void PointerEditor::MarksMenu(MarksMenuEntry entry) {
  if (entry == MarksMenuEntry::MarkSelection) {
    const Zone& capture = view_.zone(kCaptureZone);
    marks = {static_cast<int>(capture.t1), static_cast<int>(capture.t2)};
    if (marks[0] > marks[1]) std::swap(marks[0], marks[1]);
    if (marks[0] != marks[1]) {
      StripSelection& s = sound.selection;
      s.startMs = marks[0];
      s.endMs = marks[1];
      s.x1 = view_.TimingToPos(s.startMs);
      s.x2 = view_.TimingToPos(s.endMs);
      s.marked = true;
      playPosition = marks[0];
      DrawStrip();
    }
  }
  if (marks[0] <= marks[1])
    statusMarks = Tps2MinSecMil(marks[0]) + " / " + Tps2MinSecMil(marks[1]);
}

bool PointerEditor::StorePointers() {
  saving = true;
  const bool stored = ptx.PointeurMemoriseDataBase(sound.code, sound.soundFile, data::kAllSlots, true, false);
  saving = false;
  if (!stored) lastMessage = kNotStored;
  if (stored && onPointersStored) onPointersStored(sound.code, "Lib_Pointeurs:PointeurMemoriseDataBase");
  ShowPitch();
  DrawStrip();
  return stored;
}

bool PointerEditor::FollowStoredPointers() {
  if (!songLoaded() || saving || anyMarked()) return false;
  ptx.Load(sound.station, sound.code, soundLength(), lengthMeasured());
  ptx.pointersChanged = false;
  ShowPitch();
  DrawStrip();
  return true;
}

bool PointerEditor::RAZPtx() {
  if (audition_) audition_->Stop();
  ptx.RAZValeursPtx();
  saving = true;
  const bool stored = ptx.PointeurMemoriseDataBase(sound.code, sound.soundFile, data::kAllSlots, true, true);
  saving = false;
  lib_.log().TraceLog("RAZPtx: " + std::string(stored ? "Ok" : "Err: not stored") + " |Code: " + Trim(sound.code));
  if (!stored) {
    // What is on screen is not what is stored: the slots stay marked.
    for (int slot = 0; slot < data::kSlots; ++slot)
      ptx.grid.markChanged(data::SlotDescription(slot).firstColumn, true);
    ptx.pointersChanged = true;
    lastMessage = kNotStored;
  }
  if (stored && onPointersStored) onPointersStored(sound.code, "Lib_Pointeurs:RAZPtx");
  ShowPitch();
  DrawStrip();
  return stored;
}

// ---------------------------------------------------------------- drawing

Colour PointerEditor::MarkColour(int slot) {
  switch (slot) {
    case data::kFadeIn: return Colour{0x00A000};
    case data::kIntro: return Colour{0x0000FF};
    case data::kFadeOut: return Colour{0xE00000};
    case data::kStartNext: return Colour{0xFF8000};
    case data::kStartEqui: return Colour{0x8000C0};
    default: return Colour{0x808080};
  }
}

void PointerEditor::mirrorCaptureZone() {
  const Zone& capture = view_.zone(kCaptureZone);
  StripSelection& s = sound.selection;
  const int length = std::max(0, soundLength());
  s.startMs = std::clamp(static_cast<int>(std::lround(std::min(capture.t1, capture.t2))), 0, length);
  s.endMs = std::clamp(static_cast<int>(std::lround(std::max(capture.t1, capture.t2))), 0, length);
  s.x1 = view_.TimingToPos(s.startMs);
  s.x2 = view_.TimingToPos(s.endMs);
  s.marked = true;
  s.draggingEnd = true;
  DrawStrip();
}

void PointerEditor::DrawStrip() {
  const StripSelection& selected = sound.selection;
  labelStart = selected.marked ? Trim(Tps2MinSecMil(std::min(selected.startMs, selected.endMs))) : "";
  labelEnd = selected.marked ? Trim(Tps2MinSecMil(std::max(selected.startMs, selected.endMs))) : "";
  strip_.clear(view_.look.background);
  stripCorrected_.clear(view_.look.background);
  if (envelopeCount > 0) {
    EnergieAffiche(strip_, envelopeCount, envelope, 0, view_.look.envelope);
    EnergieAffiche(stripCorrected_, envelopeCount, envelope, 0, view_.look.envelope,
                   static_cast<double>(ptx.level));
  }
  const int h = strip_.height();
  if (soundLength() > 0) {
    for (int slot : {data::kFadeIn, data::kIntro, data::kFadeOut, data::kStartNext, data::kStartEqui}) {
      const long long pos = ptx.position[static_cast<size_t>(slot)];
      if (pos <= 0) continue;
      const int x = static_cast<int>(std::lround(view_.TimingToPos(static_cast<double>(pos))));
      if (x >= 0 && x < strip_.width()) strip_.verticalLine(x, 0, h, MarkColour(slot));
    }
  }
  const StripSelection& s = sound.selection;
  if (s.marked) {
    const int x1 = static_cast<int>(std::lround(std::min(s.x1, s.x2)));
    const int x2 = static_cast<int>(std::lround(std::max(s.x1, s.x2)));
    strip_.horizontalLine(0, x1, x2 + 1, kSelectionColour);
    strip_.horizontalLine(h - 1, x1, x2 + 1, kSelectionColour);
    strip_.verticalLine(x1, 0, h, kSelectionColour);
    strip_.verticalLine(x2, 0, h, kSelectionColour);
  }
}

void PointerEditor::drawWorkingMark(int type) {
  int slot = -1;
  switch (type) {
    case 0: slot = data::kFadeIn; break;
    case 4: slot = data::kIntro; break;
    case 1: slot = data::kFadeOut; break;
    case 5: slot = data::kStartNext; break;
    case 7: slot = data::kStartEqui; break;
    default: return;
  }
  const long long pos = ptx.position[static_cast<size_t>(slot)];
  if (pos <= 0 || view_.NombreValeurs <= 0) return;
  const int x = view_.Tps2Pos(static_cast<double>(pos));
  if (x >= 0 && x < working_.width()) working_.verticalLine(x, 0, working_.height(), MarkColour(slot));
}

}  // namespace sono::editor

namespace sono::editor {

void PointerEditor::OverviewStripClick(int x) {
  const double tpp = strip_.twipsPerPixel();
  const double w = static_cast<double>(strip_.width()) * tpp;  // the strip in twips
  if (w <= 4 * tpp || view_.NombreValeurs <= 0 || view_.MsParValeur <= 0) return;
  // The strip's borders take two pixels each side: the time scale leaves them out.
  const double t = x * tpp * w / (w - 4 * tpp) / w * view_.NombreValeurs * view_.MsParValeur;
  view_.XGlobal = static_cast<int>(std::lround(t / view_.MsParValeur * view_.PixelsParValeur));
  view_.PositionneZoneTravail();
}

void PointerEditor::PlayCursorDrop(int centreX) {
  playPosition = view_.PosToTiming(static_cast<double>(centreX) * strip_.twipsPerPixel());
}

}  // namespace sono::editor
