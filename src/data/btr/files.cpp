// Creating the engine's files: permissions from the folder, LMDB's lock file,
// an empty data file.
#include <fcntl.h>
#include <lmdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine_internal.h"
#include "layout.h"

namespace sono::btr {

namespace {

// LMDB's lock file on this platform: 192 bytes of header and 125 further
// reader slots of 64 bytes (LMDB 0.9, 126 readers, POSIX mutexes).
constexpr off_t kLockFileBytes = 8192;

int statusOfErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return status::kAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return status::kDiskFull;
    default: return status::kCreateIoError;
  }
}

void syncFolder(const std::string& folder) {
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace

mode_t FolderFileMode(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return 0644;
  return static_cast<mode_t>(0600 | (st.st_mode & 0066));
}

void GiveFolderGroup(int fd, const std::string& folder) {
  struct stat dir, file;
  if (::stat(folder.c_str(), &dir) != 0 || fstat(fd, &file) != 0) return;
  if (file.st_gid != dir.st_gid && fchown(fd, static_cast<uid_t>(-1), dir.st_gid) != 0) {
    // Not a member of the folder's group: the file keeps ours.
  }
}

int prepareLockFile(const std::string& lockPath, const std::string& folder) {
  const mode_t mode = FolderFileMode(folder);
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd >= 0) {
    fchmod(fd, mode);  // the umask does not narrow it
    GiveFolderGroup(fd, folder);
  } else if (errno == EEXIST) {
    // There already, perhaps in use: only its owner widens its mode.
    struct stat st;
    if (::stat(lockPath.c_str(), &st) == 0 && st.st_uid == geteuid() && (st.st_mode & mode) != mode)
      ::chmod(lockPath.c_str(), (st.st_mode & 07777) | mode);
    fd = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return status::kOk;  // LMDB says why it cannot use it
  } else {
    return statusOfErrno(errno);
  }
  // Its bytes allocated before LMDB maps it: a full disk is a status here.
  // Never deleted: another opener may already rely on it.
  struct stat st;
  const int err = fstat(fd, &st) == 0 && st.st_blocks * 512 >= kLockFileBytes ? 0 : posix_fallocate(fd, 0, kLockFileBytes);
  ::close(fd);
  return err == 0 ? status::kOk : statusOfErrno(err);
}

int buildEmptyFile(const std::string& tmp, const FileDef& def, const std::string& finalPath) {
  const std::size_t slash = finalPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : finalPath.substr(0, slash == 0 ? 1 : slash);
  const std::string tmpLock = tmp + "-lock";
  ::unlink(tmp.c_str());
  ::unlink(tmpLock.c_str());
  {
    const int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, FolderFileMode(folder));
    if (fd < 0) return statusOfErrno(errno);
    fchmod(fd, FolderFileMode(folder));
    GiveFolderGroup(fd, folder);
    ::close(fd);
  }
  MDB_env* env = nullptr;
  auto fail = [&](int st) {
    if (env) mdb_env_close(env);
    ::unlink(tmp.c_str());
    ::unlink(tmpLock.c_str());
    return st;
  };
  if (mdb_env_create(&env) != MDB_SUCCESS) {
    env = nullptr;
    return fail(status::kCreateIoError);
  }
  mdb_env_set_maxdbs(env, layout::kMaxTables);
  mdb_env_set_mapsize(env, std::size_t(16) << 20);
  int rc = mdb_env_open(env, tmp.c_str(), MDB_NOSUBDIR, 0600);
  if (rc != MDB_SUCCESS) return fail(statusOfErrno(rc));
  MDB_txn* txn = nullptr;
  if (mdb_txn_begin(env, nullptr, 0, &txn) != MDB_SUCCESS) return fail(status::kCreateIoError);
  auto put = [&](MDB_dbi dbi, const char* key, const void* data, std::size_t size) {
    MDB_val k{std::strlen(key), const_cast<char*>(key)}, v{size, const_cast<void*>(data)};
    return mdb_put(txn, dbi, &k, &v, 0);
  };
  MDB_dbi meta = 0, dbi = 0;
  const std::vector<std::uint8_t> block = encodeFileDef(def);
  std::uint8_t one[8];
  layout::putU64(one, 1);
  rc = mdb_dbi_open(txn, "meta", MDB_CREATE, &meta);
  if (rc == MDB_SUCCESS) rc = put(meta, "format", layout::kFormatTag2, sizeof layout::kFormatTag2 - 1);
  if (rc == MDB_SUCCESS) rc = put(meta, "def", block.data(), block.size());
  if (rc == MDB_SUCCESS) rc = put(meta, "next", one, 8);
  if (rc == MDB_SUCCESS) rc = mdb_dbi_open(txn, "rec", MDB_CREATE, &dbi);
  for (std::size_t i = 0; rc == MDB_SUCCESS && i < def.keys.size(); ++i)
    rc = mdb_dbi_open(txn, layout::KeyTableName(i).c_str(), MDB_CREATE, &dbi);
  if (rc != MDB_SUCCESS) {
    mdb_txn_abort(txn);
    return fail(statusOfErrno(rc));
  }
  rc = mdb_txn_commit(txn);
  if (rc == MDB_SUCCESS) rc = mdb_env_sync(env, 1);
  if (rc != MDB_SUCCESS) return fail(statusOfErrno(rc));
  mdb_env_close(env);
  env = nullptr;
  ::unlink(tmpLock.c_str());  // the private lock file of the file being built
  if (::rename(tmp.c_str(), finalPath.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return statusOfErrno(err);
  }
  syncFolder(folder);
  return status::kOk;
}

}  // namespace sono::btr
