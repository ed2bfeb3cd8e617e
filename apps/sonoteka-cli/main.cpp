// sonoteka-cli: the workstation's core without windows, for scripts, bulk jobs
// and checks. Questions are answered with their default (No, Cancel, Ok) unless
// --interactive is given. Exit status: 0 done, 1 failed, 2 bad usage.
#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cli_audio.h"
#include "cli_commands.h"
#include "cli_convert.h"
#include "cli_editor.h"
#include "core/text.h"
#include "data/catalogue.h"

namespace {

void usage() {
  std::fputs(
      "usage: sonoteka-cli COMMAND [--home DIR] [--interactive] [ARGS…]\n"
      "  site init-demo                  crée un site de démonstration\n"
      "  site show                       affiche les bases, stations et dossiers du site\n"
      "  log write TEXTE…                écrit une ligne dans le journal du jour\n"
      "  log show [AAAAMMJJ|Delete_AAAAMM]   affiche le journal d'un jour (aujourd'hui par défaut)\n"
      "                                  ou le journal mensuel des suppressions\n"
      "  app start                       démarre puis ferme le programme sans fenêtre\n"
      "  db create-missing               crée les fichiers manquants de la base\n"
      "  db stat NNN [--station N]       nombre d'enregistrements et clés du fichier NNN\n"
      "  db dump NNN [--station N] [--key K]  enregistrements dans l'ordre de la clé K\n"
      "  db check [FICHIER] [--station N]  vérifie les fichiers de la base (tous sans FICHIER)\n"
      "  db repair FICHIER [--station N]   reconstruit un fichier endommagé (NNN ou FRADA22)\n"
      "  demo build [--songs N] [--stations S] [--seed X] [--sounds K]   bibliothèque de démonstration\n"
      "  search [--station N] (--kind music|jingles|liners|rubriques|infos | --mode MODE TEXTE)\n"
      "       [--types CHIFFRES|all]   filtre des types de son (sinon celui des réglages)\n"
      "  settings show                   réglages du programme (filtres, menus, cartouchier)\n"
      "  settings set SECTION/CLÉ VALEUR   change un réglage (Filtres/Sons 0, Menus/MnuES 1…)\n"
      "  cart show | cart load N CODE | cart eject N [--station N]   cartouches 1 à 8\n"
      "  song show CODE [--station N]    champs du morceau\n"
      "  ptx show CODE [--station N]     pointeurs, durée de passage et d'intro\n"
      "  ptx set CODE SLOT VALEUR [SECONDE]   enregistre un pointeur sur toutes les stations\n"
      "  stats recount                   recompte les durées moyennes des artistes et catégories\n"
      "  devices [--device CLÉ|N]        cartes, entrées, sorties et horloges (comme au journal),\n"
      "                                  sorties d'écoute (--device: choisit celle du poste)\n"
      "  info FICHIER                    format et durée exacte d'un fichier son\n"
      "  encode ENTRÉE SORTIE.s48        convertit un fichier PCM au format maison\n"
      "  play FICHIER [--start MS] [--end MS] [--fade-in MS] [--fade-out MS] [--level DB]\n"
      "       [--device NOM|virtual:SORTIE.wav]   joue un son (virtual: rendu dans un WAV)\n"
      "  gpx build FICHIER               crée ou refait l'enveloppe (.gpx) d'un son\n"
      "  gpx show FICHIER [--from I] [--count K]   valeurs de l'enveloppe d'un son ou d'un .gpx\n"
      "  gpx png FICHIER SORTIE.png [--width W] [--height H]   dessine la vue globale\n"
      "  edit CODE [--station N] SCRIPT  actions de l'éditeur de pointeurs (fichier ou \"a; b\"):\n"
      "       select DE A (ms), menu fadein|intro|startnext|fadeout|hook|loop|send|startequi,\n"
      "       pitch %, level DB, endtype 0-3, click|restore|clear COL, device N, auto, store\n"
      "  import CODE FICHIER [--station N] [--house copy|convert]   donne un nouveau son au morceau\n"
      "       (converti au format maison s'il n'y est pas; durées et enveloppe refaites)\n"
      "  import CODE FICHIER --append    ajoute le fichier (converti) à la fin du son du morceau\n"
      "  import CODE FICHIER --markers   reprend les marqueurs d'un WAV (cart) comme pointeurs\n"
      "  import --all DOSSIER            importe chaque fichier nommé par un code (0001234.mp3)\n"
      "  export CODE DOSSIER [--format mp3-256|mp3-128|mp2|wave] [--name artiste-titre|titre-artiste|titre]\n"
      "  save-as CODE FICHIER [--replace]   copie du son au format de l'extension\n"
      "       (.mp2, .mp3, .wav, .wave, .ogg; --replace remplace un fichier existant)\n"
      "  reconvert CODE [--interactive]  reconvertit le son du morceau (effets du réglage audio)\n"
      "  purge-temp [--station N]        supprime les sons temporaires de plus de 10 jours\n",
      stderr);
}

// "022" or "22": a file number of the catalogue.
bool parseFile(const std::string& text, int& file) {
  const auto n = sono::ParseInt(text);
  if (!n || *n < 0 || *n >= sono::data::kCatalogueSize) return false;
  file = static_cast<int>(*n);
  return sono::data::Catalogue()[file].used();
}

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit makes a write fail with EFBIG, reported like a full
  // disk, instead of killing the command halfway.
  std::signal(SIGXFSZ, SIG_IGN);
  sono::cli::Options options;
  std::vector<std::string> words;
  bool stationGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      hasValue = true;
    }
    static const std::set<std::string> kValued = {
        "--home", "--station", "--key", "--songs", "--stations", "--kind", "--mode", "--seed",
        "--titles", "--sounds", "--start", "--end", "--fade-in", "--fade-out", "--level", "--device", "--tempo",
        "--from", "--count", "--width", "--height", "--types", "--house", "--format", "--name"};
    static const std::set<std::string> kFlags = {"--player", "--all", "--append", "--markers", "--replace"};
    if (kFlags.count(arg)) {
      options.values[arg.substr(2)] = "1";
      continue;
    }
    if (kValued.count(arg)) {
      if (!hasValue) {
        if (i + 1 >= argc) return sono::cli::Usage(arg + " demande une valeur");
        value = argv[++i];
      }
      if (arg == "--home") {
        options.home = value;
        continue;
      }
      if (arg != "--station" && arg != "--key") {
        options.values[arg.substr(2)] = value;
        continue;
      }
      const auto n = sono::ParseInt(value);
      if (!n || *n < 0 || *n > 99) return sono::cli::Usage(arg + " demande un nombre: " + value);
      (arg == "--station" ? options.station : options.key) = static_cast<int>(*n);
      if (arg == "--station") stationGiven = true;
    } else if (arg == "--interactive") {
      options.interactive = true;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else if (arg.rfind("--", 0) == 0) {
      return sono::cli::Usage("option inconnue: " + arg);
    } else {
      words.push_back(arg);
    }
  }
  // Commands of other modules register here, before the two-word commands.
  if (words.empty()) return sono::cli::Usage("commande manquante (voir --help)");
  if (words[0] == "devices" || words[0] == "info" || words[0] == "encode" || words[0] == "play")
    return sono::cli::AudioCommand(options, words);
  if (words[0] == "import" || words[0] == "export" || words[0] == "purge-temp" ||
      words[0] == "save-as" || words[0] == "reconvert")
    return sono::cli::ConvertCommand(options, words);
  if (words[0] == "gpx" || words[0] == "edit") return sono::cli::EditorCommand(options, words);
  if (words[0] == "settings" || words[0] == "cart") return sono::cli::LibraryCommand(options, words);
  if (words[0] == "search" || (words.size() >= 2 && ((words[0] == "demo" && words[1] == "build") ||
                                                      words[0] == "song" || words[0] == "ptx" ||
                                                      (words[0] == "stats" && words[1] == "recount"))))
    return sono::cli::LibraryCommand(options, words);
  if (words.size() < 2) return sono::cli::Usage("commande manquante (voir --help)");
  const std::string command = words[0] + " " + words[1];
  const std::vector<std::string> rest(words.begin() + 2, words.end());
  if (command == "log write") {
    if (rest.empty()) return sono::cli::Usage("log write demande un texte");
    return sono::cli::LogWrite(options, rest);
  }
  if (command == "log show") {
    if (rest.size() > 1) return sono::cli::Usage("log show demande au plus une date (AAAAMMJJ ou Delete_AAAAMM)");
    return sono::cli::LogShow(options, rest.empty() ? std::string() : rest[0]);
  }
  if (command == "db check" || command == "db repair") {
    if (rest.size() > 1) return sono::cli::Usage("argument en trop: " + rest[1]);
    if (command == "db repair" && rest.empty()) return sono::cli::Usage("db repair demande un fichier");
    const std::string name = rest.empty() ? std::string() : rest[0];
    return command == "db check" ? sono::cli::DbCheck(options, name, stationGiven)
                                 : sono::cli::DbRepair(options, name, stationGiven);
  }
  if (command == "db stat" || command == "db dump") {
    int file = 0;
    if (rest.size() != 1) return sono::cli::Usage(command + " demande un numéro de fichier");
    if (!parseFile(rest[0], file)) return sono::cli::Usage("fichier inconnu: " + rest[0]);
    return command == "db stat" ? sono::cli::DbStat(options, file) : sono::cli::DbDump(options, file);
  }
  if (!rest.empty()) return sono::cli::Usage("argument en trop: " + rest[0]);
  if (command == "site init-demo") return sono::cli::SiteInitDemo(options);
  if (command == "site show") return sono::cli::SiteShow(options);
  if (command == "app start") return sono::cli::AppStart(options);
  if (command == "db create-missing") return sono::cli::DbCreateMissing(options);
  return sono::cli::Usage("commande inconnue: " + command);
}
