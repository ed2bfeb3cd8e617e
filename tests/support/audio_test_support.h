// Test signals, house-format test files and decoding helpers for the audio tests.
#pragma once
#include <sndfile.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "../core/test_support.h"
#include "audio/codec/house_writer.h"
#include "audio/codec/sound_reader.h"

extern char** environ;

namespace sono::test {

// Runs a program with an argument vector (no shell); its standard output, or
// nothing when it cannot be started or fails. `status` gets the exit status.
// With `dataLimit` the program may hold no more than that many bytes of data
// (heap and private mappings: RLIMIT_DATA), as a memory budget.
inline std::optional<std::string> RunProgram(const std::vector<std::string>& args,
                                             int* status = nullptr, rlim_t dataLimit = 0) {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = 0;
  if (dataLimit == 0) {
    rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  } else {
    // The limit applies to the new program only: set between fork and exec.
    pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 2);
      const rlimit lim{dataLimit, dataLimit};
      ::setrlimit(RLIMIT_DATA, &lim);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    rc = pid < 0 ? errno : 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return std::nullopt;
  }
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int st = 0;
  ::waitpid(pid, &st, 0);
  const int code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  if (status) *status = code;
  if (!status && code != 0) return std::nullopt;
  return out;
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
