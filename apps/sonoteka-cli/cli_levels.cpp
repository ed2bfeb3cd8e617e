#include "cli_levels.h"

#include <cstdio>

#include "cli_session.h"
#include "core/files.h"
#include "core/text.h"
#include "data/songs.h"
#include "editor/loudness_meter.h"

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

}  // namespace

int LevelsCommand(const Options& options, const std::vector<std::string>& words) {
  if (words[0] == "loudness") {
    if (words.size() != 2) return Usage("loudness CODE|FICHIER [--measure]");
    return Loudness(options, words[1]);
  }
  return Usage("commande inconnue: " + words[0]);
}

}  // namespace sono::cli
