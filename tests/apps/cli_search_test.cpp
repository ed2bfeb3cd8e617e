// A code with accented letters has one sound file name for the command line
// too: the code in UTF-8, shown, searched and measured through sonoteka-cli.
#include <gtest/gtest.h>

#include "core/text.h"
#include "data/songs.h"
#include "editor_test_support.h"
#include "library_fixture.h"
#include "process.h"

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

  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), SONOTEKA_CLI);
    args.push_back("--home");
    args.push_back(dir.path());
    return sono::test::RunProcess(args);
  };
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

}  // namespace sono::data
