// The real ports, the application object and the database layer, bound for
// one command of sonoteka-cli.
#pragma once
#include <cstdio>
#include <memory>

#include "cli_commands.h"
#include "core/app.h"
#include "core/scheduler.h"
#include "core/system_ports.h"
#include "data/library.h"
#include "data/pervasive.h"
#include "data/stats.h"

namespace sono::cli {

class Session {
 public:
  // `quiet`: questions are answered with their default without being printed.
  explicit Session(const Options& options, bool quiet = false);
  ~Session();
  // Reads the site as the program does at start-up; false (with a message)
  // when there is no site.
  bool loadSite();
  // Creates the program's database files that are missing for the current
  // base; prints each one created. False when one could not be created.
  bool createMissingFiles();

  FILE* devNull = nullptr;
  SystemClock clock;
  ConsolePrompt prompt;
  PollingEventLoop events;
  ClockScheduler scheduler;
  SystemDesktop desktop;
  Application app;
  data::PervasiveLayer layer;
};

// A session with the database of the current base open on every station,
// its library lookups and the duration statistics.
struct LibrarySession {
  explicit LibrarySession(const Options& options);
  // Loads the site, starts the log, checks `station` and opens the files;
  // false (said) when one of them fails.
  bool open(int station);
  ~LibrarySession();
  Session session;
  data::Library lib;
  data::DurationStatistics stats;
};

}  // namespace sono::cli
