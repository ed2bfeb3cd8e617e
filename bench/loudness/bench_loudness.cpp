// Level measurement benchmarks on a 4-minute house-format song: the CPU time
// of the measurement (one decode, EBU R 128 loudness, range, sample and true
// peak) against what the envelope build plus one libmpg123 decode of the
// same file cost in the same run; and the mass normalisation's throughput
// (the converter in loudness mode, then the new sound measured), in sounds
// per hour of one core. One JSON object per line.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "../common/mpg123_decode.h"
#include "audio/codec/house_writer.h"
#include "core/files.h"
#include "core/manual_ports.h"
#include "core/tracelog.h"
#include "editor/envelope.h"
#include "editor/loudness_meter.h"

using namespace sono;
using namespace sono::bench;

namespace {

constexpr int kSeconds = 240;

// Median CPU seconds of `runs` runs of `work` in this process, after a warm-up.
double MedianCpu(int runs, const std::function<void()>& work) {
  work();
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const double start = CpuSeconds();
    work();
    t.push_back(CpuSeconds() - start);
  }
  return Median(t);
}

// A song-like mix (bass, chords, noise on the beat, verse and chorus) encoded
// for its whole length: every frame is real encoder output.
bool MakeSong(const std::string& path) {
  std::vector<float> pcm(static_cast<size_t>(kSeconds) * 48000 * 2);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> white(-1, 1);
  for (size_t i = 0; i < pcm.size() / 2; ++i) {
    const double t = static_cast<double>(i) / 48000.0;
    const double section = std::fmod(t, 16.0) < 8.0 ? 0.3 : 0.8;
    const double beat = std::fmod(t, 0.5);
    const double drum = beat < 0.08 ? white(rng) * (1 - beat / 0.08) * 0.4 : 0;
    const double bass = 0.3 * std::sin(2 * M_PI * 55 * t);
    pcm[2 * i] = static_cast<float>(section * (bass + 0.15 * std::sin(2 * M_PI * 440 * t) + drum));
    pcm[2 * i + 1] = static_cast<float>(section * (bass + 0.15 * std::sin(2 * M_PI * 659.25 * t) + 0.7 * drum));
  }
  audio::HouseWriter w;
  return w.open(path) && w.writeFloat(pcm.data(), static_cast<int>(pcm.size() / 2)) && w.finish();
}


}  // namespace

int main() {
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("sonoteka-bench-loudness-" + std::to_string(getpid()))).string() + "/";
  std::filesystem::create_directories(dir);
  const std::string sound = dir + "SONG0001.s48";
  if (!MakeSong(sound)) {
    std::fprintf(stderr, "bench_loudness: cannot write %s\n", sound.c_str());
    return 1;
  }

  editor::LevelMeasureResult measured;
  const double measureCpu = MedianCpu(3, [&] { measured = editor::MeasureLevels(sound); });
  if (!measured.ok) std::fprintf(stderr, "bench_loudness: %s\n", measured.error.c_str());
  Report("loudness.measure_4min_cpu", measureCpu * 1000, "ms");

  ManualClock clock;
  TraceLogger log(clock);
  log.setSetupLoaded(true);
  editor::MpegScanDurationMeter meter;
  editor::EnvelopeReader reader(log, meter);
  int count = 0;
  std::vector<uint8_t> values;
  bool written = false;
  const double envelopeCpu = MedianCpu(3, [&] {
    reader.CreationGpx(sound, editor::GpxPathFor(sound), kSeconds * 1000, count, values, written, "bench");
  });
  size_t decoded = 0;
  const double decodeCpu = MedianCpu(3, [&] { decoded = DecodeWhole(sound); });
  if (decoded == 0) std::fprintf(stderr, "bench_loudness: decoding failed\n");
  Report("loudness.envelope_build_4min_cpu", envelopeCpu * 1000, "ms");
  Report("loudness.decode_4min_libmpg123_cpu", decodeCpu * 1000, "ms");
  Report("loudness.measure_vs_envelope_and_decode", measureCpu / (envelopeCpu + decodeCpu), "x", nullptr,
         measureCpu / (envelopeCpu + decodeCpu), "envelope build + one libmpg123 decode", "<= 1.3");

  // One sound of mass normalisation: the converter in loudness mode, then
  // the new sound measured (the envelope's part is the build above).
  const std::string out = dir + "SONG0002.s48";
  std::vector<double> runs;
  for (int i = 0; i < 3; ++i) {
    const ChildRun c = RunChild({SONOTEKA_CONVERT, "-infile=" + sound, "-outfile=" + out,
                                 "-errorfile=" + dir + "err.log",
                                 "-dspeffect1=Volume Normalize= -mode={qt}lufs{qt} -maxamp={qt}-1.3{qt} "
                                 "-desiredb={qt}-23{qt} -adapt_wnd={qt}6000{qt} -fixed={qt}0{qt}",
                                 "-convert_to=mp2", "-s=48000", "-b=256", "-c=2", "--managed"});
    if (!c.ok) {
      std::fprintf(stderr, "bench_loudness: the converter failed\n");
      break;
    }
    runs.push_back(c.cpuSeconds);
  }
  const double perSound = Median(runs) + measureCpu + envelopeCpu;
  if (!runs.empty()) {
    Report("loudness.mass_normalisation_4min_cpu", perSound * 1000, "ms");
    Report("loudness.mass_normalisation_throughput", 3600.0 / perSound, "sounds/hour/core");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
