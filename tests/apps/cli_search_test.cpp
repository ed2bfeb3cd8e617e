// A code with accented letters has one sound file name for the command line
// too: the code in UTF-8, shown, searched and measured through sonoteka-cli.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/text.h"
#include "data/songs.h"
#include "editor_test_support.h"
#include "library_fixture.h"
#include "cli_site.h"

namespace sono::data {
namespace {
class CliSearch : public test::LibraryFixture {};
}  // namespace

TEST_F(CliSearch, AccentedCodeHasOneSoundFileNameEverywhere) {
  const std::string code = Utf8ToCp1252("JINÉTÉ01");
  const std::string record = Song(code, "Jingle accentué", 10);
  InsertEverywhere(kSongs, record);
  for (int station : {1, 2}) CreateCompanionRecords(*lib, station, record);
  const std::string file = SoundFilePath(*lib, 1, code);
  sono::test::WriteFile(file, sono::test::MpegFrames(500, 256, [](long long) { return sono::test::LevelWords{}; }));  // 12 s

  const auto cli = [&](const std::vector<std::string>& args) { return sono::test::RunCli(dir.path(), args); };
  auto r = cli({"song", "show", "JINÉTÉ01"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find(" " + file + "\n"), std::string::npos) << r.out;
  r = cli({"ptx", "show", "JINÉTÉ01"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out.rfind("Durée du son: 12000 ms\n", 0), 0u) << r.out;
  r = cli({"search", "--mode", "Code", "jinété"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("\tJINÉTÉ01.s48\t"), std::string::npos) << r.out;
  r = cli({"search", "--mode", "Code", "000000010"});
  EXPECT_TRUE(r.exited(1));
  EXPECT_NE(r.err.find("Le code d'un morceau a 8 caractères au plus."), std::string::npos) << r.err;
  EXPECT_TRUE(cli({"search", "--mode", "Libellé", "x", "--titles", "court"}).exited(2));
}

// The searches of every kind and mode and the statistics recount, on a small
// seeded demo library, print what they printed when the output below was
// kept: the rows, their order and every cell, the counts stored.
TEST(CliSearchOutputs, SearchesAndRecountPrintTheKeptOutput) {
  sono::test::TempDir home;
  const auto cli = [&](const std::vector<std::string>& args) { return sono::test::RunCli(home.path(), args); };
  ASSERT_TRUE(sono::test::MakeDemoSite(home.path(), {"--songs", "150", "--sounds", "6", "--seed", "5"}));
  const std::vector<std::vector<std::string>> commands = {
      {"search", "--kind", "music"},
      {"search", "--kind", "jingles", "--station", "2"},
      {"search", "--mode", "Contient", "amour", "--titles", "both"},
      {"search", "--mode", "Commence", "e", "--titles", "short"},
      {"search", "--mode", "Libellé", "l"},
      {"search", "--mode", "Code", "0000001"},
      {"search", "--mode", "Contient", "coeur", "--types", "135"},
      {"stats", "recount"},
      {"db", "dump", "020"},
      {"db", "dump", "021"},
  };
  std::string out;
  for (const auto& command : commands) {
    std::string line = "$";
    for (const std::string& word : command) line += " " + word;
    const auto r = cli(command);
    out += line + "\n" + r.out + "rc=" + std::to_string(r.status) + "\n";
  }
  std::ifstream kept(SONOTEKA_EXPECTED_DIR "/search_outputs.txt", std::ios::binary);
  ASSERT_TRUE(kept) << "no kept output";
  std::ostringstream expected;
  expected << kept.rdbuf();
  ASSERT_GT(expected.str().size(), 10000u);
  // Line by line, so that a difference names its line.
  std::istringstream a(out), b(expected.str());
  std::string got, want;
  for (int n = 1; std::getline(b, want); ++n) {
    ASSERT_TRUE(std::getline(a, got)) << "output ends before line " << n;
    ASSERT_EQ(got, want) << "line " << n;
  }
  EXPECT_FALSE(std::getline(a, got)) << "output goes on: " << got;
}

}  // namespace sono::data
