#include "data/songs.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <ctime>

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
  return lib.db().GetEqual(lib.base(), kSongs, station, kSongByCode, key, caller("LectureMorceau"), options) == 0;
}

// Inserts `record` into `file` unless a record with the same key 0 exists;
// false on a database error.
bool insertIfMissing(Library& lib, int station, FileNumber file, const std::string& record, int key0Length) {
  std::string key = Library::Key(record.substr(0, static_cast<size_t>(key0Length)));
  BtrieveOptions quiet;
  quiet.silent = true;
  const int found = lib.db().GetEqual(lib.base(), file, station, kPrimaryKey, key, caller("Compagnon"), quiet);
  if (found == 0) return true;
  if (found != 4) return false;
  lib.db().record(file) = record;
  key = Library::Key(record.substr(0, static_cast<size_t>(key0Length)));
  const int st = lib.db().Insert(lib.base(), file, station, kPrimaryKey, key, caller("Compagnon"));
  return st == 0 || st == 5;
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

bool SongRecordFollowsSound(const std::string& code) {
  const int kind = KindOfCode(code);
  return kind >= 0 && kind <= 4;
}

const std::string* SoundFolder(Library& lib, int station, const std::string& code) {
  static const SoundKind kFolders[] = {SoundKind::Mus, SoundKind::Jin, SoundKind::Lin,
                                       SoundKind::Rub, SoundKind::Inf, SoundKind::Pre};
  const int kind = KindOfCode(code);
  const SoundKind folderKind = kind < 0 ? SoundKind::Tmp : kFolders[kind];
  const BaseInfo& base = lib.config().current();
  if (station < 1 || station > base.stationCount) return nullptr;
  return &base.sounds[station - 1][static_cast<int>(folderKind)].folder;
}

std::string SoundFilePath(Library& lib, int station, const std::string& code) {
  const std::string* folder = SoundFolder(lib, station, code);
  return folder ? *folder + SoundFileName(code) : std::string();
}

std::string CheckSongCode(const std::string& codeUtf8) {
  const std::string code = Utf8ToCp1252(codeUtf8);
  if (IsBlank(code)) return "Code de morceau vide.";
  if (code.size() > static_cast<size_t>(song::kCode.length))
    return fmt::format("Code de morceau trop long : « {} » ({} caractères, {} au plus).", codeUtf8, code.size(),
                       song::kCode.length);
  return {};
}

bool SoundUpdateDuration(Library& lib, DurationStatistics& stats, const std::string& code,
                         std::optional<long long> playMs, long long introMs, char endType, bool* failed,
                         int* written) {
  bool any = false, error = false;
  // Every station's record in one transaction (joined when one is open).
  BaseTransaction txn(lib.db(), lib.base(), kSongs, caller("SoundUpdateDuration"));
  error = !txn.begun();
  std::vector<std::string> queued;
  int changed = 0;
  for (int station = 1; !error && station <= lib.stationCount(); ++station) {
    if (!readSong(lib, station, code)) {
      error = lib.db().status() != btr::status::kKeyNotFound;
      continue;
    }
    any = true;
    std::string& r = lib.db().record(kSongs);
    const std::string before = r;
    if (playMs) {
      if (!song::SetDurationSeconds(r, (*playMs + 500) / 1000))
        lib.log().TraceLog("Err: Duration too long for the song record: " + Trim(code));
      SetRaw(r, song::kDurationChanged, "0");
    }
    SetNumber(r, song::kIntroSeconds, std::min(999LL, (introMs + 500) / 1000));
    SetRaw(r, song::kEndType, std::string(1, endType));
    SetRaw(r, song::kEndState, endType == 'E' ? "E" : "N");
    if (r == before) continue;  // nothing to change: nothing written
    std::string key = Library::Key(Calibre(code, 8));
    if (lib.db().Update(lib.base(), kSongs, station, kSongByCode, key, caller("SoundUpdateDuration")) != 0) {
      error = true;
      break;
    }
    ++changed;
    if (song::DurationSeconds(r) != song::DurationSeconds(before)) queued.push_back(r);
  }
  if (!error && txn.commit() != 0) error = true;
  if (error) {
    txn.abort();
    any = false;
    changed = 0;
    lib.log().TraceLog("Err: SoundUpdateDuration: not stored |Code: " + Trim(code));
  } else {
    for (const std::string& r : queued) stats.MAJDureesEtDureeMoyenne(r);
  }
  if (failed) *failed = error;
  if (written) *written = changed;
  return any;
}

std::optional<LocalDateTime> DateModificationFichier(const std::string& path) {
  struct stat st;
  struct tm local;
  if (::stat(path.c_str(), &st) != 0 || !localtime_r(&st.st_mtime, &local)) return std::nullopt;
  return LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec, 0};
}

bool HasRecorderRecord(Library& lib, int station, const std::string& code) {
  std::string key = Library::Key(Calibre(code, 8));
  BtrieveOptions quiet;
  quiet.silent = true;
  return lib.db().GetEqual(lib.base(), kRecorderSongs, station, kRecorderSongByCode, key, caller("FRAD026"), quiet) == 0;
}

bool CreateCompanionRecords(Library& lib, int station, const std::string& songRecord) {
  std::string r;
  FillRecorderRecord(r, songRecord, lib.LibArtiste(station, GetRaw(songRecord, song::kArtist1)));
  bool ok = insertIfMissing(lib, station, kRecorderSongs, r, 8);
  FillComplementRecord(r, songRecord);
  ok = insertIfMissing(lib, station, kComplementKeys, r, 18) && ok;
  FillTitleRecord(r, songRecord);
  return insertIfMissing(lib, station, kTitles, r, 8) && ok;
}

// Rewrites the companions whose keys carry the song's title, artist or
// category; false on a database error.
static bool refreshCompanions(Library& lib, int station, const std::string& songRecord) {
  const std::string code = GetRaw(songRecord, song::kCode);
  BtrieveOptions quiet;
  quiet.silent = true;
  bool ok = true;
  auto found = [&](int st) {
    if (st != 0 && st != 4) ok = false;
    return st == 0;
  };
  std::string key = Library::Key(code);
  if (found(lib.db().GetEqual(lib.base(), kRecorderSongs, station, kRecorderSongByCode, key, caller("FRAD026"), quiet))) {
    FillRecorderRecord(lib.db().record(kRecorderSongs), songRecord,
                       lib.LibArtiste(station, GetRaw(songRecord, song::kArtist1)));
    ok = lib.db().Update(lib.base(), kRecorderSongs, station, kRecorderSongByCode, key, caller("FRAD026")) == 0 && ok;
  }
  key = Library::Key(code);
  if (found(lib.db().GetEqual(lib.base(), kTitles, station, kTitleByCode, key, caller("FRAD048"), quiet))) {
    FillTitleRecord(lib.db().record(kTitles), songRecord);
    ok = lib.db().Update(lib.base(), kTitles, station, kTitleByCode, key, caller("FRAD048")) == 0 && ok;
  }
  // FRAD029's key 0 holds the artist and category: the old record is found
  // by the song code (key 2) and replaced.
  key = Library::Key(code);
  if (found(lib.db().GetEqual(lib.base(), kComplementKeys, station, kComplementBySongCode, key, caller("FRAD029"), quiet)))
    ok = lib.db().Delete(lib.base(), kComplementKeys, station, kComplementBySongCode, key, caller("FRAD029")) == 0 && ok;
  return CreateCompanionRecords(lib, station, songRecord) && ok;
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
  int st = lib.db().GetGreaterOrEqual(lib.base(), kArtists, station, kArtistByCode, key, caller("ListeArtistes"), quiet);
  while (st == 0) {
    const std::string& r = lib.db().record(kArtists);
    artists.push_back({Trim(GetRaw(r, artist::kCode)), Trim(GetText(r, artist::kName))});
    st = lib.db().GetNext(lib.base(), kArtists, station, kArtistByCode, key, caller("ListeArtistes"), quiet);
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

std::string ChangedElsewhereQuestion(const std::string& code) {
  return "Le morceau " + Cp1252ToUtf8(Trim(code)) +
         " a été modifié sur un autre poste depuis son affichage.\n\n"
         "Enregistrer quand même vos modifications ? Tous les champs de la fiche remplaceront ceux "
         "de l'autre poste.\n(Non: rien n'est enregistré, vos modifications restent dans la fiche.)";
}

namespace {

// The form to write when `stored` is what the station holds now and the user
// edited `asLoaded` into `edited`: the fields the user left as they were
// take the stored values (a change made elsewhere stays); `conflict` is set
// when a field the user changed was also changed elsewhere, to another value.
SongForm MergeWithStored(const SongForm& edited, const SongForm& asLoaded, const SongForm& stored, bool& conflict) {
  SongForm out = edited;
  const auto field = [&](auto SongForm::*member) {
    if (edited.*member == asLoaded.*member) out.*member = stored.*member;
    else if (stored.*member != asLoaded.*member && stored.*member != edited.*member) conflict = true;
  };
  field(&SongForm::title);
  field(&SongForm::shortTitle);
  field(&SongForm::artist1);
  field(&SongForm::artist2);
  field(&SongForm::category);
  field(&SongForm::durationSeconds);
  field(&SongForm::forcedDuration);
  field(&SongForm::forcedSeconds);
  field(&SongForm::playable);
  field(&SongForm::sound);
  field(&SongForm::soundType);
  return out;
}

}  // namespace

bool saveSongForm(Library& lib, DurationStatistics& stats, int station, const SongForm& edited,
                  bool allStations, const SongForm* asLoaded) {
  SongForm form = edited;
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
  if (asLoaded) {
    const std::optional<SongForm> stored = LectureFicheMorceau(lib, station, code);
    bool conflict = false;
    if (stored) form = MergeWithStored(edited, *asLoaded, *stored, conflict);
    if (conflict) {
      lib.log().TraceLog("Err: Sauvegarder: song changed on another workstation since shown |Code: " + Trim(code));
      if (prompt.message(ChangedElsewhereQuestion(code), Icon::Question, Buttons::YesNo, "Ondavia: Sonoteka") !=
          Answer::Yes)
        return false;
    }
  }
  const auto step = [&](int n) {
    prompt.setStepLabel(fmt::format("Sauvegarde du morceau {}: {:02}/10", Trim(code), n));
    lib.events().processEvents();
  };
  prompt.showStepWindow(true);
  step(1);
  const int first = allStations ? 1 : station, last = allStations ? lib.stationCount() : station;
  // Every station's song and companions in one transaction: all saved, or
  // none (the form keeps its edits, and saying so).
  BaseTransaction txn(lib.db(), lib.base(), kSongs, caller("Sauvegarder"));
  bool ok = txn.begun();
  std::vector<std::string> saved;
  for (int st = first; ok && st <= last; ++st) {
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
    const int status = lib.db().BTRieve(lib.base(), exists ? Operation::Update : Operation::Insert, kSongs,
                                             st, kSongByCode, key, caller("Sauvegarder"));
    if (status != 0) {
      ok = false;
      break;
    }
    saved.push_back(r);
    step(7);
    if (!refreshCompanions(lib, st, saved.back())) ok = false;
    step(8);
  }
  if (ok && txn.commit() != 0) ok = false;
  if (!ok) {
    txn.abort();
    lib.log().TraceLog("Err: Sauvegarder: song not saved |Code: " + Trim(code));
  }
  step(9);
  // The averages follow from the songs as stored (each its own transactions).
  if (ok) {
    for (const std::string& r : saved) stats.MAJDureesEtDureeMoyenne(r);
    stats.MAJDureeMoyenneArtistes();
    stats.MAJDureeMoyenneCategories();
  }
  step(10);
  prompt.showStepWindow(false);
  return ok;
}

}  // namespace sono::data
