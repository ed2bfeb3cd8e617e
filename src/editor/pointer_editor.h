// The cue-point editor as a model: the current sound, its change flags, the
// pointer grid, loading a sound (InitSoundPtx, InitSoundFile, RAZSonCharge,
// RAZUndoFichierSonQZ) and every user action on the pointer strip, the grid,
// the pitch slider, the level, the end-type combo and the menus. The window
// turns its events into these calls and shows the state they leave.
#pragma once
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/ptx.h"
#include "data/stats.h"
#include "editor/canvas.h"
#include "editor/envelope.h"
#include "editor/waveform_view.h"

namespace sono::editor {

// What the audition side offers the editor (the desktop's `AuditionDeck`).
class Audition {
 public:
  virtual ~Audition() = default;
  // Plays [startMs, endMs) of the file; endMs 0 plays to the end.
  virtual void PlayRange(const std::string& soundFile, int startMs, int endMs) = 0;
  // Plays stretches of the loaded sound one after the other (a step, the
  // sound without its steps); false when nothing plays.
  virtual bool PlayRanges(const std::vector<std::pair<int, int>>& ranges) {
    (void)ranges;
    return false;
  }
  virtual void Stop() = 0;
};

// The selection on the pointer strip.
struct StripSelection {
  int startMs = 0, endMs = 0;
  float x1 = 0, x2 = 0;  // strip pixels
  bool marked = false;
  bool draggingEnd = true;  // the side a drag moves
  int selectedSlot = -1;    // the pointer slot last selected
  int singleMarkMs = 0;     // the Ctrl-click mark
};

// The pointer strip's context menu; the values are the menu's item numbers
// (items 2 and 5 are its separators).
enum class StripMenuEntry : int {
  FadeIn = 0, Intro = 1, StartNext = 3, FadeOut = 4, Hook = 6, Loop = 7, Send = 8, StartEqui = 9
};

// The working view's menu of marks.
enum class MarksMenuEntry { MarkSelection, ShowMarks };

// How InitSoundPtx takes a sound: a newly selected one (unsaved changes of
// the current one offered for storing first), or the current one read again.
enum class SoundLoad { NewSelection, Refresh };

// The two handles of the strip's selection.
enum class SelectionHandle { Start, End };

struct CurrentSound {
  std::string code;  // 8 characters, blank-padded; blank when none
  int station = 1;
  // duration: what the song record holds (its play duration, whole seconds);
  // checkedDuration: the sound's length as measured, 0 when it could not be.
  // A damaged sound's checkedDuration counts its damaged frames (they are in
  // the file and its envelope); damagedFrames says how many there are.
  int duration = 0, previousDuration = 0, checkedDuration = 0;
  long long damagedFrames = 0;
  std::string soundFile, envelopeFile;
  std::array<std::string, 4> temporaryFiles;
  StripSelection selection;
};

// What a song row hands to the editor.
struct SongSelection {
  std::string code;
  int station = 1;
  int durationMs = 0;  // as the database knows it
  std::string soundFile;
  // For the editor's caption: the title and the artists' names (UTF-8).
  std::string title;
  std::vector<std::pair<int, std::string>> artists;
};

struct ChangeFlags {
  bool soundUnsaved = false;  // an edit not yet saved
  bool soundWritten = false;  // an edit already written
};

class PointerEditor {
 public:
  struct Ports {
    data::Library& lib;
    data::DurationStatistics& stats;
    SoundDurationMeter& meter;
    EnvelopeReader& envelopes;
    WaveformView& view;
    Canvas& working;         // the working view's surface (pointer marks)
    Canvas& strip;           // the pointer strip: the envelope as stored
    Canvas& stripCorrected;  // the envelope with the level correction applied
    Audition* audition = nullptr;
  };
  explicit PointerEditor(Ports ports);
  // The audition the editor plays through (none in a test or on the command line).
  Audition* auditionOutput() const { return audition_; }

  // --- state the window shows
  data::PointerSet ptx;  // slots and the pointer grid
  CurrentSound sound;
  ChangeFlags flags;
  bool autoStore = false;          // automatic storing (Outils menu); starts as the base's [Ptx] Save
  bool saving = false;             // a store runs
  bool suppressEndTypeClick = false;
  bool option6Enabled = true;      // disabled for liner codes ("LIN")
  int playModeOption = -1;         // option 8 to 10 selected, -1 none
  bool editorPaneShown = true;     // the waveform editor pane
  std::array<int, 2> marks{};      // "marqueurs"
  std::string statusMarks, titleLabel, codeLabel, durationLabel, pitchLabel, labelMouse;
  std::string labelStart, labelEnd;  // the selection's times, empty when none
  std::string lastMessage;         // the last message shown to the user
  int playPosition = 0;
  int undoLevels = 0;
  bool undoEnabled = false;
  bool stripFocused = false;
  std::vector<uint8_t> envelope;   // 1..envelopeCount
  int envelopeCount = 0;
  std::array<std::array<int, 50>, 2> markerTables{};

  // Sent for a sound changed by an edit (UDPAddSonEtMAJTimingSurVersion).
  std::function<void(int base, const std::string& code, const std::string& caller)> onSoundChangedNotice;
  // Told after pointers were stored to the database (their change is announced too).
  std::function<void(const std::string& code, const std::string& caller)> onPointersStored;
  // Reports an edit made on the sound (sound edit operations).
  void SoundEdited(bool written);
  // Told when a newly selected sound becomes current, before its length,
  // pointers and durations are read (the sound edits finish an edit a crash
  // interrupted there).
  std::function<void()> onSoundSelected;

  // The sound's length as measured; without one, the record's duration
  // stands in for the scale of the views (and nothing derived from it is written).
  int soundLength() const { return lengthMeasured() ? sound.checkedDuration : sound.duration; }
  bool lengthMeasured() const { return sound.checkedDuration > 0; }
  // A song is loaded: the views, the grid and the buttons can act on it.
  bool songLoaded() const;

  // --- the grid
  void InitGeneralTableurPointeurs(bool wide, std::vector<std::string> devices);

  // --- loading
  // False when the user cancelled the save prompt of a new selection.
  bool InitSoundPtx(SoundLoad load, bool updateDuration, const std::string& caller, const SongSelection& song);
  void InitSoundFile();
  // Builds the sound's envelope again from the sound ("Reconstruire
  // l'enveloppe") and shows it; false, said, when the sound cannot be read.
  bool RebuildEnvelope();
  // Unsaved pointer or sound changes of the current sound are offered for
  // storing, the question naming what changed; Yes stores the pointers.
  // Cancel (when `buttons` offers it) leaves everything as it was. No when
  // nothing was unsaved. A Yes whose store failed is said (a critical box
  // and a log line naming the values not stored) and answers Cancel: the
  // edits stay, marked, and a song change is called off.
  Answer OfferToStoreChanges(const std::string& caller, Buttons buttons);
  // Removes the current sound's work files (at unload, and with the sound).
  void DeleteTemporaryFiles();
  void RAZSonCharge();
  void RAZUndoFichierSonQZ(const std::string& file);
  static std::string UndoFileName(const std::string& file, int level);
  // Title parts joined by kind: 0 " - ", 1 " & ", 2 " && ".
  void AfficherTitreSelectionneDansPointeur(const std::string& title,
                                            const std::vector<std::pair<int, std::string>>& artists,
                                            bool advert = false, const std::string& campaign = {},
                                            const std::string& rotation = {});

  // --- the pointer strip (x in strip pixels)
  void StripMouseDown(MouseButton button, int x, Modifiers modifiers);
  void StripMouseMove(bool leftDown, int x);
  void StripMouseUp();
  // The strip from the keyboard: the selection's point moves by `stepMs`
  // (its end when `extend`, the selection growing from its start), then it
  // is the strip's selection as after a click.
  void StripKeyMove(int stepMs, bool extend);
  void HandleMove(SelectionHandle handle, int centreX);
  void HandleRelease();
  // An entry of the strip's context menu. False when the value was refused.
  bool StripMenu(StripMenuEntry entry);
  // A click on the overview strip at `x` (pixels) moves the working view to
  // the time under the mouse.
  void OverviewStripClick(int x);
  // The play cursor dropped with its centre at `centreX` (strip pixels): the
  // play-from position.
  void PlayCursorDrop(int centreX);

  // --- the grid's events
  void GridClick(int column, int row);
  void GridRestore(int column);
  void GridClear(int column);
  bool SetSendDevice(int device);  // the device combo of the grid's send column
  static int SlotOfColumn(int column);
  void SelectionPointeur(int slot, bool select = true);

  // --- other controls and commands
  // User entries go through the value ranges (data::CheckPointerValue): false
  // when refused (an exclamation box and lastMessage say why, nothing changed).
  bool SetPitchSlider(int value);  // slider value: pitch / 1000
  bool SetPitch(double millionths);
  void ShowPitch();  // the pitch label and slider from the pitch slot
  bool SetLevel(double hundredthsDb);
  // The end-type combo's item, written to the song on every station at once
  // (logged under the combo's name, "Frm_Main:ComboTypeDeFin_Click").
  void SetEndType(int item);
  // The end-type code written to the song `code` on every station (one
  // transaction; records that hold it already are left alone); false, logged
  // under `caller`'s procedure name, when it could not be stored.
  bool WriteEndType(const std::string& code, char endType, const std::string& caller);
  void MarksMenu(MarksMenuEntry entry);
  void ToggleAutoStore() { autoStore = !autoStore; }
  bool StorePointers();  // "Enregistrer les pointeurs": the changed pointers, every station
  // The song's pointers were changed by another workstation: read again
  // when none waits here to be stored (true when read). Marked pointers are
  // kept; their store asks before writing over the other change (ptx.h).
  bool FollowStoredPointers();
  // RAZPtx: the audition stopped, every slot back to 0 (RAZValeursPtx) and
  // all ten stored on every station, forced, which removes the sound's
  // pointer records; the durations follow. False when the store failed
  // (lastMessage says so; the grid then keeps the zeros marked unsaved).
  bool RAZPtx();

  // --- drawing
  void DrawStrip();
  bool anyMarked() const;  // a slot carries its changed mark (pointers not stored)
  static Colour MarkColour(int slot);

 private:
  bool memoriseUserChange(int slot, double pos, double sec, int device = data::kSendDeviceKept);
  void readSongRecord(const std::string& code);
  void measureSound();
  void checkStoredDuration(bool updateDuration);
  std::string changedSlotsText() const;
  void showEnvelope();
  void mirrorCaptureZone();
  void drawWorkingMark(int type);
  void clearSelection();
  data::Library& lib_;
  data::DurationStatistics& stats_;
  SoundDurationMeter& meter_;
  EnvelopeReader& envelopes_;
  WaveformView& view_;
  Canvas& working_;
  Canvas& strip_;
  Canvas& stripCorrected_;
  Audition* audition_;
  bool noticeSent_ = false;
  Modifiers lastModifiers_;  // kept from the last press
};

}  // namespace sono::editor
