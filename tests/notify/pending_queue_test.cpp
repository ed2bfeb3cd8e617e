// The pending queue and its journal: one entry per song, shared by two
// processes' queues, read back after a crash, rewritten when long.
#include <gtest/gtest.h>

#include "notify/pending_queue.h"
#include "test_support.h"

namespace sono::notify {
namespace {

using sono::test::ReadFile;
using sono::test::TempDir;
using sono::test::WriteFile;

std::vector<std::string> Texts(const PendingQueue& q) {
  std::vector<std::string> out;
  for (const auto& e : q.entries()) out.push_back(e.text());
  return out;
}

TEST(PendingQueueTest, ANewerChangeReplacesTheWaitingOneAndSurvivesARestart) {
  TempDir dir;
  {
    PendingQueue q(dir.path());
    q.Add("20260314093010", "00001234");
    q.Add("20260314093011", "JIN00007");
    q.Add("20260314093015", "00001234");
    EXPECT_EQ(Texts(q), (std::vector<std::string>{"20260314093011JIN00007", "2026031409301500001234"}));
    EXPECT_FALSE(q.Remove("00001234", "20260314093010")) << "an older due time is not the waiting entry";
    EXPECT_EQ(q.size(), 2u);
  }
  PendingQueue again(dir.path());
  EXPECT_EQ(Texts(again), (std::vector<std::string>{"20260314093011JIN00007", "2026031409301500001234"}));
  EXPECT_TRUE(again.Remove("JIN00007"));
  PendingQueue third(dir.path());
  EXPECT_EQ(Texts(third), (std::vector<std::string>{"2026031409301500001234"}));
  // A group sent while a newer change of one of its songs was queued: that one stays.
  third.Add("20260314093020", "JIN00008");
  third.Add("20260314093030", "00001234");
  EXPECT_EQ(third.RemoveSent({{"20260314093015", "00001234"}, {"20260314093020", "JIN00008"}}), 1u);
  EXPECT_EQ(Texts(PendingQueue(dir.path())), (std::vector<std::string>{"2026031409303000001234"}));
}

TEST(PendingQueueTest, TwoProcessesShareTheJournal) {
  TempDir dir;
  PendingQueue desktop(dir.path()), cli(dir.path());
  cli.Add("20260314093010", "00000001");
  desktop.Refresh();
  ASSERT_EQ(desktop.size(), 1u);
  desktop.Add("20260314093012", "00000002");
  EXPECT_TRUE(cli.Remove("00000002")) << "the removal reads the other's line first";
  desktop.Refresh();
  EXPECT_EQ(Texts(desktop), (std::vector<std::string>{"2026031409301000000001"}));
}

TEST(PendingQueueTest, ALineCutByACrashIsSkippedAndTheNextLineStandsAlone) {
  TempDir dir;
  WriteFile(dir / kJournalName, "A2026031409301000000001\nR00000009\nA20260314zz\nA2026031409302000000");
  PendingQueue q(dir.path());
  EXPECT_EQ(Texts(q), (std::vector<std::string>{"2026031409301000000001"}));
  const auto problems = q.TakeProblems();
  ASSERT_EQ(problems.size(), 1u) << "the damaged line; the cut one is not read";
  EXPECT_NE(problems[0].find("A20260314zz"), std::string::npos);
  q.Add("20260314093030", "00000003");
  PendingQueue back(dir.path());
  EXPECT_EQ(Texts(back), (std::vector<std::string>{"2026031409301000000001", "2026031409303000000003"}));
}

TEST(PendingQueueTest, ALongJournalIsRewrittenWithItsEntries) {
  TempDir dir;
  PendingQueue q(dir.path());
  for (int i = 0; i < 300; ++i) q.Add("20260314093010", "0000" + std::to_string(1000 + i % 3));
  EXPECT_LT(q.journalLines(), 70u);
  EXPECT_LT(ReadFile(dir / kJournalName).size(), 70u * 24);
  PendingQueue back(dir.path());
  EXPECT_EQ(Texts(back), Texts(q));
  EXPECT_EQ(back.size(), 3u);
}

TEST(PendingQueueTest, AJournalThatCannotBeWrittenKeepsTheQueueAndSaysSo) {
  TempDir dir;
  PendingQueue q(dir.path());
  q.Add("20260314093010", "00000001");
  {
    sono::test::FileSizeLimit limit(ReadFile(dir / kJournalName).size());
    q.Add("20260314093011", "00000002");
    q.Add("20260314093012", "00000003");
  }
  EXPECT_EQ(q.size(), 3u);
  const auto problems = q.TakeProblems();
  ASSERT_EQ(problems.size(), 1u) << "said once";
  EXPECT_NE(problems[0].find("Écriture impossible"), std::string::npos);
  q.Add("20260314093013", "00000004");  // the disk has room again: the journal is written whole
  PendingQueue back(dir.path());
  EXPECT_EQ(back.size(), 4u);
}

}  // namespace
}  // namespace sono::notify
