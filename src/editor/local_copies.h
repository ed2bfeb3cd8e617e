// Local copies of sounds for a workstation on a slow link: the sound and its
// envelope copied from the server folder to the workstation's local folder
// (RecopieSonEnLocal), edited there, and copied back (RecopieSonSurServeur);
// the local part of the row selection (SelectionLigne) with the comparison
// of the server and local files, the leaving of a sound that is local, the
// editor's copy menu (MnuPtxCopy) with its questions.
//
// Decisions:
//   - The local folder is [Comportement] "DossierSonLocal" (default: the
//     base's local folder + "Sons/"), the same folder the envelopes of a VPN
//     workstation are kept in; it is created when missing.
//   - The server and local files differ when their sizes differ or, with the
//     same size, their content hashes differ (a level change keeps the size).
//   - Every copy is a checked copy (checked_copy.h): a killed or broken copy
//     leaves both sides as they were. A copy that lasts shows its progress
//     (kCopyProgressAfterMs).
//   - A take record "<local sound>.take" beside the local copy keeps the
//     server file's size, time and hash at the copy, and the local copy's
//     size and time right after it (written once the copy has its name).
//     Giving back refuses to overwrite a server file that is not the one the
//     copy was taken from (size or time differ, or, both equal, its hash):
//     the comparison dialog is shown instead; "Recopier le son du serveur"
//     takes the server's version in place of the local one, "Prendre le son
//     local" copies the local one over the server's (the user chose it with
//     both dates and sizes before them); closing it copies nothing. Without
//     a take record a server file that exists counts as changed.
//   - The local copy is modified when its size or time differ from the take
//     record's (or there is none), or the editor wrote it.
//   - "PartirDuSonLocal" on: a song with a local copy opens the local copy
//     (the sound is then local); off: the server file opens and the local
//     copy stays where it is.
//   - The local part of the selection runs before the editor's question on
//     unsaved changes; a give-back that fails when the user leaves a sound
//     keeps the sound selected (its changes are only local).
//   - The change notification of the local sound is held back while it is
//     local (the notifier's `localCopySongCode`, heldSongCode here), by this
//     process's sender and, through the hold marker `onHeldChanged` keeps
//     (notify/held_songs.h), by the other processes of the workstation.
#pragma once
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ports.h"
#include "core/tracelog.h"
#include "editor/checked_copy.h"

namespace sono {
class SiteConfig;
}

namespace sono::editor {

class PointerEditor;
class SoundEdits;

// The step window's captions of the copies.
inline constexpr const char* kToLocalCaption = "Recopie du son en local";
inline constexpr const char* kToServerCaption = "Recopie du son sur le serveur";
inline constexpr const char* kFromServerCaption = "Recopie du son du serveur";
// A copy that has run this long (by the clock) shows its progress in the
// step window: "<caption>: NN %", each time the whole percent changes; a
// short one (a sound over a fast link) only shows its step.
inline constexpr int kCopyProgressAfterMs = 500;
std::string CopyProgressText(const std::string& caption, int percent);

// The behaviour options of section "Comportement", in the set-up window's order.
enum class LocalCopyOption : int { PartirDuSonLocal = 0, RecopierSurServeur, VerifierSonSurServeur, AccesVPN };
inline constexpr int kLocalCopyOptions = 4;

struct LocalCopyOptionText {
  LocalCopyOption option;
  const char* key;      // the INI key
  const char* caption;  // the check box's caption
};
const std::array<LocalCopyOptionText, kLocalCopyOptions>& LocalCopyOptionTexts();
std::optional<LocalCopyOption> LocalCopyOptionOfKey(const std::string& key);

struct LocalCopySettings {
  std::array<bool, kLocalCopyOptions> options{};
  std::string localFolder;  // with its trailing "/"
  bool on(LocalCopyOption o) const { return options[static_cast<size_t>(o)]; }
  void set(LocalCopyOption o, bool value) { options[static_cast<size_t>(o)] = value; }
};
inline constexpr const char* kBehaviourSection = "Comportement";
LocalCopySettings LoadLocalCopySettings(const SiteConfig& config);
// Writes one option ("1" or "0") at once; false when the file could not be written.
bool SaveLocalCopyOption(const SiteConfig& config, LocalCopyOption option, bool value);

// What a local copy was taken from.
struct TakeRecord {
  std::string serverFile;
  FileFacts server;  // size -1: no server file at the take
  FileFacts local;   // the copy right after the take (size and time)
};
std::string TakeRecordPath(const std::string& localFile);
std::optional<TakeRecord> ReadTakeRecord(const std::string& localFile);
bool WriteTakeRecord(const std::string& localFile, const TakeRecord& record);

// A task dialog: an instruction, its content and command buttons (id, caption).
struct TaskDialog {
  std::string instruction, content;
  std::vector<std::pair<int, std::string>> buttons;
};
inline constexpr int kTaskButtonFirst = 101;
inline constexpr int kTaskButtonSecond = 102;
inline constexpr const char* kReloadFromServer = "Recopier le son du serveur";
inline constexpr const char* kKeepLocal = "Prendre le son local";

// The editor's copy menu, numbered as its entries.
enum class CopyMenuEntry : int { CopyToLocal = 0, CopyToServerAndDelete = 1, TakeFromServer = 2, CopyToServerAndKeep = 3 };
struct CopyMenuText {
  CopyMenuEntry entry;
  const char* caption;
  const char* question;
};
const std::array<CopyMenuText, 4>& CopyMenuTexts();

// Both files as the comparison sees them.
struct ServerLocalComparison {
  FileFacts server, local;
  bool differ = false;
};

class LocalCopies {
 public:
  struct Ports {
    TraceLogger& log;
    Prompt& prompt;
    Clock& clock;
    PointerEditor& editor;
    SoundEdits* edits = nullptr;  // told when the working file changes
  };
  LocalCopies(Ports ports, LocalCopySettings settings);

  // --- the current sound's record
  std::string serverFile, workingFile, localFile, temporaryFile, backupFile, masterFile;
  bool SonRecopieEnLocal = false;
  std::string statusText;   // the editor's status bar: the working file
  std::string lastMessage;  // the last thing said to the user
  bool closing = false;     // the main window is closing: the menu does nothing

  LocalCopySettings settings;
  CopyOptions copyOptions;  // the copies' rate limit and progress (told after the display)
  // A long copy's progress, as the step window shows it: the text and its
  // percent; at the end the text with 100 (done) or "" and -1 (failed).
  std::function<void(const std::string& text, int percent)> onCopyProgress;
  // Shows a task dialog; the button's id, nothing when closed. Default: the
  // prompt's list choice.
  std::function<std::optional<int>(const TaskDialog&)> taskDialog;

  // The local copy's path of a sound: local folder + its base name + extension.
  std::string LocalPathOf(const std::string& soundFile) const;
  // The local candidate of a song: local folder + the 8-character code + ".s48".
  std::string LocalCandidate(const std::string& code) const;

  bool RecopieSonEnLocal();
  bool RecopieSonSurServeur(bool supprimerLeSonLocal, const std::string& caller);
  bool entryEnabled(CopyMenuEntry entry) const;
  // The entry after its Yes/No question; false when not done.
  bool MnuPtxCopy(CopyMenuEntry entry);

  // --- row selection
  // Another song is about to be selected: false keeps the current one.
  bool LeaveSound();
  // The local part of SelectionLigne for the song `code` whose server file is
  // `serverSoundFile`: returns the file the editor opens.
  std::string SelectionLigne(const std::string& code, const std::string& serverSoundFile);
  // The song's local copy (when there is one) becomes the working file, as
  // when it is opened from the local folder; false when there is none.
  bool UseLocalCopy();
  // The editor opened `openedFile` for the song whose server file is `serverSoundFile`.
  void Opened(const std::string& serverSoundFile, const std::string& openedFile);

  ServerLocalComparison Compare(const std::string& server, const std::string& local) const;
  TaskDialog ComparisonDialog(const ServerLocalComparison& c) const;
  bool LocalModified() const;
  // The song whose change notifications are held back, "" when none.
  std::string heldSongCode() const;
  // Told with heldSongCode() whenever the local state is set (the process's
  // hold marker, which the other senders of the workstation read).
  std::function<void(const std::string& code)> onHeldChanged;

 private:
  void setLocal(bool local, bool changed);
  void switchWorkingFile(const std::string& file);
  void computeNames();
  // The server file changed since the take (see the decisions).
  bool serverChangedSinceTake();
  bool takeLocal(const std::string& server, const std::string& local, const std::string& caller,
                 const char* caption = kToLocalCaption);
  // A checked copy with copyOptions, its progress shown when it is long.
  CopyResult copy(const std::string& from, const std::string& to, const char* caption);
  std::optional<int> ask(const TaskDialog& dialog);
  void reloadEditor(const std::string& caller);

  TraceLogger& log_;
  Prompt& prompt_;
  Clock& clock_;
  PointerEditor& editor_;
  SoundEdits* edits_;
};

}  // namespace sono::editor
