// The ".gpx" envelope reader on any bytes, and the round trip: an envelope
// built from values reads back as the same values, whole.
#include <algorithm>
#include <vector>

#include "editor/gpx_format.h"
#include "fuzz_target.h"

using namespace sono::editor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sono::fuzz::InputCursor input(data, size);
  const std::string_view bytes = sono::fuzz::Bytes(data, size);

  // Any file: never more values than its records hold, never a 0 value.
  const GpxContent read = ParseGpx(bytes);
  const long long records = static_cast<long long>(size) / kGpxRecordBytes;
  FUZZ_CHECK(read.records == records);
  FUZZ_CHECK(read.valuesRead <= records * kGpxValuesPerRecord);
  FUZZ_CHECK(read.total >= 0 && read.total <= kGpxMaxValues);
  if (!read.values.empty()) {
    FUZZ_CHECK(static_cast<long long>(read.values.size()) == read.total + 1);
  }
  if (read.whole) FUZZ_CHECK(read.total >= 1 && GpxRecordCount(read.total) == records);

  // The same bytes as an envelope to write: the first four give a duration,
  // the rest are values (0 is read back as 1, so it is not offered).
  long long durationMs = 0;
  for (int i = 0; i < 4; ++i) durationMs = durationMs * 256 + input.byte();
  std::vector<uint8_t> values;
  for (char c : input.rest()) values.push_back(static_cast<uint8_t>(c) == 0 ? 1 : static_cast<uint8_t>(c));
  if (values.empty()) return 0;
  const std::string built = BuildGpx(durationMs, values);
  FUZZ_CHECK(static_cast<long long>(built.size()) == GpxFileBytes(static_cast<long long>(values.size())));
  const GpxContent back = ParseGpx(built);
  FUZZ_CHECK(back.whole);
  FUZZ_CHECK(back.durationMs == durationMs);
  FUZZ_CHECK(back.total == static_cast<long long>(values.size()));
  FUZZ_CHECK(std::equal(values.begin(), values.end(), back.values.begin() + 1));
  return 0;
}
