// The sender end to end: real UDP listeners on loopback, the manual clock and
// scheduler (no real waits), the version records of a demo library.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/scheduler.h"
#include "library_fixture.h"
#include "udp_listener.h"
#include "notify/notifier.h"
#include "notify/version_refresh.h"

namespace sono::notify {
namespace {

using Listener = sono::test::UdpListener;

// Names as a resolver answers them, without the network: "studio.test" is
// the loopback, any other name does not exist.
bool TestLookup(const std::string& name, std::string& address, std::string& error) {
  if (name == "studio.test") {
    address = "127.0.0.1";
    return true;
  }
  error = "Name or service not known";
  return false;
}

class NotifierTest : public data::test::LibraryFixture {
 protected:
  NotifierTest() : scheduler(clock) {
    InsertEverywhere(data::kSongs, Song("00001234", "Chanson", 200));
    InsertEverywhere(data::kSongs, Song("JIN00007", "Jingle", 10));
    InsertEverywhere(data::kSongs, Song("PRE00001", "Prêt", 10));
    closedPort = sono::test::ClosedUdpPort();
    settingsFile = dir / "settings.ini";
    notifier = Make(dir.path());
  }
  std::unique_ptr<Notifier> Make(const std::string& journalFolder, HostResolver::Lookup lookup = TestLookup) {
    auto n = std::make_unique<Notifier>(NotifierPorts{clock, scheduler, log}, settingsFile, journalFolder, "poste",
                                        lookup);
    n->setLibrary(lib.get());
    n->random = [] { return 0.5; };
    n->attach();
    return n;
  }
  void Target(int row, const std::string& ip, std::array<std::string, 4> ports) {
    ASSERT_EQ(notifier->targets().SetValue(TargetField::Ip, row, ip), "");
    for (int i = 0; i < 4; ++i)
      ASSERT_EQ(notifier->targets().SetValue(static_cast<TargetField>(i + 1), row, ports[size_t(i)]), "");
  }
  // Advances the clock by `ms` in steps of `stepMs`, firing the timers.
  void Run(int ms, int stepMs = 8) {
    for (int t = 0; t < ms; t += stepMs) {
      clock.advance(stepMs);
      scheduler.runDue();
    }
  }
  static std::string Text(const std::string& code) { return DatagramText(code, 5001, "poste"); }

  ClockScheduler scheduler;
  std::string settingsFile;
  int closedPort = 0;
  std::unique_ptr<Notifier> notifier;
};

TEST(DatagramTest, TextIsByteExact) {
  EXPECT_EQ(DatagramText("00001234", 5001, "poste"), "<Info:Changed><Song:00001234><Rnd:5001><Computer:poste>");
  EXPECT_EQ(RandomTag(0.0), 1);
  EXPECT_EQ(RandomTag(0.99999), 10001);
  EXPECT_EQ(RandomTag(0.12344), 1235);
}

TEST_F(NotifierTest, ABurstOfEditsGivesOneDatagramPerPortTenSecondsAfterTheLast) {
  Listener a, c, other;
  Target(0, "127.0.0.1", {std::to_string(a.port()), "", std::to_string(c.port()), std::to_string(closedPort)});
  Target(3, "studio.test", {std::to_string(other.port()), "", "", ""});
  Target(5, "nowhere.test", {std::to_string(other.port()), "", "", ""});
  Target(6, "127.0.0.1", {"0", std::to_string(other.port()), "", ""});  // no Port A: nothing
  for (int edit = 0; edit < 3; ++edit) {
    ASSERT_TRUE(notifier->UDPAddSonEtMAJTimingSurVersion("00001234", "00001234", "", "Test:Edit"));
    Run(3000);
  }
  ASSERT_EQ(notifier->queue().size(), 1u);
  EXPECT_EQ(notifier->DisplayRows(), (std::vector<std::pair<std::string, std::string>>{{"09:30:16", "00001234"}}));
  notifier->resolver().WaitIdle();  // the names were asked for when the change was queued
  Run(6900);  // 9.9 s after the last edit: still waiting
  EXPECT_TRUE(a.Take().empty());
  Run(1200);
  const std::vector<std::string> one = {Text("00001234")};
  EXPECT_EQ(a.Take(), one);
  EXPECT_EQ(c.Take(), one) << "Port C of the same row";
  EXPECT_EQ(other.Take(), one) << "the resolved name only: not the unresolved one, not the row without Port A";
  EXPECT_TRUE(notifier->queue().empty());
  EXPECT_FALSE(notifier->DisplayVisible());
  EXPECT_TRUE(a.Take().empty()) << "sent once";
  const auto logged = Logged();
  auto has = [&](const std::string& line) { return std::find(logged.begin(), logged.end(), line) != logged.end(); };
  EXPECT_TRUE(has("00001234: Update Before Send UDP"));
  EXPECT_TRUE(has("UDP: " + Text("00001234")));
  EXPECT_TRUE(has("UDP: Send: " + Text("00001234") + " |Address:127.0.0.1:" + std::to_string(a.port()) +
                  " |Sub: Frm_MainBis:TimerUDP_Timer"));
  EXPECT_TRUE(has("UDP: SocketWrenchUDP.Resolve: HostName changed to HostAddress: studio.test to 127.0.0.1"));
  EXPECT_TRUE(has("Warning: UDP: SocketWrenchUDP.Resolve: Name or service not known |Host: nowhere.test"));
  EXPECT_TRUE(has("00001234: Update After Send UDP"));
}

TEST_F(NotifierTest, PortPausesAreSchedulerStepsAndTheQuitDrainSendsEverythingAtOnce) {
  Listener a, b;
  Target(0, "127.0.0.1", {std::to_string(a.port()), std::to_string(b.port()), "", ""});
  notifier->UDPAddSonEtMAJTimingSurVersion("00001234", "00001234", "", "Test");
  notifier->UDPAddSonEtMAJTimingSurVersion("JIN00007", "JIN00007", "", "Test");
  EXPECT_EQ(notifier->pendingCount(), 2);
  notifier->MakeFirstDue();
  EXPECT_EQ(notifier->queue().entries().front().code, "00001234");
  Run(1000, 1000);
  EXPECT_EQ(a.Take(), std::vector<std::string>{Text("00001234")});
  EXPECT_TRUE(b.Take().empty()) << "Port B waits for the 24 ms pause";
  EXPECT_TRUE(notifier->sending());
  Run(24, 24);
  EXPECT_EQ(b.Take(), std::vector<std::string>{Text("00001234")});
  Run(100);
  EXPECT_EQ(notifier->pendingCount(), 1) << "the second one is not due";
  notifier->accesVpn = true;
  notifier->MarkQuitRequested();
  Run(1000);
  EXPECT_EQ(notifier->pendingCount(), 1) << "a VPN workstation keeps its due times";
  notifier->accesVpn = false;
  Run(1100);
  EXPECT_EQ(notifier->pendingCount(), 0);
  EXPECT_EQ(a.Take(), std::vector<std::string>{Text("JIN00007")});
}

TEST_F(NotifierTest, BusyFlagsAndALocalCopyHoldEntriesBack) {
  Listener a;
  Target(0, "127.0.0.1", {std::to_string(a.port()), "", "", ""});
  notifier->UDPAddSonEtMAJTimingSurVersion("00001234", "00001234", "", "Test");
  notifier->copyingSoundFile = true;
  Run(12000, 500);
  EXPECT_TRUE(a.Take().empty());
  notifier->copyingSoundFile = false;
  notifier->cutCopyPasteRunning = true;
  Run(2000, 500);
  EXPECT_TRUE(a.Take().empty());
  notifier->cutCopyPasteRunning = false;
  notifier->localCopySongCode = [] { return std::string("00001234"); };
  Run(2000, 500);
  EXPECT_TRUE(a.Take().empty());
  notifier->localCopySongCode = nullptr;
  Run(1000, 500);
  EXPECT_EQ(a.Take().size(), 1u);
  notifier->closing = true;
  Run(1000, 500);
  EXPECT_FALSE(scheduler.isEnabled(kTimerUdp));
}

TEST_F(NotifierTest, VersionRecordsAreRefreshedOnEveryStationForTheNamedKinds) {
  Target(0, "127.0.0.1", {"9", "", "", ""});
  clock.setWall({2026, 5, 7, 8, 9, 10, 0});
  std::vector<std::string> told;
  notifier->onVersionRefreshed = [&](const std::string& code, const std::string& text) { told.push_back(code + text); };
  EXPECT_TRUE(notifier->UDPAddSonEtMAJTimingSurVersion("JIN00007", "JIN00007", "JIN00007", "Test"));
  EXPECT_TRUE(notifier->UDPAddSonEtMAJTimingSurVersion("PRE00001", "PRE00001", "PRE00001", "Test"));
  EXPECT_TRUE(notifier->UDPAddSonEtMAJTimingSurVersion("00001234", "00001234", "", "Test")) << "no gate: no refresh";
  for (int station : {1, 2}) {
    const std::string jingle = Read(data::kSongs, station, "JIN00007");
    EXPECT_EQ(data::GetRaw(jingle, version::kDate), "20260507");
    EXPECT_EQ(data::GetRaw(jingle, version::kTime), "080910");
    EXPECT_EQ(data::GetRaw(jingle, version::kDateTimeText), "07/05/2026 08:09:10 ");
    EXPECT_EQ(data::GetRaw(Read(data::kSongs, station, "PRE00001"), version::kDate),
              data::GetRaw(Song("PRE00001", "Prêt", 10), version::kDate));
    EXPECT_EQ(data::GetRaw(Read(data::kSongs, station, "00001234"), version::kDate),
              data::GetRaw(Song("00001234", "Chanson", 200), version::kDate));
  }
  EXPECT_EQ(told, std::vector<std::string>{"JIN0000707/05/2026 08:09:10"});
  EXPECT_EQ(notifier->queue().size(), 3u) << "every change is queued, refreshed or not";
}

TEST_F(NotifierTest, NothingIsQueuedWithoutATarget) {
  EXPECT_FALSE(notifier->UDPAddSonEtMAJTimingSurVersion("JIN00007", "JIN00007", "JIN00007", "Test"));
  EXPECT_TRUE(notifier->queue().empty());
  EXPECT_FALSE(notifier->DisplayVisible());
  EXPECT_EQ(data::GetRaw(Read(data::kSongs, 1, "JIN00007"), version::kDate).substr(0, 4), "2026")
      << "the version records are refreshed all the same";
}

TEST_F(NotifierTest, ABulkQueueDrainsInOneTickByGroupsWithPauses) {
  Listener a, c;
  Target(0, "127.0.0.1", {std::to_string(a.port()), "", std::to_string(c.port()), ""});
  constexpr int kSongs = 300;
  for (int i = 0; i < kSongs; ++i) {
    const std::string code = std::to_string(10000000 + i);
    notifier->UDPAddSonEtMAJTimingSurVersion("", code, "", "Bulk");
  }
  Run(10000, 1000);
  std::set<std::string> atA, atC;
  auto collect = [&] {
    for (auto& d : a.Take()) atA.insert(d);
    for (auto& d : c.Take()) atC.insert(d);
  };
  collect();
  EXPECT_EQ(atA.size(), kDatagramsPerPause) << "the first group leaves at the tick";
  EXPECT_TRUE(atC.empty()) << "Port C after the pause";
  // Five groups, two ports each, a 24 ms pause between sends: a quarter of a second.
  int pauses = 0;
  for (; pauses < 30 && notifier->sending(); ++pauses) {
    Run(24, 24);
    collect();
  }
  EXPECT_EQ(pauses, 9);
  EXPECT_FALSE(notifier->sending());
  EXPECT_EQ(atA.size(), size_t(kSongs));
  EXPECT_EQ(atC, atA);
  EXPECT_TRUE(notifier->queue().empty());
  EXPECT_EQ(PendingQueue(dir.path()).size(), 0u) << "every sent group left the journal";
}

TEST_F(NotifierTest, AKilledProcessesPendingChangeIsSentOnceAfterTheRestart) {
  Listener a;
  Target(0, "127.0.0.1", {std::to_string(a.port()), "", "", ""});
  ASSERT_TRUE(notifier->SaveSettingsUDP());
  const pid_t child = ::fork();
  if (child == 0) {
    // The edit is queued, then the process dies before its datagram leaves.
    Notifier n(NotifierPorts{clock, scheduler, log}, settingsFile, dir.path(), "poste");
    n.InitSettingsUDP();
    n.UDPAddSonEtMAJTimingSurVersion("00001234", "00001234", "", "Test");
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  auto restarted = Make(dir.path());
  restarted->InitSettingsUDP();
  EXPECT_EQ(restarted->pendingCount(), 1);
  clock.advance(11000);
  Run(1000, 1000);
  Run(200);  // the pauses after Ports B to D: then the entry leaves the journal
  EXPECT_EQ(a.Take(), std::vector<std::string>{Text("00001234")});
  restarted.reset();
  auto again = Make(dir.path());
  again->InitSettingsUDP();
  EXPECT_EQ(again->pendingCount(), 0);
  Run(2000, 1000);
  EXPECT_TRUE(a.Take().empty()) << "sent once";
}

// A song this process holds, or another live process of the workstation
// holds through its marker, waits; released (or its holder killed, marker
// left behind), it is sent once.
TEST_F(NotifierTest, SongsHeldHereOrByAnotherLiveProcessWaitUntilReleased) {
  Listener a;
  Target(0, "127.0.0.1", {std::to_string(a.port()), "", "", ""});
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    HeldSongMarker marker(dir.path());
    const char ok = marker.Hold("00001234") ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  ASSERT_TRUE(notifier->HoldSong("JIN00007"));
  EXPECT_EQ(HeldByOtherProcesses(dir.path()), std::vector<std::string>{"00001234"}) << "not its own marker";
  notifier->UDPAddSonEtMAJTimingSurVersion("00001234", "00001234", "", "Test");
  notifier->UDPAddSonEtMAJTimingSurVersion("JIN00007", "JIN00007", "", "Test");
  Run(12000, 500);
  EXPECT_TRUE(a.Take().empty());
  EXPECT_EQ(notifier->heldPendingCount(), 2u);

  // Released here: sent; the other process's song still waits.
  ASSERT_TRUE(notifier->HoldSong(""));
  Run(1000, 500);
  EXPECT_EQ(a.Take(), std::vector<std::string>{Text("JIN00007")});
  EXPECT_EQ(notifier->heldPendingCount(), 1u);

  ::kill(holder, SIGKILL);
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
  EXPECT_TRUE(HeldByOtherProcesses(dir.path()).empty()) << "a dead process's marker holds nothing";
  Run(1000, 500);
  EXPECT_EQ(a.Take(), std::vector<std::string>{Text("00001234")});
  EXPECT_TRUE(notifier->queue().empty());
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace sono::notify
