// The PostgreSQL engine against the LMDB engine: long seeded random
// sequences of calls run on both, and every call must give the same status,
// record bytes, returned length and key buffer. Records carry duplicates,
// Windows-1252 accented and case-differing keys, segmented and descending
// segments, a key that cannot change; two handles on one file make records
// change under each other (80), and transactions over two files commit and
// abort. Another workstation (a child process) changes records between the
// steps of a walk: once its change is heard, no engine gives the stale record.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "base_changes.h"
#include "btr.h"
#include "pg_test_base.h"
#include "test_util.h"

namespace sono::btr::testing {
namespace {

constexpr std::size_t kRecordLength = 48;

// k0 unique code (1:6), k1 duplicates (7:3), k2 case-insensitive duplicates
// segmented with a descending part (10:5 + 15:2), k3 unique, not modifiable
// (17:4), k4 case-insensitive unique (21:3).
FileDef DiffFileDef() {
  FileDef d;
  d.recordLength = kRecordLength;
  d.pageSize = 1024;
  d.keys = {key({{1, 6, kKeyModifiable}}),
            key({{7, 3, kKeyModifiable | kKeyDuplicates}}),
            key({{10, 5, kKeyModifiable | kKeyDuplicates | kKeyCaseInsensitive},
                 {15, 2, kKeyModifiable | kKeyDuplicates | kKeyDescending}}),
            key({{17, 4, 0}}),
            key({{21, 3, kKeyModifiable | kKeyCaseInsensitive}})};
  return d;
}

// Letters whose Windows-1252 upper and lower cases fold together, accented
// ones included (é/É, à/À, œ/Œ, ÿ/Ÿ, ç/Ç), and a few plain ones.
const std::string kAlphabet = "aAbB\xE9\xC9\xE0\xC0\x9C\x8C\xFF\x9F\xE7\xC7zZ ";

// Handles 0 and 1 on one file, handle 2 on a second file of the base.
constexpr int kHandles = 3;
struct Side {
  char block[kHandles][kPositionBlockSize];
};

struct Outcome {
  int status = 0;
  std::string data;
  std::string key;
  bool operator==(const Outcome&) const = default;
};

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class Sequence {
 public:
  explicit Sequence(std::uint64_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < std::size_t(percent); }

  std::string text(std::size_t n, std::size_t letters) {
    std::string s(n, ' ');
    for (char& c : s) c = kAlphabet[below(std::min(letters, kAlphabet.size()))];
    return s;
  }

  // Few distinct values per key: duplicates and collisions are frequent.
  std::string record() {
    std::string r(kRecordLength, '.');
    r.replace(0, 6, text(6, 3));
    r.replace(6, 3, text(3, 2));
    r.replace(9, 5, text(5, 2));
    r.replace(14, 2, text(2, 3));
    r.replace(16, 4, text(4, 4));
    r.replace(20, 3, text(3, 6));
    for (std::size_t i = 23; i < kRecordLength; ++i) r[i] = static_cast<char>(below(256));
    return r;
  }

  // A change of a known record: sometimes one key, sometimes only the
  // bytes that belong to no key.
  std::string changed(std::string r) {
    switch (below(5)) {
      case 0: r.replace(0, 6, text(6, 3)); break;
      case 1: r.replace(6, 3, text(3, 2)); break;
      case 2: r.replace(9, 7, text(7, 3)); break;
      case 3: r.replace(16, 4, text(4, 4)); break;
      default: r[30] = static_cast<char>(below(256)); break;
    }
    if (chance(20)) r.replace(20, 3, text(3, 6));
    return r;
  }

 private:
  std::mt19937_64 rng_;
};

// Another workstation: a child process with a handle of its own on the
// first file of each side, making the same change on both when asked.
class OtherStation {
 public:
  enum Change : char { kAdd = 'i', kChange = 'u', kRemove = 'd' };
  static constexpr std::size_t kCodeLength = 6;

  OtherStation(const std::string& lmdbPath, const std::string& pgPath) {
    if (pipe(ask_) != 0 || pipe(answer_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      ::close(ask_[1]);
      ::close(answer_[0]);
      _exit(Serve(lmdbPath, pgPath));
    }
    ::close(ask_[0]);
    ::close(answer_[1]);
  }
  ~OtherStation() {
    if (pid_ <= 0) return;
    ::close(ask_[1]);  // end of requests: the child closes its files and leaves
    int st = 0;
    waitpid(pid_, &st, 0);
    ::close(answer_[0]);
  }
  bool running() const { return pid_ > 0; }

  // The change on the LMDB side, then on the PostgreSQL side: their statuses
  // (-1 when the child is gone). `code` finds the record changed or removed.
  std::pair<int, int> make(Change kind, const std::string& code, const std::string& record) {
    std::string ask(1, char(kind));
    ask += code.substr(0, kCodeLength);
    ask += record;
    ask.resize(1 + kCodeLength + kRecordLength, '.');
    int got[2] = {-1, -1};
    if (write(ask_[1], ask.data(), ask.size()) != ssize_t(ask.size()) || read(answer_[0], got, sizeof got) != sizeof got)
      return {-1, -1};
    return {got[0], got[1]};
  }

 private:
  static int Apply(File& f, char kind, const std::string& code, const std::string& record) {
    if (kind == kAdd) return f.insert(record);
    std::string key = code, found;
    if (int s = f.get(kGetEqual, 0, key, found)) return s;
    return kind == kChange ? f.update(record) : f.remove();
  }
  int Serve(const std::string& lmdbPath, const std::string& pgPath) {
    File sides[2];
    if (sides[0].open(lmdbPath) != 0 || sides[1].open(pgPath) != 0) return 2;
    std::string ask(1 + kCodeLength + kRecordLength, '\0');
    while (read(ask_[0], ask.data(), ask.size()) == ssize_t(ask.size())) {
      const std::string code = ask.substr(1, kCodeLength), record = ask.substr(1 + kCodeLength);
      int got[2];
      for (int side = 0; side < 2; ++side) got[side] = Apply(sides[side], ask[0], code, record);
      if (write(answer_[1], got, sizeof got) != sizeof got) return 3;
    }
    return 0;
  }

  int ask_[2] = {-1, -1}, answer_[2] = {-1, -1};
  pid_t pid_ = -1;
};

class Differential : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    pg_ = std::make_unique<PgBaseForTest>("diff");
    ASSERT_EQ(pg_->error(), "");
    for (const char* name : {"FRADA99.bt6", "FRADB99.bt6"}) {
      lmdbPaths_.push_back(dir_.path() + "/" + name);
      pgPaths_.push_back(pg_->path(name));
    }
  }
  void TearDown() override {
    for (Side* s : {&lmdb_, &pgSide_})
      for (char* b : s->block) {
        std::uint32_t none = 0;
        BTRCALL(kClose, b, nullptr, none, nullptr, 0, 0);
      }
  }

  // One call on one side: the record bytes and key buffer it gave back.
  static Outcome Call(Side& side, int handle, int op, const std::string& dataIn, std::uint32_t room,
                      const std::string& keyIn, int keyNumber) {
    std::string data = dataIn;
    data.resize(std::max<std::size_t>(room, 4), '\0');
    std::string keyBuf = keyIn;
    keyBuf.resize(kMaxKeyLength, '\0');
    std::uint32_t len = room;
    Outcome o;
    o.status = BTRCALL(op, side.block[handle], data.data(), len, keyBuf.data(), int(keyBuf.size()), keyNumber);
    data.resize(std::min<std::size_t>(len, data.size()));
    o.data = data;
    o.key = keyBuf;
    return o;
  }

  // Runs `count` random calls; false (with the seed and the call) at the
  // first difference.
  void Run(std::uint64_t seed, int count) {
    for (Side* s : {&lmdb_, &pgSide_})
      for (char* b : s->block) std::memset(b, ' ', kPositionBlockSize);
    const std::vector<std::uint8_t> block = encodeFileDef(DiffFileDef());
    for (const auto& [side, paths] : {std::pair{&lmdb_, lmdbPaths_}, std::pair{&pgSide_, pgPaths_}}) {
      std::string def(block.begin(), block.end());
      for (const std::string& path : paths)
        ASSERT_EQ(Call(*side, 0, kCreate, def, std::uint32_t(def.size()), path, 0).status, 0) << path;
      for (int h = 0; h < kHandles; ++h) {
        const std::string& path = paths[h < 2 ? 0 : 1];
        ASSERT_EQ(Call(*side, h, kOpen, "", 0, path, 0).status, 0) << path;
      }
    }
    OtherStation other(lmdbPaths_[0], pgPaths_[0]);
    ASSERT_TRUE(other.running());
    Sequence seq(seed);
    std::vector<std::string> known;       // records read or written: values to search and to change
    std::vector<std::string> positions;   // 4-byte positions from get position
    bool inTransaction = false;
    int lastKey[kHandles] = {0, 0, 0};  // per handle, the key of its last keyed read
    int walk = 0, walkOp = 0, walkHandle = 0;  // a run of get next/previous along one key
    for (int i = 0; i < count; ++i) {
      int handle = int(seq.below(kHandles));
      int kn = int(seq.below(5));
      std::string data, key;
      std::uint32_t room = kRecordLength;
      int op;
      const std::size_t pick = walk > 0 ? 50 : seq.below(100);
      if (walk > 0 && !inTransaction && seq.chance(15)) {
        OtherChange(other, seq, known, seed, i);
        if (HasFailure()) return;
      }
      if (walk > 0) {
        --walk;
        op = walkOp;
        handle = walkHandle;
        kn = lastKey[handle];
      } else if (pick < 22) {
        op = kInsert;
        data = !known.empty() && seq.chance(25) ? seq.changed(known[seq.below(known.size())]) : seq.record();
        if (seq.chance(10)) kn = -1;
      } else if (pick < 34) {
        op = kUpdate;
        data = seq.changed(known.empty() ? seq.record() : known[seq.below(known.size())]);
      } else if (pick < 40) {
        op = kDelete;
      } else if (pick < 72) {
        static constexpr int kGets[] = {kGetEqual,        kGetNext, kGetPrevious,    kGetGreater, kGetGreaterOrEqual,
                                        kGetLess,         kGetLessOrEqual, kGetFirst, kGetLast};
        op = kGets[seq.below(std::size(kGets))];
        if ((op == kGetNext || op == kGetPrevious) && seq.chance(70)) {
          walk = int(seq.below(12));
          walkOp = op;
          walkHandle = handle;
        }
        if ((op == kGetNext || op == kGetPrevious) && seq.chance(90)) kn = lastKey[handle];
        // The search value: a known record's key, or a random one.
        const std::string source = !known.empty() && seq.chance(70) ? known[seq.below(known.size())] : seq.record();
        const FileDef def = DiffFileDef();
        for (const KeySegment& s : def.keys[kn].segments) key += source.substr(s.position - 1, s.length);
        if (seq.chance(5)) room = 10;  // too short a buffer: 22, and the bytes that fit
      } else if (pick < 84) {
        static constexpr int kSteps[] = {kStepFirst, kStepLast, kStepNext, kStepPrevious};
        op = kSteps[seq.below(std::size(kSteps))];
      } else if (pick < 88) {
        op = kGetPosition;
        room = 4;
      } else if (pick < 92) {
        op = kGetDirect;
        if (positions.empty()) continue;
        data = positions[seq.below(positions.size())];
        if (seq.chance(10)) data = std::string("\x7f\x7f\x00\x00", 4);  // no such position
        kn = int(seq.below(6)) - 1;
      } else if (pick < 94) {
        op = kStat;
        room = 512;
      } else {
        op = inTransaction ? (seq.chance(50) ? kEndTransaction : kAbortTransaction) : kBeginTransaction;
        if (seq.chance(5)) op = kBeginTransaction;  // a second begin: 37
      }
      const Outcome a = Call(lmdb_, handle, op, data, room, key, kn);
      const Outcome b = Call(pgSide_, handle, op, data, room, key, kn);
      if (!(a == b)) {
        ADD_FAILURE() << "seed " << seed << ", call " << i << ": operation " << op << ", handle " << handle
                      << ", key " << kn << "\n  LMDB:       status " << a.status << " data " << Hex(a.data)
                      << " key " << Hex(a.key.substr(0, 24)) << "\n  PostgreSQL: status " << b.status << " data "
                      << Hex(b.data) << " key " << Hex(b.key.substr(0, 24));
        return;
      }
      if (op == kBeginTransaction && a.status == 0) inTransaction = true;
      if ((op == kEndTransaction || op == kAbortTransaction) && a.status == 0) inTransaction = false;
      if (a.status == 0 && a.data.size() == kRecordLength) known.push_back(a.data);
      if ((op == kInsert || op == kUpdate) && a.status == 0) known.push_back(data);
      if (op == kGetPosition && a.status == 0) positions.push_back(a.data);
      if (op >= kGetEqual && op <= kGetLast && a.status == 0) lastKey[handle] = kn;
      if (known.size() > 400) known.erase(known.begin(), known.begin() + 200);
      ++compared_;
      if (a.status == 0) ++succeeded_;
    }
    if (inTransaction) {
      ASSERT_EQ(Call(lmdb_, 0, kEndTransaction, "", 0, "", 0).status, 0);
      ASSERT_EQ(Call(pgSide_, 0, kEndTransaction, "", 0, "", 0).status, 0);
    }
    // Both engines hold the same records at the same positions.
    for (int handle : {0, 2})
      for (int op = kStepFirst;; op = kStepNext) {
        const Outcome a = Call(lmdb_, handle, op, "", kRecordLength, "", 0);
        const Outcome b = Call(pgSide_, handle, op, "", kRecordLength, "", 0);
        ASSERT_EQ(a, b) << "seed " << seed << ": final scan of handle " << handle;
        const Outcome pa = Call(lmdb_, handle, kGetPosition, "", 4, "", 0);
        ASSERT_EQ(pa, Call(pgSide_, handle, kGetPosition, "", 4, "", 0)) << "seed " << seed << ": final scan";
        if (a.status != 0) break;
      }
  }

  // Another station changes a record of the first file (a new one, one
  // known, or one it removes), the same on both sides; this station waits
  // until it has heard of it, as a workstation's grid would.
  void OtherChange(OtherStation& other, Sequence& seq, std::vector<std::string>& known, std::uint64_t seed, int i) {
    const std::string source = known.empty() ? seq.record() : known[seq.below(known.size())];
    const auto kind = static_cast<OtherStation::Change>(
        "iud"[known.empty() ? 0 : seq.below(3)]);
    const std::string record = kind == OtherStation::kAdd ? seq.record() : seq.changed(source);
    const auto [onLmdb, onPg] = other.make(kind, source, record);
    ASSERT_EQ(onLmdb, onPg) << "seed " << seed << ", call " << i << ": the other station's change " << char(kind);
    ++othersChanges_;
    if (onLmdb != 0) return;
    if (kind != OtherStation::kRemove) known.push_back(record);
    const std::string name = "FRADA99.bt6";
    const std::vector<std::string> lmdbHeard = TakeBaseChanges(FolderOf(lmdbPaths_[0])).files;
    EXPECT_EQ(lmdbHeard, std::vector<std::string>{name}) << "seed " << seed << ", call " << i;
    bool heard = false;
    for (auto start = std::chrono::steady_clock::now();
         !heard && std::chrono::steady_clock::now() - start < std::chrono::seconds(2);) {
      for (const std::string& f : TakeBaseChanges(FolderOf(pgPaths_[0])).files) heard = heard || f == name;
      if (!heard) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(heard) << "seed " << seed << ", call " << i << ": the other station's commit was not heard";
  }

  static std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

  TempDir dir_;
  std::unique_ptr<PgBaseForTest> pg_;
  std::vector<std::string> lmdbPaths_, pgPaths_;
  Side lmdb_{}, pgSide_{};
  int compared_ = 0, succeeded_ = 0, othersChanges_ = 0;
};

TEST_F(Differential, RandomSequencesGiveTheSameResultsOnBothEngines) {
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    Run(seed, 1800);
    if (HasFailure()) return;
    TearDown();
  }
  // The sequences did exercise the engines, not only their refusals.
  EXPECT_GT(succeeded_, compared_ / 3);
  EXPECT_GT(othersChanges_, 30);
  std::cout << compared_ << " calls compared, " << succeeded_ << " succeeded, " << othersChanges_
            << " changes by another station\n";
}

}  // namespace
}  // namespace sono::btr::testing
