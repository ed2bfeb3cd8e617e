// Layouts of the records this program reads and writes, as named fields over
// the record buffers, and the corrections applied when records are read.
//
// Decisions where the suite leaves the choice:
//   - The song's five station codes (position 454): station 1 to 5 is inactive
//     when its character is "N"; "O", "1" and "2" (the value a new record
//     gets) are active; stations beyond the fifth are active.
//   - A song's five entries at 646 are never changed on read, whatever they
//     start with: an entry that is neither a song code nor a sound-kind code
//     belongs to another program of the suite (an "EXT…" code, a "VER…"
//     version) and is kept byte for byte, like every field this program
//     does not interpret.
//   - A song's companion records are filled from the song: FRAD026 (flags "O",
//     first artist, category, title, artist name, each key ending with the
//     code), FRAD029 (first artist, category, code, title), FRAD048 (the code's
//     three-character prefix and the title).
#pragma once
#include <string>

#include "data/fields.h"

namespace sono::data {

namespace song {  // FRAD022, 900 bytes
inline constexpr Field kCode{1, 8};
inline constexpr Field kArtist1{9, 5};
inline constexpr Field kArtist2{14, 5};
inline constexpr Field kCode19{19, 5};  // a code of 5 characters, key 2; meaning unknown
inline constexpr Field kTitle{24, 40};
inline constexpr Field kCode64{64, 5};  // a code of 5 characters, key 3; meaning unknown
inline constexpr Field kCategory{69, 5};
inline constexpr Field kDurationLow{104, 4};
inline constexpr Field kFlag108{108, 1};  // "O", "1", "N" or "-"; "1" when the old flag at 857 was "O" (Normalise)
inline constexpr Field kIntroSeconds{193, 3};
inline constexpr Field kField206{206, 1};  // "N" on a new record; meaning unknown
inline constexpr Field kEndState{208, 1};
inline constexpr Field kField209{209, 10};  // "0000000000" on a new record; meaning unknown
inline constexpr Field kFlag230{230, 1};  // "O" or "N"; the three two-digit fields after it are "00" when it is reset
inline constexpr Field kTwoDigits231{231, 2};
inline constexpr Field kTwoDigits233{233, 2};
inline constexpr Field kTwoDigits235{235, 2};
inline constexpr Field kForcedFlag{412, 1};
inline constexpr Field kForcedDuration{413, 4};
inline constexpr Field kPlayable{434, 1};
inline constexpr Field kSound{435, 1};
inline constexpr Field kFlag436{436, 1};  // shown in the grid as "Drapeau 436"; meaning unknown
inline constexpr Field kField446{446, 8};  // blank on a new record; meaning unknown (no date: see search.h)
inline constexpr Field kStations{454, 5};
inline constexpr Field kField460{460, 6};  // blank on a new record; meaning unknown
inline constexpr Field kDurationHigh{466, 2};
inline constexpr Field kDurationChanged{470, 1};
inline constexpr Field kField471{471, 8};  // blank on a new record; meaning unknown
inline constexpr Field kField529{529, 8};  // blank on a new record; meaning unknown
inline constexpr Field kChar537{537, 1};  // 537 to 539 reading ".S4" become "N", "0", "0" (Normalise)
inline constexpr Field kChar538{538, 1};
inline constexpr Field kChar539{539, 1};
inline constexpr Field kFlag548{548, 1};  // "O" or "N", shown in the grid as "Drapeau 548"
inline constexpr Field kEndType{573, 1};
inline constexpr Field kShortTitle{806, 20};
inline constexpr Field kField826{826, 1};  // "0" on a new record; meaning unknown
inline constexpr Field kOldFlag857{857, 1};  // read once into the flag at 108, then blanked
inline constexpr Field kSoundType{900, 1};
inline constexpr int kOtherEntries = 5;
inline constexpr Field OtherEntry(int i) { return {646 + 8 * i, 8}; }
inline constexpr int kLength = 900;

// The six-digit duration in seconds: high digits at 466, low four at 104.
long long DurationSeconds(const std::string& r);
// False when the value did not fit six digits (it is then all nines).
bool SetDurationSeconds(std::string& r, long long seconds);
// The duration the statistics count: the forced one when 412 is "O".
long long StatisticsSeconds(const std::string& r);
bool ActiveOnStation(const std::string& r, int station);
// The corrections made after every read, in order.
void Normalise(std::string& r);
// A new record: the defaults a creation sets, then the code and duration.
void PrepareNew(std::string& r, const std::string& code, long long durationSeconds);
}  // namespace song

namespace artist {  // FRAD020, 300 bytes
inline constexpr Field kCode{1, 5};
inline constexpr Field kCode10{6, 10};  // a code of 10 characters, key 1; meaning unknown
inline constexpr Field kName{16, 30};
inline constexpr Field kCounted{46, 1};
inline constexpr Field kCount{47, 4};
inline constexpr Field kTotal{51, 8};
inline constexpr Field kOldFlag146{146, 1};  // read once into the flag at 265, then blanked
inline constexpr Field kFlag265{265, 1};  // "1" or "O" from the old flag at 146; meaning unknown
inline constexpr int kLength = 300;
void Normalise(std::string& r);
}  // namespace artist

namespace codes {  // FRAD021, 980 bytes: typed code tables
inline constexpr Field kType{1, 5};
inline constexpr Field kCode{6, 5};
inline constexpr Field kLabel{11, 30};
inline constexpr int kDataStart = 41;  // data position 1 is record position 41
inline constexpr Field Data(int dataPosition, int length) {
  return {kDataStart - 1 + dataPosition, length};
}
// Inside a "CATEG" entry.
inline constexpr Field kCategActive = Data(622, 1);
inline constexpr Field kCategCount = Data(637, 4);
inline constexpr Field kCategTotal = Data(641, 8);
inline constexpr Field CategStation(int station) { return Data(809 + station - 1, 1); }
inline constexpr int kLength = 980;
bool CategoryActive(const std::string& r);
bool CategoryActiveOnStation(const std::string& r, int station);
}  // namespace codes

namespace recorder {  // FRAD026, 150 bytes
inline constexpr Field kCode{1, 8};
inline constexpr Field kKey1Flag{9, 1}, kKey1Text{10, 10}, kKey1Code{20, 8};
inline constexpr Field kKey2Flag{28, 1}, kKey2Text{29, 5}, kKey2Code{34, 8};
inline constexpr Field kKey3Flag{42, 1}, kKey3Text{43, 30}, kKey3Code{73, 8};
inline constexpr Field kText81{81, 30};
inline constexpr int kLength = 150;
}  // namespace recorder

namespace complement {  // FRAD029, 100 bytes
inline constexpr Field kCode1{1, 5}, kCode2{6, 5}, kSongCode{11, 8}, kTitle{19, 40};
inline constexpr int kLength = 100;
}  // namespace complement

namespace soundinfo {  // FRAD037
inline constexpr Field kCode{1, 8}, kKey1{9, 12}, kKey2{21, 12}, kText{33, 100};
}  // namespace soundinfo

namespace equivalence {  // FRAD046
inline constexpr Field kCode{1, 5};
inline constexpr Field Code(int i) { return {6 + 5 * i, 5}; }
inline constexpr Field SongCode(int i) { return {136 + 8 * i, 8}; }
}  // namespace equivalence

namespace titles {  // FRAD048, 100 bytes
inline constexpr Field kCode{1, 8}, kPrefix{9, 3}, kTitle{12, 40};
inline constexpr int kLength = 100;
}  // namespace titles

namespace stack {  // FRAD023 and FRAD024, 100 bytes
inline constexpr Field kSongCode{1, 8}, kCategory{9, 5}, kTitle{51, 30};
}  // namespace stack

// Companion records filled from a song record (see the header comment).
void FillRecorderRecord(std::string& r, const std::string& songRecord, const std::string& artistName);
void FillComplementRecord(std::string& r, const std::string& songRecord);
void FillTitleRecord(std::string& r, const std::string& songRecord);

}  // namespace sono::data
