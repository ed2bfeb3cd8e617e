// A private PostgreSQL server for tests: `initdb` in a temporary folder, the
// Unix socket in that folder, no TCP port. PostgreSQL refuses to run as
// root, so under root (CI) the server runs as the "postgres" account (or
// "nobody"), which owns the folder.
//
// The server is the test process's own child and is told to quit when that
// process dies (parent-death signal), so a crashed or killed test leaves no
// server behind; a normal exit stops it and removes the folder. Folders left
// by a crashed test are removed by the next start.
//
// One server per test binary: PgCluster::Shared() starts it at first use.
// The tests that use it run as one CTest test (not one process per case).
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sono::test {

class PgCluster {
 public:
  // The binaries' folder: $SONOTEKA_PG_BIN, else the newest
  // /usr/lib/postgresql/<version>/bin holding initdb and postgres; empty
  // when there is none.
  static std::string FindBinaries() {
    auto usable = [](const std::string& dir) {
      return ::access((dir + "/initdb").c_str(), X_OK) == 0 && ::access((dir + "/postgres").c_str(), X_OK) == 0;
    };
    if (const char* env = std::getenv("SONOTEKA_PG_BIN"); env && *env) return usable(env) ? env : "";
    std::string best;
    int bestVersion = -1;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
      const std::string name = entry.path().filename().string();
      const int version = std::atoi(name.c_str());
      const std::string bin = entry.path().string() + "/bin";
      if (version > bestVersion && usable(bin)) {
        best = bin;
        bestVersion = version;
      }
    }
    return best;
  }

  // The server shared by the tests of this binary, started at first use;
  // nullptr when it cannot run (`whyNot` says why, for GTEST_SKIP).
  static PgCluster* Shared(std::string* whyNot = nullptr) {
    static std::string failure;
    static std::unique_ptr<PgCluster> shared = [] {
      auto c = std::unique_ptr<PgCluster>(new PgCluster);
      failure = c->start();
      if (!failure.empty()) c.reset();
      return c;
    }();
    if (whyNot) *whyNot = failure;
    return shared.get();
  }

  // Starts a server of its own (Shared() is the usual way); the reason it
  // could not in `whyNot`.
  static std::unique_ptr<PgCluster> StartOwn(std::string& whyNot) {
    auto c = std::unique_ptr<PgCluster>(new PgCluster);
    whyNot = c->start();
    if (!whyNot.empty()) c.reset();
    return c;
  }

  ~PgCluster() { stop(); }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  pid_t postmasterPid() const { return pid_; }
  const std::string& folder() const { return folder_; }
  // A libpq connection string to database `database` of this server.
  std::string connection(const std::string& database = "postgres") const {
    return "host=" + folder_ + " user=" + kSuperuser + " dbname=" + database + " connect_timeout=10";
  }

  // Creates an empty database (dropping one of that name first); its
  // connection string, or "" on failure.
  std::string freshDatabase(const std::string& name) { return freshDatabase(name, ""); }

  // The same, owned by `owner` (an account with a password: `password`),
  // for whom the connection string is made.
  std::string freshDatabase(const std::string& name, const std::string& owner, const std::string& password = "") {
    PGconn* c = PQconnectdb(connection().c_str());
    bool ok = PQstatus(c) == CONNECTION_OK;
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    std::vector<std::string> statements = {"DROP DATABASE IF EXISTS " + name + " WITH (FORCE)"};
    if (!owner.empty()) {
      statements.push_back("DROP ROLE IF EXISTS " + owner);
      statements.push_back("CREATE ROLE " + owner + " LOGIN PASSWORD '" + password + "'");
    }
    statements.push_back("CREATE DATABASE " + name + (owner.empty() ? "" : " OWNER " + owner));
    for (const std::string& sql : statements) {
      if (!ok) break;
      PGresult* r = PQexec(c, sql.c_str());
      ok = PQresultStatus(r) == PGRES_COMMAND_OK;
      PQclear(r);
    }
    PQfinish(c);
    if (!ok) return "";
    return owner.empty() ? connection(name) : "host=" + folder_ + " user=" + owner + " dbname=" + name;
  }

  // True while process `pid` runs (a zombie counts as gone).
  static bool ProcessAlive(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t paren = line.rfind(')');
    return paren == std::string::npos || paren + 2 >= line.size() || line[paren + 2] != 'Z';
  }

 private:
  static constexpr const char* kSuperuser = "sonoteka";
  static constexpr const char* kPrefix = "sonoteka-pg-";

  PgCluster() = default;

  // Runs argv as `uid_`/`gid_` when set; with `keep` the child is left
  // running (its pid in pid_) and told to quit when this process dies.
  pid_t spawn(const std::vector<std::string>& args, bool keep, const std::string& logFile) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child != 0) return child;
    // Child: async-signal-safe calls only.
    const int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    if (uid_ != ::getuid()) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0) ::_exit(126);
    }
    if (keep) {
      // After the change of user, which clears it.
      ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
      if (::getppid() != parent) ::_exit(0);
    }
    if (::chdir(folder_.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }

  static int waitExit(pid_t pid) {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }

  // Folders of tests that died without stopping their server.
  static void removeAbandonedFolders(const std::string& tmp) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(tmp, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(kPrefix, 0) != 0) continue;
      const pid_t owner = std::atoi(name.c_str() + std::char_traits<char>::length(kPrefix));
      if (owner > 0 && !ProcessAlive(owner)) std::filesystem::remove_all(entry.path(), ec);
    }
  }

  std::string start() {
    const std::string bin = FindBinaries();
    if (bin.empty())
      return "PostgreSQL server binaries (initdb, postgres) not found: install postgresql (scripts/setup) "
             "or set SONOTEKA_PG_BIN";
    uid_ = ::getuid();
    gid_ = ::getgid();
    if (uid_ == 0) {
      const passwd* pw = ::getpwnam("postgres");
      if (!pw) pw = ::getpwnam("nobody");
      if (!pw) return "running as root and neither the postgres nor the nobody account exists";
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
    }
    const char* tmpEnv = std::getenv("TMPDIR");
    const std::string tmp = tmpEnv && *tmpEnv ? tmpEnv : "/tmp";
    removeAbandonedFolders(tmp);
    std::string pattern = tmp + "/" + kPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) return "cannot create a folder in " + tmp;
    folder_ = pattern;
    if (::chown(folder_.c_str(), uid_, gid_) != 0) return "cannot give " + folder_ + " to the server's account";
    const std::string log = folder_ + "/server.log";
    const pid_t init = spawn({bin + "/initdb", "-D", folder_ + "/data", "-U", kSuperuser, "-A", "trust", "-E",
                              "UTF8", "--locale=C", "--no-sync", "--no-instructions"},
                             false, log);
    if (init < 0 || waitExit(init) != 0) return "initdb failed (see " + log + ")";
    // The superuser enters without a password; every other account needs
    // its own (the tests of password handling rely on it).
    std::ofstream hba(folder_ + "/data/pg_hba.conf", std::ios::trunc);
    hba << "local all " << kSuperuser << " trust\nlocal all all scram-sha-256\n";
    hba.close();
    if (!hba) return "cannot write pg_hba.conf";
    pid_ = spawn({bin + "/postgres", "-D", folder_ + "/data", "-k", folder_, "-c", "listen_addresses=", "-c",
                  "fsync=off", "-c", "full_page_writes=off", "-c", "synchronous_commit=off", "-c",
                  "max_connections=40", "-c", "shared_buffers=32MB"},
                 true, log);
    if (pid_ < 0) return "cannot start postgres";
    const std::string conn = connection();
    for (int i = 0; i < 600; ++i) {  // at most a minute on a loaded machine
      if (PQping(conn.c_str()) == PQPING_OK) return "";
      if (!ProcessAlive(pid_)) return "postgres stopped at start (see " + log + ")";
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "postgres did not accept connections within a minute (see " + log + ")";
  }

  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGQUIT);  // immediate shutdown: the data is thrown away anyway
      waitExit(pid_);
      pid_ = -1;
    }
    if (!folder_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(folder_, ec);
      folder_.clear();
    }
  }

  uid_t uid_ = 0;
  gid_t gid_ = 0;
  pid_t pid_ = -1;
  std::string folder_;
};

}  // namespace sono::test
