// A gain written into the scale factors of a Layer II stream.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/codec/scale_factor_gain.h"
#include "audio_test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

// Speech from the system's sound samples with the two-tone test signal
// after it: quiet passages, attacks and steady tones.
std::vector<float> SpeechAndTones() {
  std::vector<float> s = test::DecodeAll("/usr/share/sounds/alsa/Front_Center.wav");
  const std::vector<float> tones = test::TestSignal(48000, 48000, 0.4f);
  s.insert(s.end(), tones.begin(), tones.end());
  return s;
}

// Every decoded sample of `gained` is `original`'s times 2^(steps/3), within
// one 16-bit step.
void ExpectScaled(const std::vector<float>& original, const std::vector<float>& gained, int steps) {
  ASSERT_EQ(original.size(), gained.size());
  const double factor = std::pow(2.0, steps / 3.0);
  double worst = 0;
  for (size_t i = 0; i < original.size(); ++i)
    worst = std::max(worst, std::fabs(gained[i] - original[i] * factor));
  EXPECT_LE(worst, 1.0 / 32768) << steps << " steps";
}

TEST(ScaleFactorGain, DecodedSoundIsTheOriginalTimesTheGainAndOnlyScaleFactorsChange) {
  TempDir dir;
  const std::vector<float> source = SpeechAndTones();
  ASSERT_GT(source.size(), 96000u) << "speech sample of alsa-utils missing";
  const std::string path = dir / "a.s48";
  ASSERT_TRUE(test::WriteHouse(path, source));
  const std::string original = test::ReadFile(path);
  const std::vector<float> decoded = test::DecodeAll(path);
  for (const int steps : {-3, 2, -17}) {
    SCOPED_TRACE(steps);
    std::string stream = original;
    const ScaleFactorGainResult r = ApplyScaleFactorGain(stream, steps);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.frames, static_cast<int64_t>(original.size() / 768));
    EXPECT_GT(r.factorsMoved, r.frames);
    EXPECT_EQ(stream.size(), original.size());
    const std::string gainedPath = dir / "gained.s48";
    test::WriteFile(gainedPath, stream);
    ExpectScaled(decoded, test::DecodeAll(gainedPath), steps);
    // An independent decoder takes it without a word.
    int status = -1;
    const auto ff = test::RunProgram({"sh", "-c", "ffmpeg -v error -i \"$0\" -f null - 2>&1", gainedPath}, &status);
    ASSERT_TRUE(ff);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(*ff, "");
    // The opposite gain gives back the original bytes: nothing but the
    // factors moved (the deep cut holds the quietest factors at the floor,
    // so only the moderate gains come back whole).
    if (r.factorsHeld == 0) {
      ASSERT_TRUE(ApplyScaleFactorGain(stream, -steps).ok);
      EXPECT_EQ(stream, original);
    }
  }
}

TEST(ScaleFactorGain, ABoostPastFullScaleOrADamagedStreamIsRefusedAndLeftAlone) {
  TempDir dir;
  const std::string loud = test::MakeHouseFile(dir, "loud.s48", 500, 0.99f);
  std::string stream = test::ReadFile(loud);
  const std::string before = stream;
  EXPECT_TRUE(ApplyScaleFactorGain(stream, 1).ok);  // one step still fits under 2.0
  stream = before;
  ScaleFactorGainResult r = ApplyScaleFactorGain(stream, 6);
  EXPECT_FALSE(r.ok);
  EXPECT_GT(r.framesRefused, 0);
  EXPECT_NE(r.error.find("gain refusé"), std::string::npos) << r.error;
  EXPECT_EQ(stream, before);

  // A broken header in the middle, then a stream cut inside its last frame.
  stream = before;
  stream[768 * 5] = 0;
  r = ApplyScaleFactorGain(stream, -1);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("3840"), std::string::npos) << r.error;
  stream = before;
  stream.resize(stream.size() - 100);
  const std::string cut = stream;
  EXPECT_FALSE(ApplyScaleFactorGain(stream, -1).ok);
  EXPECT_EQ(stream, cut);
}

}  // namespace
}  // namespace sono::audio
