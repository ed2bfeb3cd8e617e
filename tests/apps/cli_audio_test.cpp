// The audio commands of sonoteka-cli, run as a separate program.
#include <gtest/gtest.h>

#include "audio_test_support.h"
#include "cli_site.h"

namespace sono::audio {
namespace {

using test::TempDir;

int Cli(const std::vector<std::string>& args, std::string* out = nullptr, rlim_t dataLimit = 0) {
  std::vector<std::string> argv{SONOTEKA_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  int status = -1;
  const auto text = test::RunProgram(argv, &status, dataLimit);
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

// play CODE: the song's sound on the station, said before it plays.
TEST(CliAudio, PlayASongByItsCode) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(test::MakeDemoSite(home, {"--songs", "4", "--sounds", "2"}));
  std::string out;
  ASSERT_EQ(Cli({"play", "00000001", "--home", home, "--start", "1000", "--end", "2000", "--device",
                 "virtual:" + (dir / "heard.wav")}, &out), 0) << out;
  EXPECT_NE(out.find("Lecture: "), std::string::npos) << out;
  EXPECT_NE(out.find("00000001.s48 (de 1000 ms à 2000 ms)"), std::string::npos) << out;
  // What was heard: the second from 1000 ms, then silence.
  const auto heard = test::DecodeAll(dir / "heard.wav");
  ASSERT_GE(heard.size(), 48000u * 2);
  EXPECT_GT(test::PeakOf(heard, 47000, 48000, 0), 0.0f);
  EXPECT_EQ(test::PeakOf(heard, 48000, heard.size() / 2, 0), 0.0f);
  EXPECT_EQ(Cli({"play", "00000077", "--home", home, "--device", "virtual:" + (dir / "x.wav")}, &out), 1);
}

TEST(CliAudio, InfoCountsDamagedFramesAndTheDurationPlayed) {
  TempDir dir;
  std::string bytes = test::ReadFile(test::MakeHouseFile(dir, "a.s48", 30000));
  bytes[600 * 768 + 1] = 0;
  test::WriteFile(dir / "damaged.s48", bytes);
  std::string out;
  ASSERT_EQ(Cli({"info", dir / "damaged.s48"}, &out), 0);
  EXPECT_NE(out.find("Trames  : 1249"), std::string::npos) << out;
  EXPECT_NE(out.find("Attention: 1 trame(s) endommagée(s) ignorée(s) (768 octets, 24 ms)"), std::string::npos) << out;
  EXPECT_NE(out.find("octet 460800: 768 octets ignorés"), std::string::npos) << out;
  EXPECT_NE(out.find("Durée   : 29976 ms"), std::string::npos) << out;
  EXPECT_NE(out.find("Durée estimée sans dommage: 30000 ms"), std::string::npos) << out;
}

// Five minutes rendered on the virtual device go to the WAV file as they are
// played: the command works within a 100 MB memory budget (kept in memory,
// five minutes of float stereo alone are 110 MB). The sanitizers' own
// mappings do not fit a data limit: there the play runs without one.
TEST(CliAudio, APlayToAVirtualFileKeepsMemoryFlat) {
  TempDir dir;
  constexpr int kSeconds = 300;
  {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open((dir / "long.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const auto second = test::TestSignal(48000);
    for (int s = 0; s < kSeconds; ++s) sf_writef_float(f, second.data(), 48000);
    sf_close(f);
  }
#if defined(__SANITIZE_ADDRESS__)
  constexpr rlim_t kBudget = 0;
#else
  constexpr rlim_t kBudget = 100 << 20;
#endif
  std::string out;
  ASSERT_EQ(Cli({"play", dir / "long.wav", "--device", "virtual:" + (dir / "heard.wav")}, &out, kBudget), 0);
  // The whole play, up to the 100 ms rendered block that saw its end.
  OpenedSound heard = OpenSound(dir / "heard.wav");
  ASSERT_TRUE(heard.reader);
  const int64_t frames = heard.reader->format().lengthFrames;
  EXPECT_GE(frames, int64_t{kSeconds} * 48000);
  EXPECT_LE(frames, int64_t{kSeconds} * 48000 + 4800);
  EXPECT_NE(out.find("heard.wav: " + std::to_string(frames / 48) + " ms"), std::string::npos) << out;
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

TEST(CliAudio, DevicesListTheBoardsAndTheAuditionOutputWhichIsChosenInTheSettings) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(Cli({"site", "init-demo", "--home", dir.path()}), 0);
  ASSERT_EQ(Cli({"devices", "--home", dir.path()}, &out), 0);
  EXPECT_NE(out.find("PCXTools Hardware configuration"), std::string::npos);
  EXPECT_NE(out.find("VIRTUAL (1/2)"), std::string::npos) << out;
  EXPECT_NE(out.find("Sorties d'écoute (* = choisie):"), std::string::npos) << out;
  const size_t virtualAt = out.find("VIRTUAL (", out.find("Sorties d'écoute"));
  ASSERT_NE(virtualAt, std::string::npos) << out;
  ASSERT_EQ(Cli({"devices", "--home", dir.path(), "--device", "virtual:0"}, &out), 0) << out;
  EXPECT_NE(out.find("Sortie d'écoute: VIRTUAL ("), std::string::npos) << out;
  EXPECT_NE(test::ReadFile(dir / "Settings/Vexa_Library/Vexa_Library.Ini").find("Sortie=virtual:0"),
            std::string::npos);
  ASSERT_EQ(Cli({"devices", "--home", dir.path()}, &out), 0);
  const size_t marked = out.find("\n  *");
  ASSERT_NE(marked, std::string::npos) << out;
  const std::string line = out.substr(marked + 1, out.find('\n', marked + 1) - marked - 1);
  EXPECT_NE(line.find("[virtual:0]"), std::string::npos) << out;
  EXPECT_EQ(Cli({"devices", "--home", dir.path(), "--device", "plughw:CARD=Nothing,DEV=0"}), 1);
}

TEST(CliAudio, PlayThroughThePlayerWithATempo) {
  TempDir dir;
  ASSERT_TRUE(test::WriteHouse(dir / "in.s48", test::TestSignal(96000)));
  std::string out;
  ASSERT_EQ(Cli({"play", dir / "in.s48", "--player", "--tempo", "25", "--device",
                 "virtual:" + (dir / "fast.wav")}, &out), 0) << out;
  const auto fast = test::DecodeAll(dir / "fast.wav");
  int64_t end = 0;
  for (size_t i = 0; i < fast.size() / 2; ++i)
    if (std::fabs(fast[2 * i]) > 0.01f) end = static_cast<int64_t>(i);
  EXPECT_NEAR(end / 48.0, 2016 / 1.25, 2016 / 1.25 * 0.01);

  // A range with a fade-out: the player stops itself with its smoothing.
  ASSERT_EQ(Cli({"play", dir / "in.s48", "--player", "--start", "500", "--end", "1500",
                 "--fade-out", "200", "--device", "virtual:" + (dir / "range.wav")}, &out), 0) << out;
  const auto range = test::DecodeAll(dir / "range.wav");
  const auto ref = test::DecodeAll(dir / "in.s48");
  ASSERT_GE(range.size(), 48000u * 2);
  EXPECT_NEAR(range[2 * 1000], ref[2 * (24000 + 1000)], 2.0 / 32767);
  EXPECT_LT(test::PeakOf(range, 47000, 48000, 0), 0.05f);  // faded out at the range's end
  EXPECT_EQ(test::PeakOf(range, 48100, range.size() / 2, 0), 0.0f);

  test::WriteFile(dir / "text.s48", "du texte\n");
  EXPECT_EQ(Cli({"play", dir / "text.s48", "--player", "--device", "virtual:" + (dir / "x.wav")}, &out), 1);
  EXPECT_NE(out.find("Err: -7 |The file is not a sound file the player can read"), std::string::npos) << out;
  EXPECT_EQ(Cli({"play", dir / "in.s48", "--tempo", "90"}), 2);
}

}  // namespace
}  // namespace sono::audio
