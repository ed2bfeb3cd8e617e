// The recorder: CPU per second of audio recorded and encoded (a 3-hour take
// from the virtual input, faster than real time, whose frame count must be
// exact), and the latency from a sound at the input to its frame on disk
// (a live input at real-time pace).
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <thread>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "audio/engine/virtual_capture.h"
#include "core/system_ports.h"
#include "recorder/take_recorder.h"
#include "../common/bench_report.h"

using namespace sono;
using namespace sono::bench;

namespace {

constexpr int kRate = 48000;

std::string TempFolder() {
  std::string t = (std::filesystem::temp_directory_path() / "sonoteka-bench-record-XXXXXX").string();
  return std::string(::mkdtemp(t.data())) + "/";
}

void Tone(float* stereo, long frames, int64_t pos) {
  for (long i = 0; i < frames; ++i) {
    const double t = static_cast<double>(pos + i) / kRate;
    stereo[2 * i] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 440 * t));
    stereo[2 * i + 1] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 660 * t));
  }
}

// A 3-hour take as fast as it is encoded: CPU per audio second, exact length.
bool LongTake(const std::string& folder) {
  constexpr int64_t kHours = 3;
  const int64_t lengthMs = kHours * 3600 * 1000;
  const std::string take = folder + "long.s48";
  recorder::TakeSettings s;
  s.lengthMs = lengthMs;
  recorder::TakeRecorder r;
  std::string error;
  const double cpu0 = CpuSeconds(), wall0 = NowSeconds();
  if (!r.start(audio::VirtualCapture::FromGenerator(Tone), take, s, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  r.join();
  const double cpu = CpuSeconds() - cpu0, wall = NowSeconds() - wall0;
  const double audioSeconds = static_cast<double>(lengthMs) / 1000;
  const int64_t frames = lengthMs * kRate / 1000;
  const int64_t mpegFrames = (frames + audio::kHouseFrameSamples - 1) / audio::kHouseFrameSamples;
  const auto scan = audio::ScanMpegFile(take);
  const bool exact = r.result().frames == frames && r.result().mpegFrames == mpegFrames && scan.frames == mpegFrames &&
                     scan.damagedFrames == 0 &&
                     static_cast<int64_t>(std::filesystem::file_size(take)) == mpegFrames * audio::kHouseFrameBytes &&
                     r.result().overrunFrames == 0;
  std::filesystem::remove(take);
  Report("record.cpu_per_audio_second", cpu / audioSeconds * 100, "% of a core", "<= 2");
  Report("record.3h_take_speed", audioSeconds / wall, "x real time", ">= 1");
  Report("record.3h_take_exact", exact ? 1 : 0, "bool", ">= 1");
  return exact;
}

// Clicks at a live input at real-time pace; the time from the moment the
// input gives a click to the moment the file holds its frame.
void Latency(const std::string& folder) {
  constexpr int kClicks = 20;
  constexpr int64_t kEvery = kRate / 4;  // a click every 250 ms
  const std::string take = folder + "latency.s48";
  std::vector<std::atomic<double>> given(kClicks);
  for (auto& g : given) g.store(0);
  SystemClock clock;
  auto input = audio::VirtualCapture::FromGenerator([&](float* stereo, long frames, int64_t pos) {
    std::fill(stereo, stereo + frames * 2, 0.0f);
    for (int c = 0; c < kClicks; ++c) {
      const int64_t at = kEvery * (c + 1);
      if (at >= pos && at < pos + frames) {
        stereo[(at - pos) * 2] = stereo[(at - pos) * 2 + 1] = 0.9f;
        given[static_cast<size_t>(c)].store(NowMs());
      }
    }
  });
  input->setPace(&clock);
  recorder::TakeSettings s;
  s.lengthMs = (kClicks + 2) * 250;
  recorder::TakeRecorder r;
  std::string error;
  if (!r.start(std::move(input), take, s, error)) return;
  std::vector<double> latencies;
  int next = 0;
  while (next < kClicks && !r.done()) {
    const double g = given[static_cast<size_t>(next)].load();
    if (g > 0) {
      // The click's frame is whole in the file (the codec's delay included).
      const int64_t needed = (kEvery * (next + 1) + 481) / audio::kHouseFrameSamples + 1;
      struct stat st{};
      if (::stat(take.c_str(), &st) == 0 && st.st_size >= needed * audio::kHouseFrameBytes) {
        latencies.push_back(NowMs() - g);
        ++next;
        continue;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  r.stop();
  r.join();
  std::filesystem::remove(take);
  if (latencies.empty()) return;
  Report("record.input_to_disk_latency_median", Median(latencies), "ms");
  Report("record.input_to_disk_latency_max", *std::max_element(latencies.begin(), latencies.end()), "ms");
}

}  // namespace

int main() {
  const std::string folder = TempFolder();
  const bool exact = LongTake(folder);
  Latency(folder);
  std::filesystem::remove_all(folder);
  return exact ? 0 : 1;
}
