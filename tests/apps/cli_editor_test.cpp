// sonoteka-cli gpx build / show / png on a small generated sound.
#include <gtest/gtest.h>

#include <filesystem>

#include "audio_test_support.h"
#include "core/ini.h"
#include "editor_test_support.h"
#include "cli_site.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sono::test {
namespace {

uint32_t Be32(const std::string& s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) |
         (uint32_t(uint8_t(s[at + 2])) << 8) | uint8_t(s[at + 3]);
}

TEST(CliGpx, BuildShowAndPng) {
  TempDir dir;
  const std::string sound = dir / "s.s48";
  WriteFile(sound, MpegFrames(4001, 256, [](long long k) {
    return LevelWords{k == 1 ? 65535u : 6554u, k == 1 ? 65535u : 6554u};
  }));
  int status = -1;
  auto out = RunProgram({SONOTEKA_CLI, "gpx", "build", sound}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0) << *out;
  EXPECT_NE(out->find("Valeurs      : 4001"), std::string::npos) << *out;
  EXPECT_NE(out->find("Durée        : 96024 ms"), std::string::npos) << *out;
  EXPECT_NE(out->find("Enregistrements: 2"), std::string::npos) << *out;
  EXPECT_EQ(ReadFile(dir / "s.gpx").size(), 8192u);
  EXPECT_EQ(ReadFile(dir / "s.gpx").substr(0, 10), "0000096024");

  out = RunProgram({SONOTEKA_CLI, "gpx", "show", sound, "--from", "2", "--count", "2"}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out->find("Valeurs: 4001\n"), std::string::npos) << *out;
  EXPECT_NE(out->find("2\t100\n3\t10\n"), std::string::npos) << *out;
  EXPECT_EQ(out->find("4\t10\n"), std::string::npos) << *out;
  // The .gpx itself can be shown too.
  out = RunProgram({SONOTEKA_CLI, "gpx", "show", dir / "s.gpx", "--from", "4001"}, &status);
  ASSERT_TRUE(out);
  EXPECT_NE(out->find("4001\t10\n"), std::string::npos) << *out;

  const std::string png = dir / "s.png";
  out = RunProgram({SONOTEKA_CLI, "gpx", "png", sound, png, "--width", "320", "--height", "60"}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0);
  const std::string bytes = ReadFile(png);
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  EXPECT_EQ(Be32(bytes, 16), 320u);
  EXPECT_EQ(Be32(bytes, 20), 60u);

  // Bad input: not a sound, bad option values, missing arguments.
  WriteFile(dir / "x.s48", std::string(5000, 'x'));
  EXPECT_TRUE(RunProcess({SONOTEKA_CLI, "gpx", "build", dir / "x.s48"}).exited(1));
  EXPECT_FALSE(Exists(dir / "x.gpx"));
  EXPECT_TRUE(RunProcess({SONOTEKA_CLI, "gpx", "png", sound, png, "--width", "0"}).exited(2));
  EXPECT_TRUE(RunProcess({SONOTEKA_CLI, "gpx", "show", sound, "--from", "abc"}).exited(2));
  EXPECT_TRUE(RunProcess({SONOTEKA_CLI, "gpx", "png", sound}).exited(2));
}

}  // namespace
}  // namespace sono::test

namespace sono::test {
namespace {

// edit CODE SCRIPT on a demo site with one sound: the grid after each step,
// the store reaching the database, bad actions refused.
TEST(CliEdit, ScriptStepsAndStore) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(MakeDemoSite(home, {"--songs", "4", "--sounds", "1"}));

  int status = -1;
  auto out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home,
                    "select 1000 3000; menu intro; pitch 2; level -3.5; store"},
                   &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0) << *out;
  EXPECT_NE(out->find("|Fade In|Fade In|Intro|Start Next|"), std::string::npos) << *out;
  const size_t menu = out->find("> menu intro\n");
  const size_t store = out->find("> store\n");
  ASSERT_NE(menu, std::string::npos) << *out;
  ASSERT_NE(store, std::string::npos) << *out;
  // After the menu entry: intro 1000 ms, marked changed.
  EXPECT_NE(out->substr(menu, store - menu).find("\n3    |||O|"), std::string::npos) << *out;
  const std::string stored = out->substr(store);
  EXPECT_NE(stored.find("|00:01.000|"), std::string::npos) << stored;
  EXPECT_NE(stored.find("|-3.50 dB|1.020|"), std::string::npos) << stored;
  EXPECT_NE(stored.find("\n3    ||||||||||||||||\n"), std::string::npos) << stored;

  out = RunProgram({SONOTEKA_CLI, "ptx", "show", "00000001", "--home", home}, &status);
  ASSERT_TRUE(out);
  EXPECT_NE(out->find("Durée d'intro: 1000 ms"), std::string::npos) << *out;

  out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home, "select 1000; store"}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 2);
  out = RunProgram({SONOTEKA_CLI, "edit", "ZZZ99999", "--home", home, "store"}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace sono::test

namespace sono::test {
namespace {

// The base's "Ptx" "Save" starts automatic storing: a pointer set from the
// strip reaches the database without "store".
TEST(CliEdit, TheBaseDefaultStartsAutomaticStoring) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(MakeDemoSite(home, {"--songs", "4", "--sounds", "1"}));
  int status = -1;
  std::string systemFile;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home))
    if (entry.path().filename() == "Vexa_Systeme.ini") systemFile = entry.path().string();
  ASSERT_FALSE(systemFile.empty());
  ASSERT_TRUE(EcritureIni(systemFile, "Ptx", "Save", "1"));

  auto out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home, "select 1500 3000; menu intro"}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0) << *out;
  EXPECT_NE(out->find("Enregistrement automatique: oui (Ptx/Save)\n"), std::string::npos) << *out;
  EXPECT_EQ(out->find("Pointeurs modifiés non enregistrés."), std::string::npos) << *out;
  out = RunProgram({SONOTEKA_CLI, "ptx", "show", "00000001", "--home", home}, &status);
  ASSERT_TRUE(out);
  EXPECT_NE(out->find("Durée d'intro: 1500 ms"), std::string::npos) << *out;
}

// A command never writes over a file it reads: gpx png to the sound or its
// envelope, play into the sound it plays. Bad usage, and nothing touched.
TEST(CliOutputs, AnOutputEqualToAnInputIsRefused) {
  TempDir dir;
  const std::string sound = dir / "s.s48";
  WriteFile(sound, MpegFrames(200, 256, [](long long) { return LevelWords{6554u, 6554u}; }));
  int status = -1;
  ASSERT_TRUE(RunProgram({SONOTEKA_CLI, "gpx", "build", sound}, &status));
  ASSERT_EQ(status, 0);
  const std::string before = ReadFile(sound), gpx = ReadFile(dir / "s.gpx");
  for (const std::string& out : {sound, dir / "s.gpx", dir.path() + "/./s.s48"}) {
    auto said = RunProgram({SONOTEKA_CLI, "gpx", "png", sound, out}, &status);
    EXPECT_EQ(status, 2) << out << (said ? *said : "");
  }
  ::link(sound.c_str(), (dir / "other-name.s48").c_str());  // the same file under another name
  EXPECT_TRUE(RunProcess({SONOTEKA_CLI, "gpx", "png", sound, dir / "other-name.s48"}).exited(2));
  EXPECT_TRUE(RunProcess({SONOTEKA_CLI, "play", sound, "--device", "virtual:" + sound}).exited(2));
  EXPECT_EQ(ReadFile(sound), before);
  EXPECT_EQ(ReadFile(dir / "s.gpx"), gpx);
  // A different output is written as before.
  EXPECT_TRUE(RunProcess({SONOTEKA_CLI, "gpx", "png", sound, dir / "s.png"}).exited(0));
}

// gpx build while another program cuts the sound short and puts it back,
// over and over: the build ends with an envelope or an error, never with a
// signal (reading through a memory map died of SIGBUS here).
TEST(CliOutputs, GpxBuildSurvivesASoundCutShortMeanwhile) {
  TempDir dir;
  const std::string sound = dir / "long.s48";
  const std::string whole = MpegFrames(30000, 256, [](long long k) {
    return LevelWords{static_cast<unsigned>(k * 7 % 60000), 6554u};
  });  // 12 minutes, 23 MB
  WriteFile(sound, whole);
  const pid_t cutter = fork();
  if (cutter == 0) {
    for (;;) {
      if (truncate(sound.c_str(), static_cast<off_t>(whole.size() / 3)) != 0) _exit(1);
      usleep(300);
      if (truncate(sound.c_str(), static_cast<off_t>(whole.size())) != 0) _exit(1);
      usleep(300);
    }
  }
  int signals = 0, ok = 0, failed = 0;
  for (int run = 0; run < 25; ++run) {
    const ProcessResult r = RunProcess({SONOTEKA_CLI, "gpx", "build", sound}, {}, 60000);
    signals += r.signal != 0;
    ok += r.exited(0);
    failed += r.exited(1);
  }
  kill(cutter, SIGKILL);
  waitpid(cutter, nullptr, 0);
  EXPECT_EQ(signals, 0);
  EXPECT_EQ(ok + failed, 25);
}

}  // namespace
}  // namespace sono::test

namespace sono::test {
namespace {

// The value after "LABEL" on its line of a command's output ("" when absent).
std::string ValueOf(const std::string& out, const std::string& label) {
  const size_t at = out.find(label);
  if (at == std::string::npos) return "";
  const size_t from = out.find_first_not_of(' ', at + label.size());
  return out.substr(from, out.find('\n', from) - from);
}

// Every way a value is typed on the command line goes through the editor's
// ranges: out of range is refused (exit 2) with its reason and nothing is
// written; an accepted value is stored as the rules make it and printed as
// stored. A song without its sound keeps its duration through any number
// of stores, on every station.
TEST(CliPtx, ValuesAreCheckedAndASongWithoutSoundKeepsItsDuration) {
  TempDir dir;
  const std::string home = dir / "home";
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), SONOTEKA_CLI);
    args.insert(args.end(), {"--home", home});
    return RunProcess(args, {}, 60000);
  };
  ASSERT_TRUE(cli({"site", "init-demo"}).exited(0));
  ASSERT_TRUE(cli({"demo", "build", "--songs", "4", "--sounds", "2", "--stations", "2"}).exited(0));

  // 00000002 has no sound: a fade-in, then three stores.
  const std::string held = ValueOf(cli({"song", "show", "00000002"}).out, "Durée (s):");
  ASSERT_FALSE(held.empty());
  ASSERT_GT(std::stoll(held), 40);
  ASSERT_TRUE(cli({"ptx", "set", "00000002", "0", "0", "13000"}).exited(0));
  for (const char* intro : {"20000", "21000", "22000"}) {
    const ProcessResult r = cli({"ptx", "set", "00000002", "2", intro});
    ASSERT_TRUE(r.exited(0)) << r.out << r.err;
    EXPECT_EQ(r.out, std::string("Enregistré: 00000002 Intro = ") + intro + "\n");
  }
  for (const char* station : {"1", "2"}) {
    const ProcessResult r = cli({"song", "show", "00000002", "--station", station});
    EXPECT_EQ(ValueOf(r.out, "Durée (s):"), held) << station;
    EXPECT_EQ(ValueOf(r.out, "Intro (s):"), "022") << station;  // intro - fade-in position, written
  }

  // 00000001 has its sound: its end bounds the times.
  const ProcessResult show = cli({"ptx", "show", "00000001"});
  const std::string soundMs = ValueOf(show.out, "Durée du son:");
  ASSERT_NE(soundMs.find(" ms"), std::string::npos) << show.out;
  const long long length = std::stoll(soundMs);
  const std::string before = show.out;
  struct Refused {
    std::vector<std::string> args;
    std::string says;
  };
  const Refused refused[] = {
      {{"ptx", "set", "00000001", "1", "99999999"},
       "Fade Out : 99999999 ms au-delà de la fin du son (" + std::to_string(length) + " ms)."},
      {{"ptx", "set", "00000001", "2", "12345678901"}, "Intro : 12345678901 ms au-delà de la fin du son"},
      {{"ptx", "set", "00000001", "7", "0"}, "Pitch : -100.00 % hors limites (de -20 % à +20 %)."},
      {{"ptx", "set", "00000001", "8", "2147483600"}, "Level : +21474836.00 dB hors limites"},
      {{"ptx", "set", "00000001", "6", "1000", "5"}, "Send n'a pas de seconde valeur"},
      {{"ptx", "set", "000000010", "2", "1000"}, "Code de morceau trop long : « 000000010 »"},
      {{"edit", "00000001", "level 31"}, "Level : +31.00 dB hors limites"},
      {{"edit", "00000001", "pitch -100"}, "Pitch : -100.00 %"},
      {{"edit", "00000001", "device 150"}, "Périphérique : 150 hors limites"},
      {{"edit", "00000001", "select 1000 99999999"}, "select : 99999999 ms au-delà de la fin du son"},
  };
  for (const auto& r : refused) {
    const ProcessResult result = cli(r.args);
    EXPECT_TRUE(result.exited(2)) << r.args[1] << " " << r.args.back() << ": " << result.out << result.err;
    EXPECT_NE(result.err.find(r.says), std::string::npos) << result.err;
  }
  EXPECT_EQ(cli({"ptx", "show", "00000001"}).out, before);  // nothing written
  // Accepted at the very end: the 48 ms margin applies, and that is what is said.
  const ProcessResult atEnd = cli({"ptx", "set", "00000001", "1", std::to_string(length), "0"});
  ASSERT_TRUE(atEnd.exited(0)) << atEnd.err;
  EXPECT_EQ(atEnd.out, "Enregistré: 00000001 Fade Out = " + std::to_string(length - 48) + " 0\n");

  // play takes the same ranges for its options.
  const std::string sound = ValueOf(cli({"song", "show", "00000001"}).out, "Fichier son:");
  for (std::vector<std::string> option : {std::vector<std::string>{"--level", "1e308"}, {"--level", "31"},
                                          {"--fade-in", "1e308"}, {"--start", "-5"}, {"--end", "nan"}}) {
    std::vector<std::string> args = {SONOTEKA_CLI, "play", sound, "--device", "virtual:" + (dir / "o.wav")};
    args.insert(args.end(), option.begin(), option.end());
    const ProcessResult r = RunProcess(args, {}, 60000);
    EXPECT_TRUE(r.exited(2)) << option[0] << " " << option[1] << ": " << r.err;
  }
}

}  // namespace
}  // namespace sono::test

namespace sono::test {
namespace {

int HeardMs(const std::string& out, size_t from) {
  const size_t at = out.find("Entendu: ", from);
  return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 9);
}

// edit's "listen": the end mix into another song; the bar's ranges with the
// pre-roll kept in the settings, the level and speed of the song, and how
// long each was heard.
TEST(CliEdit, ListenPlaysTheBarsRanges) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(MakeDemoSite(home, {"--songs", "6", "--sounds", "3"}));  // songs 1 and 4 get sounds
  int status = -1;
  auto out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home,
                         "select 20000 20000; menu startnext; listen mix end 00000004"},
                        &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0) << *out;
  const size_t mix = out->find("Mixage de fin: 00000001 15000-25000 ms, puis 00000004 0-5000 ms à 20000 ms\n");
  ASSERT_NE(mix, std::string::npos) << *out;
  EXPECT_NEAR(HeardMs(*out, mix), 10000, 20);
  out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home, "listen mix start 00000002"}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 1);  // that song has no sound

  out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home,
                         "select 5000 6000; rolls 1 0.5; level -6; pitch 20; listen playout; listen playfadein;"
                         " listen list 1000 1500 3000 3600"},
                        &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0) << *out;
  const size_t out1 = out->find("Ecoute PlayOut: 4000-6500 ms, fondu d'entrée 0 ms, fondu de sortie 0 ms, "
                                "niveau -6.00 dB, vitesse +20.0 %");
  ASSERT_NE(out1, std::string::npos) << *out;
  EXPECT_NEAR(HeardMs(*out, out1), 2500 / 1.2, 20);
  const size_t in = out->find("Ecoute PlayFadeIn: 5000-8000 ms, fondu d'entrée 1000 ms");
  ASSERT_NE(in, std::string::npos) << *out;
  EXPECT_NEAR(HeardMs(*out, in), 3000 / 1.2, 20);
  const size_t list = out->find("Ecoute liste: 1000-1500 ms");
  ASSERT_NE(list, std::string::npos) << *out;
  EXPECT_NEAR(HeardMs(*out, list), 1100 / 1.2, 30);  // both items, one after the other

  // The pre-roll stays in the settings for the next session.
  out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home, "select 5000 6000; listen playout"}, &status);
  ASSERT_TRUE(out);
  EXPECT_EQ(status, 0) << *out;
  EXPECT_NE(out->find("Ecoute PlayOut: 4000-6500 ms"), std::string::npos) << *out;
  out = RunProgram({SONOTEKA_CLI, "edit", "00000001", "--home", home, "listen pause"}, &status);
  EXPECT_EQ(status, 2);
  out = RunProgram({SONOTEKA_CLI, "edit", "00000002", "--home", home, "listen play"}, &status);  // no sound
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace sono::test
