#include "cli_levels.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "cli_session.h"
#include "convert/mass_normalisation.h"
#include "core/config.h"
#include "core/files.h"
#include "core/text.h"
#include "data/songs.h"
#include "data/ptx.h"
#include "editor/duration_meter.h"
#include "editor/loudness_meter.h"
#include "editor/normalisation.h"

namespace sono::cli {

namespace {

using editor::FormatLevel;
using editor::LevelMeasurements;

void PrintLevels(const std::string& sound, const LevelMeasurements& l, bool measuredNow) {
  std::printf("Fichier son  : %s\n", sound.c_str());
  std::printf("Mesures      : %s (%s)\n", editor::LevelPathFor(sound).c_str(),
              measuredNow ? "mesurées maintenant" : "enregistrées");
  std::printf("Intégré      : %s\n", FormatLevel(l.integratedLufs, "LUFS").c_str());
  std::printf("Plage        : %s\n", FormatLevel(l.rangeLu, "LU").c_str());
  std::printf("Crête        : %s\n", FormatLevel(l.samplePeakDbfs, "dBFS").c_str());
  std::printf("Crête vraie  : %s\n", FormatLevel(l.truePeakDbtp, "dBTP").c_str());
}

// The stored measurements when they fit the sound (and --measure is not
// given), else a new measurement, stored; what was stored is read back.
int ShowLevels(const std::string& sound, bool force, TraceLogger& log) {
  if (!File_Exist(sound)) return Fail("Fichier son non trouvé: " + sound);
  if (!force) {
    if (const auto stored = editor::ReadLevelFile(sound)) {
      PrintLevels(sound, *stored, false);
      return 0;
    }
  }
  const editor::LevelMeasureResult r = editor::MeasureAndStoreLevels(sound, log, "sonoteka-cli:loudness");
  log.Flush();
  if (!r.ok) return Fail(r.error);
  std::string why;
  const auto stored = editor::ReadLevelFile(sound, &why);
  if (!stored) return Fail("Mesures non relues: " + editor::LevelPathFor(sound) + " (" + why + ")");
  PrintLevels(sound, *stored, true);
  return 0;
}

int Loudness(const Options& options, const std::string& target) {
  const bool force = options.value("measure") == "1";
  // An existing file is a sound; anything else names a song.
  if (File_Exist(target)) {
    Session session(options);
    return ShowLevels(target, force, session.app.log());
  }
  if (const std::string refusal = data::CheckSongCode(target); !refusal.empty())
    return Fail("Ni fichier ni code de morceau: " + target);
  LibrarySession s(options);
  if (!s.open(options.station)) return 1;
  const std::string code = Calibre(Utf8ToCp1252(target), 8);
  if (!data::LectureFicheMorceau(s.lib, options.station, code)) return Fail("Morceau non trouvé: " + target);
  return ShowLevels(data::SoundFilePath(s.lib, options.station, code), force, s.session.app.log());
}

// The song's sound's measurements, stored or measured now; nothing (said) when none.
std::optional<LevelMeasurements> SongLevels(const std::string& sound, TraceLogger& log) {
  if (const auto stored = editor::ReadLevelFile(sound)) return stored;
  const editor::LevelMeasureResult r = editor::MeasureAndStoreLevels(sound, log, "sonoteka-cli:normalise");
  if (!r.ok && !r.levels.anyMeasured()) {
    Fail(r.error);
    return std::nullopt;
  }
  if (!r.ok) std::fprintf(stderr, "%s\n", r.error.c_str());
  return r.levels;
}

// normalise CODE [--apply | --apply-target]: the editor's two proposals;
// --apply writes the suite's into the song's level pointer, --apply-target
// the station target's, through the same rules as "ptx set".
int Normalise(const Options& options, const std::string& codeText) {
  const bool apply = options.value("apply") == "1", applyTarget = options.value("apply-target") == "1";
  if (apply && applyTarget) return Usage("normalise: --apply ou --apply-target, pas les deux");
  if (const std::string refusal = data::CheckSongCode(codeText); !refusal.empty()) return Usage(refusal);
  std::optional<int> chosen;
  {
    LibrarySession s(options);
    if (!s.open(options.station)) return 1;
    const std::string code = Calibre(Utf8ToCp1252(codeText), 8);
    if (!data::LectureFicheMorceau(s.lib, options.station, code)) return Fail("Morceau non trouvé: " + codeText);
    const std::string sound = data::SoundFilePath(s.lib, options.station, code);
    if (!File_Exist(sound)) return Fail("Fichier son non trouvé: " + sound);
    const auto levels = SongLevels(sound, s.session.app.log());
    if (!levels) return 1;
    PrintLevels(sound, *levels, false);
    const editor::LoudnessTarget target = editor::LoadLoudnessTarget(s.session.app.config().settingsFile());
    const auto proposal = editor::SoundNormalizeCorrection(levels->peakValues());
    const auto toTarget = editor::TargetCorrection(*levels, target);
    if (proposal)
      std::printf("Proposition  : %s\n", editor::SliderLabel(editor::SliderForCorrection(*proposal)).c_str());
    else
      std::printf("Proposition  : aucune (pas de mesure de niveau du son)\n");
    if (toTarget)
      std::printf("Cible        : %s (%.1f LUFS, plafond %.1f dBTP%s)\n",
                  editor::SliderLabel(editor::SliderForCorrection(toTarget->correctionDb)).c_str(), target.targetLufs,
                  target.ceilingDbtp, toTarget->heldByCeiling ? ", limitée par le plafond" : "");
    else
      std::printf("Cible        : aucune (pas de sonie mesurée)\n");
    if (apply && !proposal) return Fail("Pas de proposition: aucune mesure de niveau du son.");
    if (applyTarget && !toTarget) return Fail("Pas de proposition pour la cible: pas de sonie mesurée.");
    if (apply) chosen = editor::SliderForCorrection(*proposal);
    if (applyTarget) chosen = editor::SliderForCorrection(toTarget->correctionDb);
  }  // the library is closed before the store opens it again
  if (!chosen) return 0;
  return LibraryCommand(options, {"ptx", "set", codeText, std::to_string(data::kLevel), std::to_string(*chosen)});
}

// normalise target [LUFS DBTP]: the station's loudness target, shown or set.
int StationTarget(const Options& options, const std::vector<std::string>& args) {
  if (args.size() != 0 && args.size() != 2) return Usage("normalise target [LUFS DBTP]");
  Session session(options);
  if (!session.loadSite()) return 1;
  const std::string settings = session.app.config().settingsFile();
  if (args.size() == 2) {
    char* end1 = nullptr;
    char* end2 = nullptr;
    const editor::LoudnessTarget wanted{std::strtod(args[0].c_str(), &end1), std::strtod(args[1].c_str(), &end2)};
    if (*end1 != '\0' || *end2 != '\0' || args[0].empty() || args[1].empty())
      return Usage("normalise target: LUFS et DBTP sont des nombres (-23 -1)");
    if (const std::string refusal = editor::CheckLoudnessTarget(wanted); !refusal.empty()) return Usage(refusal);
    std::string error;
    if (!editor::SaveLoudnessTarget(settings, wanted, error)) return Fail(error);
  }
  // What the settings hold now.
  const editor::LoudnessTarget held = editor::LoadLoudnessTarget(settings);
  std::printf("Cible de sonie: %.1f LUFS\nPlafond de crête vraie: %.1f dBTP\n", held.targetLufs, held.ceilingDbtp);
  return 0;
}

// normalise --mass CODE… and normalise --category X: each song's sound
// through the converter with the audio set-up's effects (the normalisation
// forced to `mode` when given), one after the other; progress on the error
// output. A category's songs without a sound are listed and left out.
int MassNormalise(const Options& options, std::vector<std::string> codes, const std::string& category,
                  std::optional<convert::NormaliseMode> mode) {
  for (const std::string& code : codes)
    if (const std::string refusal = data::CheckSongCode(code); !refusal.empty()) return Usage(refusal);
  LibrarySession s(options);
  if (!s.open(options.station)) return 1;
  int withoutSound = 0;
  if (!category.empty()) {
    const convert::CategoryRun run = convert::PrepareCategoryRun(s.lib, options.station, category);
    const convert::CategorySongs& songs = run.songs;
    if (!songs.found) return Fail("Catégorie inconnue: " + category);
    if (songs.status != 0)
      return Fail("Morceaux de la catégorie " + songs.code + " illisibles (statut " + std::to_string(songs.status) +
                  ", voir le journal)");
    std::printf("Catégorie %s (%s): %zu morceau(x)\n", Cp1252ToUtf8(songs.code).c_str(), songs.label.c_str(),
                songs.codes.size());
    for (const std::string& code : run.withoutSound) std::printf("%s: sans son, ignoré\n", code.c_str());
    codes = run.withSound;
    withoutSound = static_cast<int>(run.withoutSound.size());
    if (codes.empty()) {
      std::printf("Sons normalisés: 0, échecs: 0, sans son: %d\n", withoutSound);
      return 0;
    }
  }
  if (options.interactive &&
      s.session.prompt.message(convert::kMassNormalisationQuestion, Icon::Question, Buttons::YesNo) != Answer::Yes)
    return Fail("Normalisation annulée.");
  const SiteConfig& config = s.session.app.config();
  TraceLogger& log = s.session.app.log();
  const convert::ConverterPorts ports{log, s.session.clock, s.session.events, s.session.prompt};
  convert::ConverterDriver driver(ports, convert::FindConverterPath(config.registry(), MachineEnvironment("").exePath),
                                  convert::LoadEffectSettings(config.settingsFile(), mode));
  editor::MpegScanDurationMeter meter;
  editor::EnvelopeReader envelopes(log, meter, editor::LoadEnvelopeSettings(config));
  const auto result = convert::NormalisationEnMasse(
      {ports, driver, s.lib, envelopes}, options.station, codes,
      [](int done, int total, const convert::NormalisedSound& sound) {
        if (sound.ok && sound.after && sound.withoutReencoding)
          std::printf("%s: normalisé sans réencodage: %s, crête vraie %s, correction de niveau %+.2f dB%s\n",
                      sound.code.c_str(), FormatLevel(sound.after->integratedLufs, "LUFS").c_str(),
                      FormatLevel(sound.after->truePeakDbtp, "dBTP").c_str(), sound.levelCorrectionDb,
                      sound.heldByCeiling ? " (arrêté au plafond de crête vraie, sous la cible)" : "");
        else if (sound.ok && sound.after)
          std::printf("%s: normalisé: %s, crête vraie %s%s%s\n", sound.code.c_str(),
                      FormatLevel(sound.after->integratedLufs, "LUFS").c_str(),
                      FormatLevel(sound.after->truePeakDbtp, "dBTP").c_str(),
                      sound.heldByCeiling ? " (arrêté au plafond de crête vraie, sous la cible)" : "",
                      sound.finishedEarlier ? " (converti par une exécution interrompue, pas converti à nouveau)" : "");
        else if (sound.ok)
          std::printf("%s: normalisé (mesures non enregistrées)\n", sound.code.c_str());
        else
          std::printf("%s: échec: %s\n", sound.code.c_str(), sound.message.c_str());
        if (sound.ok && !sound.message.empty()) std::fprintf(stderr, "%s\n", sound.message.c_str());
        std::fprintf(stderr, "Normalisation: %d/%d\n", done, total);
        std::fflush(stdout);
        return true;
      },
      false);
  log.Flush();
  if (category.empty())
    std::printf("Sons normalisés: %d, échecs: %d\n", result.normalised, result.failed);
  else
    std::printf("Sons normalisés: %d, échecs: %d, sans son: %d\n", result.normalised, result.failed, withoutSound);
  bool partial = false;
  for (const auto& sound : result.sounds) partial = partial || (sound.ok && !sound.message.empty());
  return result.failed > 0 || partial ? 1 : 0;
}

}  // namespace

int LevelsCommand(const Options& options, const std::vector<std::string>& words) {
  if (words[0] == "loudness") {
    if (words.size() != 2) return Usage("loudness CODE|FICHIER [--measure]");
    return Loudness(options, words[1]);
  }
  if (words[0] == "normalise" && words.size() >= 2 && words[1] == "target")
    return StationTarget(options, std::vector<std::string>(words.begin() + 2, words.end()));
  std::optional<convert::NormaliseMode> mode;
  if (options.value("lufs") == "1") mode = convert::NormaliseMode::Loudness;
  if (options.value("peak") == "1") {
    if (mode) return Usage("normalise: --lufs ou --peak, pas les deux");
    mode = convert::NormaliseMode::Peak;
  }
  if (words[0] == "normalise" && !options.value("category").empty()) {
    if (words.size() != 1 || options.value("mass") == "1")
      return Usage("normalise --category CATÉGORIE [--station N] [--lufs|--peak]");
    return MassNormalise(options, {}, options.value("category"), mode);
  }
  if (words[0] == "normalise" && options.value("mass") == "1") {
    if (words.size() < 2) return Usage("normalise --mass CODE… [--lufs|--peak]");
    return MassNormalise(options, std::vector<std::string>(words.begin() + 1, words.end()), "", mode);
  }
  if (mode) return Usage("--lufs et --peak vont avec --mass ou --category");
  if (words[0] == "normalise") {
    if (words.size() != 2) return Usage("normalise CODE [--station N] [--apply | --apply-target]");
    return Normalise(options, words[1]);
  }
  return Usage("commande inconnue: " + words[0]);
}

}  // namespace sono::cli
