#include "convert/import_export.h"
#include "convert/reconversion.h"
#include "convert/save_as.h"
#include "convert/sound_append.h"
#include "convert/take_purge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "convert_test_support.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/text.h"

namespace sono::convert {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(ImportFilter, EntriesAndAllowedFormats) {
  const auto entries = FormatsSonsAutorises();
  ASSERT_EQ(entries.size(), 14u);
  EXPECT_EQ(entries[0].description.rfind("Formats autorisés (*.mp3;*.mp2;*.s48;", 0), 0u);
  EXPECT_NE(entries[0].patterns.find(";*.au;*.aif;*.w64;*.voc;*.sf;*.paf;*.pvf;*.caf;*.svx"), std::string::npos);
  EXPECT_EQ(entries[3].description, "WAV (*.wav)");
  EXPECT_EQ(entries[3].patterns, "*.wav;*.wave");
  EXPECT_EQ(entries.back().patterns, "*.*");
  EXPECT_EQ(FormatsSonsAutorisesFilter().substr(FormatsSonsAutorisesFilter().size() - 27),
            "Tous les fichiers (*.*)|*.*");
  for (const char* f : {"a.MP3", "b.wave", "c.m4a", "d.svx", "e.Flac", "/x y/f.voc"}) EXPECT_TRUE(FormatAutorise(f)) << f;
  for (const char* f : {"a.txt", "b", "c.mp", "d.wavx", ".mp3x"}) EXPECT_FALSE(FormatAutorise(f)) << f;
}

TEST(ExportNames, PatternsCleanedAndTitleAlone) {
  EXPECT_EQ(ExportFileName(ExportNamePattern::ArtistTitle, ExportFormat::Mp3At128, "AC/DC", "Back: in \"Black\"?"),
            "ACDC - Back in Black.mp3");
  EXPECT_EQ(ExportFileName(ExportNamePattern::TitleArtist, ExportFormat::Wave, " Zaz ", "Je veux|\n"),
            "Je veux - Zaz.wave");
  EXPECT_EQ(ExportFileName(ExportNamePattern::Title, ExportFormat::Mp2, "Ignored", "Été <2026>"), "Été 2026.mp2");
  const ConversionRequest mp3 = ExportRequest(ExportFormat::Mp3At256, "/s/a.s48", "/o/a.mp3");
  EXPECT_EQ(mp3.formatCode, 2);
  EXPECT_EQ(mp3.frequency, "44100");
  EXPECT_EQ(mp3.bitRate, "256");
  EXPECT_EQ(ExportRequest(ExportFormat::Mp3At128, "a", "b").bitRate, "128");
  EXPECT_EQ(ExportRequest(ExportFormat::Wave, "a", "b").formatCode, 3);
}

TEST(TemporarySounds, OlderThanTenDaysAreDeleted) {
  test::TempDir dir;
  ManualClock clock;
  TraceLogger log(clock);
  ScriptedPrompt prompt;
  // Now: 2026-03-14 09:30:00; the limit is 2026-03-04-09-30-00.
  for (const char* n : {"2026-03-04-09-29-59.wav", "2026-03-04-09-30-00.wav", "2026-03-13-10-00-00.wav",
                        ".2020-hidden", "zzz.wav"})
    WriteFile(dir / n, "x");
  std::filesystem::create_directories(dir / "2000-01-01-sub");
  const int n = PurgerSonsTemporaires(log, prompt, dir.path(), clock.now(), true);
  EXPECT_EQ(n, 2);
  auto left = test::FolderEntries(dir.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"2000-01-01-sub", "2026-03-04-09-30-00.wav", "2026-03-13-10-00-00.wav",
                                            "zzz.wav"}));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Suppression des sons temporaires terminée.");
  WriteFile(dir / "2000-01-01.wav", "x");
  EXPECT_EQ(PurgerSonsTemporaires(log, prompt, dir.path(), clock.now(), false, true), 0);  // stopping
  EXPECT_TRUE(File_Exist(dir / "2000-01-01.wav"));
}

// Takes whose name's date is more than 45 days back; nothing else of the
// folder, whatever its name starts with.
TEST(OldTakes, OnlyTakesOlderThanFortyFiveDaysAreDeleted) {
  test::TempDir dir;
  ManualClock clock;  // 2026-03-14: the limit is 2026-01-28
  TraceLogger log(clock);
  const std::vector<std::string> gone = {"2026-01-27-23-59-59.wav", "2025-12-01-10-00-00_2.s48",
                                         "2026-01-20-08-00-00.S48"};
  const std::vector<std::string> kept = {"2026-01-28-00-00-00.wav", "2026-03-13-10-00-00.s48",
                                         "2026-01-01-10-00-00.mp2", "2026-01-01-notes.wav",
                                         "2026-01-01-10-00-00_x.wav", "00001234.s48", "2020-01-01-10-00-00"};
  for (const auto& n : gone) WriteFile(dir / n, "x");
  for (const auto& n : kept) WriteFile(dir / n, "x");
  std::filesystem::create_directories(dir / "2000-01-01-00-00-00.wav");  // a folder
  EXPECT_EQ(PurgeOldTakes(log, dir.path(), clock.now()), 3);
  auto left = test::FolderEntries(dir.path());
  std::sort(left.begin(), left.end());
  auto expected = kept;
  expected.push_back("2000-01-01-00-00-00.wav");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_EQ(PurgeOldTakes(log, dir / "absent", clock.now()), 0);
}

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log.setSetupLoaded(true);
    for (const char* d : {"sons", "in", "fixtures"}) std::filesystem::create_directories(dir / d);
    target = test::MakeHouseFile(dir, "sons/00000007.s48", 480);
    oldBytes = ReadFile(target);
    house = test::MakeHouseFile(dir, "in/maison.s48", 1200);
    converted = test::MakeHouseFile(dir, "fixtures/converted.s48", 2400);
  }
  ImportResult Import(const std::string& file, HouseFileChoice choice, const std::string& converter,
                      ExistingSoundChoice existing = ExistingSoundChoice::Replace) {
    ConverterDriver driver({log, clock, events, prompt}, converter);
    SoundImport import({log, clock, events, prompt}, driver);
    import.onSoundPlaced = [&](const std::string& code, const std::string& sound) { placed.push_back(code + sound); };
    import.deleteSteps = [&](const std::string& code) {
      stepsDeleted.push_back(code);
      return stepsDeletable;
    };
    return import.ImporterUnSon(file, "00000007", target, choice, existing);
  }
  bool Logged(const std::string& text) const {
    for (const auto& l : log.fileBuffer())
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
  test::TempDir dir;
  ManualClock clock;
  ManualEventLoop events;
  ScriptedPrompt prompt;
  TraceLogger log{clock};
  std::string target, oldBytes, house, converted;
  std::vector<std::string> placed, stepsDeleted;
  bool stepsDeletable = true;
};

TEST_F(ImportTest, HouseFilesAreCopiedOrConvertedAsTheUserChooses) {
  const std::string converter = test::CopyingStandIn(dir, converted);
  // Asked: No imports it as it is.
  prompt.answers = {Answer::No};
  ImportResult r = Import(house, HouseFileChoice::Ask, converter);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_FALSE(r.converted);
  EXPECT_EQ(ReadFile(target), ReadFile(house));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_NE(prompt.shown[0].text.find("mp2, 48000 Hz, 256 KBits/s, Stéréo"), std::string::npos);
  EXPECT_EQ(placed, std::vector<std::string>{"00000007" + target});
  // Yes converts it all the same.
  prompt.answers = {Answer::Yes};
  r = Import(house, HouseFileChoice::Ask, converter);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(r.converted);
  EXPECT_EQ(ReadFile(target), ReadFile(converted));
  // Cancel changes nothing and tells nobody.
  prompt.answers = {Answer::Cancel};
  r = Import(house, HouseFileChoice::Ask, converter);
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(ReadFile(target), ReadFile(converted));
  EXPECT_EQ(placed.size(), 2u);
  // Other files go to the converter without a question.
  test::WriteFile(dir / "in/autre.flac", "x");
  prompt.shown.clear();
  r = Import(dir / "in/autre.flac", HouseFileChoice::AsIs, converter);
  EXPECT_TRUE(r.ok && r.converted);
  EXPECT_TRUE(prompt.shown.empty());
  // Every replaced sound lost its steps, once in place; a cancel none.
  EXPECT_EQ(stepsDeleted.size(), placed.size());
  EXPECT_FALSE(r.stepsKept);
  stepsDeletable = false;
  r = Import(dir / "in/autre.flac", HouseFileChoice::AsIs, converter);
  EXPECT_TRUE(r.ok && r.stepsKept);
}

// Append: the file converted, its frames after the sound's; the question
// when the editor holds the sound; any failure leaves the sound as it was.
TEST_F(ImportTest, AppendPutsTheConvertedFramesAfterTheSound) {
  const std::string converter = test::CopyingStandIn(dir, converted);
  WriteFile(dir / "in/suite.flac", "x");
  prompt.answers = {Answer::Cancel};
  ImportResult r = Import(dir / "in/suite.flac", HouseFileChoice::AsIs, converter, ExistingSoundChoice::Ask);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(ReadFile(target), oldBytes);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_NE(prompt.shown[0].text.find("Un son existe déjà dans l'éditeur des Pointeurs."), std::string::npos);

  prompt.answers = {Answer::No};  // "Ajouter le fichier à la fin du son existant"
  r = Import(dir / "in/suite.flac", HouseFileChoice::AsIs, converter, ExistingSoundChoice::Ask);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(r.appended);
  EXPECT_EQ(ReadFile(target), oldBytes + ReadFile(converted));
  long long ms = 0;
  EXPECT_TRUE(WholeHouseSound(target, ms));
  EXPECT_EQ(ms, 480 + 2400);
  EXPECT_EQ(placed, std::vector<std::string>{"00000007" + target});
  EXPECT_TRUE(Logged("Question: Que voulez-vous faire ? |Reponse: Ajouter à la fin du son existant"));
  EXPECT_FALSE(File_Exist(AppendConversionFile("00000007")));
  EXPECT_TRUE(stepsDeleted.empty());  // the old sound is still there, and its steps with it
  const std::string appended = ReadFile(target);

  // A failed conversion, an existing sound that is not whole: nothing changes.
  const std::string failing = test::WriteStandIn(dir, "fails", "echo 'Fichier illisible' > \"$err\"; exit 1");
  r = Import(dir / "in/suite.flac", HouseFileChoice::AsIs, failing, ExistingSoundChoice::Append);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(ReadFile(target), appended);
  EXPECT_FALSE(File_Exist(AppendConversionFile("00000007")));
  WriteFile(target, appended.substr(0, appended.size() - 100));  // cut last frame
  r = Import(dir / "in/suite.flac", HouseFileChoice::AsIs, converter, ExistingSoundChoice::Append);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "Le son existant n'est pas un son entier au format maison: " + target);
  EXPECT_EQ(ReadFile(target), appended.substr(0, appended.size() - 100));
  File_Delete(target);
  r = Import(dir / "in/suite.flac", HouseFileChoice::AsIs, converter, ExistingSoundChoice::Append);
  EXPECT_EQ(r.message, "Le morceau n'a pas de son auquel ajouter le fichier: " + target);
  EXPECT_EQ(placed.size(), 1u);
}

TEST_F(ImportTest, AppendOnAFullDiskLeavesTheSoundWhole) {
  {
    test::FileSizeLimit limit(oldBytes.size() + 10000);
    const std::string error = AppendHouseSound(target, converted);
    EXPECT_EQ(error, "Impossible d'écrire le son: " + target + " (disque plein)");
  }
  EXPECT_EQ(ReadFile(target), oldBytes);
  EXPECT_EQ(test::FolderEntries(dir / "sons"), std::vector<std::string>{"00000007.s48"});
  // A tag before the added frames is left out.
  WriteFile(dir / "in/tagged.s48", std::string("ID3\x03\x00\x00\x00\x00\x00\x0a", 10) + std::string(10, '\0') +
                                      ReadFile(converted));
  EXPECT_EQ(AppendHouseSound(target, dir / "in/tagged.s48"), "");
  EXPECT_EQ(ReadFile(target), oldBytes + ReadFile(converted));
}

TEST_F(ImportTest, FailuresLeaveTheSongsSoundAndTellNobody) {
  const std::string failing = test::WriteStandIn(dir, "fails", "echo 'Fichier illisible' > \"$err\"; exit 1");
  test::WriteFile(dir / "in/texte.mp3", "ceci n'est pas un son");
  ImportResult r = Import(dir / "in/texte.mp3", HouseFileChoice::AsIs, failing);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "Erreur de conversion: Fichier illisible");
  r = Import(dir / "in/absent.mp3", HouseFileChoice::AsIs, failing);
  EXPECT_EQ(r.message, "Impossible de trouver le fichier: " + dir / "in/absent.mp3");
  r = Import(target, HouseFileChoice::AsIs, failing);  // the song's own sound
  EXPECT_FALSE(r.ok);
  // A copy that cannot be written (full disk) keeps the old sound too.
  {
    test::FileSizeLimit limit(4096);
    r = Import(house, HouseFileChoice::AsIs, failing);
  }
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message.rfind("Impossible de copier le fichier:\r\n", 0), 0u);
  EXPECT_EQ(ReadFile(target), oldBytes);
  EXPECT_EQ(test::FolderEntries(dir / "sons"), std::vector<std::string>{"00000007.s48"});
  EXPECT_TRUE(placed.empty());
}

TEST_F(ImportTest, ExportCopiesHouseFormatAndConvertsTheRest) {
  const std::string converter = test::CopyingStandIn(dir, converted);
  ConverterDriver driver({log, clock, events, prompt}, converter);
  std::filesystem::create_directories(dir / "out");
  ExportResult r = ExporterUnSon({log, clock, events, prompt}, driver, target, dir / "out", ExportNamePattern::ArtistTitle,
                                 ExportFormat::Mp2, "Zaz", "Je veux");
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.file, dir / "out/Zaz - Je veux.mp2");
  EXPECT_EQ(r.message, "Fichier son exporté:\r\n" + r.file);
  EXPECT_EQ(ReadFile(r.file), oldBytes);
  r = ExporterUnSon({log, clock, events, prompt}, driver, target, dir / "out", ExportNamePattern::Title,
                    ExportFormat::Mp3At128, "Zaz", "Je veux");
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.file, dir / "out/Je veux.mp3");
  const auto argv = test::StandInArguments(converter);
  EXPECT_NE(std::find(argv.begin(), argv.end(), "-convert_to=mp3 (Lame)"), argv.end());
  EXPECT_NE(std::find(argv.begin(), argv.end(), "-b=128"), argv.end());
  // No folder to write in: said, nothing written.
  r = ExporterUnSon({log, clock, events, prompt}, driver, target, dir / "nowhere", ExportNamePattern::Title,
                    ExportFormat::Mp2, "", "X");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "Impossible de créer le fichier:\r\n" + dir / "nowhere/X.mp2");
}


// Save as: the format from the extension, an existing file replaced only
// when the user says so and only by a whole new one, .wma refused.
TEST_F(ImportTest, SaveFileAsConvertsByExtensionAndKeepsAnExistingFileOnFailure) {
  const std::string converter = test::CopyingStandIn(dir, converted);
  ConverterDriver driver({log, clock, events, prompt}, converter);
  std::filesystem::create_directories(dir / "out");
  BroadcastTags tags;
  tags.title = "Je veux";
  tags.intro = 1200;
  SaveAsResult r = SaveFileAs({log, clock, events, prompt}, driver, target, dir / "out/copie.WAV", tags);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.message, "Fichier '" + dir / "out/copie.WAV" + "' créé.");
  auto argv = test::StandInArguments(converter);
  for (const char* arg : {"-convert_to=wave", "-bits=16", "-freq=48000", "-cue_intro=1200", "-title=Je veux"})
    EXPECT_NE(std::find(argv.begin(), argv.end(), arg), argv.end()) << arg;
  ASSERT_TRUE(SaveFileAs({log, clock, events, prompt}, driver, target, dir / "out/copie.ogg", tags).ok);
  argv = test::StandInArguments(converter);
  EXPECT_NE(std::find(argv.begin(), argv.end(), "-q=0.6"), argv.end());
  EXPECT_EQ(std::find(argv.begin(), argv.end(), "-cue_intro=1200"), argv.end());  // only a WAV carries them
  ASSERT_TRUE(SaveFileAs({log, clock, events, prompt}, driver, target, dir / "out/copie.mp3", tags).ok);
  argv = test::StandInArguments(converter);
  EXPECT_NE(std::find(argv.begin(), argv.end(), "-b=256"), argv.end());
  EXPECT_TRUE(prompt.shown.empty());  // no file was there yet

  // An existing file: No keeps it, a failing conversion after Yes too.
  const std::string existing = ReadFile(dir / "out/copie.mp3");
  prompt.answers = {Answer::No};
  r = SaveFileAs({log, clock, events, prompt}, driver, target, dir / "out/copie.mp3", tags);
  EXPECT_TRUE(r.cancelled);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous remplacer le fichier existant ?");
  ConverterDriver failing({log, clock, events, prompt},
                          test::WriteStandIn(dir, "killed", "head -c 1000 '" + converted + "' > \"$out\"; kill -9 $$"));
  prompt.answers = {Answer::Yes};
  r = SaveFileAs({log, clock, events, prompt}, failing, target, dir / "out/copie.mp3", tags);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message.rfind("Problème lors de la conversion du son.", 0), 0u) << r.message;
  EXPECT_EQ(ReadFile(dir / "out/copie.mp3"), existing);
  auto left = test::FolderEntries(dir / "out");
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"copie.WAV", "copie.mp3", "copie.ogg"}));

  // Refused before any conversion: .wma, an unknown extension, the sound itself.
  std::filesystem::remove(converter + ".args");
  r = SaveFileAs({log, clock, events, prompt}, driver, target, dir / "out/copie.wma", tags);
  EXPECT_NE(r.message.find("Windows Media"), std::string::npos) << r.message;
  EXPECT_FALSE(SaveFileAs({log, clock, events, prompt}, driver, target, dir / "out/copie.flac", tags).ok);
  EXPECT_FALSE(SaveFileAs({log, clock, events, prompt}, driver, dir / "sons/absent.s48", dir / "out/a.mp2", tags).ok);
  const std::string mp2Sound = dir / "sons/son.mp2";
  std::filesystem::copy_file(target, mp2Sound);
  r = SaveFileAs({log, clock, events, prompt}, driver, mp2Sound, dir / "sons/./son.mp2", tags);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(ReadFile(mp2Sound), oldBytes);
  EXPECT_FALSE(File_Exist(converter + ".args"));  // the converter never ran
  EXPECT_FALSE(File_Exist(dir / "out/copie.wma"));
}


// Reconversion: the sound converted through "Convert.mp2" of the local
// folder and put in place; a No, a missing sound, a converter killed
// halfway or a full disk leave the old sound byte for byte and nothing
// beside it nor in the local folder.
TEST_F(ImportTest, ReconversionReplacesTheSoundOnlyWhenWhole) {
  const std::string local = dir / "local/";
  const auto reconvert = [&](const std::string& converter, bool ask = false) {
    ConverterDriver driver({log, clock, events, prompt}, converter);
    return ReconvertirSon({log, clock, events, prompt}, driver, target, local, ask);
  };
  const auto untouched = [&] {
    EXPECT_EQ(ReadFile(target), oldBytes);
    EXPECT_EQ(test::FolderEntries(dir / "sons"), std::vector<std::string>{"00000007.s48"});
    if (Folder_Exist(local)) {
      EXPECT_TRUE(test::FolderEntries(local).empty());
    }
  };
  prompt.answers = {Answer::No};
  ReconversionResult r = reconvert(test::CopyingStandIn(dir, converted), true);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(prompt.shown.at(0).text, "Voulez-vous reconvertir le fichier son ?");
  untouched();

  r = reconvert(test::WriteStandIn(dir, "killed", "head -c 1000 '" + converted + "' > \"$out\"; kill -9 $$"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message.rfind("Problème lors de la conversion du son.", 0), 0u) << r.message;
  untouched();
  {
    // The converter writes its output, then the disk is full for the
    // sound's replacement (the source's 15 kB fit, the new 77 kB do not).
    test::FileSizeLimit limit(20000);
    r = reconvert(test::WriteStandIn(dir, "unlimited", "ulimit -f unlimited; cp '" + converted + "' \"$out\""));
  }
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "Impossible de remplacer le fichier son: " + target + " (disque plein)");
  untouched();

  r = reconvert(test::CopyingStandIn(dir, converted));
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(ReadFile(target), ReadFile(converted));
  EXPECT_EQ(test::FolderEntries(dir / "sons"), std::vector<std::string>{"00000007.s48"});
  EXPECT_TRUE(test::FolderEntries(local).empty());
  std::filesystem::remove(target);
  r = reconvert(test::CopyingStandIn(dir, converted));
  EXPECT_EQ(r.message, "Fichier son non trouvé: " + target);
}

}  // namespace
}  // namespace sono::convert
