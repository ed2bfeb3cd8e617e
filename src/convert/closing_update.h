// The song record's part of the closing update after a take or a conversion
// (MAJDataFinRecordOuConvert): the song of every station is dated by its new
// sound file, for the kinds whose record follows its sound (music, "JIN",
// "LIN", "RUB", "INF"); other codes get their sound and no database update.
// The durations follow with the reload (SoundUpdateDuration).
#pragma once
#include <string>

#include "data/library.h"
#include "notify/version_refresh.h"

namespace sono::convert {

// `ok` false: the file's time or the database failed (logged, and reported
// by the database layer); the new sound stays in place either way.
// `stations` 0 and `ok` true: a code of another kind, or a song found nowhere.
notify::VersionRefresh DateSongBySound(data::Library& lib, const std::string& code, const std::string& soundFile,
                                       const std::string& caller);

}  // namespace sono::convert
