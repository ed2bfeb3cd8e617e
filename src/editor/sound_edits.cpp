#include "editor/sound_edits.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <fmt/format.h>

#include "core/datetime.h"
#include "core/files.h"
#include "core/sync_folder.h"
#include "core/house_format.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/songs.h"
#include "editor/pointer_editor.h"
#include "editor/rounding.h"
#include "editor/smooth_join.h"

namespace sono::editor {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSmoothSection = "Edition";
constexpr const char* kSmoothKey = "JonctionsDouces";
constexpr const char* kStars = "****************************************";
// The sound is in place but the database refused its pointers and durations:
// the journal beside the sound stores them at the next load.
constexpr const char* kPointersPending =
    "Le son a été modifié, mais ses pointeurs et ses durées n'ont pas pu être enregistrés (voir le journal) : "
    "ils le seront au prochain chargement du son.";

const char* ModeName(CopyCutPasteMode mode) {
  switch (mode) {
    case CopyCutPasteMode::Copy: return "Copy ";
    case CopyCutPasteMode::Cut: return "Cut ";
    case CopyCutPasteMode::Paste: return "Paste ";
    case CopyCutPasteMode::PasteAtBegin: return "Paste at begin ";
    case CopyCutPasteMode::PasteAtEnd: return "Paste at end ";
  }
  return "";
}

// The time slots: the ones that follow the frames (pitch and level do not).
bool IsTimeSlot(int slot) { return slot != data::kPitch && slot != data::kLevel; }


// `from` kept under the name `to` too: a hard link (the same bytes, nothing
// copied), or a flushed copy where the file system refuses links.
bool KeepAs(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  return File_Copy(from, to);
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

DiskStamp StampOf(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// The busy flag of one command and its log frame.
struct SoundEdits::Start {
  Start(SoundEdits& e, const std::string& what, const std::string& caller) : edits(e) {
    if (edits.busy_) {
      edits.lastMessage = "Une édition du son est déjà en cours.";
      return;
    }
    edits.busy_ = true;
    owns = true;
    edits.lastMessage.clear();
    edits.joinsMade = edits.joinsSmoothed = 0;
    edits.TraceLogPointeurs(kStars);
    edits.TraceLogPointeurs("MnuCopyCutPaste: Start: " + what + "PbBInModeMnuCopyCutPaste = True |Sub: " + caller);
    edits.TraceLogPointeurs("MnuCopyCutPaste: Song: " + Trim(edits.editor_.sound.code));
  }
  ~Start() {
    if (!owns) return;
    edits.busy_ = false;
    edits.TraceLogPointeurs("MnuCopyCutPaste: End: PbBInModeMnuCopyCutPaste = False");
    edits.TraceLogPointeurs(kStars);
    edits.FlushLogEditeur();
  }
  SoundEdits& edits;
  bool owns = false;
};

SoundEdits::SoundEdits(PointerEditor& editor, data::Library& lib, data::DurationStatistics& stats)
    : editor_(editor), lib_(lib), stats_(stats),
      extractFile_(TemporaryFolder() + "sonoteka-extrait-" + std::to_string(::getpid()) + kHouseExtension) {
  editor_.onSoundSelected = [this] { soundSelected(); };
}

SoundEdits::~SoundEdits() {
  editor_.onSoundSelected = nullptr;
  File_Delete(extractFile_);
}

bool SoundEdits::LoadSmoothJoins(const std::string& settingsFile) {
  return !settingsFile.empty() && LectureIni(settingsFile, kSmoothSection, kSmoothKey, "0") == "1";
}

bool SoundEdits::SetSmoothJoins(const std::string& settingsFile, bool on) {
  smoothJoins = on;
  if (!settingsFile.empty() && EcritureIni(settingsFile, kSmoothSection, kSmoothKey, on ? "1" : "0")) return true;
  lastMessage = "Réglage non enregistré: " + settingsFile;
  lib_.log().TraceLog("Err: Smooth joins setting not saved |File: " + settingsFile);
  return false;
}

std::string SoundEdits::UndoMenuText() const { return "Undo: " + std::to_string(editor_.undoLevels); }

std::string SoundEdits::JournalFileName(const std::string& soundFile) {
  const fs::path p(soundFile);
  return (p.parent_path() / (p.stem().string() + ".Edit")).string();
}

void SoundEdits::TraceLogPointeurs(const std::string& text) {
  editorLog_.push_back(Date2StringEx(lib_.clock().now(), "yyyy/MM/dd hh:mm:ss") + " " + text);
}

void SoundEdits::FlushLogEditeur() {
  for (const std::string& line : editorLog_) lib_.log().TraceLog(line);
  editorLog_.clear();
}

void SoundEdits::fail(const std::string& message) {
  lastMessage = message;
  editor_.lastMessage = message;
  TraceLogPointeurs("Err: " + message);
  lib_.prompt().message(message, Icon::Exclamation, Buttons::Ok);
}

int SoundEdits::frameCount() const {
  return static_cast<int>(HouseFrameCount(editor_.sound.soundFile));
}

PointerSnapshot SoundEdits::currentPointers() const {
  PointerSnapshot s;
  s.position = editor_.ptx.position;
  s.second = editor_.ptx.second;
  s.sendDevice = editor_.ptx.grid.sendDevice;
  return s;
}

void SoundEdits::progress(long long done, long long total) {
  const std::string label = std::to_string(total > 0 ? RoundEven(100.0 * static_cast<double>(done) / static_cast<double>(total)) : 100) + " %";
  if (label == progressLabel) return;
  progressLabel = label;
  if (onProgress) onProgress();
}

// ------------------------------------------------------------ loading

void SoundEdits::WorkingFileChanged() {
  undoPointers_.clear();
  editor_.undoLevels = 0;
  editor_.undoEnabled = false;
  loaded_ = StampOf(editor_.sound.soundFile);
}

void SoundEdits::soundSelected() {
  undoPointers_.clear();
  finishInterruptedEdit();
  loaded_ = StampOf(editor_.sound.soundFile);
}

// The journal of an edit a crash interrupted: "inode N", "length MS",
// "endtype E", "device D" and one "slot S POS SEC" line per slot.
void SoundEdits::finishInterruptedEdit() {
  const std::string& sound = editor_.sound.soundFile;
  if (sound.empty()) return;
  const std::string journal = JournalFileName(sound);
  const auto text = ReadWholeFile(journal);
  if (!text) return;
  std::istringstream in(*text);
  uint64_t inode = 0;
  long long length = 0;
  int endType = 0, slots = 0;
  PointerSnapshot target;
  for (std::string word; in >> word;) {
    if (word == "inode") in >> inode;
    else if (word == "length") in >> length;
    else if (word == "endtype") in >> endType;
    else if (word == "device") in >> target.sendDevice;
    else if (word == "slot") {
      int s = -1;
      in >> s;
      if (s >= 0 && s < data::kSlots && in >> target.position[static_cast<size_t>(s)] >> target.second[static_cast<size_t>(s)])
        ++slots;
    }
  }
  const std::string code = Trim(editor_.sound.code);
  if (inode == 0 || slots != data::kSlots || StampOf(sound).inode != inode || HouseFrameCount(sound) * kHouseFrameMs != length) {
    // The edit stopped before its sound was in place: the sound, its
    // pointers and its durations are the ones before it.
    lib_.log().TraceLog("SoundEdit: Interrupted edit dropped |Code: " + code + " |Journal: " + journal);
    File_Delete(journal);
    return;
  }
  data::PointerSet set(lib_);
  set.Load(editor_.sound.station, editor_.sound.code, length, true);
  set.endType = endType;
  set.onDurationsStored = [this](const std::string& c, std::optional<long long> playMs, long long introMs, char end) {
    bool failed = false;
    data::SoundUpdateDuration(lib_, stats_, c, playMs, introMs, end, &failed);
    return !failed;
  };
  set.position = target.position;
  set.second = target.second;
  for (int s = 0; s < data::kSlots; ++s)
    set.PointeurMemoriseDansTableur(s, target.position[static_cast<size_t>(s)], target.second[static_cast<size_t>(s)],
                                    false, s == data::kSend ? target.sendDevice : data::kSendDeviceKept);
  if (set.PointeurMemoriseDataBase(editor_.sound.code, sound, data::kAllSlots, false, true)) {
    lib_.log().TraceLog("SoundEdit: Interrupted edit finished: pointers and durations stored |Code: " + code);
    File_Delete(journal);
  } else {
    lib_.log().TraceLog("Err: SoundEdit: Interrupted edit not finished |Code: " + code);
  }
}

bool SoundEdits::changedOnDiskConfirmed() {
  const std::string& sound = editor_.sound.soundFile;
  if (StampOf(sound) == loaded_) return true;
  TraceLogPointeurs("SoundEdit: Sound changed on disk since it was loaded |File: " + sound);
  const std::string question = "Le son '" + sound +
                               "' a été modifié sur le disque depuis son chargement (par un autre poste ?).\n"
                               "Voulez-vous le modifier quand même ?";
  if (lib_.prompt().message(question, Icon::Question, Buttons::YesNo) == Answer::Yes) return true;
  lastMessage = "Edition annulée: le son a été modifié sur le disque.";
  editor_.lastMessage = lastMessage;
  TraceLogPointeurs("SoundEdit: Cancelled: sound changed on disk");
  return false;
}

// ------------------------------------------------------------ commands

bool SoundEdits::MnuCopyCutPaste(CopyCutPasteMode mode, const std::string& caller) {
  Start start(*this, ModeName(mode), caller);
  if (!start.owns) return false;
  const std::string& sound = editor_.sound.soundFile;
  if (Trim(editor_.sound.code).empty() || sound.empty()) {
    fail("Aucun son chargé.");
    return false;
  }
  if (!File_Exist(sound)) {
    fail(mode == CopyCutPasteMode::Copy ? "Fichier source non trouvé." : "Fichier '" + sound + "' non trouvé.");
    return false;
  }
  if (frameCount() <= 0) {
    fail("Le son '" + sound + "' n'est pas au format maison (trames entières de 768 octets).");
    return false;
  }
  switch (mode) {
    case CopyCutPasteMode::Copy: {
      FrameSpan span;
      return copySelection(span);
    }
    case CopyCutPasteMode::Cut: {
      if (!changedOnDiskConfirmed()) return false;
      if (editor_.ptx.pointersChanged &&
          lib_.prompt().message("Voulez-vous enregistrer les changements sur les pointeurs avant de les décaler suite "
                                "à la coupe ?",
                                Icon::Question, Buttons::YesNo) == Answer::Yes &&
          !editor_.StorePointers()) {
        fail(editor_.lastMessage);
        return false;
      }
      FrameSpan span;
      if (!copySelection(span)) return false;
      return PtxSoundCut({span}, caller);
    }
    case CopyCutPasteMode::Paste:
    case CopyCutPasteMode::PasteAtBegin:
    case CopyCutPasteMode::PasteAtEnd: {
      if (extractFrames_ <= 0 || HouseFrameCount(extractFile_) != extractFrames_) {
        fail("Fichier '" + extractFile_ + "' non trouvé.");
        return false;
      }
      if (!changedOnDiskConfirmed()) return false;
      const long long count = frameCount();
      const long long before = mode == CopyCutPasteMode::PasteAtBegin ? 0
                               : mode == CopyCutPasteMode::PasteAtEnd
                                   ? count
                                   : std::clamp(RoundEven(static_cast<double>(editor_.playPosition) / kHouseFrameMs),
                                                0LL, count);
      return SoundPaste(before, caller);
    }
  }
  return false;
}

bool SoundEdits::copySelection(FrameSpan& span) {
  const StripSelection& sel = editor_.sound.selection;
  span = sel.marked ? SelectionFrames(sel.startMs, sel.endMs, frameCount()) : FrameSpan{};
  if (span.empty()) {
    fail("Vous devez sélectionner une portion de son.");
    return false;
  }
  TraceLogPointeurs("MnuCopyCutPaste: Copy: SoundFile: " + editor_.sound.soundFile +
                    " |TimingStartSelection: " + std::to_string(sel.startMs) +
                    " |TimingEndSelection: " + std::to_string(sel.endMs));
  // The extract is replaced whole or not at all.
  const std::string part = extractFile_ + ".part" + std::to_string(::getpid());
  std::string error = WriteFramePieces(part, {{editor_.sound.soundFile, span}});
  if (error.empty() && !File_Rename(part, extractFile_)) {
    File_Delete(part);
    error = "Impossible d'écrire le fichier: " + extractFile_;
  }
  if (!error.empty()) {
    fail(error);
    return false;
  }
  extractFrames_ = span.count();
  TraceLogPointeurs(fmt::format("MnuCopyCutPaste: Copy: Frames {} to {} ({})", span.first, span.last, span.count()));
  return true;
}

bool SoundEdits::PtxSoundCut(const std::vector<FrameSpan>& cuts, const std::string& caller) {
  TraceLogPointeurs("---> Cut: Start");
  const std::string& sound = editor_.sound.soundFile;
  const long long count = frameCount();
  for (const FrameSpan& c : cuts)
    TraceLogPointeurs(fmt::format("---> Cut: Frames {} to {} |Ms {} to {}", c.first, c.last, c.startMs(), c.endMs()));
  const std::vector<FramePiece> kept = KeptPieces(sound, count, cuts);
  if (kept.empty()) {
    fail("Impossible de couper tout le son: il faut garder au moins une trame.");
    return false;
  }
  const std::string result = sound + ".part" + std::to_string(::getpid());
  if (const std::string error = WriteFramePieces(result, kept, [this](long long d, long long t) { progress(d, t); });
      !error.empty()) {
    fail(error);
    return false;
  }
  if (!smoothJoinsOf(result, kept)) return false;
  // Later cuts first: each is counted in the sound's times before any cut.
  std::vector<FrameSpan> ordered = cuts;
  std::sort(ordered.begin(), ordered.end(), [](const FrameSpan& a, const FrameSpan& b) { return a.first > b.first; });
  const bool done = replaceSound(result, [ordered](long long ms) {
    for (const FrameSpan& c : ordered) ms = TimeAfterCut(ms, c);
    return ms;
  }, caller);
  TraceLogPointeurs("---> Cut: End");
  return done;
}

bool SoundEdits::SoundPaste(long long framesBefore, const std::string& caller) {
  const std::string& sound = editor_.sound.soundFile;
  const long long count = frameCount();
  const std::string result = sound + ".part" + std::to_string(::getpid());
  TraceLogPointeurs("SoundPaste: Start: |Sub: " + caller);
  TraceLogPointeurs("SoundPaste: NomFicSon: " + sound + " |NomFicSonExtrait: " + extractFile_ + " |NomFicTmp: " +
                    result + " |NomFicBkp: " + PointerEditor::UndoFileName(sound, editor_.undoLevels + 1));
  TraceLogPointeurs(fmt::format("SoundPaste: NbEchantillon: {} |NbEchantillonExtrait: {} |NoEchantillonInsert: {}",
                                count, extractFrames_, framesBefore + 1));
  std::vector<FramePiece> pieces;
  if (framesBefore > 0) pieces.push_back({sound, {1, framesBefore}});
  pieces.push_back({extractFile_, {1, extractFrames_}});
  if (framesBefore < count) pieces.push_back({sound, {framesBefore + 1, count}});
  if (const std::string error = WriteFramePieces(result, pieces, [this](long long d, long long t) { progress(d, t); });
      !error.empty()) {
    fail(error);
    return false;
  }
  if (!smoothJoinsOf(result, pieces)) return false;
  const long long atMs = framesBefore * kHouseFrameMs, lengthMs = extractFrames_ * kHouseFrameMs;
  const bool done = replaceSound(result, [=](long long ms) { return TimeAfterInsert(ms, atMs, lengthMs); }, caller);
  TraceLogPointeurs("SoundPaste: End: ");
  return done;
}

bool SoundEdits::smoothJoinsOf(const std::string& result, const std::vector<FramePiece>& pieces) {
  if (!smoothJoins) return true;
  const SmoothJoinsResult r = SmoothJoins(result, pieces);
  joinsMade = r.joins;
  joinsSmoothed = r.smoothed;
  std::string frames;
  for (const FrameSpan& w : r.windows) frames += fmt::format(" {}-{}", w.first, w.last);
  TraceLogPointeurs(fmt::format("SoundEdit: Smooth joins: {} of {} |Frames encoded again:{}", r.smoothed, r.joins,
                                frames.empty() ? " none" : frames));
  for (const std::string& why : r.leftHard) TraceLogPointeurs("Err: SoundEdit: Join left hard |At " + why);
  if (r.error.empty()) return true;
  File_Delete(result);
  fail(r.error);
  return false;
}

long long SoundEdits::loadedFrames() {
  const long long count = frameCount();
  if (Trim(editor_.sound.code).empty() || count <= 0) {
    fail("Fichier '" + editor_.sound.soundFile + "' non trouvé.");
    return -1;
  }
  return count;
}

bool SoundEdits::SoundTrim(const std::string& caller) {
  Start start(*this, "Trim ", caller);
  if (!start.owns) return false;
  const long long count = loadedFrames();
  if (count <= 0) return false;
  const StripSelection& sel = editor_.sound.selection;
  const FrameSpan keep = sel.marked ? SelectionFrames(sel.startMs, sel.endMs, count) : FrameSpan{};
  if (keep.empty()) {
    fail("Vous devez sélectionner une portion de son.");
    return false;
  }
  std::vector<FrameSpan> cuts;
  if (keep.first > 1) cuts.push_back({1, keep.first - 1});
  if (keep.last < count) cuts.push_back({keep.last + 1, count});
  if (cuts.empty()) {
    lastMessage = "Rien à couper.";
    lib_.prompt().message(lastMessage, Icon::Information, Buttons::Ok);
    return false;
  }
  std::string question = "Voulez-vous couper le fichier";
  for (size_t i = 0; i < cuts.size(); ++i)
    question += std::string(i == 0 ? " de " : " et de ") + Trim(Tps2MinSecCen(static_cast<double>(cuts[i].startMs()))) +
                " à " + Trim(Tps2MinSecCen(static_cast<double>(cuts[i].endMs())));
  question += " ?";
  TraceLogPointeurs("SoundTrim: " + question);
  if (confirm && lib_.prompt().message(question, Icon::Question, Buttons::YesNo) != Answer::Yes) return false;
  if (!changedOnDiskConfirmed()) return false;
  if (!PtxSoundCut(cuts, caller)) return false;
  TraceLogPointeurs("SoundChanged change to: True");
  return true;
}

bool SoundEdits::CutRanges(const std::vector<std::pair<long long, long long>>& rangesMs, const std::string& caller) {
  Start start(*this, "Cuts ", caller);
  if (!start.owns) return false;
  const long long count = loadedFrames();
  if (count <= 0) return false;
  std::vector<FrameSpan> cuts;
  for (const auto& [from, to] : rangesMs) {
    const FrameSpan span = SelectionFrames(from, to, count);
    if (!span.empty()) cuts.push_back(span);
  }
  if (cuts.empty()) {
    fail("Vous devez sélectionner une portion de son.");
    return false;
  }
  if (!changedOnDiskConfirmed()) return false;
  TraceLogPointeurs("Cuts");
  if (!PtxSoundCut(cuts, caller)) return false;
  TraceLogPointeurs("SoundChanged change to: True");
  return true;
}

bool SoundEdits::Undo(const std::string& caller) {
  Start start(*this, "Undo ", caller);
  if (!start.owns) return false;
  const int level = editor_.undoLevels;
  if (level <= 0 || undoPointers_.size() < static_cast<size_t>(level)) {
    lastMessage = "Aucun Undo à faire.";
    lib_.prompt().message(lastMessage, Icon::Information, Buttons::Ok);
    return false;
  }
  const std::string& sound = editor_.sound.soundFile;
  const std::string undoFile = PointerEditor::UndoFileName(sound, level);
  if (!File_Exist(undoFile)) {
    fail("Impossible de trouver le fichier de Undo '" + undoFile);
    return false;
  }
  if (!changedOnDiskConfirmed()) return false;
  TraceLogPointeurs("Undo: Level: " + std::to_string(level) + " |File: " + undoFile);
  const PointerSnapshot target = undoPointers_[static_cast<size_t>(level - 1)];
  const long long length = HouseFrameCount(undoFile) * kHouseFrameMs;
  // The journal first: a kill after the rename still gets these pointers.
  std::string journal = fmt::format("inode {}\nlength {}\nendtype {}\ndevice {}\n", StampOf(undoFile).inode, length,
                                    editor_.ptx.endType, target.sendDevice);
  for (int s = 0; s < data::kSlots; ++s)
    journal += fmt::format("slot {} {} {}\n", s, target.position[static_cast<size_t>(s)], target.second[static_cast<size_t>(s)]);
  std::string error;
  if (!WriteFileAtomic(JournalFileName(sound), journal, &error)) {
    fail("Impossible d'écrire le fichier: " + JournalFileName(sound) + " (" + error + ")");
    return false;
  }
  if (!File_Rename(undoFile, sound)) {
    File_Delete(JournalFileName(sound));
    fail("Impossible de renommer le fichier " + undoFile + " en " + sound);
    return false;
  }
  SyncFolder(ParentFolder(sound));
  editor_.undoLevels = level - 1;
  editor_.undoEnabled = editor_.undoLevels > 0;
  undoPointers_.resize(static_cast<size_t>(level - 1));
  const bool stored = applyPointers(target, length);
  if (stored) File_Delete(JournalFileName(sound));
  editor_.SoundEdited(true);
  reload(caller);
  if (!stored) fail(kPointersPending);
  return stored;
}

bool SoundEdits::SoundDelete(const std::string& caller) {
  Start start(*this, "Delete ", caller);
  if (!start.owns) return false;
  const std::string sound = editor_.sound.soundFile;
  if (Trim(editor_.sound.code).empty() || !File_Exist(sound)) {
    fail("Fichier '" + sound + "' non trouvé.");
    return false;
  }
  if (confirm && lib_.prompt().message("Voulez-vous supprimer le son ?", Icon::Question, Buttons::YesNo) != Answer::Yes)
    return false;
  if (!changedOnDiskConfirmed()) return false;
  TraceLogPointeurs("SoundDelete: Start");
  TraceLogPointeurs("SoundDelete: SongId: " + Trim(editor_.sound.code));
  TraceLogPointeurs("SoundDelete: AttenteFinMAJBase: Start");
  while (editor_.saving) lib_.events().processEvents();
  TraceLogPointeurs("SoundDelete: AttenteFinMAJBase: End");
  // The sound goes to the next undo level (renamed: nothing copied, nothing lost).
  const PointerSnapshot before = storedPointers();
  const std::string undoFile = PointerEditor::UndoFileName(sound, editor_.undoLevels + 1);
  File_Delete(undoFile);  // a level left by a killed session, not one of ours
  if (!File_Rename(sound, undoFile)) {
    fail("Fichier son non détruit:" + sound);
    return false;
  }
  SyncFolder(ParentFolder(sound));
  undoPointers_.push_back(before);
  editor_.undoLevels += 1;
  editor_.undoEnabled = true;
  const std::string gpx = fs::path(sound).replace_extension(".gpx").string();
  if (!File_Delete(gpx)) TraceLogPointeurs("Fichier son non détruit:" + gpx);
  TraceLogPointeurs("SoundDelete: PointeurMemoriseDataBase: Start");
  PointerSnapshot reset;
  reset.position[data::kPitch] = data::kPitchNeutral;
  const bool stored = applyPointers(reset, 0);
  TraceLogPointeurs("SoundDelete: PointeurMemoriseDataBase: End");
  editor_.SoundEdited(true);
  TraceLogPointeurs("SoundChanged change to: True");
  reload(caller);
  TraceLogPointeurs("SoundDelete: End");
  if (!stored) fail("Les pointeurs du son supprimé n'ont pas été remis à zéro (voir le journal).");
  return stored;
}

// ------------------------------------------------------------ replacing the sound

bool SoundEdits::replaceSound(const std::string& result, const std::function<long long(long long)>& move,
                              const std::string& caller) {
  const std::string sound = editor_.sound.soundFile;
  // The undo level gives back the records as they are stored (the load's
  // rules would make other records of the values it shows).
  const PointerSnapshot stored = storedPointers();
  const PointerSnapshot before = currentPointers();
  PointerSnapshot after = before;
  for (int s = 0; s < data::kSlots; ++s) {
    const auto i = static_cast<size_t>(s);
    if (!IsTimeSlot(s) || (before.position[i] == 0 && before.second[i] == 0)) continue;  // unset stays unset
    after.position[i] = move(before.position[i]);
    after.second[i] = std::max(0LL, move(before.position[i] + before.second[i]) - after.position[i]);
  }
  const long long length = HouseFrameCount(result) * kHouseFrameMs;
  // The moved pointers meet the load's rules against the new length (a
  // fade-out moved into the last 96 ms is pulled back before them): what is
  // stored for the playout is what the editor shows after its reload.
  data::PtxChargerPointeurVerifierCoherence(
      lib_.log(), editor_.sound.code, length, after.position[data::kFadeIn], after.second[data::kFadeIn],
      after.position[data::kStartNext], after.position[data::kFadeOut], after.second[data::kFadeOut]);
  std::string journal = fmt::format("inode {}\nlength {}\nendtype {}\ndevice {}\n", StampOf(result).inode, length,
                                    editor_.ptx.endType, after.sendDevice);
  for (int s = 0; s < data::kSlots; ++s)
    journal += fmt::format("slot {} {} {}\n", s, after.position[static_cast<size_t>(s)], after.second[static_cast<size_t>(s)]);
  std::string error;
  if (!WriteFileAtomic(JournalFileName(sound), journal, &error)) {
    File_Delete(result);
    fail("Impossible d'écrire le fichier: " + JournalFileName(sound) + " (" + error + ")");
    return false;
  }
  if (!SoundRename(result, sound)) {
    File_Delete(result);
    File_Delete(JournalFileName(sound));
    return false;
  }
  undoPointers_.push_back(stored);
  const bool done = applyPointers(after, length);
  if (done) File_Delete(JournalFileName(sound));
  editor_.SoundEdited(true);
  reload(caller);
  if (!done) fail(kPointersPending);
  return done;
}

bool SoundEdits::SoundUndo(const std::string& soundFile) {
  const int level = editor_.undoLevels + 1;
  const std::string undoFile = PointerEditor::UndoFileName(soundFile, level);
  if (File_Exist(undoFile)) {
    // Not one of this session's levels (those are counted): one a killed
    // session left behind, replaced.
    TraceLogPointeurs("Le fichier Undo '" + undoFile + "' existe déjà.");
    if (!File_Delete(undoFile)) {
      fail("Impossible de supprimer le fichier de Undo '" + undoFile + "'.");
      return false;
    }
  }
  if (!KeepAs(soundFile, undoFile)) {
    fail("Impossible de créer le fichier de Undo '" + undoFile + "'.");
    return false;
  }
  editor_.undoLevels = level;
  editor_.undoEnabled = true;
  TraceLogPointeurs("SoundUndo: Level: " + std::to_string(level) + " |File: " + undoFile);
  return true;
}

bool SoundEdits::SoundRename(const std::string& source, const std::string& target) {
  if (!SoundUndo(target)) return false;
  if (!File_Rename(source, target)) {
    // The level just kept is the sound itself: dropped again.
    File_Delete(PointerEditor::UndoFileName(target, editor_.undoLevels));
    editor_.undoLevels -= 1;
    editor_.undoEnabled = editor_.undoLevels > 0;
    fail("Impossible de renommer le fichier " + source + " en " + target);
    return false;
  }
  SyncFolder(ParentFolder(target));
  if (!File_Exist(target)) {
    fail("Fichier cible non trouvé");
    return false;
  }
  return true;
}

bool SoundEdits::applyPointers(const PointerSnapshot& target, long long lengthMs) {
  data::PointerSet& ptx = editor_.ptx;
  ptx.soundDuration = lengthMs;
  ptx.lengthMeasured = lengthMs > 0;
  // A damaged sound never changes the song's duration (see ptx.h).
  ptx.keepDuration = editor_.sound.damagedFrames > 0;
  // The whole set first, so that the value rules compare each slot with the new others.
  ptx.position = target.position;
  ptx.second = target.second;
  for (int s = 0; s < data::kSlots; ++s) {
    const auto i = static_cast<size_t>(s);
    ptx.PointeurMemoriseDansTableur(s, target.position[i], target.second[i], false,
                                    s == data::kSend ? target.sendDevice : data::kSendDeviceKept);
  }
  // Every slot is stored: the record of a slot the load filled in (a fade-out
  // 96 ms before the end) must not be computed again against another length.
  if (!ptx.PointeurMemoriseDataBase(editor_.sound.code, editor_.sound.soundFile, data::kAllSlots, true, true)) {
    TraceLogPointeurs("Err: SoundEdit: pointers and durations not stored |Code: " + Trim(editor_.sound.code));
    return false;
  }
  return true;
}

PointerSnapshot SoundEdits::storedPointers() {
  PointerSnapshot s;
  const int station = editor_.sound.station;
  const std::string& code = editor_.sound.code;
  for (int slot = 0; slot < data::kSlots; ++slot) {
    const auto i = static_cast<size_t>(slot);
    if (slot == data::kPitch) {
      s.position[i] = data::kPitchNeutral;
      data::PtxChargerPointeurPitch(lib_, station, code, s.position[i]);
    } else if (slot == data::kLevel) {
      float level = 0;
      data::PtxChargerPointeurLevel(lib_, station, code, level);
      s.position[i] = std::llround(level * 100.0f);
    } else if (slot == data::kSend) {
      data::PtxChargerPointeurSend(lib_, station, code, s.sendDevice, s.position[i]);
    } else {
      data::PtxChargerPointeur(lib_, station, code, data::SlotDescription(slot).type, s.position[i], s.second[i]);
    }
  }
  return s;
}

void SoundEdits::reload(const std::string& caller) {
  SongSelection song{editor_.sound.code, editor_.sound.station, editor_.sound.duration, editor_.sound.soundFile, {}, {}};
  editor_.InitSoundPtx(SoundLoad::Refresh, true, caller, song);
  loaded_ = StampOf(editor_.sound.soundFile);
  progressLabel.clear();
  if (onProgress) onProgress();
}

}  // namespace sono::editor
