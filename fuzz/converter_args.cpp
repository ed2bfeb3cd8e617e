// The converter's command line, as any program (or a damaged settings file
// behind the driver) could write it: a line is either refused with a French
// reason or taken with options the conversion can use as they stand.
#include <cmath>
#include <string>
#include <vector>

#include "command_line.h"
#include "fuzz_target.h"

using namespace sono::convert;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Arguments are separated by NUL bytes, as in a process's argument list.
  std::vector<std::string> args(1);
  for (char c : sono::fuzz::Bytes(data, size)) {
    if (c == '\0') args.emplace_back();
    else args.back() += c;
  }
  const ParseResult r = ParseCommandLine(args);
  FUZZ_CHECK(r.options.has_value() != !r.error.empty());
  if (!r.options) return 0;
  const ConverterOptions& o = *r.options;
  FUZZ_CHECK(!o.input.empty() && !o.output.empty());
  FUZZ_CHECK(o.format != OutputFormat::Unknown && o.format != OutputFormat::Wma);
  FUZZ_CHECK(o.channels == 1 || o.channels == 2);
  FUZZ_CHECK(o.rate >= 0 && o.bitrateKbps >= 0 && o.bits >= 0);
  FUZZ_CHECK(o.cues.intro >= -1 && o.cues.startNext >= -1 && o.cues.fadeOut >= -1 && o.cues.hook >= -1);
  FUZZ_CHECK(o.format != OutputFormat::Ogg || (o.oggQuality >= -0.1 && o.oggQuality <= 1.0) || o.bitrateKbps > 0);
  // Effect settings are finite and mean something: a silence level and a
  // ceiling at or below full scale, times that are not negative, a window.
  for (double v : {o.trim.silenceDb, o.trim.thresholdMs, o.normalize.maxAmpDb, o.normalize.desiredDb,
                   o.normalize.adaptWindowMs, o.normalize.fixedDb})
    FUZZ_CHECK(std::isfinite(v));
  FUZZ_CHECK(o.trim.silenceDb <= 0 && o.trim.silenceDb >= -144 && o.normalize.maxAmpDb <= 0);
  FUZZ_CHECK(o.trim.thresholdMs >= 0 && o.trim.thresholdMs <= 3600000);
  FUZZ_CHECK(o.normalize.adaptWindowMs >= 1 && o.normalize.adaptWindowMs <= 3600000);
  FUZZ_CHECK(std::fabs(o.normalize.fixedDb) <= 144 && std::fabs(o.normalize.desiredDb) <= 144);
  return 0;
}
