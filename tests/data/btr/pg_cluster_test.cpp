// The private PostgreSQL server of the tests: it runs unprivileged, and no
// server of ours outlives the test process that started it, whether that
// process exits or crashes.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "pg_cluster.h"
#include "pg_test_base.h"
#include "process.h"

namespace sono::test {
namespace {

uid_t ProcessUid(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Uid:", 0) == 0) return static_cast<uid_t>(std::stoul(line.substr(4)));
  return static_cast<uid_t>(-1);
}

// Waits for the server's parent-death signal to be acted on; false if it
// still runs after 20 s.
bool GoneWithin20s(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    if (!PgCluster::ProcessAlive(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

struct Probe {
  ProcessResult run;
  pid_t pid = -1;
  std::string folder;
};

Probe RunProbe(const std::string& how) {
  Probe p;
  p.run = RunProcess({BTR_PG_PROBE, how}, {}, 120000);
  std::istringstream out(p.run.out);
  out >> p.pid >> p.folder;
  return p;
}

TEST(PgCluster, RunsUnprivilegedWithItsSocketInItsFolderOnly) {
  SKIP_WITHOUT_POSTGRES();
  std::string why;
  PgCluster* cluster = PgCluster::Shared(&why);
  ASSERT_NE(cluster, nullptr) << why;
  EXPECT_NE(ProcessUid(cluster->postmasterPid()), 0u);
  EXPECT_TRUE(std::filesystem::exists(cluster->folder() + "/.s.PGSQL.5432"));
  PGconn* c = PQconnectdb(cluster->connection().c_str());
  ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
  PGresult* r = PQexec(c, "SELECT current_setting('listen_addresses')");
  ASSERT_EQ(PQresultStatus(r), PGRES_TUPLES_OK);
  EXPECT_STREQ(PQgetvalue(r, 0, 0), "");  // no TCP port
  PQclear(r);
  PQfinish(c);
}

TEST(PgCluster, NoServerOutlivesItsTestProcess) {
  SKIP_WITHOUT_POSTGRES();
  // A crash (no destructor, no atexit) still takes the server down.
  const Probe crashed = RunProbe("abort");
  ASSERT_NE(crashed.run.signal, 0) << crashed.run.err;
  ASSERT_GT(crashed.pid, 0);
  EXPECT_TRUE(GoneWithin20s(crashed.pid)) << "postmaster " << crashed.pid << " survived its test process";
  ASSERT_TRUE(std::filesystem::exists(crashed.folder));  // left behind by the crash

  // A normal exit stops the server and removes its folder before the exit;
  // its start removed the folder the crash left.
  const Probe clean = RunProbe("exit");
  ASSERT_TRUE(clean.run.exited(0)) << clean.run.err;
  ASSERT_GT(clean.pid, 0);
  EXPECT_FALSE(PgCluster::ProcessAlive(clean.pid));
  EXPECT_FALSE(std::filesystem::exists(clean.folder));
  EXPECT_FALSE(std::filesystem::exists(crashed.folder));
}

}  // namespace
}  // namespace sono::test
