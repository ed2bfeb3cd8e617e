#include "cli_session.h"

#include <cstdlib>

#include "core/files.h"
#include "data/engine_setting.h"

namespace sono::cli {

namespace {
// The command line has no window components: their versions show as "-".
LogHeaderInfo headerInfo() {
  LogHeaderInfo h;
  h.exeName = "Vexa_Sonoteka";
  h.propertyGridVersion = h.calendarVersion = h.skinFrameworkVersion = "-";
  h.recorderVersion = h.playerVersion = SONOTEKA_VERSION;
  return h;
}
FILE* openDevNull(bool quiet) { return quiet ? std::fopen("/dev/null", "w") : nullptr; }
}  // namespace

Session::Session(const Options& options, bool quiet)
    : devNull(openDevNull(quiet)),
      prompt(options.interactive && !quiet, devNull ? devNull : stderr),
      scheduler(clock),
      app(AppPorts{prompt, events, clock, scheduler, desktop}, MachineEnvironment(options.home),
          headerInfo()),
      layer(app.config(), app.log(), prompt, clock) {
  events.pollers.push_back([this] { scheduler.runDue(); });
  // "Abort" in a database error report ends the program after its unload sequence.
  layer.onAbort = [this] {
    app.Form_Unload();
    std::exit(1);
  };
  app.log().onWriteFailure = [](const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
  };
}

Session::~Session() {
  if (devNull) std::fclose(devNull);
}

bool Session::loadSite() {
  if (!File_Exist(app.config().programFolder() + "Settings/Vexa_Config.ini") &&
      !File_Exist(app.config().windowsFolder() + "Win.ini")) {
    std::fprintf(stderr, "Aucun site dans %s (sonoteka-cli site init-demo le crée)\n",
                 app.config().programFolder().c_str());
    return false;
  }
  app.InitGeneralSysteme();
  // A site file that cannot be used was reported (box and log line).
  if (!app.config().InitGeneralPath(true) || !app.config().InitGeneralSite()) return false;
  // Each base's files where its engine setting puts them (LMDB files of the
  // data folder, or tables of a PostgreSQL database).
  for (int b = 0; b < app.config().baseCount(); ++b) data::ApplyEngineSetting(app.config().base(b), b);
  return true;
}

bool Session::createMissingFiles() {
  const int base = app.config().currentBase();
  const int stations = app.config().current().stationCount;
  std::vector<int> files = {0};
  files.insert(files.end(), data::kProgramFiles.begin(), data::kProgramFiles.end());
  // A PostgreSQL server out of reach is not a base without files.
  if (const data::ServerCheck server = data::CheckServer(app.config().current()); !server.ok()) {
    app.startLogging();
    app.log().TraceLog(server.logLine);
    app.log().Flush();
    std::fprintf(stderr, "%s\n", server.message.c_str());
    return false;
  }
  bool ok = true;
  for (int file : files) {
    const bool perStation = data::Catalogue()[file].perStation == 'O';
    for (int station = 1; station <= (perStation ? stations : 1); ++station) {
      const std::string path = layer.NomFichierBTR(base, file, station);
      if (btr::FileExists(path)) continue;
      const int status = layer.CreationStructureVide(path, file);
      if (status == 0) {
        std::printf("Créé: %s\n", path.c_str());
      } else {
        std::fprintf(stderr, "Impossible de créer %s: %s", path.c_str(),
                     data::PervasiveLayer::ErreurBTrieveLibelle(status, path).c_str());
        ok = false;
      }
    }
  }
  return ok;
}

LibrarySession::LibrarySession(const Options& options)
    : session(options),  // messages go to the terminal
      lib({session.layer, session.app.config(), session.app.log(), session.prompt, session.events, session.clock}),
      stats(lib) {}

bool LibrarySession::open(int station) {
  if (!session.loadSite()) return false;
  session.app.startLogging();
  const BaseInfo& base = session.app.config().current();
  if (station < 1 || station > base.stationCount) {
    std::fprintf(stderr, "N° station hors limite: %d\n", station);
    return false;
  }
  session.layer.PervasiveOuvertureFichiers(lib.base(), 1, base.stationCount);
  stats.skipRecount = data::VpnWorkstation(session.app.config());
  session.app.settings().Load();
  return true;
}

// Files never opened are skipped by the close.
LibrarySession::~LibrarySession() {
  session.layer.PervasiveFermetureFichiers(lib.base(), 1, kMaxStations);
  session.app.log().Flush();
}

}  // namespace sono::cli
