#include "data/records.h"

#include "core/text.h"

namespace sono::data {

namespace song {

long long DurationSeconds(const std::string& r) {
  return GetNumber(r, kDurationHigh) * 10000 + GetNumber(r, kDurationLow);
}

bool SetDurationSeconds(std::string& r, long long seconds) {
  const bool fits = seconds <= 999999;
  if (seconds > 999999) seconds = 999999;
  if (seconds < 0) seconds = 0;
  SetNumber(r, kDurationHigh, seconds / 10000);
  SetNumber(r, kDurationLow, seconds % 10000);
  return fits;
}

long long StatisticsSeconds(const std::string& r) {
  const size_t forced = static_cast<size_t>(kForcedFlag.position - 1);
  return forced < r.size() && r[forced] == 'O' ? GetNumber(r, kForcedDuration) : DurationSeconds(r);
}

bool ActiveOnStation(const std::string& r, int station) {
  if (station < 1 || station > kStations.length) return true;
  return GetRaw(r, {kStations.position + station - 1, 1}) != "N";
}

namespace {
// A one-byte field of a record at least as long as the song layout.
char& byteOf(std::string& r, Field f) { return r[static_cast<size_t>(f.position - 1)]; }
}  // namespace

// Runs after every read of a song (a whole library's browse reads 100,000):
// it looks at single bytes and writes only what it changes.
void Normalise(std::string& r) {
  if (static_cast<int>(r.size()) < kLength) r.resize(kLength, ' ');
  const std::string_view stations = std::string_view(r).substr(static_cast<size_t>(kStations.position - 1),
                                                               static_cast<size_t>(kStations.length));
  if (stations.find_first_of("ON12") == std::string_view::npos) SetRaw(r, kStations, "22222");
  static_assert(kDurationHigh.length == 2);
  if (GetNumber(r, kDurationHigh) == 0) {  // "00", written in place
    char* high = &byteOf(r, kDurationHigh);
    high[0] = high[1] = '0';
  }
  char& flag108 = byteOf(r, kFlag108);
  char& old857 = byteOf(r, kOldFlag857);
  if (old857 == 'O') flag108 = '1';
  old857 = ' ';
  if (flag108 != 'O' && flag108 != '1' && flag108 != 'N' && flag108 != '-') flag108 = 'N';
  char &c537 = byteOf(r, kChar537), &c538 = byteOf(r, kChar538), &c539 = byteOf(r, kChar539);
  if (c537 == '.' && (c538 == 'S' || c538 == 's') && c539 == '4') {  // ".S4" in any case
    c537 = 'N';
    c538 = '0';
    c539 = '0';
  }
  char& flag230 = byteOf(r, kFlag230);
  if (flag230 != 'O' && flag230 != 'N') {
    flag230 = 'N';
    SetRaw(r, kTwoDigits231, "00");
    SetRaw(r, kTwoDigits233, "00");
    SetRaw(r, kTwoDigits235, "00");
  }
  // The five entries at 646 are left as read, whatever they hold (see records.h).
}

void PrepareNew(std::string& r, const std::string& code, long long durationSeconds) {
  if (static_cast<int>(r.size()) < kLength) r.resize(kLength, ' ');
  SetRaw(r, kField206, "N");
  SetRaw(r, kEndState, "N");
  SetRaw(r, kField209, "0000000000");
  SetRaw(r, kEndType, " ");
  SetRaw(r, kField826, "0");
  SetRaw(r, kField446, "");
  SetRaw(r, kField460, "");
  SetRaw(r, kField471, "");
  SetRaw(r, kField529, "");
  SetRaw(r, kCode, code);
  SetDurationSeconds(r, durationSeconds);
}

}  // namespace song

namespace artist {
void Normalise(std::string& r) {
  const std::string old = GetRaw(r, kOldFlag146);
  if (old == "1") SetRaw(r, kFlag265, "1");
  else if (old == "2") SetRaw(r, kFlag265, "O");
  SetRaw(r, kOldFlag146, " ");
}
}  // namespace artist

namespace codes {
bool CategoryActive(const std::string& r) {
  const std::string f = GetRaw(r, kCategActive);
  return f == "O" || f == "Y";
}
bool CategoryActiveOnStation(const std::string& r, int station) {
  if (station < 1 || station > 10) return true;
  return GetRaw(r, CategStation(station)) != "N";
}
}  // namespace codes

void FillRecorderRecord(std::string& r, const std::string& s, const std::string& artistName) {
  using namespace recorder;
  r.assign(kLength, ' ');
  const std::string code = GetRaw(s, song::kCode);
  SetRaw(r, kCode, code);
  SetRaw(r, kKey1Flag, "O");
  SetRaw(r, kKey1Text, GetRaw(s, song::kArtist1));
  SetRaw(r, kKey1Code, code);
  SetRaw(r, kKey2Flag, "O");
  SetRaw(r, kKey2Text, GetRaw(s, song::kCategory));
  SetRaw(r, kKey2Code, code);
  SetRaw(r, kKey3Flag, "O");
  SetRaw(r, kKey3Text, GetRaw(s, song::kTitle));
  SetRaw(r, kKey3Code, code);
  SetText(r, kText81, artistName);
}

void FillComplementRecord(std::string& r, const std::string& s) {
  using namespace complement;
  r.assign(kLength, ' ');
  SetRaw(r, kCode1, GetRaw(s, song::kArtist1));
  SetRaw(r, kCode2, GetRaw(s, song::kCategory));
  SetRaw(r, kSongCode, GetRaw(s, song::kCode));
  SetRaw(r, kTitle, GetRaw(s, song::kTitle));
}

void FillTitleRecord(std::string& r, const std::string& s) {
  using namespace titles;
  r.assign(kLength, ' ');
  const std::string code = GetRaw(s, song::kCode);
  SetRaw(r, kCode, code);
  SetRaw(r, kPrefix, code.substr(0, 3));
  SetRaw(r, kTitle, GetRaw(s, song::kTitle));
}

}  // namespace sono::data
