#include "cli_convert.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "cli_notify.h"
#include "convert/closing_update.h"
#include "convert/take_purge.h"
#include "recorder/recorder_settings.h"
#include "cli_session.h"
#include "convert/convert_driver.h"
#include "convert/file_tags.h"
#include "convert/broadcast_markers.h"
#include "convert/import_export.h"
#include "convert/imported_pointers.h"
#include "convert/reconversion.h"
#include "convert/save_as.h"
#include "core/files.h"
#include "core/text.h"
#include "data/fields.h"
#include "data/records.h"
#include "data/songs.h"
#include "data/stats.h"
#include "editor/envelope.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"
#include "editor/steps.h"

namespace sono::cli {

namespace {

using namespace sono::convert;

// The library session with the converter, for one command.
struct ConvertSession : LibrarySession {
  using LibrarySession::LibrarySession;
  bool open(int station) {
    if (!LibrarySession::open(station)) return false;
    const SiteConfig& config = session.app.config();
    driver = std::make_unique<ConverterDriver>(ports(), ConverterPath(config),
                                               LoadEffectSettings(config.settingsFile()));
    return true;
  }
  ConverterPorts ports() { return {session.app.log(), session.clock, session.events, session.prompt}; }
  static std::string ConverterPath(const SiteConfig& config) {
    return FindConverterPath(config.registry(), MachineEnvironment("").exePath);
  }
  // The song's record on `station`; false (said) when it is not there.
  bool readSong(int station, const std::string& code) {
    std::string key = data::Library::Key(code);
    data::BtrieveOptions quiet;
    quiet.silent = true;
    return lib.db().GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, "sonoteka-cli:import", quiet) == 0;
  }

  std::unique_ptr<ConverterDriver> driver;
};

// The editor's reload after a new sound: envelope rebuilt, pointers reloaded,
// durations written on every station (as after a sound edit).
struct SoundReload {
  explicit SoundReload(ConvertSession& s)
      : lib(s.lib),
        global(1000, 60), working(1000, 100), strip(1000, 4), corrected(1000, 4), view(global, working, 1000),
        envelopes(s.session.app.log(), meter, editor::LoadEnvelopeSettings(s.session.app.config())),
        editor({s.lib, s.stats, meter, envelopes, view, working, strip, corrected, nullptr}) {
    editor.InitGeneralTableurPointeurs(true, {});
  }
  // False when the envelope could not be built, the pointers not put within
  // the sound or the durations not written.
  bool run(int station, const std::string& code, const std::string& sound, int& values) {
    std::vector<uint8_t> envelope;
    values = 0;
    const bool built = envelopes.Rebuild(values, sound, 0, envelope, "sonoteka-cli:import");
    // The pointers first: the durations written at the load come from them.
    fitted = {};
    soundMs = data::HouseFormatDurationMs(sound).value_or(0);
    if (soundMs > 0) fitted = FitPointersToSound(lib, code, soundMs, "sonoteka-cli:import");
    const bool loaded = editor.InitSoundPtx(editor::SoundLoad::NewSelection, true, "sonoteka-cli:import", {code, station, 0, sound, {}, {}});
    return built && fitted.ok && loaded;
  }
  data::Library& lib;
  PointerFitResult fitted;
  long long soundMs = 0;
  editor::RasterCanvas global, working, strip, corrected;
  editor::WaveformView view;
  editor::MpegScanDurationMeter meter;
  editor::EnvelopeReader envelopes;
  editor::PointerEditor editor;
};

// What the library holds after a new sound: its length, its envelope, the
// pointers changed to fit it, the song's durations as the record now says.
void PrintReloaded(ConvertSession& s, const SoundReload& reload, int station, const std::string& code,
                   const std::string& target, std::optional<long long> scan, int values) {
  std::printf("Durée du son: %lld ms\n", scan ? *scan : 0LL);
  std::printf("Enveloppe: %d valeurs (%s)\n", values, editor::GpxPathFor(target).c_str());
  for (const PointerFit& fit : reload.fitted.changes)
    std::printf("Pointeur station %d: %s\n", fit.station, DescribeFit(fit, reload.soundMs).c_str());
  if (s.readSong(station, code))
    std::printf("Durée du morceau: %lld s, intro %s s\n", data::song::DurationSeconds(s.lib.db().record(data::kSongs)),
                Trim(data::GetRaw(s.lib.db().record(data::kSongs), data::song::kIntroSeconds)).c_str());
}

// The file's title and artist written through the song form's save (every
// station, one transaction); prints what the record now holds. False when
// the save failed.
bool TakeFileTags(ConvertSession& s, int station, const std::string& code, const ConverterInfo* info) {
  if (!info || !info->read) {
    std::printf("Titre et artiste du fichier non lus (son copié tel quel)\n");
    return true;
  }
  const auto song = data::LectureFicheMorceau(s.lib, station, code);
  if (!song) return false;
  const FileTagsOffer offer = OfferFileTags(*song, info->title, info->artist, data::ListeArtistes(s.lib, station));
  for (const auto& why : offer.refused) std::printf("%s\n", why.c_str());
  if (!offer.changes()) {
    std::printf("Titre et artiste du morceau inchangés\n");
    return true;
  }
  if (!data::saveSongForm(s.lib, s.stats, station, offer.form, true)) return false;
  const auto stored = data::LectureFicheMorceau(s.lib, station, code);
  if (!stored) return false;
  std::printf("Titre enregistré: %s\n", Trim(stored->title).c_str());
  std::string name;
  for (const auto& a : data::ListeArtistes(s.lib, station))
    if (a.code == Trim(stored->artist1)) name = a.name;
  std::printf("Artiste enregistré: %s (%s)\n", Trim(stored->artist1).c_str(), name.c_str());
  return true;
}

// Imports one file into one song; prints what was stored. 0, or 1 on failure.
int ImportOne(ConvertSession& s, SoundReload& reload, int station, const std::string& codeText,
              const std::string& file, HouseFileChoice choice, ExistingSoundChoice existing, bool takeMarkers, bool askMarkers,
              bool takeTags, bool sendUdp = true) {
  const std::string code = Calibre(Utf8ToCp1252(codeText), 8);
  if (!s.readSong(station, code)) return Fail("Morceau non trouvé: " + codeText);
  const std::string target = data::SoundFilePath(s.lib, station, code);
  SoundImport import(s.ports(), *s.driver);
  bool reloaded = false;
  int values = 0;
  import.deleteSteps = [&](const std::string& c) { return editor::StepsSuppression(s.lib, c, "sonoteka-cli:import"); };
  import.onSoundPlaced = [&](const std::string&, const std::string& sound) {
    reloaded = reload.run(station, code, sound, values);
  };
  // Asked only when there is a sound to keep.
  if (existing == ExistingSoundChoice::Ask && !File_Exist(target)) existing = ExistingSoundChoice::Replace;
  const ImportResult r = import.ImporterUnSon(file, code, target, choice, existing);
  if (r.cancelled) return Fail("Import annulé: " + file);
  if (!r.ok) return Fail(r.message);
  // What the library now holds.
  const auto scan = data::HouseFormatDurationMs(target);
  if (r.appended)
    std::printf("Son complété: %s (%s ajouté à la fin)\n", target.c_str(), file.c_str());
  else
    std::printf("Son importé: %s (%s)\n", target.c_str(), r.converted ? "converti" : "copié tel quel");
  PrintReloaded(s, reload, station, code, target, scan, values);
  // The markers of a broadcast WAV, for a replaced sound only (an appended
  // file's would point into the old sound).
  bool markersStored = true;
  auto markers = r.appended || !reloaded ? std::nullopt : ReadBroadcastMarkers(file);
  if (markers && r.converted) {
    // The trim removed the file's leading silence: its markers follow the sound.
    std::vector<std::string> dropped;
    markers = ShiftMarkersForTrim(*markers, s.driver->lastInfo().trimmedStartMs, dropped);
    for (const auto& d : dropped) std::printf("%s\n", MarkerDroppedByTrim(d).c_str());
    if (DescribeMarkers(*markers).empty()) markers.reset();
  }
  if (markers) {
    const std::string listed = DescribeMarkers(*markers);
    bool take = takeMarkers;
    if (!take && askMarkers)
      take = s.session.prompt.message("Le fichier contient des marqueurs (" + listed +
                                          ").\nVoulez-vous les reprendre comme pointeurs du morceau ?",
                                      Icon::Question, Buttons::YesNo) == Answer::Yes;
    if (!take) {
      std::printf("Marqueurs du fichier non repris: %s (--markers pour les reprendre)\n", listed.c_str());
    } else {
      const MarkersApplied applied = ApplyBroadcastMarkers(reload.editor, *markers);
      for (const auto& t : applied.taken) std::printf("Marqueur repris: %s\n", t.c_str());
      for (const auto& t : applied.refused) std::printf("Marqueur refusé: %s\n", t.c_str());
      markersStored = applied.stored;
    }
  }
  bool tagsStored = true;
  if (takeTags && !r.appended) tagsStored = TakeFileTags(s, station, code, r.converted ? &s.driver->lastInfo() : nullptr);
  // The sound changed: the suite reloads it, whatever else failed below
  // (unless the conversion's "Send UDP" is off: --no-udp).
  if (sendUdp) QueueSongChange(s, code, true, "sonoteka-cli:import");
  else std::printf("Notification UDP non envoyée (--no-udp)\n");
  if (r.stepsKept) return Fail("son importé, mais les steps de l'ancien son n'ont pas pu être supprimés (voir le journal)");
  if (!reload.fitted.ok)
    return Fail("son importé, mais les pointeurs au-delà de sa fin n'ont pas pu être corrigés (voir le journal)");
  if (!reloaded) return Fail("son importé, mais durées ou enveloppe non enregistrées (voir le journal)");
  if (!markersStored) return Fail("son importé, mais les marqueurs n'ont pas été enregistrés (voir le journal)");
  if (!tagsStored) return Fail("son importé, mais le titre et l'artiste du fichier n'ont pas été enregistrés (voir le journal)");
  return 0;
}

int Import(const Options& options, const std::vector<std::string>& args) {
  HouseFileChoice choice = HouseFileChoice::AsIs;
  if (options.value("house") == "convert") choice = HouseFileChoice::Convert;
  else if (!options.value("house").empty() && options.value("house") != "copy")
    return Usage("--house demande copy ou convert");
  if (options.interactive && options.value("house").empty()) choice = HouseFileChoice::Ask;
  const ExistingSoundChoice existing = options.value("append") == "1" ? ExistingSoundChoice::Append
                                       : options.interactive           ? ExistingSoundChoice::Ask
                                                                       : ExistingSoundChoice::Replace;
  const bool markers = options.value("markers") == "1";
  const bool tags = options.value("tags") == "1";
  const bool all = options.value("all") == "1";
  const bool sendUdp = options.value("no-udp") != "1";
  if (all ? args.size() != 1 : args.size() != 2)
    return Usage(
        "import CODE FICHIER | import --all DOSSIER [--house copy|convert] [--append] [--markers] [--tags] [--no-udp]");
  if (!all) {
    if (const std::string refusal = data::CheckSongCode(args[0]); !refusal.empty()) return Usage(refusal);
  } else if (!Folder_Exist(args[0])) {
    return Usage("dossier non trouvé: " + args[0]);
  }
  ConvertSession s(options);
  if (!s.open(options.station)) return 1;
  SoundReload reload(s);
  if (!all)
    return ImportOne(s, reload, options.station, args[0], args[1], choice, existing, markers, options.interactive, tags,
                     sendUdp);

  // Bulk: every file of the folder named by a song code ("0001234.mp3").
  std::string folder = args[0];
  if (folder.back() != '/') folder += '/';
  std::vector<std::string> files;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (File_Exist(folder + e->d_name)) files.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(files.begin(), files.end());
  int done = 0, failed = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string code = EclateRepFicExt(files[i]).name;
    std::fprintf(stderr, "[%zu/%zu] %s\n", i + 1, files.size(), files[i].c_str());
    std::printf("--- %s\n", files[i].c_str());
    std::fflush(stdout);
    const int status = data::CheckSongCode(code).empty()
                           ? ImportOne(s, reload, options.station, code, folder + files[i], choice, existing,
                                       markers, options.interactive, tags, sendUdp)
                           : Fail("Nom de fichier sans code de morceau: " + files[i]);
    (status == 0 ? done : failed)++;
  }
  std::printf("Importés: %d, erreurs: %d\n", done, failed);
  if (!s.stats.MAJDureeMoyenneArtistes() || !s.stats.MAJDureeMoyenneCategories())
    return Fail("durées moyennes non recomptées (voir le journal)");
  return failed == 0 && !files.empty() ? 0 : 1;
}

int Export(const Options& options, const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("export CODE DOSSIER [--format mp3-256|mp3-128|mp2|wave] [--name MOTIF]");
  static const std::map<std::string, ExportFormat> kFormats = {{"mp3-256", ExportFormat::Mp3At256},
                                                               {"mp3-128", ExportFormat::Mp3At128},
                                                               {"mp2", ExportFormat::Mp2},
                                                               {"wave", ExportFormat::Wave}};
  static const std::map<std::string, ExportNamePattern> kNames = {{"artiste-titre", ExportNamePattern::ArtistTitle},
                                                                  {"titre-artiste", ExportNamePattern::TitleArtist},
                                                                  {"titre", ExportNamePattern::Title}};
  const auto format = kFormats.find(options.value("format", "mp2"));
  if (format == kFormats.end()) return Usage("--format demande mp3-256, mp3-128, mp2 ou wave");
  const auto name = kNames.find(options.value("name", "artiste-titre"));
  if (name == kNames.end()) return Usage("--name demande artiste-titre, titre-artiste ou titre");
  if (const std::string refusal = data::CheckSongCode(args[0]); !refusal.empty()) return Usage(refusal);
  if (!Folder_Exist(args[1])) return Usage("dossier non trouvé: " + args[1]);
  ConvertSession s(options);
  if (!s.open(options.station)) return 1;
  const std::string code = Calibre(Utf8ToCp1252(args[0]), 8);
  if (!s.readSong(options.station, code)) return Fail("Morceau non trouvé: " + args[0]);
  const std::string record = s.lib.db().record(data::kSongs);
  const std::string title = Trim(data::GetText(record, data::song::kTitle));
  const std::string artist =
      Trim(s.lib.LibArtiste(options.station, data::GetRaw(record, data::song::kArtist1)));
  const std::string sound = data::SoundFilePath(s.lib, options.station, code);
  const BroadcastTags cues =
      SongCuePoints(s.lib, options.station, code, data::HouseFormatDurationMs(sound).value_or(0));
  const ExportResult r =
      ExporterUnSon(s.ports(), *s.driver, sound, args[1], name->second, format->second, artist, title, cues);
  if (!r.ok) return Fail(r.message);
  struct stat st{};
  ::stat(r.file.c_str(), &st);
  std::printf("Fichier son exporté: %s (%s, %lld octets)\n", r.file.c_str(),
              kExportFormatLabels[static_cast<size_t>(format->second)], static_cast<long long>(st.st_size));
  if (format->second == ExportFormat::Wave)
    std::printf("Marqueurs: intro %lld ms, start next %lld ms, fade out %lld ms, hook %lld ms (-1: aucun)\n",
                cues.intro, cues.startNext, cues.fadeOut, cues.hook);
  return 0;
}

// save-as CODE FILE: the song's sound in the format of FILE's extension.
int SaveAs(const Options& options, const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("save-as CODE FICHIER.(mp2|mp3|wav|wave|ogg) [--replace]");
  if (const std::string refusal = data::CheckSongCode(args[0]); !refusal.empty()) return Usage(refusal);
  ConvertSession s(options);
  if (!s.open(options.station)) return 1;
  const std::string code = Calibre(Utf8ToCp1252(args[0]), 8);
  if (!s.readSong(options.station, code)) return Fail("Morceau non trouvé: " + args[0]);
  const std::string record = s.lib.db().record(data::kSongs);
  const std::string sound = data::SoundFilePath(s.lib, options.station, code);
  BroadcastTags tags =
      SongCuePoints(s.lib, options.station, code, data::HouseFormatDurationMs(sound).value_or(0));
  tags.title = Trim(data::GetText(record, data::song::kTitle));
  tags.artist = Trim(s.lib.LibArtiste(options.station, data::GetRaw(record, data::song::kArtist1)));
  // --replace answers the replace question; --interactive asks it.
  const SaveAsResult r = SaveFileAs(s.ports(), *s.driver, sound, args[1], tags,
                                    options.value("replace") == "1" ? ExistingTarget::Replace : ExistingTarget::Ask);
  if (r.cancelled) return Fail("Fichier existant non remplacé: " + args[1] + " (--replace pour le remplacer)");
  if (!r.ok) return Fail(r.message);
  struct stat st{};
  ::stat(args[1].c_str(), &st);
  std::printf("%s (%lld octets)\n", r.message.c_str(), static_cast<long long>(st.st_size));
  if (r.wave)
    std::printf("Marqueurs: intro %lld ms, start next %lld ms, fade out %lld ms, hook %lld ms (-1: aucun)\n",
                tags.intro, tags.startNext, tags.fadeOut, tags.hook);
  return 0;
}

// reconvert CODE: the song's sound through the converter again, in place.
int Reconvert(const Options& options, const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("reconvert CODE");
  if (const std::string refusal = data::CheckSongCode(args[0]); !refusal.empty()) return Usage(refusal);
  ConvertSession s(options);
  if (!s.open(options.station)) return 1;
  const std::string code = Calibre(Utf8ToCp1252(args[0]), 8);
  if (!s.readSong(options.station, code)) return Fail("Morceau non trouvé: " + args[0]);
  const std::string sound = data::SoundFilePath(s.lib, options.station, code);
  const ReconversionResult r = ReconvertirSon(s.ports(), *s.driver, sound,
                                              s.session.app.config().current().localFolder, options.interactive);
  if (r.cancelled) return Fail("Reconversion annulée: " + sound);
  if (!r.ok) return Fail(r.message);
  SoundReload reload(s);
  int values = 0;
  const bool reloaded = reload.run(options.station, code, sound, values);
  std::printf("Son reconverti: %s\n", sound.c_str());
  QueueSongChange(s, code, true, "sonoteka-cli:reconvert");
  PrintReloaded(s, reload, options.station, code, sound, data::HouseFormatDurationMs(sound), values);
  if (!r.message.empty()) return Fail(r.message);
  if (!reloaded) return Fail("son reconverti, mais durées, pointeurs ou enveloppe non enregistrés (voir le journal)");
  return 0;
}

int PurgeTemp(const Options& options) {
  ConvertSession s(options);
  if (!s.open(options.station)) return 1;
  const std::string folder =
      s.session.app.config().current().sounds[static_cast<size_t>(options.station - 1)][kSoundKinds - 1].folder;
  if (folder.empty() || !Folder_Exist(folder)) return Fail("Dossier des sons temporaires non trouvé: " + folder);
  const int n = PurgerSonsTemporaires(s.session.app.log(), s.session.prompt, folder, s.session.clock.now(), false);
  std::printf("Sons temporaires supprimés: %d (%s)\n", n, folder.c_str());
  return 0;
}

// Timer30s's daily purge, run now: the takes of the takes folder older
// than 45 days.
int PurgeTakes(const Options& options) {
  Session s(options);
  if (!s.loadSite()) return 1;
  const std::string folder = recorder::LoadRecorderSettings(s.app.config()).folder;
  const int n = PurgeOldTakes(s.app.log(), folder, s.clock.now());
  if (n < 0) return Fail("Dossier des prises illisible: " + folder + " (voir le journal)");
  std::printf("Prises de plus de %d jours supprimées: %d (%s)\n", kTakeKeepDays, n, folder.c_str());
  return 0;
}

// The closing update's write of the song record (its modification date on
// every station), said on the terminal.
void WriteClosingDate(ConvertSession& s, const std::string& code, const std::string& sound) {
  const notify::VersionRefresh r = DateSongBySound(s.lib, code, sound, "sonoteka-cli:record");
  if (!r.ok) std::fprintf(stderr, "Date de modification non enregistrée (voir le journal)\n");
  else if (r.stations > 0) std::printf("Date de modification: %s\n", r.dateTimeText.c_str());
}

}  // namespace

int HandOverTake(const Options& options, int station, const std::string& codeText, const std::string& take,
                 bool append) {
  ConvertSession s(options);
  if (!s.open(station)) return 1;
  TraceLogger& log = s.session.app.log();
  const std::string code = Trim(Calibre(Utf8ToCp1252(codeText), 8));
  log.TraceLog(std::string(39, '=') + ":MAJDataFinRecordOuConvert: Start: SongId: " + code + " |SoundDuration: " +
               std::to_string(data::HouseFormatDurationMs(take).value_or(0)) + " ms");
  SoundReload reload(s);
  const int status = ImportOne(s, reload, station, codeText, take, HouseFileChoice::AsIs,
                               append ? ExistingSoundChoice::Append : ExistingSoundChoice::Replace, false, false, false);
  if (status == 0) WriteClosingDate(s, code, data::SoundFilePath(s.lib, station, code));
  log.TraceLog("MAJDataFinRecordOuConvert: End: SongId: " + code);
  return status;
}

int CloseRecordedSound(const Options& options, int station, const std::string& codeText) {
  ConvertSession s(options);
  if (!s.open(station)) return 1;
  TraceLogger& log = s.session.app.log();
  const std::string code = Trim(Calibre(Utf8ToCp1252(codeText), 8));
  const std::string sound = data::SoundFilePath(s.lib, station, code);
  const auto scan = data::HouseFormatDurationMs(sound);
  log.TraceLog(std::string(39, '=') + ":MAJDataFinRecordOuConvert: Start: SongId: " + code + " |SoundDuration: " +
               std::to_string(scan.value_or(0)) + " ms");
  if (scan) WriteClosingDate(s, code, sound);
  SoundReload reload(s);
  int values = 0;
  const bool reloaded = scan && reload.run(station, code, sound, values);
  log.TraceLog("MAJDataFinRecordOuConvert: End: SongId: " + code);
  if (!scan) return Fail("le son enregistré n'est pas lisible: " + sound);
  std::printf("Son enregistré: %s\n", sound.c_str());
  QueueSongChange(s, code, true, "sonoteka-cli:record");
  PrintReloaded(s, reload, station, code, sound, scan, values);
  if (!reloaded) return Fail("son enregistré, mais durées, pointeurs ou enveloppe non enregistrés (voir le journal)");
  return 0;
}

int ConvertCommand(const Options& options, const std::vector<std::string>& words) {
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (words[0] == "import") return Import(options, args);
  if (words[0] == "export") return Export(options, args);
  if (words[0] == "save-as") return SaveAs(options, args);
  if (words[0] == "reconvert") return Reconvert(options, args);
  if (!args.empty()) return Usage("argument en trop: " + args[0]);
  if (words[0] == "purge-takes") return PurgeTakes(options);
  return PurgeTemp(options);
}

}  // namespace sono::cli
