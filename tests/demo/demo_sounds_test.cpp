#include <gtest/gtest.h>

#include "library_fixture.h"
#include "audio/codec/mpeg_frames.h"
#include "core/text.h"
#include "data/ptx.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"

namespace sono::demo {

TEST(DemoSound, HouseFormatWithTheLevelsOfItsShape) {
  sono::test::TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteDemoSound(dir / "a/son.s48", 6, false, 7, error)) << error;
  const audio::FrameScan scan = audio::ScanMpegFile(dir / "a/son.s48");
  ASSERT_EQ(scan.status, audio::ScanStatus::Ok);
  EXPECT_EQ(scan.first.bitrateKbps, 256);
  EXPECT_EQ(scan.first.sampleRate, 48000);
  EXPECT_EQ(scan.fileBytes % 768, 0);
  EXPECT_NEAR(static_cast<double>(scan.durationMs), 6000, 48);
  // The energy words: the quiet intro is well below the body.
  const std::string bytes = sono::test::ReadFile(dir / "a/son.s48");
  auto peak = [&](size_t frame) {
    const size_t end = (frame + 1) * 768;
    const unsigned a = (static_cast<unsigned char>(bytes[end - 5]) << 8) | static_cast<unsigned char>(bytes[end - 4]);
    const unsigned b = (static_cast<unsigned char>(bytes[end - 2]) << 8) | static_cast<unsigned char>(bytes[end - 1]);
    return std::max(a, b);
  };
  const size_t frames = bytes.size() / 768;
  EXPECT_LT(peak(2) * 3, peak(frames / 2));  // -20 dB against -6 dB
  EXPECT_GT(peak(frames / 2), 0u);
  // A file standing where the folder should be: refused, and said why.
  sono::test::WriteFile(dir / "fichier", "x");
  error.clear();
  EXPECT_FALSE(WriteDemoSound(dir / "fichier/x.s48", 1, true, 1, error));
  EXPECT_FALSE(error.empty());
}

class DemoSoundsTest : public data::test::LibraryFixture {};

TEST_F(DemoSoundsTest, SongsGetTheirSoundsDurationsAndCuePoints) {
  InsertEverywhere(data::kSongs, Song("00000001", "Premier", 240));
  InsertEverywhere(data::kSongs, Song("00000002", "Second", 240));
  InsertEverywhere(data::kSongs, Song("JIN00001", "Jingle", 30));
  const DemoSoundsResult r = AddDemoSounds(*lib, 2, 99);
  EXPECT_EQ(r.written, 2) << r.error;
  for (int station : {1, 2}) {
    const std::string path = data::SoundFilePath(*lib, station, "00000001");
    const auto ms = data::HouseFormatDurationMs(path);
    ASSERT_TRUE(ms) << path;
    EXPECT_EQ(data::song::DurationSeconds(Read(data::kSongs, station, "00000001")), (*ms + 500) / 1000);
    long long fadeOut = 0, fadeDuration = 0;
    ASSERT_TRUE(data::PtxChargerPointeur(*lib, station, "00000001", '1', fadeOut, fadeDuration));
    EXPECT_EQ(fadeOut, *ms * 88 / 100);
    EXPECT_TRUE(data::HouseFormatDurationMs(data::SoundFilePath(*lib, station, "JIN00001")));
    EXPECT_FALSE(data::HouseFormatDurationMs(data::SoundFilePath(*lib, station, "00000002")));
  }
  // Loading the sound's pointers needs no correction.
  const size_t before = Logged().size();
  data::MorceauChargerPointeur(*lib, 1, "00000001", *data::HouseFormatDurationMs(data::SoundFilePath(*lib, 1, "00000001")));
  EXPECT_EQ(Logged().size(), before);
}

}  // namespace sono::demo
