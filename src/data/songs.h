// Writing songs: the duration update after pointers or sounds change, the
// companion records that go with a song, and the save of the song form.
//
// Decisions of this port (the suite leaves them to each program):
//   - The duration update writes, in the song record of every station: the
//     play duration in seconds (positions 466 + 104) with "0" at 470 when
//     one is given (none when the sound's length is not known: the record
//     keeps its duration, see ptx.h), the intro in seconds (193, three
//     digits), the end-type code (573) and the end state (208: "E" for an
//     announced end, else "N"). A record these leave as it was is not
//     written. A changed duration queues the song's artists and category
//     for the statistics.
//   - A song's sound file is <sound folder of its kind and station><code>.s48
//     (SoundFilePath, with the name of SoundFileName).
//   - The save refuses a blank title ("Vous devez saisir un libellé pour le
//     morceau."), a blank short title ("Vous devez saisir un libellé."), a song
//     without artist and a song without category; it writes the edited fields,
//     on the current station or, with "StationsAll", on every station, and
//     keeps FRAD026, FRAD029 and FRAD048 in step, all in one transaction:
//     every station saved, or none (the save then returns false).
//   - A form saved over a song changed since the form was filled
//     (`asLoaded`: the song as the form read it; by another workstation, or
//     by this one's imports and stores) writes the fields the user edited
//     and keeps the stored values of the others, so a change made elsewhere
//     is never overwritten silently. When the user edited a field that was
//     also changed elsewhere the save asks first: "Le morceau … a été
//     modifié sur un autre poste …" (Yes writes the user's values; No saves
//     nothing and the form keeps its edits).
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/house_format.h"
#include "data/library.h"
#include "data/stats.h"

namespace sono::data {

// The sound kind of a code: 0 music, 1 jingles, 2 liners, 3 rubriques, 4 infos,
// 5 "PRE"; -1 for anything else.
int KindOfCode(const std::string& code);
// True when the song record follows its sound at the closing update of a
// take or a conversion: music ("000"–"999"), "JIN", "LIN", "RUB", "INF".
// Other codes ("PRE", codes of no kind) get their sound and nothing else.
bool SongRecordFollowsSound(const std::string& code);
// The song's sound file: the sound folder of its kind on the station and
// SoundFileName (library.h); `code` as the record holds it (Windows-1252).
std::string SoundFilePath(Library& lib, int station, const std::string& code);
// The folder of that file (the sound folder of the code's kind on the
// station); none for a station the base does not have.
const std::string* SoundFolder(Library& lib, int station, const std::string& code);
// A song code as typed (UTF-8): "" when it fits the record's 8 characters,
// else the French refusal (a longer code, cut to 8, would name another song).
std::string CheckSongCode(const std::string& codeUtf8);
// The size rule of house-format files lives with the format (core).
using sono::HouseFormatDurationMs;

// Writes durations and end type to the song of every station, in one
// transaction; false when the song was found nowhere or nothing could be
// stored. `failed` (when given) tells a database error from a missing song.
// `written` (when given) counts the stations whose record changed.
bool SoundUpdateDuration(Library& lib, DurationStatistics& stats, const std::string& code,
                         std::optional<long long> playMs, long long introMs, char endType,
                         bool* failed = nullptr, int* written = nullptr);

// The file's modification time in local time (DateModificationFichier);
// nothing when the file cannot be read.
std::optional<LocalDateTime> DateModificationFichier(const std::string& path);

// Creates the missing companion records of a song on one station; false on a
// database error.
bool CreateCompanionRecords(Library& lib, int station, const std::string& songRecord);
bool HasRecorderRecord(Library& lib, int station, const std::string& code);

// The song detail form. Codes are the record's bytes (Windows-1252, blanks
// trimmed); titles are UTF-8.
struct SongForm {
  std::string code;        // 8 characters
  std::string title;       // UTF-8
  std::string shortTitle;  // UTF-8
  std::string artist1, artist2, category;
  long long durationSeconds = 0;
  bool forcedDuration = false;
  long long forcedSeconds = 0;
  std::string playable = "O", sound = "O";
  int soundType = 0;  // digit at 900
  bool operator==(const SongForm&) const = default;
};

// The song form as the station's song record holds it; nothing when the
// song is not there.
std::optional<SongForm> LectureFicheMorceau(Library& lib, int station, const std::string& code);

// The artists the form offers: code and name (UTF-8), by name.
struct ArtistChoice {
  std::string code, name;
};
std::vector<ArtistChoice> ListeArtistes(Library& lib, int station);

// The save of the song form: true when saved. `asLoaded`, when given, is
// the song as the form read it from `station`.
bool saveSongForm(Library& lib, DurationStatistics& stats, int station, const SongForm& edited,
                  bool allStations, const SongForm* asLoaded = nullptr);

// The question asked before a save over a song changed elsewhere.
std::string ChangedElsewhereQuestion(const std::string& code);

}  // namespace sono::data
