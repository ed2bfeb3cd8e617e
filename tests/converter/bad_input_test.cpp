// What a station meets: files that are no sound, cut or empty, odd names, a
// folder it cannot write, a full disk, a converter killed at any write. Each
// ends with a French line in the error file and a non-zero exit, and the
// target keeps its previous bytes with no partial file beside it.
#include <gtest/gtest.h>

#include "converter_test_support.h"
#include "core/files.h"

namespace sono::test {
namespace {

const std::string kOldSound = "the previous sound, kept whole";

// A failed conversion: exit 1, `words` in the error file, the old target
// whole, and nothing else in its folder but what was there.
void ExpectRefused(const ProcessResult& r, const std::string& target, const std::string& words,
                   const std::vector<std::string>& entriesBefore) {
  EXPECT_TRUE(r.exited(1)) << r.status << " " << r.signal << " " << r.err;
  const std::string said = ReadFile(ErrorFileFor(target));
  EXPECT_NE(said.find(words), std::string::npos) << said;
  EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(target), kOldSound);
  auto entries = Entries(ParentFolder(target));
  std::erase(entries, ErrorFileFor(target).substr(ParentFolder(target).size()));
  EXPECT_EQ(entries, entriesBefore);
}

TEST(ConverterRefuses, SourcesThatAreNoWholeSound) {
  TempDir dir;
  CreateFolders(dir / "in");
  CreateFolders(dir / "out");
  const std::string target = dir / "out/song.s48";
  WriteFile(target, kOldSound);
  const std::vector<std::string> before = Entries(dir / "out");

  WriteFile(dir / "in/letter.mp3", "Bonjour, voici le son de la pub de demain.\n");
  ExpectRefused(ConvertToHouse(dir / "in/letter.mp3", target), target, "Format du fichier source non reconnu",
                before);
  WriteFile(dir / "in/empty.mp3", "");
  ExpectRefused(ConvertToHouse(dir / "in/empty.mp3", target), target, "Le fichier source est vide", before);
  ExpectRefused(ConvertToHouse(dir / "in/missing.mp3", target), target, "Fichier source non trouvé", before);

  // Cut in the middle: each of these says how long it should be.
  for (const auto& [name, codec] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"cut.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}},
           {"cut.flac", {"-c:a", "flac"}},
           {"cut.wav", {"-c:a", "pcm_s16le"}},
           {"cut.aiff", {"-c:a", "pcm_s16be"}}}) {
    SCOPED_TRACE(name);
    const std::string source = dir / ("in/" + name);
    ASSERT_TRUE(MakeTone(source, 4000, codec));
    const std::string whole = ReadFile(source);
    // Cut on a sample-frame boundary: a reader sees only a shorter sound.
    WriteFile(source, whole.substr(0, whole.size() - whole.size() / 2 / 4 * 4));
    ExpectRefused(ConvertToHouse(source, target), target, "Le fichier source est incomplet", before);
  }
}

TEST(ConverterRefuses, BadCommandLinesWithStatusTwo) {
  TempDir dir;
  const std::string errors = dir / "errors.log";
  const ProcessResult noTarget = RunProcess({SONOTEKA_CONVERT, "-infile=" + (dir / "a.mp3"), "-errorfile=" + errors});
  EXPECT_TRUE(noTarget.exited(2));
  EXPECT_EQ(ReadFile(errors), "Il faut -infile= et -outfile=");
  const ProcessResult unknown = RunProcess({SONOTEKA_CONVERT, "-infile=a.mp3", "-outfile=" + (dir / "b.s48"),
                                            "-errorfile=" + errors, "-speed=2"});
  EXPECT_TRUE(unknown.exited(2));
  EXPECT_EQ(ReadFile(errors), "Option inconnue: -speed");
  const ProcessResult mono = RunProcess({SONOTEKA_CONVERT, "-infile=a.mp3", "-outfile=" + (dir / "b.s48"),
                                         "-errorfile=" + errors, "-convert_to=mp2", "-c=1"});
  EXPECT_TRUE(mono.exited(2));
  EXPECT_NE(ReadFile(errors).find("48000 Hz, 256 kbit/s, stéréo"), std::string::npos);
  // A negative margin around the sound would cut into it: refused, not taken.
  const ProcessResult margin = RunProcess({SONOTEKA_CONVERT, "-infile=a.mp3", "-outfile=" + (dir / "b.s48"),
                                           "-errorfile=" + errors,
                                           "-dspeffect1=\"Trim Silence= -dBSilence={qt}-60{qt} -Threshold={qt}-200{qt}\""});
  EXPECT_TRUE(margin.exited(2));
  EXPECT_EQ(ReadFile(errors), "Valeur incorrecte pour -threshold: -200");
  EXPECT_FALSE(Exists(dir / "b.s48"));
}

TEST(ConverterNames, SpacesQuotesDollarSemicolonAccentsAndNewline) {
  TempDir dir;
  const std::string odd = "L'été \"live\" $HOME; 100% 'x'\nfin";
  const std::string source = dir / (odd + ".ogg");
  ASSERT_TRUE(MakeTone(source, 1000, {"-c:a", "libvorbis"}));
  const std::string target = dir / (odd + ".s48");
  const ProcessResult r = ConvertToHouse(source, target);
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(CheckHouseFile(target).frames, 1000 / audio::kHouseFrameMs + 1);
  EXPECT_EQ(ReadFile(ErrorFileFor(target)), "");
  EXPECT_EQ(Entries(dir.path()).size(), 3u);
}

TEST(ConverterRefuses, ReadOnlyTargetFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the converter as another account";
  TempDir dir;
  CreateFolders(dir / "out");
  CreateFolders(dir / "errs");
  const std::string source = dir / "tone.mp3";
  ASSERT_TRUE(MakeTone(source, 1000, {"-c:a", "libmp3lame"}));
  const std::string target = dir / "out/song.s48";
  WriteFile(target, kOldSound);
  const std::string errors = dir / "errs/song.log";
  ASSERT_EQ(std::system(("chmod 755 '" + dir.path() + "' && chmod 644 '" + source + "' && chown 65534 '" +
                         dir.path() + "errs' && chmod 555 '" + dir.path() + "out'")
                            .c_str()),
            0);
  const ProcessResult r = RunProcess({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                      SONOTEKA_CONVERT, "-infile=" + source, "-outfile=" + target,
                                      "-errorfile=" + errors, "-convert_to=mp2"});
  EXPECT_TRUE(r.exited(1)) << r.err;
  EXPECT_EQ(ReadFile(errors), "Impossible de créer le fichier: " + target + " (accès refusé)");
  EXPECT_EQ(ReadFile(target), kOldSound);
  EXPECT_EQ(Entries(dir / "out"), std::vector<std::string>{"song.s48"});
}

TEST(ConverterRefuses, FullDisk) {
  TempDir dir;
  const std::string source = dir / "tone.flac";
  ASSERT_TRUE(MakeTone(source, 4000, {"-c:a", "flac"}));
  CreateFolders(dir / "out");
  const std::string target = dir / "out/song.s48";
  WriteFile(target, kOldSound);
  ProcessResult r;
  {
    FileSizeLimit limit(64 * 1024);  // the sound needs about 128 KiB
    r = ConvertToHouse(source, target);
  }
  ExpectRefused(r, target, "Impossible d'écrire le fichier: " + target + " (disque plein)", {"song.s48"});
}

// Killed at any write, at the flush or at the rename: the old sound stays,
// and what is left beside it is the writer's temporary file, which the
// library's sweep of stale temporary files knows. A write that fails leaves
// nothing at all.
TEST(ConverterRefuses, KilledOrFailingAtEveryStep) {
  TempDir dir;
  const std::string source = dir / "tone.wav";
  ASSERT_TRUE(MakeTone(source, 1500, {"-c:a", "pcm_s16le"}));
  CreateFolders(dir / "out");
  const std::string target = dir / "out/song.s48";
  WriteFile(target, kOldSound);
  const std::string counts = dir / "counts";
  ASSERT_TRUE(ConvertToHouse(source, target, FaultEnvironment("", "song.s48", counts)).exited(0));
  const long writes = FaultCount(counts, "write");
  ASSERT_GE(writes, 2);
  ASSERT_EQ(FaultCount(counts, "fsync"), 1);
  ASSERT_EQ(FaultCount(counts, "rename"), 1);

  std::vector<std::string> rules;
  for (long n = 1; n <= writes; ++n) {
    rules.push_back("write:" + std::to_string(n) + ":kill");
    rules.push_back("write:" + std::to_string(n) + ":fail:ENOSPC");
  }
  rules.insert(rules.end(), {"fsync:1:kill", "fsync:1:fail:EIO", "rename:1:kill", "rename:1:fail:EIO"});
  for (const std::string& rule : rules) {
    SCOPED_TRACE(rule);
    WriteFile(target, kOldSound);
    const ProcessResult r = ConvertToHouse(source, target, FaultEnvironment(rule, "song.s48"));
    EXPECT_EQ(ReadFile(target), kOldSound);
    for (const std::string& name : Entries(dir / "out")) {
      if (name == "song.s48" || name == "song_Err_Convert.Log") continue;
      EXPECT_EQ(r.signal, SIGKILL) << "left " << name;
      EXPECT_TRUE(IsOurTemporaryFileName(name)) << name;
      std::filesystem::remove(dir / ("out/" + name));
    }
    if (rule.find(":kill") != std::string::npos) {
      EXPECT_EQ(r.signal, SIGKILL) << "the fault was not hit";
    } else {
      EXPECT_TRUE(r.exited(1)) << r.err;
      const std::string said = ReadFile(dir / "out/song_Err_Convert.Log");
      EXPECT_EQ(said.rfind("Impossible d'écrire le fichier: " + target, 0), 0u) << said;
    }
  }
}

}  // namespace
}  // namespace sono::test
