#include "convert/library_import.h"

#include "convert/closing_update.h"

#include <fmt/format.h>

#include "convert/broadcast_markers.h"
#include "convert/file_tags.h"
#include "convert/imported_pointers.h"
#include "convert/reconversion.h"
#include "convert/save_as.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/fields.h"
#include "data/records.h"
#include "data/songs.h"
#include "editor/song_selection.h"
#include "editor/steps.h"

namespace sono::convert {

namespace {
constexpr const char* kCaller = "Lib_Library:ImporterUnSon";
constexpr const char* kTimerFocus = "TimerFocus";
constexpr int kTimerFocusMs = 200;
// The editor's change hooks with one song left out, for as long as it lives
// (empty code: nothing left out). Another song's changes are still told.
class QuietSong {
 public:
  QuietSong(editor::PointerEditor& editor, const std::string& code) : editor_(editor), code_(Trim(code)) {
    if (code_.empty()) return;
    stored_ = editor_.onPointersStored;
    changed_ = editor_.onSoundChangedNotice;
    if (stored_)
      editor_.onPointersStored = [this](const std::string& c, const std::string& caller) {
        if (Trim(c) != code_) stored_(c, caller);
      };
    if (changed_)
      editor_.onSoundChangedNotice = [this](int base, const std::string& c, const std::string& caller) {
        if (Trim(c) != code_) changed_(base, c, caller);
      };
  }
  ~QuietSong() {
    if (code_.empty()) return;
    editor_.onPointersStored = std::move(stored_);
    editor_.onSoundChangedNotice = std::move(changed_);
  }
  QuietSong(const QuietSong&) = delete;
  QuietSong& operator=(const QuietSong&) = delete;

 private:
  editor::PointerEditor& editor_;
  std::string code_;
  std::function<void(const std::string&, const std::string&)> stored_;
  std::function<void(int, const std::string&, const std::string&)> changed_;
};

constexpr const char* kStepsKept =
    "Les steps de l'ancien son n'ont pas pu être supprimés (erreur de la base de données, voir le journal).";
}

LibraryImport::LibraryImport(ConverterPorts ports, data::Library& lib, data::DurationStatistics& stats,
                             const SiteConfig& config, editor::PointerEditor& editor, std::string exePath)
    : p_(ports),
      lib_(lib),
      stats_(stats),
      config_(config),
      editor_(editor),
      exePath_(std::move(exePath)),
      driver_(ports, ""),
      queue_(ports, driver_) {
  // Called right after the row's conversion: the driver still holds what the converter said.
  queue_.onSongConverted = [this](const std::string& code, const std::string&, bool sendUdp) {
    writeClosingDate(code);
    soundPlaced(code, &driver_.lastInfo(), sendUdp);
  };
  queue_.onSoundReplaced = [this](const std::string& code) {
    if (!editor::StepsSuppression(lib_, code, kCaller)) say(kStepsKept, Icon::Exclamation);
  };
  queue_.recountArtists = [this] { stats_.MAJDureeMoyenneArtistes(); };
  queue_.recountCategories = [this] { stats_.MAJDureeMoyenneCategories(); };
}

void LibraryImport::attach(Scheduler& scheduler) {
  queue_.attach(scheduler);
  scheduler.add(kTimerFocus, kTimerFocusMs, true, [this] { DailyPurge(); });
}

bool LibraryImport::DailyPurge() {
  const LocalDateTime now = p_.clock.now();
  const std::string today = fmt::format("{:04}-{:02}-{:02}", now.year, now.month, now.day);
  if (today == purgedOn_ || p_.log.closing()) return false;
  purgedOn_ = today;
  p_.log.TraceLog("TimerFocus: daily purge of the temporary sounds |Day: " + today);
  for (int station = 1; station <= config_.current().stationCount; ++station) PurgeTemporarySounds(station, false);
  return true;
}

void LibraryImport::reconfigure() {
  driver_.reconfigure(FindConverterPath(config_.registry(), exePath_), LoadEffectSettings(config_.settingsFile()));
}

void LibraryImport::say(const std::string& text, Icon icon) {
  lastMessage_ = text;
  p_.prompt.message(text, icon, Buttons::Ok);
}

bool LibraryImport::ImportFile(const std::string& file) {
  const std::string code = editor_.sound.code;
  if (Trim(code).empty()) {
    say("Aucun morceau sélectionné: choisissez le morceau qui recevra le son.", Icon::Exclamation);
    return false;
  }
  reconfigure();
  const std::string target = data::SoundFilePath(lib_, editor_.sound.station, code);
  SoundImport import(p_, driver_);
  import.enqueue = [this](const std::string& c, const std::string& f, const std::string& t) {
    ConversionRequest request = HouseFormatRequest(f, t);
    request.wantInfo = true;
    queue_.AddToConvertListS48(c, f, t, "", "A:", request);
  };
  import.enqueueAppend = [this](const std::string& c, const std::string& f, const std::string& t) {
    const std::string local = AppendConversionFile(c);
    queue_.AddToConvertListS48(c, f, t, local, "A:Append", HouseFormatRequest(f, local), false, true);
  };
  import.deleteSteps = [this](const std::string& c) { return editor::StepsSuppression(lib_, c, kCaller); };
  import.onSoundPlaced = [this](const std::string& c, const std::string&) { soundPlaced(c, nullptr); };
  // A broadcast WAV's markers are offered before the sound is placed (a
  // house-format copy reloads the editor at once).
  if (const auto markers = ReadBroadcastMarkers(file)) {
    const std::string question = "Le fichier contient des marqueurs (" + DescribeMarkers(*markers) +
                                 ").\nVoulez-vous les reprendre comme pointeurs du morceau ?";
    const bool take = p_.prompt.message(question, Icon::Question, Buttons::YesNo) == Answer::Yes;
    p_.log.TraceLog(std::string("Question: Marqueurs du fichier |Reponse: ") + (take ? "Oui" : "Non"));
    if (take) pendingMarkers_[code] = *markers;
  }
  // The Replace/Append question when the editor holds the song's sound.
  const bool holdsSound = editor_.lengthMeasured() && File_Exist(editor_.sound.soundFile);
  const ImportResult r = import.ImporterUnSon(file, code, target, HouseFileChoice::Ask,
                                              holdsSound ? ExistingSoundChoice::Ask : ExistingSoundChoice::Replace);
  // An appended file's markers would point into the old sound.
  if (!r.ok || r.appended) pendingMarkers_.erase(code);
  if (r.cancelled) return false;
  if (!r.ok) {
    say(r.message, Icon::Critical);
    return false;
  }
  if (r.stepsKept) say(kStepsKept, Icon::Exclamation);
  lastMessage_ = r.queued     ? "Fichier ajouté aux conversions: " + file
                 : r.appended ? "Son complété: " + target
                              : "Son importé: " + target;
  return true;
}

bool LibraryImport::ImportTake(const std::string& code, const std::string& take, bool append) {
  const int station = editor_.sound.station;
  const std::string target = data::SoundFilePath(lib_, station, code);
  p_.log.TraceLog(std::string(39, '=') + ":MAJDataFinRecordOuConvert: Start: SongId: " + Trim(code) +
                  " |SoundDuration: " + std::to_string(data::HouseFormatDurationMs(take).value_or(0)) + " ms");
  SoundImport import(p_, driver_);
  import.deleteSteps = [this](const std::string& c) { return editor::StepsSuppression(lib_, c, kCaller); };
  import.onSoundPlaced = [this](const std::string& c, const std::string&) {
    writeClosingDate(c);
    soundPlaced(c, nullptr);
  };
  const ImportResult r = import.ImporterUnSon(take, code, target, HouseFileChoice::AsIs,
                                              append ? ExistingSoundChoice::Append : ExistingSoundChoice::Replace);
  p_.log.TraceLog("MAJDataFinRecordOuConvert: End: SongId: " + Trim(code));
  if (!r.ok) {
    say(r.message, Icon::Critical);
    return false;
  }
  if (r.stepsKept) say(kStepsKept, Icon::Exclamation);
  lastMessage_ = (r.appended ? "Son complété: " : "Son enregistré: ") + target;
  return true;
}

bool LibraryImport::RecordedSound(const std::string& code, char endType) {
  const std::string sound = data::SoundFilePath(lib_, editor_.sound.station, code);
  const long long ms = data::HouseFormatDurationMs(sound).value_or(0);
  p_.log.TraceLog(std::string(39, '=') + ":MAJDataFinRecordOuConvert: Start: SongId: " + Trim(code) +
                  " |SoundDuration: " + std::to_string(ms) + " ms");
  if (ms > 0) {
    p_.log.TraceLog("PbTMorceauSelectionne.SongId set to: " + Trim(code));
    p_.log.TraceLog("FichierSonORS48: " + sound);
    // The reload reads the end type back from the song and writes it with
    // the durations; a failed write is logged and the song keeps its own.
    writeClosingDate(code);
    editor_.WriteEndType(code, endType, "Lib_Library:MAJDataFinRecordOuConvert");
    soundPlaced(code, nullptr);
  }
  p_.log.TraceLog("MAJDataFinRecordOuConvert: End: SongId: " + Trim(code));
  if (ms > 0) lastMessage_ = "Son enregistré: " + sound;
  return ms > 0;
}

void LibraryImport::writeClosingDate(const std::string& code) {
  // A failure is logged; the new sound stays in place whatever happens here.
  DateSongBySound(lib_, code, data::SoundFilePath(lib_, editor_.sound.station, code),
                  "Lib_Library:MAJDataFinRecordOuConvert");
}

void LibraryImport::soundPlaced(const std::string& code, const ConverterInfo* converted, bool tellSuite) {
  // The sound changed whatever follows: the suite is told, unless the
  // conversion's "Send UDP" was switched off.
  if (tellSuite && onSoundReplaced) onSoundReplaced(code);
  if (!tellSuite) p_.log.TraceLog("ConversionDesSons: Send UDP off: no notification |SongId: " + Trim(code));
  // Nor is it told of what the reload stores for this song (the file's
  // markers taken as pointers): the editor's hooks skip it until the end.
  QuietSong quiet(editor_, tellSuite ? std::string() : code);
  const int station = editor_.sound.station;
  const auto song = editor::SelectionForSong(lib_, station, Cp1252ToUtf8(Trim(code)));
  if (!song) return;
  // The pointers first: the durations written at the reload come from them.
  const std::string sound = data::SoundFilePath(lib_, station, code);
  const long long soundMs = data::HouseFormatDurationMs(sound).value_or(0);
  const PointerFitResult fitted = soundMs > 0 ? FitPointersToSound(lib_, code, soundMs, kCaller) : PointerFitResult{};
  // The song in the editor is refreshed; another one is loaded (its own
  // unsaved changes offered first).
  const bool current = Trim(editor_.sound.code) == Trim(code);
  if (!editor_.InitSoundPtx(current ? editor::SoundLoad::Refresh : editor::SoundLoad::NewSelection, true, kCaller, *song)) return;
  editor_.RebuildEnvelope();
  if (const auto markers = pendingMarkers_.find(code); markers != pendingMarkers_.end()) {
    std::vector<std::string> dropped;
    const BroadcastTags shifted =
        ShiftMarkersForTrim(markers->second, converted ? converted->trimmedStartMs : 0, dropped);
    pendingMarkers_.erase(markers);
    for (const auto& d : dropped) say(MarkerDroppedByTrim(d), Icon::Exclamation);
    const MarkersApplied applied = ApplyBroadcastMarkers(editor_, shifted);
    for (const auto& refusal : applied.refused) say(refusal, Icon::Exclamation);
    if (!applied.stored) say(editor_.lastMessage, Icon::Critical);
  }
  if (onEditorReloaded) onEditorReloaded();
  if (converted && converted->read) offerFileTags(station, code, *converted);
  if (!fitted.ok) {
    say("Les pointeurs du morceau " + Cp1252ToUtf8(Trim(code)) +
            " au-delà de la fin du nouveau son n'ont pas pu être corrigés (voir le journal).",
        Icon::Critical);
  } else if (!fitted.changes.empty()) {
    std::string text = "Le nouveau son du morceau " + Cp1252ToUtf8(Trim(code)) + " est plus court que ses pointeurs:";
    // Stations share their pointers: one line per pointer, not per station.
    for (const PointerFit& fit : fitted.changes)
      if (const std::string line = "\n" + DescribeFit(fit, soundMs); text.find(line) == std::string::npos) text += line;
    say(text, Icon::Information);
  }
}

void LibraryImport::offerFileTags(int station, const std::string& code, const ConverterInfo& info) {
  const auto song = data::LectureFicheMorceau(lib_, station, code);
  if (!song || !onFileTags) return;
  const FileTagsOffer offer = OfferFileTags(*song, info.title, info.artist, data::ListeArtistes(lib_, station));
  for (const auto& why : offer.refused) p_.log.TraceLog("ImporterUnSon: " + why);
  if (!offer.changes()) return;
  std::string question = "Reprendre le titre et l'artiste du fichier ?";
  if (!offer.title.empty()) question += "\nTitre: " + offer.title;
  if (!offer.artistName.empty()) question += "\nArtiste: " + offer.artistName;
  for (const auto& why : offer.refused) question += "\n" + why;
  const bool take = p_.prompt.message(question, Icon::Question, Buttons::YesNo) == Answer::Yes;
  p_.log.TraceLog(std::string("Question: Titre et artiste du fichier |Reponse: ") + (take ? "Oui" : "Non"));
  if (take) onFileTags(station, offer.form);
}

int LibraryImport::PurgeTemporarySounds(int station, bool showMessage) {
  if (station < 1 || station > kMaxStations) return 0;
  const std::string& folder = config_.current().sounds[static_cast<size_t>(station - 1)][kSoundKinds - 1].folder;
  if (folder.empty()) return 0;
  return PurgerSonsTemporaires(p_.log, p_.prompt, folder, p_.clock.now(), showMessage, p_.log.closing());
}

ExportNamePattern LibraryImport::StoredPattern() const {
  const int n = ParseIntClamped(LectureIni(config_.settingsFile(), "Pointeurs", "ExportRadioButtons", "0"), 0, 2, 0);
  return static_cast<ExportNamePattern>(n);
}

BroadcastTags LibraryImport::songTags(const std::string& caller) {
  const std::string& code = editor_.sound.code;
  BroadcastTags tags = SongCuePoints(lib_, editor_.sound.station, code,
                                     data::HouseFormatDurationMs(editor_.sound.soundFile).value_or(0));
  data::BtrieveOptions quiet;
  quiet.silent = true;
  std::string key = data::Library::Key(code);
  if (lib_.db().GetEqual(lib_.base(), data::kSongs, editor_.sound.station, data::kSongByCode, key, caller, quiet) == 0) {
    const std::string record = lib_.db().record(data::kSongs);
    tags.title = Trim(data::GetText(record, data::song::kTitle));
    tags.artist = Trim(lib_.LibArtiste(editor_.sound.station, data::GetRaw(record, data::song::kArtist1)));
  }
  return tags;
}

bool LibraryImport::SaveSoundAs(const std::string& target) {
  if (Trim(editor_.sound.code).empty() || editor_.sound.soundFile.empty()) {
    say("Aucun son à enregistrer.", Icon::Exclamation);
    return false;
  }
  reconfigure();
  const SaveAsResult r = SaveFileAs(p_, driver_, editor_.sound.soundFile, target, songTags("Lib_Pointeurs:SaveFileAs"));
  if (r.cancelled) return false;
  say(r.message, r.ok ? Icon::Information : Icon::Critical);
  return r.ok;
}

bool LibraryImport::ReconvertSound() {
  const std::string code = editor_.sound.code;
  if (Trim(code).empty()) {
    say("Aucun son à reconvertir.", Icon::Exclamation);
    return false;
  }
  reconfigure();
  const std::string sound = data::SoundFilePath(lib_, editor_.sound.station, code);
  const ReconversionResult r = ReconvertirSon(p_, driver_, sound, config_.current().localFolder);
  if (r.cancelled) return false;
  if (!r.ok) {
    say(r.message, Icon::Critical);
    return false;
  }
  soundPlaced(code, nullptr);
  if (!r.message.empty()) say(r.message, Icon::Exclamation);  // the work file stayed
  lastMessage_ = r.message.empty() ? "Son reconverti: " + sound : r.message;
  return true;
}

bool LibraryImport::ExportSound(const std::string& folder, ExportNamePattern pattern, ExportFormat format) {
  const std::string code = editor_.sound.code;
  if (Trim(code).empty() || editor_.sound.soundFile.empty()) {
    say("Aucun son à exporter.", Icon::Exclamation);
    return false;
  }
  const BroadcastTags tags = songTags("Lib_Library:ExporterUnSon");
  const std::string &title = tags.title, &artist = tags.artist;
  EcritureIni(config_.settingsFile(), "Pointeurs", "ExportRadioButtons", std::to_string(static_cast<int>(pattern)));
  reconfigure();
  if (format == ExportFormat::Mp2) {
    const ExportResult r = ExporterUnSon(p_, driver_, editor_.sound.soundFile, folder, pattern, format, artist, title);
    say(r.message, r.ok ? Icon::Information : Icon::Critical);
    return r.ok;
  }
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  const std::string target = dir + ExportFileName(pattern, format, artist, title);
  // A wave file carries the title, the artist and the pointers as stored.
  queue_.AddToConvertListS48(code, editor_.sound.soundFile, target, "", "E:",
                             ExportRequest(format, editor_.sound.soundFile, target, tags), true);
  lastMessage_ = "Export ajouté aux conversions: " + target;
  return true;
}

}  // namespace sono::convert
