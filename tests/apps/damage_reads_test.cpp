// A station's song file damaged page by page (zeros, random bytes, flipped
// bits), then the reads of the search, the song form and the editor, each
// as its own process with a time limit: no crash, no hang, and either the
// same answer as with the whole file or exit status 1 saying which file is
// damaged. Never a shorter grid or an emptier form without a word.
#include <gtest/gtest.h>

#include <random>

#include "cli_site.h"

namespace sono::test {
namespace {

TEST(DamagedSongFile, SearchSongFormAndEditorNeverCrashHangOrAnswerShort) {
  TempDir dir;
  const std::string home = dir / "home";
  auto cli = [&](const std::vector<std::string>& args) { return RunCli(home, args, {}, 20000); };
  ASSERT_TRUE(MakeDemoSite(home, {"--songs", "40", "--stations", "2"}));
  const std::string path = home + "/drives/c/QZ_Data/FRADA22.bt6";
  const std::string intact = ReadFile(path);
  const std::vector<std::vector<std::string>> reads = {
      {"search", "--kind", "music"}, {"song", "show", "00000003"}, {"edit", "00000003", "click 3"}};
  std::vector<ProcessResult> baseline;
  for (const auto& r : reads) {
    baseline.push_back(cli(r));
    ASSERT_TRUE(baseline.back().exited(0)) << baseline.back().err;
  }
  ASSERT_GT(std::count(baseline[0].out.begin(), baseline[0].out.end(), '\n'), 20);
  const std::size_t pageSize = 4096, pages = intact.size() / pageSize;
  ASSERT_GE(pages, 15u);
  int refused = 0, same = 0;
  for (std::size_t page = 0; page < pages; ++page) {
    for (int kind = 0; kind < 3; ++kind) {
      std::string bytes = intact;
      std::mt19937 rng(static_cast<unsigned>(page * 3 + kind));
      for (std::size_t i = page * pageSize; i < (page + 1) * pageSize; ++i)
        if (kind == 0) bytes[i] = 0;
        else if (kind == 1) bytes[i] = static_cast<char>(rng());
      if (kind == 2)
        for (int b = 0; b < 3; ++b) bytes[page * pageSize + rng() % pageSize] ^= static_cast<char>(1 << (rng() % 8));
      WriteFile(path, bytes);
      for (std::size_t r = 0; r < reads.size(); ++r) {
        const std::string label = "page " + std::to_string(page) + " damage " + std::to_string(kind) + ": " + reads[r][0];
        const ProcessResult out = cli(reads[r]);
        ASSERT_FALSE(out.timedOut) << label << " hung";
        ASSERT_EQ(out.signal, 0) << label << " died";
        if (out.exited(0)) {
          EXPECT_EQ(out.out, baseline[r].out) << label << ": a different answer without a word";
          ++same;
        } else {
          EXPECT_TRUE(out.exited(1)) << label << ": exit " << out.status;
          EXPECT_NE(out.err.find("FRADA22.bt6 (Morceaux, station 1) est endommagé"), std::string::npos)
              << label << ": " << out.err;
          ++refused;
        }
      }
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(same, 0);  // damage to a free page changes nothing
  WriteFile(path, intact);
}

}  // namespace
}  // namespace sono::test
