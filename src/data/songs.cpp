#include "data/songs.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include "core/text.h"
#include "data/records.h"
#include "data/search.h"

namespace sono::data {

namespace {
constexpr const char* kModule = "Lib_Data_Morceau";
std::string caller(const char* procedure) { return std::string(kModule) + ":" + procedure; }

bool readSong(Library& lib, int station, const std::string& code, bool quiet = true) {
  std::string key = Library::Key(Calibre(code, 8));
  BtrieveOptions options;
  options.silent = quiet;
  return lib.db().BTRieve(lib.base(), 5, key, 0, kSongs, station, caller("LectureMorceau"), options) == 0;
}

// Inserts `record` into `file` unless a record with the same key 0 exists.
void insertIfMissing(Library& lib, int station, int file, const std::string& record, int key0Length) {
  std::string key = Library::Key(record.substr(0, static_cast<size_t>(key0Length)));
  BtrieveOptions quiet;
  quiet.silent = true;
  if (lib.db().BTRieve(lib.base(), 5, key, 0, file, station, caller("Compagnon"), quiet) == 0) return;
  lib.db().record(file) = record;
  key = Library::Key(record.substr(0, static_cast<size_t>(key0Length)));
  lib.db().BTRieve(lib.base(), 2, key, 0, file, station, caller("Compagnon"));
}
}  // namespace

int KindOfCode(const std::string& code) {
  if (code.size() < 3) return -1;
  const std::string p = code.substr(0, 3);
  if (std::isdigit(static_cast<unsigned char>(p[0])) && std::isdigit(static_cast<unsigned char>(p[1])) &&
      std::isdigit(static_cast<unsigned char>(p[2])))
    return 0;
  static const char* kPrefixes[] = {"JIN", "LIN", "RUB", "INF", "PRE"};
  for (int i = 0; i < 5; ++i)
    if (p == kPrefixes[i]) return i + 1;
  return -1;
}

std::string SoundFilePath(Library& lib, int station, const std::string& code) {
  static const SoundKind kFolders[] = {SoundKind::Mus, SoundKind::Jin, SoundKind::Lin,
                                       SoundKind::Rub, SoundKind::Inf, SoundKind::Pre};
  const int kind = KindOfCode(code);
  const SoundKind folderKind = kind < 0 ? SoundKind::Tmp : kFolders[kind];
  const BaseInfo& base = lib.config().current();
  if (station < 1 || station > base.stationCount) return {};
  return base.sounds[station - 1][static_cast<int>(folderKind)].folder + Trim(code) + ".s48";
}

std::optional<long long> HouseFormatDurationMs(const std::string& path) {
  struct stat st{};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (st.st_size == 0 || st.st_size % 768 != 0) return std::nullopt;
  return static_cast<long long>(st.st_size / 768) * 24;
}

bool SoundUpdateDuration(Library& lib, DurationStatistics& stats, const std::string& code,
                         long long playMs, long long introMs, char endType) {
  bool any = false;
  for (int station = 1; station <= lib.stationCount(); ++station) {
    if (!readSong(lib, station, code)) continue;
    std::string& r = lib.db().record(kSongs);
    if (!song::SetDurationSeconds(r, (playMs + 500) / 1000))
      lib.log().TraceLog("Err: Duration too long for the song record: " + Trim(code));
    SetNumber(r, song::kIntroSeconds, std::min(999LL, (introMs + 500) / 1000));
    SetRaw(r, song::kEndType, std::string(1, endType));
    SetRaw(r, song::kEndState, endType == 'E' ? "E" : "N");
    SetRaw(r, song::kDurationChanged, "0");
    std::string key = Library::Key(Calibre(code, 8));
    if (lib.db().BTRieve(lib.base(), 3, key, 0, kSongs, station, caller("SoundUpdateDuration")) == 0) {
      any = true;
      stats.MAJDureesEtDureeMoyenne(r);
    }
  }
  return any;
}

bool HasRecorderRecord(Library& lib, int station, const std::string& code) {
  std::string key = Library::Key(Calibre(code, 8));
  BtrieveOptions quiet;
  quiet.silent = true;
  return lib.db().BTRieve(lib.base(), 5, key, 0, kRecorderSongs, station, caller("FRAD026"), quiet) == 0;
}

void CreateCompanionRecords(Library& lib, int station, const std::string& songRecord) {
  std::string r;
  FillRecorderRecord(r, songRecord, lib.LibArtiste(station, GetRaw(songRecord, song::kArtist1)));
  insertIfMissing(lib, station, kRecorderSongs, r, 8);
  FillComplementRecord(r, songRecord);
  insertIfMissing(lib, station, kComplementKeys, r, 18);
  FillTitleRecord(r, songRecord);
  insertIfMissing(lib, station, kTitles, r, 8);
}

// Rewrites the companions whose keys carry the song's title, artist or category.
static void refreshCompanions(Library& lib, int station, const std::string& songRecord) {
  const std::string code = GetRaw(songRecord, song::kCode);
  BtrieveOptions quiet;
  quiet.silent = true;
  std::string key = Library::Key(code);
  if (lib.db().BTRieve(lib.base(), 5, key, 0, kRecorderSongs, station, caller("FRAD026"), quiet) == 0) {
    FillRecorderRecord(lib.db().record(kRecorderSongs), songRecord,
                       lib.LibArtiste(station, GetRaw(songRecord, song::kArtist1)));
    lib.db().BTRieve(lib.base(), 3, key, 0, kRecorderSongs, station, caller("FRAD026"));
  }
  key = Library::Key(code);
  if (lib.db().BTRieve(lib.base(), 5, key, 0, kTitles, station, caller("FRAD048"), quiet) == 0) {
    FillTitleRecord(lib.db().record(kTitles), songRecord);
    lib.db().BTRieve(lib.base(), 3, key, 0, kTitles, station, caller("FRAD048"));
  }
  // FRAD029's key 0 holds the artist and category: the old record is found
  // by the song code (key 2) and replaced.
  key = Library::Key(code);
  if (lib.db().BTRieve(lib.base(), 5, key, 2, kComplementKeys, station, caller("FRAD029"), quiet) == 0)
    lib.db().BTRieve(lib.base(), 4, key, 2, kComplementKeys, station, caller("FRAD029"));
  CreateCompanionRecords(lib, station, songRecord);
}

std::optional<SongForm> LectureFicheMorceau(Library& lib, int station, const std::string& code) {
  if (!readSong(lib, station, code)) return std::nullopt;
  const std::string r = lib.db().record(kSongs);
  SongForm form;
  form.code = Calibre(code, 8);
  form.title = GetText(r, song::kTitle);
  form.shortTitle = GetText(r, song::kShortTitle);
  form.artist1 = Trim(GetRaw(r, song::kArtist1));
  form.artist2 = Trim(GetRaw(r, song::kArtist2));
  form.category = Trim(GetRaw(r, song::kCategory));
  form.durationSeconds = song::DurationSeconds(r);
  form.forcedDuration = GetRaw(r, song::kForcedFlag) == "O";
  form.forcedSeconds = GetNumber(r, song::kForcedDuration);
  form.playable = GetRaw(r, song::kPlayable);
  form.sound = GetRaw(r, song::kSound);
  const char digit = GetRaw(r, song::kSoundType)[0];
  form.soundType = digit >= '0' && digit <= '9' ? digit - '0' : 0;
  return form;
}

std::vector<ArtistChoice> ListeArtistes(Library& lib, int station) {
  std::vector<ArtistChoice> artists;
  std::string key = Library::Key(std::string(5, '\0'));
  BtrieveOptions quiet;
  quiet.silent = true;
  int st = lib.db().BTRieve(lib.base(), 9, key, 0, kArtists, station, caller("ListeArtistes"), quiet);
  while (st == 0) {
    const std::string& r = lib.db().record(kArtists);
    artists.push_back({Trim(GetRaw(r, artist::kCode)), Trim(GetText(r, artist::kName))});
    st = lib.db().BTRieve(lib.base(), 6, key, 0, kArtists, station, caller("ListeArtistes"), quiet);
  }
  // By name as a librarian reads it: "Émilie" among the E's.
  std::vector<std::pair<std::string, size_t>> order;
  for (size_t i = 0; i < artists.size(); ++i) order.emplace_back(SongSearch::Fold(Utf8ToCp1252(artists[i].name)), i);
  std::stable_sort(order.begin(), order.end());
  std::vector<ArtistChoice> sorted;
  for (const auto& o : order) sorted.push_back(std::move(artists[o.second]));
  artists = std::move(sorted);
  return artists;
}

bool CommandButton_01_Sauvegarder_01_Action(Library& lib, DurationStatistics& stats, int station, const SongForm& form,
              bool allStations) {
  Prompt& prompt = lib.prompt();
  const auto refuse = [&](const char* text) {
    prompt.message(text, Icon::Exclamation, Buttons::Ok, "Ondavia: Sonoteka");
    return false;
  };
  if (IsBlank(form.title)) return refuse("Vous devez saisir un libellé pour le morceau.");
  if (IsBlank(form.shortTitle)) return refuse("Vous devez saisir un libellé.");
  if (IsBlank(form.artist1) && IsBlank(form.artist2))
    return refuse("Vous devez sélectionner au moins un artiste.");
  if (IsBlank(form.category)) return refuse("Vous devez sélectionner une catégorie.");

  const std::string code = Calibre(form.code, 8);
  const auto step = [&](int n) {
    prompt.setStepLabel(fmt::format("Sauvegarde du morceau {}: {:02}/10", Trim(code), n));
    lib.events().processEvents();
  };
  prompt.showStepWindow(true);
  step(1);
  const int first = allStations ? 1 : station, last = allStations ? lib.stationCount() : station;
  bool ok = true;
  for (int st = first; st <= last; ++st) {
    step(st == first ? 2 : 6);
    const bool exists = readSong(lib, st, code);
    std::string& r = lib.db().record(kSongs);
    step(3);
    if (exists) stats.MAJDureesEtDureeMoyenne(r);  // the old artists and category change too
    if (!exists) {
      r.assign(song::kLength, ' ');
      song::PrepareNew(r, code, form.durationSeconds);
      SetRaw(r, song::kStations, "22222");
    }
    step(4);
    SetText(r, song::kTitle, form.title);
    SetText(r, song::kShortTitle, form.shortTitle);
    SetRaw(r, song::kArtist1, Calibre(form.artist1, 5));
    SetRaw(r, song::kArtist2, Calibre(form.artist2, 5));
    SetRaw(r, song::kCategory, Calibre(form.category, 5));
    song::SetDurationSeconds(r, form.durationSeconds);
    SetRaw(r, song::kForcedFlag, form.forcedDuration ? "O" : "N");
    SetNumber(r, song::kForcedDuration, form.forcedSeconds);
    SetRaw(r, song::kPlayable, form.playable);
    SetRaw(r, song::kSound, form.sound);
    SetRaw(r, song::kSoundType, std::to_string(std::clamp(form.soundType, 0, 9)));
    step(5);
    std::string key = Library::Key(code);
    const int status = lib.db().BTRieve(lib.base(), exists ? 3 : 2, key, 0, kSongs, st, caller("Sauvegarder"));
    if (status != 0) {
      ok = false;
      continue;
    }
    const std::string saved = r;
    step(7);
    refreshCompanions(lib, st, saved);
    step(8);
    stats.MAJDureesEtDureeMoyenne(saved);
  }
  step(9);
  stats.MAJDureeMoyenneArtistes();
  stats.MAJDureeMoyenneCategories();
  step(10);
  prompt.showStepWindow(false);
  return ok;
}

}  // namespace sono::data
