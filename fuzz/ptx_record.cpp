// Pointer (Ptx) records from the files, and the coherence rules applied to the
// pointers they give: decoding is stable through an encode, and the rules
// leave pointers that need no further correction, inside the sound.
#include <string>

#include "core/tracelog.h"
#include "core/manual_ports.h"
#include "data/ptx.h"
#include "fuzz_target.h"

using namespace sono::data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sono::fuzz::InputCursor input(data, size);
  const std::string first(input.take(ptx::kLength));
  const ptx::Record record = ptx::Decode(first);
  const std::string encoded = ptx::Encode(record);
  FUZZ_CHECK(encoded.size() == ptx::kLength);
  const ptx::Record again = ptx::Decode(encoded);
  FUZZ_CHECK(again.code == record.code && again.type == record.type && again.order == record.order &&
             again.position == record.position && again.duration == record.duration &&
             again.complement == record.complement && again.actif == record.actif &&
             again.valeur == record.valeur);
  FUZZ_CHECK(ptx::Encode(again) == encoded);

  // Three more records give the fade-in (position and duration), the start
  // of the next sound and the fade-out (position and duration) as they are
  // loaded: a missing record is position -1, duration 0. The sound's length
  // is the first record's position.
  struct Loaded {
    long long position = -1, duration = 0;
  } loaded[3];
  for (Loaded& l : loaded) {
    const std::string bytes(input.take(ptx::kLength));
    if (bytes.empty()) continue;
    const ptx::Record r = ptx::Decode(bytes);
    l = {r.position, r.duration};
  }
  const long long soundMs = record.position;
  sono::ManualClock clock;
  sono::TraceLogger log(clock);
  long long fadeIn = loaded[0].position, fadeInDuration = loaded[0].duration, startNext = loaded[1].position,
            fadeOut = loaded[2].position, fadeOutDuration = loaded[2].duration;
  PtxChargerPointeurVerifierCoherence(log, record.code, soundMs, fadeIn, fadeInDuration, startNext, fadeOut,
                                      fadeOutDuration);
  FUZZ_CHECK(fadeIn >= 0 && fadeInDuration >= 0 && startNext >= 0 && fadeOut >= 0);
  if (soundMs > 0) FUZZ_CHECK(fadeOut <= soundMs);
  long long fadeIn2 = fadeIn, fadeInDuration2 = fadeInDuration, startNext2 = startNext, fadeOut2 = fadeOut,
            fadeOutDuration2 = fadeOutDuration;
  PtxChargerPointeurVerifierCoherence(log, record.code, soundMs, fadeIn2, fadeInDuration2, startNext2, fadeOut2,
                                      fadeOutDuration2);
  FUZZ_CHECK(fadeIn2 == fadeIn && fadeInDuration2 == fadeInDuration && startNext2 == startNext &&
             fadeOut2 == fadeOut && fadeOutDuration2 == fadeOutDuration);
  const long long play = DeterminePlayDurationCheckPtx(soundMs, startNext, fadeOut, fadeIn, fadeInDuration);
  FUZZ_CHECK(play >= 0);
  return 0;
}
