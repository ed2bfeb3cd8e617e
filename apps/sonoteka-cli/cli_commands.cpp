#include "cli_commands.h"
#include "cli_session.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>

#include "core/app.h"
#include "core/demo_site.h"
#include "core/files.h"
#include "core/scheduler.h"
#include "core/system_ports.h"
#include "core/text.h"
#include "data/engine_setting.h"

namespace sono::cli {

namespace {

// Labels padded by characters, not bytes, so accented ones line up.
void printFolder(const std::string& label, const std::string& folder) {
  const size_t chars = Utf8Length(label);
  std::printf("    %s%s %s\n", label.c_str(), std::string(chars < 26 ? 26 - chars : 0, ' ').c_str(),
              folder.c_str());
}

}  // namespace

int Fail(const std::string& text) {
  std::fprintf(stderr, "sonoteka-cli: %s\n", text.c_str());
  return 1;
}

int Usage(const std::string& text) {
  std::fprintf(stderr, "sonoteka-cli: %s\n", text.c_str());
  return 2;
}

bool SameFile(const std::string& input, const std::string& output) {
  struct stat a, b;
  if (::stat(input.c_str(), &a) != 0) return false;
  if (::stat(output.c_str(), &b) == 0) return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  // Not there yet: the same folder and name as the input?
  const std::size_t slash = output.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : output.substr(0, slash == 0 ? 1 : slash);
  char real[PATH_MAX], in[PATH_MAX];
  if (!::realpath(folder.c_str(), real) || !::realpath(input.c_str(), in)) return false;
  return std::string(real) + "/" + output.substr(slash == std::string::npos ? 0 : slash + 1) == in;
}

int SiteInitDemo(const Options& options) {
  const std::string home = MachineEnvironment(options.home).programFolder;
  std::string error;
  if (!CreateDemoSite(home, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  Session session(options, true);
  if (!session.loadSite() || !session.createMissingFiles()) return 1;
  std::printf("Site de démonstration créé dans %s\n", home.c_str());
  return 0;
}

int SiteShow(const Options& options) {
  Session session(options);
  if (!session.loadSite()) return 1;
  const SiteConfig& config = session.app.config();
  std::printf("Site: %s\n", LectureIni(config.siteFile(), "Site", "Lib", "").c_str());
  std::printf("Fichier du site: %s\n", config.siteFile().c_str());
  std::printf("Dossier des réglages: %s\n", config.settingsFolder().c_str());
  std::printf("Bases: %d (base courante: %s)\n", config.baseCount(),
              NN(config.currentBase() + 1).c_str());
  for (int b = 0; b < config.baseCount(); ++b) {
    const BaseInfo& base = config.base(b);
    std::printf("\nBase %s: %s [%s]\n", NN(b + 1).c_str(), base.name.c_str(),
                base.active ? "active" : "inactive");
    std::printf("  Fichier système: %s\n", base.systemFile.c_str());
    std::printf("  Stations: %d\n", base.stationCount);
    for (size_t s = 0; s < base.stations.size(); ++s)
      std::printf("    %s %s [%s]\n", NN(static_cast<int>(s) + 1).c_str(),
                  base.stations[s].name.c_str(), base.stations[s].active ? "active" : "inactive");
    std::printf("  Dossiers:\n");
    printFolder("Journal", base.logFolder);
    printFolder("Journal des publicités", base.advertLogFolder);
    printFolder("Local", base.localFolder);
    printFolder("INI local", base.localIniFolder);
    printFolder("Partagé", base.sharedFolder);
    printFolder("Images", base.imageFolder);
    printFolder("Données", base.dataFolder);
    printFolder("Sauvegarde", base.backupFolder);
    printFolder("Notes", base.notesFolder);
    printFolder("Notes du conducteur", base.scheduleNotesFolder);
    if (!base.redistFolder.empty()) printFolder("Sauvegarde du programme", base.redistFolder);
    std::printf("  Dossiers des sons:\n");
    for (int s = 0; s < base.stationCount; ++s) {
      std::printf("    Station %s:\n", NN(s + 1).c_str());
      for (int k = 0; k < kSoundKinds; ++k) {
        const SoundFolder& sf = base.sounds[s][k];
        std::printf("      %s%s %d:%s\n", kSoundKindKeys[k], NN(s + 1).c_str(), sf.flag,
                    sf.folder.c_str());
      }
    }
  }
  return 0;
}

int LogWrite(const Options& options, const std::vector<std::string>& words) {
  Session session(options);
  if (!session.loadSite()) return 1;
  std::string text;
  for (const auto& w : words) text += (text.empty() ? "" : " ") + w;
  TraceLogger& log = session.app.log();
  session.app.startLogging();
  log.TraceLog(text);
  log.Flush();
  if (!log.fileBuffer().empty()) {
    std::fprintf(stderr, "Le journal n'a pas pu être écrit dans %s\n", log.logFolder().c_str());
    return 1;
  }
  std::printf("%s\n", log.dayFile(session.clock.now()).c_str());
  return 0;
}

int LogShow(const Options& options, const std::string& which) {
  const bool deletions = which.rfind("Delete_", 0) == 0;
  const std::string digits = deletions ? which.substr(7) : which;
  const size_t width = deletions ? 6 : 8;
  if (!which.empty() && (digits.size() != width ||
                         digits.find_first_not_of("0123456789") != std::string::npos))
    return Usage("date attendue: AAAAMMJJ ou Delete_AAAAMM, pas " + which);
  Session session(options);
  if (!session.loadSite()) return 1;
  session.app.startLogging();
  const BaseInfo& base = session.app.config().current();
  const std::string file = deletions ? base.dataFolder + which + ".Log"
                           : which.empty() ? session.app.log().dayFile(session.clock.now())
                                           : base.logFolder + which + ".Log";
  const auto content = ReadWholeFile(file);
  if (!content) return Fail("Fichier non trouvé: " + file);
  std::fwrite(content->data(), 1, content->size(), stdout);
  return std::ferror(stdout) ? 1 : 0;
}

int AppStart(const Options& options) {
  Session session(options);
  Application& app = session.app;
  session.events.pollers.push_back([&app] { app.pollInstance(); });
  session.layer.announce = [&app](const std::string& text) { app.announceStep(text); };
  app.hooks.openDatabase = [&session] {
    const int stations = session.app.config().current().stationCount;
    session.layer.PervasiveOuvertureFichiers(session.app.config().currentBase(), 1, stations);
  };
  app.hooks.closeDatabase = [&session] {
    const int stations = session.app.config().current().stationCount;
    session.layer.PervasiveFermetureFichiers(session.app.config().currentBase(), 1, stations);
  };
  if (!app.Form_Initialize()) return 1;
  if (!app.Form_Load()) {
    std::fprintf(stderr, "Le programme n'a pas démarré.\n");
    return 1;
  }
  std::printf("Démarré: base %s, station %s\n", app.config().current().name.c_str(),
              app.window().stations.empty() ? "-" : app.window().stations[app.window().currentStation].c_str());
  app.log().Flush();
  // A base on a PostgreSQL server out of reach (or refusing the password)
  // was said at the opening of its files; the command fails with it.
  const bool serverReached = data::CheckServer(app.config().current()).ok();
  app.Form_Unload();
  std::printf("Fermé.\n");
  return serverReached ? 0 : 1;
}

}  // namespace sono::cli
