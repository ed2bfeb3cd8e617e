// A one-station demo site in a fresh temporary folder, its database files
// created and open, for the benchmarks that need a library: LMDB files, or
// the tables of a PostgreSQL database.
#pragma once
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "core/system_ports.h"
#include "core/text.h"
#include "data/btr/base_engine.h"
#include "data/library.h"
#include "data/pervasive.h"

namespace sono::bench {

// A temporary folder named after the benchmark.
inline std::string TemporaryHome(const std::string& name) {
  std::string tmpl = (std::filesystem::temp_directory_path() / ("sonoteka-bench-" + name + "-XXXXXX")).string();
  return CheckRep(::mkdtemp(tmpl.data()));
}

class BenchSite {
 public:
  // `files`: the catalogue numbers created (empty) and opened on station 1.
  // With `reuse`, a site already made in `home` by an earlier run is opened
  // as it is (`reused` tells), so that a large library is built once. With a
  // `connection` (libpq's connection string), the base is that database's.
  BenchSite(const std::string& home, std::initializer_list<int> files, bool reuse = false,
            const std::string& connection = "")
      : log(clock), config(environment(home), log, prompt), layer(config, log, prompt, clock),
        lib({layer, config, log, prompt, events, clock}) {
    reused = reuse && std::filesystem::exists(std::filesystem::path(home) / "bench-site-complete");
    ok = reused || CreateDemoSite(home, error);
    if (!ok) return;
    config.InitGeneralPath(true);
    const std::string system = config.DetermineFichierSysteme(0);
    if (!reused) EcritureIni(system, "Base_01", "NbStation", "1");  // one station
    if (!connection.empty()) {
      EcritureIni(system, "Base_01", "Moteur_Data", "PostgreSQL");
      EcritureIni(system, "Base_01", "Connexion_PostgreSQL", connection);
    }
    config.InitGeneralSite();
    if (!connection.empty()) {
      const std::string folder = config.current().dataFolder;
      btr::SetBaseEngine(folder, btr::BaseEngine{btr::EngineKind::Postgres, connection, ""});
      std::FILE* stand = std::fopen((folder + "FRAD000.bt6").c_str(), "w");  // the site check's file
      if (stand) std::fclose(stand);
    }
    if (!reused)
      for (int file : files) layer.CreationStructureVide(layer.NomFichierBTR(0, file, 1), file);
    layer.PervasiveOuvertureFichiers(0, 1, 1);
    open_ = true;
  }
  ~BenchSite() { close(); }
  void close() {
    if (open_) layer.PervasiveFermetureFichiers(0, 1, 1);
    open_ = false;
  }

  // Marks the site whole (its library built) for the next run that reuses it.
  static void MarkComplete(const std::string& home) {
    std::FILE* f = std::fopen((std::filesystem::path(home) / "bench-site-complete").c_str(), "w");
    if (f) std::fclose(f);
  }

  bool ok = false;
  bool reused = false;
  std::string error;
  SystemClock clock;
  ScriptedPrompt prompt;
  PollingEventLoop events;
  TraceLogger log;
  SiteConfig config;
  data::PervasiveLayer layer;
  data::Library lib;

 private:
  static ConfigEnvironment environment(const std::string& home) {
    ConfigEnvironment env;
    env.programFolder = home;
    env.version = "bench";
    return env;
  }
  bool open_ = false;
};

}  // namespace sono::bench
