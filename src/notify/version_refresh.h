// The refresh of a song's version records before its change is announced, so
// that the date and time the suite's other programs show match the new sound.
//
// Decisions (the record layout names none of these fields):
//   - The version record is the song's record of FRAD022 (read by key 0 with
//     `versionKey`), on every station of the base where the song exists, all
//     in one transaction of the base: every station refreshed, or none.
//   - The change is stamped there: the date "YYYYMMDD" at 557 (the grid's
//     "Date Modification"), the time "hhmmss" at 565, and from them the
//     20-character text "dd/MM/yyyy hh:mm:ss" at 574. It is the record's
//     modification date: the time of the change when a change is announced,
//     the new sound file's time at the closing update of a take or a
//     conversion (which also runs when no notification is sent).
//   - Only `gateCode`s of the kinds music ("000" to "999"), "JIN", "LIN",
//     "RUB" and "INF" refresh (data::SongRecordFollowsSound); any other
//     (blank, "PRE", a version prefix) leaves the records as they are.
#pragma once
#include <string>

#include "core/datetime.h"
#include "data/fields.h"
#include "data/library.h"

namespace sono::notify {

namespace version {
inline constexpr data::Field kDate{557, 8};
inline constexpr data::Field kTime{565, 6};
inline constexpr data::Field kDateTimeText{574, 20};
}  // namespace version

// "dd/MM/yyyy hh:mm:ss" of `when`, as stored in the 20-character text.
std::string VersionDateTimeText(const LocalDateTime& when);

struct VersionRefresh {
  bool ok = true;          // false: a database error, nothing written
  int stations = 0;        // stations whose record was refreshed
  std::string dateTimeText;  // the text written (empty when none)
};

// Stamps `when` into the song's version records on every station (see above).
VersionRefresh RefreshVersionRecords(data::Library& lib, const std::string& versionKey, const LocalDateTime& when,
                                     const std::string& caller);

}  // namespace sono::notify
