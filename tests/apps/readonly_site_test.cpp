// A copy of a site whose data folder this account cannot write (an archive on
// a read-only share): the library browses, the program says once that it is
// read-only, no lock file appears, no byte changes, and a write is refused
// with exit status 1. Run as another account, since root writes anywhere.
#include <gtest/gtest.h>
#include <dirent.h>

#include <map>

#include "cli_site.h"

namespace sono::test {
namespace {

TEST(ReadOnlySite, BrowsesWithOneMessageAndWritesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another account";
  TempDir dir;
  const std::string home = dir / "home";
  auto cli = [&](std::vector<std::string> args, bool asOther) {
    args.insert(args.begin(), SONOTEKA_CLI);
    args.insert(args.end(), {"--home", home});
    if (asOther) args.insert(args.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    return RunProcess(args, {}, 30000);
  };
  ASSERT_TRUE(MakeDemoSite(home, {"--songs", "30"}));
  const ProcessResult before = cli({"search", "--kind", "music"}, false);
  ASSERT_TRUE(before.exited(0));
  // The copy: owned by the other account, its data folder read-only and
  // without the lock files a copy leaves behind.
  const std::string data = home + "/drives/c/QZ_Data";
  ASSERT_EQ(std::system(("chmod 755 '" + dir.path() + "' && rm -f '" + data + "'/*-lock && chown -R 65534:65534 '" +
                         home + "' && chmod 555 '" + data + "'")
                            .c_str()),
            0);
  std::map<std::string, std::string> bytes;
  if (DIR* d = opendir(data.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') bytes[e->d_name] = ReadFile(data + "/" + e->d_name);
    closedir(d);
  }
  const ProcessResult browse = cli({"search", "--kind", "music"}, true);
  EXPECT_TRUE(browse.exited(0)) << browse.err;
  EXPECT_EQ(browse.out, before.out);
  const std::string said = "La base de données est en lecture seule";
  const size_t first = browse.err.find(said);
  EXPECT_NE(first, std::string::npos) << browse.err;
  EXPECT_EQ(browse.err.find(said, first + 1), std::string::npos) << "said more than once";
  const ProcessResult song = cli({"song", "show", "00000002"}, true);
  EXPECT_TRUE(song.exited(0)) << song.err;

  const ProcessResult write = cli({"ptx", "set", "00000002", "2", "12000"}, true);
  EXPECT_TRUE(write.exited(1)) << write.out << write.err;
  EXPECT_NE(write.err.find("Non enregistré"), std::string::npos) << write.err;

  std::map<std::string, std::string> after;
  if (DIR* d = opendir(data.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') after[e->d_name] = ReadFile(data + "/" + e->d_name);
    closedir(d);
  }
  EXPECT_EQ(after, bytes);  // no lock file, no journal, not a byte changed
  chmod(data.c_str(), 0755);
}

}  // namespace
}  // namespace sono::test
