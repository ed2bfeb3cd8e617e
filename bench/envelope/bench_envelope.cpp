// Envelope benchmarks on a one-hour house-format file (115 MB): building the
// .gpx against reading the whole file once with read() (the floor) and against
// decoding it with libmpg123 (what a decoding waveform tool pays); reading the
// .gpx; drawing the working view of a 1920-pixel canvas at several zooms.
// One JSON object per line.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "../common/mpg123_decode.h"
#include "audio/codec/house_writer.h"
#include "core/files.h"
#include "core/manual_ports.h"
#include "core/tracelog.h"
#include "editor/envelope.h"
#include "editor/raster_canvas.h"
#include "editor/waveform_view.h"

using namespace sono;
using namespace sono::editor;
using namespace sono::bench;

namespace {

// Median of `runs` timings of `work` (ms), after one warm-up run.
double MedianMs(int runs, const std::function<void()>& work) {
  work();
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const double start = NowMs();
    work();
    t.push_back(NowMs() - start);
  }
  return Median(t);
}

// Ten seconds of real encoder output (levels rising and falling), repeated
// to an hour: Layer II frames stand alone, so the result is a valid file.
bool MakeHour(const std::string& dir, const std::string& path) {
  const std::string piece = dir + "piece.s48";
  std::vector<float> pcm(10 * 48000 * 2);
  for (size_t i = 0; i < pcm.size() / 2; ++i) {
    const double t = static_cast<double>(i) / 48000.0;
    const double amp = 0.05 + 0.45 * (0.5 + 0.5 * std::sin(2 * M_PI * t / 10.0));
    pcm[2 * i] = static_cast<float>(amp * std::sin(2 * M_PI * 440 * t));
    pcm[2 * i + 1] = static_cast<float>(amp * 0.8 * std::sin(2 * M_PI * 660 * t));
  }
  audio::HouseWriter w;
  if (!w.open(piece) || !w.writeFloat(pcm.data(), static_cast<int>(pcm.size() / 2)) || !w.finish()) return false;
  auto bytes = ReadWholeFile(piece);
  if (!bytes) return false;
  const size_t frames = bytes->size() / 768;
  const std::string_view one(bytes->data(), frames * 768);
  std::string hour;
  hour.reserve(150000 * 768);
  while (hour.size() < 150000 * 768) hour.append(one.substr(0, std::min(one.size(), 150000 * 768 - hour.size())));
  return WriteFileAtomic(path, hour);
}

double ReadWhole(const std::string& path, std::vector<char>& buf) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  size_t done = 0;
  ssize_t got;
  while ((got = ::read(fd, buf.data() + done, buf.size() - done)) > 0) done += static_cast<size_t>(got);
  ::close(fd);
  return static_cast<double>(done);
}


}  // namespace

int main() {
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("sonoteka-bench-envelope-" + std::to_string(getpid()))).string() + "/";
  std::filesystem::create_directories(dir);
  const std::string sound = dir + "HOUR0001.s48";
  if (!MakeHour(dir, sound)) {
    std::fprintf(stderr, "bench_envelope: cannot write %s\n", sound.c_str());
    return 1;
  }
  const std::string gpx = GpxPathFor(sound);
  const long long size = static_cast<long long>(std::filesystem::file_size(sound));

  // The floor: the whole file into a buffer from the page cache.
  std::vector<char> buf(static_cast<size_t>(size));
  std::fill(buf.begin(), buf.end(), 1);
  const double readMs = MedianMs(7, [&] { ReadWhole(sound, buf); });
  Report("envelope.read_whole_file", readMs, "ms");

  ManualClock clock;
  TraceLogger log(clock);
  log.setSetupLoaded(true);
  MpegScanDurationMeter meter;
  EnvelopeReader reader(log, meter);
  int count = 0;
  std::vector<uint8_t> values;
  bool written = false;
  const double buildMs = MedianMs(7, [&] {
    reader.CreationGpx(sound, gpx, 3600000, count, values, written, "bench");
  });
  if (count != 150000 || !written) std::fprintf(stderr, "bench_envelope: unexpected count %d\n", count);
  Report("envelope.build_hour", buildMs, "ms", "<= 40", buildMs / readMs, "read() of the whole file", "<= 2");
  Report("envelope.build_realtime", 3600000.0 / buildMs, "x real time", ">= 90000");

  const double decodeStart = NowMs();
  const double decoded = DecodeWhole(sound);
  const double decodeMs = NowMs() - decodeStart;
  if (decoded <= 0) std::fprintf(stderr, "bench_envelope: decoding failed\n");
  Report("envelope.decode_hour_libmpg123", decodeMs, "ms");
  Report("envelope.build_vs_decode", decodeMs / buildMs, "x faster", ">= 50", buildMs / decodeMs,
         "libmpg123 decode of the whole file", "<= 0.02");

  const double readGpxMs = MedianMs(21, [&] { reader.EnergieLit(count, sound, 3600000, values, "bench"); });
  Report("envelope.read_gpx_hour", readGpxMs, "ms", "<= 2");

  RasterCanvas global(1920, 60), working(1920, 200);
  WaveformView view(global, working, 1920);
  view.InitDataAffichage();
  view.SetUpAfterLoad(values, count, 3600000);
  view.GestionAffichageSpectre();
  double worst = 0;
  for (int zoom : {1, 4, 17}) {  // 17 = round(32767 / 1920), the largest step allowed
    view.SetZoom(zoom);
    int scroll = 1;
    const double ms = MedianMs(21, [&] {
      scroll = scroll * 7 % view.HScrollESLateral.max + 1;
      view.VueOccupee = true;
      view.SetScroll(scroll);
      view.VueOccupee = false;
      view.EnergieAfficheLocal();
    });
    worst = std::max(worst, ms);
  }
  Report("envelope.draw_working_1920", worst, "ms", "<= 4");

  std::filesystem::remove_all(dir);
  return 0;
}
