// An LMDB base on a network file system is refused with a message naming
// the PostgreSQL setting; a base held by PostgreSQL is not concerned.
#include <gtest/gtest.h>
#include <sys/vfs.h>

#include <string>

#include "base_engine.h"
#include "btr.h"
#include "network_fs.h"
#include "test_util.h"

namespace sono::btr::testing {
namespace {

struct StandInReset {
  ~StandInReset() { SetNetworkFileSystemStandIn(0); }
};

TEST(NetworkFolder, AnLmdbBaseOnANetworkShareIsRefusedWithThePostgresSetting) {
  TempDir dir;
  const std::string path = dir.path() + "/FRADA22.bt6";
  ASSERT_EQ(createFile(path, songFileDef()), 0);
  struct statfs st;
  ASSERT_EQ(::statfs(dir.path().c_str(), &st), 0);
  ASSERT_EQ(NetworkFileSystemOf(dir.path()), "");  // the test's own folder is local

  StandInReset reset;
  SetNetworkFileSystemStandIn(static_cast<long>(st.f_type), "cifs");
  File f;
  EXPECT_EQ(f.open(path), status::kAccessDenied);
  const std::string message = btrLastRefusal();
  EXPECT_NE(message.find(dir.path()), std::string::npos) << message;
  EXPECT_NE(message.find("(cifs)"), std::string::npos) << message;
  EXPECT_NE(message.find("Moteur_Data=PostgreSQL"), std::string::npos) << message;
  EXPECT_EQ(createFile(dir.path() + "/FRADA20.bt6", songFileDef()), status::kAccessDenied);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/FRADA20.bt6"));

  // The same folder held by PostgreSQL goes to its server (here none: the
  // network status), never to the refusal.
  SetBaseEngine(dir.path(), BaseEngine{EngineKind::Postgres, "host=" + dir.path() + " dbname=x connect_timeout=2", ""});
  EXPECT_EQ(f.open(path), 3111);
  EXPECT_STREQ(btrLastRefusal(), "");
  SetBaseEngine(dir.path(), BaseEngine{});

  SetNetworkFileSystemStandIn(0);
  EXPECT_EQ(f.open(path), 0);
  EXPECT_STREQ(btrLastRefusal(), "");
}

}  // namespace
}  // namespace sono::btr::testing
