#include <gtest/gtest.h>

#include "core/manual_ports.h"
#include "core/tracelog.h"
#include "test_support.h"

namespace sono {
using test::Lines;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace {
class TraceLogTest : public ::testing::Test {
 protected:
  TraceLogTest() : clock({2026, 3, 14, 9, 30, 0, 0}, kUptime), log(clock) {
    LogHeaderInfo h;
    h.version = "1.2.3";
    h.programFolder = "/opt/sonoteka/";
    h.exeName = "Vexa_Sonoteka";
    h.productName = "Vexa_Sonoteka";
    h.computerName = "poste";
    h.activeTheme = "WinXP";
    h.operatingSystem = "Linux 6";
    h.idRadio = "7";
    h.firstStationName = "Radio Un";
    h.propertyGridVersion = "a";
    h.calendarVersion = "b";
    h.skinFrameworkVersion = "c";
    h.recorderVersion = "d";
    h.playerVersion = "e";
    log.setHeaderInfo(h);
    log.setFolders(dir / "logs/", dir / "data/");
    std::filesystem::create_directories(dir / "logs");
    std::filesystem::create_directories(dir / "data");
  }
  std::string today() const { return dir / "logs/20260314.Log"; }

  // 2 days, 3 hours, 4 minutes and 5.6 seconds since the machine started.
  static constexpr uint64_t kUptime = ((2ull * 24 + 3) * 60 + 4) * 60000 + 5600;
  TempDir dir;
  ManualClock clock;
  TraceLogger log;
};
}  // namespace

TEST_F(TraceLogTest, LineLayoutColumnsAndElapsedTime) {
  log.setSetupLoaded(true);
  log.TraceLog(1, 2, 12, "Bonjour");
  clock.advance(5);
  log.TraceLog(-1, -1, 3, "cinq ms plus tard");
  clock.advance(25);
  log.TraceLog(4, -1, 10, "trente ms après la première");
  clock.advance(12000);
  log.TraceLog(-1, -1, -1, "douze secondes");
  clock.advance(9999);
  log.TraceLog(0, -2, -2, "debug");
  clock.advance(21);
  log.TraceLog(-1, -1, -1, "  ::Texte avec deux-points  ");
  log.TraceLog(-1, -1, -1, "   ");  // blank: nothing at all
  const std::vector<std::string> expected = {
      "*9:30:00:000 :1:2:C:    :Bonjour",
      "09:30:00:005 : : :3:    :cinq ms plus tard",
      "09:30:00:030 :4: :A:  30:trente ms après la première",
      "09:30:12:030 : : : :xxxx:douze secondes",
      "09:30:22:029 :Debug:9999:debug",
      "09:30:22:050 : : : :  21:Texte avec deux-points",
  };
  EXPECT_EQ(log.fileBuffer(), expected);
  ASSERT_EQ(log.incidents().size(), expected.size());
  EXPECT_EQ(log.incidents()[0], "14/03 09:30:00:000 :1:2:C:    :Bonjour");  // no "*" on screen
  EXPECT_TRUE(log.checkIncidents());
}

// The frame counts characters, not bytes: "é" is one.
TEST_F(TraceLogTest, FramedLinesMatchTheMessageLength) {
  log.setSetupLoaded(true);
  log.TraceLogEncadre(-1, -1, -1, "Durée: 12 ms", '=');
  ASSERT_EQ(log.fileBuffer().size(), 3u);
  EXPECT_EQ(log.fileBuffer()[0].substr(25), "============");
  EXPECT_EQ(log.fileBuffer()[1].substr(25), "Durée: 12 ms");
  EXPECT_EQ(log.fileBuffer()[2].substr(25), "============");
}

TEST_F(TraceLogTest, LinesWaitForTheSettingsThenStopAtClosing) {
  log.TraceLog("avant un");
  log.TraceLog("avant deux");
  ASSERT_EQ(log.pending().size(), 2u);
  EXPECT_EQ(log.pending()[0][0], '*');
  EXPECT_TRUE(log.fileBuffer().empty());
  log.setSetupLoaded(true);
  log.TraceLog("après");
  EXPECT_TRUE(log.pending().empty());
  ASSERT_EQ(log.fileBuffer().size(), 3u);
  EXPECT_EQ(log.fileBuffer()[0].substr(25), "avant un");
  EXPECT_EQ(log.fileBuffer()[2].substr(25), "après");

  log.setClosing(true);
  log.TraceLog("pendant la fermeture");
  log.Flush();
  EXPECT_EQ(log.fileBuffer().size(), 3u);
  EXPECT_FALSE(test::Exists(today()));
  log.setClosing(false);
  log.setSetupLoaded(false);  // settings window unloaded
  log.TraceLog("après le déchargement");
  EXPECT_EQ(log.fileBuffer().size(), 3u);
}

TEST_F(TraceLogTest, OnScreenListEmptiesPast1001LinesAndHonoursShowOptions) {
  log.setSetupLoaded(true);
  TraceOptions hidden;
  hidden.showFlag = false;
  hidden.showLevel = -1;
  log.TraceLog(-1, -1, -1, "caché", hidden);
  EXPECT_TRUE(log.incidents().empty());
  for (int i = 0; i < 1001; ++i) log.TraceLog(-1, -1, -1, "ligne " + std::to_string(i));
  EXPECT_EQ(log.incidents().size(), 1001u);
  log.TraceLog("encore une");
  ASSERT_EQ(log.incidents().size(), 1u);
  EXPECT_NE(log.incidents()[0].find("encore une"), std::string::npos);
}

TEST_F(TraceLogTest, FileIsWrittenInBlocksOf200WithTheHeaderOnceADay) {
  log.setSetupLoaded(true);
  for (int i = 0; i < 199; ++i) log.TraceLog("ligne " + std::to_string(i));
  EXPECT_FALSE(test::Exists(today()));
  log.TraceLog("ligne 199");
  ASSERT_TRUE(test::Exists(today()));
  EXPECT_TRUE(log.fileBuffer().empty());

  const std::string lead = "==:==:==:====:=:=:=:";
  const std::string rule = lead + "===========================================";
  const std::vector<std::string> header = {
      rule,
      lead + "System started since 2 D 3 H 4 Min 5 Sec",
      lead + "App.Version: 1.2.3",
      lead + "App.ExeName: /opt/sonoteka/Vexa_Sonoteka.exe",
      lead + "App.ProductName: Vexa_Sonoteka",
      lead + "Computer.Name: poste",
      lead + "ActiveTheme: WinXP",
      lead + "Operating System: Linux 6",
      lead + "IdRadio: 7: Radio Un",
      rule,
      lead + "PropertyGrid.Version: a",
      lead + "Calendar.Version: b",
      lead + "SkinFramework.Version: c",
      lead + "asrecmms.Version: d",
      lead + "Amp3dj.Version: e",
      rule,
  };
  auto lines = Lines(ReadFile(today()));
  ASSERT_EQ(lines.size(), header.size() + 200);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 16), header);
  EXPECT_EQ(lines[16].substr(0, 1), "*");
  EXPECT_EQ(lines[16].substr(25), "ligne 0");
  EXPECT_NE(lines[17][0], '*');

  log.TraceLog("suite");
  log.Flush();
  lines = Lines(ReadFile(today()));
  ASSERT_EQ(lines.size(), header.size() + 201);  // no second header on the same day
  EXPECT_EQ(lines.back()[0], '*');                 // first line of the new block

  clock.advance(24LL * 3600 * 1000);
  log.TraceLog("lendemain");
  log.Flush();
  const auto next = Lines(ReadFile(dir / "logs/20260315.Log"));
  ASSERT_EQ(next.size(), header.size() + 1);
  EXPECT_EQ(next[0], rule);
  EXPECT_EQ(next[1], lead + "System started since 3 D 3 H 4 Min 5 Sec");
}

TEST_F(TraceLogTest, AFullDiskCutsNoLineAndEveryStartOfTheDayKeepsTheOneHeader) {
  log.setSetupLoaded(true);
  for (int i = 0; i < 50; ++i) log.TraceLog("ligne " + std::to_string(i));
  {
    test::FileSizeLimit full(1500);  // the disk fills up in the middle of the block
    log.Flush();
  }
  EXPECT_EQ(log.fileBuffer().size(), 50u);  // kept for the next write
  EXPECT_EQ(ReadFile(today()), "");         // nothing half-written stays
  log.Flush();
  // The program (or the command line) starts again the same day.
  TraceLogger second(clock);
  second.setHeaderInfo(log.headerInfo());
  second.setFolders(dir / "logs/", dir / "data/");
  second.setSetupLoaded(true);
  second.TraceLog("deuxième démarrage");
  second.Flush();
  const auto lines = Lines(ReadFile(today()));
  ASSERT_EQ(lines.size(), 16u + 50u + 1u);
  EXPECT_EQ(lines[1].substr(20), "System started since 2 D 3 H 4 Min 5 Sec");
  for (int i = 0; i < 50; ++i) EXPECT_EQ(lines[16 + i].substr(25), "ligne " + std::to_string(i));
  EXPECT_EQ(lines.back().substr(25), "deuxième démarrage");
}

TEST_F(TraceLogTest, PreviousDayAndNamedFilesAndForcedWrites) {
  log.setSetupLoaded(true);
  TraceOptions forced;
  forced.force = true;
  forced.fileName = "Special";
  log.TraceLog(-1, -1, -1, "tout de suite", forced);
  EXPECT_TRUE(log.fileBuffer().empty());
  EXPECT_NE(ReadFile(dir / "logs/Special.Log").find("tout de suite"), std::string::npos);

  std::vector<std::string> list = {"ligne d'hier"};
  log.TraceLogForce(list, "", true);
  const auto lines = Lines(ReadFile(dir / "logs/20260313.Log"));
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines.back(), "ligne d'hier");
  EXPECT_TRUE(list.empty());
}

TEST_F(TraceLogTest, OldLogsArePurgedOnceADayComparedAsText) {
  for (const char* name : {"20260127.Log", "20260128.Log", "notes.Log", "0001.Log",
                           "20250101.LOG", "20250101.txt"})
    WriteFile(dir / (std::string("logs/") + name), "x");
  log.setSetupLoaded(true);
  log.TraceLog("déclenche l'écriture");
  log.Flush();
  auto entries = test::FolderEntries(dir / "logs");
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"20250101.txt", "20260128.Log", "20260314.Log",
                                               "notes.Log"}));
  // Once a day only: an old file that appears later waits for tomorrow.
  WriteFile(dir / "logs/20200101.Log", "x");
  log.TraceLog("encore");
  log.Flush();
  EXPECT_TRUE(test::Exists(dir / "logs/20200101.Log"));
  clock.advance(24LL * 3600 * 1000);
  log.TraceLog("demain");
  log.Flush();
  EXPECT_FALSE(test::Exists(dir / "logs/20200101.Log"));
  EXPECT_FALSE(test::Exists(dir / "logs/20260128.Log"));  // now 46 days old
}

TEST_F(TraceLogTest, DeletionLogLine) {
  ASSERT_TRUE(log.LogDeletion(2, "00012345", "  Le Titre  "));
  clock.advance(61000);
  ASSERT_TRUE(log.LogDeletion(10, "JIN00001", ""));
  EXPECT_EQ(ReadFile(dir / "data/Delete_202603.Log"),
            "2026/03/14 09:30:00 |Station: 2 |Vexa_Sonoteka:1.2.3 |Computer: poste |SongId: "
            "00012345: Le Titre\n"
            "2026/03/14 09:31:01 |Station: 10 |Vexa_Sonoteka:1.2.3 |Computer: poste |SongId: "
            "JIN00001: \n");
}

TEST_F(TraceLogTest, UnwritableLogFolderIsReportedOnceAndLinesAreKept) {
  WriteFile(dir / "pas-un-dossier", "x");
  log.setFolders(dir / "pas-un-dossier/", dir / "data/");
  std::vector<std::string> reports;
  log.onWriteFailure = [&](const std::string& text) { reports.push_back(text); };
  log.setSetupLoaded(true);
  // The newest 10,000 lines are kept.
  for (int i = 0; i < 10250; ++i) log.TraceLog("ligne " + std::to_string(i));
  log.Flush();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("Err: Journal impossible à écrire: ", 0), 0u);
  EXPECT_EQ(log.fileBuffer().size(), 10000u);
  // The folder comes back: everything kept goes out, header first.
  log.setFolders(dir / "logs/", dir / "data/");
  log.Flush();
  const auto lines = Lines(ReadFile(today()));
  ASSERT_EQ(lines.size(), 16u + 10000u);
  EXPECT_EQ(lines[16].substr(25), "ligne 250");
  EXPECT_EQ(lines.back().substr(25), "ligne 10249");
}

TEST_F(TraceLogTest, LectureLogOpensTheChosenFileOrSaysItIsMissing) {
  ScriptedPrompt prompt;
  RecordingDesktop desktop;
  log.setSetupLoaded(true);
  log.TraceLog("à lire");
  prompt.folders.push_back(today());
  log.LectureLog("", prompt, desktop);
  EXPECT_EQ(prompt.pickedFrom.back(), dir / "logs/20260314.Log");
  ASSERT_EQ(desktop.documents.size(), 1u);  // the buffer was written first, so it exists
  EXPECT_EQ(desktop.documents[0], today());

  prompt.folders.push_back(dir / "data/Delete_202603.Log");
  log.LectureLog("Delete_", prompt, desktop);
  EXPECT_EQ(prompt.pickedFrom.back(), dir / "data/Delete_202603.Log");
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text.rfind("Fichier non trouvé:", 0), 0u);
  EXPECT_EQ(prompt.shown[0].icon, Icon::Exclamation);
  EXPECT_EQ(desktop.documents.size(), 1u);
}

}  // namespace sono
