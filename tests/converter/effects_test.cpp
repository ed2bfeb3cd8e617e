// The trim and volume-normalisation effects as the library's driver writes
// them: one argument each, values between "{qt}" marks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>

#include "converter_test_support.h"

namespace sono::test {
namespace {

// 1 s of `quiet`, 2 s of a 440 Hz tone at a quarter of full scale, 1 s of
// `quiet`, at 48000 Hz.
std::string MakeToneBetweenSilences(TempDir& dir, const std::string& name, const std::string& quiet) {
  const std::string path = dir / name;
  const std::string expr = "aevalsrc=exprs='if(between(t,1,3),0.25*sin(2*PI*440*t)," + quiet + ")':s=48000:d=4";
  const ProcessResult r =
      RunProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", expr, "-c:a", "pcm_s16le", path}, {}, 60000);
  EXPECT_TRUE(r.exited(0)) << r.err;
  return path;
}

HouseCheck ConvertWith(TempDir& dir, const std::string& source, const std::vector<std::string>& effects) {
  const std::string target = dir / "out.s48";  // replaced by each conversion
  std::vector<std::string> options = effects;
  options.insert(options.end(), kHouseOptions.begin(), kHouseOptions.end());
  const ProcessResult r = RunConverter(source, target, options);
  EXPECT_TRUE(r.exited(0)) << r.err;
  if (!r.exited(0)) return {};
  return CheckHouseFile(target);
}

std::string Trim(const std::string& options) {
  return "-dspeffect1=Trim Silence=" + options;
}

std::string Normalize(int n, const std::string& mode, const std::string& maxAmp, const std::string& desired,
                      const std::string& fixed) {
  return "-dspeffect" + std::to_string(n) + "=Volume Normalize= -mode={qt}" + mode + "{qt} -maxamp={qt}" + maxAmp +
         "{qt} -desiredb={qt}" + desired + "{qt} -adapt_wnd={qt}6000{qt} -fixed={qt}" + fixed + "{qt}";
}

void ExpectMs(const HouseCheck& h, int64_t ms) {
  EXPECT_LE(std::abs(h.ms - ms), audio::kHouseFrameMs) << h.ms << " ms instead of " << ms;
}

TEST(TrimEffect, CutsSilenceAtTheEndsItIsAskedTo) {
  TempDir dir;
  const std::string zeros = MakeToneBetweenSilences(dir, "zeros.wav", "0");
  const std::string level = " -dbsilence={qt}-60{qt} -threshold={qt}0{qt}";
  ExpectMs(ConvertWith(dir, zeros, {Trim(level)}), 2000);
  ExpectMs(ConvertWith(dir, zeros, {Trim(" -nobegin" + level)}), 3000);
  ExpectMs(ConvertWith(dir, zeros, {Trim(" -noend" + level)}), 3000);
  ExpectMs(ConvertWith(dir, zeros, {Trim(" -nobegin -noend" + level)}), 4000);
  ExpectMs(ConvertWith(dir, zeros, {Trim(" -dbsilence={qt}-60{qt} -threshold={qt}250{qt}")}), 2500);

  // A noise floor at -74 dB is silence at -60 dB, but not digital silence.
  const std::string hiss = MakeToneBetweenSilences(dir, "hiss.wav", "0.0002*(2*random(0)-1)");
  ExpectMs(ConvertWith(dir, hiss, {Trim(level)}), 2000);
  ExpectMs(ConvertWith(dir, hiss, {Trim(" -digsilence" + level)}), 4000);
  ExpectMs(ConvertWith(dir, zeros, {Trim(" -digsilence" + level)}), 2000);
}

TEST(NormalizeEffect, BringsThePeakOrTheLoudnessWhereAsked) {
  TempDir dir;
  const std::string tone = MakeToneBetweenSilences(dir, "tone.wav", "0");
  const auto expectPeak = [](const HouseCheck& h, double dbfs) {
    const double expected = 32767 * std::pow(10.0, dbfs / 20.0);
    EXPECT_NEAR(h.leftPeak, expected, expected * 0.04) << dbfs << " dBFS";
    EXPECT_NEAR(h.rightPeak, expected, expected * 0.04) << dbfs << " dBFS";
  };
  expectPeak(ConvertWith(dir, tone, {Normalize(1, "peak", "-1", "89", "0")}), -1.0);
  expectPeak(ConvertWith(dir, tone, {Normalize(1, "fixed", "0", "89", "6")}), -12.04 + 6);
  expectPeak(ConvertWith(dir, tone, {Normalize(1, "fixed", "-3", "89", "20")}), -3.0);  // held at -maxamp
  // The set-up window's maximum amplitude is a percentage of full scale.
  expectPeak(ConvertWith(dir, tone, {Normalize(1, "peak", "50", "89", "0")}), -6.02);
  // Trim and normalisation together: the length and the level both change.
  const HouseCheck both = ConvertWith(dir, tone, {Trim(" -dbsilence={qt}-60{qt} -threshold={qt}0{qt}"),
                                                   Normalize(2, "peak", "-1", "89", "0")});
  ExpectMs(both, 2000);
  expectPeak(both, -1.0);

}

// The integrated loudness ffmpeg's meter reads of a file, in LUFS.
double IntegratedLufs(const std::string& path) {
  const ProcessResult meter =
      RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-i", path, "-af", "ebur128", "-f", "null", "-"}, {}, 60000);
  std::smatch m;
  const std::string err = meter.err;
  if (!std::regex_search(err, m, std::regex(R"(Integrated loudness:\s+I:\s+(-?[0-9.]+) LUFS)"))) {
    ADD_FAILURE() << err;
    return 0;
  }
  return std::stod(m[1]);
}

// 8 s of a tone at 0.2 then 8 s at 0.4: ReplayGain brings the whole to 89 dB
// (-18 LUFS), the adaptive mode brings its loudest 6 s (the second half)
// there, 2 dB lower.
TEST(NormalizeEffect, LoudnessOfTheWholeOrOfTheLoudestWindow) {
  TempDir dir;
  // Stereo sources: the meter reads a mono file 3 dB lower than the same
  // sound on two channels, as the converter writes it.
  const auto make = [&](const std::string& name, const std::string& expr, int seconds) {
    const std::string path = dir / name;
    EXPECT_TRUE(RunProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "aevalsrc=exprs='" + expr + "|" + expr + "':s=48000:d=" + std::to_string(seconds), "-c:a",
                            "pcm_s16le", path})
                    .exited(0));
    return path;
  };
  const std::string steps = make("steps.wav", "if(lt(t,8),0.2,0.4)*sin(2*PI*440*t)", 16);
  const std::string loudHalf = make("loud.wav", "0.4*sin(2*PI*440*t)", 8);
  const auto expectedPeak = [](double measuredLufs) { return 0.4 * 32767 * std::pow(10.0, (-18 - measuredLufs) / 20); };

  const double whole = expectedPeak(IntegratedLufs(steps));
  const HouseCheck rg = ConvertWith(dir, steps, {Normalize(1, "rg", "0", "89", "0")});
  EXPECT_NEAR(rg.leftPeak, whole, whole * 0.03);
  EXPECT_NEAR(IntegratedLufs(dir / "out.s48"), -18.0, 0.3);

  const double loudest = expectedPeak(IntegratedLufs(loudHalf));
  const HouseCheck adapt = ConvertWith(dir, steps, {Normalize(1, "adapt", "0", "89", "0")});
  EXPECT_NEAR(adapt.leftPeak, loudest, loudest * 0.03);
  EXPECT_NEAR(adapt.rightPeak, loudest, loudest * 0.03);
  EXPECT_LT(loudest, whole * 0.85);  // the two modes really differ here
}

TEST(InfoFile, SaysTheTagsAndWhatTheTrimRemoved) {
  TempDir dir;
  const std::string plain = MakeToneBetweenSilences(dir, "plain.wav", "0");
  // The tags as a producer's file carries them: accents, and a letter
  // Windows-1252 cannot hold.
  const std::string tagged = dir / "tagged.flac";
  ASSERT_TRUE(RunProcess({"ffmpeg", "-v", "error", "-y", "-i", plain, "-metadata", "title=Été à Noël",
                          "-metadata", "artist=Łukasz & Chœur", tagged},
                         {}, 60000)
                  .exited(0));
  const std::string target = dir / "out.s48", info = dir / "out.info";
  const auto convert = [&](const std::vector<std::string>& effects) {
    std::vector<std::string> options = {"-infofile=" + info};
    options.insert(options.end(), effects.begin(), effects.end());
    options.insert(options.end(), {"-convert_to=mp2", "-s=48000", "-b=256", "-c=2"});
    return RunConverter(tagged, target, options);
  };
  ASSERT_TRUE(convert({Trim(" -noend -dbsilence={qt}-60{qt} -threshold={qt}0{qt}")}).exited(0));
  const std::string text = ReadFile(info);
  EXPECT_NE(text.find("title=Été à Noël\n"), std::string::npos) << text;
  EXPECT_NE(text.find("artist=Łukasz & Chœur\n"), std::string::npos) << text;
  const std::smatch cut = [&] {
    std::smatch m;
    std::regex_search(text, m, std::regex("trimmed_start_ms=(\\d+)\n"));
    return m;
  }();
  ASSERT_FALSE(cut.empty()) << text;
  EXPECT_NEAR(std::stoll(cut[1]), 1000, 1);  // the tone starts at 1 s (its first sample is 0)
  // Kept silence is not removed; no trim, nothing removed.
  ASSERT_TRUE(convert({Trim(" -noend -dbsilence={qt}-60{qt} -threshold={qt}250{qt}")}).exited(0));
  EXPECT_NE(ReadFile(info).find("trimmed_start_ms=750\n"), std::string::npos) << ReadFile(info);
  ASSERT_TRUE(convert({}).exited(0));
  EXPECT_NE(ReadFile(info).find("trimmed_start_ms=0\n"), std::string::npos) << ReadFile(info);
}

TEST(Effects, BadValuesAreRefusedWithStatusTwo) {
  TempDir dir;
  const std::string tone = MakeToneBetweenSilences(dir, "tone.wav", "0");
  const std::string target = dir / "out.s48";
  for (const std::string& effect : {std::string("-dspeffect1=Trim Silence= -dbsilence={qt}loud{qt}"),
                                    Normalize(1, "louder", "0", "89", "0"), std::string("-dspeffect1=Echo= -delay=3")}) {
    SCOPED_TRACE(effect);
    const ProcessResult r = RunConverter(tone, target, {effect, "-convert_to=mp2"});
    EXPECT_TRUE(r.exited(2)) << r.err;
    EXPECT_FALSE(ReadFile(ErrorFileFor(target)).empty());
    EXPECT_FALSE(Exists(target));
  }
}

}  // namespace
}  // namespace sono::test
