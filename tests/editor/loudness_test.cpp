// Level measurements against an independent meter: FFmpeg's ebur128 filter
// run on the same decoded audio (the house-format sound decoded by our
// reader, written as float WAV). The stored file's rules: -99999 for what
// silence cannot give, stale or damaged files never read as measurements.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "audio/codec/house_writer.h"
#include "audio/codec/sound_reader.h"
#include "core/files.h"
#include "core/manual_ports.h"
#include "editor/loudness_analyser.h"
#include "editor/loudness_meter.h"
#include "process.h"
#include "test_support.h"

namespace sono::editor {
namespace {

using test::TempDir;
constexpr int kRate = 48000;
constexpr const char* kSpeech = "/usr/share/sounds/alsa/Front_Center.wav";

// Writes interleaved stereo float samples as a house-format sound.
void WriteHouse(const std::string& path, const std::vector<float>& stereo) {
  audio::HouseWriter w;
  ASSERT_TRUE(w.open(path)) << w.error();
  ASSERT_TRUE(w.writeFloat(stereo.data(), static_cast<int>(stereo.size() / 2))) << w.error();
  ASSERT_TRUE(w.finish()) << w.error();
}

std::vector<float> Sine(double seconds, double dbfs, double hz) {
  const double amp = std::pow(10.0, dbfs / 20.0);
  std::vector<float> s(static_cast<size_t>(seconds * kRate) * 2);
  for (size_t i = 0; i < s.size() / 2; ++i)
    s[2 * i] = s[2 * i + 1] = static_cast<float>(amp * std::sin(2 * M_PI * hz * static_cast<double>(i) / kRate));
  return s;
}

// Pink noise (Kellet's filter over white noise), uncorrelated channels.
std::vector<float> Pink(double seconds, double gain, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> white(-1, 1);
  std::vector<float> s(static_cast<size_t>(seconds * kRate) * 2);
  for (int c = 0; c < 2; ++c) {
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (size_t i = 0; i < s.size() / 2; ++i) {
      const double w = white(rng);
      b0 = 0.99886 * b0 + w * 0.0555179; b1 = 0.99332 * b1 + w * 0.0750759;
      b2 = 0.96900 * b2 + w * 0.1538520; b3 = 0.86650 * b3 + w * 0.3104856;
      b4 = 0.55000 * b4 + w * 0.5329522; b5 = -0.7616 * b5 - w * 0.0168980;
      s[2 * i + c] = static_cast<float>(gain * (b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362));
      b6 = w * 0.115926;
    }
  }
  return s;
}

// A song-like mix: a bass line, a chord and a noise "drum" on the beat, with
// a quiet verse and a loud chorus (so the loudness range is not zero).
std::vector<float> SongLike(double seconds) {
  std::vector<float> s(static_cast<size_t>(seconds * kRate) * 2);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> white(-1, 1);
  for (size_t i = 0; i < s.size() / 2; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double section = std::fmod(t, 8.0) < 4.0 ? 0.25 : 0.8;
    const double beat = std::fmod(t, 0.5);
    const double drum = beat < 0.08 ? white(rng) * (1 - beat / 0.08) * 0.5 : 0;
    const double bass = 0.3 * std::sin(2 * M_PI * 55 * t);
    const double chordL = 0.15 * (std::sin(2 * M_PI * 440 * t) + std::sin(2 * M_PI * 554.37 * t));
    const double chordR = 0.15 * (std::sin(2 * M_PI * 659.25 * t) + std::sin(2 * M_PI * 440 * t));
    s[2 * i] = static_cast<float>(section * (bass + chordL + drum));
    s[2 * i + 1] = static_cast<float>(section * (bass + chordR + 0.7 * drum));
  }
  return s;
}

// The sound decoded by our reader, as a float WAV for the other meter.
void DecodeToFloatWav(const std::string& sound, const std::string& wav) {
  audio::InitDecoders();
  auto opened = audio::OpenSound(sound);
  ASSERT_TRUE(opened.reader) << opened.message;
  SF_INFO info{};
  info.samplerate = opened.reader->format().sampleRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* out = sf_open(wav.c_str(), SFM_WRITE, &info);
  ASSERT_NE(out, nullptr);
  std::vector<float> block(2 * 4800);
  long got = 0;
  while ((got = opened.reader->readStereo(block.data(), 4800)) > 0) sf_writef_float(out, block.data(), got);
  sf_close(out);
  ASSERT_EQ(got, 0);
}

struct OtherMeter {
  double integrated = 0, range = 0, samplePeakDb = 0, truePeakDb = 0;
};

// FFmpeg's ebur128 filter: the last frame's integrated loudness and range
// (three decimals), the highest peaks over every frame (linear, three decimals).
OtherMeter FfmpegMeasure(const std::string& wav, const std::string& folder) {
  const std::string metadata = folder + "ffmpeg_r128.txt";
  const auto r = test::RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-i", wav, "-af",
                                   "ebur128=peak=sample+true:metadata=1,ametadata=print:file=" + metadata,
                                   "-f", "null", "-"});
  EXPECT_TRUE(r.exited(0)) << r.err;
  OtherMeter m;
  double sample = 0, truePeak = 0;
  std::ifstream in(metadata);
  std::string line;
  int frames = 0;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const double v = std::atof(line.c_str() + eq + 1);
    if (key == "lavfi.r128.I") m.integrated = v, ++frames;
    else if (key == "lavfi.r128.LRA") m.range = v;
    else if (key == "lavfi.r128.sample_peak") sample = std::max(sample, v);
    else if (key == "lavfi.r128.true_peak") truePeak = std::max(truePeak, v);
  }
  EXPECT_GT(frames, 10) << "FFmpeg printed no measurement";
  m.samplePeakDb = 20 * std::log10(sample);
  m.truePeakDb = 20 * std::log10(truePeak);
  return m;
}

class LevelsAgainstFfmpeg : public ::testing::Test {
 protected:
  // Measures `sound` both ways; both meters must agree.
  void Compare(const std::string& sound, double rangeTolerance = 0.3) {
    const LevelMeasureResult ours = MeasureLevels(sound);
    ASSERT_TRUE(ours.ok) << ours.error;
    const std::string wav = dir.path() + "decoded.wav";
    DecodeToFloatWav(sound, wav);
    const OtherMeter other = FfmpegMeasure(wav, dir.path());
    const LevelMeasurements& l = ours.levels;
    EXPECT_NEAR(l.integratedLufs, other.integrated, 0.1) << sound;
    EXPECT_NEAR(l.truePeakDbtp, other.truePeakDb, 0.2) << sound;
    EXPECT_NEAR(l.samplePeakDbfs, other.samplePeakDb, 0.05) << sound;
    EXPECT_NEAR(l.rangeLu, other.range, rangeTolerance) << sound;
    EXPECT_GE(l.truePeakDbtp, l.samplePeakDbfs);
  }
  TempDir dir;
};

// A quarter-rate sine sampled 45° off its crests: every sample is at 0.707
// of the crest, so only the interpolator sees the crest. It comes after a
// louder-sampled stretch and in blocks of odd sizes, so a stretch wrongly
// skipped, or a lost history between blocks, shows.
TEST(LoudnessAnalyserPeaks, AnInterSamplePeakAfterLouderSamplesIsFound) {
  std::vector<float> s;
  for (int i = 0; i < 48000; ++i) {  // a 100 Hz tone with samples up to 0.4
    const float v = static_cast<float>(0.4 * std::sin(2 * M_PI * 100 * i / 48000.0));
    s.push_back(v), s.push_back(v);
  }
  for (int i = 0; i < 4800; ++i) {  // 12 kHz, crest 0.5, samples at ±0.354
    const float v = static_cast<float>(0.5 * std::sin(M_PI / 2 * i + M_PI / 4));
    s.push_back(v), s.push_back(-v);
  }
  LoudnessAnalyser whole(48000), pieces(48000);
  whole.add(s.data(), static_cast<long>(s.size() / 2));
  for (size_t at = 0; at < s.size() / 2;) {
    const long n = std::min<long>(777, static_cast<long>(s.size() / 2 - at));
    pieces.add(s.data() + 2 * at, n);
    at += static_cast<size_t>(n);
  }
  EXPECT_NEAR(whole.samplePeak(), 0.4, 1e-3);
  EXPECT_NEAR(20 * std::log10(whole.truePeak()), 20 * std::log10(0.5), 0.2);
  EXPECT_DOUBLE_EQ(pieces.truePeak(), whole.truePeak());
  EXPECT_DOUBLE_EQ(pieces.integratedLufs(), whole.integratedLufs());
}

TEST_F(LevelsAgainstFfmpeg, SineAtMinus20Dbfs) {
  const std::string sound = dir.path() + "sine.s48";
  WriteHouse(sound, Sine(10, -20, 1000));
  Compare(sound);
  // A 1 kHz sine at -20 dBFS in both channels reads about -20 LUFS (+3 dB for
  // two channels, -3 dB of a sine's RMS): the meter is not off by a channel.
  EXPECT_NEAR(MeasureLevels(sound).levels.integratedLufs, -20.0, 0.3);
}

TEST_F(LevelsAgainstFfmpeg, PinkNoise) {
  const std::string sound = dir.path() + "pink.s48";
  WriteHouse(sound, Pink(12, 0.08, 3));
  Compare(sound);
}

TEST_F(LevelsAgainstFfmpeg, SongLikeMixWithLoudnessRange) {
  const std::string sound = dir.path() + "song.s48";
  WriteHouse(sound, SongLike(40));
  Compare(sound);
  EXPECT_GT(MeasureLevels(sound).levels.rangeLu, 5.0);  // quiet verse, loud chorus
}

TEST_F(LevelsAgainstFfmpeg, SpeechEncodedAndAsItIs) {
  ASSERT_TRUE(File_Exist(kSpeech)) << "alsa-utils' sounds are missing";
  const std::string sound = dir.path() + "speech.s48";
  ASSERT_TRUE(audio::EncodeToHouse(kSpeech, sound).ok);
  Compare(sound);
  // The WAV itself, read as the readers give it (mono on both channels).
  Compare(kSpeech);
}

TEST(LevelFile, StoredValuesReadBackAndStaleOrDamagedFilesAreNotMeasurements) {
  TempDir dir;
  ManualClock clock;
  TraceLogger log(clock);
  const std::string sound = dir.path() + "0001234.s48";
  WriteHouse(sound, Sine(3, -12, 440));
  const LevelMeasureResult stored = MeasureAndStoreLevels(sound, log, "test");
  ASSERT_TRUE(stored.ok) << stored.error;
  EXPECT_EQ(LevelPathFor(sound), dir.path() + "0001234.lvl");
  auto read = ReadLevelFile(sound);
  ASSERT_TRUE(read);
  EXPECT_NEAR(read->integratedLufs, stored.levels.integratedLufs, 0.001);
  EXPECT_NEAR(read->truePeakDbtp, stored.levels.truePeakDbtp, 0.001);
  EXPECT_NEAR(read->rangeLu, stored.levels.rangeLu, 0.001);

  const std::string text = *ReadWholeFile(LevelPathFor(sound));
  std::string why;
  // Cut short, another version, a value that is no number: not read.
  for (const std::string& damaged : {text.substr(0, text.size() / 2), "Sonoteka levels 2" + text.substr(17),
                                     std::string(text).replace(text.find("integrated_lufs=") + 16, 1, "x")}) {
    ASSERT_TRUE(WriteFileAtomic(LevelPathFor(sound), damaged));
    EXPECT_FALSE(ReadLevelFile(sound, &why)) << damaged;
  }
  // The measurement of another sound under the same name is not this one's.
  ASSERT_TRUE(WriteFileAtomic(LevelPathFor(sound), text));
  WriteHouse(sound, Sine(2, -6, 440));
  EXPECT_FALSE(ReadLevelFile(sound, &why));
  EXPECT_EQ(why, "mesures d'un autre son");
}

TEST(LevelFile, SilenceHasNoLoudnessAndAFailedMeasureLeavesNoOldFile) {
  TempDir dir;
  ManualClock clock;
  TraceLogger log(clock);
  const std::string sound = dir.path() + "silence.s48";
  WriteHouse(sound, std::vector<float>(2 * kRate * 2, 0.0f));
  ASSERT_TRUE(MeasureAndStoreLevels(sound, log, "test").ok);
  const auto read = ReadLevelFile(sound);
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->anyMeasured());
  EXPECT_NE(ReadWholeFile(LevelPathFor(sound))->find("integrated_lufs=-99999\n"), std::string::npos);

  // A sound that is no longer readable: the old measures go with it.
  ASSERT_TRUE(WriteFileAtomic(sound, std::string(5000, 'x')));
  EXPECT_FALSE(MeasureAndStoreLevels(sound, log, "test").ok);
  EXPECT_FALSE(File_Exist(LevelPathFor(sound)));
}

TEST(LevelFile, FullDiskKeepsThePreviousMeasures) {
  TempDir dir;
  ManualClock clock;
  TraceLogger log(clock);
  const std::string sound = dir.path() + "tone.s48";
  WriteHouse(sound, Sine(2, -12, 440));
  ASSERT_TRUE(MeasureAndStoreLevels(sound, log, "test").ok);
  const std::string before = *ReadWholeFile(LevelPathFor(sound));
  LevelMeasureResult r;
  {
    test::FileSizeLimit full(10);
    r = MeasureAndStoreLevels(sound, log, "test");
  }
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("disque plein"), std::string::npos) << r.error;
  EXPECT_EQ(*ReadWholeFile(LevelPathFor(sound)), before);
}

}  // namespace
}  // namespace sono::editor
