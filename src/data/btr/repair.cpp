// Rebuilding a damaged file from every record that can still be read.
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
using integrity::Contents;
using integrity::statusOfErrno;

std::string dateSuffix() {
  const time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

RepairReport repairFile(const std::string& path, const FileDef* fallback) {
  RepairReport rep;
  if (FileInUseHere(path)) {
    rep.status = status::kFileLocked;
    return rep;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    rep.status = statusOfErrno(errno);
    return rep;
  }
  const integrity::FdCloser closer{fd};
  if (LockFileAlone(fd) != status::kOk) {
    rep.status = status::kFileLocked;
    return rep;
  }
  const IntegrityReport check = checkIntegrity(path);
  rep.problems = check.problems;
  if (check.status == status::kNotRecordManagerFile && !fallback) {
    rep.status = status::kNotRecordManagerFile;
    return rep;
  }
  if (check.ok()) {
    rep.recovered = rep.expected = check.records;
    return rep;  // whole: nothing to rebuild
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    rep.status = status::kIoError;
    return rep;
  }
  // Every readable record, the newest version of each position.
  pages::PageWalker walker(fd, static_cast<std::uint64_t>(st.st_size));
  const bool lmdb = walker.readMeta();
  Contents c;
  std::map<std::uint64_t, std::string> found;
  std::vector<std::pair<std::uint64_t, std::string>> loose;
  auto keep = [&](std::string_view key, std::string_view value, bool orphan) {
    if (key.size() != 8) return;
    const std::uint64_t pos = getBE64(reinterpret_cast<const std::uint8_t*>(key.data()));
    if (orphan) loose.emplace_back(pos, std::string(value));
    else found[pos] = std::string(value);
  };
  if (lmdb) {
    walker.checkAll([&](const std::string& table, std::string_view key, std::string_view value) {
      if (table == "meta") c.meta(key, value);
      else if (table == "rec") keep(key, value, false);
    });
    for (const auto& [name, table] : walker.tables())
      if (name == "rec") rep.expected = table.entries;
    // Leaves cut off from their tree by a damaged branch.
    walker.orphanLeaves([&](std::string_view key, std::string_view value) { keep(key, value, true); });
  }
  if (!c.haveDef && fallback) {
    c.def = *fallback;
    c.haveDef = true;
  }
  if (!c.settle()) {
    rep.status = status::kNotRecordManagerFile;
    return rep;
  }
  const std::size_t recLen = c.def.recordLength;
  const std::size_t hdr1 = layout::HeaderLength(c.keys.size(), false), hdr2 = layout::HeaderLength(c.keys.size(), true);
  // A record is kept when its length fits the definition and, when it carries
  // one, its check value holds. Orphan leaves of key tables never fit.
  struct Record {
    std::uint64_t pos, version;
    std::vector<std::uint64_t> seqs;
    std::string bytes;
  };
  std::map<std::uint64_t, Record> records;
  std::uint64_t next = c.haveNext ? c.next : 1;
  auto consider = [&](std::uint64_t pos, const std::string& value) {
    const auto* v = reinterpret_cast<const std::uint8_t*>(value.data());
    std::size_t hdr;
    if (value.size() == hdr2 + recLen && (c.checked || !c.haveFormat)) {
      if (!layout::RecordSealed(pos, v, hdr2, recLen)) return false;
      hdr = hdr2;
    } else if (value.size() == hdr1 + recLen && !c.checked) {
      hdr = hdr1;
    } else {
      return false;
    }
    Record r{pos, getU64(v), {}, value.substr(hdr)};
    for (std::size_t i = 0; i < c.keys.size(); ++i) r.seqs.push_back(getU64(v + 8 + 8 * i));
    auto it = records.find(pos);
    if (it != records.end() && it->second.version >= r.version) return true;
    next = std::max({next, pos + 1, r.version + 1});
    for (std::uint64_t s : r.seqs) next = std::max(next, s + 1);
    records[pos] = std::move(r);
    return true;
  };
  for (const auto& [pos, value] : found)
    if (!consider(pos, value)) ++rep.dropped;
  for (const auto& [pos, value] : loose)
    if (value.size() != 8 && !consider(pos, value)) ++rep.dropped;

  // Unique keys: when two records claim one value, the newer one stays.
  std::vector<const Record*> byAge;
  for (const auto& [pos, r] : records) byAge.push_back(&r);
  std::sort(byAge.begin(), byAge.end(), [](const Record* a, const Record* b) { return a->version > b->version; });
  std::vector<std::unordered_map<std::string, std::uint64_t>> taken(c.keys.size());
  std::vector<std::uint64_t> refused;
  std::uint8_t entry[kMaxEntry];
  for (const Record* r : byAge) {
    bool clash = false;
    for (std::size_t i = 0; i < c.keys.size() && !clash; ++i) {
      if (c.keys[i].dup) continue;
      const std::size_t n = layout::MakeEntry(c.keys[i], reinterpret_cast<const std::uint8_t*>(r->bytes.data()), 0, entry);
      clash = taken[i].count(std::string(reinterpret_cast<const char*>(entry), n)) > 0;
    }
    if (clash) {
      refused.push_back(r->pos);
      continue;
    }
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      if (c.keys[i].dup) continue;
      const std::size_t n = layout::MakeEntry(c.keys[i], reinterpret_cast<const std::uint8_t*>(r->bytes.data()), 0, entry);
      taken[i].emplace(std::string(reinterpret_cast<const char*>(entry), n), r->pos);
    }
  }
  for (std::uint64_t pos : refused) records.erase(pos);
  rep.dropped += refused.size();

  // The new file, beside the old one.
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string tmp = folder + "/." + name + ".repair-" + std::to_string(getpid());
  int s = buildEmptyFile(tmp, c.def, tmp + ".built");
  const std::string built = tmp + ".built";
  auto cleanup = [&] {
    ::unlink(built.c_str());
    ::unlink((built + "-lock").c_str());
  };
  if (s != status::kOk) {
    rep.status = s;
    return rep;
  }
  {
    MDB_env* env = nullptr;
    int rc = mdb_env_create(&env);
    if (rc == MDB_SUCCESS) {
      mdb_env_set_maxdbs(env, layout::kMaxTables);
      std::size_t bytes = std::size_t(64) << 20;
      bytes += records.size() * 4 * (hdr2 + recLen + 64 * c.keys.size());
      mdb_env_set_mapsize(env, bytes);
      rc = mdb_env_open(env, built.c_str(), MDB_NOSUBDIR, 0600);
    }
    MDB_txn* txn = nullptr;
    if (rc == MDB_SUCCESS) rc = mdb_txn_begin(env, nullptr, 0, &txn);
    MDB_dbi meta = 0, rec = 0;
    if (rc == MDB_SUCCESS) rc = mdb_dbi_open(txn, "meta", 0, &meta);
    if (rc == MDB_SUCCESS) rc = mdb_dbi_open(txn, "rec", 0, &rec);
    for (std::size_t i = 0; rc == MDB_SUCCESS && i < c.keys.size(); ++i)
      rc = mdb_dbi_open(txn, layout::KeyTableName(i).c_str(), 0, &c.keys[i].dbi);
    std::vector<std::uint8_t> value(hdr2 + recLen);
    for (auto it = records.begin(); rc == MDB_SUCCESS && it != records.end(); ++it) {
      const Record& r = it->second;
      std::uint8_t posKey[8];
      layout::putBE64(posKey, r.pos);
      layout::putU64(value.data(), r.version);
      for (std::size_t i = 0; i < c.keys.size(); ++i) layout::putU64(value.data() + 8 + 8 * i, r.seqs[i]);
      std::memcpy(value.data() + hdr2, r.bytes.data(), recLen);
      layout::SealRecord(r.pos, value.data(), hdr2, recLen);
      MDB_val k{8, posKey}, v{value.size(), value.data()};
      rc = mdb_put(txn, rec, &k, &v, MDB_APPEND);
      for (std::size_t i = 0; rc == MDB_SUCCESS && i < c.keys.size(); ++i) {
        MDB_val ek{layout::MakeEntry(c.keys[i], value.data() + hdr2, r.seqs[i], entry), entry}, ev{8, posKey};
        rc = mdb_put(txn, c.keys[i].dbi, &ek, &ev, MDB_NOOVERWRITE);
      }
      if (rc == MDB_SUCCESS) ++rep.recovered;
    }
    std::uint8_t counter[8];
    layout::putU64(counter, next);
    MDB_val nk{4, const_cast<char*>("next")}, nv{8, counter};
    if (rc == MDB_SUCCESS) rc = mdb_put(txn, meta, &nk, &nv, 0);
    if (txn) rc = rc == MDB_SUCCESS ? mdb_txn_commit(txn) : (mdb_txn_abort(txn), rc);
    if (rc == MDB_SUCCESS) rc = mdb_env_sync(env, 1);
    if (env) mdb_env_close(env);
    ::unlink((built + "-lock").c_str());  // private to the file being built
    if (rc != MDB_SUCCESS) {
      cleanup();
      rep.status = rc == ENOSPC ? status::kDiskFull : status::kIoError;
      return rep;
    }
  }
  // The new file must pass the whole check before it replaces the old one.
  const IntegrityReport again = checkIntegrity(built);
  if (!again.ok() || again.records != rep.recovered) {
    cleanup();
    rep.status = status::kIoError;
    rep.problems.push_back("the rebuilt file did not pass its check");
    return rep;
  }
  {
    const int nfd = ::open(built.c_str(), O_RDWR | O_CLOEXEC);
    if (nfd >= 0) {
      fchmod(nfd, st.st_mode & 07777);
      if (fchown(nfd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Not our group to give: the folder's stays.
      }
      fsync(nfd);
      ::close(nfd);
    }
  }
  rep.keptAs = path + ".endommage-" + dateSuffix();
  // The damaged file keeps its bytes under its new name; the rebuilt one
  // takes its place in one rename. The lock file stays: LMDB starts it
  // afresh at the next first open.
  if (::link(path.c_str(), rep.keptAs.c_str()) != 0 && ::rename(path.c_str(), rep.keptAs.c_str()) != 0) {
    cleanup();
    rep.keptAs.clear();
    rep.status = statusOfErrno(errno);
    return rep;
  }
  if (::rename(built.c_str(), path.c_str()) != 0) {
    const int err = errno;
    cleanup();
    rep.status = statusOfErrno(err);
    return rep;
  }
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
  return rep;
}

}  // namespace sono::btr
