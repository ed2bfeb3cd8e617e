#include "convert/convert_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "audio/codec/mpeg_frames.h"
#include "convert_test_support.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/text.h"

namespace sono::convert {
namespace {

using test::ReadFile;
using test::WriteFile;

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log.setSetupLoaded(true);
    std::filesystem::create_directories(dir / "sons");
    std::filesystem::create_directories(dir / "in");
    std::filesystem::create_directories(dir / "fixtures");
    oldSound = test::MakeHouseFile(dir, "sons/0001234.s48", 480);
    oldBytes = ReadFile(oldSound);
    newHouse = test::MakeHouseFile(dir, "fixtures/new.s48", 2400);
    source = dir / "in/producteur.mp3";
    WriteFile(source, "not read by the stand-ins");
  }
  ConverterDriver Driver(const std::string& converter) {
    return ConverterDriver({log, clock, events, prompt}, converter);
  }
  bool Logged(const std::string& text) const {
    const auto& lines = log.fileBuffer();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
  // The song keeps its old sound, and nothing else is left beside it.
  void ExpectOldSoundWhole() {
    EXPECT_EQ(ReadFile(oldSound), oldBytes);
    EXPECT_EQ(test::FolderEntries(dir / "sons"), std::vector<std::string>{"0001234.s48"});
  }

  test::TempDir dir;
  ManualClock clock;
  ManualEventLoop events;
  ScriptedPrompt prompt;
  TraceLogger log{clock};
  std::string oldSound, oldBytes, newHouse, source;
};

TEST_F(DriverTest, ConversionReplacesTheTargetAndPassesHostileNamesIntact) {
  // Blanks, quotes, $, ;, accents and a newline: one argument each, as given.
  const std::string hostile = dir / "in/Le \"best\" $HOME; d'été\n`x`.wav";
  WriteFile(hostile, "x");
  const std::string converter = test::CopyingStandIn(dir, newHouse);
  ConverterDriver driver = Driver(converter);
  std::string told;
  driver.onTargetInUse = [&](const std::string& t) { told = t; };
  ConversionRequest r = HouseFormatRequest(hostile, oldSound);
  ASSERT_TRUE(driver.ConvertSon(r, true)) << driver.lastError();
  EXPECT_EQ(ReadFile(oldSound), ReadFile(newHouse));
  EXPECT_EQ(told, oldSound);
  // The empty error file is removed with the temporary name.
  EXPECT_EQ(test::FolderEntries(dir / "sons"), std::vector<std::string>{"0001234.s48"});
  const auto argv = test::StandInArguments(converter);
  ASSERT_GE(argv.size(), 3u);
  EXPECT_EQ(argv[0], "-infile=" + hostile);
  EXPECT_EQ(argv[1].rfind("-outfile=" + oldSound + ".part", 0), 0u);
  EXPECT_EQ(argv[2], "-errorfile=" + dir / "sons/0001234.s48_Err_Convert.Log");
  EXPECT_EQ(std::vector<std::string>(argv.begin() + 3, argv.end()),
            (std::vector<std::string>{"-convert_to=mp2", "-s=48000", "-b=256", "-c=2", "--managed"}));
  EXPECT_TRUE(Logged("Convert: Target file found: " + oldSound));
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(DriverTest, HouseSourceGoesThroughAnMp2CopyOutsideTheSoundFolder) {
  const std::string converter = test::CopyingStandIn(dir, newHouse);
  ConversionRequest r = HouseFormatRequest(newHouse, dir / "sons/0009999.s48");
  ASSERT_TRUE(Driver(converter).ConvertSon(r, false));
  const auto argv = test::StandInArguments(converter);
  const std::string in = argv[0].substr(std::string("-infile=").size());
  EXPECT_EQ(EclateRepFicExt(in).extension, ".mp2");
  EXPECT_NE(ParentFolder(in), dir / "sons/");
  EXPECT_FALSE(File_Exist(in));  // removed at the end
}

// Every way a converter can fail: the song keeps its old sound, no partial
// or error file stays in the sound folder, the log and the message say why.
TEST_F(DriverTest, FailuresKeepTheOldSound) {
  struct Case {
    const char* name;
    std::string body;
    const char* logged;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"exit-3", "head -c 1000 '" + newHouse + "' > \"$out\"; exit 3", "Err: Convert (V13/V14): Exit code: 3",
       "Le convertisseur a échoué (code 3)"},
      {"error-file", "cp '" + newHouse + "' \"$out\"; printf 'Format non reconnu\\nligne 2' > \"$err\"",
       "Err: Convert (V13/V14): Format non reconnu ligne 2", "Erreur de conversion: Format non reconnu"},
      {"killed", "head -c 20000 '" + newHouse + "' > \"$out\"; kill -9 $$", "Exit code: 137",
       "arrêté avant la fin (signal 9)"},
      // Ends "well" but its output stops in the middle of a frame.
      {"cut-output", "head -c 20000 '" + newHouse + "' > \"$out\"", "Err: Convert: Fichier converti non valide",
       "Fichier converti non valide"},
      {"no-output", ": > \"$err\"", "Err: Convert: Impossible de trouver le fichier temporaire",
       "Impossible de trouver le fichier temporaire"},
      {"text-output", "echo 'ceci est du texte' > \"$out\"", "Fichier converti non valide",
       "Fichier converti non valide"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConverterDriver driver = Driver(test::WriteStandIn(dir, c.name, c.body));
    ConversionRequest r = HouseFormatRequest(source, oldSound);
    prompt.shown.clear();
    EXPECT_FALSE(driver.ConvertSon(r, true));
    ExpectOldSoundWhole();
    EXPECT_TRUE(Logged(c.logged));
    EXPECT_TRUE(Logged("Err: Convert: " + source + " to " + oldSound));
    EXPECT_NE(driver.lastError().find(c.message), std::string::npos) << driver.lastError();
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].icon, Icon::Critical);
  }
}

TEST_F(DriverTest, FullDiskWhileConvertingKeepsTheOldSound) {
  ConverterDriver driver = Driver(test::CopyingStandIn(dir, newHouse));
  ConversionRequest r = HouseFormatRequest(source, oldSound);
  bool ok = true;
  {
    // The limit passes to the converter: its copy stops at 4096 bytes.
    test::FileSizeLimit limit(4096);
    ok = driver.ConvertSon(r, false);
  }
  EXPECT_FALSE(ok);
  ExpectOldSoundWhole();
}

TEST_F(DriverTest, MissingConverterIsSaid) {
  ConverterDriver driver = Driver(dir / "nowhere/sonoteka-convert");
  bool commandLine = true;
  std::string path;
  EXPECT_FALSE(driver.ConvertSonDetermineVersion(commandLine, path, true));
  EXPECT_FALSE(commandLine);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "dBPowerAmp n'est pas installé sur ce poste. Le Converter ne peut fonctionner.");
  ConversionRequest r = HouseFormatRequest(source, oldSound);
  EXPECT_FALSE(driver.ConvertSon(r, false));
  EXPECT_EQ(driver.lastError(), "dBPowerAmp n'est pas installé sur ce poste");
  EXPECT_TRUE(Logged("Err: Convert: dBPowerAmp n'est pas installé sur ce poste"));
  ExpectOldSoundWhole();
  r.target = "  ";
  EXPECT_FALSE(driver.ConvertSon(r, false));
  EXPECT_EQ(driver.lastError(), "Pas de nom de fichier cible");
}

TEST_F(DriverTest, ConverterThatNeverEndsIsAbandonedAndKilled) {
  // Each pump of the events moves the clock a minute on: the fifteen minutes
  // pass without waiting for them.
  events.onPump.push_back([this] { clock.advance(60000); });
  ConverterDriver driver = Driver(test::WriteStandIn(dir, "never", "echo partial > \"$out\"; exec sleep 600"));
  ConversionRequest r = HouseFormatRequest(source, oldSound);
  EXPECT_FALSE(driver.ConvertSon(r, false));
  EXPECT_TRUE(Logged("Err: AttenteFinProcessusExterne: Too long waiting |Max: 900000 ms"));
  EXPECT_GE(events.pumps, 15);
  EXPECT_LE(events.pumps, 17);
  EXPECT_NE(driver.lastError().find("n'a pas fini"), std::string::npos);
  ExpectOldSoundWhole();
}

TEST_F(DriverTest, WaitReturnsTheExitCodeAndLetsEventsRun) {
  int64_t max = 0;  // no limit
  const pid_t pid = ExecuterProgrammeExterne({"/bin/sh", "-c", "sleep 0.05; exit 7"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(AttenteFinProcessusExterne(pid, max, clock, events, log), 7);
  EXPECT_GT(events.pumps, 0);
  int error = 0;
  EXPECT_EQ(ExecuterProgrammeExterne({dir / "missing"}, &error), -1);
  EXPECT_EQ(error, ENOENT);
}

TEST_F(DriverTest, WhichSoundsMustBeConverted) {
  ConverterDriver driver = Driver("");
  int ms = -1;
  EXPECT_FALSE(driver.FautIlConvertirLeSon(newHouse, ms));
  EXPECT_EQ(ms, audio::ScanMpegFile(newHouse).durationMs);
  EXPECT_GE(ms, 2400);
  // The same stream under another extension, cut short, empty or text: converted.
  const std::string asMp3 = dir / "in/same.mp3", cut = dir / "in/cut.mp2", empty = dir / "in/empty.s48",
                    text = dir / "in/text.s48";
  std::filesystem::copy_file(newHouse, asMp3);
  WriteFile(cut, ReadFile(newHouse).substr(0, 768 * 10 + 100));
  WriteFile(empty, "");
  WriteFile(text, std::string(4000, 'a'));
  for (const auto& f : {asMp3, cut, empty, text}) EXPECT_TRUE(driver.FautIlConvertirLeSon(f, ms)) << f;
  EXPECT_TRUE(driver.FautIlConvertirLeSon(dir / "in/absent.s48", ms));
  EXPECT_EQ(ms, 0);
}

TEST(ConverterLocation, RegistryFolderElseBesideTheProgram) {
  test::TempDir dir;
  Registry reg(dir / "Registry.ini");
  EXPECT_EQ(FindConverterPath(reg, "/opt/sono/bin/sonoteka-cli"), "/opt/sono/bin/sonoteka-convert");
  reg.Reg_SetValue(kConverterRegistryRoot, kConverterRegistryKey, "Path", "/usr/lib/conv");
  EXPECT_EQ(FindConverterPath(reg, "/opt/sono/bin/sonoteka-cli"), "/usr/lib/conv/sonoteka-convert");
}

}  // namespace
}  // namespace sono::convert
