// The export formats the library asks for: WAV and AIFF at a chosen width,
// rate and channel count, as libsndfile reads them back.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

#include "converter_test_support.h"
#include "core/files.h"

namespace sono::test {
namespace {

struct PcmFile {
  int format = 0, rate = 0, channels = 0;
  int64_t ms = -1;
  float leftPeak = 0, rightPeak = 0;
};

PcmFile ReadPcm(const std::string& path) {
  PcmFile p;
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
  if (!f) return p;
  p.format = info.format;
  p.rate = info.samplerate;
  p.channels = info.channels;
  p.ms = info.frames * 1000 / info.samplerate;
  std::vector<float> block(4096 * static_cast<size_t>(info.channels));
  sf_count_t got;
  while ((got = sf_readf_float(f, block.data(), 4096)) > 0)
    for (sf_count_t i = 0; i < got; ++i) {
      p.leftPeak = std::max(p.leftPeak, std::fabs(block[i * info.channels]));
      p.rightPeak = std::max(p.rightPeak, std::fabs(block[i * info.channels + info.channels - 1]));
    }
  sf_close(f);
  return p;
}

TEST(PcmExport, WavAndAiffAtTheAskedWidthRateAndChannels) {
  TempDir dir;
  const std::string mp3 = dir / "tone.mp3", flac = dir / "tone.flac", house = dir / "tone.mp2";
  ASSERT_TRUE(MakeTone(mp3, 3000, {"-c:a", "libmp3lame", "-b:a", "192k"}));
  ASSERT_TRUE(MakeTone(flac, 3000, {"-c:a", "flac"}));
  ASSERT_TRUE(MakeTone(house, 3000, {"-c:a", "mp2", "-b:a", "256k"}, 48000));
  struct Case {
    std::string source, target;
    std::vector<std::string> codec;
    int format, rate, channels;
  };
  const std::vector<Case> cases = {
      // The queue's WAV (format 3) and AIFF (format 4).
      {mp3, "a.wav", {"-convert_to=wave", "-compression=PCM", "-bits=16", "-freq=44100", "--managed"},
       SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2},
      {flac, "b.aif", {"-convert_to=Aiff", "-bits=24", "-freq=48000", "-channels=1", "--managed"},
       SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 1},
      // The editor's export: 16 bits, stereo, the source's rate.
      {house, "c.wave", {"-convert_to=Wave", "-bits=16", "-channels=stereo"}, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2},
      {flac, "d.wav", {"-convert_to=wave", "-compression=PCM", "-bits=8", "-freq=22050"},
       SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const std::string target = dir / c.target;
    const ProcessResult r = RunConverter(c.source, target, c.codec);
    ASSERT_TRUE(r.exited(0)) << r.err;
    EXPECT_EQ(ReadFile(ErrorFileFor(target)), "");
    const PcmFile p = ReadPcm(target);
    EXPECT_EQ(p.format, c.format);
    EXPECT_EQ(p.rate, c.rate);
    EXPECT_EQ(p.channels, c.channels);
    EXPECT_LE(std::abs(p.ms - 3000), audio::kHouseFrameMs) << p.ms;
    if (c.channels == 2) {
      EXPECT_NEAR(p.leftPeak, 0.5, 0.03);
      EXPECT_NEAR(p.rightPeak, 0.25, 0.02);
    } else {
      EXPECT_GT(p.leftPeak, 0.3);  // both sides mixed into one
    }
    EXPECT_NE(r.out.find(std::to_string(c.rate) + " Hz"), std::string::npos) << r.out;
  }
}

TEST(PcmExport, RefusesWidthsAndRatesItCannotWriteAndFullDisks) {
  TempDir dir;
  const std::string flac = dir / "tone.flac";
  ASSERT_TRUE(MakeTone(flac, 3000, {"-c:a", "flac"}));
  const std::string target = dir / "out.wav";
  ProcessResult r = RunConverter(flac, target, {"-convert_to=wave", "-bits=12", "-freq=44100"});
  EXPECT_TRUE(r.exited(2));
  EXPECT_EQ(ReadFile(ErrorFileFor(target)), "Résolution non prise en charge: 12 bits");
  r = RunConverter(flac, target, {"-convert_to=Aiff", "-bits=16", "-freq=1000"});
  EXPECT_TRUE(r.exited(2));
  EXPECT_EQ(ReadFile(ErrorFileFor(target)), "Fréquence non prise en charge: 1000 Hz");
  {
    FileSizeLimit limit(100 * 1024);  // the WAV needs about 520 KB
    r = RunConverter(flac, target, {"-convert_to=wave", "-bits=16", "-freq=44100"});
  }
  EXPECT_TRUE(r.exited(1)) << r.err;
  EXPECT_EQ(ReadFile(ErrorFileFor(target)), "Impossible d'écrire le fichier: " + target + " (disque plein)");
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"out_Err_Convert.Log", "tone.flac"}));

  // Killed as it renames, or failing to flush: no WAV, no temporary file kept
  // but the one a kill leaves, which the library's sweep knows.
  for (const std::string rule : {"fsync:1:fail:EIO", "rename:1:kill", "write:3:fail:ENOSPC"}) {
    SCOPED_TRACE(rule);
    r = RunConverter(flac, target, {"-convert_to=wave", "-bits=16"}, FaultEnvironment(rule, "out.wav"));
    EXPECT_FALSE(Exists(target));
    for (const std::string& name : Entries(dir.path()))
      if (name != "out_Err_Convert.Log" && name != "tone.flac") {
        EXPECT_EQ(r.signal, SIGKILL) << name;
        EXPECT_TRUE(IsOurTemporaryFileName(name)) << name;
        std::filesystem::remove(dir / name);
      }
    if (rule.find("kill") == std::string::npos) EXPECT_TRUE(r.exited(1)) << r.err;
    else EXPECT_EQ(r.signal, SIGKILL);
  }
}

}  // namespace
}  // namespace sono::test

namespace sono::test {
namespace {

// What ffprobe says of the first audio stream: "codec rate channels kbit/s".
std::string Probe(const std::string& path) {
  const ProcessResult r = RunProcess({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                      "stream=codec_name,sample_rate,channels,bit_rate", "-of", "csv=p=0", path},
                                     {}, 30000);
  std::string out = r.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Decoded back by ffmpeg (which honours the encoder's delay and padding).
PcmFile DecodeBack(const std::string& path) {
  const std::string wav = path + ".check.wav";
  const ProcessResult r = RunProcess({"ffmpeg", "-v", "error", "-y", "-i", path, "-c:a", "pcm_f32le", wav}, {}, 60000);
  EXPECT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.err, "");
  PcmFile p = ReadPcm(wav);
  std::filesystem::remove(wav);
  return p;
}

// One export per case from a 3 s tone (left at -6 dBFS, right at -12 dBFS):
// the file has the asked codec, rate, channels and bit rate, and decodes to
// the source's length within one frame with the levels kept (on both sides
// when it is stereo).
struct EncodedCase {
  std::string target;
  std::vector<std::string> codec;
  std::string probe;  // ffprobe's codec, rate, channels and nominal bit rate
};

void ExpectEncodedCases(const std::string& source, const TempDir& dir, const std::vector<EncodedCase>& cases) {
  for (const EncodedCase& c : cases) {
    SCOPED_TRACE(c.target);
    const std::string target = dir / c.target;
    const ProcessResult r = RunConverter(source, target, c.codec);
    ASSERT_TRUE(r.exited(0)) << r.err;
    EXPECT_EQ(Probe(target), c.probe);
    const PcmFile p = DecodeBack(target);
    EXPECT_LE(std::abs(p.ms - 3000), audio::kHouseFrameMs) << p.ms;
    if (p.channels == 2) {
      EXPECT_NEAR(p.leftPeak, 0.5, 0.04);
      EXPECT_NEAR(p.rightPeak, 0.25, 0.03);
    }
  }
}

// A refused export: exit 2, the reason in the error file, no target.
void ExpectRefused(const std::string& source, const TempDir& dir, const std::string& target,
                   const std::vector<std::string>& args, const std::string& reason) {
  SCOPED_TRACE(reason);
  const ProcessResult r = RunConverter(source, dir / target, args);
  EXPECT_TRUE(r.exited(2));
  const std::string stem = target.substr(0, target.find('.'));
  EXPECT_EQ(ReadFile(dir / (stem + "_Err_Convert.Log")), reason);
  EXPECT_FALSE(Exists(dir / target));
}

TEST(Mp3Export, QueueAndEditorFormatsDecodeToTheSourcesLengthAndLevels) {
  TempDir dir;
  const std::string flac = dir / "tone.flac";
  ASSERT_TRUE(MakeTone(flac, 3000, {"-c:a", "flac"}, 48000));
  ExpectEncodedCases(flac, dir, {
      {"a.mp3", {"-convert_to=mp3 (Lame)", "-s=44100", "-b=256", "-c=2", "--managed"}, "mp3,44100,2,256000"},
      {"b.mp3", {"-convert_to=mp3 (Lame)", "-s=44100", "-b=128", "-c=0", "--managed"}, "mp3,44100,2,128000"},
      {"c.mp3", {"-convert_to=mp3 (Lame)", "-s=22050", "-b=64", "-c=1", "--managed"}, "mp3,22050,1,64000"},
      {"d.mp3", {"-convert_to=mp3 (Lame)"}, "mp3,44100,2,128000"},  // the editor's export
  });
  ExpectRefused(flac, dir, "e.mp3", {"-convert_to=mp3 (Lame)", "-s=22050", "-b=256"},
                "Débit non pris en charge en mp3 à 22050 Hz: 256 kbit/s");
  ExpectRefused(flac, dir, "e.mp3", {"-convert_to=mp3 (Lame)", "-s=96000", "-b=256"},
                "Fréquence non prise en charge en mp3: 96000 Hz");
}

TEST(OggExport, QualityOrAverageBitRateDecodeToTheSourcesLengthAndLevels) {
  TempDir dir;
  const std::string flac = dir / "tone.flac";
  ASSERT_TRUE(MakeTone(flac, 3000, {"-c:a", "flac"}, 44100));
  ExpectEncodedCases(flac, dir, {
      {"a.ogg", {"-convert_to=Ogg Vorbis", "-q=0.4", "--managed"}, "vorbis,44100,2,128000"},
      {"b.ogg", {"-convert_to=Ogg Vorbis", "-b=320", "--managed"}, "vorbis,44100,2,320000"},
      {"c.ogg", {"-convert_to=Ogg Vorbis", "-q=0.6"}, "vorbis,44100,2,192000"},  // the editor's export
  });
  ExpectRefused(flac, dir, "d.ogg", {"-convert_to=Ogg Vorbis", "-q=2"}, "Valeur incorrecte pour -q: 2");
  ExpectRefused(flac, dir, "d.ogg", {"-convert_to=Ogg Vorbis", "-b=500", "-s=8000"},
                "Débit non pris en charge en Ogg Vorbis à 8000 Hz: 500 kbit/s");
}

}  // namespace
}  // namespace sono::test
