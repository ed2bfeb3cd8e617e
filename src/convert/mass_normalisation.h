// Mass normalisation (`NormalisationEnMasse`, `NormalisationEnMasse_01_Action`):
// the sounds of a list of songs rewritten through the converter with the
// trim and volume-normalisation effects of the audio set-up.
//
// The old program renamed the sound to ".mp2" and converted it back into
// its name: a crash between the two left the song without its sound. Here
// the sound is never moved away: the converter writes "<sound>.part<pid>"
// beside it, the driver checks it is a whole house-format stream and renames
// it over the sound in one step (`ConverterDriver::ConvertSon`). A kill at
// any moment leaves the old sound or the new one, whole. Then the song's
// level pointer is deleted on every station (one transaction: the old
// correction was for the old level) and the envelope and level
// measurements are rebuilt from the new sound. A kill after the rename
// leaves an envelope and measurements older than the sound, which are
// rebuilt or ignored when next read (their date and size do not fit).
//
// Just before the rename, a journal "<stem>.Normalisation" beside the sound
// records the size and content hash of the converted file. The next run of a
// sound whose journal describes it as it is on disk knows that the
// conversion was done by a run killed after the rename: it does not encode
// the sound again, only deletes the level pointer and rebuilds the envelope
// and measurements. A journal that does not describe the sound (a kill
// before the rename) is dropped. The journal goes once those steps are done.
//
// In loudness mode, a house-format sound with no other effect to apply is not
// re-encoded at all: the gain goes into its frames' scale factors in whole
// 2.007 dB steps and the rest becomes its Level correction
// (scale_factor_normalisation.h); a sound whose frames cannot take the gain
// goes through the converter as above.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "convert/convert_driver.h"
#include "data/library.h"
#include "editor/envelope.h"
#include "editor/level_measurements.h"

namespace sono::convert {

// The question of the list's menu entry (`Mnu17Normaliser_Click`).
inline constexpr const char* kMassNormalisationQuestion = "Voulez-vous normaliser les sons de la liste ?";
inline constexpr const char* kMassNormalisationDone = "Normalisation terminée.";

struct MassNormalisationPorts {
  ConverterPorts converter;
  ConverterDriver& driver;
  data::Library& lib;
  editor::EnvelopeReader& envelopes;
};

struct NormalisedSound {
  std::string code;   // as given (UTF-8)
  std::string sound;  // the song's sound file
  bool ok = false;
  std::string message;  // French: why not
  std::optional<editor::LevelMeasurements> before, after;
  // Loudness mode: the sound stopped under the target, at the true-peak ceiling.
  bool heldByCeiling = false;
  // The gain went into the frames' scale factors (no re-encoding) and the
  // rest, in dB, into the song's Level correction on every station.
  bool withoutReencoding = false;
  double levelCorrectionDb = 0;
  // The sound was already the converted one, left by a run killed after its
  // rename: only the steps after the conversion were done.
  bool finishedEarlier = false;
};

// The journal of the conversion of `sound` ("<folder>/<stem>.Normalisation").
std::string NormalisationJournalPath(const std::string& sound);

// One sound: false (said in `out.message`, logged) when the sound is missing
// or the conversion failed; the sound is then as it was.
bool NormalisationEnMasse_01_Action(MassNormalisationPorts ports, int index, int station, const std::string& code,
                                    NormalisedSound& out);

// The songs of one category on a station, for a whole-category run: the
// category named by its code or its label (case aside), its songs' codes
// (UTF-8, trimmed) in code order. `found` false: no such category. `code`
// is as the records hold it (Windows-1252), `label` in UTF-8.
struct CategorySongs {
  bool found = false;
  std::string code, label;
  std::vector<std::string> codes;
  int status = 0;  // the record manager's status when the walk stopped short of the end
};
CategorySongs SongsOfCategory(data::Library& lib, int station, const std::string& category);

// A whole category's run, as the command line and the desktop prepare it:
// the songs with a sound on the station (normalised), those without (left out).
struct CategoryRun {
  CategorySongs songs;
  std::vector<std::string> withSound, withoutSound;  // codes in UTF-8
};
CategoryRun PrepareCategoryRun(data::Library& lib, int station, const std::string& category);

// The desktop's question before a category's run.
std::string CategoryQuestion(const CategoryRun& run);

// The categories the desktop offers for a run: "CODE - Label" each, with the
// code to give PrepareCategoryRun, in the station's order (by label).
struct CategoryChoice {
  std::string code, text;  // UTF-8
};
std::vector<CategoryChoice> CategoryChoices(data::Library& lib, int station);
inline constexpr const char* kCategoryChoiceTitle = "Normaliser les sons d'une catégorie";
inline constexpr const char* kNoCategory = "Aucune catégorie sur cette station.";

struct MassNormalisationResult {
  std::vector<NormalisedSound> sounds;
  int normalised = 0, failed = 0;
  bool stopped = false;  // the progress callback asked to stop
};

// Every song of the list in turn (a failure goes on with the next). After
// each, `progress(done, total, sound)` is told; returning false stops
// before the next. "Normalisation terminée." is shown when `showEnd`.
MassNormalisationResult NormalisationEnMasse(
    MassNormalisationPorts ports, int station, const std::vector<std::string>& codes,
    const std::function<bool(int done, int total, const NormalisedSound& sound)>& progress, bool showEnd);

}  // namespace sono::convert
