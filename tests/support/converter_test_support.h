// Sources made with the ffmpeg program, the converter run as its own process,
// and the checks of a house-format result.
#pragma once
#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "process.h"

namespace sono::test {

// A two-channel 440 Hz tone, the left at half scale and the right at a
// quarter, `ms` long, encoded by ffmpeg with `codecArgs` into `path`.
inline bool MakeTone(const std::string& path, int ms, const std::vector<std::string>& codecArgs,
                     int rate = 44100) {
  const std::string expr = "aevalsrc=0.5*sin(2*PI*440*t)|0.25*sin(2*PI*440*t):s=" + std::to_string(rate) +
                           ":d=" + std::to_string(ms / 1000.0);
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", expr};
  args.insert(args.end(), codecArgs.begin(), codecArgs.end());
  args.push_back(path);
  const ProcessResult r = RunProcess(args, {}, 60000);
  EXPECT_TRUE(r.exited(0)) << r.err;
  return r.exited(0);
}

inline std::string ErrorFileFor(const std::string& target) {
  return target.substr(0, target.rfind('.')) + "_Err_Convert.Log";
}

// The converter run on `source` into `target`, its errors in the file beside
// the target, with `options` after the three file names.
inline ProcessResult RunConverter(const std::string& source, const std::string& target,
                                  const std::vector<std::string>& options,
                                  const std::map<std::string, std::string>& env = {}) {
  std::vector<std::string> args = {SONOTEKA_CONVERT, "-infile=" + source, "-outfile=" + target,
                                   "-errorfile=" + ErrorFileFor(target)};
  args.insert(args.end(), options.begin(), options.end());
  return RunProcess(args, env, 120000);
}

// The house format's options, as the library's driver passes them.
inline const std::vector<std::string> kHouseOptions = {"-convert_to=mp2", "-s=48000", "-b=256", "-c=2",
                                                       "--managed"};

inline ProcessResult ConvertToHouse(const std::string& source, const std::string& target,
                                    const std::map<std::string, std::string>& env = {}) {
  return RunConverter(source, target, kHouseOptions, env);
}

// Milliseconds a PCM file (WAV, AIFF) holds, read through libsndfile.
inline int64_t PcmFileMs(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return -1;
  sf_close(f);
  return info.frames * 1000 / info.samplerate;
}

struct HouseCheck {
  int64_t frames = 0;
  int64_t ms = 0;
  int leftPeak = 0, rightPeak = 0;  // the loudest energy words of the middle frames
};

// Every 768-byte frame is an MPEG-1 Layer II frame at 48000 Hz, 256 kbit/s,
// stereo; the energy words are read from each.
inline HouseCheck CheckHouseFile(const std::string& path) {
  HouseCheck c;
  const std::string bytes = ReadFile(path);
  EXPECT_GT(bytes.size(), 0u) << path;
  EXPECT_EQ(bytes.size() % audio::kHouseFrameBytes, 0u) << path << " holds a cut frame";
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  c.frames = static_cast<int64_t>(bytes.size() / audio::kHouseFrameBytes);
  for (int64_t i = 0; i < c.frames; ++i) {
    const uint8_t* frame = data + i * audio::kHouseFrameBytes;
    const auto h = audio::ParseMpegHeader(frame);
    if (!h || h->version != 1 || h->layer != 2 || h->sampleRate != audio::kHouseRate ||
        h->bitrateKbps != audio::kHouseBitrateKbps || h->channels != 2 || h->frameBytes != audio::kHouseFrameBytes) {
      ADD_FAILURE() << path << ": frame " << i << " is not a house-format frame";
      break;
    }
    if (i >= 3 && i + 3 < c.frames) {
      const audio::EnergyLevels e = audio::ReadEnergyLevels(frame, audio::kHouseFrameBytes);
      c.leftPeak = std::max(c.leftPeak, e.left);
      c.rightPeak = std::max(c.rightPeak, e.right);
    }
  }
  c.ms = c.frames * audio::kHouseFrameMs;
  return c;
}

// ffmpeg decodes the file without a word of complaint.
inline void ExpectDecodesCleanly(const std::string& path) {
  const ProcessResult r = RunProcess({"ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"}, {}, 60000);
  EXPECT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.err, "") << path;
}

// The names in `folder`, hidden ones included.
inline std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> out = FolderEntries(folder);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace sono::test
