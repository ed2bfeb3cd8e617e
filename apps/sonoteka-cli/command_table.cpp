#include "command_table.h"

#include "cli_audio.h"
#include "cli_convert.h"
#include "cli_editor.h"
#include "cli_notify.h"
#include "cli_record.h"
#include "cli_levels.h"
#include "core/text.h"
#include "data/catalogue.h"

namespace sono::cli {

namespace {

using Words = std::vector<std::string>;

// The arguments after a two-word command's name.
Words argumentsOf(const Words& words) { return Words(words.begin() + 2, words.end()); }

// "022" or "22": a file number of the catalogue.
bool parseFile(const std::string& text, int& file) {
  const auto n = ParseInt(text);
  if (!n || *n < 0 || *n >= data::kCatalogueSize) return false;
  file = static_cast<int>(*n);
  return data::Catalogue()[file].used();
}

// A command that takes no argument: status 2 for the first one given.
int withoutArguments(const Words& words, int (*run)(const Options&), const Options& options) {
  if (words.size() > 2) return Usage("argument en trop: " + words[2]);
  return run(options);
}

int logWrite(const Options& options, const Words& words) {
  const Words rest = argumentsOf(words);
  if (rest.empty()) return Usage("log write demande un texte");
  return LogWrite(options, rest);
}

int logShow(const Options& options, const Words& words) {
  const Words rest = argumentsOf(words);
  if (rest.size() > 1) return Usage("log show demande au plus une date (AAAAMMJJ ou Delete_AAAAMM)");
  return LogShow(options, rest.empty() ? std::string() : rest[0]);
}

// db stat NNN, db dump NNN.
int dbFile(const Options& options, const Words& words, int (*run)(const Options&, int)) {
  const Words rest = argumentsOf(words);
  int file = 0;
  if (rest.size() != 1) return Usage(words[0] + " " + words[1] + " demande un numéro de fichier");
  if (!parseFile(rest[0], file)) return Usage("fichier inconnu: " + rest[0]);
  return run(options, file);
}

// db check [FILE], db repair FILE.
int dbCheckOrRepair(const Options& options, const Words& words, bool repair) {
  const Words rest = argumentsOf(words);
  if (rest.size() > 1) return Usage("argument en trop: " + rest[1]);
  if (repair && rest.empty()) return Usage("db repair demande un fichier");
  const std::string name = rest.empty() ? std::string() : rest[0];
  return repair ? DbRepair(options, name, options.stationGiven) : DbCheck(options, name, options.stationGiven);
}

}  // namespace

const std::vector<CommandEntry>& CommandTable() {
  using enum CommandMatch;
  static const std::vector<CommandEntry> table = {
      {"site init-demo", TwoWords, {}, {},
       "  site init-demo                  crée un site de démonstration\n",
       [](const Options& o, const Words& w) { return withoutArguments(w, SiteInitDemo, o); }},
      {"site show", TwoWords, {}, {},
       "  site show                       affiche les bases, stations et dossiers du site\n",
       [](const Options& o, const Words& w) { return withoutArguments(w, SiteShow, o); }},
      {"log write", TwoWords, {}, {},
       "  log write TEXTE…                écrit une ligne dans le journal du jour\n",
       logWrite},
      {"log show", TwoWords, {}, {},
       "  log show [AAAAMMJJ|Delete_AAAAMM]   affiche le journal d'un jour (aujourd'hui par défaut)\n"
       "                                  ou le journal mensuel des suppressions\n",
       logShow},
      {"app start", TwoWords, {}, {},
       "  app start                       démarre puis ferme le programme sans fenêtre\n",
       [](const Options& o, const Words& w) { return withoutArguments(w, AppStart, o); }},
      {"db create-missing", TwoWords, {}, {},
       "  db create-missing               crée les fichiers manquants de la base\n",
       [](const Options& o, const Words& w) { return withoutArguments(w, DbCreateMissing, o); }},
      {"db clean-sounds", TwoWords, {}, {},
       "  db clean-sounds                 retire ce qu'un programme arrêté net a laissé près des sons\n"
       "                                  (fichiers .part, undo, de plus d'une heure)\n",
       [](const Options& o, const Words& w) { return withoutArguments(w, DbCleanSounds, o); }},
      {"db stat", TwoWords, {}, {},
       "  db stat NNN [--station N]       nombre d'enregistrements et clés du fichier NNN\n",
       [](const Options& o, const Words& w) { return dbFile(o, w, DbStat); }},
      {"db dump", TwoWords, {kKeyOption}, {},
       "  db dump NNN [--station N] [--key K]  enregistrements dans l'ordre de la clé K\n",
       [](const Options& o, const Words& w) { return dbFile(o, w, DbDump); }},
      {"db check", TwoWords, {}, {},
       "  db check [FICHIER] [--station N]  vérifie les fichiers de la base (tous sans FICHIER)\n",
       [](const Options& o, const Words& w) { return dbCheckOrRepair(o, w, false); }},
      {"db repair", TwoWords, {}, {},
       "  db repair FICHIER [--station N]   reconstruit un fichier endommagé (NNN ou FRADA22)\n",
       [](const Options& o, const Words& w) { return dbCheckOrRepair(o, w, true); }},
      {"db copy", TwoWords, {"--from", "--to"}, {"--replace"},
       "  db copy --from BASE --to BASE [--replace]   copie chaque fichier d'une base dans une autre\n"
       "                                  (LMDB ou PostgreSQL; --replace: remplace les enregistrements\n"
       "                                  que la destination a déjà)\n",
       [](const Options& o, const Words& w) { return withoutArguments(w, DbCopy, o); }},
      {"db engine", TwoWords, {"--base", "--password-file"}, {},
       "  db engine [show|test] [--base BASE]   moteur de la base (Moteur_Data, Connexion_PostgreSQL,\n"
       "                                  Fichier_MotDePasse_PostgreSQL); test: essaie la connexion\n"
       "  db engine set lmdb | set postgresql CONNEXION [--password-file FICHIER] [--base BASE]\n",
       [](const Options& o, const Words& w) { return DbEngine(o, argumentsOf(w)); }},
      {"demo build", TwoWords, {"--songs", "--stations", "--seed", "--sounds"}, {},
       "  demo build [--songs N] [--stations S] [--seed X] [--sounds K]   bibliothèque de démonstration\n",
       LibraryCommand},
      {"search", FirstWord, {"--kind", "--mode", "--titles", "--types"}, {},
       "  search [--station N] (--kind music|jingles|liners|rubriques|infos | --mode MODE TEXTE)\n"
       "       [--types CHIFFRES|all]   filtre des types de son (sinon celui des réglages)\n",
       LibraryCommand},
      {"settings", FirstWord, {}, {},
       "  settings show                   réglages du programme (filtres, menus, cartouchier)\n"
       "  settings set SECTION/CLÉ VALEUR   change un réglage (Filtres/Sons 0, Menus/MnuES 1…)\n",
       LibraryCommand},
      {"cart", FirstWord, {}, {},
       "  cart show | cart load N CODE | cart eject N [--station N]   cartouches 1 à 8\n",
       LibraryCommand},
      {"song", FirstWordOfTwo, {"--title", "--short-title"}, {},
       "  song show CODE [--station N]    champs du morceau\n"
       "  song set CODE [--title TEXTE] [--short-title TEXTE] [--station N]   change les titres du morceau\n",
       LibraryCommand},
      {"ptx", FirstWordOfTwo, {}, {},
       "  ptx show CODE [--station N]     pointeurs, durée de passage et d'intro\n"
       "  ptx set CODE SLOT VALEUR [SECONDE]   enregistre un pointeur sur toutes les stations\n",
       LibraryCommand},
      {"stats recount", TwoWords, {}, {},
       "  stats recount                   recompte les durées moyennes des artistes et catégories\n",
       LibraryCommand},
      {"devices", FirstWord, {"--device"}, {},
       "  devices [--device CLÉ|N]        cartes, entrées, sorties et horloges (comme au journal),\n"
       "                                  sorties d'écoute (--device: choisit celle du poste)\n",
       AudioCommand},
      {"info", FirstWord, {}, {},
       "  info FICHIER                    format et durée exacte d'un fichier son\n",
       AudioCommand},
      {"encode", FirstWord, {}, {},
       "  encode ENTRÉE SORTIE.s48        convertit un fichier PCM au format maison\n",
       AudioCommand},
      {"play", FirstWord, {"--start", "--end", "--fade-in", "--fade-out", "--level", "--device", "--tempo"},
       {"--player"},
       "  play FICHIER|CODE [--station N] [--start MS] [--end MS] [--fade-in MS] [--fade-out MS] [--level DB]\n"
       "       [--device NOM|virtual:SORTIE.wav]   joue un son, ou celui d'un morceau (virtual: rendu dans un WAV)\n",
       AudioCommand},
      {"gpx", FirstWord, {"--from", "--count", "--width", "--height"}, {},
       "  gpx build FICHIER               crée ou refait l'enveloppe (.gpx) d'un son\n"
       "  gpx show FICHIER [--from I] [--count K]   valeurs de l'enveloppe d'un son ou d'un .gpx\n"
       "  gpx png FICHIER SORTIE.png [--width W] [--height H]   dessine la vue globale\n",
       EditorCommand},
      {"edit", FirstWord, {"--rate"}, {"--replace", "--smooth"},
       "  edit CODE [--station N] SCRIPT  actions de l'éditeur de pointeurs (fichier ou \"a; b\"):\n"
       "       select DE A (ms), menu fadein|intro|startnext|fadeout|hook|loop|send|startequi,\n"
       "       pitch %, level DB, endtype 0-3, click|restore|clear COL, device N, auto, store,\n"
       "       copy, cut, paste [begin|end|at MS], trim, undo, delete (le son, trame par trame),\n"
       "       cut --smooth, paste ... --smooth (jonctions lissées: fondu de 10 ms réencodé; --smooth\n"
       "       avant le script: toutes les coupes et tous les collages du script),\n"
       "       saveas FICHIER [--replace] (copie du son au format de l'extension),\n"
       "       listen play|playin|playout|playfadein|playfadeout|playfrom [DE A], listen list DE A ...,\n"
       "       listen mix start|end CODE (l'enchaînement avec un autre morceau)\n"
       "       (écoute sur la sortie virtuelle: plage, fondus, niveau, vitesse, durée entendue),\n"
       "       rolls PRE POST (pré-roll et post-roll de l'écoute, secondes),\n"
       "       local take|give [keep] [force]|compare|options [CLÉ 0|1] (copie locale du son;\n"
       "       --rate OCTETS: débit de lecture limité, une copie longue affiche son avancement),\n"
       "       step add|replace N|delete N|cut [--smooth] (steps de la sélection; cut les coupe tous du son),\n"
       "       step play N|without [--smooth] (écoute d'un step, ou du son sans ses steps, sur la sortie\n"
       "       virtuelle; --smooth: jonctions lissées comme la coupe des steps les ferait)\n",
       EditorCommand},
      {"import", FirstWord, {"--house"}, {"--all", "--append", "--markers", "--tags", "--no-udp"},
       "  import CODE FICHIER [--station N] [--house copy|convert]   donne un nouveau son au morceau\n"
       "       (converti au format maison s'il n'y est pas; durées et enveloppe refaites)\n"
       "  import CODE FICHIER --append    ajoute le fichier (converti) à la fin du son du morceau\n"
       "  import CODE FICHIER --markers   reprend les marqueurs d'un WAV (cart) comme pointeurs\n"
       "  import CODE FICHIER --tags      reprend le titre et l'artiste du fichier dans la fiche du morceau\n"
       "  import --all DOSSIER            importe chaque fichier nommé par un code (0001234.mp3)\n"
       "  import ... --no-udp             sans notification UDP du changement (colonne \"Send UDP\" à N)\n",
       ConvertCommand},
      {"export", FirstWord, {"--format", "--name"}, {},
       "  export CODE DOSSIER [--format mp3-256|mp3-128|mp2|wave] [--name artiste-titre|titre-artiste|titre]\n",
       ConvertCommand},
      {"save-as", FirstWord, {}, {"--replace"},
       "  save-as CODE FICHIER [--replace]   copie du son au format de l'extension\n"
       "       (.mp2, .mp3, .wav, .wave, .ogg; --replace remplace un fichier existant)\n",
       ConvertCommand},
      {"reconvert", FirstWord, {}, {},
       "  reconvert CODE [--interactive]  reconvertit le son du morceau (effets du réglage audio)\n",
       ConvertCommand},
      {"notify", FirstWordOfTwo, {}, {},
       "  notify send CODE [--station N]  met en attente la notification UDP d'un morceau changé\n"
       "  notify pending                  notifications en attente (heure d'envoi et code)\n"
       "  notify run                      envoie les notifications à leur heure, jusqu'à la dernière\n",
       NotifyCommand},
      {"setup", FirstWordOfTwo, {}, {},
       "  setup show                      adresses réseau des notifications (section UDP), réglage audio\n"
       "                                  (natures, périphériques, formats, niveaux, numérique, effets, prises)\n"
       "  setup set UDP CLÉ VALEUR        change une adresse ou un port (IP_00, PortA_00 … PortD_07)\n"
       "  setup set SECTION CLÉ VALEUR    change un réglage audio (LevelOut_00 Analog -12, Formats Out 010000…)\n"
       "  setup init-sound                son d'initialisation des pipes (Vexa_Init.s48), créé s'il manque\n",
       SetupCommand},
      {"record", FirstWord, {"--device", "--start", "--stop", "--preroll", "--tail", "--speed"}, {"--append", "--board"},
       "  record CODE [--device NOM|virtual:ENTRÉE.wav] [--start now|level:-50dB:200ms]\n"
       "       [--stop silence:-50dB:2000ms|after:MS] [--append] [--preroll MS] [--tail MS]\n"
       "                                  enregistre une prise et la donne au morceau\n"
       "  record CODE --board [--device virtual:ENTRÉE.wav]\n"
       "                                  la prise par l'entrée de la carte (réglages Recorder_PCXTools_…)\n",
       RecordCommand},
      {"purge-temp", FirstWord, {}, {},
       "  purge-temp [--station N]        supprime les sons temporaires de plus de 10 jours\n",
       ConvertCommand},
      {"purge-takes", FirstWord, {}, {},
       "  purge-takes                     supprime les prises de plus de 45 jours (dossier des prises)\n",
       ConvertCommand},
      {"loudness", FirstWord, {}, {"--measure"},
       "  loudness CODE|FICHIER [--station N] [--measure]   sonie intégrée, plage, crête et crête vraie\n"
       "       (mesurées et enregistrées à côté de l'enveloppe quand elles manquent; --measure: les refait)\n",
       LevelsCommand},
      {"normalise", FirstWord, {"--category"}, {"--apply", "--apply-target", "--mass", "--lufs", "--peak"},
       "  normalise CODE [--station N] [--apply | --apply-target]   propositions de correction de niveau\n"
       "       (--apply: celle des mesures, --apply-target: la cible de la station, dans le pointeur Level)\n"
       "  normalise target [LUFS DBTP]    cible de sonie de la station et plafond de crête vraie (-23 -1)\n"
       "  normalise --mass CODE…          réécrit les sons par le convertisseur (effets du réglage audio)\n"
       "  normalise --category CATÉGORIE [--station N] [--lufs|--peak]\n"
       "                                  tous les morceaux d'une catégorie (code ou libellé); --lufs ou\n"
       "                                  --peak: la normalisation en sonie ou en crête pour cette fois\n",
       LevelsCommand},
  };
  return table;
}

const CommandEntry* FindCommand(const Words& words) {
  if (words.empty()) return nullptr;
  const std::string twoWords = words.size() >= 2 ? words[0] + " " + words[1] : std::string();
  for (const CommandEntry& entry : CommandTable()) {
    const bool found = entry.match == CommandMatch::TwoWords     ? !twoWords.empty() && twoWords == entry.name
                       : entry.match == CommandMatch::FirstWord ? words[0] == entry.name
                                                                : words.size() >= 2 && words[0] == entry.name;
    if (found) return &entry;
  }
  return nullptr;
}

std::string UsageText() {
  std::string text = "usage: sonoteka-cli COMMAND [--home DIR] [--interactive] [ARGS…]\n";
  for (const CommandEntry& entry : CommandTable()) text += entry.help;
  return text;
}

}  // namespace sono::cli
