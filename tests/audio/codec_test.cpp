// The house-format writer, the frame scanner and the readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <array>
#include <fstream>
#include <random>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "audio_test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

// One second of the test signal: whole frames of the house format, no
// temporary file beside them, and the waveform back through libmpg123.
TEST(HouseWriter, WritesWholeFramesThatDecodeBackToTheSignal) {
  TempDir dir;
  const auto signal = test::TestSignal(48000);
  const std::string path = dir / "a.s48";
  ASSERT_TRUE(test::WriteHouse(path, signal));
  const FrameScan scan = ScanMpegFile(path);
  ASSERT_EQ(scan.status, ScanStatus::Ok);
  EXPECT_EQ(scan.first.layer, 2);
  EXPECT_EQ(scan.first.version, 1);
  EXPECT_EQ(scan.first.sampleRate, 48000);
  EXPECT_EQ(scan.first.bitrateKbps, 256);
  EXPECT_EQ(scan.first.channels, 2);
  EXPECT_EQ(scan.first.frameBytes, kHouseFrameBytes);
  // 48000 samples need 42 frames (41.67, the last one padded).
  EXPECT_EQ(scan.frames, 42);
  EXPECT_EQ(scan.fileBytes, 42 * kHouseFrameBytes);
  EXPECT_EQ(scan.durationMs, 42 * kHouseFrameMs);
  EXPECT_EQ(scan.trailingBytes, 0);
  EXPECT_FALSE(scan.truncated);
  EXPECT_EQ(test::FolderEntries(dir.path()).size(), 1u);

  OpenedSound s = OpenSound(path);
  ASSERT_TRUE(s.reader);
  EXPECT_EQ(s.reader->format().kind, SoundKind::Mpeg);
  EXPECT_EQ(s.reader->format().lengthFrames, 42 * 1152);
  const auto decoded = test::DecodeAll(path);
  ASSERT_EQ(decoded.size(), 42u * 1152 * 2);
  // Layer II at 256 kbit/s keeps the waveform: find the decoder's delay, then
  // compare the signals sample by sample.
  int bestLag = 0;
  double best = -1;
  for (int lag = 0; lag < 1152; ++lag) {
    double c = 0;
    for (int i = 4800; i < 9600; ++i) c += decoded[2 * (i + lag)] * signal[2 * i];
    if (c > best) best = c, bestLag = lag;
  }
  double err = 0, energy = 0;
  for (int i = 4800; i < 43200; ++i) {
    for (int ch = 0; ch < 2; ++ch) {
      const double d = decoded[2 * (i + bestLag) + ch] - signal[2 * i + ch];
      err += d * d;
      energy += signal[2 * i + ch] * signal[2 * i + ch];
    }
  }
  EXPECT_LT(err / energy, 1e-3) << "lag " << bestLag;  // better than 30 dB SNR
}

TEST(HouseWriter, FfprobeSeesMp2At48kStereo256k) {
  TempDir dir;
  const std::string path = test::MakeHouseFile(dir, "a.s48", 500);
  const auto out = test::RunProgram({"ffprobe", "-v", "error", "-show_entries",
                        "stream=codec_name,sample_rate,channels,bit_rate", "-of",
                        "default=noprint_wrappers=1", path});
  if (!out) GTEST_SKIP() << "ffprobe is not installed";
  EXPECT_NE(out->find("codec_name=mp2"), std::string::npos) << *out;
  EXPECT_NE(out->find("sample_rate=48000"), std::string::npos) << *out;
  EXPECT_NE(out->find("channels=2"), std::string::npos) << *out;
  EXPECT_NE(out->find("bit_rate=256000"), std::string::npos) << *out;
}

TEST(HouseWriter, EnergyWordsMatchTheDecodedPeaksOfEachFrame) {
  TempDir dir;
  // The level changes every ten frames, differently on each side, so that
  // swapped words or a wrong frame show; the decoder's delay (under one frame)
  // keeps the frames inside a step comparable.
  const int frames = 60;
  std::vector<float> s(static_cast<size_t>(frames) * 1152 * 2);
  for (size_t i = 0; i < s.size() / 2; ++i) {
    const int step = static_cast<int>(i / (1152 * 10));
    const double t = static_cast<double>(i) / 48000;
    s[2 * i] = static_cast<float>((0.1 + 0.15 * step) * std::sin(2 * std::numbers::pi * 500 * t));
    s[2 * i + 1] =
        static_cast<float>((0.85 - 0.12 * step) * std::sin(2 * std::numbers::pi * 700 * t));
  }
  const std::string path = dir / "e.s48";
  ASSERT_TRUE(test::WriteHouse(path, s));
  const std::string bytes = test::ReadFile(path);
  const auto decoded = test::DecodeAll(path);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(frames) * kHouseFrameBytes);
  int compared = 0;
  for (int f = 0; f < frames; ++f) {
    if (f % 10 < 2 || f % 10 == 9) continue;  // frames around a step mix two levels
    const auto e = ReadEnergyLevels(
        reinterpret_cast<const uint8_t*>(bytes.data()) + f * kHouseFrameBytes, kHouseFrameBytes);
    const size_t from = static_cast<size_t>(f) * 1152;
    const float left = test::PeakOf(decoded, from, from + 1152, 0) * 32767;
    const float right = test::PeakOf(decoded, from, from + 1152, 1) * 32767;
    EXPECT_NEAR(e.left, left, left * 0.01) << "frame " << f;
    EXPECT_NEAR(e.right, right, right * 0.01) << "frame " << f;
    ++compared;
  }
  EXPECT_EQ(compared, 42);
}

TEST(HouseWriter, EncodesPcmFilesAtOtherRates) {
  TempDir dir;
  const std::string wav = dir / "in.wav";
  ASSERT_TRUE(test::WritePcmWav(wav, test::TestSignal(44100, 44100), 44100, 1));
  const EncodeResult r = EncodeToHouse(wav, dir / "out.s48");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.inputFrames, 44100);
  const FrameScan scan = ScanMpegFile(dir / "out.s48");
  ASSERT_EQ(scan.status, ScanStatus::Ok);
  // One second at 44.1 kHz is one second at 48 kHz: 42 frames.
  EXPECT_EQ(scan.frames, 42);
  // A mono source is heard on both sides.
  const auto decoded = test::DecodeAll(dir / "out.s48");
  EXPECT_GT(test::PeakOf(decoded, 5000, 40000, 1), 0.3f);
}

TEST(HouseWriter, RefusesWhatIsNoSoundAndLeavesTheTargetAlone) {
  TempDir dir;
  test::WriteFile(dir / "text.wav", "not a sound at all, just some words\n");
  test::WriteFile(dir / "out.s48", "previous");
  EncodeResult r = EncodeToHouse(dir / "text.wav", dir / "out.s48");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("format non reconnu"), std::string::npos);
  r = EncodeToHouse(dir / "missing.wav", dir / "out.s48");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("introuvable"), std::string::npos);
  EXPECT_EQ(test::ReadFile(dir / "out.s48"), "previous");
  EXPECT_EQ(test::FolderEntries(dir.path()).size(), 2u);
}

// The scanner and the readers on the same bad files: each with its own
// status, and a cut file gives its whole frames and nothing of the cut one.
TEST(FrameScanner, TellsBadFilesApartAndTheReadersAgree) {
  TempDir dir;
  const std::string good = test::MakeHouseFile(dir, "good.s48", 480);
  const std::string bytes = test::ReadFile(good);
  test::WriteFile(dir / "text.s48", std::string(2000, 'x') + "\nsome text renamed\n");
  test::WriteFile(dir / "short.s48", "just text\n");
  test::WriteFile(dir / "empty.s48", "");
  test::WriteFile(dir / "cut.s48", bytes.substr(0, bytes.size() - 300));
  test::WriteFile(dir / "half.s48", bytes.substr(0, 500));
  const std::string id3("ID3\x03\x00\x00\x00\x00\x00\x05\0\0\0\0\0", 15);
  test::WriteFile(dir / "tagged.s48", id3 + bytes + "TAG" + std::string(125, ' '));

  EXPECT_EQ(ScanMpegFile(dir / "missing.s48").status, ScanStatus::NotFound);
  EXPECT_EQ(ScanMpegFile(dir / "text.s48").status, ScanStatus::Invalid);
  EXPECT_EQ(ScanMpegFile(dir / "empty.s48").status, ScanStatus::TooSmall);
  EXPECT_EQ(ScanMpegFile(dir / "half.s48").status, ScanStatus::TooSmall);
  EXPECT_EQ(OpenSound(dir / "missing.s48").error, OpenError::NotFound);
  EXPECT_EQ(OpenSound(dir.path()).error, OpenError::NotFound);  // a folder
  EXPECT_EQ(OpenSound(dir / "text.s48").error, OpenError::Invalid);
  EXPECT_EQ(OpenSound(dir / "short.s48").error, OpenError::Invalid);  // short, but no sound
  EXPECT_EQ(OpenSound(dir / "empty.s48").error, OpenError::TooSmall);

  const FrameScan cut = ScanMpegFile(dir / "cut.s48");
  ASSERT_EQ(cut.status, ScanStatus::Ok);
  EXPECT_TRUE(cut.truncated);
  EXPECT_EQ(cut.frames, 20 - 1);
  EXPECT_EQ(cut.durationMs, 19 * 24);
  EXPECT_EQ(cut.trailingBytes, 768 - 300);
  OpenedSound reader = OpenSound(dir / "cut.s48");
  ASSERT_TRUE(reader.reader);
  EXPECT_EQ(reader.reader->format().lengthFrames, 19 * 1152);
  std::vector<float> buf(25 * 1152 * 2);
  EXPECT_EQ(reader.reader->readStereo(buf.data(), 25 * 1152), 19 * 1152);
  EXPECT_EQ(reader.reader->readStereo(buf.data(), 1152), 0);

  const FrameScan tagged = ScanMpegFile(dir / "tagged.s48");
  ASSERT_EQ(tagged.status, ScanStatus::Ok);
  EXPECT_EQ(tagged.dataOffset, 15);
  EXPECT_EQ(tagged.frames, 20);
  EXPECT_EQ(tagged.trailingBytes, 0);
}

// Damage at several places of a 30 s house file (1250 frames of 768 bytes):
// the scanner skips what is damaged and finds every whole frame after it, the
// decoder gives exactly the frames the scanner counted, and FFmpeg, decoding
// the same file, loses at most the frame before each damaged stretch besides.
TEST(FrameScanner, ResynchronisesOnTheNextFrameAfterDamage) {
  TempDir dir;
  const std::string clean = test::MakeHouseFile(dir, "clean.s48", 30000);
  const std::string bytes = test::ReadFile(clean);
  ASSERT_EQ(bytes.size(), 1250u * 768);
  const auto reference = test::DecodeAll(clean);
  std::mt19937 random(17);
  std::string garbage(5000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());

  struct Case {
    std::string name;
    std::string data;
    int64_t frames, damaged;
    std::vector<int64_t> at;  // where the damaged stretches start
    int64_t sameFrom, sameTo;  // frames of the damaged file equal to the clean file's
    int64_t shift;             // ... shifted by that many frames
  };
  auto zeroHeader = [](std::string d, std::initializer_list<int> frames) {
    for (int f : frames) d[static_cast<size_t>(f) * 768 + 1] = 0;
    return d;
  };
  std::string run = bytes;
  run.replace(300 * 768 + 100, garbage.size(), garbage);
  std::string inserted = bytes;
  inserted.insert(700 * 768, garbage.substr(0, 1000));
  const std::vector<Case> cases = {
      {"one header", zeroHeader(bytes, {600}), 1249, 1, {600 * 768}, 605, 1240, 1},
      {"several", zeroHeader(bytes, {100, 200, 900, 1200}), 1246, 4,
       {100 * 768, 200 * 768, 900 * 768, 1200 * 768}, 905, 1195, 3},
      {"first frame", zeroHeader(bytes, {0}), 1249, 1, {0}, 5, 1240, 1},
      {"last frame", zeroHeader(bytes, {1249}), 1249, 1, {1249 * 768}, 5, 1240, 0},
      {"garbage run", run, 1244, 6, {301 * 768}, 312, 1240, 6},
      {"garbage inserted", inserted, 1250, 2, {700 * 768}, 705, 1240, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "damaged.s48";
    test::WriteFile(path, c.data);
    const FrameScan scan = ScanMpegFile(path);
    ASSERT_EQ(scan.status, ScanStatus::Ok);
    EXPECT_EQ(scan.frames, c.frames);
    EXPECT_EQ(scan.durationMs, c.frames * 24);
    EXPECT_EQ(scan.damagedFrames, c.damaged);
    EXPECT_EQ(scan.damagedMs(), c.damaged * 24);
    ASSERT_EQ(scan.damage.size(), c.at.size());
    for (size_t i = 0; i < c.at.size(); ++i) EXPECT_EQ(scan.damage[i].offset, c.at[i]);
    EXPECT_NE(DescribeDamage(scan).find("Damaged frames: " + std::to_string(c.damaged)),
              std::string::npos);

    const auto decoded = test::DecodeAll(path);
    ASSERT_EQ(static_cast<int64_t>(decoded.size() / 2), scan.samples);
    for (int64_t f = c.sameFrom; f < c.sameTo; f += 97)
      for (int64_t i = f * 1152; i < f * 1152 + 1152; i += 31)
        ASSERT_NEAR(decoded[2 * i], reference[2 * (i + c.shift * 1152)], 1e-5) << "frame " << f;

    if (const auto ffmpeg = test::FfmpegDecodedFrames(path)) {
      EXPECT_GE(scan.samples, *ffmpeg);
      EXPECT_LE(scan.samples, *ffmpeg + 2 * 1152 * static_cast<int64_t>(scan.damage.size()));
    }
  }
  // Without damage nothing is reported.
  const FrameScan whole = ScanMpegFile(clean);
  EXPECT_EQ(whole.damagedFrames, 0);
  EXPECT_TRUE(whole.damage.empty());
  EXPECT_EQ(DescribeDamage(whole), "");
}

// A sync pattern inside garbage is not a frame unless another header follows
// where its length says; files that are no MPEG stream stay refused.
TEST(FrameScanner, TakesNoFalseSyncInsideGarbage) {
  TempDir dir;
  const std::string bytes = test::ReadFile(test::MakeHouseFile(dir, "a.s48", 2400));
  // A valid-looking header of another frame length inside the garbage.
  std::string trap(2000, '\x55');
  const char header[] = {'\xFF', '\xFD', '\x84', '\x00'};  // layer II, 48 kHz, 128 kbit/s
  trap.replace(500, 4, header, 4);
  test::WriteFile(dir / "trap.s48", bytes.substr(0, 50 * 768) + trap + bytes.substr(50 * 768));
  const FrameScan scan = ScanMpegFile(dir / "trap.s48");
  ASSERT_EQ(scan.status, ScanStatus::Ok);
  EXPECT_EQ(scan.frames, 100);
  ASSERT_EQ(scan.damage.size(), 1u);
  EXPECT_EQ(scan.damage[0].bytes, 2000);
  EXPECT_EQ(test::DecodeAll(dir / "trap.s48").size(), 100u * 1152 * 2);

  // A WAV file is never searched for frames, whatever its samples hold.
  std::vector<float> syncs(48000 * 2, -1.0f);
  ASSERT_TRUE(test::WritePcmWav(dir / "s.wav", syncs, 48000));
  EXPECT_EQ(ScanMpegFile(dir / "s.wav").status, ScanStatus::Invalid);
  // Zeros after an ID3v2 tag are its padding, not damage.
  const std::string id3("ID3\x03\x00\x00\x00\x00\x00\x05\0\0\0\0\0", 15);
  test::WriteFile(dir / "padded.s48", id3 + std::string(700, '\0') + bytes);
  const FrameScan padded = ScanMpegFile(dir / "padded.s48");
  ASSERT_EQ(padded.status, ScanStatus::Ok);
  EXPECT_EQ(padded.frames, 100);
  EXPECT_EQ(padded.damagedFrames, 0);
  EXPECT_EQ(test::DecodeAll(dir / "padded.s48").size(), 100u * 1152 * 2);
  // One frame among junk is chance.
  test::WriteFile(dir / "lone.s48", bytes.substr(0, 768) + std::string(3000, 'x'));
  EXPECT_EQ(ScanMpegFile(dir / "lone.s48").status, ScanStatus::Invalid);
}

// An MP3 made by FFmpeg (LAME): the decoder leaves out the encoder's delay
// and padding, so a click at t = 0 is heard at once and the sound has the
// length of its source, as FFmpeg decodes it.
TEST(Readers, Mp3KeepsItsTimingThroughGaplessDecoding) {
  TempDir dir;
  std::vector<float> click(44100 * 2, 0.0f);
  for (int i = 0; i < 16; ++i) click[2 * i] = click[2 * i + 1] = 0.8f;
  ASSERT_TRUE(test::WritePcmWav(dir / "click.wav", click, 44100));
  int status = -1;
  test::RunProgram({"ffmpeg", "-v", "quiet", "-y", "-i", dir / "click.wav", "-c:a", "libmp3lame",
                    "-b:a", "192k", dir / "click.mp3"}, &status);
  if (status != 0) GTEST_SKIP() << "ffmpeg with libmp3lame is not installed";
  const FrameScan scan = ScanMpegFile(dir / "click.mp3");
  ASSERT_EQ(scan.status, ScanStatus::Ok);
  EXPECT_TRUE(scan.infoFrame);
  EXPECT_GT(scan.encoderDelay, 0);
  const auto decoded = test::DecodeAll(dir / "click.mp3");
  const int64_t frames = static_cast<int64_t>(decoded.size() / 2);
  EXPECT_EQ(frames, scan.samples);
  EXPECT_EQ(frames, 44100);
  EXPECT_EQ(test::FfmpegDecodedFrames(dir / "click.mp3").value_or(frames), frames);
  int64_t onset = -1;
  for (int64_t i = 0; i < frames && onset < 0; ++i)
    if (std::fabs(decoded[2 * i]) > 0.2f) onset = i;
  EXPECT_GE(onset, 0);
  EXPECT_LE(onset, 4);
  EXPECT_EQ(scan.durationMs, 1000);
}

TEST(Readers, SeekingIsSampleAccurate) {
  TempDir dir;
  const std::string path = test::MakeHouseFile(dir, "a.s48", 2000);
  const auto all = test::DecodeAll(path);
  for (int64_t at : {int64_t{1}, int64_t{1151}, int64_t{1152}, int64_t{12345}, int64_t{70001}}) {
    OpenedSound s = OpenSound(path);
    ASSERT_TRUE(s.reader->seekFrame(at));
    std::vector<float> buf(2000);
    ASSERT_EQ(s.reader->readStereo(buf.data(), 1000), 1000);
    for (int i = 0; i < 2000; ++i) ASSERT_FLOAT_EQ(buf[i], all[at * 2 + i]) << at << " " << i;
  }
}

TEST(Readers, PcmThroughLibsndfile) {
  TempDir dir;
  const auto signal = test::TestSignal(4800);
  ASSERT_TRUE(test::WritePcmWav(dir / "s.wav", signal, 48000));
  ASSERT_TRUE(test::WritePcmWav(dir / "m.wav", signal, 48000, 1));
  OpenedSound s = OpenSound(dir / "s.wav");
  ASSERT_TRUE(s.reader);
  EXPECT_EQ(s.reader->format().kind, SoundKind::Pcm);
  EXPECT_EQ(s.reader->format().bitsPerSample, 16);
  EXPECT_EQ(s.reader->format().lengthFrames, 4800);
  EXPECT_EQ(s.reader->format().durationMs(), 100);
  ASSERT_TRUE(s.reader->seekFrame(100));
  std::vector<float> buf(20);
  ASSERT_EQ(s.reader->readStereo(buf.data(), 10), 10);
  for (int i = 0; i < 20; ++i) EXPECT_NEAR(buf[i], signal[200 + i], 1.0 / 32768);
  OpenedSound m = OpenSound(dir / "m.wav");
  ASSERT_TRUE(m.reader);
  EXPECT_EQ(m.reader->format().channels, 1);
  ASSERT_EQ(m.reader->readStereo(buf.data(), 10), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[2 * i], buf[2 * i + 1]);
}

// 5.1 sources (front left, front right, centre, LFE, back left, back right)
// each sounding on some speakers only, written as WAV (speakers named by its
// channel mask) and FLAC (speakers by the format's order): read, encoded and
// played, they give the standard stereo mix.
TEST(Readers, MultichannelSourcesAreMixedDownToStereo) {
  TempDir dir;
  constexpr int kRate = 48000, kFrames = 9600;
  struct Case {
    const char* name;
    std::array<float, 6> gains;  // of each channel's tone
    float left, right;           // expected peaks
  };
  const float c = 0.5f * 0.70710678f;
  const std::vector<Case> cases = {
      {"centre", {0, 0, 0.5f, 0, 0, 0}, c, c},
      {"lfe", {0, 0, 0, 0.5f, 0, 0}, 0, 0},
      {"surrounds", {0, 0, 0, 0, 0.5f, 0.25f}, c, c / 2},
      {"fronts", {0.5f, 0.25f, 0, 0, 0, 0}, 0.5f, 0.25f},
  };
  for (const Case& k : cases) {
    std::vector<float> six(static_cast<size_t>(kFrames) * 6);
    for (int i = 0; i < kFrames; ++i)
      for (int ch = 0; ch < 6; ++ch)
        six[static_cast<size_t>(i) * 6 + ch] =
            k.gains[ch] * static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * i / kRate));
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_FLAC | SF_FORMAT_PCM_24}) {
      const bool wav = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
      SCOPED_TRACE(std::string(k.name) + (wav ? " wav" : " flac"));
      const std::string path = dir / (std::string(k.name) + (wav ? ".wav" : ".flac"));
      SF_INFO info{};
      info.samplerate = kRate;
      info.channels = 6;
      info.format = format;
      SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
      ASSERT_NE(f, nullptr);
      if (wav) {
        int map[6] = {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_FRONT_CENTER,
                      SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT};
        sf_command(f, SFC_SET_CHANNEL_MAP_INFO, map, sizeof map);
      }
      ASSERT_EQ(sf_writef_float(f, six.data(), kFrames), kFrames);
      sf_close(f);

      const auto read = test::DecodeAll(path);
      ASSERT_EQ(read.size(), static_cast<size_t>(kFrames) * 2);
      EXPECT_NEAR(test::PeakOf(read, 0, kFrames, 0), k.left, 2e-3);
      EXPECT_NEAR(test::PeakOf(read, 0, kFrames, 1), k.right, 2e-3);

      const EncodeResult r = EncodeToHouse(path, dir / "out.s48");
      ASSERT_TRUE(r.ok) << r.error;
      const auto encoded = test::DecodeAll(dir / "out.s48");
      EXPECT_NEAR(test::PeakOf(encoded, 2000, 8000, 0), k.left, 0.01);
      EXPECT_NEAR(test::PeakOf(encoded, 2000, 8000, 1), k.right, 0.01);
    }
  }
}

}  // namespace
}  // namespace sono::audio
