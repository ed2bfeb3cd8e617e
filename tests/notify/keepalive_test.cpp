// Timer30s on the manual clock and scheduler: one read of the base every
// 900 s on a VPN workstation only, the statuses that mean a live link, and a
// read that fails logged and tried again at the next period.
#include <gtest/gtest.h>

#include <deque>

#include "core/scheduler.h"
#include "library_fixture.h"
#include "notify/vpn_keepalive.h"

namespace sono::notify {
namespace {

class KeepAliveTest : public data::test::LibraryFixture {
 protected:
  KeepAliveTest() : scheduler(clock) {}
  void Run(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 500) {
      clock.advance(500);
      scheduler.runDue();
    }
  }
  int logged(const std::string& text) const {
    int n = 0;
    for (const auto& line : log.fileBuffer()) n += line.find(text) != std::string::npos;
    return n;
  }
  ClockScheduler scheduler;
};

TEST_F(KeepAliveTest, AVpnWorkstationReadsTheBaseEvery900SecondsAndNoOtherDoes) {
  std::deque<int> statuses = {4, 3, 0};
  int calls = 0;
  VpnKeepAlive keepAlive(clock, scheduler, log, [&] {
    ++calls;
    const int s = statuses.front();
    statuses.pop_front();
    return s;
  });
  keepAlive.attach();
  EXPECT_TRUE(scheduler.isEnabled(kKeepAliveTimer));
  EXPECT_EQ(scheduler.interval(kKeepAliveTimer), 1000);
  Run(2 * kKeepAlivePeriodMs);
  EXPECT_EQ(calls, 0) << "not a VPN workstation";

  keepAlive.accesVpn = true;
  Run(1000);
  EXPECT_EQ(calls, 1);  // the period had long passed: read at the first tick
  Run(kKeepAlivePeriodMs - 2000);
  EXPECT_EQ(calls, 1);
  Run(2000);
  EXPECT_EQ(calls, 2);  // status 3: logged, the program goes on
  EXPECT_EQ(keepAlive.failures(), 1);
  EXPECT_EQ(logged("Err: Timer30s: keep-alive read of the base: status 3"), 1);
  Run(kKeepAlivePeriodMs);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(keepAlive.failures(), 1);  // status 4 and 0 are a live link
}

// The base closed (from the database menu): no box from the record manager
// every 900 s on an unattended workstation, one log line; the reads come
// back when the base is open again.
TEST_F(KeepAliveTest, TheReadIsAGetEqualOnTheSongsFileAndSkipsAClosedBaseQuietly) {
  EXPECT_EQ(KeepAliveRead(*lib, 1), 4);  // no song "00000000": the link answered
  InsertEverywhere(data::kSongs, Song("00000000", "Silence", 1));
  EXPECT_EQ(KeepAliveRead(*lib, 2), 0);
  layer->PervasiveFermetureFichiers(0, 1, 2);
  VpnKeepAlive keepAlive(clock, scheduler, log, [&] { return KeepAliveRead(*lib, 1); });
  keepAlive.accesVpn = true;
  keepAlive.attach();
  prompt.shown.clear();
  Run(3 * kKeepAlivePeriodMs);
  EXPECT_TRUE(prompt.shown.empty()) << prompt.shown.front().text;
  EXPECT_EQ(keepAlive.reads(), 0);
  EXPECT_EQ(keepAlive.failures(), 0);
  EXPECT_EQ(logged("Timer30s: base not open: keep-alive read skipped"), 1);
  layer->PervasiveOuvertureFichiers(0, 1, 2);
  Run(kKeepAlivePeriodMs);
  EXPECT_EQ(keepAlive.reads(), 1);
  EXPECT_EQ(keepAlive.failures(), 0);
  layer->PervasiveFermetureFichiers(0, 1, 2);
  Run(kKeepAlivePeriodMs);
  EXPECT_EQ(logged("Timer30s: base not open: keep-alive read skipped"), 2) << "said again after a read";
  EXPECT_TRUE(prompt.shown.empty());
}

// The daily work runs at the first tick of each day, on every workstation,
// and not while the program closes.
TEST_F(KeepAliveTest, TheDailyWorkRunsOnceADay) {
  std::vector<std::string> days;
  VpnKeepAlive keepAlive(clock, scheduler, log, [] { return 0; });
  keepAlive.daily = [&](const std::string& day) { days.push_back(day); };
  keepAlive.attach();
  clock.setWall({2026, 3, 14, 23, 59, 57, 0});
  Run(1000);
  EXPECT_EQ(days, (std::vector<std::string>{"2026-03-14"}));
  Run(1000);
  EXPECT_EQ(days.size(), 1u);
  Run(2000);  // past midnight
  EXPECT_EQ(days, (std::vector<std::string>{"2026-03-14", "2026-03-15"}));
  Run(12 * 3600 * 1000);
  EXPECT_EQ(days.size(), 2u);
  log.setClosing(true);
  Run(24 * 3600 * 1000);
  EXPECT_EQ(days.size(), 2u);
}

}  // namespace
}  // namespace sono::notify
