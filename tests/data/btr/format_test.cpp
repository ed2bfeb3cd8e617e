// Files of existing sites: format 1 (records without a check value), as the
// engine wrote them before. They open, read and write as before, join a
// transaction with a new file, pass the check, and a repair turns a damaged
// one into format 2 without losing a record.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <lmdb.h>

#include <cstdio>

#include "pages.h"
#include "test_util.h"

namespace sono::btr {
namespace {

using testing::TempDir;

void putBE(std::uint8_t* p, std::uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<std::uint8_t>(v);
}

// A format-1 file with one key (8 bytes, unique) and `count` records, built
// table by table as the engine used to build them.
void writeFormatOne(const std::string& path, int count) {
  FileDef def;
  def.recordLength = 900;
  def.pageSize = 2048;
  def.keys = {testing::key({{1, 8, 2}})};
  MDB_env* env = nullptr;
  ASSERT_EQ(mdb_env_create(&env), 0);
  mdb_env_set_maxdbs(env, 8);
  ASSERT_EQ(mdb_env_open(env, path.c_str(), MDB_NOSUBDIR, 0664), 0);
  MDB_txn* txn = nullptr;
  ASSERT_EQ(mdb_txn_begin(env, nullptr, 0, &txn), 0);
  MDB_dbi meta, rec, k0;
  ASSERT_EQ(mdb_dbi_open(txn, "meta", MDB_CREATE, &meta), 0);
  ASSERT_EQ(mdb_dbi_open(txn, "rec", MDB_CREATE, &rec), 0);
  ASSERT_EQ(mdb_dbi_open(txn, "k0", MDB_CREATE, &k0), 0);
  auto put = [&](MDB_dbi dbi, const void* k, std::size_t kn, const void* v, std::size_t vn) {
    MDB_val key{kn, const_cast<void*>(k)}, val{vn, const_cast<void*>(v)};
    ASSERT_EQ(mdb_put(txn, dbi, &key, &val, 0), 0);
  };
  const std::vector<std::uint8_t> block = encodeFileDef(def);
  put(meta, "format", 6, "sonoteka-btr 1", 14);
  put(meta, "def", 3, block.data(), block.size());
  const std::uint64_t next = static_cast<std::uint64_t>(count) + 1;
  put(meta, "next", 4, &next, 8);
  for (int i = 1; i <= count; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "OLD%05d", i);
    const std::string r = testing::song(code, "ART01", code).bytes();
    std::string value(16, '\0');  // version stamp, then the key's sequence
    const std::uint64_t pos = static_cast<std::uint64_t>(i);
    std::memcpy(&value[0], &pos, 8);
    std::memcpy(&value[8], &pos, 8);
    value += r;
    std::uint8_t posKey[8];
    putBE(posKey, pos);
    put(rec, posKey, 8, value.data(), value.size());
    put(k0, code, 8, posKey, 8);
  }
  ASSERT_EQ(mdb_txn_commit(txn), 0);
  mdb_env_close(env);
}

TEST(FormatOne, FilesOfExistingSitesWorkAsBeforeAndARepairMakesThemFormatTwo) {
  TempDir dir;
  const std::string old = dir / "FRADA31.bt6", fresh = dir / "FRADB31.bt6";
  writeFormatOne(old, 30);
  ASSERT_TRUE(checkIntegrity(old).ok());
  FileDef def;
  def.recordLength = 900;
  def.pageSize = 2048;
  def.keys = {testing::key({{1, 8, 2}})};
  ASSERT_EQ(createFile(fresh, def), 0);
  {
    File a, b;
    ASSERT_EQ(a.open(old), 0);
    ASSERT_EQ(b.open(fresh), 0);
    std::string key = "OLD00007", rec;
    ASSERT_EQ(a.get(kGetEqual, 0, key, rec), 0);
    EXPECT_EQ(rec, testing::song("OLD00007", "ART01", "OLD00007").bytes());
    rec.replace(100, 4, "ABCD");
    // One transaction over the old file and a new one.
    ASSERT_EQ(a.beginTransaction(), 0);
    ASSERT_EQ(a.update(rec), 0);
    ASSERT_EQ(a.insert(testing::song("NEW00001", "ART01", "x").bytes()), 0);
    ASSERT_EQ(b.insert(testing::song("NEW00001", "ART01", "x").bytes()), 0);
    ASSERT_EQ(b.endTransaction(), 0);
    key = "OLD00007";
    ASSERT_EQ(a.get(kGetEqual, 0, key, rec), 0);
    EXPECT_EQ(rec.substr(100, 4), "ABCD");
  }
  EXPECT_TRUE(checkIntegrity(old).ok());
  const std::string before = sono::test::ReadFile(old);
  EXPECT_NE(before.find("sonoteka-btr 1"), std::string::npos);  // still format 1

  // A damaged key page: the repair gives every record back, in format 2.
  // The key table's leaf is the page in use holding a code but no record.
  const int fd = ::open(old.c_str(), O_RDWR);
  pages::PageWalker walker(fd, before.size());
  ASSERT_TRUE(walker.readMeta());
  walker.checkAll();
  std::size_t keyLeaf = 0;
  for (std::size_t p = 2; p * 4096 < before.size(); ++p) {
    const std::string bytes = before.substr(p * 4096, 4096);
    if (walker.pageInUse(p) && bytes.find("OLD00007") != std::string::npos && bytes.find("ART01") == std::string::npos)
      keyLeaf = p;
  }
  ASSERT_NE(keyLeaf, 0u);
  const std::string zeros(4096, '\0');
  ASSERT_EQ(pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(keyLeaf * 4096)), 4096);
  ::close(fd);
  EXPECT_FALSE(checkIntegrity(old).ok());
  const RepairReport repair = repairFile(old, &def);
  ASSERT_EQ(repair.status, 0);
  EXPECT_EQ(repair.recovered, 31u);
  EXPECT_TRUE(checkIntegrity(old).ok());
  EXPECT_NE(sono::test::ReadFile(old).find("sonoteka-btr 2"), std::string::npos);
  File a;
  ASSERT_EQ(a.open(old), 0);
  std::string key = "OLD00007", rec;
  ASSERT_EQ(a.get(kGetEqual, 0, key, rec), 0);
  EXPECT_EQ(rec.substr(100, 4), "ABCD");
}

}  // namespace
}  // namespace sono::btr
