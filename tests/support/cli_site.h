// sonoteka-cli run as its own process against a site, and the demo site most
// command-line tests start from. Only for targets that define SONOTEKA_CLI.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "process.h"
#include "test_support.h"

namespace sono::test {

// sonoteka-cli with `args`, then "--home" `home`.
inline ProcessResult RunCli(const std::string& home, std::vector<std::string> args,
                            const std::map<std::string, std::string>& env = {}, int timeoutMs = 120000) {
  args.insert(args.begin(), SONOTEKA_CLI);
  args.insert(args.end(), {"--home", home});
  return RunProcess(args, env, timeoutMs);
}

// "site init-demo", then "demo build" with `buildOptions` ("--songs", "4"…),
// in `home`; on failure, the command that failed and what it printed.
inline ::testing::AssertionResult MakeDemoSite(const std::string& home, const std::vector<std::string>& buildOptions,
                                              const std::map<std::string, std::string>& env = {}) {
  const ProcessResult init = RunCli(home, {"site", "init-demo"}, env);
  if (!init.exited(0)) return ::testing::AssertionFailure() << "site init-demo: " << init.out << init.err;
  std::vector<std::string> build = {"demo", "build"};
  build.insert(build.end(), buildOptions.begin(), buildOptions.end());
  const ProcessResult built = RunCli(home, build, env);
  if (!built.exited(0)) return ::testing::AssertionFailure() << "demo build: " << built.out << built.err;
  return ::testing::AssertionSuccess();
}

// A site in "home" of a temporary folder whose commands run one by one.
// `Run` gives what a command printed (its standard output, unless the
// fixture says otherwise) and its exit status.
class CliFixture : public ::testing::Test {
 protected:
  virtual std::string Run(const std::vector<std::string>& args, int& status) {
    const ProcessResult r = RunCli(home, args);
    status = r.status;
    return r.out;
  }
  // The output of a command that must succeed (a failure shows it), and the
  // exit status of one that need not.
  std::string Ok(const std::vector<std::string>& args) {
    int status = -1;
    std::string out = Run(args, status);
    EXPECT_EQ(status, 0) << args[0] << ": " << out;
    return out;
  }
  int Exit(const std::vector<std::string>& args) {
    int status = -1;
    Run(args, status);
    return status;
  }

  TempDir dir;
  std::string home = dir / "home";
};

// A site in "home" of a temporary folder whose commands run under the I/O
// fault injector (kill tests): TMPDIR is the folder, and every run counts its
// calls in the folder's "counts" file.
class FaultedCliSite : public ::testing::Test {
 protected:
  // Faults (`rules`) and counts on the calls on paths under `filter` (the
  // home by default).
  ProcessResult Cli(const std::vector<std::string>& args, const std::string& rules = "",
                    const std::string& filter = "") {
    auto env = FaultEnvironment(rules, filter.empty() ? home : filter, dir / "counts");
    env["TMPDIR"] = dir.path();
    return RunCli(home, args, env, 60000);
  }
  // Every rule "OP:N:kill" from the first call of each of `ops` to the last
  // the previous run counted.
  std::vector<std::string> KillRules(const std::vector<std::string>& ops) {
    std::vector<std::string> rules;
    for (const auto& op : ops) {
      const long total = FaultCount(dir / "counts", op);
      EXPECT_GT(total, 0) << op;
      for (long n = 1; n <= total; ++n) rules.push_back(op + ":" + std::to_string(n) + ":kill");
    }
    return rules;
  }

  TempDir dir;
  std::string home = dir / "home";
};

}  // namespace sono::test
