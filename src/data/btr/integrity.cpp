// Checking a file without LMDB: every page, every record against its check
// value, every key entry against its record.
#include <fcntl.h>
#include <lmdb.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <map>
#include <unordered_map>

#include "engine_internal.h"
#include "integrity_internal.h"
#include "layout.h"
#include "pages.h"

namespace sono::btr {

namespace {

using layout::getBE64;
using layout::getU64;
using layout::KeyInfo;
using layout::kMaxEntry;

constexpr std::size_t kMaxProblems = 100;
using integrity::Contents;
using integrity::statusOfErrno;

class ProblemList {
 public:
  explicit ProblemList(std::vector<std::string>& out) : out_(out) {}
  void add(std::string text) {
    ++count_;
    if (out_.size() < kMaxProblems) out_.push_back(std::move(text));
  }
  std::size_t count() const { return count_; }

 private:
  std::vector<std::string>& out_;
  std::size_t count_ = 0;
};

}  // namespace

IntegrityReport checkIntegrity(const std::string& path) {
  IntegrityReport rep;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    rep.status = statusOfErrno(errno);
    return rep;
  }
  const integrity::FdCloser closer{fd};
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    rep.status = S_ISDIR(st.st_mode) ? status::kInvalidFileName : status::kIoError;
    return rep;
  }
  pages::PageWalker walker(fd, static_cast<std::uint64_t>(st.st_size));
  if (!walker.readMeta()) {
    rep.status = status::kNotRecordManagerFile;
    return rep;
  }
  // The structure's problems come first in the report: they explain the others.
  std::vector<std::string> found;
  ProblemList problems(found);
  Contents c;
  // Key entries wait for their records: entry -> position, per key.
  std::vector<std::unordered_map<std::string, std::uint64_t>> entries;
  bool settled = false;
  std::uint8_t expected[kMaxEntry];
  std::vector<std::uint64_t> missingPerKey;  // counted, not listed: one damaged page can lose thousands
  walker.checkAll([&](const std::string& table, std::string_view key, std::string_view value) {
    if (table == "meta") {
      c.meta(key, value);
      return;
    }
    if (table.size() > 1 && table[0] == 'k') {
      const std::size_t n = static_cast<std::size_t>(std::atoi(table.c_str() + 1));
      if (entries.size() <= n) entries.resize(n + 1);
      if (value.size() != 8) {
        problems.add(fmt::format("key {}: entry of {} bytes", n, value.size()));
        return;
      }
      entries[n].emplace(std::string(key), getBE64(reinterpret_cast<const std::uint8_t*>(value.data())));
      return;
    }
    if (table != "rec") return;
    if (!settled) {
      settled = c.settle();
      if (!settled) return;
      if (entries.size() < c.keys.size()) entries.resize(c.keys.size());
    }
    ++rep.records;
    const auto* v = reinterpret_cast<const std::uint8_t*>(value.data());
    if (key.size() != 8) {
      problems.add(fmt::format("record table key of {} bytes", key.size()));
      return;
    }
    const std::uint64_t pos = getBE64(reinterpret_cast<const std::uint8_t*>(key.data()));
    if (value.size() != c.hdrLen + c.def.recordLength) {
      problems.add(fmt::format("record {} has {} bytes", pos, value.size()));
      return;
    }
    if (c.checked && !layout::RecordSealed(pos, v, c.hdrLen, c.def.recordLength))
      problems.add(fmt::format("record {} fails its check value", pos));
    if (c.haveNext && (pos >= c.next || getU64(v) >= c.next))
      problems.add(fmt::format("record {} is past the counter", pos));
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      const std::uint64_t seq = getU64(v + 8 + 8 * i);
      if (c.haveNext && seq >= c.next) problems.add(fmt::format("record {} key {} sequence past the counter", pos, i));
      const std::size_t n = layout::MakeEntry(c.keys[i], v + c.hdrLen, seq, expected);
      auto it = entries[i].find(std::string(reinterpret_cast<const char*>(expected), n));
      if (it == entries[i].end()) {
        if (missingPerKey.size() <= i) missingPerKey.resize(i + 1);
        if (missingPerKey[i]++ < 3) problems.add(fmt::format("record {} missing from key {}", pos, i));
      } else {
        if (it->second != pos) problems.add(fmt::format("key {} entry of record {} points elsewhere", i, pos));
        entries[i].erase(it);
      }
    }
  });
  rep.problems = walker.problems();
  if (walker.problemCount() > walker.problems().size())
    rep.problems.push_back(fmt::format("... and {} more page problems", walker.problemCount() - walker.problems().size()));
  if (!c.haveFormat || (c.format != layout::kFormatTag1 && c.format != layout::kFormatTag2))
    problems.add("format tag missing or unknown");
  if (!c.haveDef) problems.add("definition missing or unreadable");
  if (!c.haveNext) problems.add("counter missing");
  for (std::size_t i = 0; i < missingPerKey.size(); ++i)
    if (missingPerKey[i] > 3) problems.add(fmt::format("{} records in all missing from key {}", missingPerKey[i], i));
  if (walker.whole()) {
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (!entries[i].empty()) problems.add(fmt::format("key {} holds {} entries without a record", i, entries[i].size()));
  }
  for (std::string& p : found)
    if (rep.problems.size() < kMaxProblems) rep.problems.push_back(std::move(p));
  if (problems.count() > found.size()) rep.problems.push_back(fmt::format("... and {} more", problems.count() - found.size()));
  if (!rep.problems.empty()) rep.status = status::kIoError;
  return rep;
}

}  // namespace sono::btr
