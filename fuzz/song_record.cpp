// The song and artist records as they come from the files (any bytes, any
// length): the corrections made after every read settle in one pass and touch
// only their own fields; a field read then written unchanged leaves the
// record's bytes as they were; numbers and durations read back as written.
#include <string>
#include <vector>

#include "core/text.h"
#include "data/fields.h"
#include "data/records.h"
#include "fuzz_target.h"

using namespace sono::data;

namespace {

// The bytes Normalise may change in a song record (positions from 1).
bool NormalisedByte(size_t index) {
  const int at = static_cast<int>(index) + 1;
  const Field fields[] = {song::kStations,      song::kDurationHigh,  song::kOldFlag857,   song::kFlag108,
                          song::kChar537,       song::kChar538,       song::kChar539,      song::kFlag230,
                          song::kTwoDigits231,  song::kTwoDigits233,  song::kTwoDigits235};
  for (const Field& f : fields)
    if (at >= f.position && at < f.position + f.length) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string read(sono::fuzz::Bytes(data, size));

  std::string song = read;
  song::Normalise(song);
  FUZZ_CHECK(song.size() == std::max<size_t>(read.size(), song::kLength));
  for (size_t i = 0; i < song.size(); ++i)
    if (!NormalisedByte(i)) FUZZ_CHECK(song[i] == (i < read.size() ? read[i] : ' '));
  std::string twice = song;
  song::Normalise(twice);
  FUZZ_CHECK(twice == song);

  std::string artist = read;
  artist::Normalise(artist);
  std::string artistTwice = artist;
  artist::Normalise(artistTwice);
  FUZZ_CHECK(artistTwice == artist);

  const Field fields[] = {song::kCode,      song::kArtist1,  song::kTitle,     song::kCategory,
                          song::kStations,  song::kShortTitle, song::kField446, song::kSoundType};
  for (const Field& f : fields) {
    std::string copy = song;
    SetRaw(copy, f, GetRaw(copy, f));
    FUZZ_CHECK(copy == song);
    // Text goes through UTF-8 and back: blank-padded Windows-1252 stays as it was.
    const std::string text = GetText(song, f);
    SetText(copy, f, text);
    FUZZ_CHECK(GetText(copy, f) == text);
  }
  const Field numbers[] = {song::kDurationLow, song::kIntroSeconds, song::kForcedDuration, song::kField209};
  for (const Field& f : numbers) {
    std::string copy = song;
    const long long value = GetNumber(copy, f);
    FUZZ_CHECK(value >= 0);
    FUZZ_CHECK(SetNumber(copy, f, value));
    FUZZ_CHECK(GetNumber(copy, f) == value);
  }
  std::string timed = song;
  const long long seconds = song::DurationSeconds(timed);
  FUZZ_CHECK(seconds >= 0 && seconds <= 999999);
  FUZZ_CHECK(song::SetDurationSeconds(timed, seconds));
  FUZZ_CHECK(song::DurationSeconds(timed) == seconds);
  FUZZ_CHECK(song::StatisticsSeconds(song) >= 0);
  for (int station = 0; station <= 11; ++station) (void)song::ActiveOnStation(song, station);
  return 0;
}
