// The editor's edits of the sound itself (MnuCopyCutPaste, PtxSoundCut,
// SoundPaste, SoundTrim, SoundUndo / Undo, SoundRename, SoundDelete): whole
// house-format frames copied, never decoded, on the sound the pointer editor
// has loaded. After each edit the pointers follow the frames, and the
// pointers, the durations and the end type are written on every station in
// one transaction (SoundUpdateDuration), then the editor reloads the sound.
//
// Crash safety: an edit writes its complete result to "<sound>.part<pid>"
// beside the sound and flushes it; writes a journal "<base>.Edit" beside the
// sound (the result's file identity and the pointers it takes); keeps the
// sound as the next undo level ("<base>.NNN.s48", a hard link, or a flushed
// copy where links are refused); renames the result over the sound and
// flushes the folder; stores the pointers and durations; removes the journal.
// A kill leaves the sound old or new, every undo level whole, and a journal
// that the next load of the sound reads: when the sound is the journal's
// result its pointers and durations are stored then, otherwise it is dropped.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "data/ptx.h"
#include "editor/frame_edit.h"

namespace sono::data {
class Library;
class DurationStatistics;
}  // namespace sono::data

namespace sono::editor {

class PointerEditor;

// MnuCopyCutPaste's modes, as the menus number them.
enum class CopyCutPasteMode : int { Copy = 0, Cut = 1, Paste = 2, PasteAtBegin = 3, PasteAtEnd = 4 };

// Which file a sound is on disk: replaced or rewritten by anyone (another
// workstation), the stamp differs.
struct DiskStamp {
  uint64_t device = 0, inode = 0;
  int64_t size = -1, modifiedNs = 0;
  bool operator==(const DiskStamp&) const = default;
};
DiskStamp StampOf(const std::string& file);

// The ten pointer slots as an edit found them: an undo level gives them back.
struct PointerSnapshot {
  std::array<long long, data::kSlots> position{}, second{};
  int sendDevice = data::kNoSendDevice;
};

class SoundEdits {
 public:
  SoundEdits(PointerEditor& editor, data::Library& lib, data::DurationStatistics& stats);
  ~SoundEdits();  // the extract file goes with the editor
  SoundEdits(const SoundEdits&) = delete;
  SoundEdits& operator=(const SoundEdits&) = delete;

  // Copy, Cut, Paste (at the play position), Paste at the beginning, Paste
  // at the end. False when refused or failed (lastMessage says why; the
  // sound and its pointers are then as they were).
  bool MnuCopyCutPaste(CopyCutPasteMode mode, const std::string& caller);
  // Keeps only the selection, after the question naming what goes.
  bool SoundTrim(const std::string& caller);
  // Cuts several ranges (ms, [start, end]) out of the sound in one edit,
  // one undo level, without a question (the caller asked): the steps' cut.
  bool CutRanges(const std::vector<std::pair<long long, long long>>& rangesMs, const std::string& caller);
  // Goes back one level: the sound and its pointers as before the last edit.
  bool Undo(const std::string& caller);
  // Deletes the current sound (after "Voulez-vous supprimer le son ?") and
  // resets its pointers; the sound is kept as an undo level while it is loaded.
  bool SoundDelete(const std::string& caller);

  bool busy() const { return busy_; }           // PbBInModeMnuCopyCutPaste
  bool canPaste() const { return extractFrames_ > 0; }
  std::string UndoMenuText() const;             // "Undo: N"
  const std::string& extractFile() const { return extractFile_; }
  long long extractFrames() const { return extractFrames_; }
  // Trim and delete ask their question first (the command line, which names
  // them, asks only with --interactive).
  bool confirm = true;
  // Cut, paste and the steps' cut smooth the joins they make (smooth_join.h):
  // the desktop's checkable "Jonctions douces" entry, kept in the program's
  // settings file, section "Edition", key "JonctionsDouces" ("1"/"0", off
  // by default); `cut --smooth` and `paste … --smooth` on the command line.
  bool smoothJoins = false;
  int joinsMade = 0, joinsSmoothed = 0;  // by the last command, when smoothing
  static bool LoadSmoothJoins(const std::string& settingsFile);
  // Turns smoothing on or off and keeps it in the settings file; false (said
  // in lastMessage and the log) when the file cannot be written.
  bool SetSmoothJoins(const std::string& settingsFile, bool on);
  std::string progressLabel;                    // "0 %" … "100 %" while frames are copied
  std::string lastMessage;
  // Told when the progress label changes (the window shows it and runs its events).
  std::function<void()> onProgress;

  // The editor's own log list: a line stamped "yyyy/MM/dd hh:mm:ss", written
  // to the trace log by FlushLogEditeur (at the end of every edit).
  void TraceLogPointeurs(const std::string& text);
  void FlushLogEditeur();
  const std::vector<std::string>& editorLog() const { return editorLog_; }

  static std::string JournalFileName(const std::string& soundFile);

  // The editor's sound now lives in another file (a local copy taken or
  // given back): the levels of the old file are gone and the new file is
  // the one edits check for changes on disk.
  void WorkingFileChanged();

 private:
  struct Start;  // the busy flag and log frame of one command
  bool copySelection(FrameSpan& span);
  // The loaded sound's frames; -1, said, when no sound is loaded or found.
  long long loadedFrames();
  bool PtxSoundCut(const std::vector<FrameSpan>& cuts, const std::string& caller);
  bool SoundPaste(long long framesBefore, const std::string& caller);
  // With smoothJoins: the joins of `result` (written from `pieces`)
  // smoothed; false, said, and `result` removed when that fails.
  bool smoothJoinsOf(const std::string& result, const std::vector<FramePiece>& pieces);
  // Puts `result` in place of the sound; `move` says where each time goes.
  bool replaceSound(const std::string& result, const std::function<long long(long long)>& move,
                    const std::string& caller);
  bool SoundRename(const std::string& source, const std::string& target);
  bool SoundUndo(const std::string& soundFile);  // keeps it as the next level
  bool changedOnDiskConfirmed();
  bool applyPointers(const PointerSnapshot& target, long long lengthMs);
  void reload(const std::string& caller);
  void soundSelected();
  void finishInterruptedEdit();
  void fail(const std::string& message);
  PointerSnapshot currentPointers() const;
  PointerSnapshot storedPointers();  // the records of the sound's station
  void progress(long long done, long long total);
  int frameCount() const;

  PointerEditor& editor_;
  data::Library& lib_;
  data::DurationStatistics& stats_;
  bool busy_ = false;
  std::string extractFile_;
  long long extractFrames_ = 0;
  std::vector<PointerSnapshot> undoPointers_;  // [level − 1]: the pointers of undo level `level`
  DiskStamp loaded_;
  std::vector<std::string> editorLog_;
};

}  // namespace sono::editor
