// Files shared between accounts and media: two accounts of one group on one
// data folder, a full disk when a lock file must be created, an old lock file
// made before files took the folder's group permissions. Switching accounts
// and mounting a small file system need root: the tests skip without it.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <functional>

#include "engine_under_test.h"
#include "test_util.h"

namespace sono::btr {
namespace {

using testing::TempDir;

constexpr gid_t kGroup = 4242;
constexpr uid_t kFirstUser = 5001, kSecondUser = 5002;

// Runs `body` in a child as `uid` of group kGroup, with the usual umask; the
// child's exit code (255 when it died).
int asAccount(uid_t uid, const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    umask(022);
    if (setgroups(1, &kGroup) != 0 || setgid(kGroup) != 0 || setuid(uid) != 0) _exit(200);
    try {
      _exit(body());
    } catch (...) {
      _exit(201);
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 255;
}

std::string record(const char* code) { return testing::song(code, "ART01", code).bytes(); }

// Opens, reads what the other account wrote, writes alone and in a
// transaction over two files; 0 when all went well, else where it failed.
int useFolder(const std::string& folder, const char* mine, const char* theirs) {
  File a, b;
  if (a.open(folder + "/FRADA22.bt6") != 0) return 1;
  if (b.open(folder + "/FRADB22.bt6") != 0) return 2;
  std::string key = theirs ? theirs : "", rec;
  if (theirs && a.get(kGetEqual, 0, key, rec) != 0) return 3;
  if (a.insert(record(mine)) != 0) return 4;
  if (a.beginTransaction() != 0) return 5;
  std::string second = "T" + std::string(mine).substr(1);
  if (a.insert(record(second.c_str())) != 0 || b.insert(record(second.c_str())) != 0) return 6;
  return a.endTransaction() == 0 ? 0 : 7;
}

mode_t modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(Sharing, TwoAccountsOfOneGroupUseOneDataFolder) {
  LMDB_ONLY("modes and groups of the files in a shared data folder");
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch accounts";
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string folder = dir / "QZ_Data";
  ASSERT_EQ(mkdir(folder.c_str(), 0775), 0);
  ASSERT_EQ(chown(folder.c_str(), 0, kGroup), 0);
  ASSERT_EQ(chmod(folder.c_str(), 02775), 0);  // the station's shared folder

  // The first account creates the files and uses them; the second one then
  // reads and writes them, transactions included; then the first again.
  EXPECT_EQ(asAccount(kFirstUser, [&] {
              for (const char* name : {"/FRADA22.bt6", "/FRADB22.bt6"})
                if (createFile(folder + name, testing::songFileDef()) != 0) return 10;
              return useFolder(folder, "U1000001", nullptr);
            }),
            0);
  for (const char* name : {"FRADA22.bt6", "FRADA22.bt6-lock", "FRADB22.bt6-lock", "sonoteka-btr.journal"}) {
    EXPECT_EQ(modeOf(folder + "/" + name), 0664u) << name;
    struct stat st;
    ASSERT_EQ(::stat((folder + "/" + name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_gid, kGroup) << name;
  }
  EXPECT_EQ(asAccount(kSecondUser, [&] { return useFolder(folder, "U2000001", "U1000001"); }), 0);
  EXPECT_EQ(asAccount(kFirstUser, [&] { return useFolder(folder, "U1000002", "U2000001"); }), 0);
}

TEST(Sharing, AFullDiskWhenTheLockFileMustBeCreatedIsStatus18NotABusError) {
  LMDB_ONLY("LMDB's lock file on a full disk");
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  TempDir dir;
  const std::string source = dir / "FRADA31.bt6";
  ASSERT_EQ(createFile(source, testing::songFileDef()), 0);
  {
    File f;
    ASSERT_EQ(f.open(source), 0);
    ASSERT_EQ(f.insert(record("S0000001")), 0);
  }
  const std::string bytes = sono::test::ReadFile(source);
  const std::string disk = dir / "disk";
  ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
  const std::string size = "size=" + std::to_string(bytes.size() + 8192);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, size.c_str()) != 0) GTEST_SKIP() << "cannot mount tmpfs";
  struct Unmount {
    std::string path;
    ~Unmount() { umount(path.c_str()); }
  } unmount{disk};
  // The file without its lock file (copied), and the rest of the disk full.
  const std::string path = disk + "/FRADA31.bt6";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    FILE* filler = std::fopen((disk + "/filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    const std::string block(1024, 'x');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
  }
  // In a child: a bus error would end it, not the test.
  auto openInChild = [&] {
    const pid_t pid = fork();
    if (pid == 0) {
      File f;
      const int s = f.open(path);
      if (s != 0) _exit(s);
      std::string key = "S0000001", rec;
      _exit(f.get(kGetEqual, 0, key, rec) == 0 ? 0 : 100);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 200 + WTERMSIG(st);
  };
  EXPECT_EQ(openInChild(), status::kDiskFull);
  EXPECT_EQ(sono::test::ReadFile(path), bytes);
  ASSERT_EQ(unlink((disk + "/filler").c_str()), 0);
  EXPECT_EQ(openInChild(), 0);
  EXPECT_TRUE(sono::test::Exists(path + "-lock"));
}

TEST(Sharing, AnOldLockFileOfItsOwnerTakesTheFolderGroupPermissions) {
  LMDB_ONLY("LMDB's lock file");
  TempDir dir;
  const std::string folder = dir / "QZ_Data";
  ASSERT_EQ(mkdir(folder.c_str(), 0775), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0775), 0);
  const std::string path = folder + "/FRADA22.bt6";
  ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
  {
    File f;
    ASSERT_EQ(f.open(path), 0);
  }
  ASSERT_EQ(chmod((path + "-lock").c_str(), 0644), 0);  // as the old version made it
  struct stat before;
  ASSERT_EQ(::stat((path + "-lock").c_str(), &before), 0);
  {
    File f;
    ASSERT_EQ(f.open(path), 0);
  }
  struct stat after;
  ASSERT_EQ(::stat((path + "-lock").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0664u);
  EXPECT_EQ(after.st_ino, before.st_ino);  // the same file: never deleted and made again
}

}  // namespace
}  // namespace sono::btr
