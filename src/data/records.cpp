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
  return GetRaw(r, kForcedFlag) == "O" ? GetNumber(r, kForcedDuration) : DurationSeconds(r);
}

bool ActiveOnStation(const std::string& r, int station) {
  if (station < 1 || station > kStations.length) return true;
  return GetRaw(r, {kStations.position + station - 1, 1}) != "N";
}

void Normalise(std::string& r) {
  if (static_cast<int>(r.size()) < kLength) r.resize(kLength, ' ');
  const std::string stations = GetRaw(r, kStations);
  if (stations.find_first_of("ON12") == std::string::npos) SetRaw(r, kStations, "22222");
  if (GetNumber(r, kDurationHigh) == 0) SetRaw(r, kDurationHigh, "00");
  if (GetRaw(r, kOldFlag857) == "O") SetRaw(r, kFlag108, "1");
  SetRaw(r, kOldFlag857, " ");
  const std::string f108 = GetRaw(r, kFlag108);
  if (f108 != "O" && f108 != "1" && f108 != "N" && f108 != "-") SetRaw(r, kFlag108, "N");
  const std::string s4 = ToUpperAscii(GetRaw(r, kChar537) + GetRaw(r, kChar538) + GetRaw(r, kChar539));
  if (s4 == ".S4") {
    SetRaw(r, kChar537, "N");
    SetRaw(r, kChar538, "0");
    SetRaw(r, kChar539, "0");
  }
  const std::string f230 = GetRaw(r, kFlag230);
  if (f230 != "O" && f230 != "N") {
    SetRaw(r, kFlag230, "N");
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
