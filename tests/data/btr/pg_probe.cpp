// Starts a private PostgreSQL server, prints "<postmaster pid> <folder>",
// then leaves the way its argument says: "exit" (a normal exit, which stops
// the server) or "abort" (a crash: no destructor runs).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pg_cluster.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string whyNot;
  auto cluster = sono::test::PgCluster::StartOwn(whyNot);
  if (!cluster) {
    std::fprintf(stderr, "%s\n", whyNot.c_str());
    return 1;
  }
  std::printf("%d %s\n", static_cast<int>(cluster->postmasterPid()), cluster->folder().c_str());
  std::fflush(stdout);
  if (std::strcmp(argv[1], "abort") == 0) std::abort();
  return 0;
}
