// Sources of every family the import accepts, made by ffmpeg, converted to
// the house format: whole frames with their energy words, the source's
// duration within one frame, the two channels where they belong.
#include <gtest/gtest.h>

#include <cstdlib>

#include "converter_test_support.h"

namespace sono::test {
namespace {

struct SourceCase {
  const char* file;
  std::vector<std::string> codecArgs;
  int rate;
  int left, right;  // expected peak words (0..32767)
};

constexpr int kToneMs = 3000;
constexpr int kHalf = 16384, kQuarter = 8192;

void ExpectNear(int got, int expected, const std::string& what) {
  EXPECT_NEAR(got, expected, expected * 0.12) << what;
}

TEST(HouseConversion, EveryFamilyGivesWholeFramesOfTheSourcesLength) {
  TempDir dir;
  const std::vector<SourceCase> cases = {
      {"tone.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}, 44100, kHalf, kQuarter},
      {"tone aac.m4a", {"-c:a", "aac", "-b:a", "128k"}, 44100, kHalf, kQuarter},
      {"tone.aac", {"-c:a", "aac", "-b:a", "128k"}, 44100, kHalf, kQuarter},
      {"tone alac.m4a", {"-c:a", "alac"}, 44100, kHalf, kQuarter},
      {"tone.flac", {"-c:a", "flac"}, 96000, kHalf, kQuarter},
      {"tone.ogg", {"-c:a", "libvorbis", "-q:a", "5"}, 44100, kHalf, kQuarter},
      {"tone mono.wav", {"-af", "pan=mono|c0=c0", "-c:a", "pcm_s16le"}, 22050, kHalf, kHalf},
      {"tone.aiff", {"-c:a", "pcm_s16be"}, 48000, kHalf, kQuarter},
      {"tone.wma", {"-c:a", "wmav2", "-b:a", "128k"}, 44100, kHalf, kQuarter},
      {"tone 5.1.ac3", {"-c:a", "ac3", "-b:a", "448k", "-ac", "6"}, 48000, kHalf, kQuarter},
      {"tone.mp2", {"-c:a", "mp2", "-b:a", "192k"}, 44100, kHalf, kQuarter},
      {"tone.voc", {"-c:a", "pcm_u8"}, 44100, kHalf, kQuarter},
  };
  for (const SourceCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string source = dir / c.file;
    ASSERT_TRUE(MakeTone(source, kToneMs, c.codecArgs, c.rate));
    const std::string target = dir / (std::string(c.file) + ".s48");
    const ProcessResult r = ConvertToHouse(source, target);
    ASSERT_TRUE(r.exited(0)) << r.out << r.err;
    EXPECT_NE(r.out.find("Fichier converti: " + target), std::string::npos) << r.out;
    ASSERT_TRUE(Exists(ErrorFileFor(target)));
    EXPECT_EQ(ReadFile(ErrorFileFor(target)), "");  // empty: success

    const HouseCheck h = CheckHouseFile(target);
    EXPECT_LE(std::abs(h.ms - kToneMs), audio::kHouseFrameMs) << h.ms << " ms";
    ExpectNear(h.leftPeak, c.left, "left");
    ExpectNear(h.rightPeak, c.right, "right");
    ExpectDecodesCleanly(target);
    EXPECT_EQ(Entries(dir.path()).size(), 3 * (&c - cases.data() + 1)) << "a temporary file was left";
  }
}

TEST(HouseConversion, SpeechRecordingKeepsItsLength) {
  const std::string speech = "/usr/share/sounds/alsa/Front_Center.wav";
  if (!Exists(speech)) GTEST_SKIP() << "alsa-utils' sounds are not installed";
  TempDir dir;
  const std::string target = dir / "Front_Center.s48";
  const ProcessResult r = ConvertToHouse(speech, target);
  ASSERT_TRUE(r.exited(0)) << r.err;
  const HouseCheck h = CheckHouseFile(target);
  EXPECT_LE(std::abs(h.ms - PcmFileMs(speech)), audio::kHouseFrameMs) << h.ms;
  EXPECT_GT(h.leftPeak, 1000);
  EXPECT_GT(h.rightPeak, 1000);  // a mono recording lands on both channels
  ExpectDecodesCleanly(target);
}

// A source already at 48000 Hz, 256 kbit/s, stereo in MPEG-1 Layer II is
// copied byte for byte: a second encoding would only lose quality. One at
// another bit rate is encoded again.
TEST(HouseConversion, HouseFormatSourceIsCopiedOtherMp2IsEncoded) {
  TempDir dir;
  const std::string house = dir / "house.mp2";
  ASSERT_TRUE(MakeTone(house, 1000, {"-c:a", "mp2", "-b:a", "256k"}, 48000));
  const ProcessResult copy = ConvertToHouse(house, dir / "copy.s48");
  ASSERT_TRUE(copy.exited(0)) << copy.err;
  EXPECT_NE(copy.out.find("Fichier copié"), std::string::npos) << copy.out;
  EXPECT_EQ(ReadFile(dir / "copy.s48"), ReadFile(house));

  const std::string other = dir / "other.mp2";
  ASSERT_TRUE(MakeTone(other, 1000, {"-c:a", "mp2", "-b:a", "192k"}, 48000));
  const ProcessResult encoded = ConvertToHouse(other, dir / "other.s48");
  ASSERT_TRUE(encoded.exited(0)) << encoded.err;
  EXPECT_NE(encoded.out.find("Fichier converti"), std::string::npos) << encoded.out;
  EXPECT_EQ(CheckHouseFile(dir / "other.s48").frames, 1000 / audio::kHouseFrameMs + 1);
}

}  // namespace
}  // namespace sono::test
