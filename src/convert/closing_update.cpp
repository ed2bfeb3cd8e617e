#include "convert/closing_update.h"

#include "core/text.h"
#include "data/songs.h"

namespace sono::convert {

notify::VersionRefresh DateSongBySound(data::Library& lib, const std::string& code, const std::string& soundFile,
                                       const std::string& caller) {
  if (!data::SongRecordFollowsSound(code)) return {};
  const auto when = data::DateModificationFichier(soundFile);
  if (!when) {
    lib.log().TraceLog("Err: DateModificationFichier: " + soundFile + " |Sub: " + caller);
    return {false, 0, {}};
  }
  const notify::VersionRefresh r = notify::RefreshVersionRecords(lib, code, *when, caller);
  if (!r.ok) lib.log().TraceLog("Err: " + Trim(code) + ": modification date not stored |Sub: " + caller);
  return r;
}

}  // namespace sono::convert
