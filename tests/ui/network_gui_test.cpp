// The network window from the Tools menu: every cell reads and writes its
// key, a refused value keeps the old one, unsaved edits are asked about;
// then a stored pointer reaches a real listener through the desktop's timer,
// and the quit waits for the queue.
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "core/ini.h"
#include "core/text.h"
#include "udp_listener.h"
#include "workstation_fixture.h"

namespace sono::ui {
namespace {

class NetworkGuiTest : public test::WorkstationFixture {
 protected:
  std::string settingsFile() const { return dir / "Settings/Vexa_Library/Vexa_Library.Ini"; }
  QAction* menuEntry() { return ws->window.findChild<QAction*>("MnuSetupReseau"); }
  // Opens the window from the menu and runs `work` in it (the window is modal).
  void InWindow(std::function<void(NetworkWindow&)> work) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      ASSERT_NE(ws->networkWindow(), nullptr);
      work(*ws->networkWindow());
      ran = true;
      if (ws->networkWindow() && ws->networkWindow()->isVisible()) ws->networkWindow()->reject();
    });
    menuEntry()->trigger();
    EXPECT_TRUE(ran);
  }
  static void Type(NetworkWindow& w, int row, int column, const QString& text) {
    w.table()->item(row, column)->setText(text);
  }
  void Tick(int ms, int step = 8) {
    for (int t = 0; t < ms; t += step) {
      clock.advance(step);
      ws->tick();
    }
  }
};

TEST_F(NetworkGuiTest, TheWindowEditsTheTargetsAndTheTimerSendsAStoredChange) {
  sono::test::WriteFile(settingsFile(), "[UDP]\nIP_07=playout\nPortA_07=5000\n");
  ASSERT_TRUE(ws->start());
  ASSERT_NE(menuEntry(), nullptr);
  sono::test::UdpListener listener;
  const QString port = QString::number(listener.port());

  InWindow([&](NetworkWindow& w) {
    EXPECT_EQ(w.table()->item(7, 0)->text(), "playout") << "read from the settings file";
    EXPECT_EQ(w.table()->item(7, 1)->text(), "5000");
    Type(w, 0, 0, " 127.0.0.1 ");
    EXPECT_EQ(w.table()->item(0, 0)->text(), "127.0.0.1");
    Type(w, 0, 1, port);
    Type(w, 0, 2, "70000");
    EXPECT_EQ(w.table()->item(0, 2)->text(), "") << "refused: the old value stays";
    ASSERT_FALSE(prompt.shown.empty());
    EXPECT_EQ(prompt.shown.back().icon, Icon::Exclamation);
    Type(w, 7, 0, "");
    prompt.answers = {Answer::Cancel};
    w.reject();
    EXPECT_TRUE(w.isVisible()) << "Cancel keeps the window open";
    EXPECT_EQ(prompt.shown.back().text, notify::kSaveNetworkQuestion);
    w.saveButton()->click();
  });
  EXPECT_EQ(LectureIni(settingsFile(), "UDP", "IP_00", "?"), "127.0.0.1");
  EXPECT_EQ(LectureIni(settingsFile(), "UDP", "PortA_00", "?"), port.toStdString());
  EXPECT_EQ(LectureIni(settingsFile(), "UDP", "PortB_00", "?"), "");
  EXPECT_EQ(LectureIni(settingsFile(), "UDP", "IP_07", "?"), "");

  // Edits dropped with No are not stored.
  InWindow([&](NetworkWindow& w) {
    Type(w, 1, 0, "10.0.0.9");
    prompt.answers = {Answer::No};
    w.reject();
    EXPECT_FALSE(w.isVisible());
  });
  EXPECT_EQ(LectureIni(settingsFile(), "UDP", "IP_01", "?"), "");

  // A pointer stored in the editor: one datagram ten seconds later.
  ASSERT_TRUE(ws->showFirstSoundedSong());
  editor::PointerEditor& editor = ws->editorPanel->editor();
  const std::string code = editor.sound.code;
  editor.ptx.pointersChanged = true;
  ASSERT_TRUE(editor.StorePointers());
  ASSERT_EQ(ws->notifier->queue().size(), 1u);
  EXPECT_FALSE(ws->pendingNotifications->isHidden()) << "the two lists show the queue";
  EXPECT_EQ(ws->pendingNotifications->codes()->item(0)->text().toStdString(), Cp1252ToUtf8(code));
  Tick(9000, 500);
  EXPECT_TRUE(listener.Take().empty());
  Tick(2000);
  const auto got = listener.Take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("<Info:Changed><Song:" + code + "><Rnd:", 0), 0u) << got[0];
  EXPECT_TRUE(ws->pendingNotifications->isHidden());

  // The quit with a notification waiting: it is sent during the short wait
  // (the desktop's timer fires while the quit waits).
  clock.onSleep = [this](int) { ws->tick(); };
  editor.ptx.pointersChanged = true;
  ASSERT_TRUE(editor.StorePointers());
  prompt.answers = {Answer::Yes};
  EXPECT_TRUE(ws->window.close());
  EXPECT_EQ(listener.Take().size(), 1u);
}

}  // namespace
}  // namespace sono::ui
