// sonoteka-cli loudness on a demo site: the import measures the new sound
// (its measurements are stored beside the envelope), and the command reads
// them back or measures a sound given by name.
#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <regex>

#include "audio/codec/mpeg_frames.h"
#include "audio_test_support.h"
#include "core/ini.h"
#include "core/files.h"
#include "core/text.h"
#include "editor/envelope.h"
#include "editor/level_measurements.h"
#include "cli_site.h"

namespace sono::test {
namespace {

class CliLevels : public CliFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDemoSite(home, {"--songs", "4", "--sounds", "1"}));
  }
  // The value printed after `label`.
  static std::string Line(const std::string& out, const std::string& label) {
    const size_t at = out.find(label);
    if (at == std::string::npos) return {};
    return Trim(out.substr(at + label.size(), out.find('\n', at) - at - label.size()));
  }
};

TEST_F(CliLevels, ImportMeasuresTheNewSoundAndLoudnessReadsItBack) {
  const std::string house = MakeHouseFile(dir, "tone.s48", 6000, 0.25f);
  std::string out = Ok({"import", "00000002", house, "--house", "copy"});
  out = Ok({"loudness", "00000002"});
  EXPECT_NE(out.find("(enregistrées)"), std::string::npos) << "the import did not measure: " << out;
  const std::string sound = Line(out, "Fichier son  :");
  ASSERT_TRUE(File_Exist(editor::LevelPathFor(sound))) << out;

  // Measured again by name: the same values as the import stored.
  const std::string again = Ok({"loudness", sound, "--measure"});
  EXPECT_NE(again.find("(mesurées maintenant)"), std::string::npos) << again;
  for (const char* label : {"Intégré      :", "Plage        :", "Crête        :", "Crête vraie  :"}) {
    EXPECT_EQ(Line(out, label), Line(again, label)) << label;
    EXPECT_NE(Line(out, label), "non mesuré") << label;
  }
}

TEST_F(CliLevels, UnknownSongOrUnreadableSoundFails) {
  EXPECT_EQ(Exit({"loudness", "09999999"}), 1);
  WriteFile(dir / "junk.s48", std::string(3000, 'j'));
  EXPECT_EQ(Exit({"loudness", dir / "junk.s48"}), 1);
  EXPECT_FALSE(File_Exist(editor::LevelPathFor(dir / "junk.s48")));
  EXPECT_EQ(Exit({"loudness"}), 2);
}

TEST_F(CliLevels, NormalisePrintsBothProposalsAndApplyWritesTheLevelPointer) {
  // A loud tone: the station target (-23 LUFS) asks for a cut.
  const std::string house = MakeHouseFile(dir, "tone.s48", 6000, 0.8f);
  int status = -1;
  Ok({"import", "00000002", house, "--house", "copy"});
  std::string out = Ok({"normalise", "00000002"});
  const std::string proposal = Line(out, "Proposition  :");
  const std::string target = Line(out, "Cible        :");
  ASSERT_FALSE(proposal.empty()) << out;
  EXPECT_NE(target.find("(-23.0 LUFS, plafond -1.0 dBTP)"), std::string::npos) << out;
  EXPECT_EQ(target[0], '-') << out;  // a cut
  // Nothing written without --apply.
  EXPECT_NE(Ok({"ptx", "show", "00000002"}).find("0.00 dB"), std::string::npos);

  out = Ok({"normalise", "00000002", "--apply-target"});
  const double db = std::stod(target);
  EXPECT_NE(out.find("Enregistré: 00000002 Level = " + std::to_string(std::lround(db * 100))), std::string::npos)
      << out;
  out = Run({"normalise", "00000002", "--apply", "--apply-target"}, status);
  EXPECT_EQ(status, 2);

  // Another station target: the proposal follows it.
  out = Ok({"normalise", "target", "-18", "-1"});
  EXPECT_NE(out.find("Cible de sonie: -18.0 LUFS"), std::string::npos) << out;
  EXPECT_EQ(Exit({"normalise", "target", "5", "-1"}), 2);
  out = Run({"normalise", "00000002"}, status);
  EXPECT_NE(Line(out, "Cible        :").find("(-18.0 LUFS, plafond -1.0 dBTP)"), std::string::npos) << out;
}

TEST_F(CliLevels, SilentSoundHasNoProposalToApply) {
  const std::string house = dir / "silence.s48";
  ASSERT_TRUE(WriteHouse(house, std::vector<float>(2 * 48000 * 3, 0.0f)));
  int status = -1;
  Ok({"import", "00000003", house, "--house", "copy"});
  std::string out = Run({"normalise", "00000003", "--apply"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Proposition  : aucune"), std::string::npos) << out;
  EXPECT_EQ(out.find("Enregistré:"), std::string::npos) << out;
}

// The stored sound as FFmpeg's meter reads it (its own decoder): integrated
// loudness and true peak of the summary.
struct FfmpegLevels {
  double integrated = 0, truePeak = 0;
};
FfmpegLevels FfmpegMeasure(const std::string& sound) {
  const auto r = RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-f", "mp3", "-i", sound, "-af",
                             "ebur128=peak=true", "-f", "null", "-"});
  EXPECT_TRUE(r.exited(0)) << r.err;
  FfmpegLevels l;
  std::smatch m;
  const std::string summary = r.err.substr(r.err.rfind("Summary:"));
  if (std::regex_search(summary, m, std::regex(R"(I:\s+(-?[0-9.]+) LUFS)"))) l.integrated = std::stod(m[1]);
  if (std::regex_search(summary, m, std::regex(R"(True peak:\s+Peak:\s+(-?[0-9.]+) dBFS)"))) l.truePeak = std::stod(m[1]);
  return l;
}

// A quiet sine with loud clicks: reaching the target would push the peaks
// far over the ceiling.
std::vector<float> QuietWithClicks(int seconds) {
  std::vector<float> s = TestSignal(48000LL * seconds, 48000, 0.004f);
  for (int k = 0; k < seconds; ++k)
    for (int i = 0; i < 48; ++i) s[2 * (48000 * k + 24000 + i)] = s[2 * (48000 * k + 24000 + i) + 1] = 0.7f;
  return s;
}

class CliMassNormalisation : public CliLevels {
 protected:
  void SetUp() override {
    CliLevels::SetUp();
    const std::string settings = home + "/Settings/Vexa_Library/Vexa_Library.Ini";
    ASSERT_TRUE(EcritureIni(settings, "Convert", "CheckEffectActif1", "1"));
    ASSERT_TRUE(EcritureIni(settings, "Convert", "OptionEffetNormalise", "4"));  // loudness
    // Through the converter; the scale-factor path has its own test below.
    ASSERT_TRUE(EcritureIni(settings, "Normalisation", "SansReencodage", "0"));
    Ok({"import", "00000002", MakeHouseFile(dir, "loud.s48", 8000, 0.8f), "--house", "copy"});
    ASSERT_TRUE(WriteHouse(dir / "clicks.s48", QuietWithClicks(8)));
    Ok({"import", "00000003", dir / "clicks.s48", "--house", "copy"});
    for (const char* code : {"00000002", "00000003"}) {
      Ok({"ptx", "set", code, "8", "-450"});
      sounds.push_back(Line(Ok({"loudness", code}), "Fichier son  :"));
      originalMs.push_back(audio::ScanMpegFile(sounds.back()).durationMs);
    }
  }
  // Every sound whole: a complete house-format stream of its length.
  void ExpectWholeSounds(const std::string& when) {
    for (size_t i = 0; i < sounds.size(); ++i) {
      const audio::FrameScan scan = audio::ScanMpegFile(sounds[i]);
      ASSERT_EQ(scan.status, audio::ScanStatus::Ok) << when << " " << sounds[i];
      EXPECT_FALSE(scan.truncated) << when;
      EXPECT_EQ(scan.damagedFrames, 0) << when;
      EXPECT_NEAR(static_cast<double>(scan.durationMs), static_cast<double>(originalMs[i]), 24) << when;
    }
  }
  std::vector<std::string> sounds;
  std::vector<int64_t> originalMs;
};

TEST_F(CliMassNormalisation, LoudnessModeReachesTheTargetOrStopsAtTheCeiling) {
  const std::string out = Ok({"normalise", "--mass", "00000002", "00000003"});
  ExpectWholeSounds("after");
  // The loud tone lands on -23 LUFS; the clicks stop at the -1 dBTP ceiling, and it is said.
  const FfmpegLevels loud = FfmpegMeasure(sounds[0]);
  EXPECT_NEAR(loud.integrated, -23.0, 0.5) << out;
  EXPECT_LE(loud.truePeak, -1.0 + 0.05);
  const FfmpegLevels clicks = FfmpegMeasure(sounds[1]);
  EXPECT_LE(clicks.truePeak, -1.0 + 0.05) << out;
  EXPECT_GT(clicks.truePeak, -2.0) << out;  // brought up to the ceiling, not left alone
  EXPECT_LT(clicks.integrated, -23.5);
  EXPECT_NE(out.find("00000003: normalisé:"), std::string::npos) << out;
  EXPECT_NE(out.find("(arrêté au plafond de crête vraie, sous la cible)"), std::string::npos) << out;
  EXPECT_NE(out.find("00000002: normalisé: -23."), std::string::npos) << out;
  // The old level corrections are gone; the stored measurements are the new sound's.
  for (const char* code : {"00000002", "00000003"})
    EXPECT_NE(Ok({"ptx", "show", code}).find("0.00 dB"), std::string::npos) << code;
  EXPECT_NE(Ok({"loudness", "00000002"}).find("(enregistrées)"), std::string::npos);
}

TEST_F(CliMassNormalisation, WithoutReencodingTheFramesTakeWholeStepsAndTheLevelCorrectionTheRest) {
  ASSERT_TRUE(EcritureIni(home + "/Settings/Vexa_Library/Vexa_Library.Ini", "Normalisation", "SansReencodage", "1"));
  std::vector<audio::FrameScan> before;
  std::vector<std::string> beforeBytes;
  for (const std::string& sound : sounds) before.push_back(audio::ScanMpegFile(sound)), beforeBytes.push_back(ReadFile(sound));
  const std::string out = Ok({"normalise", "--mass", "00000002", "00000003"});
  ExpectWholeSounds("after");
  for (size_t i = 0; i < sounds.size(); ++i) {
    // The same frames, headers and allocations: only scale factors moved.
    const std::string after = ReadFile(sounds[i]);
    ASSERT_EQ(after.size(), beforeBytes[i].size());
    for (size_t f = 0; f < after.size(); f += 768) EXPECT_EQ(after.compare(f, 4, beforeBytes[i], f, 4), 0);
    // The tone moves by whole steps; the clicks' boost, under one step, is
    // all in the Level correction and leaves the frames as they were.
    EXPECT_EQ(after != beforeBytes[i], i == 0) << sounds[i];
  }
  // What airs is the stored sound with its Level correction: the tone on
  // the target, the clicks at the ceiling; both said without re-encoding.
  auto correction = [&](const char* code) {
    const std::string line = out.substr(out.find(std::string(code) + ": normalisé sans réencodage:"));
    return std::stod(line.substr(line.find("correction de niveau ") + 21));
  };
  const double toneLevel = correction("00000002"), clicksLevel = correction("00000003");
  EXPECT_LT(std::fabs(toneLevel), 2.007);
  EXPECT_GT(clicksLevel, 0);  // the rest of a boost up to the ceiling
  const FfmpegLevels tone = FfmpegMeasure(sounds[0]), clicks = FfmpegMeasure(sounds[1]);
  EXPECT_NEAR(tone.integrated + toneLevel, -23.0, 0.2) << out;
  EXPECT_LE(clicks.truePeak + clicksLevel, -1.0 + 0.1) << out;
  EXPECT_GT(clicks.truePeak + clicksLevel, -1.3) << out;
  EXPECT_NE(out.find("00000003: normalisé sans réencodage:"), std::string::npos) << out;
  EXPECT_NE(out.find("(arrêté au plafond de crête vraie, sous la cible)"), std::string::npos) << out;
  // The correction is stored as printed, on every station.
  char expected[32];
  for (const auto& [code, level] : {std::pair{"00000002", toneLevel}, std::pair{"00000003", clicksLevel}}) {
    std::snprintf(expected, sizeof expected, "%.2f dB", level);
    EXPECT_NE(Ok({"ptx", "show", code}).find(expected), std::string::npos) << code << " " << expected;
    EXPECT_NE(Ok({"ptx", "show", code, "--station", "2"}).find(expected), std::string::npos) << code;
  }
}

TEST_F(CliMassNormalisation, FullDiskKeepsEverySoundAndItsCorrection) {
  const std::string before = ReadFile(sounds[0]);
  const std::string envelope = ReadFile(editor::GpxPathFor(sounds[0]));
  const std::string levels = ReadFile(editor::LevelPathFor(sounds[0]));
  std::string out;
  int status = -1;
  {
    FileSizeLimit full(40 * 1024);  // the converter's output cannot grow past 40 KB
    out = Run({"normalise", "--mass", "00000002"}, status);
  }
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("00000002: échec: Normalisation impossible"), std::string::npos) << out;
  // A failed conversion keeps the sound, its envelope, its measurements and its correction.
  EXPECT_EQ(ReadFile(sounds[0]), before);
  EXPECT_EQ(ReadFile(editor::GpxPathFor(sounds[0])), envelope);
  EXPECT_EQ(ReadFile(editor::LevelPathFor(sounds[0])), levels);
  EXPECT_NE(Ok({"ptx", "show", "00000002"}).find("-4.50 dB"), std::string::npos);
}

// Killed at every rename and at write calls spread over a whole run (the
// command's and the converter's, in the sound folder): every sound stays a
// whole sound, old or new.
TEST_F(CliMassNormalisation, KillAtAnyMomentLeavesEverySoundWhole) {
  const std::string folder = EclateRepFicExt(sounds[0]).folder;
  const std::string counts = dir / "counts.txt";
  std::vector<std::string> argv = {SONOTEKA_CLI, "normalise", "--mass", "00000002", "00000003", "--home", home};
  // A clean run first, for the totals of the command itself.
  auto r = RunProcess(argv, FaultEnvironment("", folder, counts));
  ASSERT_TRUE(r.exited(0)) << r.out << r.err;
  const long renames = FaultCount(counts, "rename"), writes = FaultCount(counts, "write");
  ASSERT_GE(renames, 4);  // two sounds, each with its envelope and measurements
  int killed = 0, converterKilled = 0;
  std::vector<std::string> rules;
  for (long n = 1; n <= renames; ++n) rules.push_back("rename:" + std::to_string(n) + ":kill");
  for (long n = 1; n <= 12; ++n) rules.push_back("write:" + std::to_string(1 + (writes - 1) * n / 12) + ":kill");
  for (long n = 1; n <= 6; ++n) rules.push_back("write:" + std::to_string(n * 7) + ":kill");  // the converter's output
  for (const std::string& rule : rules) {
    r = RunProcess(argv, FaultEnvironment(rule, folder));
    if (r.signal == SIGKILL) ++killed;
    else if (r.out.find("arrêté avant la fin (signal 9)") != std::string::npos) ++converterKilled;
    ExpectWholeSounds(rule);
  }
  // The faults were hit: the command or the converter died each time.
  EXPECT_GE(killed + converterKilled, 20);
  EXPECT_GT(killed, 0);
  EXPECT_GT(converterKilled, 0);
  // The library still works: the next run finishes both.
  r = RunProcess(argv);
  EXPECT_TRUE(r.exited(0)) << r.out << r.err;
  EXPECT_NEAR(FfmpegMeasure(sounds[0]).integrated, -23.0, 0.5);
}

// A whole category from the command line: every song of it that has a
// sound, in loudness mode for this run only (--lufs), the others untouched.
TEST_F(CliMassNormalisation, ACategoryIsNormalisedSongBySong) {
  const std::string settings = home + "/Settings/Vexa_Library/Vexa_Library.Ini";
  ASSERT_TRUE(EcritureIni(settings, "Convert", "CheckEffectActif1", "0"));  // --lufs turns it on
  int status = -1;
  const std::string category = Line(Ok({"song", "show", "00000002"}), "Catégorie:");
  const std::string code = category.substr(0, category.find(' '));
  ASSERT_FALSE(code.empty());
  // The songs of that category, and one with a sound outside it.
  std::vector<std::string> inside, outside;
  for (const char* song : {"00000001", "00000002", "00000003", "00000004"}) {
    const std::string shown = Line(Run({"song", "show", song}, status), "Catégorie:");
    (shown == category ? inside : outside).push_back(song);
  }
  std::map<std::string, std::string> untouched;
  for (const std::string& song : outside)
    if (const std::string sound = Line(Run({"loudness", song}, status), "Fichier son  :"); File_Exist(sound))
      untouched[sound] = ReadFile(sound);

  std::string out = Ok({"normalise", "--category", Cp1252ToUtf8(code), "--lufs"});
  EXPECT_NE(out.find("Catégorie " + code + " ("), std::string::npos) << out;
  EXPECT_NE(out.find(": " + std::to_string(inside.size()) + " morceau(x)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("00000002: normalisé: -23."), std::string::npos) << out;
  EXPECT_NEAR(FfmpegMeasure(sounds[0]).integrated, -23.0, 0.5);
  EXPECT_TRUE(std::regex_search(out, std::regex("Sons normalisés: \\d+, échecs: 0, sans son: \\d+\n")));
  for (const auto& [sound, bytes] : untouched) EXPECT_EQ(ReadFile(sound), bytes) << sound << " is in another category";
  EXPECT_EQ(LectureIni(settings, "Convert", "CheckEffectActif1", "?"), "0") << "--lufs is for this run only";
  // By its label too; an unknown category or both modes are refused.
  const std::string label = category.substr(category.find(' ') + 1);
  out = Run({"normalise", "--category", label, "--peak"}, status);
  EXPECT_EQ(status, 0) << out << ReadFile(home + "/Settings/Vexa_Library/Vexa_Library.Ini");
  EXPECT_NE(out.find("Catégorie " + code + " ("), std::string::npos) << out;
  EXPECT_EQ(Exit({"normalise", "--category", "NOPE9"}), 1);
  EXPECT_EQ(Exit({"normalise", "--category", code, "--lufs", "--peak"}), 2);
}

// Killed at each rename of a run, in the whole site. Once the converted sound
// has taken its name, the next run recognises it by its journal, does not
// encode it a second time, and finishes what was left: the old correction
// deleted, the envelope and measurements of the new sound. A journal that
// describes another sound (a kill before the rename) is dropped and the
// sound converted.
TEST_F(CliMassNormalisation, AKillAfterTheConvertedSoundsRenameIsFinishedWithoutASecondEncoding) {
  namespace fs = std::filesystem;
  const std::string before = ReadFile(sounds[0]);
  const std::string journal = fs::path(sounds[0]).replace_extension(".Normalisation").string();
  const std::string pristine = dir / "pristine", counts = dir / "counts.txt";
  fs::copy(home, pristine, fs::copy_options::recursive);
  const std::vector<std::string> command = {"normalise", "--mass", "00000002"};
  WriteFile(journal, "size " + std::to_string(before.size()) + "\nhash 1\n");
  ProcessResult r = RunCli(home, command, FaultEnvironment("", home, counts));
  ASSERT_TRUE(r.exited(0)) << r.out << r.err;
  EXPECT_NE(ReadFile(sounds[0]), before) << "converted";
  EXPECT_EQ(r.out.find("exécution interrompue"), std::string::npos) << r.out;
  EXPECT_FALSE(File_Exist(journal)) << "a finished run leaves no journal";
  const long renames = FaultCount(counts, "rename");
  ASSERT_GE(renames, 3);  // the journal, the sound, the envelope...
  int finished = 0;
  for (long n = 1; n <= renames; ++n) {
    fs::remove_all(home);
    fs::copy(pristine, home, fs::copy_options::recursive);
    const std::string rule = "rename:" + std::to_string(n) + ":kill";
    r = RunCli(home, command, FaultEnvironment(rule, home));
    if (r.signal != SIGKILL || !File_Exist(journal)) continue;
    ExpectWholeSounds(rule);
    const std::string killed = ReadFile(sounds[0]);
    if (killed == before) continue;  // killed before the sound's rename
    int status = -1;
    const std::string out = Run(command, status);
    ASSERT_EQ(status, 0) << rule << out;
    EXPECT_FALSE(File_Exist(journal)) << rule;
    ++finished;
    EXPECT_TRUE(ReadFile(sounds[0]) == killed) << rule << ": the sound was encoded a second time";
    EXPECT_NE(out.find("00000002: normalisé: -23."), std::string::npos) << rule << out;
    EXPECT_NE(out.find("(converti par une exécution interrompue, pas converti à nouveau)"), std::string::npos)
        << rule << out;
    EXPECT_NE(Ok({"ptx", "show", "00000002"}).find("0.00 dB"), std::string::npos) << rule;
    EXPECT_NE(Ok({"loudness", "00000002"}).find("(enregistrées)"), std::string::npos) << rule;
  }
  EXPECT_GE(finished, 1);
}

// Killed after the frames of a sound took the gain and before its Level
// correction was stored: the next run measures the new frames (the stored
// measurements are older than the sound), leaves them as they are and
// stores the correction; the gain is never applied twice.
TEST_F(CliMassNormalisation, AKillBetweenTheFramesAndTheLevelCorrectionIsCompletedByTheNextRun) {
  ASSERT_TRUE(EcritureIni(home + "/Settings/Vexa_Library/Vexa_Library.Ini", "Normalisation", "SansReencodage", "1"));
  const std::string before = ReadFile(sounds[0]);
  const std::string counts = dir / "counts.txt";
  // The first write to the base's journal is the correction's transaction.
  auto r = RunProcess({SONOTEKA_CLI, "normalise", "--mass", "00000002", "--home", home},
                      FaultEnvironment("write:1:kill", "sonoteka-btr.journal", counts));
  ASSERT_EQ(r.signal, SIGKILL) << r.out << r.err;
  ExpectWholeSounds("killed");
  const std::string killed = ReadFile(sounds[0]);
  ASSERT_NE(killed, before) << "the frames had taken the gain";
  int status = -1;
  const std::string pointers = Run({"ptx", "show", "00000002"}, status);
  EXPECT_NE(pointers.find("-4.50 dB"), std::string::npos) << "the old correction\n" << pointers << r.out << r.err;

  const std::string out = Ok({"normalise", "--mass", "00000002"});
  EXPECT_EQ(ReadFile(sounds[0]), killed) << "the frames are not given the gain a second time";
  const size_t at = out.find("00000002: normalisé sans réencodage:");
  ASSERT_NE(at, std::string::npos) << out;
  const double level = std::stod(out.substr(out.find("correction de niveau ", at) + 21));
  EXPECT_LT(std::fabs(level), 2.007);
  EXPECT_NEAR(FfmpegMeasure(sounds[0]).integrated + level, -23.0, 0.2) << out;
  char expected[32];
  std::snprintf(expected, sizeof expected, "%.2f dB", level);
  EXPECT_NE(Ok({"ptx", "show", "00000002"}).find(expected), std::string::npos) << expected;
}

}  // namespace
}  // namespace sono::test
