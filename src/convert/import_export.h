// Lib_Library's import and export of sounds: the import filter, a new sound
// put in place for a song (house-format files copied, the rest converted),
// the export's file name and format, and the purge of temporary sounds.
//
// A song's sound is only ever replaced whole: the copy is atomic on the
// target (File_Copy) and a conversion goes through ConvertSon's temporary
// file. The caller reloads the editor afterwards (`onSoundPlaced`): the
// envelope rebuilt, the pointers reloaded and the durations written.
#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "convert/convert_driver.h"
#include "core/ports.h"
#include "core/tracelog.h"

namespace sono::convert {

// One entry of the import dialog's filter: its description and patterns.
struct FilterEntry {
  std::string description;
  std::string patterns;  // "*.mp3;*.mp2"
};
// FormatsSonsAutorises: "Formats autorisés (...)" first, then one entry per family.
std::vector<FilterEntry> FormatsSonsAutorises();
// The same as one dialog filter: "description|patterns|description|patterns…".
std::string FormatsSonsAutorisesFilter();
// True when `file` matches the "Formats autorisés" entry (case-insensitive).
bool FormatAutorise(const std::string& file);

// What to do with a file that is already in the house format.
enum class HouseFileChoice { Ask, Convert, AsIs };
// What to do with the sound the song already has: Ask when the editor holds
// it ("Remplacer le son existant" / "Ajouter le fichier à la fin du son existant").
enum class ExistingSoundChoice { Ask, Replace, Append };

struct ImportResult {
  bool ok = false;
  bool converted = false;  // through the converter (else copied as it is)
  bool cancelled = false;  // the user said no
  bool queued = false;     // left to the conversion queue (`enqueue`, `enqueueAppend`)
  bool appended = false;   // the file went to the end of the song's sound
  bool stepsKept = false;  // replaced, but the old sound's steps could not be deleted
  std::string message;     // French, for the user, on failure
};

class SoundImport {
 public:
  SoundImport(ConverterPorts ports, ConverterDriver& driver) : p_(ports), driver_(driver) {}

  // ImporterUnSon: puts `file` in place as the song's sound `targetSound`.
  // Nothing changes for the song unless the new sound is whole in place.
  ImportResult ImporterUnSon(const std::string& file, const std::string& code, const std::string& targetSound,
                             HouseFileChoice choice = HouseFileChoice::Ask,
                             ExistingSoundChoice existing = ExistingSoundChoice::Replace);
  // When set, a file to convert is handed to the conversion queue (the
  // desktop) instead of being converted at once (the command line).
  std::function<void(const std::string& code, const std::string& file, const std::string& target)> enqueue;
  // The same for an append: the queue converts the file, then appends it.
  std::function<void(const std::string& code, const std::string& file, const std::string& target)> enqueueAppend;
  // StepsSuppression for a replaced sound, once the new one is in place
  // (false: the steps could not be deleted).
  std::function<bool(const std::string& code)> deleteSteps;
  // Told once the new sound is in place (reload the editor, write durations).
  std::function<void(const std::string& code, const std::string& targetSound)> onSoundPlaced;
  // Wait for a copied file to show: every 200 ms, 1000 ms at most.
  static constexpr int kCopyCheckMs = 200, kCopyWaitMs = 1000;

 private:
  // The file converted to the house format in the temporary folder, then
  // its frames appended to `target` (AppendHouseSound).
  ImportResult append(const std::string& file, const std::string& code, const std::string& target);
  ConverterPorts p_;
  ConverterDriver& driver_;
};

// The temporary file an append converts into ($TMPDIR, or /tmp), never beside a sound.
std::string AppendConversionFile(const std::string& code);

// Export choices.
enum class ExportNamePattern { ArtistTitle = 0, TitleArtist = 1, Title = 2 };
enum class ExportFormat { Mp3At256 = 0, Mp3At128 = 1, Mp2 = 2, Wave = 3 };
inline constexpr std::array<const char*, 4> kExportFormatLabels = {
    "mp3, 44100 Hz, 256 Kb/s", "mp3, 44100 Hz, 128 Kb/s", "mp2, 48000 Hz, 256 Kb/s", "wave, 16bits"};
inline constexpr std::array<const char*, 4> kExportExtensions = {".mp3", ".mp3", ".mp2", ".wave"};
inline constexpr std::array<const char*, 3> kExportPatternLabels = {"Artiste - Titre", "Titre - Artiste", "Titre"};

// NettoieNomDeFichier: the text without the characters a file name cannot
// hold (/ \ : * ? " < > | and control characters); blanks at the ends trimmed.
std::string NettoieNomDeFichier(const std::string& text);
// The exported file's name (with its extension) for the pattern and format.
std::string ExportFileName(ExportNamePattern pattern, ExportFormat format, const std::string& artist,
                           const std::string& title);
// The conversion request of an export format (mp2 is copied, not converted).
// A wave export carries `tags` (title, artist, cue points) in its broadcast chunks.
ConversionRequest ExportRequest(ExportFormat format, const std::string& sound, const std::string& target,
                                const BroadcastTags& tags = {});

struct ExportResult {
  bool ok = false;
  std::string file;     // the file written
  std::string message;  // French: "Fichier son exporté:\r\n<file>" or why not
};

// ExporterUnSon: writes the song's `soundFile` into `folder` under the
// pattern's name in `format`. An existing file of that name is replaced
// only when whole (atomic copy or conversion). A wave file carries the
// title, the artist and the song's `cuePoints`.
ExportResult ExporterUnSon(ConverterPorts ports, ConverterDriver& driver, const std::string& soundFile,
                           const std::string& folder, ExportNamePattern pattern, ExportFormat format,
                           const std::string& artist, const std::string& title,
                           const BroadcastTags& cuePoints = {});

// PurgerSonsTemporaires: deletes the files of `folder` whose name without
// extension sorts before the date 10 days before `now` ("YYYY-MM-DD-hh-mm-ss").
// Returns how many were deleted.
int PurgerSonsTemporaires(TraceLogger& log, Prompt& prompt, const std::string& folder, const LocalDateTime& now,
                          bool showMessage, bool stopping = false);
inline constexpr int kTemporarySoundDays = 10;

}  // namespace sono::convert
