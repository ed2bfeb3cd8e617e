// Audio benchmarks: decoding and mixing an hour of house-format sound on the
// virtual device against libmpg123 alone, 5 pipes x 8 streams for 60 s,
// encoding an hour against libtwolame alone, and `sonoteka-cli play` of the
// hour to the virtual device's WAV file: its speed and its peak memory (the
// child's getrusage, measured before this program holds anything large, so
// the figure bounds the command's own). One JSON object per line.
#include <fcntl.h>
#include <mpg123.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <twolame.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../common/bench_report.h"
#include "audio/codec/house_format.h"
#include "audio/codec/house_writer.h"
#include "audio/codec/sound_reader.h"
#include "audio/engine/engine.h"

using namespace sono::audio;
using namespace sono::bench;

namespace {

// One second of a stereo music-like signal, repeated: encoding cost does not
// depend on the content much, and generating it must not dominate.
std::vector<int16_t> OneSecond() {
  std::vector<int16_t> s(48000 * 2);
  for (int i = 0; i < 48000; ++i) {
    const double t = i / 48000.0;
    s[2 * i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * t) + 3000 * std::sin(2 * M_PI * 3000 * t));
    s[2 * i + 1] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 660 * t) + 2000 * std::sin(2 * M_PI * 5000 * t));
  }
  return s;
}

}  // namespace

int main() {
  const std::string dir = std::filesystem::temp_directory_path() / ("sonoteka-bench-audio-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string hour = dir + "/hour.s48";
  constexpr int kSeconds = 3600;
  const auto second = OneSecond();

  // --- encode one hour through the house writer
  double t0 = NowSeconds();
  {
    HouseWriter w;
    if (!w.open(hour)) return 1;
    for (int s = 0; s < kSeconds; ++s) w.write(second.data(), 48000);
    if (!w.finish()) return 1;
  }
  const double encodeOurs = NowSeconds() - t0;

  // --- the hour played to the virtual device's WAV file by sonoteka-cli
  {
    double seconds = 0;
    long peakKb = 0;
    const ChildRun play = RunChild({SONOTEKA_CLI, "play", hour, "--device", "virtual:" + dir + "/heard.wav"});
    if (!play.ok) return 1;
    seconds = play.wallSeconds;
    peakKb = play.peakKb;
    std::filesystem::remove(dir + "/heard.wav");
    Report("audio.virtual_play_hour", kSeconds / seconds, "x realtime");
    Report("audio.virtual_play_hour_peak_memory", peakKb / 1024.0, "MB", "<= 100");
  }
  // --- libtwolame alone, same settings, output thrown away
  t0 = NowSeconds();
  {
    twolame_options* o = twolame_init();
    twolame_set_num_channels(o, 2);
    twolame_set_in_samplerate(o, 48000);
    twolame_set_out_samplerate(o, 48000);
    twolame_set_mode(o, TWOLAME_STEREO);
    twolame_set_bitrate(o, 256);
    twolame_set_energy_levels(o, 1);
    twolame_init_params(o);
    std::vector<unsigned char> out(48000 * 2 + 7200);
    for (int s = 0; s < kSeconds; ++s)
      twolame_encode_buffer_interleaved(o, second.data(), 48000, out.data(), static_cast<int>(out.size()));
    twolame_encode_flush(o, out.data(), static_cast<int>(out.size()));
    twolame_close(&o);
  }
  const double encodeFloor = NowSeconds() - t0;
  Report("audio.encode_hour", kSeconds / encodeOurs, "x realtime", nullptr, encodeOurs / encodeFloor,
         "libtwolame encode alone", "<= 1.1");

  // --- libmpg123 decoding the hour alone
  t0 = NowSeconds();
  {
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_FLAGS, MPG123_FORCE_FLOAT | MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    mpg123_format(h, 48000, MPG123_STEREO, MPG123_ENC_FLOAT_32);
    mpg123_open(h, hour.c_str());
    std::vector<unsigned char> buf(1 << 16);
    size_t done = 0;
    int rc = MPG123_OK;
    do {
      rc = mpg123_read(h, buf.data(), buf.size(), &done);
    } while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT);
    mpg123_close(h);
    mpg123_delete(h);
  }
  const double decodeFloor = NowSeconds() - t0;

  // --- the engine: the hour on one stream of the virtual device
  EngineOptions opts;
  opts.useAlsaCards = false;
  t0 = NowSeconds();
  {
    Engine engine(opts);
    int streams = 24, pipe = -1;
    engine.allocatePipe(0, 1, 2, streams, kFormatMpegL2, pipe);
    LoadRequest r;
    r.file = hour;
    engine.loadStream(pipe, 0, r);
    engine.startStream(pipe, 0);
    StreamInfo info;
    do {
      engine.virtualDevice().renderFrames(48000 * 10);
      engine.streamInfo(pipe, 0, info);
    } while (info.state != StreamState::Idle);
  }
  const double mix = NowSeconds() - t0;
  Report("audio.decode_mix", kSeconds / mix, "x realtime", ">= 400", mix / decodeFloor,
         "libmpg123 decode alone");

  // --- 5 pipes x 8 streams for 60 s
  {
    Engine engine(opts);
    for (int p = 0; p < 5; ++p) {
      int streams = 8, pipe = -1;
      engine.allocatePipe(0, 2 * p + 1, 2, streams, kFormatMpegL2, pipe);
      for (int s = 0; s < 8; ++s) {
        LoadRequest r;
        r.file = hour;
        r.startMs = (p * 8 + s) * 60000;
        r.endMs = r.startMs + 61000;
        r.fadeInMs = 500;
        r.levelDb = -12;
        engine.loadStream(pipe, s, r);
        engine.startStream(pipe, s);
      }
    }
    const double c0 = CpuSeconds();
    engine.virtualDevice().renderMs(60000);
    const double cpu = CpuSeconds() - c0;
    Report("audio.render_5x8", cpu / 60.0, "cpu s per audio s");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
