/* I/O fault injector, loaded with LD_PRELOAD into a program under test.
 *
 * It counts the calls a program makes to open, read, write, fsync, rename,
 * unlink and mkdir (on regular files, optionally only those whose path holds
 * a given text) and makes a chosen call fail, write only half, or kill the
 * process, so tests can prove that a crash, a full disk or an I/O error at
 * any step leaves the previous state whole.
 *
 *   SONO_FAULT="write:3:fail:ENOSPC;rename:1+:kill"
 *       rules "OP:N[+]:ACTION[:ERRNO]", separated by ";": the N-th call of OP
 *       (and every later one with "+") fails with ERRNO (default EIO), is cut
 *       short ("short": a write stores half its bytes; a read returns half),
 *       or kills the process ("kill", SIGKILL: nothing is flushed or closed).
 *   SONO_FAULT_PATH="FRADA22"   only calls on paths holding this text count.
 *   SONO_FAULT_COUNTS=FILE      at exit, "OP COUNT" lines for every OP.
 *
 * A test inside the preloaded process reconfigures it at run time through
 * sono_fault_configure() and reads the counts with sono_fault_count().
 * Only calls made through the dynamic linker are seen: the program's own
 * and its libraries' calls, not glibc's internal ones (fopen/fread).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

enum { OP_OPEN, OP_READ, OP_WRITE, OP_FSYNC, OP_RENAME, OP_UNLINK, OP_MKDIR, OP_COUNT };
static const char* const kOpNames[OP_COUNT] = {"open",   "read",   "write", "fsync",
                                               "rename", "unlink", "mkdir"};
enum Action { ACT_FAIL, ACT_SHORT, ACT_KILL };

#define MAX_RULES 16
struct Rule {
  int op;
  long n;
  int andLater;
  enum Action action;
  int err;
};

static struct Rule rules[MAX_RULES];
static int ruleCount;
static char pathFilter[512];
static atomic_long counts[OP_COUNT];
static atomic_int configured;

static int errnoByName(const char* name) {
  static const struct { const char* name; int value; } kNames[] = {
      {"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EACCES", EACCES}, {"EROFS", EROFS},
      {"EFBIG", EFBIG},   {"EDQUOT", EDQUOT}, {"EPERM", EPERM},   {"ENOENT", ENOENT},
      {"EINTR", EINTR},   {"EAGAIN", EAGAIN}, {"EMFILE", EMFILE}, {"EXDEV", EXDEV}};
  for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i)
    if (strcmp(kNames[i].name, name) == 0) return kNames[i].value;
  return EIO;
}

static void parseRules(const char* text, const char* filter) {
  ruleCount = 0;
  for (int i = 0; i < OP_COUNT; ++i) atomic_store(&counts[i], 0);
  pathFilter[0] = 0;
  if (filter) snprintf(pathFilter, sizeof pathFilter, "%s", filter);
  if (!text) return;
  char buf[1024];
  snprintf(buf, sizeof buf, "%s", text);
  char* save = NULL;
  for (char* item = strtok_r(buf, ";", &save); item && ruleCount < MAX_RULES;
       item = strtok_r(NULL, ";", &save)) {
    char* fields[4] = {0};
    int nf = 0;
    char* s2 = NULL;
    for (char* f = strtok_r(item, ":", &s2); f && nf < 4; f = strtok_r(NULL, ":", &s2)) fields[nf++] = f;
    if (nf < 3) continue;
    struct Rule r = {-1, 0, 0, ACT_FAIL, EIO};
    for (int i = 0; i < OP_COUNT; ++i)
      if (strcmp(fields[0], kOpNames[i]) == 0) r.op = i;
    r.n = strtol(fields[1], NULL, 10);
    r.andLater = strchr(fields[1], '+') != NULL;
    if (strcmp(fields[2], "kill") == 0) r.action = ACT_KILL;
    else if (strcmp(fields[2], "short") == 0) r.action = ACT_SHORT;
    if (nf >= 4) r.err = errnoByName(fields[3]);
    if (r.op >= 0 && r.n >= 1) rules[ruleCount++] = r;
  }
}

static void writeCounts(void) {
  const char* file = getenv("SONO_FAULT_COUNTS");
  if (!file || !*file) return;
  FILE* f = fopen(file, "w");
  if (!f) return;
  for (int i = 0; i < OP_COUNT; ++i) fprintf(f, "%s %ld\n", kOpNames[i], atomic_load(&counts[i]));
  fclose(f);
}

__attribute__((constructor)) static void configureFromEnvironment(void) {
  parseRules(getenv("SONO_FAULT"), getenv("SONO_FAULT_PATH"));
  atomic_store(&configured, 1);
  atexit(writeCounts);
}

/* Test API: new rules and filter, counters back to zero. */
void sono_fault_configure(const char* ruleText, const char* filter) {
  parseRules(ruleText, filter);
  atomic_store(&configured, 1);
}

long sono_fault_count(const char* op) {
  for (int i = 0; i < OP_COUNT; ++i)
    if (strcmp(op, kOpNames[i]) == 0) return atomic_load(&counts[i]);
  return -1;
}

static int pathMatches(const char* path) {
  if (!path) return 0;
  if (strncmp(path, "/proc/", 6) == 0 || strncmp(path, "/sys/", 5) == 0 ||
      strncmp(path, "/dev/", 5) == 0)
    return 0;
  return pathFilter[0] == 0 || strstr(path, pathFilter) != NULL;
}

static int fdMatches(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  if (pathFilter[0] == 0) return 1;
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  target[n] = 0;
  return strstr(target, pathFilter) != NULL;
}

/* Counts one call of `op`; the rule that fires on it, or NULL. */
static const struct Rule* fire(int op) {
  if (!atomic_load(&configured)) return NULL;
  const long n = atomic_fetch_add(&counts[op], 1) + 1;
  for (int i = 0; i < ruleCount; ++i) {
    const struct Rule* r = &rules[i];
    if (r->op != op) continue;
    if (n == r->n || (r->andLater && n > r->n)) {
      if (r->action == ACT_KILL) raise(SIGKILL);
      return r;
    }
  }
  return NULL;
}

#define REAL(name)                          \
  static __typeof__(name)* real_##name;     \
  if (!real_##name) real_##name = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

/* ---------------------------------------------------------------- open */

static int openMode(int flags, va_list ap) { return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, int) : 0; }

#define OPEN_CHECK(path)                                   \
  if (pathMatches(path)) {                                 \
    const struct Rule* r = fire(OP_OPEN);                  \
    if (r) { errno = r->err; return -1; }                  \
  }

int open(const char* path, int flags, ...) {
  va_list ap; va_start(ap, flags); const int mode = openMode(flags, ap); va_end(ap);
  REAL(open);
  OPEN_CHECK(path);
  return real_open(path, flags, mode);
}
int open64(const char* path, int flags, ...) {
  va_list ap; va_start(ap, flags); const int mode = openMode(flags, ap); va_end(ap);
  REAL(open64);
  OPEN_CHECK(path);
  return real_open64(path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
  va_list ap; va_start(ap, flags); const int mode = openMode(flags, ap); va_end(ap);
  REAL(openat);
  OPEN_CHECK(path);
  return real_openat(dir, path, flags, mode);
}
int openat64(int dir, const char* path, int flags, ...) {
  va_list ap; va_start(ap, flags); const int mode = openMode(flags, ap); va_end(ap);
  REAL(openat64);
  OPEN_CHECK(path);
  return real_openat64(dir, path, flags, mode);
}

/* ---------------------------------------------------------------- read */

ssize_t read(int fd, void* buf, size_t count) {
  REAL(read);
  if (fdMatches(fd)) {
    const struct Rule* r = fire(OP_READ);
    if (r && r->action == ACT_FAIL) { errno = r->err; return -1; }
    if (r && count > 1) count /= 2;
  }
  return real_read(fd, buf, count);
}
ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  REAL(pread);
  if (fdMatches(fd)) {
    const struct Rule* r = fire(OP_READ);
    if (r && r->action == ACT_FAIL) { errno = r->err; return -1; }
    if (r && count > 1) count /= 2;
  }
  return real_pread(fd, buf, count, offset);
}
ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
  REAL(pread64);
  if (fdMatches(fd)) {
    const struct Rule* r = fire(OP_READ);
    if (r && r->action == ACT_FAIL) { errno = r->err; return -1; }
    if (r && count > 1) count /= 2;
  }
  return real_pread64(fd, buf, count, offset);
}

/* ---------------------------------------------------------------- write */

/* A failed write returns -1; a short one stores the first half of its bytes. */
#define WRITE_CHECK(fd, count)                                   \
  if (fdMatches(fd)) {                                           \
    const struct Rule* r = fire(OP_WRITE);                       \
    if (r && r->action == ACT_FAIL) { errno = r->err; return -1; } \
    if (r && count > 1) count /= 2;                              \
  }

ssize_t write(int fd, const void* buf, size_t count) {
  REAL(write);
  WRITE_CHECK(fd, count);
  return real_write(fd, buf, count);
}
ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  REAL(pwrite);
  WRITE_CHECK(fd, count);
  return real_pwrite(fd, buf, count, offset);
}
ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  REAL(pwrite64);
  WRITE_CHECK(fd, count);
  return real_pwrite64(fd, buf, count, offset);
}
/* Vector writes fail whole (no short form): enough for the engines we test. */
ssize_t writev(int fd, const struct iovec* iov, int n) {
  REAL(writev);
  if (fdMatches(fd)) {
    const struct Rule* r = fire(OP_WRITE);
    if (r) { errno = r->err; return -1; }
  }
  return real_writev(fd, iov, n);
}
ssize_t pwritev(int fd, const struct iovec* iov, int n, off_t offset) {
  REAL(pwritev);
  if (fdMatches(fd)) {
    const struct Rule* r = fire(OP_WRITE);
    if (r) { errno = r->err; return -1; }
  }
  return real_pwritev(fd, iov, n, offset);
}

/* ---------------------------------------------------------------- fsync */

#define SYNC_CHECK(fd)                                   \
  if (fdMatches(fd)) {                                   \
    const struct Rule* r = fire(OP_FSYNC);               \
    if (r) { errno = r->err; return -1; }                \
  }

int fsync(int fd) {
  REAL(fsync);
  SYNC_CHECK(fd);
  return real_fsync(fd);
}
int fdatasync(int fd) {
  REAL(fdatasync);
  SYNC_CHECK(fd);
  return real_fdatasync(fd);
}
/* msync has no descriptor: it counts as a sync of any file when no path filter is set. */
int msync(void* addr, size_t length, int flags) {
  REAL(msync);
  if (pathFilter[0] == 0) {
    const struct Rule* r = fire(OP_FSYNC);
    if (r) { errno = r->err; return -1; }
  }
  return real_msync(addr, length, flags);
}

/* ---------------------------------------------------------------- names */

#define NAME_CHECK(op, a, b)                              \
  if (pathMatches(a) || pathMatches(b)) {                 \
    const struct Rule* r = fire(op);                      \
    if (r) { errno = r->err; return -1; }                 \
  }

int rename(const char* from, const char* to) {
  REAL(rename);
  NAME_CHECK(OP_RENAME, from, to);
  return real_rename(from, to);
}
int renameat(int fd1, const char* from, int fd2, const char* to) {
  REAL(renameat);
  NAME_CHECK(OP_RENAME, from, to);
  return real_renameat(fd1, from, fd2, to);
}
int renameat2(int fd1, const char* from, int fd2, const char* to, unsigned flags) {
  REAL(renameat2);
  NAME_CHECK(OP_RENAME, from, to);
  return real_renameat2(fd1, from, fd2, to, flags);
}
int unlink(const char* path) {
  REAL(unlink);
  NAME_CHECK(OP_UNLINK, path, NULL);
  return real_unlink(path);
}
int unlinkat(int fd, const char* path, int flags) {
  REAL(unlinkat);
  NAME_CHECK(OP_UNLINK, path, NULL);
  return real_unlinkat(fd, path, flags);
}
int mkdir(const char* path, mode_t mode) {
  REAL(mkdir);
  NAME_CHECK(OP_MKDIR, path, NULL);
  return real_mkdir(path, mode);
}
