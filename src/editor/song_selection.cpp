#include "editor/song_selection.h"

#include "core/text.h"
#include "data/fields.h"
#include "data/records.h"
#include "data/songs.h"

namespace sono::editor {

std::optional<SongSelection> SelectionForSong(data::Library& lib, int station,
                                              const std::string& codeUtf8) {
  const std::string code = Calibre(Utf8ToCp1252(codeUtf8), 8);
  std::string key = data::Library::Key(code);
  data::BtrieveOptions quiet;
  quiet.silent = true;
  if (lib.db().GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, "Frm_Main:SelectLigneMusMaster",
                       quiet) != 0)
    return std::nullopt;
  const std::string record = lib.db().record(data::kSongs);
  SongSelection s;
  s.code = code;
  s.station = station;
  s.durationMs = static_cast<int>(data::song::DurationSeconds(record) * 1000);
  s.soundFile = data::SoundFilePath(lib, station, code);
  s.title = data::GetText(record, data::song::kTitle);
  for (const auto field : {data::song::kArtist1, data::song::kArtist2}) {
    const std::string name = lib.LibArtiste(station, data::GetRaw(record, field));
    if (!name.empty()) s.artists.push_back({s.artists.empty() ? 0 : 1, name});
  }
  return s;
}

}  // namespace sono::editor
