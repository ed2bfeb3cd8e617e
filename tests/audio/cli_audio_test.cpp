// The audio commands of sonoteka-cli, run as a separate program.
#include <gtest/gtest.h>

#include "audio_test_support.h"

namespace sono::audio {
namespace {

using test::TempDir;

int Cli(const std::vector<std::string>& args, std::string* out = nullptr) {
  std::vector<std::string> argv{SONOTEKA_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  int status = -1;
  const auto text = test::RunProgram(argv, &status);
  if (out && text) *out = *text;
  return status;
}

TEST(CliAudio, EncodeInfoAndPlayToAWavFile) {
  TempDir dir;
  ASSERT_TRUE(test::WritePcmWav(dir / "in.wav", test::TestSignal(48000), 48000));
  std::string out;
  ASSERT_EQ(Cli({"encode", dir / "in.wav", dir / "out.s48"}, &out), 0);
  EXPECT_NE(out.find("42 trames, 1008 ms"), std::string::npos) << out;
  ASSERT_EQ(Cli({"info", dir / "out.s48"}, &out), 0);
  EXPECT_NE(out.find("MPEG Layer 2, 48000 Hz, 256 kbit/s, stéréo"), std::string::npos) << out;
  EXPECT_NE(out.find("Durée   : 1008 ms"), std::string::npos) << out;

  ASSERT_EQ(Cli({"play", dir / "out.s48", "--start", "200", "--end", "700", "--level", "-6",
                 "--device", "virtual:" + (dir / "heard.wav")}, &out), 0) << out;
  const auto heard = test::DecodeAll(dir / "heard.wav");
  const auto ref = test::DecodeAll(dir / "out.s48");
  // The range plays from the first rendered block, at half the amplitude.
  ASSERT_GE(heard.size(), 24000u * 2);
  for (size_t i = 0; i < 24000; ++i)
    ASSERT_NEAR(heard[i * 2], ref[(9600 + i) * 2] * 0.501187, 2.0 / 32767) << i;
  EXPECT_EQ(test::PeakOf(heard, 24000, heard.size() / 2, 0), 0.0f);
}

TEST(CliAudio, BadFilesAndUsage) {
  TempDir dir;
  test::WriteFile(dir / "text.s48", "du texte\n");
  std::string out;
  EXPECT_EQ(Cli({"info", dir / "missing.s48"}), 1);
  EXPECT_EQ(Cli({"info", dir / "text.s48"}), 1);
  EXPECT_EQ(Cli({"play", dir / "text.s48", "--device", "virtual:" + (dir / "x.wav")}, &out), 1);
  EXPECT_NE(out.find("Err: -30203 |The sound file is not found or is not valid"), std::string::npos)
      << out;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
  EXPECT_EQ(Cli({"encode", dir / "missing.wav", dir / "y.s48"}), 1);
  EXPECT_EQ(Cli({"info"}), 2);
  EXPECT_EQ(Cli({"play", dir / "text.s48", "--start", "abc"}), 2);
}

TEST(CliAudio, DevicesListTheVirtualBoard) {
  std::string out;
  ASSERT_EQ(Cli({"devices"}, &out), 0);
  EXPECT_NE(out.find("PCXTools Hardware configuration"), std::string::npos);
  EXPECT_NE(out.find("VIRTUAL (1/2)"), std::string::npos) << out;
}

}  // namespace
}  // namespace sono::audio
