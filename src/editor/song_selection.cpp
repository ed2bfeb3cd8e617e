#include "editor/song_selection.h"

#include "core/text.h"
#include "data/records.h"
#include "data/songs.h"

namespace sono::editor {

std::optional<SongSelection> SelectionForSong(data::Library& lib, int station,
                                              const std::string& codeUtf8) {
  const std::string code = Calibre(Utf8ToCp1252(codeUtf8), 8);
  std::string key = data::Library::Key(code);
  data::BtrieveOptions quiet;
  quiet.silent = true;
  if (lib.db().BTRieve(lib.base(), 5, key, 0, data::kSongs, station, "Frm_Main:SelectLigneMusMaster",
                       quiet) != 0)
    return std::nullopt;
  SongSelection s;
  s.code = code;
  s.station = station;
  s.durationMs = static_cast<int>(data::song::DurationSeconds(lib.db().record(data::kSongs)) * 1000);
  s.soundFile = data::SoundFilePath(lib, station, code);
  return s;
}

}  // namespace sono::editor
