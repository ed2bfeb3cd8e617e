// Test signals, house-format test files and decoding helpers for the audio tests.
#pragma once
#include <sndfile.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "test_support.h"
#include "audio/codec/house_writer.h"
#include "audio/codec/sound_reader.h"
#include "process.h"

namespace sono::test {

// Runs a program with an argument vector (no shell); its standard output, or
// nothing when it cannot be started or fails. `status` gets the exit status
// (-1 when it did not exit). With `dataLimit` the program may hold no more
// than that many bytes of data (heap and private mappings), as a memory budget.
inline std::optional<std::string> RunProgram(const std::vector<std::string>& args,
                                             int* status = nullptr, rlim_t dataLimit = 0) {
  std::vector<std::string> argv = args;
  if (dataLimit != 0)
    argv.insert(argv.begin(), {"sh", "-c", "ulimit -d " + std::to_string(dataLimit / 1024) + " && exec \"$0\" \"$@\""});
  const ProcessResult r = RunProcess(argv);
  if (status) *status = r.status;
  if (r.status == -1 && r.signal == 0 && !r.timedOut) return std::nullopt;  // not started
  if (!status && !r.exited(0)) return std::nullopt;
  return r.out;
}

// A stereo signal with different content on each side, so that an offset of
// one sample or swapped channels show.
inline std::vector<float> TestSignal(int64_t frames, int rate = 48000, float amp = 0.5f) {
  std::vector<float> s(static_cast<size_t>(frames) * 2);
  for (int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    s[2 * i] = amp * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * t) * 0.7 +
                                        std::sin(2 * std::numbers::pi * 1234.5 * t) * 0.3);
    s[2 * i + 1] = amp * static_cast<float>(std::sin(2 * std::numbers::pi * 660.0 * t));
  }
  return s;
}

inline bool WriteHouse(const std::string& path, const std::vector<float>& stereo) {
  audio::HouseWriter w;
  return w.open(path) && w.writeFloat(stereo.data(), static_cast<int>(stereo.size() / 2)) &&
         w.finish();
}

// A house-format file of `ms` milliseconds of the test signal.
inline std::string MakeHouseFile(const TempDir& dir, const std::string& name, int64_t ms,
                                 float amp = 0.5f) {
  const std::string path = dir / name;
  WriteHouse(path, TestSignal(ms * 48, 48000, amp));
  return path;
}

inline bool WritePcmWav(const std::string& path, const std::vector<float>& stereo, int rate,
                        int channels = 2) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return false;
  std::vector<float> data;
  if (channels == 1)
    for (size_t i = 0; i < stereo.size(); i += 2) data.push_back(stereo[i]);
  else
    data = stereo;
  sf_writef_float(f, data.data(), static_cast<sf_count_t>(data.size() / channels));
  sf_close(f);
  return true;
}

// Every frame of a sound file as the readers give it.
inline std::vector<float> DecodeAll(const std::string& path) {
  audio::OpenedSound s = audio::OpenSound(path);
  std::vector<float> out;
  if (!s.reader) return out;
  out.resize(static_cast<size_t>(s.reader->format().lengthFrames) * 2);
  const long got = s.reader->readStereo(out.data(), static_cast<long>(out.size() / 2));
  out.resize(static_cast<size_t>(std::max(0L, got)) * 2);
  return out;
}

// Sample frames FFmpeg decodes from a file (its own resynchronisation and
// gapless handling), or nothing when ffmpeg is not installed.
inline std::optional<int64_t> FfmpegDecodedFrames(const std::string& path) {
  const auto raw = RunProgram({"ffmpeg", "-v", "quiet", "-i", path, "-f", "f32le", "-ac", "2", "-"});
  if (!raw) return std::nullopt;
  return static_cast<int64_t>(raw->size() / 8);
}

inline float PeakOf(const std::vector<float>& s, size_t fromFrame, size_t toFrame, int channel) {
  float p = 0;
  for (size_t i = fromFrame; i < toFrame && 2 * i + channel < s.size(); ++i)
    p = std::max(p, std::fabs(s[2 * i + channel]));
  return p;
}

}  // namespace sono::test
