// The ".gpx" level-envelope file shared with the suite's other programs: fixed
// 4096-byte records, each repeating the sound duration (ms) and the total value
// count, then its own count (1..4000) and one byte per value.
//
//   offset 0    10 chars  duration, right-aligned, "0"-filled
//   offset 10   10 chars  total values in the file
//   offset 20   10 chars  values held in this record
//   offset 30   4000      values (one byte each); unused positions are 0
//   offset 4030 66        unused (written as 0)
//
// Values are percent of a 16-bit full scale taken from the two level words at
// the end of each MPEG frame: round(((A + B) / 2) * 100 / 65535), halves to even.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sono::editor {

inline constexpr int kGpxRecordBytes = 4096;
inline constexpr int kGpxValuesPerRecord = 4000;
inline constexpr int kGpxFieldWidth = 10;
inline constexpr int kGpxValuesOffset = 30;
// A total above this (66 hours of 24 ms frames) is taken for a damaged header
// rather than sized into memory.
inline constexpr long long kGpxMaxValues = 10'000'000;

// One envelope value from the two level words of a frame.
uint8_t EnergyValue(unsigned wordA, unsigned wordB);

// Frame length in bytes for a sound of `durationMs` and `fileBytes`: 768 when
// the size fits 256 kbit/s within 10 ms, else 576 when it fits 192 kbit/s,
// else 768.
int ChooseFrameBytes(long long durationMs, long long fileBytes);
// round(S / frame length), halves to even.
long long FrameCount(long long fileBytes, int frameBytes);

// The whole file for `values` (index 0 = first value).
std::string BuildGpx(long long durationMs, const std::vector<uint8_t>& values);
inline long long GpxRecordCount(long long values) {
  return (values + kGpxValuesPerRecord - 1) / kGpxValuesPerRecord;
}
// The size of a whole .gpx of `values` values; the largest one read is
// GpxFileBytes(kGpxMaxValues): anything larger is refused by its size.
inline long long GpxFileBytes(long long values) { return GpxRecordCount(values) * kGpxRecordBytes; }

struct GpxContent {
  long long total = 0;        // n announced in record 1 (0 when unreadable)
  long long durationMs = 0;   // duration of record 1
  long long records = 0;      // file length / 4096
  long long valuesRead = 0;   // values actually found in the records
  std::vector<uint8_t> values;  // index 0 unused (0), 1..total; 0 read as 1
  // Whole: a total of at least 1, exactly the records it needs, each
  // repeating record 1's duration and total and holding the count its place
  // calls for (4000, the rest in the last).
  bool whole = false;
};

// Reads the file's bytes. Record r's values go to their own places (values
// 4000 × (r - 1) + 1 on), so a damaged record leaves its own values at 0
// without shifting the ones after it; values beyond the total are ignored,
// a file shorter than announced leaves the missing values at 0, a read
// value of 0 becomes 1.
GpxContent ParseGpx(std::string_view bytes);

// The leading number of a fixed field as the suite reads it: blanks, then
// digits up to the first other character; 0 when there is none.
long long GpxField(std::string_view field);

}  // namespace sono::editor
