// The desktop's import and export for the song in the cue-point editor: a
// file from the dialog or dropped on the sound's pictures becomes the song's
// sound (house-format files copied at once, the rest through the conversion
// queue), the editor reloads it with its envelope rebuilt and the durations
// written; the editor's sound is exported by name pattern and format. The
// window only forwards its menu entries and drops here.
#pragma once
#include <map>
#include <string>

#include "convert/conversion_queue.h"
#include "convert/import_export.h"
#include "core/config.h"
#include "data/library.h"
#include "data/songs.h"
#include "data/stats.h"
#include "editor/pointer_editor.h"

namespace sono::convert {

class LibraryImport {
 public:
  LibraryImport(ConverterPorts ports, data::Library& lib, data::DurationStatistics& stats, const SiteConfig& config,
                editor::PointerEditor& editor, std::string exePath);

  // TimerConvert's work, and TimerFocus's daily purge of temporary sounds
  // (TimerFocus is turned on: its check runs every 200 ms).
  void attach(Scheduler& scheduler);
  // The first call of each day (by the Clock) purges every station's
  // temporary sounds silently; later calls that day do nothing. True when
  // it purged.
  bool DailyPurge();
  // A file for the editor's song (dialog or drop). False when nothing was
  // done (no song, cancelled, failed: said in a box).
  bool ImportFile(const std::string& file);
  // The closing update after a take (MAJDataFinRecordOuConvert, a
  // recording): the house-format `take` becomes the sound of the song
  // `code` as it is, over its sound (copied under a temporary name and
  // renamed) or after it; the song is reloaded like an imported sound. False
  // (said) when the song's sound is unchanged.
  bool ImportTake(const std::string& code, const std::string& take, bool append);
  // The closing update after a take the boards recorded into the song's
  // sound file itself (MAJDataFinRecordOuConvert, a recording): the end type
  // determined when the take stopped is written to the song on every
  // station, then the song is reloaded like an imported sound (its
  // durations written with that end type). False when the sound is no
  // house file.
  bool RecordedSound(const std::string& code, char endType);
  // The editor's sound exported into `folder` (mp2 copied at once, the rest queued).
  bool ExportSound(const std::string& folder, ExportNamePattern pattern, ExportFormat format);
  // SaveFileAs for the editor's sound (a WAV carries the song's title,
  // artist and cue points); the outcome said in a box. False when nothing
  // was written.
  bool SaveSoundAs(const std::string& target);
  // The editor's sound converted again through the local folder's work
  // file and put in place, then reloaded like an imported sound (pointers
  // held to its length, durations on every station, envelope). False when
  // nothing changed (no song, No, failed: said in a box).
  bool ReconvertSound();
  // PurgerSonsTemporaires on the station's temporary sound folder ("Tmp_");
  // the number of files deleted.
  int PurgeTemporarySounds(int station, bool showMessage);
  // A conversion runs or waits: the program must not close.
  bool conversionPending() const { return queue_.running() || queue_.pending() > 0; }

  // The editor shows a reloaded sound.
  std::function<void()> onEditorReloaded;
  // A song's sound was replaced (import, conversion, reconversion).
  std::function<void(const std::string& code)> onSoundReplaced;
  // After a converted import whose file's title or artist differ from the
  // song's, the user said Yes to "Reprendre le titre et l'artiste du
  // fichier ?": the song form shows `offered` (the user still saves it).
  std::function<void(int station, const data::SongForm& offered)> onFileTags;
  // The export's name pattern as last chosen ("Pointeurs", "ExportRadioButtons").
  ExportNamePattern StoredPattern() const;

  ConversionQueue& queue() { return queue_; }
  ConverterDriver& driver() { return driver_; }
  const std::string& lastMessage() const { return lastMessage_; }

 private:
  // The converter and effects as the settings say now.
  void reconfigure();
  // The new sound of `code` is in place: the editor reloads it (the
  // durations written on every station) and its envelope is built again.
  // `converted`: what the converter said when the sound was converted
  // (markers taken then follow its trim); null for a copy or a reconversion.
  // The closing update's write of the song record for a new sound: the
  // file's modification date on every station (codes of the kinds kept).
  void writeClosingDate(const std::string& code);
  void soundPlaced(const std::string& code, const ConverterInfo* converted, bool tellSuite = true);
  void say(const std::string& text, Icon icon);
  // The file's title and artist offered for the song form (a question).
  void offerFileTags(int station, const std::string& code, const ConverterInfo& info);
  // The title and first artist of the editor's song, and its cue points
  // as playout plays them, for a WAV's broadcast chunks.
  BroadcastTags songTags(const std::string& caller);

  ConverterPorts p_;
  data::Library& lib_;
  data::DurationStatistics& stats_;
  const SiteConfig& config_;
  editor::PointerEditor& editor_;
  std::string exePath_;
  ConverterDriver driver_;
  ConversionQueue queue_;
  std::string lastMessage_;
  // Markers of an imported broadcast WAV the user took, by song code: set
  // on the stored pointers once the new sound is in place.
  std::map<std::string, BroadcastTags> pendingMarkers_;
  std::string purgedOn_;  // "YYYY-MM-DD" of the last daily purge, in this run
};

}  // namespace sono::convert
