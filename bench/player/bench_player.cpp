// Player benchmarks: how long after PlaySound the first sound reaches the
// virtual device's buffer (nominal tempo and through the tempo stage), and the
// duration of a one-hour house-format file that is not loaded, against the
// floor of reading its size. One JSON object per line.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "audio/codec/house_writer.h"
#include "audio/codec/mpeg_frames.h"
#include "audio/player/player_control.h"

using namespace sono::audio;
using namespace sono::bench;

namespace {

// Three seconds of a tone whose first frame already sounds.
bool WriteTone(const std::string& path, int64_t ms) {
  std::vector<float> s(static_cast<size_t>(ms * 48) * 2);
  for (size_t i = 0; i < s.size() / 2; ++i)
    s[2 * i] = s[2 * i + 1] = 0.5f * static_cast<float>(std::cos(2 * M_PI * 440.0 * i / 48000.0));
  HouseWriter w;
  return w.open(path) && w.writeFloat(s.data(), static_cast<int>(s.size() / 2)) && w.finish();
}

// Milliseconds from PlaySound to the rendered period holding the first
// sample above silence, and that sample's place in the rendered time.
// First frame of the decoded file above silence (the codec's own delay).
int64_t FileOnset(const std::string& file) {
  OpenedSound s = OpenSound(file);
  std::vector<float> buf(48000 * 2);
  const long got = s.reader ? s.reader->readStereo(buf.data(), 48000) : 0;
  for (long i = 0; i < got; ++i)
    if (std::fabs(buf[2 * i]) > 1e-4f) return i;
  return 0;
}

double PlayLatency(const std::string& file, double tempo, double& deviceMs) {
  EngineOptions o;
  o.useAlsaCards = false;
  Engine engine(o);
  PlayerControl control(engine, 1);
  control.InitDJSystem(control.VirtualDevice(0));
  control.SetTempoPerc(0, tempo);
  control.LoadSoundFast(0, file);
  VirtualDevice& dev = engine.virtualDevice();
  dev.setRecording(true);
  constexpr int kPeriod = 480;  // 10 ms
  const double t0 = NowSeconds();
  control.PlaySound(0);
  for (int period = 0; period < 100; ++period) {
    dev.renderFrames(kPeriod);
    const auto& r = dev.recorded(0);
    for (size_t i = static_cast<size_t>(period) * kPeriod; i < r.size() / 2; ++i)
      if (std::fabs(r[2 * i]) > 1e-4f) {
        const double t = NowSeconds() - t0;
        // Time on the device from the start to the file's first sound, less
        // the time that sound lies in the file at this speed.
        const double inFile = static_cast<double>(FileOnset(file)) / (1.0 + tempo / 100.0);
        deviceMs = std::max(0.0, (static_cast<double>(i) - inFile) / 48.0);
        return t * 1000.0;
      }
  }
  deviceMs = -1;
  return -1;
}

}  // namespace

int main() {
  const std::string dir = std::filesystem::temp_directory_path() /
                          ("sonoteka-bench-player-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string tone = dir + "/tone.s48";
  if (!WriteTone(tone, 3000)) return 1;

  for (double tempo : {0.0, 5.0}) {
    std::vector<double> wall, device;
    for (int i = 0; i < 15; ++i) {
      double d = 0;
      wall.push_back(PlayLatency(tone, tempo, d));
      device.push_back(d);
    }
    const std::string name = tempo == 0 ? "player.play_to_first_sound" : "player.play_to_first_sound_tempo";
    Report(name.c_str(), Median(wall), "ms", "<= 10 (one device period)");
    Report((name + "_device_time").c_str(), Median(device), "ms", "<= 10 (one device period)");
  }

  // One hour: the frames of a three-second encoding, 1200 times over.
  const std::string hour = dir + "/hour.s48";
  {
    const std::string piece = dir + "/piece.s48";
    if (!WriteTone(piece, 3000)) return 1;
    std::ifstream in(piece, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    bytes.resize(125 * 768);  // 125 whole frames = 3000 ms
    std::ofstream out(hour, std::ios::binary);
    for (int i = 0; i < 1200; ++i) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const int64_t expected = PlayerControl::GetSoundFileDuration(hour);
  if (expected != 3600000) {
    std::fprintf(stderr, "bench_player: one hour measured as %lld ms\n", static_cast<long long>(expected));
    return 1;
  }
  std::vector<double> dur, size;
  for (int i = 0; i < 200; ++i) {
    double t = NowSeconds();
    volatile int64_t d = PlayerControl::GetSoundFileDuration(hour);
    dur.push_back(NowSeconds() - t);
    t = NowSeconds();
    struct stat st {};
    ::stat(hour.c_str(), &st);
    volatile off_t s = st.st_size;
    size.push_back(NowSeconds() - t);
    (void)d;
    (void)s;
  }
  const double durMs = Median(dur) * 1000, sizeMs = Median(size) * 1000;
  Report("player.file_duration_1h", durMs, "ms", "<= 5", durMs / sizeMs, "reading the file's size");
  const double t = NowSeconds();
  const FrameScan scan = ScanMpegFile(hour);
  Report("player.file_duration_1h_full_scan", (NowSeconds() - t) * 1000, "ms", nullptr,
         scan.durationMs == expected ? (NowSeconds() - t) * 1000 / durMs : 0, "size-based measure");
  std::filesystem::remove_all(dir);
  return 0;
}
