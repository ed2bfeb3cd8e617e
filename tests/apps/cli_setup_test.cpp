// sonoteka-cli setup show / set on the audio set-up's keys: checked as the
// window checks them, what is printed is what the file holds, and a write
// that fails leaves the old value.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_site.h"

namespace sono::test {
namespace {

TEST(CliSetup, AudioKeysAreShownSetAndRefusedAsTheWindowDoes) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(RunCli(home, {"site", "init-demo"}).exited(0));
  auto r = RunCli(home, {"setup", "show"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("[UDP]\n"), std::string::npos);
  EXPECT_NE(r.out.find("[LevelOut_00]\nDigital=0\nAnalog=-24\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[Formats]\nOut=010000\nIn=010000\n"), std::string::npos);
  EXPECT_NE(r.out.find("  4  VIRTUAL (9/10)\n"), std::string::npos);  // no card here: the virtual pairs

  r = RunCli(home, {"setup", "set", "levelout_00", "ANALOG", "-12.0"});
  ASSERT_TRUE(r.exited(0)) << r.out << r.err;
  EXPECT_EQ(r.out, "Enregistré: LevelOut_00/Analog=-12\n");
  ASSERT_TRUE(RunCli(home, {"setup", "set", "PCXTools_Player_01", "Device", "4"}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "DigitalIn", "Value_00", "3"}).exited(0));

  // Refused: exit 2, the reason in French, the value as it was.
  const std::vector<std::vector<std::string>> refused = {
      {"LevelOut_00", "Analog", "1"},        {"Formats", "Out", "01000"},
      {"PCXTools_Player_01", "Device", "5"}, {"DigitalOut", "Clock_00", "19"},
      {"LevelOut_00", "Loud", "0"},          {"Nowhere", "Analog", "0"}};
  for (const auto& w : refused) {
    r = RunCli(home, {"setup", "set", w[0], w[1], w[2]});
    EXPECT_TRUE(r.exited(2)) << w[0] << "/" << w[1] << " " << r.out;
    EXPECT_FALSE(r.err.empty());
  }
  r = RunCli(home, {"setup", "set", "PCXTools_Player_01", "Device", "5"});
  EXPECT_NE(r.err.find("Le périphérique n° 5 n'est pas sur cet ordinateur"), std::string::npos) << r.err;

  r = RunCli(home, {"setup", "show"});
  EXPECT_NE(r.out.find("[LevelOut_00]\nDigital=0\nAnalog=-12\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[PCXTools_Player_01]\nDevice=4\n"), std::string::npos);
  EXPECT_NE(r.out.find("Value_00=3\n"), std::string::npos);
  EXPECT_NE(r.out.find("Clock_00=4\n"), std::string::npos);
}

TEST(CliSetup, AWriteThatFailsSaysSoAndKeepsTheOldValue) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(RunCli(home, {"site", "init-demo"}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "DirectX", "BufferSize", "750"}).exited(0));
  const std::string counts = dir / "counts";
  auto r = RunCli(home, {"setup", "set", "DirectX", "BufferSize", "1000"},
               FaultEnvironment("rename:1+:fail:EIO", ".Ini", counts));
  EXPECT_TRUE(r.exited(1)) << r.out << r.err;
  EXPECT_NE(r.err.find("Réglage non enregistré"), std::string::npos) << r.err;
  EXPECT_NE(ReadFile(counts).find("rename 1"), std::string::npos) << ReadFile(counts);
  r = RunCli(home, {"setup", "show"});
  EXPECT_NE(r.out.find("[DirectX]\nBufferSize=750\n"), std::string::npos) << r.out;
}

// The initialisation sound from the command line: made once in the
// program folder, then found; a folder it cannot be written to is said.
TEST(CliSetup, TheInitialisationSoundIsMadeWhenMissing) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(RunCli(home, {"site", "init-demo"}).exited(0));
  const std::string file = home + "/Vexa_Init.s48";
  auto r = RunCli(home, {"setup", "init-sound"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out, "Son d'initialisation créé: " + file + "\n");
  const size_t bytes = ReadFile(file).size();
  EXPECT_GE(bytes, 768u * 20);  // 480 ms: 20 whole house frames
  EXPECT_EQ(bytes % 768, 0u);
  r = RunCli(home, {"setup", "init-sound"});
  EXPECT_EQ(r.out, "Son d'initialisation: " + file + "\n");
  std::filesystem::remove(file);
  r = RunCli(home, {"setup", "init-sound"}, FaultEnvironment("open:1+:fail:EACCES", "Vexa_Init", dir / "counts"));
  EXPECT_TRUE(r.exited(1)) << r.out;
  EXPECT_NE(r.err.find("Fichier '" + file + "' non trouvé."), std::string::npos) << r.err;
  EXPECT_GT(FaultCount(dir / "counts", "open"), 0);
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace sono::test
