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
  std::vector<std::string> args = {SONOTEKA_CONVERT, "-infile=" + source, "-outfile=" + target,
                                   "-errorfile=" + ErrorFileFor(target)};
  args.insert(args.end(), effects.begin(), effects.end());
  args.insert(args.end(), {"-convert_to=mp2", "-s=48000", "-b=256", "-c=2", "--managed"});
  const ProcessResult r = RunProcess(args, {}, 60000);
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
  // Trim and normalisation together: the length and the level both change.
  const HouseCheck both = ConvertWith(dir, tone, {Trim(" -dbsilence={qt}-60{qt} -threshold={qt}0{qt}"),
                                                   Normalize(2, "peak", "-1", "89", "0")});
  ExpectMs(both, 2000);
  expectPeak(both, -1.0);

  // ReplayGain's 89 dB is -18 LUFS, as a loudness meter reads the result.
  ConvertWith(dir, tone, {Normalize(1, "rg", "0", "89", "0")});
  const ProcessResult meter =
      RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-i", dir / "out.s48", "-af", "ebur128", "-f", "null", "-"},
                 {}, 60000);
  std::smatch m;
  const std::string err = meter.err;
  ASSERT_TRUE(std::regex_search(err, m, std::regex(R"(Integrated loudness:\s+I:\s+(-?[0-9.]+) LUFS)"))) << err;
  EXPECT_NEAR(std::stod(m[1]), -18.0, 0.5);
}

TEST(Effects, BadValuesAreRefusedWithStatusTwo) {
  TempDir dir;
  const std::string tone = MakeToneBetweenSilences(dir, "tone.wav", "0");
  const std::string target = dir / "out.s48";
  for (const std::string& effect : {std::string("-dspeffect1=Trim Silence= -dbsilence={qt}loud{qt}"),
                                    Normalize(1, "louder", "0", "89", "0"), std::string("-dspeffect1=Echo= -delay=3")}) {
    SCOPED_TRACE(effect);
    const ProcessResult r = RunProcess({SONOTEKA_CONVERT, "-infile=" + tone, "-outfile=" + target,
                                        "-errorfile=" + ErrorFileFor(target), effect, "-convert_to=mp2"});
    EXPECT_TRUE(r.exited(2)) << r.err;
    EXPECT_FALSE(ReadFile(ErrorFileFor(target)).empty());
    EXPECT_FALSE(Exists(target));
  }
}

}  // namespace
}  // namespace sono::test
