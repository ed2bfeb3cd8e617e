// The cue markers read from a broadcast WAV's "cart" chunk, on any file:
// what is taken is a real time at the file's rate, and the trim of the
// import's silence moves or drops each marker, never inventing one.
#include <vector>

#include "convert/broadcast_markers.h"
#include "fuzz_target.h"

using namespace sono::convert;

namespace {

std::vector<long long> Markers(const sono::convert::BroadcastTags& t) {
  return {t.intro, t.startNext, t.fadeOut, t.hook};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sono::fuzz::InputCursor input(data, size);
  long long trimmedMs = 0;
  for (int i = 0; i < 3; ++i) trimmedMs = trimmedMs * 256 + input.byte();
  const sono::fuzz::MemoryFile file(input.rest());
  const auto tags = ReadBroadcastMarkers(file.path());
  if (!tags) return 0;
  int set = 0;
  for (long long ms : Markers(*tags)) {
    FUZZ_CHECK(ms >= -1);
    // A timer is a 32-bit count of sample frames: at least 1 Hz, so never
    // beyond 2^31 s.
    FUZZ_CHECK(ms <= 2147483648LL * 1000);
    set += ms >= 0;
  }
  FUZZ_CHECK(set > 0);
  FUZZ_CHECK(!DescribeMarkers(*tags).empty());

  std::vector<std::string> dropped;
  const BroadcastTags shifted = ShiftMarkersForTrim(*tags, trimmedMs, dropped);
  const std::vector<long long> before = Markers(*tags), after = Markers(shifted);
  int kept = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (after[i] < 0) continue;
    ++kept;
    FUZZ_CHECK(after[i] == before[i] - trimmedMs);
  }
  FUZZ_CHECK(kept + static_cast<int>(dropped.size()) == set);
  FUZZ_CHECK(shifted.title == tags->title && shifted.artist == tags->artist);
  return 0;
}
