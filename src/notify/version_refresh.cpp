#include "notify/version_refresh.h"

#include <cctype>

#include "core/text.h"
#include "data/btr/btr.h"

namespace sono::notify {

std::string VersionDateTimeText(const LocalDateTime& when) {
  return Date2StringEx(when, "dd/MM/yyyy") + " " + Date2StringEx(when, "HH:MM:SS");
}

VersionRefresh RefreshVersionRecords(data::Library& lib, const std::string& versionKey, const LocalDateTime& when,
                                     const std::string& caller) {
  VersionRefresh result;
  data::PervasiveLayer& db = lib.db();
  const std::string code = Calibre(versionKey, version::kDate.length);
  const std::string date = D2S(when);
  const std::string time = Date2StringEx(when, "HHMMSS");
  const std::string text = VersionDateTimeText(when);
  data::BaseTransaction txn(db, lib.base(), data::kSongs, caller);
  if (!txn.begun()) return {false, 0, {}};
  for (int station = 1; station <= lib.stationCount(); ++station) {
    std::string key = data::Library::Key(code);
    const int status = db.GetEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, caller);
    if (status == btr::status::kKeyNotFound) continue;
    if (status != 0) {
      txn.abort();
      return {false, 0, {}};
    }
    std::string& r = db.record(data::kSongs);
    data::SetRaw(r, version::kDate, date);
    data::SetRaw(r, version::kTime, time);
    data::SetRaw(r, version::kDateTimeText, Calibre(text, version::kDateTimeText.length));
    key = data::Library::Key(code);
    if (db.Update(lib.base(), data::kSongs, station, data::kSongByCode, key, caller) != 0) {
      txn.abort();
      return {false, 0, {}};
    }
    ++result.stations;
  }
  if (txn.commit() != 0) return {false, 0, {}};
  result.dateTimeText = result.stations > 0 ? text : std::string();
  return result;
}

}  // namespace sono::notify
