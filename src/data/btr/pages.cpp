#include "pages.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fmt/format.h>

namespace sono::btr::pages {

namespace {

// LMDB 0.9 on-disk constants.
constexpr std::uint32_t kMagic = 0xBEEFC0DEu;
constexpr std::uint32_t kDataVersion = 1;
constexpr std::size_t kPageHeader = 16;
constexpr std::size_t kNodeHeader = 8;
constexpr std::size_t kTableRecord = 48;
constexpr std::uint16_t kBranch = 0x01, kLeaf = 0x02, kOverflow = 0x04, kMeta = 0x08;
constexpr std::uint16_t kBigData = 0x01, kSubData = 0x02, kDupData = 0x04;
constexpr std::uint16_t kIntegerKey = 0x08;
constexpr std::uint16_t kTableFlagsRead = kIntegerKey;  // flags of tables this walker can order
constexpr std::uint16_t kMaxDepth = 32;                   // LMDB's cursor stack
constexpr std::uint8_t kUnused = 0, kInTree = 1, kFree = 2, kMetaPage = 3;
// Offsets in a meta page.
constexpr std::size_t kMetaMagic = 16, kMetaVersion = 20, kMetaFree = 40, kMetaMain = 88,
                      kMetaLastPage = 136, kMetaTxn = 144, kMetaEnd = 152;

template <class T>
T get(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::uint64_t get48(const std::uint8_t* p) { return get<std::uint64_t>(p); }

std::size_t even(std::size_t n) { return (n + 1) & ~std::size_t(1); }

int compareKeys(std::string_view a, std::string_view b, bool integer) {
  if (integer && a.size() == b.size() && (a.size() == 8 || a.size() == 4)) {
    const std::uint64_t x = a.size() == 8 ? get<std::uint64_t>(reinterpret_cast<const std::uint8_t*>(a.data()))
                                          : get<std::uint32_t>(reinterpret_cast<const std::uint8_t*>(a.data()));
    const std::uint64_t y = b.size() == 8 ? get<std::uint64_t>(reinterpret_cast<const std::uint8_t*>(b.data()))
                                          : get<std::uint32_t>(reinterpret_cast<const std::uint8_t*>(b.data()));
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// One branch or leaf page, checked for itself: header, node bounds, nodes
// packed from `upper` to the end of the page, keys in order.
struct Node {
  std::size_t offset;
  std::uint16_t flags;
  std::string_view key;
  std::uint64_t lowHigh;  // data size (leaf) or, with the flags, the child page (branch)
};

// Returns an empty string when whole, else what is wrong.
std::string parsePage(const std::vector<std::uint8_t>& page, std::uint64_t pgno, std::uint16_t kind,
                      bool integer, std::vector<Node>& nodes) {
  nodes.clear();
  const std::size_t psize = page.size();
  const std::uint8_t* p = page.data();
  if (get<std::uint64_t>(p) != pgno)
    return fmt::format("its header gives page {} (page overwritten or out of place)", get<std::uint64_t>(p));
  const std::uint16_t flags = get<std::uint16_t>(p + 10);
  if (flags != kind) return fmt::format("page kind {:#x} where {:#x} was expected", flags, kind);
  const std::uint16_t lower = get<std::uint16_t>(p + 12), upper = get<std::uint16_t>(p + 14);
  if (lower < kPageHeader || (lower & 1) || lower > upper || upper > psize)
    return fmt::format("free-space bounds {}..{} impossible", lower, upper);
  const std::size_t count = (lower - kPageHeader) / 2;
  if (count == 0) return "no entries";
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  spans.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = get<std::uint16_t>(p + kPageHeader + 2 * i);
    if (at < upper || (at & 1) || at + kNodeHeader > psize) return fmt::format("entry {} starts outside the page", i);
    const std::uint8_t* n = p + at;
    const std::uint16_t lo = get<std::uint16_t>(n), hi = get<std::uint16_t>(n + 2);
    const std::uint16_t nflags = get<std::uint16_t>(n + 4), ksize = get<std::uint16_t>(n + 6);
    std::size_t size = kNodeHeader + ksize;
    Node node{at, nflags, {}, std::uint64_t(lo) | (std::uint64_t(hi) << 16)};
    if (kind == kLeaf) size += (nflags & kBigData) ? 8 : node.lowHigh;
    else node.lowHigh |= std::uint64_t(nflags) << 32;
    if (at + size > psize) return fmt::format("entry {} runs past the page", i);
    node.key = std::string_view(reinterpret_cast<const char*>(n + kNodeHeader), ksize);
    spans.emplace_back(at, even(size));
    nodes.push_back(node);
  }
  std::sort(spans.begin(), spans.end());
  std::size_t next = upper;
  for (const auto& [at, size] : spans) {
    if (at != next) return "entries overlap or leave a gap";
    next = at + size;
  }
  if (next != psize) return "entries do not fill the page";
  // A branch's first entry carries no key.
  for (std::size_t i = kind == kBranch ? 2 : 1; i < nodes.size(); ++i)
    if (compareKeys(nodes[i - 1].key, nodes[i].key, integer) >= 0) return fmt::format("entry {} out of order", i);
  for (std::size_t i = kind == kBranch ? 1 : 0; i < nodes.size(); ++i)
    if (nodes[i].key.empty()) return fmt::format("entry {} has an empty key", i);
  return {};
}

}  // namespace

bool DecodeTableRecord(std::string_view bytes, TableRecord& out) {
  if (bytes.size() != kTableRecord) return false;
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  out.flags = get<std::uint16_t>(p + 4);
  out.depth = get<std::uint16_t>(p + 6);
  out.branchPages = get48(p + 8);
  out.leafPages = get48(p + 16);
  out.overflowPages = get48(p + 24);
  out.entries = get48(p + 32);
  out.root = get48(p + 40);
  return true;
}

PageWalker::PageWalker(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

void PageWalker::problem(const std::string& text) {
  ++problemCount_;
  if (problems_.size() < kMaxProblems) problems_.push_back(text);
}

bool PageWalker::read(std::uint64_t pgno, std::vector<std::uint8_t>& buf, std::uint64_t count) {
  const std::uint64_t bytes = count * psize_;
  if (pgno > lastPage_ || count > lastPage_ + 1 - pgno) return false;
  buf.resize(bytes);
  std::uint64_t done = 0;
  while (done < bytes) {
    const ssize_t n = ::pread(fd_, buf.data() + done, bytes - done, static_cast<off_t>(pgno * psize_ + done));
    if (n <= 0) return false;
    done += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool PageWalker::readMeta() {
  // Meta page 0 gives the page size; when it is damaged, meta page 1 is
  // looked for at every page size LMDB allows.
  struct Meta {
    bool valid = false;
    std::uint32_t psize = 0;
    std::uint64_t lastPage = 0, txn = 0;
    TableRecord free, main;
  };
  auto parse = [](const std::uint8_t* p, std::uint64_t pgno, Meta& m) {
    if (get<std::uint64_t>(p) != pgno || get<std::uint16_t>(p + 10) != kMeta) return;
    if (get<std::uint32_t>(p + kMetaMagic) != kMagic || get<std::uint32_t>(p + kMetaVersion) != kDataVersion) return;
    const auto record = [&](std::size_t at, TableRecord& t) {
      DecodeTableRecord(std::string_view(reinterpret_cast<const char*>(p + at), kTableRecord), t);
    };
    record(kMetaFree, m.free);
    record(kMetaMain, m.main);
    m.psize = get<std::uint32_t>(p + kMetaFree);
    m.lastPage = get<std::uint64_t>(p + kMetaLastPage);
    m.txn = get<std::uint64_t>(p + kMetaTxn);
    m.valid = m.psize >= 512 && m.psize <= 65536 && (m.psize & (m.psize - 1)) == 0;
  };
  std::uint8_t head[kMetaEnd];
  Meta metas[2];
  if (::pread(fd_, head, sizeof head, 0) == ssize_t(sizeof head)) parse(head, 0, metas[0]);
  for (std::uint32_t ps = 512; ps <= 65536; ps *= 2) {
    if (metas[0].valid && ps != metas[0].psize) continue;
    if (::pread(fd_, head, sizeof head, ps) != ssize_t(sizeof head)) continue;
    Meta m;
    parse(head, 1, m);
    if (m.valid && m.psize == ps) {
      metas[1] = m;
      break;
    }
  }
  if (!metas[0].valid && !metas[1].valid) return false;
  for (int i = 0; i < 2; ++i)
    if (!metas[i].valid) {
      problem(fmt::format("meta page {} is damaged", i));
      metaDamaged_ = true;
    }
  const Meta& m = !metas[1].valid || (metas[0].valid && metas[0].txn >= metas[1].txn) ? metas[0] : metas[1];
  psize_ = m.psize;
  lastPage_ = m.lastPage;
  txnId_ = m.txn;
  free_ = m.free;
  main_ = m.main;
  if (metas[0].valid && metas[1].valid && metas[0].psize != metas[1].psize)
    problem("the two meta pages disagree on the page size");
  // Transaction N writes meta page N % 2: the two hold consecutive numbers
  // of their own parity (both 0 in a file never written). Anything else is a
  // damaged number, which could make LMDB read an older snapshot.
  if (metas[0].valid && metas[1].valid) {
    const std::uint64_t t0 = metas[0].txn, t1 = metas[1].txn;
    const bool fresh = t0 == 0 && t1 == 0;
    if (!fresh && (t0 % 2 != 0 || t1 % 2 != 1 || (t0 > t1 ? t0 - t1 : t1 - t0) != 1))
      problem(fmt::format("meta pages hold transactions {} and {}", t0, t1));
  }
  const std::uint64_t pagesInFile = size_ / psize_;
  // Compared without adding 1: a damaged number near 2^64 would wrap to 0.
  if (lastPage_ >= pagesInFile) {
    problem(fmt::format("the file holds {} pages, its last used page is {} (file cut short)", pagesInFile, lastPage_));
    lastPage_ = pagesInFile ? pagesInFile - 1 : 0;
  }
  use_.assign(lastPage_ + 1, kUnused);
  for (std::uint64_t i = 0; i < 2 && i <= lastPage_; ++i) use_[i] = kMetaPage;
  return true;
}

bool PageWalker::claim(std::uint64_t pgno, std::uint64_t count, const std::string& where) {
  if (pgno < 2 || pgno > lastPage_ || count > lastPage_ + 1 - pgno) {
    problem(fmt::format("{}: page {} lies outside the file", where, pgno));
    return false;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    if (use_[pgno + i] != kUnused) {
      problem(fmt::format("{}: page {} is used twice", where, pgno + i));
      return false;
    }
  }
  for (std::uint64_t i = 0; i < count; ++i) use_[pgno + i] = kInTree;
  return true;
}

bool PageWalker::leafValue(const std::string& where, const std::uint8_t* node, std::size_t, std::string& value,
                           bool claimPages) {
  const std::uint16_t flags = get<std::uint16_t>(node + 4), ksize = get<std::uint16_t>(node + 6);
  const std::uint64_t dsize = std::uint64_t(get<std::uint16_t>(node)) | (std::uint64_t(get<std::uint16_t>(node + 2)) << 16);
  const std::uint8_t* data = node + kNodeHeader + ksize;
  if (!(flags & kBigData)) {
    value.assign(reinterpret_cast<const char*>(data), dsize);
    return true;
  }
  const std::uint64_t first = get<std::uint64_t>(data);
  const std::uint64_t count = (kPageHeader - 1 + dsize) / psize_ + 1;
  if (dsize > (lastPage_ + 1) * std::uint64_t(psize_)) {
    problem(fmt::format("{}: value of {} bytes is larger than the file", where, dsize));
    return false;
  }
  if (claimPages) {
    if (!claim(first, count, where + " (overflow)")) return false;
  } else {
    if (first < 2 || first > lastPage_ || count > lastPage_ + 1 - first) return false;
    for (std::uint64_t i = 0; i < count; ++i)
      if (use_[first + i] != kUnused) return false;
  }
  std::vector<std::uint8_t> pages;
  if (!read(first, pages, count)) {
    if (claimPages) problem(fmt::format("{}: overflow page {} cannot be read", where, first));
    return false;
  }
  if (get<std::uint64_t>(pages.data()) != first || get<std::uint16_t>(pages.data() + 10) != kOverflow ||
      get<std::uint32_t>(pages.data() + 12) != count) {
    if (claimPages) problem(fmt::format("{}: overflow page {} is damaged", where, first));
    return false;
  }
  value.assign(reinterpret_cast<const char*>(pages.data() + kPageHeader), dsize);
  return true;
}

bool PageWalker::walk(const std::string& name, const TableRecord& table, const EntryFn& onEntry) {
  const std::string label = name.empty() ? "main table" : name.front() == '\0' ? "free list" : "table " + name;
  if (table.empty()) {
    if (table.entries || table.depth || table.branchPages || table.leafPages || table.overflowPages)
      problem(label + ": empty but its record counts pages or entries");
    return true;
  }
  // The free list's record also carries the environment's flags.
  const bool freeList = !name.empty() && name.front() == '\0';
  if (!freeList && (table.flags & ~kTableFlagsRead) != 0) {
    problem(fmt::format("{}: table flags {:#x} not expected", label, table.flags));
    return false;
  }
  if (table.depth == 0 || table.depth > kMaxDepth) {
    problem(fmt::format("{}: depth {} impossible", label, table.depth));
    return false;
  }
  const bool integer = freeList || (table.flags & kIntegerKey);
  struct Frame {
    std::uint64_t pgno;
    std::uint16_t depth;
    std::string low, high;
    bool hasLow, hasHigh;
  };
  std::vector<Frame> stack{{table.root, 1, {}, {}, false, false}};
  std::uint64_t branches = 0, leaves = 0, overflows = 0, entries = 0;
  bool whole = true;
  std::vector<std::uint8_t> page;
  std::vector<Node> nodes;
  std::string value;
  while (!stack.empty()) {
    Frame f = std::move(stack.back());
    stack.pop_back();
    const std::string where = fmt::format("{}: page {}", label, f.pgno);
    if (!claim(f.pgno, 1, label)) {
      whole = false;
      continue;
    }
    if (!read(f.pgno, page)) {
      problem(where + ": cannot be read");
      whole = false;
      continue;
    }
    const std::uint16_t kind = f.depth < table.depth ? kBranch : kLeaf;
    const std::string bad = parsePage(page, f.pgno, kind, integer, nodes);
    if (!bad.empty()) {
      problem(where + ": " + bad);
      whole = false;
      continue;
    }
    const std::size_t firstKeyed = kind == kBranch ? 1 : 0;
    if (nodes.size() > firstKeyed) {
      if (f.hasLow && compareKeys(nodes[firstKeyed].key, f.low, integer) < 0) {
        problem(where + ": keys below the range its parent gives it");
        whole = false;
        continue;
      }
      if (f.hasHigh && compareKeys(nodes.back().key, f.high, integer) >= 0) {
        problem(where + ": keys above the range its parent gives it");
        whole = false;
        continue;
      }
    }
    if (kind == kBranch) {
      ++branches;
      // Children are pushed last first so that pages are met in key order.
      for (std::size_t i = nodes.size(); i-- > 0;) {
        Frame child{nodes[i].lowHigh, static_cast<std::uint16_t>(f.depth + 1), {}, {}, false, false};
        if (i == 0) {
          child.low = f.low;
          child.hasLow = f.hasLow;
        } else {
          child.low.assign(nodes[i].key);
          child.hasLow = true;
        }
        if (i + 1 < nodes.size()) {
          child.high.assign(nodes[i + 1].key);
          child.hasHigh = true;
        } else {
          child.high = f.high;
          child.hasHigh = f.hasHigh;
        }
        stack.push_back(std::move(child));
      }
      continue;
    }
    ++leaves;
    for (const Node& n : nodes) {
      if ((n.flags & ~(kBigData | kSubData)) || (!name.empty() && (n.flags & kSubData))) {
        problem(where + ": entry with flags not used by this program");
        whole = false;
        break;
      }
      if (!leafValue(where, page.data() + n.offset, page.size() - n.offset, value, true)) {
        whole = false;
        continue;
      }
      if (n.flags & kBigData) overflows += (kPageHeader - 1 + value.size()) / psize_ + 1;
      ++entries;
      if (onEntry) onEntry(n.key, value);
    }
  }
  if (whole && (branches != table.branchPages || leaves != table.leafPages || overflows != table.overflowPages ||
                entries != table.entries))
    problem(fmt::format("{}: holds {} entries in {}+{}+{} pages, its record says {} in {}+{}+{}", label, entries,
                        branches, leaves, overflows, table.entries, table.branchPages, table.leafPages,
                        table.overflowPages));
  return whole;
}

void PageWalker::checkAll(
    const std::function<void(const std::string&, std::string_view, std::string_view)>& onEntry) {
  tables_.clear();
  // The free list: each entry is a list of page numbers, count first.
  std::vector<std::uint64_t> freePages;
  walk(std::string(1, '\0'), free_, [&](std::string_view key, std::string_view value) {
    if (key.size() != 8 || value.size() < 8 || value.size() % 8 != 0) {
      problem("free list: entry of the wrong size");
      return;
    }
    const auto* v = reinterpret_cast<const std::uint8_t*>(value.data());
    const std::uint64_t n = get<std::uint64_t>(v);
    // LMDB may reserve more room than the list needs (zeros after it); the
    // list of the last transaction is filed under its own number.
    if (get<std::uint64_t>(reinterpret_cast<const std::uint8_t*>(key.data())) > txnId_ || n > value.size() / 8 - 1) {
      problem("free list: entry damaged");
      return;
    }
    for (std::uint64_t i = 1; i <= n; ++i) freePages.push_back(get<std::uint64_t>(v + 8 * i));
  });
  for (std::uint64_t pg : freePages) {
    if (pg < 2 || pg > lastPage_) {
      problem(fmt::format("free list: page {} lies outside the file", pg));
    } else if (use_[pg] != kUnused) {
      problem(fmt::format("free list: page {} is free and used", pg));
    } else {
      use_[pg] = kFree;
    }
  }
  walk("", main_, [&](std::string_view key, std::string_view value) {
    TableRecord t;
    if (DecodeTableRecord(value, t) && key.find('\0') == std::string_view::npos)
      tables_.emplace_back(std::string(key), t);
    if (onEntry) onEntry("", key, value);
  });
  for (const auto& [name, table] : tables_) {
    const std::string tableName = name;
    walk(tableName, table, [&](std::string_view key, std::string_view value) {
      if (onEntry) onEntry(tableName, key, value);
    });
  }
  std::uint64_t lost = 0, firstLost = 0;
  for (std::uint64_t pg = 2; pg <= lastPage_; ++pg)
    if (use_[pg] == kUnused && lost++ == 0) firstLost = pg;
  if (lost) problem(fmt::format("{} page(s) belong to nothing (first: {})", lost, firstLost));
}

void PageWalker::orphanLeaves(const EntryFn& onEntry) {
  std::vector<std::uint8_t> page;
  std::vector<Node> nodes;
  std::string value;
  const std::uint64_t last = lastPage_;
  const std::uint64_t end = metaDamaged_ && psize_ ? size_ / psize_ : last + 1;
  // Pages past the snapshot's end are read as if they were in the file's range.
  if (end > last + 1) {
    lastPage_ = end - 1;
    use_.resize(end, kUnused);
  }
  for (std::uint64_t pg = 2; pg < end; ++pg) {
    if (use_[pg] != kUnused || !read(pg, page)) continue;
    if (!parsePage(page, pg, kLeaf, false, nodes).empty()) continue;
    for (const Node& n : nodes) {
      if (n.flags & (kDupData | kSubData)) continue;
      if (leafValue("", page.data() + n.offset, page.size() - n.offset, value, false)) onEntry(n.key, value);
    }
  }
  lastPage_ = last;
  use_.resize(last + 1);
}

}  // namespace sono::btr::pages
