// Record manager behaviour through BTRCALL: keys, duplicates, positioning,
// updates, transactions, file definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine_under_test.h"
#include "test_util.h"

namespace sono::btr {
namespace {

using testing::pad;
using testing::Record;
using testing::song;
using testing::CheckWhole;
using testing::Contents;
using testing::TestBase;

// A position block used the way the file layer uses it: 128 blanks before an
// open, key buffers of 255 bytes, one record buffer per file.
class Block {
 public:
  explicit Block(std::size_t recordLength = 900) : recordLength_(recordLength) { std::memset(pb_, ' ', sizeof pb_); }
  ~Block() {
    std::uint32_t len = 0;
    BTRCALL(kClose, pb_, nullptr, len, nullptr, 0, 0);
  }
  int open(const std::string& path, int mode = 0) {
    std::string k = pad(path, 255);
    std::uint32_t len = 0;
    return BTRCALL(kOpen, pb_, nullptr, len, k.data(), 255, mode);
  }
  int close() {
    std::uint32_t len = 0;
    return BTRCALL(kClose, pb_, nullptr, len, nullptr, 0, 0);
  }
  // Reads: `key` is the search value; afterwards key() holds the key returned.
  int get(int op, int kn, std::string_view keyValue = {}) {
    if (!keyValue.empty()) setKey(keyValue);
    record_.assign(recordLength_, '\0');
    std::uint32_t len = static_cast<std::uint32_t>(recordLength_);
    int s = BTRCALL(op, pb_, record_.data(), len, key_, 255, kn);
    record_.resize(s == 0 ? len : 0);
    return s;
  }
  int write(int op, const std::string& rec, int kn = 0) {
    std::string data = rec;
    std::uint32_t len = static_cast<std::uint32_t>(data.size());
    return BTRCALL(op, pb_, data.data(), len, key_, 255, kn);
  }
  int simple(int op) {
    std::uint32_t len = 0;
    return BTRCALL(op, pb_, nullptr, len, key_, 255, 0);
  }
  const std::string& record() const { return record_; }
  std::string code() const { return record_.substr(0, 8); }
  // The code of the record a read lands on, or the read's status.
  std::string at(int op, int kn, std::string_view keyValue = {}) {
    const int s = get(op, kn, keyValue);
    return s == 0 ? code() : "status " + std::to_string(s);
  }
  std::string key(std::size_t n) const { return std::string(key_, n); }
  char* pb() { return pb_; }

 private:
  void setKey(std::string_view v) {
    std::memset(key_, ' ', sizeof key_);
    std::memcpy(key_, v.data(), std::min(v.size(), sizeof key_));
  }
  std::size_t recordLength_;
  char pb_[128];
  char key_[255];
  std::string record_;
};

class SongFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "FRADA22.bt6";
    ASSERT_EQ(createFile(path_, testing::songFileDef()), 0);
    ASSERT_EQ(b_.open(path_), 0);
  }
  void insert(const Record& r, int status = 0) { ASSERT_EQ(b_.write(kInsert, r.bytes()), status); }
  // Codes met from `firstOp` along get next (or get previous) on key kn.
  std::vector<std::string> walk(int kn, int firstOp, std::string_view keyValue = {}, int stepOp = kGetNext) {
    std::vector<std::string> codes;
    for (int s = b_.get(firstOp, kn, keyValue); s == 0; s = b_.get(stepOp, kn)) codes.push_back(b_.code());
    return codes;
  }
  TestBase dir_;
  std::string path_;
  Block b_;
};

using Codes = std::vector<std::string>;

TEST_F(SongFile, DuplicatesComeBackInInsertionOrderBetweenTheirNeighbours) {
  // Category key (69:5, duplicates). Codes are inserted out of order so that
  // insertion order differs from code and position-independent orders.
  insert(song("S0000009", "ART01", "Nine", "ROCK "));
  insert(song("S0000003", "ART01", "Three", "JAZZ "));
  insert(song("S0000007", "ART01", "Seven", "ROCK "));
  insert(song("S0000001", "ART01", "One", "POP  "));
  insert(song("S0000005", "ART01", "Five", "ROCK "));
  insert(song("S0000002", "ART01", "Two", "JAZZ "));

  EXPECT_EQ(walk(4, kGetFirst), (Codes{"S0000003", "S0000002", "S0000001", "S0000009", "S0000007", "S0000005"}));
  EXPECT_EQ(walk(4, kGetLast, {}, kGetPrevious),
            (Codes{"S0000005", "S0000007", "S0000009", "S0000001", "S0000002", "S0000003"}));
  // Get equal lands on the first duplicate and returns its key.
  EXPECT_EQ(b_.at(kGetEqual, 4, "ROCK "), "S0000009");
  EXPECT_EQ(b_.key(5), "ROCK ");
  EXPECT_EQ(b_.get(kGetEqual, 4, "BLUES"), status::kKeyNotFound);
}

TEST_F(SongFile, GetGreaterOrEqualThenNextRunsThroughAllDuplicates) {
  insert(song("A0000001", "BBBBB", "t"));
  insert(song("A0000002", "DDDDD", "t"));
  insert(song("A0000003", "BBBBB", "t"));
  insert(song("A0000004", "CCCCC", "t"));
  insert(song("A0000005", "BBBBB", "t"));
  insert(song("A0000006", "CCCCC", "t"));

  // Between values: first duplicate of the next value, then all of them.
  EXPECT_EQ(walk(1, kGetGreaterOrEqual, "BBBBC"), (Codes{"A0000004", "A0000006", "A0000002"}));
  EXPECT_EQ(b_.key(5), "DDDDD");
  // On a value: its first duplicate.
  EXPECT_EQ(walk(1, kGetGreaterOrEqual, "BBBBB"),
            (Codes{"A0000001", "A0000003", "A0000005", "A0000004", "A0000006", "A0000002"}));
  // Greater skips every duplicate of the value given.
  EXPECT_EQ(walk(1, kGetGreater, "BBBBB"), (Codes{"A0000004", "A0000006", "A0000002"}));
  // Less or equal lands on the last duplicate, less on the last of the value below.
  EXPECT_EQ(b_.at(kGetLessOrEqual, 1, "CCCCC"), "A0000006");
  EXPECT_EQ(b_.at(kGetLess, 1, "CCCCC"), "A0000005");
  EXPECT_EQ(walk(1, kGetLessOrEqual, "CZZZZ", kGetPrevious),
            (Codes{"A0000006", "A0000004", "A0000005", "A0000003", "A0000001"}));
  EXPECT_EQ(b_.get(kGetGreaterOrEqual, 1, "EEEEE"), status::kEndOfFile);
  EXPECT_EQ(b_.get(kGetLess, 1, "BBBBB"), status::kEndOfFile);
  EXPECT_EQ(b_.get(kGetGreater, 1, "DDDDD"), status::kEndOfFile);
}

TEST_F(SongFile, UniqueKeyComparisonsAndEnds) {
  for (const char* c : {"K0000020", "K0000010", "K0000030"}) insert(song(c, "ART01", "t"));
  EXPECT_EQ(b_.at(kGetLessOrEqual, 0, "K0000025"), "K0000020");
  EXPECT_EQ(b_.at(kGetLessOrEqual, 0, "K0000020"), "K0000020");
  EXPECT_EQ(b_.at(kGetGreater, 0, "K0000020"), "K0000030");
  EXPECT_EQ(b_.at(kGetLess, 0, "K0000020"), "K0000010");
  EXPECT_EQ(b_.get(kGetLessOrEqual, 0, "K0000009"), status::kEndOfFile);

  // Get previous on the first record and get next on the last: end of file,
  // and the position stays usable.
  ASSERT_EQ(b_.get(kGetFirst, 0), 0);
  EXPECT_EQ(b_.get(kGetPrevious, 0), status::kEndOfFile);
  ASSERT_EQ(b_.get(kGetLast, 0), 0);
  EXPECT_EQ(b_.get(kGetNext, 0), status::kEndOfFile);
  EXPECT_EQ(b_.at(kGetPrevious, 0), "K0000020");
}

TEST_F(SongFile, EmptyFileAndPositioningErrors) {
  EXPECT_EQ(b_.get(kGetFirst, 0), status::kEndOfFile);
  EXPECT_EQ(b_.get(kGetNext, 0), status::kInvalidPositioning);  // no get yet
  EXPECT_EQ(b_.simple(kDelete), status::kInvalidPositioning);
  EXPECT_EQ(b_.write(kUpdate, song("X0000001", "A", "t").bytes()), status::kInvalidPositioning);
  insert(song("X0000001", "ART01", "t"));
  insert(song("X0000002", "ART01", "t"));
  ASSERT_EQ(b_.get(kGetEqual, 0, "X0000001"), 0);
  EXPECT_EQ(b_.get(kGetNext, 1), status::kKeyNumberChanged);
  EXPECT_EQ(b_.get(kGetEqual, 6, "X"), status::kBadKeyNumber);
  EXPECT_EQ(b_.get(kGetEqual, -1, "X"), status::kBadKeyNumber);
  EXPECT_EQ(b_.simple(99), status::kInvalidOperation);
  // The key path survives the refused calls.
  EXPECT_EQ(b_.at(kGetNext, 0), "X0000002");
}

TEST_F(SongFile, CaseInsensitiveTitlesFoldAccentedLetters) {
  // Titles in Windows-1252: "école" with e-acute (E9), "ÉCOLE" with E-acute (C9).
  insert(song("T0000001", "ART01", "\xE9" "cole des fans"));
  insert(song("T0000002", "ART01", "Zebra"));
  insert(song("T0000003", "ART01", "z\xE8" "bre"));  // z e-grave
  insert(song("T0000004", "ART01", "Ecole"));
  insert(song("T0000005", "ART01", "\xC9" "COLE DES FANS"));
  insert(song("T0000006", "ART01", "\x9C" "uvre"));  // oe ligature, folds to 8C

  // Folded (upper-case) bytes order them: "ECOLE" (45) < "ZEBRA" < "ZÈBRE"
  // (5A C8) < "ŒUVRE" (8C) < "ÉCOLE DES FANS" twice (C9), in insertion order.
  EXPECT_EQ(walk(5, kGetFirst), (Codes{"T0000004", "T0000002", "T0000003", "T0000006", "T0000001", "T0000005"}));
  // Different case and accents of the same letter find the same titles, and
  // the key returned is the record's own spelling.
  EXPECT_EQ(b_.at(kGetEqual, 5, "\xC9" "cole DES fans"), "T0000001");
  EXPECT_EQ(b_.key(20), pad("\xE9" "cole des fans", 20));
  EXPECT_EQ(b_.at(kGetNext, 5), "T0000005");
  EXPECT_EQ(b_.at(kGetEqual, 5, "\x8C" "UVRE"), "T0000006");
  EXPECT_EQ(b_.at(kGetEqual, 5, "Z\xC8" "BRE"), "T0000003");
  // An accent is not a case: "ecole" does not find "école".
  ASSERT_EQ(b_.get(kGetEqual, 5, "ecole des fans"), status::kKeyNotFound);
}

TEST(Fold1252, UpperCaseOfEveryLetterAndNothingElse) {
  // a, z, A, à, ç, þ, ÿ, š, ž; then the division sign, sharp s and the micro
  // sign, which have no capital here, and two signs beside the letters.
  const std::vector<std::pair<int, int>> folds = {{'a', 'A'}, {'z', 'Z'}, {'A', 'A'}, {0xE0, 0xC0}, {0xE7, 0xC7},
                                                  {0xFE, 0xDE}, {0xFF, 0x9F}, {0x9A, 0x8A}, {0x9E, 0x8E}, {0xF7, 0xF7},
                                                  {0xDF, 0xDF}, {0xB5, 0xB5}, {'{', '{'}, {'@', '@'}};
  for (const auto& [lower, upper] : folds) EXPECT_EQ(foldCase1252(static_cast<unsigned char>(lower)), upper) << lower;
}

TEST(SegmentedKeys, CaseInsensitiveSegmentsCombine) {
  TestBase dir;
  const std::string path = dir / "FRADA21.bt6";
  ASSERT_EQ(createFile(path, testing::typeFileDef()), 0);
  Block b(980);
  ASSERT_EQ(b.open(path), 0);
  auto entry = [](std::string_view type, std::string_view code, std::string_view name) {
    Record r(980);
    r.set(1, type).set(6, code).set(11, name);
    return r.bytes();
  };
  ASSERT_EQ(b.write(kInsert, entry("CATEG", "00001", "Rock")), 0);
  ASSERT_EQ(b.write(kInsert, entry("VOIX ", "00002", "rock")), 0);
  ASSERT_EQ(b.write(kInsert, entry("categ", "00003", "Chanson fran\xE7" "aise")), 0);
  ASSERT_EQ(b.write(kInsert, entry("CATEG", "00004", "ROCK")), 0);
  // The key is type (5) then name (10), both without regard to case.
  std::string search = pad("Categ", 5) + pad("rOCK", 10);
  std::vector<std::string> found;
  for (int s = b.get(kGetEqual, 1, search); s == 0; s = b.get(kGetNext, 1)) {
    if (b.record().substr(0, 5) != "CATEG" && b.record().substr(0, 5) != "categ") break;
    found.push_back(b.record().substr(5, 5));
  }
  EXPECT_EQ(found, (Codes{"00001", "00004"}));
  ASSERT_EQ(b.get(kGetEqual, 1, pad("CATEG", 5) + pad("CHANSON FRAN\xC7" "AISE", 10)), 0);
  EXPECT_EQ(b.record().substr(5, 5), "00003");
  EXPECT_EQ(b.key(15), "categChanson fr");
  // First segment alone does not make a key value of its own.
  EXPECT_EQ(b.get(kGetEqual, 1, pad("VOIX", 15)), status::kKeyNotFound);
}

TEST(SegmentedKeys, CaseSensitiveSegmentBeforeInsensitiveOne) {
  // Artists: a one-character flag (46:1, case-sensitive) followed by the
  // name (16:20, case-insensitive); each segment folds on its own.
  TestBase dir;
  FileDef def;
  def.recordLength = 300;
  def.pageSize = 1024;
  def.keys = {testing::key({{1, 5, 2}}), testing::key({{46, 1, 19}, {16, 20, 1027}})};
  const std::string path = dir / "FRADA20.bt6";
  ASSERT_EQ(createFile(path, def), 0);
  Block b(300);
  ASSERT_EQ(b.open(path), 0);
  auto artist = [](std::string_view code, std::string_view flag, std::string_view name) {
    Record r(300);
    r.set(1, code).set(16, name).set(46, flag);
    return r.bytes();
  };
  ASSERT_EQ(b.write(kInsert, artist("00001", "a", "Brel")), 0);
  ASSERT_EQ(b.write(kInsert, artist("00002", "A", "brel")), 0);
  ASSERT_EQ(b.write(kInsert, artist("00003", "a", "BREL")), 0);
  ASSERT_EQ(b.get(kGetEqual, 1, "A" + pad("BREL", 20)), 0);
  EXPECT_EQ(b.record().substr(0, 5), "00002");
  ASSERT_EQ(b.get(kGetNext, 1), 0);  // "a" (61) sorts after "A" (41)
  EXPECT_EQ(b.record().substr(0, 5), "00001");
  ASSERT_EQ(b.get(kGetNext, 1), 0);
  EXPECT_EQ(b.record().substr(0, 5), "00003");
  EXPECT_EQ(b.get(kGetNext, 1), status::kEndOfFile);
}

TEST_F(SongFile, UpdateMovesChangedKeysAndRefusesDuplicates) {
  insert(song("U0000001", "AAAAA", "Alpha", "ROCK "));
  insert(song("U0000002", "AAAAA", "Beta", "ROCK "));
  insert(song("U0000003", "AAAAA", "Gamma", "ROCK "));
  insert(song("U0000004", "AAAAA", "Delta", "JAZZ "));

  // A changed duplicate key is filed after the existing duplicates of its new value.
  ASSERT_EQ(b_.get(kGetEqual, 0, "U0000004"), 0);
  Record r = song("U0000004", "AAAAA", "Delta", "ROCK ");
  ASSERT_EQ(b_.write(kUpdate, r.bytes()), 0);
  // Moving back and forth changes the order: the record goes to the end again.
  ASSERT_EQ(b_.get(kGetEqual, 0, "U0000001"), 0);
  ASSERT_EQ(b_.write(kUpdate, song("U0000001", "AAAAA", "Alpha", "JAZZ ").bytes()), 0);
  ASSERT_EQ(b_.write(kUpdate, song("U0000001", "AAAAA", "Alpha", "ROCK ").bytes()), 0);
  EXPECT_EQ(walk(4, kGetEqual, "ROCK "), (Codes{"U0000002", "U0000003", "U0000004", "U0000001"}));
  // An unchanged duplicate key keeps its place.
  ASSERT_EQ(b_.get(kGetEqual, 0, "U0000002"), 0);
  ASSERT_EQ(b_.write(kUpdate, song("U0000002", "AAAAA", "Beta v2", "ROCK ").bytes()), 0);
  EXPECT_EQ(walk(4, kGetEqual, "ROCK "), (Codes{"U0000002", "U0000003", "U0000004", "U0000001"}));

  // Changing the code to one that exists: 5, record untouched.
  ASSERT_EQ(b_.get(kGetEqual, 0, "U0000003"), 0);
  const std::string before = b_.record();
  EXPECT_EQ(b_.write(kUpdate, song("U0000002", "AAAAA", "Gamma", "ROCK ").bytes()), status::kDuplicateKey);
  ASSERT_EQ(b_.get(kGetEqual, 0, "U0000003"), 0);
  EXPECT_EQ(b_.record(), before);
  EXPECT_EQ(b_.get(kGetEqual, 5, "Gamma"), 0);
  // Changing it to a free code works and the key path follows the record.
  ASSERT_EQ(b_.get(kGetEqual, 0, "U0000003"), 0);
  ASSERT_EQ(b_.write(kUpdate, song("U0000009", "AAAAA", "Gamma", "ROCK ").bytes()), 0);
  EXPECT_EQ(b_.get(kGetEqual, 0, "U0000003"), status::kKeyNotFound);
  ASSERT_EQ(b_.get(kGetEqual, 0, "U0000009"), 0);
  EXPECT_EQ(b_.get(kGetNext, 0), status::kEndOfFile);
  EXPECT_EQ(b_.at(kGetPrevious, 0), "U0000004");

  // Insert of an existing code: 5, nothing added.
  insert(song("U0000001", "ZZZZZ", "Other"), status::kDuplicateKey);
  EXPECT_EQ(b_.get(kGetEqual, 1, "ZZZZZ"), status::kKeyNotFound);
  EXPECT_EQ(b_.get(kGetEqual, 5, "Other"), status::kKeyNotFound);
  EXPECT_TRUE(CheckWhole(path_).ok);
}

TEST(KeyFlags, KeyWithoutModifiableFlagCannotChange) {
  TestBase dir;
  FileDef def;
  def.recordLength = 50;
  def.pageSize = 512;
  def.keys = {testing::key({{1, 5, 0}}), testing::key({{6, 5, 1}}), testing::key({{11, 5, 3}})};
  const std::string path = dir / "FRAD031.bt6";
  ASSERT_EQ(createFile(path, def), 0);
  Block b(50);
  ASSERT_EQ(b.open(path), 0);
  Record r(50);
  r.set(1, "AAAAA").set(6, "BBBBB").set(11, "CCCCC");
  ASSERT_EQ(b.write(kInsert, r.bytes()), 0);
  ASSERT_EQ(b.get(kGetEqual, 0, "AAAAA"), 0);
  Record changed = r;
  changed.set(1, "AAAAB");
  EXPECT_EQ(b.write(kUpdate, changed.bytes()), status::kKeyNotModifiable);
  changed = r;
  changed.set(6, "BBBBX");
  EXPECT_EQ(b.write(kUpdate, changed.bytes()), status::kKeyNotModifiable);
  changed = r;
  changed.set(11, "CCCCX").set(20, "payload");
  ASSERT_EQ(b.write(kUpdate, changed.bytes()), 0);
  ASSERT_EQ(b.get(kGetEqual, 2, "CCCCX"), 0);
  EXPECT_EQ(b.record().substr(0, 50), changed.bytes());
  EXPECT_EQ(b.get(kGetEqual, 0, "AAAAB"), status::kKeyNotFound);
  EXPECT_EQ(b.get(kGetEqual, 1, "BBBBX"), status::kKeyNotFound);
}

TEST(KeyFlags, RefusedInsertOnASecondUniqueKeyLeavesNoEntryBehind) {
  TestBase dir;
  FileDef def;
  def.recordLength = 30;
  def.pageSize = 512;
  def.keys = {testing::key({{1, 5, 2}}), testing::key({{6, 5, 3}}), testing::key({{11, 5, 2}})};
  const std::string path = dir / "FRAD046.bt6";
  ASSERT_EQ(createFile(path, def), 0);
  Block b(30);
  ASSERT_EQ(b.open(path), 0);
  auto rec = [](std::string_view a, std::string_view d, std::string_view c) {
    Record r(30);
    r.set(1, a).set(6, d).set(11, c);
    return r.bytes();
  };
  ASSERT_EQ(b.write(kInsert, rec("AAAAA", "DDDDD", "CCCCC")), 0);
  for (bool inTransaction : {false, true}) {
    if (inTransaction) {
      ASSERT_EQ(b.simple(kBeginTransaction), 0);
    }
    // Key 0 is free, key 2 is taken: nothing of the record may remain.
    EXPECT_EQ(b.write(kInsert, rec("BBBBB", "DDDDD", "CCCCC")), status::kDuplicateKey);
    EXPECT_EQ(b.get(kGetEqual, 0, "BBBBB"), status::kKeyNotFound);
    ASSERT_EQ(b.write(kInsert, rec("BBBBB", "DDDDD", "EEEEE")), 0);
    if (inTransaction) {
      ASSERT_EQ(b.simple(kEndTransaction), 0);
    } else {
      ASSERT_EQ(b.simple(kDelete), 0);
    }
  }
  ASSERT_EQ(b.close(), 0);
  const testing::Whole rep = CheckWhole(path);
  EXPECT_TRUE(rep.ok) << rep.problem;
  EXPECT_EQ(rep.records, 2u);
}

TEST_F(SongFile, DeleteKeepsTheKeyPathForNextAndPrevious) {
  for (const char* c : {"D0000001", "D0000002", "D0000003"}) insert(song(c, "ART01", "t", "ROCK "));
  ASSERT_EQ(b_.get(kGetEqual, 0, "D0000002"), 0);
  ASSERT_EQ(b_.get(kGetEqual, 4, "ROCK "), 0);
  EXPECT_EQ(b_.at(kGetNext, 4), "D0000002");
  ASSERT_EQ(b_.simple(kDelete), 0);
  EXPECT_EQ(b_.simple(kDelete), status::kInvalidPositioning);
  EXPECT_EQ(b_.at(kGetNext, 4), "D0000003");
  ASSERT_EQ(b_.simple(kDelete), 0);
  EXPECT_EQ(b_.at(kGetPrevious, 4), "D0000001");
  EXPECT_EQ(b_.get(kGetEqual, 0, "D0000002"), status::kKeyNotFound);
  EXPECT_EQ(walk(5, kGetFirst), (Codes{"D0000001"}));
  EXPECT_TRUE(CheckWhole(path_).ok);
}

TEST_F(SongFile, StepsFollowPhysicalOrderAndPositionsReachRecordsDirectly) {
  for (const char* c : {"P0000003", "P0000001", "P0000002"}) insert(song(c, "ART01", "t"));
  EXPECT_EQ(walk(0, kStepFirst, {}, kStepNext), (Codes{"P0000003", "P0000001", "P0000002"}));
  EXPECT_EQ(walk(0, kStepLast, {}, kStepPrevious), (Codes{"P0000002", "P0000001", "P0000003"}));
  // A step does not give get next a key path.
  ASSERT_EQ(b_.get(kStepFirst, 0), 0);
  EXPECT_EQ(b_.get(kGetNext, 0), status::kInvalidPositioning);

  ASSERT_EQ(b_.get(kGetEqual, 0, "P0000001"), 0);
  std::uint32_t pos = 0, len = 4;
  char key[255];
  ASSERT_EQ(BTRCALL(kGetPosition, b_.pb(), &pos, len, key, 255, 0), 0);
  EXPECT_EQ(len, 4u);
  // Step next from a keyed read continues physically.
  EXPECT_EQ(b_.at(kStepNext, 0), "P0000002");
  // Get direct returns that record and sets the key path of the key given.
  std::string data(900, '\0');
  std::memcpy(data.data(), &pos, 4);
  len = 900;
  ASSERT_EQ(BTRCALL(kGetDirect, b_.pb(), data.data(), len, key, 255, 0), 0);
  EXPECT_EQ(data.substr(0, 8), "P0000001");
  EXPECT_EQ(std::string(key, 8), "P0000001");
  EXPECT_EQ(b_.at(kGetNext, 0), "P0000002");
  // A position that holds nothing.
  std::uint32_t nowhere = 999999;
  std::memcpy(data.data(), &nowhere, 4);
  len = 900;
  EXPECT_EQ(BTRCALL(kGetDirect, b_.pb(), data.data(), len, key, 255, 0), status::kBadRecordAddress);
}

// Two opens of one file share the engine's cursors: each step must go on from
// its own handle's record, whoever moved the cursor last, and a write between
// two steps is seen by the next one.
TEST_F(SongFile, StepsOfTwoHandlesInTurnEachGoOnFromTheirOwnRecord) {
  for (const char* c : {"P0000001", "P0000002", "P0000003", "P0000004", "P0000005", "P0000006"})
    insert(song(c, "ART01", "t"));
  Block other;
  ASSERT_EQ(other.open(path_), 0);
  const auto step = [](Block& b, int op) { return b.get(op, 0) == 0 ? b.code() : std::string("end"); };
  EXPECT_EQ(step(b_, kStepFirst), "P0000001");
  EXPECT_EQ(step(other, kStepFirst), "P0000001");
  EXPECT_EQ(step(other, kStepNext), "P0000002");
  EXPECT_EQ(step(other, kStepNext), "P0000003");
  EXPECT_EQ(step(b_, kStepNext), "P0000002");
  EXPECT_EQ(step(other, kStepNext), "P0000004");
  EXPECT_EQ(step(b_, kStepPrevious), "P0000001");
  EXPECT_EQ(step(b_, kStepNext), "P0000002");
  EXPECT_EQ(step(b_, kStepNext), "P0000003");
  EXPECT_EQ(step(other, kStepPrevious), "P0000003");
  // The record after b_'s is deleted by the other handle between two steps.
  ASSERT_EQ(other.get(kGetEqual, 0, "P0000004"), 0);
  ASSERT_EQ(other.simple(kDelete), 0);
  EXPECT_EQ(step(b_, kStepNext), "P0000005");
  EXPECT_EQ(step(b_, kStepNext), "P0000006");
  EXPECT_EQ(step(b_, kStepNext), "end");
  EXPECT_EQ(step(b_, kStepPrevious), "P0000005");
  EXPECT_EQ(step(b_, kStepNext), "P0000006");
  // A record inserted while b_ stands on the last one comes next.
  ASSERT_EQ(other.write(kInsert, song("P0000007", "ART01", "t").bytes()), 0);
  EXPECT_EQ(step(b_, kStepNext), "P0000007");
  EXPECT_EQ(step(b_, kStepFirst), "P0000001");
  EXPECT_EQ(step(b_, kStepPrevious), "end");
  EXPECT_EQ(step(b_, kStepNext), "P0000002");
}

TEST_F(SongFile, AbortedTransactionLeavesNoTrace) {
  insert(song("R0000001", "ART01", "Keep", "ROCK "));
  insert(song("R0000002", "ART01", "Change", "ROCK "));
  ASSERT_EQ(b_.simple(kBeginTransaction), 0);
  EXPECT_EQ(b_.simple(kBeginConcurrentTransaction), status::kTransactionActive);
  insert(song("R0000003", "ART02", "New", "JAZZ "));
  ASSERT_EQ(b_.get(kGetEqual, 0, "R0000002"), 0);
  ASSERT_EQ(b_.write(kUpdate, song("R0000002", "ART03", "Changed", "JAZZ ").bytes()), 0);
  ASSERT_EQ(b_.get(kGetEqual, 0, "R0000001"), 0);
  ASSERT_EQ(b_.simple(kDelete), 0);
  // Inside the transaction its own changes are visible.
  EXPECT_EQ(walk(4, kGetEqual, "JAZZ "), (Codes{"R0000003", "R0000002"}));
  ASSERT_EQ(b_.simple(kAbortTransaction), 0);
  EXPECT_EQ(b_.simple(kAbortTransaction), status::kTransactionError);
  EXPECT_EQ(b_.simple(kEndTransaction), status::kTransactionError);

  EXPECT_EQ(walk(0, kGetFirst), (Codes{"R0000001", "R0000002"}));
  EXPECT_EQ(walk(4, kGetFirst), (Codes{"R0000001", "R0000002"}));
  EXPECT_EQ(walk(1, kGetFirst), (Codes{"R0000001", "R0000002"}));
  EXPECT_EQ(walk(5, kGetFirst), (Codes{"R0000002", "R0000001"}));
  ASSERT_EQ(b_.get(kGetEqual, 0, "R0000002"), 0);
  EXPECT_EQ(b_.record(), song("R0000002", "ART01", "Change", "ROCK ").bytes());
  EXPECT_EQ(b_.get(kGetEqual, 1, "ART02"), status::kKeyNotFound);
  EXPECT_EQ(b_.get(kGetEqual, 1, "ART03"), status::kKeyNotFound);
  EXPECT_TRUE(CheckWhole(path_).ok);

  // A committed transaction keeps everything.
  ASSERT_EQ(b_.simple(kBeginTransaction), 0);
  insert(song("R0000004", "ART04", "Committed"));
  ASSERT_EQ(b_.get(kGetEqual, 0, "R0000001"), 0);
  ASSERT_EQ(b_.simple(kDelete), 0);
  ASSERT_EQ(b_.simple(kEndTransaction), 0);
  EXPECT_EQ(walk(0, kGetFirst), (Codes{"R0000002", "R0000004"}));
  EXPECT_TRUE(CheckWhole(path_).ok);
}

TEST_F(SongFile, RecordReadInsideAnAbortedTransactionMustBeReadAgain) {
  insert(song("V0000001", "ART01", "t"));
  ASSERT_EQ(b_.simple(kBeginTransaction), 0);
  ASSERT_EQ(b_.get(kGetEqual, 0, "V0000001"), 0);
  ASSERT_EQ(b_.write(kUpdate, song("V0000001", "ART01", "inside").bytes()), 0);
  ASSERT_EQ(b_.simple(kAbortTransaction), 0);
  EXPECT_EQ(b_.write(kUpdate, song("V0000001", "ART01", "after").bytes()), status::kConflict);
  ASSERT_EQ(b_.get(kGetEqual, 0, "V0000001"), 0);
  ASSERT_EQ(b_.write(kUpdate, song("V0000001", "ART01", "after").bytes()), 0);
}

TEST_F(SongFile, TwoOpensOfOneFileSeeEachOthersChangesAndConflicts) {
  insert(song("C0000001", "ART01", "First"));
  Block other;
  ASSERT_EQ(other.open(path_), 0);
  ASSERT_EQ(other.get(kGetEqual, 0, "C0000001"), 0);
  ASSERT_EQ(b_.get(kGetEqual, 0, "C0000001"), 0);
  ASSERT_EQ(b_.write(kUpdate, song("C0000001", "ART01", "By b").bytes()), 0);
  // `other` read the record before that update.
  EXPECT_EQ(other.write(kUpdate, song("C0000001", "ART01", "By other").bytes()), status::kConflict);
  EXPECT_EQ(other.simple(kDelete), status::kConflict);
  ASSERT_EQ(other.get(kGetEqual, 0, "C0000001"), 0);
  EXPECT_EQ(other.record(), song("C0000001", "ART01", "By b").bytes());
  ASSERT_EQ(other.write(kUpdate, song("C0000001", "ART01", "By other").bytes()), 0);
  // Its own update does not make its next one a conflict.
  ASSERT_EQ(other.write(kUpdate, song("C0000001", "ART01", "Again").bytes()), 0);
  EXPECT_EQ(b_.simple(kDelete), status::kConflict);
  ASSERT_EQ(other.close(), 0);
  EXPECT_EQ(other.get(kGetFirst, 0), status::kNotOpen);
}

TEST_F(SongFile, ShortBuffersGiveStatusesAndChangeNothing) {
  insert(song("B0000001", "ART01", "Title"));
  // Read into a buffer shorter than the record: 22, the start of the record.
  std::string data(100, '\0');
  std::string keyBuf = pad("B0000001", 255);
  std::uint32_t len = 100;
  EXPECT_EQ(BTRCALL(kGetEqual, b_.pb(), data.data(), len, keyBuf.data(), 255, 0), status::kDataBufferTooShort);
  EXPECT_EQ(len, 100u);
  EXPECT_EQ(data.substr(0, 8), "B0000001");
  // Key buffer shorter than the key.
  len = 900;
  data.assign(900, '\0');
  EXPECT_EQ(BTRCALL(kGetEqual, b_.pb(), data.data(), len, keyBuf.data(), 7, 0), status::kKeyBufferTooShort);
  // Writes with a short record.
  const std::string before = Contents(path_);
  std::string shortRec = song("B0000002", "ART01", "Title").bytes().substr(0, 899);
  len = 899;
  EXPECT_EQ(BTRCALL(kInsert, b_.pb(), shortRec.data(), len, keyBuf.data(), 255, 0), status::kDataBufferTooShort);
  ASSERT_EQ(b_.get(kGetEqual, 0, "B0000001"), 0);
  len = 899;
  EXPECT_EQ(BTRCALL(kUpdate, b_.pb(), shortRec.data(), len, keyBuf.data(), 255, 0), status::kDataBufferTooShort);
  EXPECT_EQ(Contents(path_), before);
  EXPECT_EQ(walk(0, kGetFirst), (Codes{"B0000001"}));
}

TEST(PositionBlock, BlankOrForeignBlocksAreNotOpenFiles) {
  char pb[128];
  std::memset(pb, ' ', sizeof pb);
  std::uint32_t len = 0;
  char key[255] = {};
  EXPECT_EQ(BTRCALL(kGetFirst, pb, nullptr, len, key, 255, 0), status::kNotOpen);
  EXPECT_EQ(BTRCALL(kClose, pb, nullptr, len, key, 255, 0), status::kNotOpen);
  std::memset(pb, 0, sizeof pb);
  EXPECT_EQ(BTRCALL(kInsert, pb, nullptr, len, key, 255, 0), status::kNotOpen);
  // A closed block stays refused even if a copy of it was kept.
  TestBase dir;
  ASSERT_EQ(createFile(dir / "F.bt6", testing::songFileDef()), 0);
  Block b;
  ASSERT_EQ(b.open(dir / "F.bt6"), 0);
  char copy[128];
  std::memcpy(copy, b.pb(), 128);
  ASSERT_EQ(b.close(), 0);
  EXPECT_EQ(BTRCALL(kGetFirst, copy, nullptr, len, key, 255, 0), status::kNotOpen);
}

TEST(FileDefinition, CreationBlockLayout) {
  const std::vector<std::uint8_t> block = encodeFileDef(testing::songFileDef());
  ASSERT_EQ(block.size(), 160u);
  EXPECT_EQ(block[0] | block[1] << 8, 900);
  EXPECT_EQ(block[2] | block[3] << 8, 2048);
  EXPECT_EQ(block[4] | block[5] << 8, 6);
  // Key 5: position 24, length 20, flags 1027.
  EXPECT_EQ(block[16 + 5 * 16] | block[17 + 5 * 16] << 8, 24);
  EXPECT_EQ(block[18 + 5 * 16] | block[19 + 5 * 16] << 8, 20);
  EXPECT_EQ(block[20 + 5 * 16] | block[21 + 5 * 16] << 8, 1027);
  // Segmented flag on the first segment of a two-segment key only.
  const std::vector<std::uint8_t> two = encodeFileDef(testing::typeFileDef());
  EXPECT_EQ(two[16 + 16 + 4] | two[16 + 16 + 5] << 8, 1043);
  EXPECT_EQ(two[16 + 32 + 4] | two[16 + 32 + 5] << 8, 1027);
  FileDef back;
  ASSERT_EQ(decodeFileDef(two.data(), two.size(), back), 0);
  ASSERT_EQ(back.keys.size(), 2u);
  EXPECT_EQ(back.keys[1].segments.size(), 2u);
  EXPECT_EQ(back.keys[1].length(), 15u);
  EXPECT_TRUE(back.keys[1].duplicates());
}

TEST(FileDefinition, InvalidBlocksAreRefusedWithTheirStatus) {
  auto statusOf = [](FileDef d) {
    std::vector<std::uint8_t> b = encodeFileDef(d);
    FileDef out;
    return decodeFileDef(b.data(), b.size(), out);
  };
  FileDef d = testing::songFileDef();
  d.recordLength = 2;
  EXPECT_EQ(statusOf(d), status::kBadRecordLength);
  d = testing::songFileDef();
  d.pageSize = 1000;
  EXPECT_EQ(statusOf(d), status::kBadPageSize);
  d = testing::songFileDef();
  d.keys[5].segments[0].position = 890;  // 890 + 20 - 1 > 900
  EXPECT_EQ(statusOf(d), status::kBadKeyPosition);
  d = testing::songFileDef();
  d.keys[2].segments[0].position = 0;
  EXPECT_EQ(statusOf(d), status::kBadKeyPosition);
  d = testing::songFileDef();
  d.keys[1].segments[0].length = 0;
  EXPECT_EQ(statusOf(d), status::kBadKeyLength);
  d = testing::songFileDef();
  d.keys[1].segments = {{1, 200, 16}, {201, 100, 0}};  // 300 bytes in all
  EXPECT_EQ(statusOf(d), status::kBadKeyLength);
  // More keys announced than segments given.
  std::vector<std::uint8_t> b = encodeFileDef(testing::songFileDef());
  b.resize(16 + 6 * 16);
  b[4] = 7;
  FileDef out;
  EXPECT_EQ(decodeFileDef(b.data(), b.size(), out), status::kBadNumberOfKeys);
  // A refused block creates nothing.
  TestBase dir;
  std::string key = pad(dir / "FRADA22.bt6", 255);
  std::uint32_t len = static_cast<std::uint32_t>(b.size());
  EXPECT_EQ(BTRCALL(kCreate, nullptr, b.data(), len, key.data(), 255, 0), status::kBadNumberOfKeys);
  EXPECT_FALSE(FileExists(dir / "FRADA22.bt6"));
}

TEST(FileDefinition, StoredInTheFileAndReportedByStat) {
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
  {
    File f;
    ASSERT_EQ(f.open(path), 0);
    ASSERT_EQ(f.insert(song("S0000001", "ART01", "t", "ROCK ").bytes()), 0);
    ASSERT_EQ(f.insert(song("S0000002", "ART01", "t", "ROCK ").bytes()), 0);
    ASSERT_EQ(f.insert(song("S0000003", "ART02", "t", "JAZZ ").bytes()), 0);
  }
  File f;
  ASSERT_EQ(f.open(path), 0);
  EXPECT_EQ(f.recordLength(), 900u);
  FileDef def;
  std::uint64_t records = 0;
  std::vector<std::uint64_t> distinct;
  ASSERT_EQ(f.stat(def, records, &distinct), 0);
  EXPECT_EQ(records, 3u);
  ASSERT_EQ(def.keys.size(), 6u);
  EXPECT_EQ(def.keys[5].segments[0].flags, 1027);
  EXPECT_EQ(distinct, (std::vector<std::uint64_t>{3, 2, 1, 1, 2, 1}));
  // A second creation with "do not replace" keeps the file.
  EXPECT_EQ(createFile(path, testing::songFileDef(), false), status::kFileExists);
  // Replacing a file that is open is refused; once closed it is replaced.
  EXPECT_EQ(createFile(path, testing::songFileDef(), true), status::kFileLocked);
  f.close();
  ASSERT_EQ(createFile(path, testing::songFileDef(), true), 0);
  ASSERT_EQ(f.open(path), 0);
  ASSERT_EQ(f.stat(def, records), 0);
  EXPECT_EQ(records, 0u);
}

TEST(MapGrowth, FillsPastTheInitialMapInsideAndOutsideTransactions) {
  LMDB_ONLY("the memory map of an LMDB file");
  TestBase dir;
  const std::string path = dir / "FRADA22.bt6";
  setInitialMapSize(256 * 1024);
  ASSERT_EQ(createFile(path, testing::songFileDef()), 0);
  {
    File f;
    ASSERT_EQ(f.open(path), 0);
    char code[9];
    for (int i = 0; i < 1500; ++i) {
      std::snprintf(code, sizeof code, "G%07d", i);
      ASSERT_EQ(f.insert(song(code, "ART01", code, "ROCK ").bytes()), 0) << i;
    }
    ASSERT_EQ(f.beginTransaction(), 0);
    for (int i = 1500; i < 4000; ++i) {
      std::snprintf(code, sizeof code, "G%07d", i);
      ASSERT_EQ(f.insert(song(code, "ART02", code, "JAZZ ").bytes()), 0) << i;
    }
    ASSERT_EQ(f.endTransaction(), 0);
    std::string key = "G0000007", rec;
    ASSERT_EQ(f.get(kGetEqual, 0, key, rec), 0);
    ASSERT_EQ(f.update(song("G0000007", "ART03", "changed", "ROCK ").bytes()), 0);
  }
  setInitialMapSize(std::size_t(256) << 20);
  IntegrityReport rep = checkIntegrity(path);
  EXPECT_TRUE(rep.ok()) << (rep.problems.empty() ? "" : rep.problems[0]);
  EXPECT_EQ(rep.records, 4000u);
  File f;
  ASSERT_EQ(f.open(path), 0);
  std::string key = "G0003999", rec;
  ASSERT_EQ(f.get(kGetEqual, 0, key, rec), 0);
  EXPECT_EQ(rec.substr(8, 5), "ART02");
  key = "ART03";
  ASSERT_EQ(f.get(kGetEqual, 1, key, rec), 0);
  EXPECT_EQ(rec.substr(0, 8), "G0000007");
}

TEST(StatusText, EveryStatusOfTheLayerHasItsOwnText) {
  std::vector<std::string> seen;
  for (int s : {0, 2, 3, 4, 5, 6, 7, 8, 9, 12, 22, 30, 46, 80, 84, 85}) {
    std::string t = btrStatusText(s);
    EXPECT_NE(t, btrStatusText(-12345)) << s;
    EXPECT_EQ(std::find(seen.begin(), seen.end(), t), seen.end()) << s;
    seen.push_back(t);
  }
}

}  // namespace
}  // namespace sono::btr
