// sonoteka-cli: the workstation's core without windows, for scripts, bulk jobs
// and checks. Questions are answered with their default (No, Cancel, Ok) unless
// --interactive is given. Exit status: 0 done, 1 failed, 2 bad usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli_commands.h"

namespace {

void usage() {
  std::fputs(
      "usage: sonoteka-cli COMMAND [--home DIR] [--interactive] [ARGS…]\n"
      "  site init-demo        crée un site de démonstration\n"
      "  site show             affiche les bases, stations et dossiers du site\n"
      "  log write TEXTE…      écrit une ligne dans le journal du jour\n"
      "  app start             démarre puis ferme le programme sans fenêtre\n",
      stderr);
}

}  // namespace

int main(int argc, char** argv) {
  sono::cli::Options options;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home") {
      if (i + 1 >= argc) {
        std::fputs("sonoteka-cli: --home demande un dossier\n", stderr);
        return 2;
      }
      options.home = argv[++i];
    } else if (arg.rfind("--home=", 0) == 0) {
      options.home = arg.substr(7);
    } else if (arg == "--interactive") {
      options.interactive = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else {
      words.push_back(arg);
    }
  }
  if (words.size() < 2) {
    std::fputs("sonoteka-cli: commande manquante (voir --help)\n", stderr);
    return 2;
  }
  const std::string group = words[0], command = words[1];
  const std::vector<std::string> rest(words.begin() + 2, words.end());
  if (group == "site" && command == "init-demo" && rest.empty()) return sono::cli::SiteInitDemo(options);
  if (group == "site" && command == "show" && rest.empty()) return sono::cli::SiteShow(options);
  if (group == "log" && command == "write") {
    if (rest.empty()) {
      std::fputs("sonoteka-cli: log write demande un texte\n", stderr);
      return 2;
    }
    return sono::cli::LogWrite(options, rest);
  }
  if (group == "app" && command == "start" && rest.empty()) return sono::cli::AppStart(options);
  std::fprintf(stderr, "sonoteka-cli: commande inconnue: %s %s\n", group.c_str(), command.c_str());
  return 2;
}
