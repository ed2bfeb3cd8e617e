#include "editor/gpx_format.h"

#include <algorithm>
#include <cstdlib>

#include "core/house_format.h"
#include "core/text.h"
#include "editor/rounding.h"

namespace sono::editor {

uint8_t EnergyValue(unsigned wordA, unsigned wordB) {
  const double v = (static_cast<double>(wordA) + static_cast<double>(wordB)) / 2.0 * 100.0 / 65535.0;
  return static_cast<uint8_t>(std::clamp<long long>(RoundEven(v), 0, 255));
}

int ChooseFrameBytes(long long durationMs, long long fileBytes) {
  if (fileBytes > 0) {
    const double d = static_cast<double>(durationMs);
    const double s = static_cast<double>(fileBytes);
    if (std::abs(d - s / 32.0) < 10) return kHouseFrameBytes;
    if (std::abs(d - s / 24.0) < 10) return 576;
  }
  return kHouseFrameBytes;
}

long long FrameCount(long long fileBytes, int frameBytes) {
  if (fileBytes <= 0 || frameBytes <= 0) return 0;
  return RoundEven(static_cast<double>(fileBytes) / frameBytes);
}

std::string BuildGpx(long long durationMs, const std::vector<uint8_t>& values) {
  const long long n = static_cast<long long>(values.size());
  const long long records = GpxRecordCount(n);
  std::string out(static_cast<size_t>(records * kGpxRecordBytes), '\0');
  const std::string duration = N2S(durationMs, kGpxFieldWidth);
  const std::string total = N2S(n, kGpxFieldWidth);
  for (long long r = 0; r < records; ++r) {
    char* rec = out.data() + r * kGpxRecordBytes;
    const long long first = r * kGpxValuesPerRecord;
    const long long count = std::min<long long>(kGpxValuesPerRecord, n - first);
    const std::string countField = N2S(count, kGpxFieldWidth);
    std::copy(duration.begin(), duration.end(), rec);
    std::copy(total.begin(), total.end(), rec + kGpxFieldWidth);
    std::copy(countField.begin(), countField.end(), rec + 2 * kGpxFieldWidth);
    std::copy(values.begin() + first, values.begin() + first + count, rec + kGpxValuesOffset);
  }
  return out;
}

long long GpxField(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
  long long v = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    v = v * 10 + (field[i] - '0');
    if (v > 9'999'999'999LL) break;  // wider than the field can hold
  }
  return v;
}

GpxContent ParseGpx(std::string_view bytes) {
  GpxContent c;
  c.records = static_cast<long long>(bytes.size() / kGpxRecordBytes);
  if (c.records == 0) return c;
  c.durationMs = GpxField(bytes.substr(0, kGpxFieldWidth));
  c.total = GpxField(bytes.substr(kGpxFieldWidth, kGpxFieldWidth));
  if (c.total > kGpxMaxValues) c.total = 0;
  c.values.assign(static_cast<size_t>(c.total) + 1, 0);
  c.whole = c.total >= 1 && c.records == GpxRecordCount(c.total) &&
            static_cast<long long>(bytes.size()) == c.records * kGpxRecordBytes;
  for (long long r = 0; r < c.records; ++r) {
    const std::string_view rec = bytes.substr(static_cast<size_t>(r * kGpxRecordBytes), kGpxRecordBytes);
    const long long first = r * kGpxValuesPerRecord;  // values before this record
    const long long due = std::clamp<long long>(c.total - first, 0, kGpxValuesPerRecord);
    const long long said = GpxField(rec.substr(2 * kGpxFieldWidth, kGpxFieldWidth));
    if (said != due || GpxField(rec.substr(0, kGpxFieldWidth)) != c.durationMs ||
        GpxField(rec.substr(kGpxFieldWidth, kGpxFieldWidth)) != c.total)
      c.whole = false;
    const long long count = std::min(said, due);
    for (long long i = 0; i < count; ++i) {
      const auto v = static_cast<uint8_t>(rec[static_cast<size_t>(kGpxValuesOffset + i)]);
      c.values[static_cast<size_t>(first + i + 1)] = v == 0 ? 1 : v;
    }
    c.valuesRead += count;
  }
  return c;
}

}  // namespace sono::editor
