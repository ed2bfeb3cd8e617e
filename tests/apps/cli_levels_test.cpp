// sonoteka-cli loudness on a demo site: the import measures the new sound
// (its measurements are stored beside the envelope), and the command reads
// them back or measures a sound given by name.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "audio_test_support.h"
#include "core/files.h"
#include "core/text.h"
#include "editor/level_measurements.h"
#include "process.h"

namespace sono::test {
namespace {

class CliLevels : public ::testing::Test {
 protected:
  void SetUp() override {
    int status = -1;
    ASSERT_TRUE(RunProgram({SONOTEKA_CLI, "site", "init-demo", "--home", home}, &status));
    ASSERT_EQ(status, 0);
    auto out = RunProgram({SONOTEKA_CLI, "demo", "build", "--songs", "4", "--sounds", "1", "--home", home}, &status);
    ASSERT_TRUE(out);
    ASSERT_EQ(status, 0) << *out;
  }
  std::string Run(const std::vector<std::string>& args, int& status) {
    std::vector<std::string> argv = {SONOTEKA_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--home");
    argv.push_back(home);
    return RunProgram(argv, &status).value_or("");
  }
  // The value printed after `label`.
  static std::string Line(const std::string& out, const std::string& label) {
    const size_t at = out.find(label);
    if (at == std::string::npos) return {};
    return Trim(out.substr(at + label.size(), out.find('\n', at) - at - label.size()));
  }

  TempDir dir;
  std::string home = dir / "home";
};

TEST_F(CliLevels, ImportMeasuresTheNewSoundAndLoudnessReadsItBack) {
  const std::string house = MakeHouseFile(dir, "tone.s48", 6000, 0.25f);
  int status = -1;
  std::string out = Run({"import", "00000002", house, "--house", "copy"}, status);
  ASSERT_EQ(status, 0) << out;
  out = Run({"loudness", "00000002"}, status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("(enregistrées)"), std::string::npos) << "the import did not measure: " << out;
  const std::string sound = Line(out, "Fichier son  :");
  ASSERT_TRUE(File_Exist(editor::LevelPathFor(sound))) << out;

  // Measured again by name: the same values as the import stored.
  const std::string again = Run({"loudness", sound, "--measure"}, status);
  ASSERT_EQ(status, 0) << again;
  EXPECT_NE(again.find("(mesurées maintenant)"), std::string::npos) << again;
  for (const char* label : {"Intégré      :", "Plage        :", "Crête        :", "Crête vraie  :"}) {
    EXPECT_EQ(Line(out, label), Line(again, label)) << label;
    EXPECT_NE(Line(out, label), "non mesuré") << label;
  }
}

TEST_F(CliLevels, UnknownSongOrUnreadableSoundFails) {
  int status = -1;
  Run({"loudness", "09999999"}, status);
  EXPECT_EQ(status, 1);
  WriteFile(dir / "junk.s48", std::string(3000, 'j'));
  Run({"loudness", dir / "junk.s48"}, status);
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(File_Exist(editor::LevelPathFor(dir / "junk.s48")));
  Run({"loudness"}, status);
  EXPECT_EQ(status, 2);
}

TEST_F(CliLevels, NormalisePrintsBothProposalsAndApplyWritesTheLevelPointer) {
  // A loud tone: the station target (-23 LUFS) asks for a cut.
  const std::string house = MakeHouseFile(dir, "tone.s48", 6000, 0.8f);
  int status = -1;
  ASSERT_EQ((Run({"import", "00000002", house, "--house", "copy"}, status), status), 0);
  std::string out = Run({"normalise", "00000002"}, status);
  ASSERT_EQ(status, 0) << out;
  const std::string proposal = Line(out, "Proposition  :");
  const std::string target = Line(out, "Cible        :");
  ASSERT_FALSE(proposal.empty()) << out;
  EXPECT_NE(target.find("(-23.0 LUFS, plafond -1.0 dBTP)"), std::string::npos) << out;
  EXPECT_EQ(target[0], '-') << out;  // a cut
  // Nothing written without --apply.
  EXPECT_NE(Run({"ptx", "show", "00000002"}, status).find("0.00 dB"), std::string::npos);

  out = Run({"normalise", "00000002", "--apply-target"}, status);
  ASSERT_EQ(status, 0) << out;
  const double db = std::stod(target);
  EXPECT_NE(out.find("Enregistré: 00000002 Level = " + std::to_string(std::lround(db * 100))), std::string::npos)
      << out;
  out = Run({"normalise", "00000002", "--apply", "--apply-target"}, status);
  EXPECT_EQ(status, 2);

  // Another station target: the proposal follows it.
  out = Run({"normalise", "target", "-18", "-1"}, status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Cible de sonie: -18.0 LUFS"), std::string::npos) << out;
  Run({"normalise", "target", "5", "-1"}, status);
  EXPECT_EQ(status, 2);
  out = Run({"normalise", "00000002"}, status);
  EXPECT_NE(Line(out, "Cible        :").find("(-18.0 LUFS, plafond -1.0 dBTP)"), std::string::npos) << out;
}

TEST_F(CliLevels, SilentSoundHasNoProposalToApply) {
  const std::string house = dir / "silence.s48";
  ASSERT_TRUE(WriteHouse(house, std::vector<float>(2 * 48000 * 3, 0.0f)));
  int status = -1;
  ASSERT_EQ((Run({"import", "00000003", house, "--house", "copy"}, status), status), 0);
  std::string out = Run({"normalise", "00000003", "--apply"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Proposition  : aucune"), std::string::npos) << out;
  EXPECT_EQ(out.find("Enregistré:"), std::string::npos) << out;
}

}  // namespace
}  // namespace sono::test
