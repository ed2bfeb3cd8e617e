#include "convert/conversion_queue.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "convert_test_support.h"
#include "core/files.h"
#include "core/manual_ports.h"
#include "core/scheduler.h"

namespace sono::convert {
namespace {

using test::ReadFile;

// The errors sheet names its second column for the explanation; the other
// two sheets share their headers.
TEST(ConversionQueueGrid, HeadersOfTheThreeSheets) {
  const auto first = QueueHeaders(QueueSheet::ToConvert);
  const auto errors = QueueHeaders(QueueSheet::Errors);
  EXPECT_EQ(first[1], "Fichier cible");
  EXPECT_EQ(errors[1], "Explication");
  EXPECT_EQ(errors[0], first[0]);
  EXPECT_EQ(QueueHeaders(QueueSheet::Converted), first);
  EXPECT_EQ(first[8], "Morceau");
  EXPECT_EQ(first[21], "Fichier cible local");
  EXPECT_EQ(std::string(kQueueSheetNames[2]), "Erreurs de conversion");
}

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log.setSetupLoaded(true);
    for (const char* d : {"sons", "in", "local", "fixtures"}) std::filesystem::create_directories(dir / d);
    converted = test::MakeHouseFile(dir, "fixtures/c.s48", 960);
    // Counts its runs: the queue must never start two at once.
    converter = test::WriteStandIn(dir, "conv", "echo run >> '" + dir / "runs" + "'\ncp '" + converted + "' \"$out\"");
    queue.attach(scheduler);
    queue.onSongConverted = [&](const std::string& code, const std::string& target, bool) {
      songs.push_back(code + "|" + target);
    };
    queue.onSoundReplaced = [&](const std::string& code) { replaced.push_back(code); };
    queue.recountArtists = [&] { ++artistRecounts; };
    queue.recountCategories = [&] { ++categoryRecounts; };
    queue.onPopup = [&](const std::string& text) { popups.push_back(text); };
    for (const char* f : {"in/a.mp3", "in/b.wav", "in/c.ogg"}) test::WriteFile(dir / f, "x");
  }
  ConversionRequest Request(int code = 1) {
    ConversionRequest r;
    r.formatCode = code;
    return r;
  }

  test::TempDir dir;
  ManualClock clock;
  ManualEventLoop events;
  ScriptedPrompt prompt;
  TraceLogger log{clock};
  ClockScheduler scheduler{clock};
  std::string converted, converter = "unset";
  ConverterDriver driver{{log, clock, events, prompt}, dir / "conv"};
  ConversionQueue queue{{log, clock, events, prompt}, driver};
  std::vector<std::string> songs, popups, replaced;
  int artistRecounts = 0, categoryRecounts = 0;
};

TEST_F(QueueTest, TimerConvertsEveryRowOnceAndSortsThemIntoSheets) {
  queue.AddToConvertListS48("00000007", dir / "in/a.mp3", dir / "sons/00000007.s48", "", "A:", Request());
  queue.AddToConvertListS48("JIN00001", dir / "in/b.wav", dir / "sons/JIN00001.s48", dir / "local/J.mp2", "B:",
                            Request());
  queue.AddToConvertListS48("00000008", dir / "in/c.ogg", dir / "sons/00000008.s48", "", "A:", Request(9));
  // The same source again: Yes replaces its row, No adds one.
  prompt.answers = {Answer::Yes};
  queue.AddToConvertListS48("00000009", dir / "in/a.mp3", dir / "sons/00000009.s48", "", "A:", Request());
  EXPECT_EQ(prompt.shown.at(0).title, "Doublon dans les fichiers à convertir");
  ASSERT_EQ(queue.pending(), 3);
  EXPECT_EQ(queue.sheet(QueueSheet::ToConvert)[0].cells(QueueSheet::ToConvert)[8], "00000009");
  // The timer fires while a conversion waits: it must not start another.
  events.onPump.push_back([&] {
    clock.advance(kTimerConvertMs);
    scheduler.runDue();
  });
  clock.advance(kTimerConvertMs);
  scheduler.runDue();

  EXPECT_EQ(queue.pending(), 0);
  EXPECT_EQ(test::Lines(ReadFile(dir / "runs")).size(), 2u);  // the bad format never reaches the converter
  ASSERT_EQ(queue.sheet(QueueSheet::Converted).size(), 2u);
  ASSERT_EQ(queue.sheet(QueueSheet::Errors).size(), 1u);
  const auto err = queue.sheet(QueueSheet::Errors)[0].cells(QueueSheet::Errors);
  EXPECT_EQ(err[1], "N° de format de conversion inconnu: 9");
  EXPECT_EQ(err[12], "N");
  EXPECT_EQ(ReadFile(dir / "sons/00000009.s48"), ReadFile(converted));
  EXPECT_EQ(ReadFile(dir / "sons/JIN00001.s48"), ReadFile(converted));
  EXPECT_FALSE(File_Exist(dir / "local/J.mp2"));  // copied to its target, then removed
  EXPECT_EQ(songs, (std::vector<std::string>{"00000009|" + dir / "sons/00000009.s48",
                                              "JIN00001|" + dir / "sons/JIN00001.s48"}));
  EXPECT_EQ(replaced, (std::vector<std::string>{"00000009", "JIN00001"}));
  EXPECT_EQ(artistRecounts, 1);
  EXPECT_EQ(categoryRecounts, 1);
  EXPECT_EQ(popups, std::vector<std::string>{"Nombre de conversion: 3, avec 1 erreur(s)\nConversion terminée"});
  // An empty queue does nothing on the next ticks.
  clock.advance(kTimerConvertMs);
  scheduler.runDue();
  EXPECT_EQ(popups.size(), 1u);
}

TEST_F(QueueTest, BadNamesFailedConversionsAndExports) {
  queue.AddToConvertListS48("00000007", dir / "in/a?.mp3", dir / "sons/00000007.s48", "", "A:", Request());
  queue.AddToConvertListS48("00000008", dir / "in/absent.mp3", dir / "sons/00000008.s48", "", "A:", Request());
  std::filesystem::create_directories(dir / "out");
  ConversionRequest mp3 = Request(2);
  queue.AddToConvertListS48("00000007", dir / "in/b.wav", dir / "out/x.mp3", "", "E:", mp3, true);
  queue.ConversionDesSons(true);
  ASSERT_EQ(queue.sheet(QueueSheet::Errors).size(), 2u);
  EXPECT_EQ(queue.sheet(QueueSheet::Errors)[0].explanation,
            "Le nom du fichier à convertir est incorrect:\r\n" + dir / "in/a?.mp3");
  EXPECT_EQ(queue.sheet(QueueSheet::Errors)[1].explanation, "Impossible de trouver le fichier: " + dir / "in/absent.mp3");
  EXPECT_EQ(prompt.shown.size(), 2u);  // each error said
  // The export is converted but writes nothing back to a song.
  EXPECT_TRUE(File_Exist(dir / "out/x.mp3"));
  EXPECT_TRUE(songs.empty());
  EXPECT_EQ(artistRecounts + categoryRecounts, 0);
  EXPECT_EQ(queue.sheet(QueueSheet::Converted)[0].cells(QueueSheet::Converted)[20], "O");
  EXPECT_FALSE(File_Exist(dir / "sons/00000008.s48"));
}

// An append row converts into its local file, adds it after the target's
// frames and removes it; the song is reloaded but its sound not "replaced".
TEST_F(QueueTest, AppendRowsAddToTheEndOfTheirTarget) {
  const std::string sound = test::MakeHouseFile(dir, "sons/00000007.s48", 480), before = ReadFile(sound);
  queue.AddToConvertListS48("00000007", dir / "in/a.mp3", sound, dir / "local/a.s48", "A:Append", Request(), false,
                            true);
  // A target that is no whole sound: the row fails, the target as it was.
  test::WriteFile(dir / "sons/00000008.s48", "pas un son");
  queue.AddToConvertListS48("00000008", dir / "in/b.wav", dir / "sons/00000008.s48", dir / "local/b.s48", "A:Append",
                            Request(), false, true);
  queue.ConversionDesSons(false);
  EXPECT_EQ(ReadFile(sound), before + ReadFile(converted));
  EXPECT_EQ(ReadFile(dir / "sons/00000008.s48"), "pas un son");
  EXPECT_FALSE(File_Exist(dir / "local/a.s48"));
  EXPECT_FALSE(File_Exist(dir / "local/b.s48"));
  ASSERT_EQ(queue.sheet(QueueSheet::Errors).size(), 1u);
  EXPECT_EQ(queue.sheet(QueueSheet::Errors)[0].explanation,
            "Le son existant n'est pas un son entier au format maison: " + dir / "sons/00000008.s48");
  EXPECT_EQ(songs, std::vector<std::string>{"00000007|" + sound});
  EXPECT_TRUE(replaced.empty());
}

}  // namespace
}  // namespace sono::convert
