// Cue points ("pointers") of a sound: the ten slots the editor holds, the
// 50-character Ptx records of FRAD031 that playout reads, loading with the
// coherence rules, and storing from the pointer grid, always as
// delete-then-insert per type and station.
//
// Decisions of this port:
//   - Ptx records are written clean: every field the record layout names is
//     set (blank where it carries nothing), so a record never inherits bytes
//     of the record read before it.
//   - On load, a pointer with no record is "unset" for the coherence rules:
//     a sound without records gets its fade-out 96 ms before its end and its
//     start-next there too (0 for "PRE" and "EXT" codes).
//   - The grid's display texts: times as minutes:seconds.milliseconds, the
//     pitch as pitch / 1000000 with three decimals ("1.020"), the level in dB
//     with two decimals ("-3.50 dB"); thousands grouped with ",".
//   - The song record's duration (466 + 104) holds the play duration, as the
//     suite's programs write it. It is computed from the sound's length as
//     measured from the sound file, never from the record's own duration: a
//     song whose sound is missing (not recorded yet, or its share out of
//     reach) keeps the duration it holds, and a store writes only its intro
//     and end type. Without a measured length the record's duration stands
//     in for the scale of the views, the value rules' 48 ms end margin is
//     not applied, and times are bounded by the longest duration a song
//     record holds (999,999 s) instead of the sound's end.
//   - A damaged sound (frames skipped by the scanner) never changes the
//     song's duration: its length for the views and rules counts the damaged
//     frames (they are still in the file, and in its envelope), but no play
//     duration is written from it until the sound is repaired. A play
//     duration far from the song's (DurationFar) is written only when the
//     user says so; a "No" keeps the song's for the rest of the edit.
//   - Value ranges, applied by every entry path before a value reaches the
//     grid (CheckPointerValue): times from 0 to the sound's end (position +
//     second value); the pitch within -20 % to +20 % (the slider's and the
//     audition's range); the level within -30 dB to +30 dB (at -30.3 dB the
//     envelope's level coefficient is already at its floor); the send device
//     0 to 99 (two digits in the record). A value outside is refused with a
//     French message and nothing changes.
//   - A store is one transaction over every station's FRAD031 and the song
//     records of the duration update: a failing call rolls it all back, so
//     every station keeps its old records (and durations) or gets the new
//     ones, all alike; the changed marks stay and the store reports false
//     (logged "Err: PointeurMemoriseDataBase: not stored |Code: … |Type: …
//     |Station: …", the station being "all" when the commit failed).
//   - A store of the user's changes over pointers another workstation
//     changed since they were read (the stored values of a changed slot
//     differ from those the grid read) asks the song form's question first,
//     "Le morceau … a été modifié sur un autre poste …": Yes writes the
//     user's values, No stores nothing (logged, the marks stay). Slots the
//     user left are not written, so the other workstation's values of those
//     stay as it stored them.
#pragma once
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/library.h"

namespace sono::data {

inline constexpr int kSlots = 10;
enum Slot { kFadeIn = 0, kFadeOut, kIntro, kStartNext, kLoop, kHook, kSend, kPitch, kLevel, kStartEqui };
inline constexpr int kPitchNeutral = 1000000;
inline constexpr int kDeltaFadeSecurite = 96;

// Value ranges (see above). Pitch in millionths, level in hundredths of a dB.
inline constexpr long long kPitchMin = 800000;
inline constexpr long long kPitchMax = 1200000;
inline constexpr long long kLevelLimit = 3000;
inline constexpr int kSendDeviceMax = 99;
inline constexpr int kNoSendDevice = -1;    // the send pointer names no device
inline constexpr int kSendDeviceKept = -2;  // a change that leaves the send device as it is
inline constexpr int kAllSlots = -1;        // PointeurMemoriseDataBase: every slot (any slot below 0)
inline constexpr long long kLongestSoundMs = 999'999'000;

// The length the rules measure times against: the sound's own when it was
// measured; otherwise `ms` is only the stand-in of the views.
struct SoundLength {
  long long ms = 0;
  bool measured = false;
  bool damaged = false;  // frames skipped as damaged: ms counts them, but no duration is written
};

// A play duration far from the one the song holds: the user is asked before
// it is written (more than 5 s and more than a tenth of the song's).
inline constexpr long long kFarDurationMs = 5000;
bool DurationFar(long long newMs, long long storedMs);

// "" when `position` and `second` (as typed: a huge or non-finite number is
// refused, never wrapped) may enter `slot`; otherwise the French message
// that refuses them.
std::string CheckPointerValue(int slot, double position, double second, SoundLength length);
// The same rule for any time typed for `what` (a label or an option's name).
std::string CheckTimeValue(const std::string& what, double ms, SoundLength length);
std::string CheckSendDevice(double device);

struct SlotInfo {
  const char* label;
  int firstColumn;   // grid column of the position
  int secondColumn;  // grid column of the second value, 0 when none
  char type;         // type code in FRAD031
};
const SlotInfo& SlotDescription(int slot);

// The 50-character record.
namespace ptx {
inline constexpr size_t kLength = 50;
struct Record {
  std::string code;
  char type = '0';
  int order = 1;
  long long position = 0;
  long long duration = 0;
  std::string complement;  // 2 characters or empty
  std::string actif;       // 1 character or empty
  std::string valeur;      // 10 characters or empty
};
std::string Encode(const Record& r);
Record Decode(const std::string& bytes);
// Key 0: code (8) + type + order (2).
std::string Key(const std::string& code, char type, const char* order);
}  // namespace ptx

// Record procedures (base: the library's current base).
bool PtxChargerPointeur(Library& lib, int station, const std::string& code, char type,
                        long long& position, long long& second);
int PtxSauvegarderPointeur(Library& lib, int station, const std::string& code, char type,
                           long long position, long long second, int device, long long extra,
                           bool flag);
// The writers return the record manager's status (0 when done; the end of
// the file ends a delete normally).
int PtxDetruirePointeur(Library& lib, int station, const std::string& code, int type);
int PtxSauvegarderPointeurPitch(Library& lib, int station, const std::string& code, long long pitch);
int PtxSauvegarderPointeurLevel(Library& lib, int station, const std::string& code, float level);
bool PtxChargerPointeurPitch(Library& lib, int station, const std::string& code, long long& pitch);
bool PtxChargerPointeurLevel(Library& lib, int station, const std::string& code, float& level);
bool PtxChargerPointeurSend(Library& lib, int station, const std::string& code, int& device,
                            long long& position);

void PtxChargerPointeurVerifierCoherence(TraceLogger& log, const std::string& code,
                                         long long soundDuration, long long& fadeIn,
                                         long long& fadeInDuration, long long& startNext,
                                         long long& fadeOut, long long& fadeOutDuration);
long long DeterminePlayDurationCheckPtx(long long soundDuration, long long startNext,
                                        long long fadeOut, long long fadeIn,
                                        long long fadeInDuration);
double EnergieCoefCorrectionLevel(double level);

// Everything MorceauChargerPointeur loads for one sound.
struct LoadedPointers {
  long long fadeIn = 0, fadeInDuration = 0, intro = 0, fadeOut = 0, fadeOutDuration = 0;
  long long startNext = 0, startEqui = 0, loop = 0, loopEnd = 0, hook = 0, hookEnd = 0;
  float level = 0;
  int sendDevice = kNoSendDevice;
  long long send = 0;
  long long pitch = kPitchNeutral;
  long long playEnd = 0;
};
LoadedPointers MorceauChargerPointeur(Library& lib, int station, const std::string& code,
                                      long long soundDuration);

// The pointer grid: row 0 the headers, rows 1 (display),
// 2 (raw value), 3 (changed mark "O"), 4 (raw values as last loaded or
// stored); columns 1 to 15; column 15 is the send device's combo.
inline constexpr int kGridColumns = 15;
// The grid's columns as kGridHeaders names them; a slot with a length has
// it in the column after its position.
enum GridColumn : int {
  kGridFadeIn = 1, kGridFadeInLength, kGridIntro, kGridStartNext, kGridFadeOut, kGridFadeOutLength,
  kGridHook, kGridHookLength, kGridLoop, kGridLoopLength, kGridLevel, kGridPitch, kGridStartEqui,
  kGridSend, kGridSendDevice
};
static_assert(kGridSendDevice == kGridColumns);
enum GridRow : int { kGridHeaderRow = 0, kGridShownRow, kGridRawRow, kGridChangedRow, kGridStoredRow };
inline constexpr std::array<const char*, kGridColumns + 1> kGridHeaders = {
    "",     "Fade In", "Fade In", "Intro", "Start Next", "Fade Out",   "Fade Out", "Hook",
    "Hook", "Loop",    "Loop",    "Level", "Pitch",      "Start Equi", "Send",     "Périphérique"};
// "###,###0.000" and "###,###,##0.00": fixed decimals, thousands grouped.
std::string FormatGrouped(double value, int decimals);

class PointerGrid {
 public:
  PointerGrid();
  // InitGeneralTableurPointeurs / InitGeneralTableurPointeursSheet: headers,
  // empty rows 1 to 4, column widths (7 characters, 18 for column 15 when
  // wide; 0 = the grid's default) and the device combo's items.
  void InitGeneralTableurPointeurs(bool wide, std::vector<std::string> devices);
  int columnWidth(int column) const { return widths_.at(static_cast<size_t>(column)); }
  std::vector<std::string> deviceItems;  // the combo of row 1, column 15
  const std::string& cell(int row, int column) const;
  void setCell(int row, int column, const std::string& text);
  long long raw(int column) const;  // row 2, lenient
  void setRaw(int column, long long value);  // row 2 and the display of row 1
  bool changed(int column) const { return cell(kGridChangedRow, column) == "O"; }
  void markChanged(int column, bool changed) { setCell(kGridChangedRow, column, changed ? "O" : ""); }
  int sendDevice = kNoSendDevice;  // the combo's selected item in column 15
  static std::string Display(int column, long long value);

 private:
  std::array<std::array<std::string, 16>, 5> cells_{};
  std::array<int, 16> widths_{};
};

// The end-type combo items and their codes.
inline constexpr std::array<const char*, 4> kEndTypeItems = {"Non définie", "Fade Out", "Annoncée",
                                                             "Brutale"};
char DetermineTypeDeFin(int selectedItem);

// The editor-side pointer state of the loaded sound (Lib_Pointeurs).
class PointerSet {
 public:
  explicit PointerSet(Library& lib) : lib_(lib) {}

  std::array<long long, kSlots> position{};
  std::array<long long, kSlots> second{};
  float level = 0;
  // The rules' length: measured from the sound, or the song record's duration
  // standing in for the scale when there is no sound to measure.
  long long soundDuration = 0;
  bool lengthMeasured = false;
  // The song's duration is not to be written for this sound: it is damaged,
  // or the user kept the song's duration when asked.
  bool keepDuration = false;
  SoundLength length() const { return {soundDuration, lengthMeasured, false}; }
  int endType = 0;        // selected item of the end-type combo
  int pitchSlider = 1000; // pitch / 1000
  PointerGrid grid;

  void RAZValeursPtx();
  // Fills the slots and the grid from the database (MorceauChargerPointeur).
  void Load(int station, const std::string& code, long long duration, bool measured);
  // The station and song Load read (none before): what a store compares
  // with the stored pointers.
  std::optional<int> loadedStation;
  std::string loadedCode;
  // Applies the value rules, then writes the slot to the grid and clears its mark.
  // fromStorage true: the values were just loaded or stored (row 4 takes
  // them, row 3 is emptied); false: a user change (row 3 "O", the
  // pointers-changed flag set). A device from kNoSendDevice up replaces the send device.
  void PointeurMemoriseDansTableur(int slot, long long pos, long long sec, bool fromStorage = true,
                                   int device = kSendDeviceKept);
  // A user's entry: checked against the ranges, then memorised as a user
  // change. "" when memorised (the grid shows what the rules made of it),
  // else the refusal, and nothing changed.
  std::string MemoriseUserValue(int slot, double pos, double sec, int device = kSendDeviceKept);
  bool pointersChanged = false;
  // Stores grid values into FRAD031 for every station (kAllSlots: all ten).
  // False when a station could not be written (reported by the layer and
  // logged; that slot keeps its changed mark).
  bool PointeurMemoriseDataBase(const std::string& code, const std::string& fileName, int slot,
                                bool refreshGrid, bool force);
  long long DeterminePlayDuration() const;
  // Slots of `slots` the user changed whose stored values are no longer
  // those the grid read (another workstation stored them meanwhile).
  bool ChangedElsewhere(const std::string& code, const std::vector<int>& slots);
  long long DetermineDureeIntro() const;
  // The play duration a store writes to the song: nothing without a
  // measured length, or when the duration is kept (the record keeps its own).
  std::optional<long long> PlayDurationToStore() const;

  // Writes the play duration (when there is one), intro duration and end
  // type, inside the store's transaction; false when they could not be written.
  std::function<bool(const std::string& code, std::optional<long long> playMs, long long introMs,
                     char endType)>
      onDurationsStored;

 private:
  Library& lib_;
};

}  // namespace sono::data
