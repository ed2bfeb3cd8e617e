// The editor's local copies from the desktop: the sound taken local from
// the "Copie locale" menu, cut there with the keys and an intro stored while
// its change notification waits, given back to the server (and the notification then
// sent), and a behaviour option ticked into the settings file.
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <filesystem>
#include <unistd.h>

#include "core/ini.h"
#include "core/text.h"
#include "notify/held_songs.h"
#include "udp_listener.h"
#include "workstation_fixture.h"

namespace sono::ui {
namespace {

class LocalCopyGuiTest : public test::WorkstationFixture {
 protected:
  editor::LocalCopies& copies() { return ws->localCopies->copies(); }
};

TEST_F(LocalCopyGuiTest, TakeASoundLocalCutItThereAndGiveItBack) {
  sono::test::UdpListener playout;
  sono::test::WriteFile(dir / "Settings/Vexa_Library/Vexa_Library.Ini",
                        "[UDP]\nIP_00=127.0.0.1\nPortA_00=" + std::to_string(playout.port()) +
                            "\n[Comportement]\nRecopierSurServeur=1\n");
  ASSERT_NO_FATAL_FAILURE(StartOnFirstSong());
  // The behaviour and the local folder come from the site once it is loaded.
  EXPECT_TRUE(ws->localCopies->option(editor::LocalCopyOption::RecopierSurServeur)->isChecked());
  EXPECT_TRUE(copies().settings.on(editor::LocalCopyOption::RecopierSurServeur));
  const std::string server = ed().sound.soundFile;
  const std::string original = sono::test::ReadFile(server);
  // Nothing here changes the server's sound behind the copy: a comparison
  // dialog is a fault, said instead of waiting for a click.
  copies().taskDialog = [](const editor::TaskDialog& d) -> std::optional<int> {
    ADD_FAILURE() << "unexpected dialog: " << d.instruction << "\n" << d.content;
    return std::nullopt;
  };

  QMenu* menu = ws->window.findChild<QMenu*>("MnuPtxCopy");
  ASSERT_NE(menu, nullptr);
  QAction* take = ws->localCopies->entry(editor::CopyMenuEntry::CopyToLocal);
  QAction* giveBack = ws->localCopies->entry(editor::CopyMenuEntry::CopyToServerAndDelete);
  EXPECT_EQ(take->text(), "Recopier le son en &local...");
  emit menu->aboutToShow();
  EXPECT_TRUE(take->isEnabled());
  EXPECT_FALSE(giveBack->isEnabled());

  prompt.answers = {Answer::Yes};
  take->trigger();
  ASSERT_TRUE(copies().SonRecopieEnLocal) << copies().lastMessage;
  const std::string local = ed().sound.soundFile;
  EXPECT_EQ(local, ws->app.config().current().localFolder + "Sons/00000001.s48")
      << "never relative to the working directory, which other programs share";
  ASSERT_TRUE(sono::test::ReadFile(local) == original) << local << " differs from " << server;
  EXPECT_EQ(ws->window.statusBar()->currentMessage().toStdString(), local);
  emit menu->aboutToShow();
  EXPECT_FALSE(take->isEnabled());
  EXPECT_TRUE(giveBack->isEnabled());

  // Cut on the local copy: the server's sound stays, the change waits.
  QTest::mousePress(ws->editorPanel->strip(), Qt::LeftButton, {}, QPoint(100, 8));
  QTest::mouseMove(ws->editorPanel->strip(), QPoint(400, 8));
  QTest::mouseRelease(ws->editorPanel->strip(), Qt::LeftButton, {}, QPoint(400, 8));
  QTest::keyClick(&ws->window, Qt::Key_X, Qt::ControlModifier);
  const std::string edited = sono::test::ReadFile(local);
  ASSERT_LT(edited.size(), original.size());
  EXPECT_EQ(sono::test::ReadFile(server), original);
  // An intro stored meanwhile: its change waits while the sound is local.
  ASSERT_TRUE(ed().StripMenu(editor::StripMenuEntry::Intro));
  ASSERT_TRUE(ed().StorePointers());
  ASSERT_EQ(ws->notifier->pendingCount(), 1);
  Run(12000, 100);
  EXPECT_EQ(ws->notifier->pendingCount(), 1);  // held back while local
  EXPECT_TRUE(playout.Take().empty());

  prompt.answers = {Answer::Yes};
  prompt.shown.clear();
  giveBack->trigger();
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous recopier le son sur le serveur ?");
  EXPECT_FALSE(copies().SonRecopieEnLocal) << copies().lastMessage;
  EXPECT_EQ(sono::test::ReadFile(server), edited);
  EXPECT_FALSE(std::filesystem::exists(local));
  EXPECT_EQ(ed().sound.soundFile, server);
  Run(2000, 100);
  EXPECT_EQ(ws->notifier->pendingCount(), 0);  // told once back on the server
  const auto told = playout.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].rfind("<Info:Changed><Song:00000001>", 0), 0u) << told[0];

  // A behaviour option is written when ticked.
  QAction* verify = ws->localCopies->option(editor::LocalCopyOption::VerifierSonSurServeur);
  EXPECT_EQ(verify->text().remove('&'), "Vérifier le son sur le serveur pour le proposer s'il est différent du son en local");
  verify->trigger();
  EXPECT_EQ(LectureIni(ws->app.config().settingsFile(), "Comportement", "VerifierSonSurServeur", "0"), "1");
  EXPECT_TRUE(copies().settings.on(editor::LocalCopyOption::VerifierSonSurServeur));
}

// Over a slow link a take shows how far it is in the step window once it
// has lasted, and while the sound is local the other processes of the
// workstation find it held in this process's marker.
TEST_F(LocalCopyGuiTest, ASlowTakeShowsItsProgressAndTheSongIsHeldForTheOtherProcesses) {
  ASSERT_NO_FATAL_FAILURE(StartOnFirstSong());
  const int64_t size = static_cast<int64_t>(sono::test::ReadFile(ed().sound.soundFile).size());
  ASSERT_GT(size, 8 * static_cast<int64_t>(editor::kCopyBlockBytes));
  copies().copyOptions.bytesPerSecond = size / 2;  // two seconds by the manual clock
  std::vector<std::pair<int, std::string>> seen;   // percent copied, the step window's text
  copies().copyOptions.progress = [&](int64_t done, int64_t total) {
    if (total == size) seen.emplace_back(static_cast<int>(done * 100 / total), prompt.stepLabels.back());
    return true;
  };
  const std::string marker = dir / ("Settings/Vexa_Library/UDP_Held." + std::to_string(::getpid()));
  EXPECT_FALSE(std::filesystem::exists(marker));

  prompt.answers = {Answer::Yes};
  ws->localCopies->entry(editor::CopyMenuEntry::CopyToLocal)->trigger();
  ASSERT_TRUE(copies().SonRecopieEnLocal) << copies().lastMessage;
  ASSERT_GT(seen.size(), 8u);
  for (const auto& [percent, label] : seen) {
    SCOPED_TRACE(percent);
    // Before half a second (a quarter of the copy) only the step; then its percent.
    if (percent < 25) {
      EXPECT_EQ(label, "Recopie du son en local");
    } else if (percent > 26 && percent < 100) {
      EXPECT_EQ(label, "Recopie du son en local: " + std::to_string(percent) + " %");
    }
  }
  EXPECT_EQ(prompt.stepLabels.back(), "Recopie du son en local");
  EXPECT_EQ(sono::test::ReadFile(marker), "00000001\n");
  EXPECT_TRUE(notify::HeldByOtherProcesses(dir / "Settings/Vexa_Library/").empty()) << "its own marker";

  copies().copyOptions = {0, &clock, nullptr};
  prompt.answers = {Answer::Yes};
  emit ws->localCopies->menu()->aboutToShow();  // the entries follow the local state
  ws->localCopies->entry(editor::CopyMenuEntry::CopyToServerAndDelete)->trigger();
  EXPECT_FALSE(copies().SonRecopieEnLocal) << copies().lastMessage;
  EXPECT_FALSE(std::filesystem::exists(marker)) << "released once given back";
}

}  // namespace
}  // namespace sono::ui
