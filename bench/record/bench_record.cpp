// The recorder: CPU per second of audio recorded and encoded (a 3-hour take
// from the virtual input, faster than real time, whose frame count must be
// exact), and the latency from a sound at the input to its frame on disk
// (a live input at real-time pace). The same two through the boards' record
// pipe (TOOLRecordFile on the virtual board, the take put in place at its
// end), each with its ratio to the plain take recorder's cost in this run.
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <memory>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <thread>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "audio/boardtools/board_tools.h"
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
bool LongTake(const std::string& folder, double& cpuPerSecond) {
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
  cpuPerSecond = cpu / audioSeconds;
  Report("record.cpu_per_audio_second", cpu / audioSeconds * 100, "% of a core", "<= 2");
  Report("record.3h_take_speed", audioSeconds / wall, "x real time", ">= 1");
  Report("record.3h_take_exact", exact ? 1 : 0, "bool", ">= 1");
  return exact;
}

// The virtual board's record pipe, one stream, in the house format; takes
// read what `input` makes.
struct BoardPipe {
  audio::Engine engine{Options()};
  audio::BoardTools tools{engine};
  uint32_t pipe = 0, stream = 0;
  static audio::EngineOptions Options() {
    audio::EngineOptions o;
    o.useAlsaCards = false;
    return o;
  }
  bool open(std::function<std::unique_ptr<audio::CaptureSource>()> input) {
    if (tools.TOOLRegister(0, "bench_record", 0, 0) == 0) return false;
    int streams = 1;
    std::array<uint32_t, audio::kMaxStreams> handles{};
    if (tools.TOOLAllocatePipeEx(2, streams, 2, 1, 0, 0, 1, 0, 0, pipe, &handles) == 0) return false;
    stream = handles[0];
    tools.recordTakes().setCaptureOpener([input](const audio::BoardDesc&, int) { return input(); });
    return tools.TOOLStreamSetRecordFormatEx(pipe, stream, 0, 1, 0, 2, audio::kHouseBitrateKbps, 1, 0,
                                             audio::kHouseRate, 0x6000, 0);
  }
  bool record(const std::string& file) {
    constexpr int kErase = static_cast<int>(audio::RecordMode::Erase), kAsap = static_cast<int>(audio::RecordStart::Asap);
    return tools.TOOLRecordFile(pipe, stream, file, kErase, kAsap, 0, 0) != 0;
  }
  int status() {
    int s = audio::kRecordIdle;
    tools.TOOLStreamGetStatus(pipe, 1, stream, s);
    return s;
  }
};

// A 10-minute take through the record pipe as fast as it is encoded: CPU per
// audio second, against the plain take recorder's.
void BoardTake(const std::string& folder, double plainCpuPerSecond) {
  constexpr int64_t kLengthMs = 10 * 60 * 1000;
  const std::string target = folder + "board.s48";
  BoardPipe board;
  const bool opened = board.open([] {
    auto c = audio::VirtualCapture::FromGenerator(Tone);
    c->setLengthFrames(kLengthMs * kRate / 1000);
    return std::unique_ptr<audio::CaptureSource>(std::move(c));
  });
  const double cpu0 = CpuSeconds();
  if (!opened || !board.record(target)) {
    std::fprintf(stderr, "board take: %d\n", board.tools.TOOLGetLastError(0, -1));
    return;
  }
  while (board.status() != audio::kRecordIdle) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double cpu = CpuSeconds() - cpu0;
  const double perSecond = cpu / (static_cast<double>(kLengthMs) / 1000);
  const bool whole = audio::ScanMpegFile(target).frames == (kLengthMs * kRate / 1000 + audio::kHouseFrameSamples - 1) /
                                                               audio::kHouseFrameSamples;
  std::filesystem::remove(target);
  if (!whole) std::fprintf(stderr, "board take: frame count differs\n");
  Report("record.board_cpu_per_audio_second", perSecond * 100, "% of a core", "<= 2",
         plainCpuPerSecond > 0 ? perSecond / plainCpuPerSecond : 0, "plain take recorder", "<= 1.2");
}

// Clicks at a live input at real-time pace; the time from the moment the
// input gives a click to the moment the file holds its frame. Through the
// take recorder itself, or (`board`) through the board's record pipe.
// The median (0 when nothing was measured).
double Latency(const std::string& folder, bool board, double plainMedian) {
  constexpr int kClicks = 20;
  constexpr int64_t kEvery = kRate / 4;  // a click every 250 ms
  const std::string take = folder + "latency.s48";
  std::vector<std::atomic<double>> given(kClicks);
  for (auto& g : given) g.store(0);
  SystemClock clock;
  const auto makeInput = [&]() -> std::unique_ptr<audio::CaptureSource> {
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
    return input;
  };
  recorder::TakeSettings s;
  s.lengthMs = (kClicks + 2) * 250;
  recorder::TakeRecorder r;
  BoardPipe pipe;
  std::string error, written = take;
  if (board) {
    int64_t frames = 0;
    if (!pipe.open(makeInput) || !pipe.record(take) ||
        !pipe.tools.TOOLRecordProgress(pipe.pipe, pipe.stream, frames, written))
      return 0;
  } else if (!r.start(makeInput(), take, s, error)) {
    return 0;
  }
  const auto done = [&] { return board ? pipe.status() == audio::kRecordIdle : r.done(); };
  std::vector<double> latencies;
  int next = 0;
  while (next < kClicks && !done()) {
    const double g = given[static_cast<size_t>(next)].load();
    if (g > 0) {
      // The click's frame is whole in the file (the codec's delay included).
      const int64_t needed = (kEvery * (next + 1) + 481) / audio::kHouseFrameSamples + 1;
      struct stat st{};
      if (::stat(written.c_str(), &st) == 0 && st.st_size >= needed * audio::kHouseFrameBytes) {
        latencies.push_back(NowMs() - g);
        ++next;
        continue;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (board) {
    pipe.tools.TOOLPipeStop(pipe.pipe, 1);
  } else {
    r.stop();
    r.join();
  }
  std::filesystem::remove(take);
  if (latencies.empty()) return 0;
  const double median = Median(latencies);
  if (board) {
    Report("record.board_input_to_disk_latency_median", median, "ms", nullptr,
           plainMedian > 0 ? median / plainMedian : 0, "plain take recorder");
    Report("record.board_input_to_disk_latency_max", *std::max_element(latencies.begin(), latencies.end()), "ms");
  } else {
    Report("record.input_to_disk_latency_median", median, "ms");
    Report("record.input_to_disk_latency_max", *std::max_element(latencies.begin(), latencies.end()), "ms");
  }
  return median;
}

}  // namespace

int main() {
  const std::string folder = TempFolder();
  double plainCpu = 0;
  const bool exact = LongTake(folder, plainCpu);
  BoardTake(folder, plainCpu);
  const double plainLatency = Latency(folder, false, 0);
  Latency(folder, true, plainLatency);
  std::filesystem::remove_all(folder);
  return exact ? 0 : 1;
}
