// The house-format writer, the frame scanner and the readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"
#include "audio_test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

TEST(HouseWriter, WritesWholeFramesOfTheHouseFormat) {
  TempDir dir;
  const std::string path = test::MakeHouseFile(dir, "a.s48", 1000);
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
  // No temporary file is left beside it.
  EXPECT_EQ(test::FolderEntries(dir.path()).size(), 1u);
}

TEST(HouseWriter, DecodesBackThroughLibmpg123) {
  TempDir dir;
  const auto signal = test::TestSignal(48000);
  const std::string path = dir / "a.s48";
  ASSERT_TRUE(test::WriteHouse(path, signal));
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

TEST(FrameScanner, TellsBadFilesApart) {
  TempDir dir;
  const std::string good = test::MakeHouseFile(dir, "good.s48", 480);
  const std::string bytes = test::ReadFile(good);
  test::WriteFile(dir / "text.s48", std::string(2000, 'x') + "\nsome text renamed\n");
  test::WriteFile(dir / "empty.s48", "");
  test::WriteFile(dir / "cut.s48", bytes.substr(0, bytes.size() - 300));
  test::WriteFile(dir / "half.s48", bytes.substr(0, 500));
  const std::string id3("ID3\x03\x00\x00\x00\x00\x00\x05\0\0\0\0\0", 15);
  test::WriteFile(dir / "tagged.s48", id3 + bytes + "TAG" + std::string(125, ' '));

  EXPECT_EQ(ScanMpegFile(dir / "missing.s48").status, ScanStatus::NotFound);
  EXPECT_EQ(ScanMpegFile(dir / "text.s48").status, ScanStatus::Invalid);
  EXPECT_EQ(ScanMpegFile(dir / "empty.s48").status, ScanStatus::TooSmall);
  EXPECT_EQ(ScanMpegFile(dir / "half.s48").status, ScanStatus::TooSmall);

  const FrameScan cut = ScanMpegFile(dir / "cut.s48");
  ASSERT_EQ(cut.status, ScanStatus::Ok);
  EXPECT_TRUE(cut.truncated);
  EXPECT_EQ(cut.frames, 20 - 1);
  EXPECT_EQ(cut.durationMs, 19 * 24);
  EXPECT_EQ(cut.trailingBytes, 768 - 300);

  const FrameScan tagged = ScanMpegFile(dir / "tagged.s48");
  ASSERT_EQ(tagged.status, ScanStatus::Ok);
  EXPECT_EQ(tagged.dataOffset, 15);
  EXPECT_EQ(tagged.frames, 20);
  EXPECT_EQ(tagged.trailingBytes, 0);
}

TEST(Readers, OpenByContentWithTheRightError) {
  TempDir dir;
  const std::string bytes = test::ReadFile(test::MakeHouseFile(dir, "good.s48", 480));
  test::WriteFile(dir / "text.s48", "just text\n");
  test::WriteFile(dir / "empty.s48", "");
  test::WriteFile(dir / "cut.s48", bytes.substr(0, bytes.size() - 300));
  EXPECT_EQ(OpenSound(dir / "missing.s48").error, OpenError::NotFound);
  EXPECT_EQ(OpenSound(dir.path()).error, OpenError::NotFound);  // a folder
  EXPECT_EQ(OpenSound(dir / "text.s48").error, OpenError::Invalid);
  EXPECT_EQ(OpenSound(dir / "empty.s48").error, OpenError::TooSmall);
  // A cut file gives its whole frames and nothing of the cut one.
  OpenedSound cut = OpenSound(dir / "cut.s48");
  ASSERT_TRUE(cut.reader);
  EXPECT_EQ(cut.reader->format().lengthFrames, 19 * 1152);
  std::vector<float> buf(25 * 1152 * 2);
  EXPECT_EQ(cut.reader->readStereo(buf.data(), 25 * 1152), 19 * 1152);
  EXPECT_EQ(cut.reader->readStereo(buf.data(), 1152), 0);
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

}  // namespace
}  // namespace sono::audio
