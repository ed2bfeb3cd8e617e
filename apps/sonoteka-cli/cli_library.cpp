// sonoteka-cli library commands: demo build, search, song show, ptx show,
// ptx set, stats recount, settings show / set, cart show / load / eject.
#include <cmath>
#include <cstdio>
#include <fmt/format.h>

#include "cli_commands.h"
#include "cli_notify.h"
#include "cli_session.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/cartridges.h"
#include "data/demo_library.h"
#include "data/ptx.h"
#include "data/records.h"
#include "data/search.h"
#include "data/songs.h"
#include "data/stats.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"

namespace sono::cli {

namespace {

// Reads a song; false with the reason printed (not found, or the database's status).
bool readSong(data::Library& lib, int station, const std::string& code) {
  std::string key = data::Library::Key(Calibre(Utf8ToCp1252(code), 8));
  data::BtrieveOptions quiet;
  quiet.silent = true;
  const int st = lib.db().GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, "sonoteka-cli:song", quiet);
  if (st == 0) return true;
  if (st == 4) std::fprintf(stderr, "Morceau non trouvé: %s\n", code.c_str());
  else
    std::fprintf(stderr, "Morceau %s illisible: %s", code.c_str(),
                 data::PervasiveLayer::ErreurBTrieveLibelle(st, lib.db().NomFichierBTR(lib.base(), data::kSongs, station))
                     .c_str());
  return false;
}

// Exit status 1, said, when the database gave an error during the command.
int databaseVerdict(data::Library& lib, int status = 0) {
  if (lib.db().errors() == 0) return status;
  std::fprintf(stderr, "Erreur de la base de données pendant la commande (voir le journal).\n");
  return 1;
}

// The sound's length, measured from its file as the editor measures it; with
// no sound to measure, the song record's duration stands in (and nothing
// derived from it is written). Reads the song's record buffer: call it right
// after readSong.
data::SoundLength soundLength(data::Library& lib, int station, const std::string& code) {
  const long long stored = data::song::DurationSeconds(lib.db().record(data::kSongs)) * 1000;
  editor::MpegScanDurationMeter meter(&lib.log());
  const bool loaded = meter.LoadSoundFast(data::SoundFilePath(lib, station, Utf8ToCp1252(code)));
  const long long measured = loaded ? meter.GetSoundDuration() : 0;
  const long long damaged = loaded ? meter.GetDamagedMs() : 0;
  const bool damagedFrames = loaded && meter.GetDamagedFrames() > 0;
  meter.CloseSound();
  // A damaged sound's frames are all in the file; no duration is written from it.
  if (measured > 0) return {measured + damaged, true, damagedFrames};
  return {stored, false, false};
}

// A code as typed: refused (exit 2) when it is not one song's code.
bool codeAccepted(const std::string& code) {
  const std::string refusal = data::CheckSongCode(code);
  if (refusal.empty()) return true;
  std::fprintf(stderr, "%s\n", refusal.c_str());
  return false;
}

int demoBuild(const Options& options) {
  const auto songs = ParseInt(options.value("songs", "2000"));
  const auto seed = ParseInt(options.value("seed", "20261206"));
  const auto stations = ParseInt(options.value("stations", "0"));
  const auto sounds = ParseInt(options.value("sounds", "0"));
  if (!songs || *songs < 1 || *songs > 1000000 || !seed || !stations || *stations < 0 ||
      *stations > 10 || !sounds || *sounds < 0 || *sounds > 1000)
    return Usage("demo build: --songs 1..1000000, --stations 1..10, --sounds 0..1000");
  if (*stations > 0) {
    // The base gets that many stations before the library is built.
    Session site(options, true);
    if (!site.loadSite()) return 1;
    const BaseInfo& base = site.app.config().current();
    const std::string section = BaseSection(site.app.config().currentBase());
    EcritureIni(base.systemFile, section, "NbStation", std::to_string(*stations));
    for (int s = 1; s <= *stations; ++s) {
      const std::string st = StationSection(site.app.config().currentBase(), s);
      if (LectureIni(base.systemFile, st, "Lib", "").empty())
        EcritureIni(base.systemFile, st, "Lib", "Station " + NN(s));
      if (LectureIni(base.systemFile, st, "Actif", "").empty()) EcritureIni(base.systemFile, st, "Actif", "1");
    }
  }
  {
    Session site(options, true);
    if (!site.loadSite() || !site.createMissingFiles()) return 1;
  }
  LibrarySession ls(options);
  if (!ls.open(1)) return 1;
  data::DemoLibraryOptions demo;
  demo.songs = static_cast<int>(*songs);
  demo.seed = static_cast<uint32_t>(*seed);
  const data::DemoLibraryResult result = data::BuildDemoLibrary(ls.lib, demo);
  if (!result.ok) {
    std::fprintf(stderr, "Bibliothèque de démonstration incomplète: erreur de la base (voir le journal); "
                         "relancer la commande la complète.\n");
    return 1;
  }
  demo::DemoSoundsResult made;
  if (*sounds > 0) {
    made = demo::AddDemoSounds(ls.lib, static_cast<int>(*sounds), demo.seed);
    if (!made.error.empty()) std::fprintf(stderr, "%s\n", made.error.c_str());
  }
  // Averages for the scheduler, as the statistics keep them.
  std::string key = data::Library::Key(std::string(5, '\0'));
  data::BtrieveOptions quiet;
  quiet.silent = true;
  int st = ls.lib.db().GetGreaterOrEqual(ls.lib.base(), data::kArtists, 1, data::kArtistByCode, key, "demo", quiet);
  while (st == 0) {
    ls.stats.queueArtist(key.substr(0, 5));
    st = ls.lib.db().GetNext(ls.lib.base(), data::kArtists, 1, data::kArtistByCode, key, "demo", quiet);
  }
  key = data::Library::Key("CATEG");
  st = ls.lib.db().GetGreaterOrEqual(ls.lib.base(), data::kCodeTables, 1, data::kCodeTableByTypeAndCode, key, "demo", quiet);
  while (st == 0 && key.substr(0, 5) == "CATEG") {
    ls.stats.queueCategory(key.substr(5, 5));
    st = ls.lib.db().GetNext(ls.lib.base(), data::kCodeTables, 1, data::kCodeTableByTypeAndCode, key, "demo", quiet);
  }
  const bool artistsDone = ls.stats.MAJDureeMoyenneArtistes();
  const bool averages = ls.stats.MAJDureeMoyenneCategories() && artistsDone;
  std::printf("Bibliothèque de démonstration: %d morceaux, %d artistes, %d catégories, %d jeux de pointeurs\n",
              result.songs, result.artists, result.categories, result.pointerSets);
  if (*sounds > 0) std::printf("Sons de démonstration: %d\n", made.written);
  if (!averages) std::fprintf(stderr, "Durées moyennes non recomptées (voir le journal).\n");
  return databaseVerdict(ls.lib, made.error.empty() && averages ? 0 : 1);
}

int search(const Options& options, const std::vector<std::string>& words) {
  data::SearchRequest request;
  request.station = options.station;
  const std::string kind = options.value("kind");
  using data::SearchKind;
  static const std::map<std::string, SearchKind> kKinds = {
      {"music", SearchKind::Music}, {"jingles", SearchKind::Jingles}, {"liners", SearchKind::Liners},
      {"rubriques", SearchKind::Rubriques}, {"infos", SearchKind::Infos}};
  if (!kind.empty()) {
    auto it = kKinds.find(kind);
    if (it == kKinds.end() || words.size() != 1) return Usage("search --kind music|jingles|liners|rubriques|infos");
    request.kind = it->second;
  } else {
    if (words.size() < 2) return Usage("search demande --kind ou --mode MODE TEXTE");
    const std::string mode = options.value("mode", data::SearchModeName(data::SearchMode::Libelle));
    const auto named = data::SearchModeNamed(mode);
    if (!named) return Usage("mode inconnu: " + mode + " (Libellé, Code, Commence, Contient)");
    request.mode = *named;
    for (size_t i = 1; i < words.size(); ++i) request.text += (i > 1 ? " " : "") + words[i];
  }
  // --types: the sound-type filter of this search, instead of the settings' one.
  const std::string types = options.value("types");
  const bool typesGiven = options.values.count("types") > 0;
  if (typesGiven && types != "all" && (types.empty() || types.find_first_not_of("0123456789") != std::string::npos))
    return Usage("--types demande des chiffres de 0 à 9, ou all");
  const std::string titles = options.value("titles", "title");
  if (titles != "title" && titles != "short" && titles != "both") return Usage("--titles title|short|both");
  request.titles = titles == "short" ? data::TitleOption::ShortTitle
                   : titles == "both" ? data::TitleOption::Both
                                      : data::TitleOption::Title;
  LibrarySession ls(options);
  if (!ls.open(options.station)) return 1;
  data::SongSearch search(ls.lib, ls.stats);
  search.filters = data::SearchFilters::From(ls.session.app.startup());
  if (typesGiven) {
    StartupSettings ticked;
    ticked.soundTypes = types == "all" ? "" : types;
    search.filters.soundTypes = ticked.SoundTypeFilter();
  }
  search.skipDurationRepair = ls.stats.skipRecount;
  search.RechercheDansLaBase_01_Morceau(request);
  if (!search.refusal.empty()) return 1;  // the message was shown
  std::string header;
  for (size_t c = 0; c < data::kSongGridColumns.size(); ++c) header += (c ? "\t" : "") + std::string(data::kSongGridColumns[c]);
  std::printf("%s\n", header.c_str());
  for (size_t r = 0; r < search.grid.size(); ++r) {
    std::string line;
    for (size_t c = 0; c < data::kSongGridColumns.size(); ++c) line += (c ? "\t" : "") + search.grid.cell(r, c);
    std::printf("%s\n", line.c_str());
  }
  if (search.grid.size() == 0 && request.kind == SearchKind::Text) std::fprintf(stderr, "Aucun morceau trouvé.\n");
  // Durations the search repaired: their averages are recounted now.
  const bool artistsDone = ls.stats.MAJDureeMoyenneArtistes();
  const bool averages = ls.stats.MAJDureeMoyenneCategories() && artistsDone;
  if (!averages) std::fprintf(stderr, "Durées moyennes non recomptées (voir le journal).\n");
  return databaseVerdict(ls.lib, averages ? 0 : 1);
}

int songShow(const Options& options, const std::string& code) {
  if (!codeAccepted(code)) return 2;
  LibrarySession ls(options);
  if (!ls.open(options.station)) return 1;
  if (!readSong(ls.lib, options.station, code)) return 1;
  const std::string r = ls.lib.db().record(data::kSongs);
  using namespace data;
  auto line = [](const char* label, const std::string& value) { std::printf("%-26s %s\n", label, value.c_str()); };
  line("Code:", GetText(r, song::kCode));
  line("Titre:", GetText(r, song::kTitle));
  line("Titre court:", GetText(r, song::kShortTitle));
  line("Artiste 1:", GetText(r, song::kArtist1) + " " + ls.lib.LibArtiste(options.station, GetRaw(r, song::kArtist1)));
  line("Artiste 2:", GetText(r, song::kArtist2) + " " + ls.lib.LibArtiste(options.station, GetRaw(r, song::kArtist2)));
  line("Catégorie:", GetText(r, song::kCategory) + " " + ls.lib.LibCategorie(options.station, GetRaw(r, song::kCategory)));
  line("Durée (s):", std::to_string(song::DurationSeconds(r)));
  line("Durée forcée:", GetRaw(r, song::kForcedFlag) + " " + GetRaw(r, song::kForcedDuration));
  line("Intro (s):", GetRaw(r, song::kIntroSeconds));
  line("Type de fin:", "\"" + GetRaw(r, song::kEndType) + "\" état " + GetRaw(r, song::kEndState));
  line("Jeu / Son:", GetRaw(r, song::kPlayable) + " / " + GetRaw(r, song::kSound));
  line("Stations (454):", GetRaw(r, song::kStations));
  line("Type de son (900):", GetRaw(r, song::kSoundType));
  line("Drapeau 108:", GetRaw(r, song::kFlag108));
  line("Fichier son:", SoundFilePath(ls.lib, options.station, GetRaw(r, song::kCode)));
  return databaseVerdict(ls.lib);
}

// The song form's save from the command line: the titles given replace the
// stored ones on the station, the other fields stay.
int songSet(const Options& options, const std::string& code) {
  if (!codeAccepted(code)) return 2;
  const std::string title = options.value("title"), shortTitle = options.value("short-title");
  if (title.empty() && shortTitle.empty()) return Usage("song set CODE --title TEXTE et/ou --short-title TEXTE");
  LibrarySession ls(options);
  if (!ls.open(options.station)) return 1;
  std::optional<data::SongForm> form = data::LectureFicheMorceau(ls.lib, options.station, Utf8ToCp1252(code));
  if (!form) return Fail("morceau non trouvé sur la station " + std::to_string(options.station) + ": " + code);
  if (!title.empty()) form->title = title;
  if (!shortTitle.empty()) form->shortTitle = shortTitle;
  data::DurationStatistics stats(ls.lib);
  if (!data::saveSongForm(ls.lib, stats, options.station, *form, false))
    return Fail("morceau " + code + " non enregistré (voir le journal)");
  std::printf("Morceau %s enregistré\n", code.c_str());
  return databaseVerdict(ls.lib);
}

int ptxShow(const Options& options, const std::string& code) {
  if (!codeAccepted(code)) return 2;
  LibrarySession ls(options);
  if (!ls.open(options.station)) return 1;
  if (!readSong(ls.lib, options.station, code)) return 1;
  const data::SoundLength length = soundLength(ls.lib, options.station, code);
  data::PointerSet set(ls.lib);
  set.Load(options.station, Utf8ToCp1252(code), length.ms, length.measured);
  if (length.measured) std::printf("Durée du son: %lld ms%s\n", length.ms, length.damaged ? " (son endommagé)" : "");
  else std::printf("Durée du son: inconnue (pas de son; durée du morceau: %lld ms)\n", length.ms);
  for (int s = 0; s < data::kSlots; ++s) {
    const data::SlotInfo& info = data::SlotDescription(s);
    std::printf("%d\t%-10s\t%lld\t%lld\t%s\n", s, info.label, set.position[s], set.second[s],
                set.grid.cell(1, info.firstColumn).c_str());
  }
  std::printf("Périphérique: %d\n", set.grid.sendDevice);
  std::printf("Durée de passage: %lld ms\n", set.DeterminePlayDuration());
  std::printf("Durée d'intro: %lld ms\n", set.DetermineDureeIntro());
  return databaseVerdict(ls.lib);
}

// One slot set from the command line: the value goes through the editor's
// ranges and rules (refused: exit 2, nothing written), is stored on every
// station, and what the station holds afterwards is printed.
int ptxSet(const Options& options, const std::vector<std::string>& words) {
  if (words.size() < 5 || words.size() > 6) return Usage("ptx set CODE SLOT VALEUR [SECONDE]");
  const std::string code = words[2];
  const auto slot = ParseInt(words[3]);
  const auto value = ParseInt(words[4]);
  const auto second = words.size() == 6 ? ParseInt(words[5]) : std::optional<long long>(0);
  if (!slot || *slot < 0 || *slot >= data::kSlots || !value || !second)
    return Usage("ptx set: SLOT 0..9, VALEUR et SECONDE entiers");
  if (!codeAccepted(code)) return 2;
  const int s = static_cast<int>(*slot);
  const data::SlotInfo& info = data::SlotDescription(s);
  if (words.size() == 6 && info.secondColumn == 0 && *second != 0)
    return Usage(std::string("ptx set: ") + info.label + " n'a pas de seconde valeur");
  LibrarySession ls(options);
  if (!ls.open(options.station)) return 1;
  if (!readSong(ls.lib, options.station, code)) return 1;
  const std::string cpCode = Utf8ToCp1252(code);
  const std::string endType = GetRaw(ls.lib.db().record(data::kSongs), data::song::kEndType);
  const data::SoundLength length = soundLength(ls.lib, options.station, code);
  data::PointerSet set(ls.lib);
  set.Load(options.station, cpCode, length.ms, length.measured);
  set.keepDuration = length.damaged;
  set.endType = endType == "F" ? 1 : endType == "E" ? 2 : endType == "D" ? 3 : 0;
  const long long storedMs = data::song::DurationSeconds(ls.lib.db().record(data::kSongs)) * 1000;
  set.onDurationsStored = [&](const std::string& c, std::optional<long long> play, long long intro, char end) {
    bool failed = false;
    data::SoundUpdateDuration(ls.lib, ls.stats, c, play, intro, end, &failed);
    return !failed;
  };
  const std::string refusal = set.MemoriseUserValue(s, static_cast<double>(*value), static_cast<double>(*second));
  if (!refusal.empty()) {
    std::fprintf(stderr, "Refusé: %s\n", refusal.c_str());
    return 2;
  }
  // A play duration far from the song's is written only when the user says so
  // (--interactive; otherwise the song keeps its duration).
  if (const auto play = set.PlayDurationToStore();
      play && data::DurationFar((*play + 500) / 1000 * 1000, storedMs) &&
      ls.session.prompt.message(fmt::format("La durée de passage du son {} ({} ms) est très différente de celle "
                                            "du morceau ({} ms). Voulez-vous l'enregistrer sur toutes les stations ?",
                                            code, *play, storedMs),
                                Icon::Question, Buttons::YesNo) != Answer::Yes)
    set.keepDuration = true;
  if (length.damaged) std::fprintf(stderr, "Son endommagé: la durée du morceau est gardée.\n");
  const bool stored = set.PointeurMemoriseDataBase(cpCode, "", s, true, false);
  bool averages = true;
  if (stored) {
    const bool artistsDone = ls.stats.MAJDureeMoyenneArtistes();
    averages = ls.stats.MAJDureeMoyenneCategories() && artistsDone;
  }
  // What the station holds now, read back: the truth, whatever happened.
  long long pos = 0, sec = 0;
  if (s == data::kPitch) {
    data::PtxChargerPointeurPitch(ls.lib, options.station, cpCode, pos);
  } else if (s == data::kLevel) {
    float level = 0;
    data::PtxChargerPointeurLevel(ls.lib, options.station, cpCode, level);
    pos = std::llround(static_cast<double>(level) * 100.0);
  } else if (s == data::kSend) {
    int device = -1;
    data::PtxChargerPointeurSend(ls.lib, options.station, cpCode, device, pos);
  } else {
    data::PtxChargerPointeur(ls.lib, options.station, cpCode, info.type, pos, sec);
  }
  const std::string held = info.secondColumn ? fmt::format("{} {}", pos, sec) : std::to_string(pos);
  if (!stored) {
    std::fprintf(stderr, "Non enregistré: %s %s (erreur de la base, voir le journal); valeur en base: %s\n",
                 code.c_str(), info.label, held.c_str());
    return 1;
  }
  std::printf("Enregistré: %s %s = %s\n", code.c_str(), info.label, held.c_str());
  QueueSongChange(ls, cpCode, false, "sonoteka-cli:ptx set");
  if (!averages) std::fprintf(stderr, "Durées moyennes non recomptées (voir le journal).\n");
  return databaseVerdict(ls.lib, averages ? 0 : 1);
}

int statsRecount(const Options& options) {
  LibrarySession ls(options);
  if (!ls.open(1)) return 1;
  data::BtrieveOptions quiet;
  quiet.silent = true;
  std::string key = data::Library::Key(std::string(5, '\0'));
  int st = ls.lib.db().GetGreaterOrEqual(ls.lib.base(), data::kArtists, 1, data::kArtistByCode, key, "stats", quiet);
  int artists = 0, categories = 0;
  while (st == 0) {
    ls.stats.queueArtist(key.substr(0, 5));
    ++artists;
    st = ls.lib.db().GetNext(ls.lib.base(), data::kArtists, 1, data::kArtistByCode, key, "stats", quiet);
  }
  key = data::Library::Key("CATEG");
  st = ls.lib.db().GetGreaterOrEqual(ls.lib.base(), data::kCodeTables, 1, data::kCodeTableByTypeAndCode, key, "stats", quiet);
  while (st == 0 && key.substr(0, 5) == "CATEG") {
    ls.stats.queueCategory(key.substr(5, 5));
    ++categories;
    st = ls.lib.db().GetNext(ls.lib.base(), data::kCodeTables, 1, data::kCodeTableByTypeAndCode, key, "stats", quiet);
  }
  const bool recounted = ls.stats.RecountArtistsAndCategories();
  if (!recounted || ls.lib.db().errors() > 0) {
    std::fprintf(stderr, "Recomptage incomplet: erreur de la base (voir le journal); %s\n",
                 recounted ? "les durées lues en erreur ne sont pas écrites" : "les lots en erreur ne sont pas écrits");
    return 1;
  }
  std::printf("Recompté: %d artistes, %d catégories%s\n", artists, categories,
              ls.stats.skipRecount ? " (poste VPN: rien écrit)" : "");
  return 0;
}

// The program's settings as the workstation reads them; `set` writes one and
// prints what the file holds afterwards.
int settingsCommand(const Options& options, const std::vector<std::string>& words) {
  const bool show = words.size() == 2 && words[1] == "show";
  const bool set = words.size() == 4 && words[1] == "set";
  if (!show && !set) return Usage("settings show | settings set SECTION/CLÉ VALEUR");
  Session session(options);
  if (!session.loadSite()) return 1;
  session.app.startLogging();
  ProgramSettings& settings = session.app.settings();
  settings.Load();
  if (set) {
    bool usage = false;
    const std::string error = settings.Set(words[2], words[3], usage);
    if (!error.empty()) return usage ? Usage(error) : Fail(error);
    settings.Load();  // what the file holds now
  }
  std::string meaningOf;
  for (const auto& [name, value] : settings.List()) {
    if (set && !EqualsNoCase(name, words[2])) continue;
    for (const auto& entry : SettingsTable())
      if (name.rfind(ProgramSettings::Name(entry), 0) == 0) meaningOf = entry.meaning;
    std::printf("%s%s=%s\t(%s)\n", set ? "Enregistré: " : "", name.c_str(), value.c_str(), meaningOf.c_str());
  }
  if (show)
    std::printf("Filtre des types de son appliqué: %s\n", session.app.startup().SoundTypeFilter().c_str());
  session.app.log().Flush();
  return 0;
}

// The cart slots (numbered from 1, as the panel shows them) with their titles.
int cartCommand(const Options& options, const std::vector<std::string>& words) {
  const std::string verb = words.size() > 1 ? words[1] : "";
  const bool show = verb == "show" && words.size() == 2;
  const bool load = verb == "load" && words.size() == 4;
  const bool eject = verb == "eject" && words.size() == 3;
  if (!show && !load && !eject) return Usage("cart show | cart load N CODE | cart eject N");
  std::optional<long long> slot;
  if (!show) {
    slot = ParseInt(words[2]);
    if (!slot || *slot < 1 || *slot > kCartridgeSlots)
      return Usage("cart: N de 1 à " + std::to_string(kCartridgeSlots));
  }
  LibrarySession ls(options);
  if (!ls.open(options.station)) return 1;
  data::Cartouchier carts(ls.lib, ls.session.app.settings());
  carts.Refresh(options.station);
  bool done = true;
  if (load) done = carts.Charger(static_cast<int>(*slot) - 1, words[3]);
  if (eject) done = carts.Ejecter(static_cast<int>(*slot) - 1);
  if (show) std::printf("Cartouchier: %s\n", carts.active() ? "affiché" : "masqué");
  for (int i = 0; i < data::Cartouchier::size(); ++i) {
    if (!show && i != *slot - 1) continue;
    const data::Cartouchier::Slot& s = carts.slot(i);
    std::printf("%d\t%s\t%s\n", i + 1, s.empty() ? "*" : s.code.c_str(),
                s.empty() ? "" : s.found ? s.title.c_str() : "(morceau non trouvé)");
  }
  return done ? 0 : 1;
}

}  // namespace

int LibraryCommand(const Options& options, const std::vector<std::string>& words) {
  const std::string first = words[0], second = words.size() > 1 ? words[1] : "";
  if (first == "demo" && second == "build" && words.size() == 2) return demoBuild(options);
  if (first == "search") return search(options, words);
  if (first == "song" && second == "show" && words.size() == 3) return songShow(options, words[2]);
  if (first == "song" && second == "set" && words.size() == 3) return songSet(options, words[2]);
  if (first == "ptx" && second == "show" && words.size() == 3) return ptxShow(options, words[2]);
  if (first == "ptx" && second == "set") return ptxSet(options, words);
  if (first == "stats" && second == "recount" && words.size() == 2) return statsRecount(options);
  if (first == "settings") return settingsCommand(options, words);
  if (first == "cart") return cartCommand(options, words);
  return Usage("commande inconnue: " + first + " " + second);
}

}  // namespace sono::cli
