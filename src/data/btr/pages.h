// Reading an LMDB file page by page, without LMDB and without a memory map.
//
// LMDB keeps no checksums, so a damaged page is only seen by looking at it.
// `PageWalker` reads the file with pread and checks its whole structure: the
// two meta pages, every tree (the free-page table, the main table and the
// named tables), page headers (number, kind), node bounds, key order inside a
// page and against the parent's separators, tree depth, the counts kept in
// each table's record, overflow runs, and that every page up to the last one
// is used exactly once (by a tree or in the free list). Nothing it reads can
// make it crash, loop or allocate without bound.
//
// The layout read here is LMDB 0.9's on 64-bit little-endian machines
// (16-byte page header, 8-byte nodes headers, 48-byte table records).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sono::btr::pages {

// A table's record (LMDB's MDB_db).
struct TableRecord {
  std::uint16_t flags = 0;
  std::uint16_t depth = 0;
  std::uint64_t branchPages = 0, leafPages = 0, overflowPages = 0, entries = 0;
  std::uint64_t root = ~std::uint64_t(0);
  bool empty() const { return root == ~std::uint64_t(0); }
};

// Called for every entry of a leaf page: key and value bytes.
using EntryFn = std::function<void(std::string_view key, std::string_view value)>;

class PageWalker {
 public:
  // `fd` stays the caller's; `size` is the file's size in bytes.
  PageWalker(int fd, std::uint64_t size);

  // Reads the two meta pages; false when neither is an LMDB meta page (the
  // file is not an LMDB file at all).
  bool readMeta();
  std::uint32_t pageSize() const { return psize_; }
  std::uint64_t lastPage() const { return lastPage_; }
  std::uint64_t txnId() const { return txnId_; }

  // Checks every tree and page. `onEntry(table, key, value)` sees the entries
  // of the named tables as they are walked (table "" is the main table).
  void checkAll(const std::function<void(const std::string& table, std::string_view key,
                                         std::string_view value)>& onEntry = {});

  // After checkAll: the named tables found, and their records.
  const std::vector<std::pair<std::string, TableRecord>>& tables() const { return tables_; }

  // After checkAll: the entries of every leaf page that no tree reaches and
  // the free list does not hold (the pages under a damaged branch), when the
  // page itself is whole. When a meta page was damaged the snapshot read may
  // be the one before the last, and the pages past its end (the last
  // transaction's) are looked at too.
  void orphanLeaves(const EntryFn& onEntry);

  // After checkAll: whether a page holds something (a meta page, a page of a
  // tree) as opposed to being free or past the last page.
  bool pageInUse(std::uint64_t pgno) const { return pgno < use_.size() && (use_[pgno] == 1 || use_[pgno] == 3); }

  // Problems found, in the order met (at most `kMaxProblems` kept, counted all).
  static constexpr std::size_t kMaxProblems = 100;
  const std::vector<std::string>& problems() const { return problems_; }
  std::size_t problemCount() const { return problemCount_; }
  bool whole() const { return problemCount_ == 0; }

 private:
  struct Page;
  bool read(std::uint64_t pgno, std::vector<std::uint8_t>& buf, std::uint64_t count = 1);
  void problem(const std::string& text);
  bool claim(std::uint64_t pgno, std::uint64_t count, const std::string& where);
  // Walks one tree; false when it had to stop on a damaged page.
  bool walk(const std::string& name, const TableRecord& table, const EntryFn& onEntry);
  bool leafValue(const std::string& where, const std::uint8_t* node, std::size_t nodeRoom,
                 std::string& value, bool claimPages);

  int fd_;
  std::uint64_t size_;
  std::uint32_t psize_ = 0;
  std::uint64_t lastPage_ = 0;
  std::uint64_t txnId_ = 0;
  bool metaDamaged_ = false;
  TableRecord free_, main_;
  std::vector<std::uint8_t> use_;  // per page: 0 unused, 1 in a tree, 2 free, 3 meta
  std::vector<std::pair<std::string, TableRecord>> tables_;
  std::vector<std::string> problems_;
  std::size_t problemCount_ = 0;
};

// Decodes a 48-byte table record.
bool DecodeTableRecord(std::string_view bytes, TableRecord& out);

}  // namespace sono::btr::pages
