// Files the record manager must refuse without touching them.
#include <gtest/gtest.h>
#include <lmdb.h>
#include <sys/wait.h>

#include <cstdio>

#include "engine_under_test.h"
#include "test_util.h"

namespace sono::btr {
namespace {

using testing::pad;
using sono::test::ReadFile;
using testing::TempDir;
using testing::TestBase;

int openStatus(const std::string& path, int mode = 0) {
  char pb[128];
  std::memset(pb, ' ', sizeof pb);
  std::string key = pad(path, 255);
  std::uint32_t len = 0;
  int s = BTRCALL(kOpen, pb, nullptr, len, key.data(), 255, mode);
  if (s == 0) BTRCALL(kClose, pb, nullptr, len, nullptr, 0, 0);
  return s;
}

void writeFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// A file filled with songs, closed.
void makeSongFile(const std::string& path, int songs) {
  ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
  File f;
  ASSERT_EQ(f.open(path), 0);
  ASSERT_EQ(f.beginTransaction(), 0);
  char code[16];
  for (int i = 0; i < songs; ++i) {
    std::snprintf(code, sizeof code, "S%07d", i);
    ASSERT_EQ(f.insert(testing::song(code, "ART01", code).bytes()), 0);
  }
  ASSERT_EQ(f.endTransaction(), 0);
}

TEST(BadFiles, MissingFileAndNoFileNameHaveTheirStatuses) {
  TestBase dir;
  EXPECT_EQ(openStatus(dir / "missing.bt6"), status::kFileNotFound);
  EXPECT_EQ(openStatus(dir.path()), status::kInvalidFileName);
}

TEST(BadFiles, ForeignFilesAreNotRecordManagerFilesAndStayUntouched) {
  LMDB_ONLY("files of the data folder that are not LMDB files");
  TempDir dir;
  struct Case {
    std::string name;
    std::string bytes;
  };
  std::string pages(16384, 'x');
  const Case cases[] = {
      {"text.bt6", "Ceci n'est pas une base.\n"},
      {"empty.bt6", ""},
      {"pages.bt6", pages},
  };
  for (const Case& c : cases) {
    const std::string path = dir / c.name;
    writeFile(path, c.bytes);
    EXPECT_EQ(openStatus(path), status::kNotRecordManagerFile) << c.name;
    EXPECT_EQ(ReadFile(path), c.bytes) << c.name;
    EXPECT_FALSE(sono::test::Exists(path + "-lock")) << c.name;
  }
}

TEST(BadFiles, AnLmdbFileOfAnotherProgramIsRefused) {
  LMDB_ONLY("an LMDB file of another program");
  TempDir dir;
  const std::string path = dir / "other.bt6";
  MDB_env* env = nullptr;
  ASSERT_EQ(mdb_env_create(&env), 0);
  ASSERT_EQ(mdb_env_open(env, path.c_str(), MDB_NOSUBDIR, 0664), 0);
  MDB_txn* txn = nullptr;
  MDB_dbi dbi;
  ASSERT_EQ(mdb_txn_begin(env, nullptr, 0, &txn), 0);
  ASSERT_EQ(mdb_dbi_open(txn, nullptr, 0, &dbi), 0);
  MDB_val k{4, const_cast<char*>("meta")}, v{5, const_cast<char*>("plain")};
  ASSERT_EQ(mdb_put(txn, dbi, &k, &v, 0), 0);
  ASSERT_EQ(mdb_txn_commit(txn), 0);
  mdb_env_close(env);
  const std::string before = ReadFile(path);
  EXPECT_EQ(openStatus(path), status::kNotRecordManagerFile);
  EXPECT_EQ(ReadFile(path), before);
}

TEST(BadFiles, TruncatedFileIsRefusedAndLeftAsItWas) {
  LMDB_ONLY("a truncated LMDB file");
  TempDir dir;
  const std::string path = dir / "FRADA22.bt6";
  makeSongFile(path, 400);
  const std::string whole = ReadFile(path);
  ASSERT_GT(whole.size(), 100000u);
  ASSERT_EQ(truncate(path.c_str(), whole.size() / 2), 0);
  const std::string cut = ReadFile(path);
  EXPECT_EQ(openStatus(path), status::kIoError);
  EXPECT_EQ(ReadFile(path), cut);
  // Cut inside the header pages: not recognisable at all.
  ASSERT_EQ(truncate(path.c_str(), 10), 0);
  EXPECT_EQ(openStatus(path), status::kNotRecordManagerFile);
  EXPECT_EQ(ReadFile(path).size(), 10u);
}

TEST(BadFiles, DamagedDefinitionIsRefused) {
  // The creation block is validated again when the file is opened.
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  makeSongFile(path, 3);
  ASSERT_NO_FATAL_FAILURE(testing::DamageDefinition(path));
  EXPECT_EQ(openStatus(path), status::kNotRecordManagerFile);
}

// Runs `body` with permissions enforced: as root, in a child process that
// gives up root; otherwise in a child as well, for symmetry. The child's exit
// code is the status observed.
template <class Body>
int asUnprivileged(Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(200);
    _exit(body());
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 255;
}

// An archive on a read-only share: browsable, without a lock file (LMDB could
// not create one there), every write refused, and not a byte changed.
TEST(BadFiles, ReadOnlyFolderIsBrowsableAndUnchanged) {
  LMDB_ONLY("a data folder this account cannot write");
  TempDir dir;
  const std::string folder = dir / "base";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string path = folder + "/FRADA22.bt6";
  makeSongFile(path, 5);
  ASSERT_EQ(unlink((path + "-lock").c_str()), 0);  // as after a clean copy
  // The file is writable by everyone; the folder is not.
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  const std::string before = ReadFile(path);

  auto browse = [&](int mode) {
    File f;
    if (int s = f.open(path, mode)) return s;
    std::string key, rec;
    int n = 0;
    for (int s = f.get(kGetFirst, 0, key, rec); s == 0; s = f.get(kGetNext, 0, key, rec)) ++n;
    if (n != 5) return 100 + n;
    std::string code = "S0000002";
    if (f.get(kGetEqual, 0, code, rec) != 0) return 110;
    const int update = f.update(rec), insert = f.insert(testing::song("S0000009", "ART01", "x").bytes());
    if (update != status::kAccessDenied || insert != status::kAccessDenied) return 120;
    return f.beginTransaction() == status::kAccessDenied ? 0 : 130;
  };
  EXPECT_EQ(asUnprivileged([&] { return browse(kModeNormal); }), 0);
  EXPECT_EQ(asUnprivileged([&] { return browse(kModeReadOnly); }), 0);
  EXPECT_EQ(asUnprivileged([&] { return createFile(folder + "/FRADA46.bt6", testing::songFileDef()); }),
            status::kAccessDenied);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_FALSE(sono::test::Exists(path + "-lock"));
  EXPECT_FALSE(sono::test::Exists(folder + "/FRADA46.bt6"));
  chmod(folder.c_str(), 0755);
  EXPECT_TRUE(checkIntegrity(path).ok());
}

TEST(BadFiles, ReadOnlyOpenRefusesWrites) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  makeSongFile(path, 2);
  File f;
  ASSERT_EQ(f.open(path, kModeReadOnly), 0);
  std::string key = "S0000001", rec;
  ASSERT_EQ(f.get(kGetEqual, 0, key, rec), 0);
  EXPECT_EQ(f.update(rec), status::kAccessDenied);
  EXPECT_EQ(f.insert(testing::song("S0000009", "ART01", "x").bytes()), status::kAccessDenied);
  EXPECT_EQ(f.remove(), status::kAccessDenied);
  EXPECT_EQ(f.beginTransaction(), status::kAccessDenied);
  FileDef def;
  std::uint64_t records = 0;
  ASSERT_EQ(f.stat(def, records), 0);
  EXPECT_EQ(records, 2u);
}

}  // namespace
}  // namespace sono::btr
