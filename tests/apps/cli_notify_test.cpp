// sonoteka-cli's notification commands on a demo site: the targets set and
// refused as the network window does, a change queued by one process and
// sent by another (once), with real listeners on loopback.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "notify/held_songs.h"
#include "cli_site.h"
#include "udp_listener.h"

namespace sono::test {
namespace {

// The first code of a kind in a search's output.
std::string FirstCode(const std::string& out, const std::string& prefix) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return line.substr(0, line.find('\t'));
  return {};
}

TEST(CliNotify, TargetsAreCheckedAndAChangeIsSentOnceByTheNextRun) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(MakeDemoSite(home, {"--songs", "60"}));
  const std::string code = FirstCode(RunCli(home, {"search", "--kind", "jingles"}).out, "JIN");
  ASSERT_EQ(code.size(), 8u);

  // No target: nothing is queued.
  auto r = RunCli(home, {"notify", "send", code});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Aucune adresse réseau (UDP) configurée"), std::string::npos) << r.out;
  EXPECT_NE(RunCli(home, {"notify", "pending"}).out.find("0 notification(s) en attente"), std::string::npos);

  UdpListener a, b;
  r = RunCli(home, {"setup", "set", "UDP", "IP_00", "127.0.0.1"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out, "Enregistré: UDP/IP_00=127.0.0.1\n");
  ASSERT_TRUE(RunCli(home, {"setup", "set", "udp", "porta_00", std::to_string(a.port())}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "UDP", "PortD_00", std::to_string(ClosedUdpPort())}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "UDP", "IP_01", "localhost"}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "UDP", "PortA_01", std::to_string(b.port())}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "UDP", "IP_02", "nohost.invalid"}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "UDP", "PortA_02", std::to_string(b.port())}).exited(0));
  EXPECT_TRUE(RunCli(home, {"setup", "set", "UDP", "PortB_00", "65536"}).exited(2));
  EXPECT_TRUE(RunCli(home, {"setup", "set", "UDP", "IP_00", "a b"}).exited(2));
  EXPECT_TRUE(RunCli(home, {"setup", "set", "UDP", "IP_08", "x"}).exited(2));
  EXPECT_TRUE(RunCli(home, {"setup", "set", "Audio", "IP_00", "x"}).exited(2));
  r = RunCli(home, {"setup", "show"});
  ASSERT_TRUE(r.exited(0));
  EXPECT_NE(r.out.find("\nIP_00=127.0.0.1\nPortA_00=" + std::to_string(a.port()) + "\nPortB_00=\n"),
            std::string::npos)
      << "refused values kept the old ones: " << r.out;

  // Two commands change the song: one entry waits.
  r = RunCli(home, {"notify", "send", code});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Notification UDP en attente: " + code), std::string::npos) << r.out;
  r = RunCli(home, {"ptx", "set", code, "0", "1000"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Notification UDP en attente: " + code), std::string::npos) << r.out;
  EXPECT_TRUE(RunCli(home, {"notify", "send", "NOPE0000"}).exited(1));
  r = RunCli(home, {"notify", "pending"});
  EXPECT_NE(r.out.find("1 notification(s) en attente"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("^\\d{14}  \\d\\d:\\d\\d:\\d\\d  " + code + "\n")));

  // The processes that queued are gone; the run that follows sends at the
  // due time. Brought due now so that the test does not wait ten seconds.
  const std::string journal = home + "/Settings/Vexa_Library/UDP_Pending.journal";
  std::string lines = ReadFile(journal);
  ASSERT_FALSE(lines.empty());
  lines = std::regex_replace(lines, std::regex("^A\\d{14}", std::regex::multiline), "A20000101000000");
  WriteFile(journal, lines);
  r = RunCli(home, {"notify", "run"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Envoyé: " + code + "\n1 notification(s) envoyée(s)\n"), std::string::npos) << r.out;
  const std::regex text("<Info:Changed><Song:" + code + "><Rnd:\\d+><Computer:[^>]+>");
  const auto atA = a.Take();
  ASSERT_EQ(atA.size(), 1u);
  EXPECT_TRUE(std::regex_match(atA[0], text)) << atA[0];
  EXPECT_EQ(b.Take(), atA) << "localhost resolved; nohost.invalid sent nothing";
  r = RunCli(home, {"notify", "run"});
  ASSERT_TRUE(r.exited(0));
  EXPECT_NE(r.out.find("0 notification(s) envoyée(s)"), std::string::npos);
  EXPECT_TRUE(a.Take().empty()) << "sent once";
  r = RunCli(home, {"log", "show"});
  EXPECT_NE(r.out.find("Warning: UDP: SocketWrenchUDP.Resolve: "), std::string::npos);
  EXPECT_NE(r.out.find(code + ": Update After Send UDP"), std::string::npos);
}

// Another process of the workstation (the desktop) holding a song as a
// local copy, through its marker, until it is killed.
class HoldingProcess {
 public:
  HoldingProcess(const std::string& folder, const std::string& code) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      notify::HeldSongMarker marker(folder);
      const char answer = marker.Hold(code) ? 'y' : 'n';
      if (::write(ready[1], &answer, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    held_ = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
  }
  ~HoldingProcess() { Kill(); }
  bool held() const { return held_; }
  // Killed without a chance to remove its marker.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

// `notify run` leaves waiting a song another process has as a local copy,
// sends the others, and sends the held one once that process is gone, even
// though its marker is still on disk.
TEST(CliNotify, ASongHeldByAnotherLiveProcessWaitsAndADeadOnesMarkerHoldsNothing) {
  TempDir dir;
  const std::string home = dir / "home";
  ASSERT_TRUE(MakeDemoSite(home, {"--songs", "60"}));
  const std::string out = RunCli(home, {"search", "--kind", "jingles"}).out;
  const std::string held = FirstCode(out, "JIN");
  const std::string other = FirstCode(out.substr(out.find(held) + held.size()), "JIN");
  ASSERT_EQ(held.size(), 8u);
  ASSERT_EQ(other.size(), 8u);
  ASSERT_NE(held, other);
  UdpListener a;
  ASSERT_TRUE(RunCli(home, {"setup", "set", "UDP", "IP_00", "127.0.0.1"}).exited(0));
  ASSERT_TRUE(RunCli(home, {"setup", "set", "UDP", "PortA_00", std::to_string(a.port())}).exited(0));
  for (const std::string& code : {held, other}) ASSERT_TRUE(RunCli(home, {"notify", "send", code}).exited(0));
  const std::string settings = home + "/Settings/Vexa_Library/";
  const std::string journal = settings + "UDP_Pending.journal";
  WriteFile(journal, std::regex_replace(ReadFile(journal), std::regex("^A\\d{14}", std::regex::multiline),
                                        "A20000101000000"));

  HoldingProcess desktop(settings, held);
  ASSERT_TRUE(desktop.held());
  auto r = RunCli(home, {"notify", "run"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_NE(r.out.find("Retenu (son en copie locale): " + held + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Envoyé: " + other + "\n1 notification(s) envoyée(s)\n"), std::string::npos) << r.out;
  auto got = a.Take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find("<Song:" + other + ">"), std::string::npos) << got[0];
  r = RunCli(home, {"notify", "pending"});
  EXPECT_NE(r.out.find("1 notification(s) en attente"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(held), std::string::npos) << r.out;

  desktop.Kill();
  bool markerLeft = false;
  for (const auto& entry : std::filesystem::directory_iterator(settings))
    markerLeft = markerLeft || entry.path().filename().string().rfind(notify::kHeldMarkerPrefix, 0) == 0;
  ASSERT_TRUE(markerLeft) << "the killed process could not remove its marker";
  r = RunCli(home, {"notify", "run"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  EXPECT_EQ(r.out.find("Retenu"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Envoyé: " + held + "\n1 notification(s) envoyée(s)\n"), std::string::npos) << r.out;
  got = a.Take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find("<Song:" + held + ">"), std::string::npos) << got[0];
}

}  // namespace
}  // namespace sono::test
