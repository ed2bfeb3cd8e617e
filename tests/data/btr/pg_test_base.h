// A record-manager base on the tests' private PostgreSQL server: a fresh
// database named to the base's folder, for one test.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "base_engine.h"
#include "pg_cluster.h"

namespace sono::btr::testing {

// Skips the test when the machine has no PostgreSQL server binaries.
#define SKIP_WITHOUT_POSTGRES()                                   \
  do {                                                            \
    std::string whyNot_;                                          \
    if (sono::test::PgCluster::FindBinaries().empty()) {          \
      sono::test::PgCluster::Shared(&whyNot_);                    \
      GTEST_SKIP() << whyNot_;                                    \
    }                                                             \
  } while (0)

// The folder "/pg/<name>" names a base held by database <name>; the
// setting is forgotten with the object.
class PgBaseForTest {
 public:
  explicit PgBaseForTest(const std::string& name) : folder_("/pg/" + name) {
    std::string why;
    sono::test::PgCluster* cluster = sono::test::PgCluster::Shared(&why);
    if (!cluster) {
      error_ = why;
      return;
    }
    connection_ = cluster->freshDatabase(name);
    if (connection_.empty()) {
      error_ = "cannot create database " + name;
      return;
    }
    SetBaseEngine(folder_, BaseEngine{EngineKind::Postgres, connection_, ""});
  }
  ~PgBaseForTest() { SetBaseEngine(folder_, BaseEngine{}); }
  PgBaseForTest(const PgBaseForTest&) = delete;
  PgBaseForTest& operator=(const PgBaseForTest&) = delete;

  // Empty when the base is ready.
  const std::string& error() const { return error_; }
  const std::string& connection() const { return connection_; }
  std::string path(const std::string& file) const { return folder_ + "/" + file; }

 private:
  std::string folder_;
  std::string connection_;
  std::string error_;
};

}  // namespace sono::btr::testing
